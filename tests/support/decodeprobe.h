#pragma once

#include "com_layer.h"

#include <QByteArray>
#include <QStringList>

// Records which of the receive worker's signals fired, in order.
struct DecodeProbe
{
    QStringList emitted;
    DEV_MSG_T devMsg {};
    DEV_PARAM_T param {};
    PC_VOL_PARAM_QUEUE_T queue {};
    quint16 points = 0;
    quint32 rate = 0;
    int blockCount = -1;
    QByteArray block;

    explicit DecodeProbe(Com_Receive* r)
    {
        QObject::connect(r, &Com_Receive::updateDevMsg, [this](DEV_MSG_T m) {
            emitted << "updateDevMsg";
            devMsg = m;
        });
        QObject::connect(r, &Com_Receive::dataUpdated, [this](DEV_PARAM_T p) {
            emitted << "dataUpdated";
            param = p;
        });
        QObject::connect(r, &Com_Receive::addRecordFifo, [this](PC_VOL_PARAM_QUEUE_T q) {
            emitted << "addRecordFifo";
            queue = q;
        });
        QObject::connect(r, &Com_Receive::deviceSendCurvesMessage, [this](quint16 c, quint32 rt) {
            emitted << "deviceSendCurvesMessage";
            points = c;
            rate = rt;
        });
        QObject::connect(r, &Com_Receive::deviceSendCurves, [this](int c, QByteArray b) {
            emitted << "deviceSendCurves";
            blockCount = c;
            block = b;
        });
        QObject::connect(r, &Com_Receive::deviceSendTrigSuccess, [this] { emitted << "deviceSendTrigSuccess"; });
        QObject::connect(r, &Com_Receive::deviceSendTrigFail, [this] { emitted << "deviceSendTrigFail"; });
        QObject::connect(r, &Com_Receive::updateHeadAck, [this] { emitted << "updateHeadAck"; });
        QObject::connect(r, &Com_Receive::updateDataAck, [this] { emitted << "updateDataAck"; });
        QObject::connect(r, &Com_Receive::updateEndAck, [this] { emitted << "updateEndAck"; });
        QObject::connect(r, &Com_Receive::updateCrcError, [this] { emitted << "updateCrcError"; });
        QObject::connect(r, &Com_Receive::updateInvalidData, [this] { emitted << "updateInvalidData"; });
    }
};
