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

#include <QKeyEvent>
#include <QMetaObject>
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
    importPhase = IMPORT_ASKED;
    sendToMeter(Com_Layer::PC_APP_GET_CURVES);
    curveTimer->start();
    waitCurvesDialog->progressBar->setValue(0);
    // Returns when a reply or the watchdog hides it (the user cannot, see
    // eventFilter), or when the meter goes and takes the page, and the dialog
    // with it: nothing may follow here.
    waitCurvesDialog->exec();
}

bool UsbGen::eventFilter(QObject* watched, QEvent* event)
{
    // Closed by the user, the dialog would leave the exchange running behind
    // it, its blocks mixing into whatever is opened or recorded next.
    if (watched == waitCurvesDialog && importPhase != IMPORT_NONE) {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void UsbGen::importCurvesMessageSlot(quint16 _count, quint32 _rate)
{
    // Only the answer to this page's own request: an unasked one would
    // throw away the recording the page holds.
    if (importPhase != IMPORT_ASKED)
        return;
    deviceCurve.pointCount = _count;
    if (_count == 0) {
        importPhase = IMPORT_NONE;
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
    importPhase = IMPORT_RECEIVING;
    importTaken = 0;
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

void UsbGen::takeDeviceCurves(int _count, const QByteArray& _buf)
{
    if (importPhase != IMPORT_RECEIVING)
        return;
    const int announced = deviceCurve.pointCount;
    const int take = qBound(0, qMin(_count, int(_buf.size() / CURVES_POINT_SIZE)), announced - importTaken);
    // Points beyond the announced ones are dropped; an empty block still
    // counts as an answer and asks for the next one.
    if (take == 0 && _count > 0)
        return;
    importTaken += take;
    const QByteArray points = _buf.left(take * CURVES_POINT_SIZE);
    UsbRecParam* rec = usbRecParam;
    QMetaObject::invokeMethod(
        rec, [rec, take, points] { rec->addDeviceCurvesSlot(take, points); }, Qt::QueuedConnection);
}

void UsbGen::importCurvesSlot(int _count)
{
    // Appended before the import ended (a stall): the points stay in the
    // recorder, as the failed import leaves them, and are not counted.
    if (importPhase != IMPORT_RECEIVING)
        return;
    // Only progress holds the watchdog off: a meter answering with empty
    // blocks still stalls.
    if (_count > 0)
        curveTimer->start(); // from 5000 ms again
    const int received = deviceCurve.receivedCount + qMax(0, _count);
    deviceCurve.receivedCount = quint16(received);
    const int announced = deviceCurve.pointCount;
    waitCurvesDialog->progressBar->setValue(qMin(100, received * 100 / announced));
    sendToMeter(Com_Layer::PC_APP_HAD_GET_CURVES);
    if (received < announced)
        return;

    importPhase = IMPORT_NONE;
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
    // Whatever still comes of this exchange is dropped, also while the
    // warning is open.
    importPhase = IMPORT_NONE;
    endImportWait();
    const QPointer<UsbGen> alive(this);
    guarded::warning(this, tr("WARNING"), tr("Failed to import curves."));
    // Removed while the box was open: the connection went after the page.
    if (alive)
        sendToMeter(Com_Layer::PC_APP_STOP_GET_CURVES);
}
