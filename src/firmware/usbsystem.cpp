#include "usbsystem.h"
#include "ui_usbsystem.h"

#include "com_layer.h"
#include "guardeddialogs.h"
#include "lastfilepath.h"
#include "usbevent.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cmath>

namespace {

const char* const lastPathKey = "LastFirmwareFilePath";

constexpr uint64_t frameBytes = COM_FORMAT_1_DATA_MAX; // firmware bytes per data frame
constexpr uint64_t maxFrames = 0xFFFF; // frame numbers are 16 bits wide
constexpr int msecsPerDay = 24 * 60 * 60 * 1000;

// The version in hundredths from a file name: the number after the last V of
// the upper-cased name without its last suffix, or the whole name without a V.
// A version that does not fit the head's 16 bits is no version.
bool versionFromName(const QString& path, uint16_t& version)
{
    const QString name = QFileInfo(path).completeBaseName().toUpper();
    bool ok = false;
    const double number = name.mid(name.lastIndexOf(QLatin1Char('V')) + 1).toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    const double hundredths = std::round(number * 100.0);
    if (hundredths < 0.0 || hundredths > 65535.0)
        return false;
    version = uint16_t(hundredths);
    return true;
}

QString runModeName(uint8_t runMode)
{
    switch (runMode) {
    case 1:
        return usbSystem::tr("Bootloader");
    case 2:
        return usbSystem::tr("Application");
    default:
        return usbSystem::tr("Unknown");
    }
}

} // namespace

usbSystem::usbSystem(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::usbSystem)
{
    ui->setupUi(this);
    ui->barUpdate->setValue(0);

    connect(ui->btnOpen, &QPushButton::clicked, this, &usbSystem::openButtonSlot);
    connect(ui->btnUpdate, &QPushButton::clicked, this, &usbSystem::updateButtonSlot);

    // Built while the registry announces its newest meter; with no meter the
    // page stays unbound.
    app = UsbEvent::instance();
    comLayer = app->newestComLayer();
    if (comLayer) {
        connect(comLayer, &Com_Layer::updateDevMsg, this, &usbSystem::updateDevMsgSlot);
        connect(comLayer, &Com_Layer::updateHeadAck, this, &usbSystem::updateSendNextFrameSlot);
        connect(comLayer, &Com_Layer::updateDataAck, this, &usbSystem::updateSendNextFrameSlot);
        connect(comLayer, &Com_Layer::updateEndAck, this, &usbSystem::updateEndSlot);
    }
}

usbSystem::~usbSystem()
{
    delete ui;
    ui = nullptr;
    app.reset();
}

QTime usbSystem::textBrowserAppend(QString text)
{
    const QDateTime stamp = now();
    ui->textBrowser->append(QStringLiteral("[%1 - %2] %3")
                                .arg(stamp.date().toString(QStringLiteral("yyyy/MM/dd")),
                                    stamp.time().toString(QStringLiteral("hh:mm:ss")), text));
    return stamp.time();
}

void usbSystem::updateAddPackID()
{
    sendPackID = sendPackID >= 49 ? 0 : sendPackID + 1;
}

void usbSystem::showIdentityNames(const DEV_MSG_T& msg)
{
    ui->labModel->setText(app->modelMap.contains(msg.model) ? app->modelMap.value(msg.model) : tr("Unknown"));
    ui->labRunMode->setText(runModeName(msg.runMode));
}

void usbSystem::updateDevMsgSlot(Com_Layer*, DEV_MSG_T _devMsg)
{
    showIdentityNames(_devMsg);
    const uint16_t boot = _devMsg.bootVersion;
    ui->labBootVer->setText(
        QStringLiteral("V%1.%2%3")
            .arg(QString::number(boot >> 8), QString::number((boot >> 4) & 15), QString::number(boot & 15)));
    ui->labSN->setText(QStringLiteral("%1 ").arg(_devMsg.sn, 6, 10, QLatin1Char('0')));
    ui->labAppVer->setText(
        QStringLiteral("V%1.%2").arg(_devMsg.appVersion / 100).arg(_devMsg.appVersion % 100, 2, 10, QLatin1Char('0')));
}

void usbSystem::openButtonSlot()
{
    const QString startPath = lastFilePath(lastPathKey);

    // The dialog goes with the page if the meter is unplugged while it runs.
    const QPointer<usbSystem> alive(this);
    const QString chosen = guarded::openFileName(this, tr("Open file"), startPath, QStringLiteral("uqz(*.uqz)"));
    if (!alive || chosen.isEmpty())
        return;

    aFileName = chosen;
    setLastFilePath(lastPathKey, aFileName);
    ui->lineEdit->setText(aFileName);
    const QFileInfo info(aFileName);
    textBrowserAppend(tr("Firmware name: %1").arg(info.fileName()));
    textBrowserAppend(tr("Firmware size: %1 KB").arg((info.size() + 512) / 1024));
}

void usbSystem::warn(const QString& text)
{
    guarded::warning(this, tr("WARNING"), text);
}

void usbSystem::updateButtonSlot()
{
    // Every warning returns at once: the page may be gone when the box closes.
    if (!comLayer || comLayer->devMsg.runMode != 1) {
        warn(tr("Please switch to bootloader mode."));
        return;
    }
    if (aFileName.isEmpty()) {
        warn(tr("Please choose a firmware."));
        return;
    }
    fileTotalBytes = uint64_t(QFileInfo(aFileName).size());
    if (!versionFromName(aFileName, fileVersion)) {
        warn(tr("Firmware name error."));
        return;
    }
    fileTotalNumber = (fileTotalBytes + frameBytes - 1) / frameBytes;
    fileCurNumber = 1;

    fileStream.reset();
    QFile file(aFileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // No frames to send, or more than the 16-bit frame numbers can count.
    if (fileTotalNumber == 0 || fileTotalNumber > maxFrames) {
        file.close();
        warn(tr("Invalid firmware file."));
        return;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileTotalBytes]);
    // A file that shrank since its size was taken is one that cannot be read.
    if (file.read(reinterpret_cast<char*>(buffer.get()), qint64(fileTotalBytes)) != qint64(fileTotalBytes))
        return;
    file.close();
    fileStream = std::move(buffer);

    sendPackID = 0;
    uint8_t head[6];
    qToLittleEndian<quint16>(fileVersion, head);
    qToLittleEndian<quint32>(quint32(fileTotalBytes), head + 2);
    comLayer->addPack(FMT1_UPDATE_HEAD, sendPackID, 0, head, sizeof head);

    ui->barUpdate->setValue(0);
    startTime = textBrowserAppend(tr("Start upgrade."));
    ui->btnUpdate->setEnabled(false);
}

void usbSystem::updateSendNextFrameSlot()
{
    if (!fileStream || !comLayer)
        return;
    updateAddPackID();
    const uint64_t offset = (fileCurNumber - 1) * frameBytes;
    const uint64_t length = fileCurNumber * frameBytes < fileTotalBytes ? frameBytes : fileTotalBytes - offset;
    comLayer->addPack(FMT1_UPDATE_DATA, sendPackID, ushort(fileCurNumber), fileStream.get() + offset, uchar(length));
    ui->barUpdate->setValue(int(fileCurNumber * 100 / fileTotalNumber));
    // After the last frame the number stays: a further acknowledgement repeats it.
    if (fileCurNumber < fileTotalNumber)
        ++fileCurNumber;
}

void usbSystem::updateEndSlot()
{
    // An end with no update running has nothing to report.
    if (!fileStream)
        return;
    int elapsed = startTime.msecsTo(now().time());
    if (elapsed < 0)
        elapsed += msecsPerDay; // the update ran past midnight
    textBrowserAppend(tr("Update completed,Elapsed time %1s.").arg(elapsed / 1000));
    fileStream.reset();
    ui->btnUpdate->setEnabled(true);
}

void usbSystem::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange && ui && app) {
        ui->retranslateUi(this);
        showIdentityNames(comLayer ? comLayer->devMsg : DEV_MSG_T {});
    }
}
