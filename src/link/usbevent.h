#pragma once

#include "datastructure.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVector>

#include <string>

class Com_Layer;

// The one registry of connected meters: finds new ones, opens a connection
// for each, notices removed ones and numbers them. A meter's index is its
// position in allComLayer. GUI thread only (except the creation lock).
class UsbEvent : public QObject
{
    Q_OBJECT
public:
    ~UsbEvent() override;

    // The process-wide registry, created on first use.
    static QSharedPointer<UsbEvent>& instance();
    // Tests only: deletes every connection and drops the registry, so the
    // next instance() builds a fresh one. Callers must have released their copies.
    static void resetInstance();

    uint8_t getDeviceCount() const;
    // The connection of the newest meter: the one a window or page binds to
    // while it is built inside hidDevArrival. The index wraps in 8 bits like
    // the count; null when no meter is registered.
    Com_Layer* newestComLayer() const;
    // Shutdown: deletes every connection, last first; emits nothing.
    void removeAllDev();

    // path: the enumeration's path of the device, by which one without a serial string is opened.
    void addNewDevice(ushort vid, ushort pid, const wchar_t* serial, const char* path = nullptr);
    // Is a device with this serial string among the attached devices of (vid, pid)?
    bool isExistInPC(ushort vid, ushort pid, const wchar_t* serial);

    QVector<ushort> allVID;
    QVector<ushort> allPID;
    uint8_t deviceCounter = 0;
    QList<ushort> existVID;
    QList<ushort> existPID;
    QList<std::wstring> existSN; // a device without a serial string is keyed by ""
    QMap<ushort, QString> modelMap;
    QList<Com_Layer*> allComLayer; // owned

signals:
    void hidDevArrival(int _index);
    void hidDevDisconnected(int _index);
    void updateDevMsg(int _index, DEV_MSG_T _devMsg);
    void updateConnectTime(int _index, uint64_t _time);

public slots:
    void hidDevArrivalSlot();
    void hidDevRemoveSlot();
    void receiveDevMsg(Com_Layer* _com, DEV_MSG_T _devMsg);
    void connectTimeUpdatedSlot(Com_Layer* _com, uint64_t _time);

private:
    UsbEvent();

    static QMutex m_Mutex;
    static QSharedPointer<UsbEvent> m_pInstance;
};
