// The application shell: language at start-up and at run time, the device tree
// with names kept in ./Setting.ini, dock windows per meter, the About box, the
// dock's floating behaviour, the udev watcher and rule, and one end-to-end run
// against two simulated meters streaming live data.

#include "aboutdialog.h"
#include "com_layer.h"
#include "hidhotplug.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "lmdockwidget.h"
#include "mainwindow.h"
#include "modalresponder.h"
#include "usbevent.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

const QString settingsPath = QStringLiteral("./Setting.ini");

hidsim::MeterConfig meter(const QString& serial, quint32 sn, quint16 model = 0x0100, quint16 pid = 0x7351)
{
    hidsim::MeterConfig config;
    config.id.vid = 0x1209;
    config.id.pid = pid;
    config.id.serial = serial;
    config.identity.sn = sn;
    config.identity.model = model;
    return config;
}

void writeLanguage(const QVariant& value)
{
    QSettings settings(settingsPath, QSettings::IniFormat);
    settings.setValue(QStringLiteral("ActLanguage"), value);
}

QVariant setting(const QString& key)
{
    return QSettings(settingsPath, QSettings::IniFormat).value(key);
}

bool hasSetting(const QString& key)
{
    return QSettings(settingsPath, QSettings::IniFormat).contains(key);
}

} // namespace

// Receives what QDesktopServices would open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class tst_App : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void languageAtStart_data();
    void languageAtStart();
    void germanStartRows();
    void styleSheetOnWindow();
    void defaultNameAndKey();
    void renameAndReconnect();
    void emptyNameIsKept();
    void column1IsCleared();
    void silentMeterStaysUnknown();
    void connectTimeText_data();
    void connectTimeText();
    void removeMiddleMeter();
    void removeTwoMetersAtOnce();
    void removeWhileDialogOpen();
    void languageSwitch();
    void aboutBox();
    void dockFloating();
    void hotplugActions_data();
    void hotplugActions();
    void hotplugDrivesWindow();
    void udevRuleListsKnownMeters();
    void endToEnd();
    void unusableSettingsFile();

private:
    MainWindow* makeWindow();
    QTreeWidget* tree() const { return window->centralWidget()->findChild<QTreeWidget*>(QStringLiteral("treeWidget")); }
    QLabel* caption() const { return window->findChild<QLabel*>(QStringLiteral("labelDevList")); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    QList<LMDockWidget*> docks() const { return window->findChildren<LMDockWidget*>(); }
    // Text of a top-level row (child -1) or of one of its children; "<none>" when missing.
    QString cell(int row, int child, int column) const;
    QString dockLabel(int dock, const char* name) const;
    void pressRemoval(const hidsim::MeterId& id);

    QTemporaryDir dir;
    QPointer<MainWindow> window;
};

void tst_App::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
}

void tst_App::init()
{
    QFile::remove(settingsPath);
    QDir(dir.path()).rmdir(QStringLiteral("Setting.ini"));
    hidsim::reset();
}

void tst_App::cleanup()
{
    // No step of the shell shows a message box.
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget* w : tops)
        QVERIFY2(!(qobject_cast<QMessageBox*>(w) && w->isVisible()), qPrintable(w->windowTitle()));
    delete window;
    hidsim::reset();
    UsbEvent::resetInstance();
}

MainWindow* tst_App::makeWindow()
{
    window = new MainWindow();
    return window;
}

QString tst_App::cell(int row, int child, int column) const
{
    QTreeWidgetItem* item = tree()->topLevelItem(row);
    if (item && child >= 0)
        item = item->child(child);
    return item ? item->text(column) : QStringLiteral("<none>");
}

QString tst_App::dockLabel(int dock, const char* name) const
{
    const QList<LMDockWidget*> all = docks();
    if (dock >= all.size())
        return QStringLiteral("<none>");
    auto* label = all.at(dock)->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<none>");
}

void tst_App::pressRemoval(const hidsim::MeterId& id)
{
    QVERIFY(hidsim::unplug(id));
    emit window->hidDevRemoved();
}

// ---------------------------------------------------------------- language

void tst_App::languageAtStart_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no settings file
    QTest::addColumn<bool>("germanChecked");
    QTest::addColumn<bool>("englishChecked");
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("expectedCaption");

    const QString de = QStringLiteral("Geräteliste: 0");
    const QString en = QStringLiteral("Device List: 0");
    QTest::newRow("no file") << QByteArray() << true << false << 0 << de;
    QTest::newRow("1") << QByteArray("ActLanguage=1\n") << false << true << 1 << en;
    QTest::newRow("0") << QByteArray("ActLanguage=0\n") << true << false << 0 << de;
    QTest::newRow("non-numeric") << QByteArray("ActLanguage=english\n") << true << false << 0 << de;
    QTest::newRow("empty value") << QByteArray("ActLanguage=\n") << true << false << 0 << de;
    QTest::newRow("7") << QByteArray("ActLanguage=7\n") << false << false << 0 << de;
    QTest::newRow("-1") << QByteArray("ActLanguage=-1\n") << false << false << 0 << de;
    QTest::newRow("other keys") << QByteArray("ActLanguage=1\nKD-VX350123=Bench\nLastCurvesFilePath=/tmp/a.cqz\n")
                                << false << true << 1 << en;
}

void tst_App::languageAtStart()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, germanChecked);
    QFETCH(bool, englishChecked);
    QFETCH(int, written);
    QFETCH(QString, expectedCaption);

    if (!file.isNull()) {
        QFile f(settingsPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\n" + file);
    }
    makeWindow();
    QCOMPARE(action("actGerman")->isChecked(), germanChecked);
    QCOMPARE(action("actEnglish")->isChecked(), englishChecked);
    QTRY_COMPARE(caption()->text(), expectedCaption);

    QFile f(settingsPath);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    QVERIFY2(content.contains("ActLanguage=" + QByteArray::number(written) + "\n"), content.constData());
    // Writing the language back keeps every other key.
    if (file.contains("KD-VX350123")) {
        QCOMPARE(setting(QStringLiteral("KD-VX350123")).toString(), QStringLiteral("Bench"));
        QCOMPARE(setting(QStringLiteral("LastCurvesFilePath")).toString(), QStringLiteral("/tmp/a.cqz"));
    }
}

void tst_App::germanStartRows()
{
    // No settings file: German. The catalogue is installed before the first scan,
    // its language-change event is only posted.
    hidsim::MeterConfig a = meter(QStringLiteral("A1"), 123);
    a.answersIdentity = false;
    hidsim::plug(a);
    makeWindow();
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Unbekannt"));
    QCOMPARE(cell(0, 0, 0), QStringLiteral("Model:"));
    QCOMPARE(cell(0, 0, 1), QStringLiteral("Unknown"));
    QCOMPARE(cell(0, 1, 0), QStringLiteral("SN:"));
    QCOMPARE(cell(0, 2, 0), QStringLiteral("Zeit:"));
    QCOMPARE(cell(0, 2, 1), QStringLiteral("0Tage 00:00:00"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Unbekannt-0"));
    QCOMPARE(caption()->text(), QStringLiteral("Geräteliste: 1"));

    // Once the event loop runs, the rows made during the constructor are re-translated.
    QTRY_COMPARE(cell(0, 0, 0), QStringLiteral("Modell:"));
    QCOMPARE(cell(0, 0, 1), QStringLiteral("Unbekannt"));
    QCOMPARE(cell(0, 1, 0), QStringLiteral("SN:"));
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Unbekannt"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Unbekannt-0"));
}

void tst_App::styleSheetOnWindow()
{
    writeLanguage(1);
    makeWindow();
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    const QString expected = QString::fromUtf8(qss.readAll());
    QVERIFY(!expected.isEmpty());
    QCOMPARE(window->styleSheet(), expected);
    // The window's own, so only widgets and dialogs under it are styled.
    QCOMPARE(qApp->styleSheet(), QString());
}

// ---------------------------------------------------------------- names

void tst_App::defaultNameAndKey()
{
    writeLanguage(1);
    hidsim::plug(meter(QStringLiteral("A1"), 123));
    makeWindow();

    // Before the identity arrives.
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Unknown"));
    QCOMPARE(cell(0, 0, 0), QStringLiteral("Model:"));
    QCOMPARE(cell(0, 0, 1), QStringLiteral("Unknown"));
    QCOMPARE(cell(0, 1, 0), QStringLiteral("SN:"));
    QCOMPARE(cell(0, 1, 1), QStringLiteral("0"));
    QCOMPARE(cell(0, 2, 0), QStringLiteral("Time:"));
    QCOMPARE(cell(0, 2, 1), QStringLiteral("0Days 00:00:00"));
    QCOMPARE(docks().size(), 1);
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Unknown-0"));
    QCOMPARE(caption()->text(), QStringLiteral("Device List: 1"));
    QVERIFY(tree()->topLevelItem(0)->flags() & Qt::ItemIsEditable);
    QVERIFY(!(tree()->topLevelItem(0)->child(0)->flags() & Qt::ItemIsEditable));
    QVERIFY(tree()->topLevelItem(0)->isExpanded());

    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-123"));
    QCOMPARE(cell(0, 0, 1), QStringLiteral("KD-VX350"));
    QCOMPARE(cell(0, 1, 1), QStringLiteral("123"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("KD-VX350-123"));
    QCOMPARE(setting(QStringLiteral("KD-VX350123")).toString(), QStringLiteral("KD-VX350-123"));
}

void tst_App::renameAndReconnect()
{
    writeLanguage(1);
    const hidsim::MeterConfig a = meter(QStringLiteral("A1"), 123);
    hidsim::plug(a);
    makeWindow();
    window->show();
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-123"));

    // Through the tree's own editor, as a user renames.
    tree()->editItem(tree()->topLevelItem(0), 0);
    auto* editor = tree()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("Charger bench"));
    QTest::keyClick(editor, Qt::Key_Return); // the view commits queued
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("Charger bench"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Charger bench"));
    QCOMPARE(setting(QStringLiteral("KD-VX350123")).toString(), QStringLiteral("Charger bench"));

    pressRemoval(a.id);
    QCOMPARE(tree()->topLevelItemCount(), 0);
    QTRY_COMPARE(docks().size(), 0);

    hidsim::plug(a);
    emit window->hidDevArrival();
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Unknown"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Unknown-0"));
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("Charger bench"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Charger bench"));
}

void tst_App::emptyNameIsKept()
{
    writeLanguage(1);
    const hidsim::MeterConfig a = meter(QStringLiteral("A1"), 123);
    hidsim::plug(a);
    makeWindow();
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-123"));

    tree()->topLevelItem(0)->setText(0, QString());
    QVERIFY(hasSetting(QStringLiteral("KD-VX350123")));
    QCOMPARE(setting(QStringLiteral("KD-VX350123")).toString(), QString());

    pressRemoval(a.id);
    hidsim::plug(a);
    emit window->hidDevArrival();
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Unknown"));
    // The key exists, so its empty value wins over the default name.
    QTRY_COMPARE(cell(0, -1, 0), QString());
    QCOMPARE(docks().at(0)->windowTitle(), QString());
    QCOMPARE(cell(0, 1, 1), QStringLiteral("123"));
}

void tst_App::column1IsCleared()
{
    writeLanguage(1);
    hidsim::plug(meter(QStringLiteral("A1"), 123));
    makeWindow();
    window->show();
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-123"));

    tree()->editItem(tree()->topLevelItem(0), 1);
    auto* editor = tree()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("typed"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!tree()->findChild<QLineEdit*>());
    QCOMPARE(cell(0, -1, 1), QString());
    QCOMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-123"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("KD-VX350-123"));
    QCOMPARE(setting(QStringLiteral("KD-VX350123")).toString(), QStringLiteral("KD-VX350-123"));

    // Children are not meter rows: nothing is stored for them.
    tree()->topLevelItem(0)->child(1)->setText(0, QStringLiteral("SN?"));
    QCOMPARE(cell(0, 1, 0), QStringLiteral("SN?"));
    QCOMPARE(setting(QStringLiteral("KD-VX350123")).toString(), QStringLiteral("KD-VX350-123"));
}

void tst_App::silentMeterStaysUnknown()
{
    writeLanguage(1);
    hidsim::MeterConfig a = meter(QStringLiteral("A1"), 123);
    a.answersIdentity = false;
    hidsim::plug(a);
    makeWindow();

    // Two seconds counted and at least two identity requests sent, none answered.
    QTRY_COMPARE(cell(0, 2, 1), QStringLiteral("0Days 00:00:02"));
    QTRY_VERIFY(hidsim::countWritten(a.id, 0x81) >= 2);
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Unknown"));
    QCOMPARE(cell(0, 0, 1), QStringLiteral("Unknown"));
    QCOMPARE(cell(0, 1, 1), QStringLiteral("0"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Unknown-0"));
    QTRY_COMPARE(dockLabel(0, "labelTemp"), QStringLiteral("25.0"));
    QCOMPARE(dockLabel(0, "labelVbus"), QStringLiteral("0.00000"));
    QVERIFY(!QFileInfo(settingsPath).exists() || !setting(QStringLiteral("Unknown0")).isValid());
}

// ---------------------------------------------------------------- connection time

void tst_App::connectTimeText_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<quint64>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("en 0") << 1 << quint64(0) << QStringLiteral("0Days 00:00:00");
    QTest::newRow("en 23:59:59") << 1 << quint64(86399) << QStringLiteral("0Days 23:59:59");
    QTest::newRow("en one day") << 1 << quint64(86400) << QStringLiteral("1Days 00:00:00");
    QTest::newRow("en 1d 1h 1m 1s") << 1 << quint64(90061) << QStringLiteral("1Days 01:01:01");
    QTest::newRow("en 400 days") << 1 << quint64(400 * 86400 + 3599) << QStringLiteral("400Days 00:59:59");
    QTest::newRow("en largest") << 1 << quint64(~quint64(0)) << QStringLiteral("213503982334601Days 07:00:15");
    QTest::newRow("de 1d 1h 1m 1s") << 0 << quint64(90061) << QStringLiteral("1Tage 01:01:01");
    QTest::newRow("de one day") << 0 << quint64(86400) << QStringLiteral("1Tage 00:00:00");
}

void tst_App::connectTimeText()
{
    QFETCH(int, language);
    QFETCH(quint64, seconds);
    QFETCH(QString, text);

    writeLanguage(language);
    hidsim::MeterConfig a = meter(QStringLiteral("A1"), 123);
    a.answersIdentity = false;
    hidsim::plug(a);
    makeWindow();
    QTRY_COMPARE(caption()->text(), language ? QStringLiteral("Device List: 1") : QStringLiteral("Geräteliste: 1"));

    // Called and read without returning to the event loop, so the meter's own
    // once-a-second update cannot come in between.
    window->updateConnectTimeSlot(0, seconds);
    QCOMPARE(cell(0, 2, 1), text);

    // Indices past the rows are ignored.
    window->updateConnectTimeSlot(1, 5);
    window->updateConnectTimeSlot(255, 5);
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(cell(0, 2, 1), text);
}

// ---------------------------------------------------------------- removal

void tst_App::removeMiddleMeter()
{
    writeLanguage(1);
    const hidsim::MeterConfig a = meter(QStringLiteral("A1"), 1);
    const hidsim::MeterConfig b = meter(QStringLiteral("B2"), 2);
    const hidsim::MeterConfig c = meter(QStringLiteral("C3"), 3);
    hidsim::plug(a);
    hidsim::plug(b);
    hidsim::plug(c);
    makeWindow();
    window->show();
    QCOMPARE(tree()->topLevelItemCount(), 3);
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-1"));
    QTRY_COMPARE(cell(1, -1, 0), QStringLiteral("KD-VX350-2"));
    QTRY_COMPARE(cell(2, -1, 0), QStringLiteral("KD-VX350-3"));
    QList<QPointer<LMDockWidget>> before;
    for (LMDockWidget* d : docks())
        before.append(d);
    QCOMPARE(before.size(), 3);
    QVERIFY(window->tabifiedDockWidgets(before[0]).contains(before[1]));
    QVERIFY(window->tabifiedDockWidgets(before[0]).contains(before[2]));
    const int wideWidth = window->width();

    pressRemoval(b.id);
    QCOMPARE(caption()->text(), QStringLiteral("Device List: 2"));
    QCOMPARE(tree()->topLevelItemCount(), 2);
    QCOMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-1"));
    QCOMPARE(cell(1, -1, 0), QStringLiteral("KD-VX350-3"));
    QVERIFY(before[1].isNull());
    QCOMPARE(docks().size(), 2);
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("KD-VX350-1"));
    QCOMPARE(docks().at(1)->windowTitle(), QStringLiteral("KD-VX350-3"));

    // The former meter 2 now answers as index 1: its row and its dock move together.
    tree()->topLevelItem(1)->setText(0, QStringLiteral("third"));
    QCOMPARE(docks().at(1)->windowTitle(), QStringLiteral("third"));
    QCOMPARE(setting(QStringLiteral("KD-VX3503")).toString(), QStringLiteral("third"));
    window->updateConnectTimeSlot(1, 61);
    QCOMPARE(cell(1, 2, 1), QStringLiteral("0Days 00:01:01"));
    QCOMPARE(UsbEvent::instance()->allComLayer.size(), 2);
    QCOMPARE(UsbEvent::instance()->allComLayer.at(1)->devMsg.sn, quint32(3));

    pressRemoval(a.id);
    pressRemoval(c.id);
    QCOMPARE(tree()->topLevelItemCount(), 0);
    QCOMPARE(docks().size(), 0);
    QCOMPARE(caption()->text(), QStringLiteral("Device List: 0"));
    // With no dock left the window shrinks to fit.
    QVERIFY2(window->width() < wideWidth, qPrintable(QString::number(window->width())));
}

void tst_App::removeTwoMetersAtOnce()
{
    writeLanguage(1);
    const hidsim::MeterConfig a = meter(QStringLiteral("A1"), 1);
    const hidsim::MeterConfig b = meter(QStringLiteral("B2"), 2);
    const hidsim::MeterConfig c = meter(QStringLiteral("C3"), 3);
    hidsim::plug(a);
    hidsim::plug(b);
    hidsim::plug(c);
    makeWindow();
    QTRY_COMPARE(cell(2, -1, 0), QStringLiteral("KD-VX350-3"));

    QVERIFY(hidsim::unplug(a.id));
    QVERIFY(hidsim::unplug(b.id));
    emit window->hidDevRemoved();
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-3"));
    QCOMPARE(docks().size(), 1);
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("KD-VX350-3"));
    QCOMPARE(caption()->text(), QStringLiteral("Device List: 1"));

    // A removal notice for a device that is not a meter changes nothing.
    emit window->hidDevRemoved();
    QCOMPARE(tree()->topLevelItemCount(), 1);
    // Nor does a rescan when nothing new is attached.
    emit window->hidDevArrival();
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(docks().size(), 1);
}

void tst_App::removeWhileDialogOpen()
{
    writeLanguage(1);
    const hidsim::MeterConfig a = meter(QStringLiteral("A1"), 1);
    hidsim::plug(a);
    makeWindow();
    window->show();
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-1"));
    QPointer<LMDockWidget> dock = docks().value(0);
    QVERIFY(dock);
    auto* button = dock->findChild<QToolButton*>(QStringLiteral("btnVbusAlarm"));
    QVERIFY(button);

    // The meter goes away while its alarm dialog runs its own event loop.
    QPointer<MainWindow> w = window;
    const hidsim::MeterId id = a.id;
    auto seen = answerNextModal([w, id](QWidget*) {
        hidsim::unplug(id);
        if (w)
            emit w->hidDevRemoved();
    });
    button->click();

    QVERIFY(seen->seen);
    QCOMPARE(seen->title, QStringLiteral("Set alarm value"));
    QVERIFY(dock.isNull());
    QCOMPARE(tree()->topLevelItemCount(), 0);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(UsbEvent::instance()->getDeviceCount(), uint8_t(0));
}

// ---------------------------------------------------------------- language switch

void tst_App::languageSwitch()
{
    writeLanguage(1);
    hidsim::plug(meter(QStringLiteral("A1"), 123));
    hidsim::plug(meter(QStringLiteral("U9"), 55, 0x0200)); // a model the registry does not know
    makeWindow();
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-123"));
    QTRY_COMPARE(cell(1, 1, 1), QStringLiteral("55"));
    QCOMPARE(cell(1, -1, 0), QStringLiteral("Unknown"));
    QCOMPARE(cell(1, 0, 1), QString()); // empty until the next switch
    QCOMPARE(docks().at(1)->windowTitle(), QStringLiteral("Unknown"));
    tree()->topLevelItem(0)->setText(0, QStringLiteral("Bench"));
    const int mapSize = UsbEvent::instance()->modelMap.size();

    action("actGerman")->trigger();
    QTRY_COMPARE(caption()->text(), QStringLiteral("Geräteliste: 2"));
    QCOMPARE(setting(QStringLiteral("ActLanguage")).toInt(), 0);
    QVERIFY(action("actGerman")->isChecked());
    QCOMPARE(window->findChild<QMenu*>(QStringLiteral("menuFile"))->title(), QStringLiteral("Datei(&D)"));
    QCOMPARE(window->findChild<QMenu*>(QStringLiteral("menuOptions"))->title(), QStringLiteral("Einstellungen(&E)"));
    QCOMPARE(window->findChild<QMenu*>(QStringLiteral("menu_2"))->title(), QStringLiteral("Sprache(&S)"));
    QCOMPARE(window->findChild<QMenu*>(QStringLiteral("menuHelp"))->title(), QStringLiteral("Hilfe(&H)"));
    QCOMPARE(action("actQuit")->text(), QStringLiteral("Beenden(&B)"));
    QCOMPARE(action("actAbout")->text(), QStringLiteral("Über(&Ü)"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Brellon KD-VX350 Software"));
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(cell(row, 0, 0), QStringLiteral("Modell:"));
        QCOMPARE(cell(row, 2, 0), QStringLiteral("Zeit:"));
        QVERIFY2(cell(row, 2, 1).contains(QStringLiteral("Tage ")), qPrintable(cell(row, 2, 1)));
        QCOMPARE(cell(row, 1, 0), QStringLiteral("SN:"));
    }
    QCOMPARE(cell(0, 0, 1), QStringLiteral("KD-VX350"));
    QCOMPARE(cell(1, 0, 1), QStringLiteral("Unbekannt"));
    // Names and dock titles stay, "Unknown" in the old language included.
    QCOMPARE(cell(0, -1, 0), QStringLiteral("Bench"));
    QCOMPARE(cell(1, -1, 0), QStringLiteral("Unknown"));
    QCOMPARE(docks().at(0)->windowTitle(), QStringLiteral("Bench"));
    QCOMPARE(docks().at(1)->windowTitle(), QStringLiteral("Unknown"));
    QCOMPARE(UsbEvent::instance()->modelMap.size(), mapSize);
    QVERIFY(!UsbEvent::instance()->modelMap.contains(0x0200));

    // A meter arriving now gets the translated time label but the source "Model:".
    hidsim::plug(meter(QStringLiteral("C3"), 3));
    emit window->hidDevArrival();
    QCOMPARE(cell(2, -1, 0), QStringLiteral("Unbekannt"));
    QCOMPARE(cell(2, 0, 0), QStringLiteral("Model:"));
    QCOMPARE(cell(2, 2, 0), QStringLiteral("Zeit:"));
    QCOMPARE(cell(2, 2, 1), QStringLiteral("0Tage 00:00:00"));
    QCOMPARE(docks().at(2)->windowTitle(), QStringLiteral("Unbekannt-0"));

    action("actEnglish")->trigger();
    QTRY_COMPARE(caption()->text(), QStringLiteral("Device List: 3"));
    QCOMPARE(setting(QStringLiteral("ActLanguage")).toInt(), 1);
    QCOMPARE(action("actQuit")->text(), QStringLiteral("Exit(&Q)"));
    QCOMPARE(cell(2, 0, 0), QStringLiteral("Model:"));
    QCOMPARE(cell(1, 0, 1), QStringLiteral("Unknown"));
    QVERIFY2(cell(0, 2, 1).contains(QStringLiteral("Days ")), qPrintable(cell(0, 2, 1)));
}

// ---------------------------------------------------------------- About box and dock

void tst_App::aboutBox()
{
    writeLanguage(1);
    makeWindow();
    auto* about = window->findChild<AboutDialog*>();
    QVERIFY(about);
    QVERIFY(!about->isVisible());
    action("actAbout")->trigger();
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QCOMPARE(about->size(), QSize(350, 400));
    QCOMPARE(about->minimumSize(), QSize(350, 400));
    QCOMPARE(about->maximumSize(), QSize(350, 400));
    QCOMPARE(about->windowTitle(), QStringLiteral("About"));
    auto* labelVer = about->findChild<QLabel*>(QStringLiteral("labelVer"));
    auto* labelLog = about->findChild<QLabel*>(QStringLiteral("labelLog"));
    auto* browser = about->findChild<QTextBrowser*>(QStringLiteral("browser"));
    auto* pictureLabel = about->findChild<QLabel*>(QStringLiteral("pictureLabel"));
    QVERIFY(labelVer && labelLog && browser && pictureLabel);
    QCOMPARE(labelVer->text(), QStringLiteral("KD-VX350 Software V1.0.0"));
    QCOMPARE(labelLog->text(), QStringLiteral("Update LOG"));
    QCOMPARE(browser->document()->blockCount(), 2);
    QCOMPARE(browser->document()->firstBlock().text(), QStringLiteral("[2023-03-23] V1.0.0 "));
    QCOMPARE(browser->document()->lastBlock().text(), QStringLiteral("  The first version."));
    QCOMPARE(pictureLabel->pixmap(Qt::ReturnByValue).size(), QSize(64, 64));
    auto* urlLabel = about->findChild<QLabel*>(QStringLiteral("urlLabel"));
    QVERIFY(urlLabel);
    QCOMPARE(urlLabel->text(),
        QStringLiteral("<a style='text-decoration: underline; color: #FFFFFF;'; href=' '>https://www.example.com</a>"));
    for (const QLabel* heading : { labelVer, labelLog }) {
        QCOMPARE(heading->font().pointSize(), 10);
        QVERIFY(heading->font().bold());
    }

    // The anchor's target is a blank; the vendor's address opens all the same.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    emit urlLabel->linkActivated(QStringLiteral(" "));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.opened, QList<QUrl> { QUrl(QStringLiteral("https://www.example.com")) });

    action("actGerman")->trigger();
    QTRY_COMPARE(labelLog->text(), QStringLiteral("Update-Hinweise"));
    QCOMPARE(browser->document()->blockCount(), 2);
    QCOMPARE(browser->document()->firstBlock().text(), QStringLiteral("[2023-03-23] V1.0.0 "));
    QCOMPARE(browser->document()->lastBlock().text(), QStringLiteral("  Die erste Version."));
    QCOMPARE(about->windowTitle(), QStringLiteral("About"));
    QCOMPARE(labelVer->text(), QStringLiteral("KD-VX350 Software V1.0.0"));

    const QString out = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(about->grab().save(out + QStringLiteral("/aboutdialog.png")));

    // Closed and chosen again: the same box, as it was left.
    about->close();
    action("actAbout")->trigger();
    QCOMPARE(window->findChildren<AboutDialog*>().size(), 1);
    QVERIFY(about->isVisible());
    QCOMPARE(browser->document()->blockCount(), 2);
}

void tst_App::dockFloating()
{
    QMainWindow host;
    auto* dock = new LMDockWidget(QStringLiteral("meter"), &host);
    dock->setWidget(new QLabel(QStringLiteral("content")));
    dock->setMaximumSize(300, 200);
    host.addDockWidget(Qt::RightDockWidgetArea, dock);
    host.show();

    // Docked: a z-order change leaves it alone.
    QEvent zorder(QEvent::ZOrderChange);
    QCoreApplication::sendEvent(dock, &zorder);
    QVERIFY(!dock->isWindow());
    QCOMPARE(dock->maximumSize(), QSize(300, 200));

    dock->setFloating(true);
    QCoreApplication::sendEvent(dock, &zorder);
    const Qt::WindowFlags flags = dock->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags & Qt::WindowMaximizeButtonHint);
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(dock->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(dock->isVisible());
    QVERIFY(dock->isFloating());
    // Every later z-order change sets the same flags again; the window stays up.
    QCoreApplication::sendEvent(dock, &zorder);
    QCOMPARE(dock->windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(dock->isVisible());
    QVERIFY(dock->isFloating());

    // A double click on the frame neither docks nor maximises it.
    QMouseEvent dbl(QEvent::NonClientAreaMouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QVERIFY(QCoreApplication::sendEvent(dock, &dbl));
    QVERIFY(dock->isFloating());
    QVERIFY(!dock->isMaximized());
    dock->resize(800, 600);
    QCOMPARE(dock->size(), QSize(800, 600)); // grows beyond its docked limits
}

// ---------------------------------------------------------------- hot-plug

void tst_App::hotplugActions_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("removed");
    QTest::newRow("add") << QByteArray("add") << 1 << 0;
    QTest::newRow("remove") << QByteArray("remove") << 0 << 1;
    QTest::newRow("change") << QByteArray("change") << 0 << 0;
    QTest::newRow("bind") << QByteArray("bind") << 0 << 0;
    QTest::newRow("unbind") << QByteArray("unbind") << 0 << 0;
    QTest::newRow("empty") << QByteArray() << 0 << 0;
    QTest::newRow("prefix") << QByteArray("added") << 0 << 0;
}

void tst_App::hotplugActions()
{
    QFETCH(QByteArray, action);
    QFETCH(int, added);
    QFETCH(int, removed);
    HidHotplug hotplug;
    QSignalSpy addSpy(&hotplug, &HidHotplug::deviceAdded);
    QSignalSpy removeSpy(&hotplug, &HidHotplug::deviceRemoved);
    hotplug.handleAction(action);
    QCOMPARE(addSpy.count(), added);
    QCOMPARE(removeSpy.count(), removed);
}

void tst_App::hotplugDrivesWindow()
{
    // A monitor that cannot be made is logged and reports nothing.
    QTest::ignoreMessage(QtDebugMsg, "register fail");
    HidHotplug broken(nullptr, "no-such-source");
    QVERIFY(!broken.isActive());

    writeLanguage(1);
    makeWindow();
    auto* hotplug = window->findChild<HidHotplug*>(QStringLiteral("hidHotplug"));
    QVERIFY(hotplug);
    QCOMPARE(tree()->topLevelItemCount(), 0);

    // A device that is not a meter: the rescan adds nothing.
    hidsim::MeterConfig mouse = meter(QStringLiteral("M"), 9);
    mouse.id.vid = 0x046d;
    mouse.id.pid = 0xc077;
    hidsim::plug(mouse);
    hotplug->handleAction("add");
    QCOMPARE(tree()->topLevelItemCount(), 0);

    const hidsim::MeterConfig a = meter(QStringLiteral("A1"), 7);
    hidsim::plug(a);
    hotplug->handleAction("add");
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(docks().size(), 1);
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-7"));

    hidsim::unplug(mouse.id);
    hotplug->handleAction("remove");
    QCOMPARE(tree()->topLevelItemCount(), 1);
    hidsim::unplug(a.id);
    hotplug->handleAction("remove");
    QCOMPARE(tree()->topLevelItemCount(), 0);
    QCOMPARE(docks().size(), 0);
}

void tst_App::udevRuleListsKnownMeters()
{
    QFile rule(QStringLiteral(KD_SOURCE_DIR "/packaging/linux/70-kdvx350.rules"));
    QVERIFY2(rule.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(rule.fileName()));
    // udev applies uaccess tags in 73-seat-late.rules: ours must come first.
    QVERIFY(QFileInfo(rule).fileName() < QStringLiteral("73"));

    const char* const pattern
        = R"re(^KERNEL=="hidraw\*", ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess"$)re";
    const QRegularExpression line(QString::fromLatin1(pattern));
    QList<QPair<uint, uint>> listed;
    while (!rule.atEnd()) {
        const QString text = QString::fromUtf8(rule.readLine()).trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch m = line.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(text));
        listed.append({ m.captured(1).toUInt(nullptr, 16), m.captured(2).toUInt(nullptr, 16) });
    }
    QList<QPair<uint, uint>> table;
    for (const known_meter_t& k : knownMeters)
        table.append({ k.vid, k.pid });
    QCOMPARE(listed, table);
}

// ---------------------------------------------------------------- end to end

void tst_App::endToEnd()
{
    writeLanguage(1);
    hidsim::MeterConfig a = meter(QStringLiteral("E2E-A"), 101);
    hidsim::MeterConfig b = meter(QStringLiteral("E2E-B"), 202, 0x0100, 0x7353);
    hidsim::plug(a);
    hidsim::plug(b);
    hidsim::Sample sa; // 5 V, 1 A
    hidsim::Sample sb;
    sb.vol = 912345; // 9.12345 V
    sb.cur = 150000; // 1.5 A
    sb.dp = 600;
    sb.dm = 600;
    sb.temp = 512; // 51.2 degC
    hidsim::setSample(a.id, sa);
    hidsim::setSample(b.id, sb);

    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-101"));
    QTRY_COMPARE(cell(1, -1, 0), QStringLiteral("KD-VX350-202"));
    QCOMPARE(caption()->text(), QStringLiteral("Device List: 2"));
    QTRY_VERIFY(hidsim::isStreaming(a.id) && hidsim::isStreaming(b.id));

    const QList<LMDockWidget*> all = docks();
    QCOMPARE(all.size(), 2);
    QCOMPARE(all.at(0)->windowTitle(), QStringLiteral("KD-VX350-101"));
    QCOMPARE(all.at(1)->windowTitle(), QStringLiteral("KD-VX350-202"));
    QVERIFY(window->tabifiedDockWidgets(all.at(0)).contains(all.at(1)));
    QCOMPARE(window->dockWidgetArea(all.at(0)), Qt::RightDockWidgetArea);

    QTRY_COMPARE(dockLabel(0, "labelVbus"), QStringLiteral("5.00000"));
    QTRY_COMPARE(dockLabel(0, "labelIbus"), QStringLiteral("1.00000"));
    QTRY_COMPARE(dockLabel(0, "labelPbus"), QStringLiteral("5.00000"));
    QTRY_COMPARE(dockLabel(0, "labelImpd"), QStringLiteral("5.00000"));
    QTRY_COMPARE(dockLabel(0, "labelTemp"), QStringLiteral("25.0"));
    QTRY_COMPARE(dockLabel(1, "labelVbus"), QStringLiteral("9.12345"));
    QTRY_COMPARE(dockLabel(1, "labelIbus"), QStringLiteral("1.50000"));
    // 9.12345 V x 1.5 A, cut to whole 10 uW.
    QTRY_COMPARE(dockLabel(1, "labelPbus"), QStringLiteral("13.68517"));
    QTRY_COMPARE(dockLabel(1, "labelDp"), QStringLiteral("0.600"));
    QTRY_COMPARE(dockLabel(1, "labelTemp"), QStringLiteral("51.2"));

    // The connection time counts up in both rows.
    QTRY_VERIFY(cell(0, 2, 1) != QStringLiteral("0Days 00:00:00"));
    QTRY_VERIFY(cell(1, 2, 1) != QStringLiteral("0Days 00:00:00"));
    QVERIFY(cell(0, 2, 1).startsWith(QStringLiteral("0Days 00:00:0")));

    // Show the second meter's tab for the picture, so both values are seen over the run.
    all.at(1)->raise();
    QTRY_COMPARE(dockLabel(1, "labelVbus"), QStringLiteral("9.12345"));
    const QString out = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(window->grab().save(out + QStringLiteral("/mainwindow.png")));
}

// Last: QSettings keeps the values it could not write in memory and writes them
// once the file can be written, so this test would leak into the ones after it.
void tst_App::unusableSettingsFile()
{
    // A directory where the file should be: nothing can be read or written.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Setting.ini")));
    hidsim::plug(meter(QStringLiteral("A1"), 900));
    makeWindow();
    QVERIFY(action("actGerman")->isChecked());
    QTRY_COMPARE(caption()->text(), QStringLiteral("Geräteliste: 1"));
    QTRY_COMPARE(cell(0, -1, 0), QStringLiteral("KD-VX350-900"));

    // Renaming still retitles the dock; only the value is lost.
    tree()->topLevelItem(0)->setText(0, QStringLiteral("Bench"));
    QCOMPARE(docks().value(0)->windowTitle(), QStringLiteral("Bench"));
    QVERIFY(QFileInfo(settingsPath).isDir());
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_App)
#include "tst_app.moc"
