// Reading back a recording stored in the meter: 0x84 asks for its size and
// rate, 0x85 acknowledges them, each 0x86 asks for the next block of at most
// 7 points, 0x87 abandons the exchange. The wait dialog runs modally
// meanwhile; a watchdog ends an exchange that stalls.

#include "ui_usbgen.h"
#include "usbgen.h"

#include "com_layer.h"
#include "curvefile.h"
#include "guardeddialogs.h"
#include "lmwaitdialog.h"
#include "usbRecParam.h"

#include <QPointer>
#include <QProgressBar>
#include <QTimer>

void UsbGen::importButtonSlot()
{
    if (!inApplicationMode()) {
        guarded::warning(this, tr("WARNING"), tr("Please switch to application mode."));
        return;
    }
    if (!overwriteConfirmed())
        return;
    stopRecord();
    sendToMeter(Com_Layer::PC_APP_GET_CURVES);
    curveTimer->start();
    waitCurvesDialog->progressBar->setValue(0);
    // Returns when a reply or the watchdog hides it, or when the meter goes
    // and takes the page, and the dialog with it: nothing may follow here.
    waitCurvesDialog->exec();
}

void UsbGen::importCurvesMessageSlot(quint16 _count, quint32 _rate)
{
    deviceCurve.pointCount = _count;
    if (_count == 0) {
        endImportWait();
        guarded::warning(this, tr("Tips"), tr("No data recorded in the device."));
        return;
    }
    // A rate field of 0 would put every point at an infinite time; a rate
    // beyond what a curve file holds would make a recording that saves but
    // never opens again.
    const double rate = _rate / 1000.0;
    if (!UsbRecParam::isValidSampleRate(rate) || rate > CURVE_FILE_RATE_MAX) {
        failImport();
        return;
    }
    deviceCurve.receivedCount = 0;
    deviceCurve.sampleRate = rate;
    showRate(rate);
    ui->spinStartCur->setValue(0);
    ui->spinStopCur->setValue(0);
    ui->spinStopTime->setValue(0);

    UsbRecParam* rec = usbRecParam;
    rec->clearRecordParam();
    rec->setSampleRate(rate);
    rec->setStartCurrent(ui->spinStartCur->value());
    rec->setStopCurrent(ui->spinStopCur->value());
    rec->setStopTime(ui->spinStopTime->value());
    rec->setSwitchAll(false);
    for (const auto c : { UsbRecParam::RECORD_TYPE_VBUS, UsbRecParam::RECORD_TYPE_IBUS, UsbRecParam::RECORD_TYPE_PBUS })
        rec->setSwitch(c, true);
    rec->setMasterSwitch(true);
    enterSetUp();

    curveTimer->start();
    sendToMeter(Com_Layer::PC_APP_HAD_GET_CURVES_MSG);
    sendToMeter(Com_Layer::PC_APP_HAD_GET_CURVES);
}

void UsbGen::importCurvesSlot(int _count)
{
    curveTimer->start(); // from 5000 ms again
    // Held at the field's top rather than wrapping past what was announced.
    const int received = qMin(0xFFFF, deviceCurve.receivedCount + qMax(0, _count));
    deviceCurve.receivedCount = quint16(received);
    const int announced = deviceCurve.pointCount;
    // A block nobody announced (no size yet, or a size of 0) completes at once.
    waitCurvesDialog->progressBar->setValue(announced > 0 ? qMin(100, received * 100 / announced) : 100);
    sendToMeter(Com_Layer::PC_APP_HAD_GET_CURVES);
    if (received < announced)
        return;

    curveTimer->stop();
    usbRecParam->setRecordedCount(received);
    const QList<quint16> channels { UsbRecParam::RECORD_TYPE_VBUS, UsbRecParam::RECORD_TYPE_IBUS,
        UsbRecParam::RECORD_TYPE_PBUS };
    showRecordedChannels(channels);
    showExtremum();
    showAccumulate();
    QVector<QVector<double>> lists(UsbRecParam::RECORD_TYPE_COUNT);
    for (const quint16 c : channels)
        lists[c] = usbRecParam->getRecordParam(UsbRecParam::RECORD_TYPE_E(c));
    plotRecording(channels, usbRecParam->getRecordTime(), lists);
    waitCurvesDialog->hide();
    lockRecordedRows();
}

void UsbGen::getCurvesTimeoutSlot()
{
    failImport();
}

void UsbGen::sendToMeter(quint8 code)
{
    if (comLayer)
        comLayer->addPack(code, nullptr, 0);
}

void UsbGen::endImportWait()
{
    if (!waitCurvesDialog->isHidden())
        waitCurvesDialog->hide();
    curveTimer->stop();
}

void UsbGen::failImport()
{
    endImportWait();
    const QPointer<UsbGen> alive(this);
    guarded::warning(this, tr("WARNING"), tr("Failed to import curves."));
    // Removed while the box was open: the connection went after the page.
    if (alive)
        sendToMeter(Com_Layer::PC_APP_STOP_GET_CURVES);
}
