// The recorder (conversion, ring, ticks with their start and stop conditions,
// thinning, extrema, capacity and energy, stored blocks, locking) and the
// curves page with its recording control, bound to simulated meters.

#include "usbRecParam.h"
#include "usbparam.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

using Rec = UsbRecParam;

// Live sample number i: 0.01 V per number from 0.01 V on, so a recorded
// voltage tells which sample it was; 1 A, D+ 3.3 V, D- 0.6 V.
PC_VOL_PARAM_T numberedSample(int i)
{
    PC_VOL_PARAM_T s {};
    s.vol = quint32(i + 1) * 1000;
    s.cur = 100000;
    s.dp = 3300;
    s.dm = 600;
    return s;
}

int sampleNumber(double vbus)
{
    return int(std::lround(vbus * 100)) - 1;
}

PC_VOL_PARAM_QUEUE_T reportOf(const PC_VOL_PARAM_T& s)
{
    PC_VOL_PARAM_QUEUE_T q {};
    for (PC_VOL_PARAM_T& p : q.param)
        p = s;
    return q;
}

QByteArray blockOf(const QVector<QPair<quint32, quint32>>& points)
{
    QByteArray bytes;
    for (const auto& p : points) {
        char le[8];
        qToLittleEndian<quint32>(p.first, le);
        qToLittleEndian<quint32>(p.second, le + 4);
        bytes.append(le, 8);
    }
    return bytes;
}

} // namespace

class tst_Curves : public QObject
{
    Q_OBJECT

private slots:
    // The recorder.
    void conversion_data();
    void conversion();
    void thinning_data();
    void thinning();
    void startCondition_data();
    void startCondition();
    void stopCondition_data();
    void stopCondition();
    void stopCountResetsAbove();
    void capacityAndEnergy();
    void extremaAndSignals();
    void storedBlock();
    void sampleRates_data();
    void sampleRates();
    void noSignalWhileLocked();

private:
    // Writes samples first .. first + count - 1 into the ring, four per report.
    static void writeSamples(Rec& rec, int count, int first = 0);
    static int waiting(const Rec& rec) { return rec.fifoCount(); }
    static QVector<int> recordedNumbers(const Rec& rec);
};

void tst_Curves::writeSamples(Rec& rec, int count, int first)
{
    for (int i = 0; i < count; i += 4) {
        PC_VOL_PARAM_QUEUE_T q {};
        for (int k = 0; k < 4; ++k)
            q.param[k] = numberedSample(first + i + k);
        rec.addRecordFifo(q);
    }
    // The samples of the last report beyond count are taken back.
    const int surplus = (4 - count % 4) % 4;
    rec.recordFifo.rear = uint16_t((rec.recordFifo.rear + RECORD_FIFO_SIZE - surplus) % RECORD_FIFO_SIZE);
}

QVector<int> tst_Curves::recordedNumbers(const Rec& rec)
{
    QVector<int> numbers;
    for (const double v : rec.getRecordParam(Rec::RECORD_TYPE_VBUS))
        numbers << sampleNumber(v);
    return numbers;
}

// ---------------------------------------------------------------------------
// The recorder

void tst_Curves::conversion_data()
{
    QTest::addColumn<quint32>("vol");
    QTest::addColumn<quint32>("cur");
    QTest::addColumn<quint16>("dp");
    QTest::addColumn<quint16>("dm");
    QTest::addColumn<QVector<double>>("expected"); // VBUS, IBUS, D+, D-, PBUS

    QTest::newRow("5 V 1 A") << 500000u << 100000u << quint16(3300) << quint16(600)
                             << QVector<double> { 5.0, 1.0, 3.3, 0.6, 5.0 };
    QTest::newRow("0 V forces current and power to 0")
        << 0u << 250000u << quint16(10) << quint16(20) << QVector<double> { 0.0, 0.0, 0.01, 0.02, 0.0 };
    QTest::newRow("largest raw values are unsigned")
        << 0xFFFFFFFFu << 0xFFFFFFFFu << quint16(0xFFFF) << quint16(0xFFFF)
        << QVector<double> { 42949.67295, 42949.67295, 65.535, 65.535, 42949.67295 * 42949.67295 };
}

void tst_Curves::conversion()
{
    QFETCH(quint32, vol);
    QFETCH(quint32, cur);
    QFETCH(quint16, dp);
    QFETCH(quint16, dm);
    QFETCH(QVector<double>, expected);

    Rec rec;
    UsbParam live;
    live.setParam(1.0, UsbParam::USB_PARAM_IBUS);
    rec.setSwitchAll(true);
    rec.setSampleRate(100);
    PC_VOL_PARAM_T s {};
    s.vol = vol;
    s.cur = cur;
    s.dp = dp;
    s.dm = dm;
    rec.addRecordFifo(reportOf(s));
    rec.addParam(&live);

    QCOMPARE(rec.getRecordedCount(), 4);
    const Rec::RECORD_TYPE_E channels[] = { Rec::RECORD_TYPE_VBUS, Rec::RECORD_TYPE_IBUS, Rec::RECORD_TYPE_DP,
        Rec::RECORD_TYPE_DM, Rec::RECORD_TYPE_PBUS };
    for (int c = 0; c < 5; ++c) {
        const QVector<double> list = rec.getRecordParam(channels[c]);
        QCOMPARE(list.size(), 4);
        QCOMPARE(list.first(), expected[c]);
    }
}

void tst_Curves::thinning_data()
{
    QTest::addColumn<int>("written");
    QTest::addColumn<double>("rate");
    QTest::addColumn<QVector<int>>("recorded"); // sample numbers
    QTest::addColumn<int>("left");

    QVector<int> newest1023;
    for (int i = 9; i < 1032; ++i)
        newest1023 << i;

    QTest::newRow("empty ring") << 0 << 50.0 << QVector<int>() << 0;
    QTest::newRow("fewer than the step wait") << 4 << 20.0 << QVector<int>() << 4;
    QTest::newRow("seven at step 2: 1st, 3rd, 5th") << 7 << 50.0 << QVector<int> { 0, 2, 4 } << 1;
    QTest::newRow("step 1 keeps all") << 8 << 100.0 << QVector<int> { 0, 1, 2, 3, 4, 5, 6, 7 } << 0;
    QTest::newRow("0.2 per second keeps one in 500") << 1020 << 0.2 << QVector<int> { 0, 500 } << 20;
    QTest::newRow("above 100 per second takes step 1") << 5 << 1000.0 << QVector<int> { 0, 1, 2, 3, 4 } << 0;
    QTest::newRow("a full ring keeps the newest 1023") << 1032 << 100.0 << newest1023 << 0;
}

void tst_Curves::thinning()
{
    QFETCH(int, written);
    QFETCH(double, rate);
    QFETCH(QVector<int>, recorded);
    QFETCH(int, left);

    Rec rec;
    UsbParam live;
    live.setParam(1.0, UsbParam::USB_PARAM_IBUS);
    rec.setSampleRate(rate);
    writeSamples(rec, written);
    QSignalSpy accumulated(&rec, &Rec::accumulateChanged);
    rec.addParam(&live);

    QCOMPARE(recordedNumbers(rec), recorded);
    QCOMPARE(waiting(rec), left);
    QCOMPARE(accumulated.count(), recorded.size());
    QCOMPARE(rec.getRecordedCount(), recorded.size());
    // Point k is at k / rate seconds, whichever sample it came from.
    const QVector<double> t = rec.getRecordTime();
    QCOMPARE(t.size(), recorded.size());
    for (int k = 0; k < t.size(); ++k)
        QCOMPARE(t[k], (1 / rate) * k);
}

void tst_Curves::startCondition_data()
{
    QTest::addColumn<int>("startCurrent");
    QTest::addColumn<double>("current");
    QTest::addColumn<bool>("starts");

    QTest::newRow("49.9 mA is 49: waits") << 50 << 0.0499 << false;
    QTest::newRow("50 mA starts") << 50 << 0.050 << true;
    QTest::newRow("start current 0 starts at 0 A") << 0 << 0.0 << true;
    QTest::newRow("negative current waits") << 0 << -0.002 << false;
}

void tst_Curves::startCondition()
{
    QFETCH(int, startCurrent);
    QFETCH(double, current);
    QFETCH(bool, starts);

    Rec rec;
    UsbParam live;
    live.setParam(current, UsbParam::USB_PARAM_IBUS);
    rec.setSampleRate(100);
    rec.setStartCurrent(startCurrent);
    QSignalSpy started(&rec, &Rec::startRecord);

    // Samples collect while waiting and are recorded first once it starts.
    writeSamples(rec, 8);
    rec.addParam(&live);
    writeSamples(rec, 4, 8);
    rec.addParam(&live);

    QCOMPARE(rec.getMasterSwitch(), starts);
    QCOMPARE(started.count(), starts ? 1 : 0);
    const QVector<int> all { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 };
    QCOMPARE(recordedNumbers(rec), starts ? all : QVector<int>());
    QCOMPARE(waiting(rec), starts ? 0 : 12);
}

void tst_Curves::stopCondition_data()
{
    QTest::addColumn<int>("stopCurrent");
    QTest::addColumn<int>("stopTime");
    QTest::addColumn<double>("current");
    QTest::addColumn<int>("stopTick"); // first tick that emits, 0: none in 1000

    QTest::newRow("equal counts: stops on tick 500") << 100 << 5 << 0.100 << 500;
    QTest::newRow("below, 1 s: tick 100") << 100 << 1 << 0.0 << 100;
    QTest::newRow("above never stops") << 100 << 5 << 0.101 << 0;
    QTest::newRow("stop current 0 never stops") << 0 << 5 << 0.0 << 0;
    QTest::newRow("stop time 0 never stops") << 100 << 0 << 0.0 << 0;
}

void tst_Curves::stopCondition()
{
    QFETCH(int, stopCurrent);
    QFETCH(int, stopTime);
    QFETCH(double, current);
    QFETCH(int, stopTick);

    Rec rec;
    UsbParam live;
    live.setParam(current, UsbParam::USB_PARAM_IBUS);
    rec.setSampleRate(100);
    rec.setMasterSwitch(true);
    rec.setStopCurrent(stopCurrent);
    rec.setStopTime(stopTime);
    QSignalSpy stopped(&rec, &Rec::stopRecord);

    int firstStop = 0;
    for (int tick = 1; tick <= 1000 && !firstStop; ++tick) {
        rec.addParam(&live);
        if (stopped.count())
            firstStop = tick;
    }
    QCOMPARE(firstStop, stopTick);
    if (!stopTick)
        return;
    // The stopping tick leaves the ring alone, and every later tick stops again.
    writeSamples(rec, 4);
    rec.addParam(&live);
    rec.addParam(&live);
    QCOMPARE(stopped.count(), 3);
    QCOMPARE(waiting(rec), 4);
    QVERIFY(rec.getMasterSwitch());
}

void tst_Curves::stopCountResetsAbove()
{
    Rec rec;
    UsbParam live;
    rec.setSampleRate(100);
    rec.setMasterSwitch(true);
    rec.setStopCurrent(100);
    rec.setStopTime(5);
    QSignalSpy stopped(&rec, &Rec::stopRecord);

    live.setParam(0.05, UsbParam::USB_PARAM_IBUS);
    for (int i = 0; i < 499; ++i)
        rec.addParam(&live);
    live.setParam(0.2, UsbParam::USB_PARAM_IBUS);
    rec.addParam(&live);
    live.setParam(0.05, UsbParam::USB_PARAM_IBUS);
    for (int i = 0; i < 499; ++i)
        rec.addParam(&live);
    QCOMPARE(stopped.count(), 0);
    rec.addParam(&live);
    QCOMPARE(stopped.count(), 1);
}

void tst_Curves::capacityAndEnergy()
{
    // 1 point per second of 1.8 A at a live 5 V: the first point's trapezoid
    // starts from 0 A and 0 V, the second is a full 1.8 A by 5 V second.
    Rec rec;
    UsbParam live;
    live.setParam(1.8, UsbParam::USB_PARAM_IBUS);
    live.setParam(5.0, UsbParam::USB_PARAM_VBUS);
    rec.setSampleRate(1);
    PC_VOL_PARAM_T s {};
    s.vol = 500000;
    s.cur = 180000;
    for (int i = 0; i < 50; ++i)
        rec.addRecordFifo(reportOf(s)); // 200 samples: two points
    rec.addParam(&live);

    const QVector<double> cap = rec.getRecordParam(Rec::RECORD_TYPE_CAP);
    const QVector<double> nrg = rec.getRecordParam(Rec::RECORD_TYPE_NRG);
    QCOMPARE(cap.size(), 2);
    QCOMPARE(nrg.size(), 2);
    QVERIFY(qFuzzyCompare(cap[0], 0.9 / 3600));
    QVERIFY(qFuzzyCompare(cap[1], 0.9 / 3600 + 1.8 / 3600));
    QVERIFY(qFuzzyCompare(nrg[0], 2.5 * 0.9 / 3600));
    QVERIFY(qFuzzyCompare(nrg[1], 2.5 * 0.9 / 3600 + 5.0 * 1.8 / 3600));

    // NRG alone still keeps the running current.
    rec.clearRecordParam();
    rec.setSwitchAll(false);
    rec.setSwitch(Rec::RECORD_TYPE_NRG, true);
    for (int i = 0; i < 50; ++i)
        rec.addRecordFifo(reportOf(s));
    rec.addParam(&live);
    QVERIFY(rec.getRecordParam(Rec::RECORD_TYPE_CAP).isEmpty());
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_NRG), nrg);
}

void tst_Curves::extremaAndSignals()
{
    Rec rec;
    UsbParam live;
    live.setParam(1.0, UsbParam::USB_PARAM_IBUS);
    rec.setSampleRate(100);
    rec.setSwitchAll(true);
    for (int c = 0; c < Rec::RECORD_EXTREMUM_COUNT; ++c) {
        QCOMPARE(rec.getExtremum(c, Rec::RECORD_MAX), 0.0);
        QCOMPARE(rec.getExtremum(c, Rec::RECORD_MIN), 9999.99999);
    }

    QSignalSpy extremum(&rec, &Rec::extremumChanged);
    QSignalSpy accumulated(&rec, &Rec::accumulateChanged);
    writeSamples(rec, 4, 4); // 0.05 V rising to 0.08 V
    rec.addParam(&live);
    // Every point raises the VBUS maximum; the first also sets every minimum.
    QCOMPARE(extremum.count(), 4);
    QCOMPARE(accumulated.count(), 4);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_VBUS, Rec::RECORD_MAX), 0.08);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_VBUS, Rec::RECORD_MIN), 0.05);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_DP, Rec::RECORD_MAX), 3.3);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_DP, Rec::RECORD_MIN), 3.3);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_DM, Rec::RECORD_MIN), 0.6);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_PBUS, Rec::RECORD_MIN), 0.05);

    // The same values again move no extremum.
    writeSamples(rec, 4, 4);
    rec.addParam(&live);
    QCOMPARE(extremum.count(), 4);
    QCOMPARE(accumulated.count(), 8);

    // Clearing resets extrema, lists and counter, keeps switches and settings.
    rec.clearRecordParam();
    QCOMPARE(extremum.count(), 5);
    QCOMPARE(accumulated.count(), 9);
    QCOMPARE(rec.getRecordedCount(), 0);
    QVERIFY(rec.getRecordTime().isEmpty());
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_DM, Rec::RECORD_MAX), 0.0);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_DM, Rec::RECORD_MIN), 9999.99999);
    QCOMPARE(rec.getRecordingList().size(), 7);
    QCOMPARE(rec.getInterval(), 10);
}

void tst_Curves::storedBlock()
{
    Rec rec;
    rec.setSampleRate(250);
    rec.setRecordedCount(3); // continues the numbering of what is held
    QSignalSpy blocks(&rec, &Rec::addDeviceCurves);
    QSignalSpy extremum(&rec, &Rec::extremumChanged);
    QSignalSpy accumulated(&rec, &Rec::accumulateChanged);

    QVector<QPair<quint32, quint32>> points;
    for (quint32 i = 0; i < 7; ++i)
        points << qMakePair(500000u + i * 1000, 0u + i * 10000); // 5.00 V .. 5.06 V, 0 A .. 0.6 A
    points[0].first = 0; // no 0 V rule here: the current stays
    points[0].second = 20000;
    rec.addDeviceCurvesSlot(7, blockOf(points));

    QCOMPARE(blocks.count(), 1);
    QCOMPARE(blocks.first().first().toInt(), 7);
    QCOMPARE(extremum.count(), 0);
    QCOMPARE(accumulated.count(), 0);
    QCOMPARE(rec.getRecordedCount(), 10);
    const QVector<double> t = rec.getRecordTime();
    QCOMPARE(t.size(), 7);
    QCOMPARE(t.first(), (1 / 250.0) * 3);
    QCOMPARE(t.last(), (1 / 250.0) * 9);
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_VBUS).size(), 7);
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_IBUS).first(), 0.2);
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_PBUS).last(), 5.06 * 0.6);
    QVERIFY(rec.getRecordParam(Rec::RECORD_TYPE_CAP).isEmpty());
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_VBUS, Rec::RECORD_MIN), 0.0);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_VBUS, Rec::RECORD_MAX), 5.06);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_IBUS, Rec::RECORD_MIN), 0.1);
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_PBUS, Rec::RECORD_MAX), 5.06 * 0.6);

    // A count beyond the bytes yields only the points the bytes hold.
    rec.addDeviceCurvesSlot(7, blockOf(points.mid(0, 2)));
    QCOMPARE(blocks.last().first().toInt(), 2);
    QCOMPARE(rec.getRecordedCount(), 12);
}

void tst_Curves::sampleRates_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("expectedRate"); // the recorder starts at 0.2
    QTest::addColumn<int>("interval");

    const double rates[] = { 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 800, 1000 };
    const int intervals[] = { 5000, 2000, 1000, 500, 200, 100, 50, 20, 10, 5, 2, 1, 1 };
    for (int i = 0; i < 13; ++i)
        QTest::addRow("%g", rates[i]) << rates[i] << rates[i] << intervals[i];
    QTest::newRow("0 ignored") << 0.0 << 0.2 << 5000;
    QTest::newRow("negative ignored") << -1.0 << 0.2 << 5000;
    QTest::newRow("NaN ignored") << std::nan("") << 0.2 << 5000;
    QTest::newRow("infinite ignored") << std::numeric_limits<double>::infinity() << 0.2 << 5000;
    QTest::newRow("interval beyond int ignored") << 4.0e-7 << 0.2 << 5000;
    QTest::newRow("1e-300 ignored") << 1e-300 << 0.2 << 5000;
}

void tst_Curves::sampleRates()
{
    QFETCH(double, rate);
    QFETCH(double, expectedRate);
    QFETCH(int, interval);
    Rec rec;
    rec.setSampleRate(rate);
    QCOMPARE(rec.getSampleRate(), expectedRate);
    QCOMPARE(rec.getInterval(), interval);
}

void tst_Curves::noSignalWhileLocked()
{
    // Handlers in the same thread would deadlock on the recorder's mutex if
    // a signal came while it is held; tryLock tells without hanging.
    Rec rec;
    UsbParam live;
    live.setParam(1.0, UsbParam::USB_PARAM_IBUS);
    rec.setSampleRate(100);
    rec.setStopCurrent(2000);
    rec.setStopTime(1);
    rec.setSwitchAll(true);
    int emitted = 0;
    int locked = 0;
    const auto check = [&]() {
        ++emitted;
        if (rec.mutex.tryLock())
            rec.mutex.unlock();
        else
            ++locked;
    };
    connect(&rec, &Rec::extremumChanged, this, check);
    connect(&rec, &Rec::accumulateChanged, this, check);
    connect(&rec, &Rec::startRecord, this, check);
    connect(&rec, &Rec::stopRecord, this, check);
    connect(&rec, &Rec::addDeviceCurves, this, check);

    rec.clearRecordParam();
    writeSamples(rec, 8);
    for (int i = 0; i < 100; ++i)
        rec.addParam(&live);
    rec.addDeviceCurvesSlot(1, blockOf({ qMakePair(1u, 1u) }));
    // clear (2), start, 8 points each with a rising maximum (16), stop, block
    QCOMPARE(emitted, 2 + 1 + 16 + 1 + 1);
    QCOMPARE(locked, 0);
}

QTEST_MAIN(tst_Curves)
#include "tst_curves.moc"
