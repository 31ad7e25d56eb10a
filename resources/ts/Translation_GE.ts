<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>Brellon KD-VX350 Software</source>
        <translation>Brellon KD-VX350 Software</translation>
    </message>
    <message>
        <source>File(&amp;F)</source>
        <translation>Datei(&amp;D)</translation>
    </message>
    <message>
        <source>Exit(&amp;Q)</source>
        <translation>Beenden(&amp;B)</translation>
    </message>
    <message>
        <source>Options(&amp;O)</source>
        <translation>Einstellungen(&amp;E)</translation>
    </message>
    <message>
        <source>Language(&amp;L)</source>
        <translation>Sprache(&amp;S)</translation>
    </message>
    <message>
        <source>Deutsch</source>
        <translation>Deutsch</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Help(&amp;H)</source>
        <translation>Hilfe(&amp;H)</translation>
    </message>
    <message>
        <source>About(&amp;A)</source>
        <translation>Über(&amp;Ü)</translation>
    </message>
    <message>
        <source>Device List: 0</source>
        <translation>Geräteliste: 0</translation>
    </message>
    <message>
        <source>Device List: %1</source>
        <translation>Geräteliste: %1</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>Modell:</translation>
    </message>
    <message>
        <source>Time:</source>
        <translation>Zeit:</translation>
    </message>
    <message>
        <source>0Days 00:00:00</source>
        <translation>0Tage 00:00:00</translation>
    </message>
    <message>
        <source>%1Days </source>
        <translation>%1Tage </translation>
    </message>
</context>
<context>
    <name>AboutDialog</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Update LOG</source>
        <translation>Update-Hinweise</translation>
    </message>
    <message>
        <source>  The first version.</source>
        <translation>  Die erste Version.</translation>
    </message>
</context>
<context>
    <name>LMInputDialog</name>
    <message>
        <source>Sound switch</source>
        <translation>Ton</translation>
    </message>
    <message>
        <source>TIME:</source>
        <translation>Dauer:</translation>
    </message>
    <message>
        <source>HUAWEI FCP</source>
        <translation>Huawei FCP</translation>
    </message>
    <message>
        <source>HUAWEI SCP</source>
        <translation>Huawei SCP</translation>
    </message>
    <message>
        <source>SAMSUNG AFC</source>
        <translation>Samsung AFC</translation>
    </message>
</context>
<context>
    <name>UsbWindow</name>
    <message>
        <source>  Base  </source>
        <translation> Start </translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source> System </source>
        <translation> System </translation>
    </message>
    <message>
        <source>Parameter display</source>
        <translation>Parameter-Übersicht</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Last</translation>
    </message>
    <message>
        <source>Temperature</source>
        <translation>Temperatur</translation>
    </message>
    <message>
        <source>℃</source>
        <translation>℃</translation>
    </message>
    <message>
        <source>1C</source>
        <translation>℃</translation>
    </message>
    <message>
        <source>1F</source>
        <translation>℉</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>VBUS ALARM: 24.00V</source>
        <translation>V-BUS Alarm: 24.00V</translation>
    </message>
    <message>
        <source>IBUS ALARM: 7.00A</source>
        <translation>I-BUS Alarm: 7.00A</translation>
    </message>
    <message>
        <source>PBUS ALARM: 168.00W</source>
        <translation>P-BUS Alarm: 168W</translation>
    </message>
    <message>
        <source>VBUS ALARM</source>
        <translation>V-BUS Alarm</translation>
    </message>
    <message>
        <source>IBUS ALARM</source>
        <translation>I-BUS Alarm</translation>
    </message>
    <message>
        <source>PBUS ALARM</source>
        <translation>P-BUS Alarm</translation>
    </message>
    <message>
        <source>Set alarm value</source>
        <translation>Setze Alarm-Wert</translation>
    </message>
    <message>
        <source>  When VBUS is greater than the following value, an alarm will occur.</source>
        <translation>Wenn V-BUS den Wert überschreitet ertönt ein Alarm.</translation>
    </message>
    <message>
        <source>  When IBUS is greater than the following value, an alarm will occur.</source>
        <translation>Wenn I-BUS den Wert überschreitet ertönt ein Alarm.</translation>
    </message>
    <message>
        <source>  When PBUS is greater than the following value, an alarm will occur.</source>
        <translation>Wenn P-BUS den Wert überschreitet ertönt ein Alarm.</translation>
    </message>
    <message>
        <source>Unit:(V)</source>
        <translation>Einheit:(V)</translation>
    </message>
    <message>
        <source>Unit:(A)</source>
        <translation>Einheit:(A)</translation>
    </message>
    <message>
        <source>Unit:(W)</source>
        <translation>Einheit:(W)</translation>
    </message>
</context>
<context>
    <name>LMMultiCurvesPlot</name>
    <message>
        <source>%h:%m:%s.%z
%dDays</source>
        <translation>%h:%m:%s.%z
%dTage</translation>
    </message>
</context>
<context>
    <name>UsbGen</name>
    <message>
        <source>%h:%m:%s.%z
%dDay</source>
        <translation>%h:%m:%s.%z
%dTage</translation>
    </message>
    <message>
        <source>Accumulated</source>
        <translation>Kumulativ-Wert</translation>
    </message>
    <message>
        <source>Auxiliary record</source>
        <translation>Hilfsdatensatz</translation>
    </message>
    <message>
        <source>Choose file</source>
        <translation>Datei auswählen</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>Control:</source>
        <translation>Steuerung:</translation>
    </message>
    <message>
        <source>Create</source>
        <translation>Erstellen</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>Error file.</source>
        <translation>Fehlerhafte Datei.</translation>
    </message>
    <message>
        <source>Extremum</source>
        <translation>Extremwert</translation>
    </message>
    <message>
        <source>Failed to import curves.</source>
        <translation>Konnte Offline-Kurve nicht importieren.</translation>
    </message>
    <message>
        <source>Failed to save the file.</source>
        <translation>Datei konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>File operations</source>
        <translation>Datei-Operation</translation>
    </message>
    <message>
        <source>Idle</source>
        <translation>Leerstand</translation>
    </message>
    <message>
        <source>Image Processing</source>
        <translation>Bildverarbeitung</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>Importieren</translation>
    </message>
    <message>
        <source>Item</source>
        <translation>Projekt</translation>
    </message>
    <message>
        <source>Main record</source>
        <translation>Stammsatzposition</translation>
    </message>
    <message>
        <source>No data recorded in the device.</source>
        <translation>Keine Daten auf diesem Gerät aufgenommen.</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>An</translation>
    </message>
    <message>
        <source>Open file</source>
        <translation>Datei öffnen</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Please open at least one record.</source>
        <translation>Bitte mindests eine Aufnahme öffnen.</translation>
    </message>
    <message>
        <source>Please pause.</source>
        <translation>Bitte zuerst anhalten.</translation>
    </message>
    <message>
        <source>Please switch to application mode.</source>
        <translation>Bitte in Anwendungs-Modus wechseln.</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnahme</translation>
    </message>
    <message>
        <source>Recording conditions</source>
        <translation>Aufnahme-Einstellungen</translation>
    </message>
    <message>
        <source>Recording...</source>
        <translation>Aufnehmen...</translation>
    </message>
    <message>
        <source>Sampling Rate:</source>
        <translation>Abtastrate:</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Start CUR(mA):</source>
        <translation>Startstrom(maA):</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Zustand:</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Stop CUR(mA):</source>
        <translation>Strom anhalten(mA):</translation>
    </message>
    <message>
        <source>Stop time(s):</source>
        <translation>Stoppzeit(s):</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Wait for start condition</source>
        <translation>Warte auf Auslöse-Bedingung</translation>
    </message>
    <message>
        <source>Will be overwritten, continue?</source>
        <translation>Vorhandene Grafik wird überschrieben. Fortsetzen?</translation>
    </message>
    <message>
        <source>Zoom freely</source>
        <translation>Freier Zoom</translation>
    </message>
</context>
<context>
    <name>UsbProcotol</name>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Pläne löschen</translation>
    </message>
    <message>
        <source>Clear text</source>
        <translation>Texte löschen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Error file.</source>
        <translation>Fehlerhafte Datei.</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <source>HUAWEI FCP</source>
        <translation>HUAWEI FCP</translation>
    </message>
    <message>
        <source>HUAWEI SCP</source>
        <translation>HUAWEI SCP</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>Importieren</translation>
    </message>
    <message>
        <source>Move down</source>
        <translation>Runter bewegen</translation>
    </message>
    <message>
        <source>Move up</source>
        <translation>Hoch bewegen</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Pause smart trigger.</source>
        <translation>Smart-Trigger pausieren.</translation>
    </message>
    <message>
        <source>Please switch to application mode.</source>
        <translation>Bitte in Anwendungsmodus wechseln.</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Protocol：</source>
        <translation>Protokoll:</translation>
    </message>
    <message>
        <source>QC2.0</source>
        <translation>QC2.0</translation>
    </message>
    <message>
        <source>QC3.0</source>
        <translation>QC3.0</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Befreit</translation>
    </message>
    <message>
        <source>Release trigger.</source>
        <translation>Trigger lösen.</translation>
    </message>
    <message>
        <source>SAMSUNG AFC</source>
        <translation>SAMSUNG AFC</translation>
    </message>
    <message>
        <source>Single trigger</source>
        <translation>Einzelaufnahme</translation>
    </message>
    <message>
        <source>Single trigger: The protocol is %1, the voltage is %2.</source>
        <translation>Single-Shot: Protokoll ist %1, Spannung ist %2.</translation>
    </message>
    <message>
        <source>Smart trigger</source>
        <translation>Smarter Auslöser</translation>
    </message>
    <message>
        <source>Smart trigger: Perform step %1, protocol is %2, voltage is %3V, duration is %4ms.</source>
        <translation>Smart Trigger: Auslöseschritt %1, Protokoll ist %2, Spannung ist %3V, Dauer ist %4ms.</translation>
    </message>
    <message>
        <source>Smart trigger: The duration of step %1 is 0s, skip this step.</source>
        <translation>Smart Trigger: Schritt %1 benötigt 0s, Überspringe Schritt.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Start smart trigger.</source>
        <translation>Smart-Trigger starten.</translation>
    </message>
    <message>
        <source>Step</source>
        <translation>Schritt</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Stop smart trigger.</source>
        <translation>Smart-Trigger beenden.</translation>
    </message>
    <message>
        <source>Time(ms)</source>
        <translation>Dauer (ms)</translation>
    </message>
    <message>
        <source>Trigger</source>
        <translation>Trigger</translation>
    </message>
    <message>
        <source>Trigger failed.</source>
        <translation>Trigger fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Triggered successfully.</source>
        <translation>Trigger erfolgreich.</translation>
    </message>
    <message>
        <source>Try to trigger again.</source>
        <translation>Trigger erneut verwenden.</translation>
    </message>
    <message>
        <source>Voltage(V)</source>
        <translation>Spannung (V)</translation>
    </message>
    <message>
        <source>Voltage：</source>
        <translation>Spannung:</translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>No plan.</source>
        <translation>Kein Plan.</translation>
    </message>
    <message>
        <source>Failed to save the file.</source>
        <translation>Datei konnte nicht gespeichert werden.</translation>
    </message>
</context>
<context>
    <name>usbSystem</name>
    <message>
        <source>Application</source>
        <translation>Anwendung</translation>
    </message>
    <message>
        <source>Application version:</source>
        <translation>App-Version:</translation>
    </message>
    <message>
        <source>Bootloader</source>
        <translation>Bootloader</translation>
    </message>
    <message>
        <source>Bootloader version:</source>
        <translation>Bootstrap-Version:</translation>
    </message>
    <message>
        <source>Firmware name error.</source>
        <translation>Falscher Firmware-Name.</translation>
    </message>
    <message>
        <source>Firmware name: %1</source>
        <translation>Firmware-Name: %1</translation>
    </message>
    <message>
        <source>Firmware size: %1 KB</source>
        <translation>Firmware-Größe: %1 KB</translation>
    </message>
    <message>
        <source>Invalid firmware file.</source>
        <translation>Ungültige Firmware-Datei.</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>Modell:</translation>
    </message>
    <message>
        <source>Open file</source>
        <translation>Datei öffnen</translation>
    </message>
    <message>
        <source>Operating mode:</source>
        <translation>Betriebsmodus:</translation>
    </message>
    <message>
        <source>Please choose a firmware.</source>
        <translation>Bitte Firmware auswählen.</translation>
    </message>
    <message>
        <source>Please switch to bootloader mode.</source>
        <translation>Bitte in Boot-Modus wechseln.</translation>
    </message>
    <message>
        <source>Serial Number(SN):</source>
        <translation>Seriennummer(SN):</translation>
    </message>
    <message>
        <source>Start upgrade.</source>
        <translation>Starte Aktualisierung.</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>Update completed,Elapsed time %1s.</source>
        <translation>Update vollständig! Es dauerte %1s.</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Hochladen</translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>Warnung</translation>
    </message>
</context>
</TS>
