#include "suportprotocol.h"

namespace {

QList<int> steps(int first, int step, int count)
{
    QList<int> list;
    list.reserve(count);
    for (int k = 0; k < count; ++k)
        list.append(first + step * k);
    return list;
}

} // namespace

SuportProtocol::SuportProtocol(QObject* parent)
    : QObject(parent)
{
    allProtVol = {
        { 5000, 9000, 12000, 20000 }, // QC2.0
        steps(3600, 200, 83), // QC3.0: 3.6 V to 20 V
        { 5000, 9000, 12000 }, // HUAWEI FCP
        steps(3300, 20, 336), // HUAWEI SCP: 3.3 V to 10 V
        { 9000, 12000 }, // SAMSUNG AFC
    };
}
