#pragma once

#include "datastructure.h"

#include <QDateTime>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QTime>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class Com_Layer;
class QEvent;
class UsbEvent;

namespace Ui {
class usbSystem;
}

// The System tab of a meter's window: the meter's identity as it reports it,
// and the firmware update of a meter in its bootloader, one frame per
// acknowledgement, logged line by line. Binds, while being constructed, to the
// newest connection of the registry. GUI thread only.
class usbSystem : public QWidget
{
    Q_OBJECT
public:
    explicit usbSystem(QWidget* parent = nullptr);
    ~usbSystem() override;

    // Appends "[date - time] text" to the log and returns the time written.
    QTime textBrowserAppend(QString text);
    // The packet id of the next data frame: 1..49, then 0, 1 ...
    void updateAddPackID();

public slots:
    void updateDevMsgSlot(Com_Layer* _com, DEV_MSG_T _devMsg);
    void openButtonSlot();
    void updateButtonSlot();
    void updateSendNextFrameSlot();
    void updateEndSlot();

protected:
    void changeEvent(QEvent* event) override;

private:
    friend class tst_Firmware;

    void showIdentityNames(const DEV_MSG_T& msg);
    // A warning box that goes with the page if the meter is unplugged meanwhile.
    void warn(const QString& text);

    Ui::usbSystem* ui;
    QSharedPointer<UsbEvent> app;
    QString aFileName; // the chosen firmware file; empty until one is chosen
    uint8_t sendPackID = 0; // id of the last frame sent
    uint16_t fileVersion = 0; // hundredths, from the file name
    uint64_t fileTotalBytes = 0;
    uint64_t fileTotalNumber = 0; // data frames
    uint64_t fileCurNumber = 0; // the next data frame, from 1
    std::unique_ptr<uint8_t[]> fileStream; // the whole file while an update runs; null when idle
    QTime startTime;
    QPointer<Com_Layer> comLayer; // not owned; the registry deletes it after this page
    std::function<QDateTime()> now = &QDateTime::currentDateTime; // the log's clock; tests set their own
};
