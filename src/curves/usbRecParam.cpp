#include "usbRecParam.h"

#include "usbparam.h"

#include <QMutexLocker>
#include <QtEndian>

#include <bitset>
#include <cmath>
#include <limits>

namespace {

constexpr double kMinimumUnset = 9999.99999; // above any reading, so the first point sets the minimum
constexpr int kTickMs = 10; // the page's recording tick, and the spacing of the meter's samples

// The live current in whole milliamperes, cut toward zero; kept a double so
// no reading can overflow an integer conversion.
double milliAmps(const UsbParam& live)
{
    return std::trunc(live.getParam(UsbParam::USB_PARAM_IBUS) * 1000.0);
}

} // namespace

UsbRecParam::UsbRecParam(QObject* parent)
    : QObject(parent)
    , allSwitch(RECORD_TYPE_COUNT, false)
    , allList(RECORD_TYPE_COUNT)
    , allExtremum(RECORD_EXTREMUM_COUNT)
{
    qRegisterMetaType<EXTREMUM_DATA_T>("EXTREMUM_DATA_T");
    allSwitch[RECORD_TYPE_VBUS] = true;
    allSwitch[RECORD_TYPE_IBUS] = true;
    allSwitch[RECORD_TYPE_CAP] = true;
    allSwitch[RECORD_TYPE_NRG] = true;
    clearRecordParam();
}

UsbRecParam::~UsbRecParam() = default;

bool UsbRecParam::isValidSampleRate(double rate)
{
    return std::isfinite(rate) && rate > 0.0 && 1000.0 / rate <= double(std::numeric_limits<int>::max());
}

void UsbRecParam::setSampleRate(double rate)
{
    if (!isValidSampleRate(rate))
        return;
    QMutexLocker lock(&mutex);
    sampleRate = rate;
    mInterval = int(1000.0 / rate);
}

double UsbRecParam::getSampleRate() const
{
    QMutexLocker lock(&mutex);
    return sampleRate;
}

int UsbRecParam::getInterval() const
{
    QMutexLocker lock(&mutex);
    return mInterval;
}

void UsbRecParam::setInterval(int msec)
{
    QMutexLocker lock(&mutex);
    mInterval = msec;
}

void UsbRecParam::setStartCurrent(int mA)
{
    QMutexLocker lock(&mutex);
    startCurrent = mA;
}

int UsbRecParam::getStartCurrent() const
{
    QMutexLocker lock(&mutex);
    return startCurrent;
}

void UsbRecParam::setStopCurrent(int mA)
{
    QMutexLocker lock(&mutex);
    stopCurrent = mA;
}

int UsbRecParam::getStopCurrent() const
{
    QMutexLocker lock(&mutex);
    return stopCurrent;
}

void UsbRecParam::setStopTime(int s)
{
    QMutexLocker lock(&mutex);
    stopTime = s;
}

int UsbRecParam::getStopTime() const
{
    QMutexLocker lock(&mutex);
    return stopTime;
}

void UsbRecParam::setRecordedCount(int count)
{
    QMutexLocker lock(&mutex);
    mCounter = count;
}

int UsbRecParam::getRecordedCount() const
{
    QMutexLocker lock(&mutex);
    return mCounter;
}

void UsbRecParam::setMasterSwitch(bool on)
{
    QMutexLocker lock(&mutex);
    masterSwitch = on;
}

bool UsbRecParam::getMasterSwitch() const
{
    QMutexLocker lock(&mutex);
    return masterSwitch;
}

void UsbRecParam::setSwitch(UsbRecParam::RECORD_TYPE_E type, bool sw)
{
    if (type < 0 || type >= RECORD_TYPE_COUNT)
        return;
    QMutexLocker lock(&mutex);
    allSwitch[type] = sw;
}

void UsbRecParam::setSwitchAll(bool on)
{
    QMutexLocker lock(&mutex);
    allSwitch.fill(on);
}

bool UsbRecParam::isSwitchOpened(int i) const
{
    if (i < 0 || i >= RECORD_TYPE_COUNT)
        return false;
    QMutexLocker lock(&mutex);
    return allSwitch.at(i);
}

bool UsbRecParam::isHaveOpenedSwitch() const
{
    QMutexLocker lock(&mutex);
    return allSwitch.contains(true);
}

QList<quint16> UsbRecParam::getRecordingList() const
{
    QMutexLocker lock(&mutex);
    QList<quint16> on;
    for (int i = 0; i < RECORD_TYPE_COUNT; ++i) {
        if (allSwitch.at(i))
            on.append(quint16(i));
    }
    return on;
}

void UsbRecParam::setExtremum(int channel, int which, double value)
{
    if (channel < 0 || channel >= RECORD_EXTREMUM_COUNT || which < RECORD_MAX || which > RECORD_MIN)
        return;
    QMutexLocker lock(&mutex);
    allExtremum[channel].extremum[which] = value;
}

double UsbRecParam::getExtremum(int channel, int which) const
{
    if (channel < 0 || channel >= RECORD_EXTREMUM_COUNT || which < RECORD_MAX || which > RECORD_MIN)
        return 0.0;
    QMutexLocker lock(&mutex);
    return allExtremum.at(channel).extremum[which];
}

void UsbRecParam::addRecordTime(double t)
{
    QMutexLocker lock(&mutex);
    time.append(t);
}

void UsbRecParam::addOneRecordParam(RECORD_TYPE_E channel, double value)
{
    if (channel < 0 || channel >= RECORD_TYPE_COUNT)
        return;
    QMutexLocker lock(&mutex);
    allList[channel].append(value);
}

QVector<double> UsbRecParam::getRecordParam(RECORD_TYPE_E channel) const
{
    if (channel < 0 || channel >= RECORD_TYPE_COUNT)
        return {};
    QMutexLocker lock(&mutex);
    return allList.at(channel);
}

QVector<double> UsbRecParam::getRecordTime() const
{
    QMutexLocker lock(&mutex);
    return time;
}

void UsbRecParam::setRecording(const QVector<double>& times, const QVector<QVector<double>>& lists)
{
    QMutexLocker lock(&mutex);
    time = times;
    for (int c = 0; c < RECORD_TYPE_COUNT; ++c)
        allList[c] = lists.value(c);
}

void UsbRecParam::readRecording(
    const std::function<void(const QVector<double>& time, const QVector<QVector<double>>& lists)>& reader) const
{
    QMutexLocker lock(&mutex);
    reader(time, allList);
}

void UsbRecParam::clearRecordFifo()
{
    QMutexLocker lock(&mutex);
    recordFifo.front = 0;
    recordFifo.rear = 0;
}

void UsbRecParam::clearRecordParam()
{
    {
        QMutexLocker lock(&mutex);
        // Dropped rather than cleared: clearing a list that the plot still
        // shares (after a file or an import) would first copy all of it.
        time = QVector<double>();
        for (QVector<double>& list : allList)
            list = QVector<double>();
        oldVbus = 0.0;
        oldIbus = 0.0;
        for (extremum_data_t& e : allExtremum) {
            e.extremum[RECORD_MAX] = 0.0;
            e.extremum[RECORD_MIN] = kMinimumUnset;
        }
        mCounter = 0;
        stopTimed = 0;
    }
    emit extremumChanged();
    emit accumulateChanged();
}

int UsbRecParam::fifoCount() const
{
    return (recordFifo.rear + RECORD_FIFO_SIZE - recordFifo.front) % RECORD_FIFO_SIZE;
}

void UsbRecParam::addRecordFifo(PC_VOL_PARAM_QUEUE_T _queueParam)
{
    QMutexLocker lock(&mutex);
    for (const PC_VOL_PARAM_T& raw : _queueParam.param) {
        RECORD_T& s = recordFifo.buf[recordFifo.rear];
        s.vbus = raw.vol / 100000.0;
        s.ibus = s.vbus == 0.0 ? 0.0 : raw.cur / 100000.0;
        s.pbus = s.vbus * s.ibus;
        s.dp = raw.dp / 1000.0;
        s.dm = raw.dm / 1000.0;
        recordFifo.rear = (recordFifo.rear + 1) % RECORD_FIFO_SIZE;
        // A full ring gives up its oldest sample, so it always holds the
        // newest 1023 rather than losing them all when the write index
        // catches up with the read index.
        if (recordFifo.rear == recordFifo.front)
            recordFifo.front = (recordFifo.front + 1) % RECORD_FIFO_SIZE;
    }
}

bool UsbRecParam::updateExtremum(int channel, double value)
{
    qreal* e = allExtremum[channel].extremum;
    bool moved = false;
    if (value > e[RECORD_MAX]) {
        e[RECORD_MAX] = value;
        moved = true;
    }
    if (value < e[RECORD_MIN]) {
        e[RECORD_MIN] = value;
        moved = true;
    }
    return moved;
}

bool UsbRecParam::recordPoint(const RECORD_T& s, const UsbParam& live)
{
    bool moved = false;
    if (allSwitch.at(RECORD_TYPE_VBUS)) {
        moved |= updateExtremum(RECORD_TYPE_VBUS, s.vbus);
        allList[RECORD_TYPE_VBUS].append(s.vbus);
    }
    if (allSwitch.at(RECORD_TYPE_IBUS)) {
        moved |= updateExtremum(RECORD_TYPE_IBUS, s.ibus);
        allList[RECORD_TYPE_IBUS].append(s.ibus);
    }
    if (allSwitch.at(RECORD_TYPE_PBUS)) {
        moved |= updateExtremum(RECORD_TYPE_PBUS, s.pbus);
        allList[RECORD_TYPE_PBUS].append(s.pbus);
    }
    if (allSwitch.at(RECORD_TYPE_CAP) || allSwitch.at(RECORD_TYPE_NRG)) {
        // Trapezoids over the point's interval: the mean of this and the
        // previous current (and voltage) times the interval in hours.
        const double meanIbus = (s.ibus + oldIbus) / 2;
        if (allSwitch.at(RECORD_TYPE_CAP)) {
            QVector<double>& cap = allList[RECORD_TYPE_CAP];
            const double last = cap.isEmpty() ? 0.0 : cap.constLast();
            cap.append(last + meanIbus / 3600 / 1000 * mInterval);
        }
        if (allSwitch.at(RECORD_TYPE_NRG)) {
            const double vbus = live.getParam(UsbParam::USB_PARAM_VBUS);
            QVector<double>& nrg = allList[RECORD_TYPE_NRG];
            const double last = nrg.isEmpty() ? 0.0 : nrg.constLast();
            nrg.append(last + ((vbus + oldVbus) / 2) * meanIbus / 3600 / 1000 * mInterval);
            oldVbus = vbus;
        }
        oldIbus = s.ibus;
    }
    if (allSwitch.at(RECORD_TYPE_DP)) {
        moved |= updateExtremum(RECORD_TYPE_DP, s.dp);
        allList[RECORD_TYPE_DP].append(s.dp);
    }
    if (allSwitch.at(RECORD_TYPE_DM)) {
        moved |= updateExtremum(RECORD_TYPE_DM, s.dm);
        allList[RECORD_TYPE_DM].append(s.dm);
    }
    time.append((1 / sampleRate) * mCounter);
    ++mCounter;
    return moved;
}

void UsbRecParam::addParam(UsbParam* _usbParam)
{
    if (!_usbParam)
        return;
    const UsbParam& live = *_usbParam;
    bool started = false;
    bool stop = false;
    int recorded = 0;
    std::bitset<RECORD_FIFO_SIZE> extremumMoved; // by recorded point
    {
        QMutexLocker lock(&mutex);
        if (!masterSwitch) {
            // Until the start current is reached the samples keep collecting.
            if (milliAmps(live) < startCurrent)
                return;
            masterSwitch = true;
            started = true;
        }
        if (stopCurrent >= 1 && stopTime >= 1) {
            if (milliAmps(live) <= stopCurrent)
                stopTimed = qMin(stopTimed, std::numeric_limits<int>::max() - kTickMs) + kTickMs;
            else
                stopTimed = 0;
            stop = stopTimed >= qint64(stopTime) * 1000;
        }
        if (!stop) {
            // Above 100 points per second the interval is below one sample
            // spacing: every sample is kept.
            const int step = qMax(1, mInterval / kTickMs);
            recorded = fifoCount() / step;
            for (int i = 0; i < recorded; ++i) {
                const RECORD_T& s = recordFifo.buf[recordFifo.front];
                recordFifo.front = (recordFifo.front + step) % RECORD_FIFO_SIZE;
                extremumMoved[size_t(i)] = recordPoint(s, live);
            }
        }
    }
    if (started)
        emit startRecord();
    if (stop) {
        emit stopRecord();
        return;
    }
    for (int i = 0; i < recorded; ++i) {
        emit accumulateChanged();
        if (extremumMoved[size_t(i)])
            emit extremumChanged();
    }
}

void UsbRecParam::addDeviceCurvesSlot(int _count, QByteArray _buf)
{
    // A block never yields more points than its bytes hold.
    const int count = qBound(0, _count, int(_buf.size() / CURVES_POINT_SIZE));
    {
        QMutexLocker lock(&mutex);
        const auto* p = reinterpret_cast<const uchar*>(_buf.constData());
        for (int k = mCounter; k < mCounter + count; ++k, p += CURVES_POINT_SIZE) {
            time.append((1 / sampleRate) * k);
            const double vbus = qFromLittleEndian<quint32>(p) / 100000.0;
            const double ibus = qFromLittleEndian<quint32>(p + 4) / 100000.0;
            const double pbus = vbus * ibus;
            allList[RECORD_TYPE_VBUS].append(vbus);
            allList[RECORD_TYPE_IBUS].append(ibus);
            allList[RECORD_TYPE_PBUS].append(pbus);
            updateExtremum(RECORD_TYPE_VBUS, vbus);
            updateExtremum(RECORD_TYPE_IBUS, ibus);
            updateExtremum(RECORD_TYPE_PBUS, pbus);
        }
        mCounter += count;
    }
    emit addDeviceCurves(count);
}
