// Saving and opening curve files: the dialogs, the settings key and the page
// around the format (curvefile.h).

#include "ui_usbgen.h"
#include "usbgen.h"

#include "curvefile.h"
#include "guardeddialogs.h"
#include "lastfilepath.h"
#include "lmmulticurvesplot.h"
#include "usbRecParam.h"

#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

namespace {

const char* const kLastPathKey = "LastCurvesFilePath";
const char* const kFileFilter = "cqz(*.cqz)";

} // namespace

QString UsbGen::chooseCurveFile(bool save)
{
    if (timerREC->isActive()) {
        guarded::warning(this, tr("WARNING"), tr("Please pause."));
        return QString();
    }
    const QPointer<UsbGen> alive(this);
    const QString filter = QString::fromLatin1(kFileFilter);
    const QString name = save ? guarded::saveFileName(this, tr("Choose file"), lastFilePath(kLastPathKey), filter)
                              : guarded::openFileName(this, tr("Open file"), lastFilePath(kLastPathKey), filter);
    if (!alive || name.isEmpty())
        return QString();
    setLastFilePath(kLastPathKey, name);
    return name;
}

void UsbGen::saveButtonSlot()
{
    const QString name = chooseCurveFile(true);
    if (name.isEmpty())
        return;
    // Written aside and renamed over the target: a failed save leaves an
    // earlier file whole, and is said. In a folder where no file may be
    // created beside it, a writable target is written in place.
    bool saved = false;
    {
        QSaveFile file(name);
        file.setDirectWriteFallback(true);
        saved = file.open(QIODevice::WriteOnly) && writeCurveFile(&file, recordedFile()) && file.commit();
    }
    if (!saved)
        guarded::warning(this, tr("WARNING"), tr("Failed to save the file."));
}

void UsbGen::openButtonSlot()
{
    const QString name = chooseCurveFile(false);
    if (name.isEmpty())
        return;
    QFile device(name);
    if (!device.open(QIODevice::ReadOnly))
        return;
    if (!overwriteConfirmed())
        return;
    // Read and checked whole before anything changes: a bad file leaves the
    // page and the recorder as they were.
    CurveFile file;
    const curve_file_status_e status = readCurveFile(&device, &file);
    device.close();
    if (status != CURVE_FILE_OK) {
        guarded::warning(this, tr("WARNING"), tr("Error file."));
        return;
    }
    applyCurveFile(file);
}

CurveFile UsbGen::recordedFile() const
{
    CurveFile file;
    file.sampleRate = usbRecParam->getSampleRate();
    file.startCurrent = usbRecParam->getStartCurrent();
    file.stopCurrent = usbRecParam->getStopCurrent();
    file.stopTime = usbRecParam->getStopTime();
    const QList<quint16> channels = usbRecParam->getRecordingList();
    const int rows = usbRecParam->getRecordedCount();
    const LMMultiCurvesPlot* plot = ui->customPlot;
    // Shallow copies, kept past the lock: saving is refused while the
    // recorder appends, so they never make it copy its lists.
    usbRecParam->readRecording([&](const QVector<double>& time, const QVector<QVector<double>>& lists) {
        file.time = time;
        for (const quint16 c : channels) {
            CurveFileCurve curve;
            curve.index = c;
            curve.color = plot->getCurvesColor(c).rgba();
            curve.hasExtremum = c < UsbRecParam::RECORD_EXTREMUM_COUNT;
            curve.values = lists.at(c);
            file.curves.append(curve);
        }
    });
    for (CurveFileCurve& curve : file.curves) {
        if (curve.hasExtremum) {
            curve.maximum = usbRecParam->getExtremum(curve.index, UsbRecParam::RECORD_MAX);
            curve.minimum = usbRecParam->getExtremum(curve.index, UsbRecParam::RECORD_MIN);
        }
    }
    // The rows are the recorded points (the writer also stops at the shortest list).
    if (rows < file.time.size())
        file.time = file.time.mid(0, qMax(rows, 0));
    return file;
}

void UsbGen::applyCurveFile(const CurveFile& file)
{
    showRate(file.sampleRate);
    ui->spinStartCur->setValue(file.startCurrent);
    ui->spinStopCur->setValue(file.stopCurrent);
    ui->spinStopTime->setValue(file.stopTime);
    // No curve (of a channel this program knows): only the settings are taken.
    if (file.curves.isEmpty())
        return;

    UsbRecParam* rec = usbRecParam;
    rec->clearRecordParam();
    QList<quint16> channels;
    QVector<QVector<double>> lists(UsbRecParam::RECORD_TYPE_COUNT);
    for (const CurveFileCurve& curve : file.curves) {
        channels << curve.index;
        // QColor(QRgb) drops the alpha byte: curves are drawn opaque.
        ui->customPlot->setCurvesColor(curve.index, QColor(QRgb(curve.color)));
        if (curve.hasExtremum) {
            rec->setExtremum(curve.index, UsbRecParam::RECORD_MAX, curve.maximum);
            rec->setExtremum(curve.index, UsbRecParam::RECORD_MIN, curve.minimum);
        }
        lists[curve.index] = curve.values;
    }
    rec->setRecording(file.time, lists);
    rec->setRecordedCount(file.time.size());

    enterSetUp();
    rec->setSampleRate(file.sampleRate);
    rec->setStartCurrent(ui->spinStartCur->value());
    rec->setStopCurrent(ui->spinStopCur->value());
    rec->setStopTime(ui->spinStopTime->value());
    // A following start appends live points at once.
    rec->setMasterSwitch(true);

    showRecordedChannels(channels);
    showExtremum();
    showAccumulate();
    plotRecording(channels, file.time, lists);
    lockRecordedRows();
}
