#pragma once

#include <QList>
#include <QObject>
#include <QVector>

// The voltages, in millivolts, that each fast-charge protocol may be asked for,
// indexed by protocol: QC2.0, QC3.0, HUAWEI FCP, HUAWEI SCP, SAMSUNG AFC.
// A trigger step names a voltage by its position in its protocol's list.
class SuportProtocol : public QObject
{
    Q_OBJECT
public:
    explicit SuportProtocol(QObject* parent = nullptr);

    // Filled by the constructor, never changed afterwards; read directly.
    QVector<QList<int>> allProtVol;
};
