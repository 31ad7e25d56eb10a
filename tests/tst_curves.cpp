// The recorder (conversion, ring, ticks with their start and stop conditions,
// thinning, extrema, capacity and energy, stored blocks, locking) and the
// curves page with its recording control, bound to simulated meters.

#include "com_layer.h"
#include "curvefile.h"
#include "dacoverride.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "lmmulticurvesplot.h"
#include "lmwaitdialog.h"
#include "modalresponder.h"
#include "openonarrival.h"
#include "ui_usbgen.h"
#include "usbRecParam.h"
#include "usbevent.h"
#include "usbgen.h"
#include "usbparam.h"

#include <QApplication>
#include <QColorDialog>
#include <QPointer>
#include <QProgressBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QThread>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <limits>
#include <memory>
#include <sys/resource.h>

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
    void capacityAndEnergy();
    void extremaAndSignals();
    void storedBlock();
    void sampleRates_data();
    void sampleRates();
    void noSignalWhileLocked();

    // The page.
    void initTestCase();
    void init();
    void cleanup();
    void newPage();
    void rateLabels_data();
    void rateLabels();
    void recordAndDisplay_data();
    void recordAndDisplay();
    void colourGoesToItsCurve_data();
    void colourGoesToItsCurve();
    void createRefused_data();
    void createRefused();
    void createLocksUnrecordedRows();
    void states_data();
    void states();
    void resumeDiscardsPausedSamples();
    void plotFeed_data();
    void plotFeed();
    void treeTexts_data();
    void treeTexts();
    void shownAfterRecording_data();
    void shownAfterRecording();
    void languageChange();
    void removedWhileWarningOpen();
    void recordingAgainstMeter();
    void goneMidRecording_data();
    void goneMidRecording();

    // Curve files and the import.
    void openQuestion_data();
    void openQuestion();
    void fileRoundTrip_data();
    void fileRoundTrip();
    void fileRefused_data();
    void fileRefused();
    void importAgainstMeter_data();
    void importAgainstMeter();
    void importTakesWhatItAskedFor_data();
    void importTakesWhatItAskedFor();
    void removedUnderDialog_data();
    void removedUnderDialog();

private:
    // Writes samples first .. first + count - 1 into the ring, four per report.
    static void writeSamples(Rec& rec, int count, int first = 0);
    static int waiting(const Rec& rec) { return rec.fifoCount(); }
    static QVector<int> recordedNumbers(const Rec& rec);

    // A page built, as the device window builds it, inside the registry's
    // arrival signal, laid out in the host.
    UsbGen* openPage(const hidsim::MeterConfig& config);
    // A page on a meter that never streams, in application mode, shown.
    UsbGen* openQuiet(const QString& serial = QStringLiteral("QUIET1"));
    void switchLanguage(QTranslator* to);
    static void flushRecorder(UsbGen* page);
    // Drives Create, Start, Pause, Stop; "current" lets the recording start.
    static void drive(UsbGen* page, const QStringList& actions);
    // What the page shows and the recorder holds, to tell whether anything changed.
    static QStringList fingerprint(UsbGen* page);
    // Set up with exactly these channels recorded and shown.
    static void checkLoaded(UsbGen* page, const QList<quint16>& channels);
    QString writeFile(const QString& name, const QByteArray& bytes);
    // A page on a meter in application mode that answers nothing at all.
    UsbGen* openSilent(const hidsim::MeterId& id);

    QTemporaryDir files;

    std::unique_ptr<QWidget> host;
    QTranslator english;
    QTranslator german;
    QTranslator* current = nullptr;
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
    QTest::addColumn<int>("aboveAt"); // one tick at 0.2 A, 0: none
    QTest::addColumn<int>("stopTick"); // first tick that stops, 0: none in 1000

    QTest::newRow("equal counts: stops on tick 500") << 100 << 5 << 0.100 << 0 << 500;
    QTest::newRow("one tick above restarts the count") << 100 << 5 << 0.05 << 499 << 999;
    QTest::newRow("above never stops") << 100 << 5 << 0.101 << 0 << 0;
    QTest::newRow("stop current 0 never stops") << 0 << 5 << 0.0 << 0 << 0;
    QTest::newRow("stop time 0 never stops") << 100 << 0 << 0.0 << 0 << 0;
}

void tst_Curves::stopCondition()
{
    QFETCH(int, stopCurrent);
    QFETCH(int, stopTime);
    QFETCH(double, current);
    QFETCH(int, aboveAt);
    QFETCH(int, stopTick);

    Rec rec;
    UsbParam live;
    rec.setMasterSwitch(true);
    rec.setStopCurrent(stopCurrent);
    rec.setStopTime(stopTime);
    QSignalSpy stopped(&rec, &Rec::stopRecord);
    int firstStop = 0;
    for (int tick = 1; tick <= 1000 && !firstStop; ++tick) {
        live.setParam(tick == aboveAt ? 0.2 : current, UsbParam::USB_PARAM_IBUS);
        rec.addParam(&live);
        firstStop = stopped.count() ? tick : 0;
    }
    QCOMPARE(firstStop, stopTick);
    if (!stopTick)
        return;
    // The stopping tick leaves the ring alone, and every later tick stops again.
    writeSamples(rec, 4);
    rec.addParam(&live);
    QCOMPARE(stopped.count(), 2);
    QCOMPARE(waiting(rec), 4);
    // The next recording counts afresh.
    rec.clearRecordParam();
    rec.addParam(&live);
    QCOMPARE(stopped.count(), 2);
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
    QCOMPARE(nrg.size(), 2);
    QVERIFY(qFuzzyCompare(cap[0], 0.9 / 3600));
    QVERIFY(qFuzzyCompare(cap[1], 0.9 / 3600 + 1.8 / 3600));
    QVERIFY(qFuzzyCompare(nrg[0], 2.5 * 0.9 / 3600));
    QVERIFY(qFuzzyCompare(nrg[1], 2.5 * 0.9 / 3600 + 5.0 * 1.8 / 3600));

    // NRG alone still keeps the running current.
    rec.clearRecordParam();
    rec.setSwitch(Rec::RECORD_TYPE_CAP, false);
    for (int i = 0; i < 50; ++i)
        rec.addRecordFifo(reportOf(s));
    rec.addParam(&live);
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
    const double expected[5][2] = { { 0.08, 0.05 }, { 1, 1 }, { 3.3, 3.3 }, { 0.6, 0.6 }, { 0.08, 0.05 } };
    for (int c = 0; c < Rec::RECORD_EXTREMUM_COUNT; ++c) {
        QCOMPARE(rec.getExtremum(c, Rec::RECORD_MAX), expected[c][0]);
        QCOMPARE(rec.getExtremum(c, Rec::RECORD_MIN), expected[c][1]);
    }

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
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_DM, Rec::RECORD_MIN), 9999.99999);
    QCOMPARE(rec.getRecordingList().size(), 7);
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
    QCOMPARE(extremum.count() + accumulated.count(), 0);
    QCOMPARE(rec.getRecordedCount(), 10);
    const QVector<double> t = rec.getRecordTime();
    QCOMPARE(t.size(), 7);
    QCOMPARE(t.last(), (1 / 250.0) * 9);
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_VBUS).size(), 7);
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_IBUS).first(), 0.2);
    QCOMPARE(rec.getRecordParam(Rec::RECORD_TYPE_PBUS).last(), 5.06 * 0.6);
    QVERIFY(rec.getRecordParam(Rec::RECORD_TYPE_CAP).isEmpty());
    QCOMPARE(rec.getExtremum(Rec::RECORD_TYPE_VBUS, Rec::RECORD_MIN), 0.0);
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

// ---------------------------------------------------------------------------
// The page

namespace {

hidsim::MeterId meterId(const QString& serial)
{
    hidsim::MeterId id;
    id.vid = knownMeters[1].vid;
    id.pid = knownMeters[1].pid;
    id.serial = serial;
    return id;
}

void clickCell(QTableView* view, int row, int column)
{
    const QRect cell = view->visualRect(view->model()->index(row, column));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
}

bool cellValue(const QTableView* view, int row, int column)
{
    return view->model()->index(row, column).data().toBool();
}

// The table and row of a channel: main rows 0..3, auxiliary rows 4..6.
QTableView* tableOf(Ui::UsbGen* ui, int channel)
{
    return channel < 4 ? ui->tableRecord : ui->tableAider;
}

int rowOf(int channel)
{
    return channel < 4 ? channel : channel - 4;
}

// Create, Start, Pause, Stop: 1 enabled, 0 not.
QString buttonsEnabled(const Ui::UsbGen* ui)
{
    QString enabled;
    for (const QPushButton* b : { ui->btnCreate, ui->btnStart, ui->btnPause, ui->btnStop })
        enabled += b->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return enabled;
}

QCPGraph* graphNamed(const LMMultiCurvesPlot* plot, const QString& name)
{
    for (int i = 0; i < plot->graphCount(); ++i) {
        if (plot->graph(i)->name() == name)
            return plot->graph(i);
    }
    return nullptr;
}

} // namespace

void tst_Curves::initTestCase()
{
    QVERIFY(english.load(QStringLiteral(":/ts/Translation_EN.qm")));
    QVERIFY(german.load(QStringLiteral(":/ts/Translation_GE.qm")));
    QCoreApplication::installTranslator(&english);
    current = &english;
}

void tst_Curves::init()
{
    hidsim::reset();
    host = std::make_unique<QWidget>();
    host->resize(1093, 667);
    auto* layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(0, 0, 0, 0);
}

void tst_Curves::cleanup()
{
    // Pages go before their connections, as on a removal.
    host.reset();
    UsbEvent::resetInstance();
    hidsim::reset();
    if (current != &english)
        switchLanguage(&english);
}

UsbGen* tst_Curves::openPage(const hidsim::MeterConfig& config)
{
    hidsim::plug(config);
    UsbGen* created = openOnArrival<UsbGen>(host.get());
    if (created)
        host->layout()->addWidget(created);
    return created;
}

UsbGen* tst_Curves::openQuiet(const QString& serial)
{
    hidsim::MeterConfig config;
    config.id = meterId(serial);
    config.answersIdentity = false;
    UsbGen* page = openPage(config);
    if (!page || !page->comLayer)
        return nullptr;
    page->comLayer->devMsg.runMode = 2;
    host->show();
    return page;
}

void tst_Curves::switchLanguage(QTranslator* to)
{
    QCoreApplication::removeTranslator(current);
    QCoreApplication::installTranslator(to);
    current = to;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}

// Runs everything queued to the recorder, then what it sent back.
void tst_Curves::flushRecorder(UsbGen* page)
{
    QMetaObject::invokeMethod(
        page->usbRecParam, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents();
}

void tst_Curves::drive(UsbGen* page, const QStringList& actions)
{
    Ui::UsbGen* ui = page->ui;
    for (const QString& action : actions) {
        if (action == QLatin1String("create"))
            ui->btnCreate->click();
        else if (action == QLatin1String("start"))
            ui->btnStart->click();
        else if (action == QLatin1String("pause"))
            ui->btnPause->click();
        else if (action == QLatin1String("stop"))
            ui->btnStop->click();
        else if (action == QLatin1String("late start"))
            QMetaObject::invokeMethod(page, &UsbGen::startRecordSlot, Qt::QueuedConnection);
        else if (action == QLatin1String("deliver"))
            QCoreApplication::sendPostedEvents(page, QEvent::MetaCall);
        // The live current reaches the start current of 50 mA.
        if (action == QLatin1String("current")) {
            page->comLayer->usbParam.setParam(0.05, UsbParam::USB_PARAM_IBUS);
            QTRY_COMPARE_WITH_TIMEOUT(ui->labelStatus->text(), QStringLiteral("Recording..."), 5000);
        }
    }
}

void tst_Curves::newPage()
{
    UsbGen* page = openQuiet();
    QVERIFY(page);
    QCOMPARE(page->sampleRate2Index.value(100, -1), 8);
    QCOMPARE(page->sampleRate2Index.value(1000, -1), 12);
    QVERIFY(!page->sampleRate2Index.contains(3));
    // The tree rows follow the default Display column: VBUS, IBUS and TIME.
    for (int c = 0; c < 7; ++c)
        QCOMPARE(!page->channelTreeItem(c)->isHidden(), c < 2);
    QVERIFY(!page->allAccumulate[0]->isHidden());
    QCOMPARE(page->allExtremumMIN[2]->text(1), QStringLiteral("9999.99999 V"));
    QCOMPARE(page->ui->customPlot->getIndexList(), (QList<quint16> { 0, 1 }));
    QCOMPARE(page->usbRecParam->thread(), page->thread);
    const QRgb colours[7] = { 0xFFFF00, 0x00FF00, 0xFF0000, 0x0672FF, 0xFF55FF, 0xFF5500, 0xFFAA00 };
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(page->ui->customPlot->getCurvesColor(quint16(c)), QColor(colours[c]));
        QCOMPARE(tableOf(page->ui, c)->model()->index(rowOf(c), 1).data().value<QColor>(), QColor(colours[c]));
    }
}

void tst_Curves::rateLabels_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("text");

    const char* texts[9]
        = { "0.20sps", "0.50sps", "1.00sps", "2.00sps", "5.00sps", "10.0sps", "20.0sps", "50.0sps", " 100sps" };
    for (int i = 0; i < 9; ++i)
        QTest::addRow("%d", i) << i << i << QString::fromLatin1(texts[i]);
    for (int i = 9; i <= 12; ++i)
        QTest::addRow("%d clamps to 8", i) << i << 8 << QStringLiteral(" 100sps");
}

void tst_Curves::rateLabels()
{
    QFETCH(int, position);
    QFETCH(int, shown);
    QFETCH(QString, text);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    QSlider* slider = page->ui->hsliderSample;
    slider->setValue(position == 1 ? 2 : 1);
    slider->setValue(position);
    QCOMPARE(slider->value(), shown);
    QCOMPARE(page->ui->labelSamValue->text(), text);
}

void tst_Curves::recordAndDisplay_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QList<int>>("clicks"); // columns, in order
    QTest::addColumn<bool>("record");
    QTest::addColumn<bool>("display");
    QTest::addColumn<QString>("legend");
    QTest::addColumn<QString>("treeRow"); // parent / row

    QTest::newRow("IBUS Record off hides it") << 1 << QList<int> { 2 } << false << false << "IBUS"
                                              << "Extremum/IBUS";
    QTest::newRow("IBUS Record on again shows nothing") << 1 << QList<int> { 2, 2 } << true << false << "IBUS"
                                                        << "Extremum/IBUS";
    QTest::newRow("D+ Display records and shows") << 2 << QList<int> { 3 } << true << true << "D P"
                                                  << "Extremum/DP";
    QTest::newRow("Display off keeps Record") << 0 << QList<int> { 3 } << true << false << "VBUS"
                                              << "Extremum/VBUS";
    QTest::newRow("PBUS Display") << 4 << QList<int> { 3 } << true << true << "PBUS"
                                  << "Extremum/PBUS";
    QTest::newRow("CAP Display") << 5 << QList<int> { 3 } << true << true << "CAP"
                                 << "Accumulated/CAP";
    QTest::newRow("NRG Record off") << 6 << QList<int> { 2 } << false << false << "NRG"
                                    << "Accumulated/NRG";
}

void tst_Curves::recordAndDisplay()
{
    QFETCH(int, channel);
    QFETCH(QList<int>, clicks);
    QFETCH(bool, record);
    QFETCH(bool, display);
    QFETCH(QString, legend);
    QFETCH(QString, treeRow);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    QTableView* view = tableOf(page->ui, channel);
    for (const int column : clicks)
        clickCell(view, rowOf(channel), column);

    QCOMPARE(cellValue(view, rowOf(channel), 2), record);
    QCOMPARE(cellValue(view, rowOf(channel), 3), display);
    QCOMPARE(page->ui->customPlot->isHaveCurve(quint16(channel)), display);
    QCOMPARE(graphNamed(page->ui->customPlot, legend) != nullptr, display);
    const QTreeWidgetItem* item = page->channelTreeItem(channel);
    QCOMPARE(item->parent()->text(0) + QLatin1Char('/') + item->text(0), treeRow);
    QCOMPARE(!item->isHidden(), display);
    // The recorder's switches wait for the next set-up.
    QCOMPARE(page->usbRecParam->getRecordingList(), (QList<quint16> { 0, 1, 5, 6 }));
}

void tst_Curves::colourGoesToItsCurve_data()
{
    QTest::addColumn<int>("channel");
    QTest::newRow("main row 1: IBUS") << 1;
    QTest::newRow("auxiliary row 2: NRG") << 6;
}

void tst_Curves::colourGoesToItsCurve()
{
    QFETCH(int, channel);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    LMMultiCurvesPlot* plot = page->ui->customPlot;
    QVector<QColor> before;
    for (int c = 0; c < 7; ++c)
        before << plot->getCurvesColor(quint16(c));

    const QColor picked(12, 34, 56);
    const auto seen = answerNextModal([picked](QWidget* d) {
        if (auto* dialog = qobject_cast<QColorDialog*>(d)) {
            dialog->setCurrentColor(picked);
            dialog->accept();
        } else {
            static_cast<QDialog*>(d)->reject();
        }
    });
    clickCell(tableOf(page->ui, channel), rowOf(channel), 1);
    QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(plot->getCurvesColor(quint16(channel)), picked, 5000);
    for (int c = 0; c < 7; ++c) {
        if (c != channel)
            QCOMPARE(plot->getCurvesColor(quint16(c)), before[c]);
    }
}

void tst_Curves::createRefused_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<bool>("noRecord");
    QTest::addColumn<QString>("text");

    QTest::newRow("bootloader") << 1 << false << "Please switch to application mode.";
    QTest::newRow("identity not yet known") << 0 << false << "Please switch to application mode.";
    QTest::newRow("no Record ticked") << 2 << true << "Please open at least one record.";
}

void tst_Curves::createRefused()
{
    QFETCH(int, runMode);
    QFETCH(bool, noRecord);
    QFETCH(QString, text);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    page->comLayer->devMsg.runMode = quint8(runMode);
    if (noRecord) {
        for (int c = 0; c < 7; ++c)
            tableOf(page->ui, c)->model()->setData(tableOf(page->ui, c)->model()->index(rowOf(c), 2), false);
    }
    const auto seen = answerMessageBox(QMessageBox::Ok);
    page->ui->btnCreate->click();
    QVERIFY(seen->seen);
    QCOMPARE(seen->title, QStringLiteral("WARNING"));
    QCOMPARE(seen->text, text);
    QVERIFY(page->ui->btnCreate->isEnabled());
    QVERIFY(!page->ui->btnStart->isEnabled());
    QVERIFY(page->ui->hsliderSample->isEnabled());
}

void tst_Curves::createLocksUnrecordedRows()
{
    UsbGen* page = openQuiet();
    QVERIFY(page);
    Ui::UsbGen* ui = page->ui;
    ui->btnCreate->click();
    QCOMPARE(page->usbRecParam->getRecordingList(), (QList<quint16> { 0, 1, 5, 6 }));
    QCOMPARE(ui->customPlot->getIndexList(), (QList<quint16> { 0, 1 }));

    // Record is locked everywhere, Display where the row is not recorded.
    clickCell(ui->tableRecord, 0, 2);
    clickCell(ui->tableRecord, 2, 3);
    clickCell(ui->tableAider, 0, 3);
    QVERIFY(cellValue(ui->tableRecord, 0, 2));
    QVERIFY(!cellValue(ui->tableRecord, 2, 3));
    QVERIFY(!cellValue(ui->tableAider, 0, 3));
    // A recorded row can be hidden and shown while recording.
    clickCell(ui->tableRecord, 1, 3);
    QVERIFY(!ui->customPlot->isHaveCurve(1));
    clickCell(ui->tableAider, 1, 3);
    QVERIFY(ui->customPlot->isHaveCurve(5));

    ui->btnStop->click();
    clickCell(ui->tableRecord, 2, 3);
    QVERIFY(cellValue(ui->tableRecord, 2, 3));
    QVERIFY(ui->customPlot->isHaveCurve(2));
}

void tst_Curves::states_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("buttons"); // Create, Start, Pause, Stop; 1 enabled
    QTest::addColumn<bool>("controls");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("ticking"); // the timers run and the plot's drag and zoom are locked

    const QString idle = QStringLiteral("color: #d6cf9a");
    const QString green = QStringLiteral("color: #00ff00");
    const QString red = QStringLiteral("color: red");
    QTest::newRow("idle") << QStringList() << "1000" << true << "Idle" << idle << false;
    QTest::newRow("set up") << QStringList { "create" } << "0101" << false << "Idle" << idle << false;
    QTest::newRow("waiting") << QStringList { "create", "start" } << "0011" << false << "Wait for start condition"
                             << idle << true;
    QTest::newRow("recording") << QStringList { "create", "start", "current" } << "0011" << false << "Recording..."
                               << green << true;
    QTest::newRow("paused") << QStringList { "create", "start", "current", "pause" } << "0101" << false << "Pause"
                            << red << false;
    QTest::newRow("paused while waiting")
        << QStringList { "create", "start", "pause" } << "0101" << false << "Pause" << red << false;
    QTest::newRow("resumed") << QStringList { "create", "start", "current", "pause", "start" } << "0011" << false
                             << "Recording..." << green << true;
    QTest::newRow("stopped") << QStringList { "create", "start", "current", "stop" } << "1000" << true << "Idle" << idle
                             << false;
    QTest::newRow("stopped when set up") << QStringList { "create", "stop" } << "1000" << true << "Idle" << idle
                                         << false;
    // The recorder's start signal is queued; the button pressed meanwhile stands.
    QTest::newRow("start signal behind Pause") << QStringList { "create", "start", "late start", "pause", "deliver" }
                                               << "0101" << false << "Pause" << red << false;
    QTest::newRow("start signal behind Stop") << QStringList { "create", "start", "late start", "stop", "deliver" }
                                              << "1000" << true << "Idle" << idle << false;
}

void tst_Curves::states()
{
    QFETCH(QStringList, actions);
    QFETCH(QString, buttons);
    QFETCH(bool, controls);
    QFETCH(QString, status);
    QFETCH(QString, style);
    QFETCH(bool, ticking);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    Ui::UsbGen* ui = page->ui;
    drive(page, actions);
    QCOMPARE(buttonsEnabled(ui), buttons);
    for (const QWidget* w : std::initializer_list<const QWidget*> {
             ui->hsliderSample, ui->spinStartCur, ui->spinStopCur, ui->spinStopTime })
        QCOMPARE(w->isEnabled(), controls);
    QCOMPARE(ui->labelStatus->text(), status);
    QCOMPARE(ui->labelStatus->styleSheet(), style);
    QCOMPARE(page->timerREC->isActive(), ticking);
    QCOMPARE(page->timerShow->isActive(), ticking);
    LMMultiCurvesPlot* plot = ui->customPlot;
    QTest::mousePress(plot, Qt::LeftButton, {}, plot->rect().center());
    QTest::mouseRelease(plot, Qt::LeftButton, {}, plot->rect().center());
    QCOMPARE(plot->axisRect()->rangeDrag() == Qt::Orientations(), ticking);
}

void tst_Curves::resumeDiscardsPausedSamples()
{
    UsbGen* page = openQuiet();
    QVERIFY(page);
    page->comLayer->usbParam.setParam(1.0, UsbParam::USB_PARAM_IBUS);
    page->ui->btnCreate->click();
    page->ui->btnStart->click();
    QTRY_COMPARE_WITH_TIMEOUT(page->ui->labelStatus->text(), QStringLiteral("Recording..."), 5000);
    page->ui->btnPause->click();
    flushRecorder(page);

    page->usbRecParam->addRecordFifo(reportOf(numberedSample(0)));
    page->ui->btnStart->click();
    // At once: the recorder has started already.
    QCOMPARE(page->ui->labelStatus->text(), QStringLiteral("Recording..."));
    QMutexLocker lock(&page->usbRecParam->mutex);
    QCOMPARE(waiting(*page->usbRecParam), 0);
}

void tst_Curves::plotFeed_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<double>("rate");
    QTest::addColumn<bool>("zoomFreely");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");

    QTest::newRow("10 points at 1/s") << 10 << 1.0 << false << -140.0 << 9.0;
    QTest::newRow("150 points at 1/s") << 150 << 1.0 << false << 0.0 << 149.0;
    QTest::newRow("200 points: from the 51st") << 200 << 1.0 << false << 50.0 << 199.0;
    QTest::newRow("10 points at 100/s") << 10 << 100.0 << false << -1.4 << 0.09;
    QTest::newRow("zoom freely leaves it") << 10 << 1.0 << true << 1.0 << 2.0;
}

void tst_Curves::plotFeed()
{
    QFETCH(int, points);
    QFETCH(double, rate);
    QFETCH(bool, zoomFreely);
    QFETCH(double, lower);
    QFETCH(double, upper);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    LMMultiCurvesPlot* plot = page->ui->customPlot;
    Rec* rec = page->usbRecParam;
    rec->setSampleRate(rate);
    rec->setSwitchAll(false);
    rec->setSwitch(Rec::RECORD_TYPE_VBUS, true);
    rec->setSwitch(Rec::RECORD_TYPE_CAP, true); // recorded, not shown
    page->ui->cBoxAutoZoom->setChecked(zoomFreely);
    plot->xAxis->setRange(1, 2);

    // Fed in two parts: the plot holds each point once.
    const auto append = [rec, rate](int from, int to) {
        for (int k = from; k < to; ++k) {
            rec->addRecordTime((1 / rate) * k);
            rec->addOneRecordParam(Rec::RECORD_TYPE_VBUS, 5 + k * 0.001);
            rec->addOneRecordParam(Rec::RECORD_TYPE_CAP, k * 0.1);
        }
        rec->setRecordedCount(to);
    };
    append(0, points / 2);
    page->timeShowREC();
    append(points / 2, points);
    page->timeShowREC();

    const QSharedPointer<QCPGraphDataContainer> data = graphNamed(plot, QStringLiteral("VBUS"))->data();
    QCOMPARE(data->size(), points);
    QCOMPARE((data->constEnd() - 1)->key, (1 / rate) * (points - 1));
    QCOMPARE((data->constEnd() - 1)->value, 5 + (points - 1) * 0.001);
    QVERIFY(qFuzzyCompare(plot->xAxis->range().lower + 1000, lower + 1000));
    QVERIFY(qFuzzyCompare(plot->xAxis->range().upper + 1000, upper + 1000));

    // A curve shown later gets the points the feeds handed out, and no more.
    append(points, points + 5);
    clickCell(page->ui->tableAider, 1, 3);
    const QCPGraph* cap = graphNamed(plot, QStringLiteral("CAP"));
    QVERIFY(cap);
    QCOMPARE(cap->data()->size(), points);
    QCOMPARE((cap->data()->constEnd() - 1)->value, (points - 1) * 0.1);
    page->timeShowREC();
    QCOMPARE(cap->data()->size(), points + 5);
}

void tst_Curves::treeTexts_data()
{
    QTest::addColumn<double>("time"); // negative: nothing recorded
    QTest::addColumn<double>("value"); // CAP, VBUS and D+ maximum
    QTest::addColumn<QStringList>("texts"); // TIME, CAP, VBUS MAX, VBUS MIN, DP MAX

    QTest::newRow("nothing recorded") << -1.0 << 0.0
                                      << QStringList { "00:00:00.000", "0.00000 Ah", "0.00000 V", "9999.99999 V",
                                             "0.000 V" };
    QTest::newRow("3723.004 s") << 3723.004 << 1.2345678
                                << QStringList { "01:02:03.004", "1.23457 Ah", "1.23457 V", "1.23457 V", "1.235 V" };
    QTest::newRow("0.5 s") << 0.5 << 3.3
                           << QStringList { "00:00:00.500", "3.30000 Ah", "3.30000 V", "3.30000 V", "3.300 V" };
    QTest::newRow("100 hours") << 360000.0 << 20.0
                               << QStringList { "100:00:00.000", "20.00000 Ah", "20.00000 V", "20.00000 V",
                                      "20.000 V" };
}

void tst_Curves::treeTexts()
{
    QFETCH(double, time);
    QFETCH(double, value);
    QFETCH(QStringList, texts);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    clickCell(page->ui->tableAider, 1, 3); // show CAP
    clickCell(page->ui->tableRecord, 2, 3); // show D+
    Rec* rec = page->usbRecParam;
    rec->clearRecordParam();
    if (time >= 0) {
        rec->addRecordTime(0);
        rec->addRecordTime(time);
        rec->addOneRecordParam(Rec::RECORD_TYPE_CAP, value);
        for (const int c : { Rec::RECORD_TYPE_VBUS, Rec::RECORD_TYPE_DP }) {
            rec->setExtremum(c, Rec::RECORD_MAX, value);
            rec->setExtremum(c, Rec::RECORD_MIN, value);
        }
    }
    page->showExtremum();
    page->showAccumulate();
    const QStringList shown { page->allAccumulate[0]->text(1), page->allAccumulate[1]->text(1),
        page->allExtremumMAX[0]->text(1), page->allExtremumMIN[0]->text(1), page->allExtremumMAX[2]->text(1) };
    QCOMPARE(shown, texts);
    // Hidden rows are left as they were.
    QCOMPARE(page->allAccumulate[2]->text(1), QStringLiteral("0.00000 Wh"));
}

void tst_Curves::shownAfterRecording_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QStringList>("texts"); // MAX and MIN, or the accumulated value

    // 20 points at 100/s of samples 0..19: 0.01 V to 0.20 V at 1 A, the live voltage 5 V.
    QTest::newRow("VBUS") << 0 << QStringList { "0.20000 V", "0.01000 V" };
    QTest::newRow("CAP") << 5 << QStringList { "0.00005 Ah" };
    QTest::newRow("NRG") << 6 << QStringList { "0.00027 Wh" };
}

// Recorded while its row was hidden, a channel shows where the recording
// stands once it is displayed, also when no point follows.
void tst_Curves::shownAfterRecording()
{
    QFETCH(int, channel);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    Ui::UsbGen* ui = page->ui;
    if (channel == 0)
        clickCell(ui->tableRecord, 0, 3); // VBUS recorded, not shown
    ui->hsliderSample->setValue(8);
    page->comLayer->usbParam.setParam(5.0, UsbParam::USB_PARAM_VBUS);
    drive(page, { "create", "start", "current" });
    writeSamples(*page->usbRecParam, 20);
    QTRY_COMPARE_WITH_TIMEOUT(page->usbRecParam->getRecordedCount(), 20, 5000);
    drive(page, { "stop" });
    flushRecorder(page);

    clickCell(tableOf(ui, channel), rowOf(channel), 3);
    QStringList shown;
    if (channel == 0)
        shown << page->allExtremumMAX[0]->text(1) << page->allExtremumMIN[0]->text(1);
    else
        shown << page->allAccumulate[channel - 4]->text(1);
    QTEST(shown, "texts");
}

void tst_Curves::languageChange()
{
    UsbGen* page = openQuiet();
    QVERIFY(page);
    Ui::UsbGen* ui = page->ui;
    ui->btnCreate->click();
    ui->btnStart->click();
    page->comLayer->usbParam.setParam(1.0, UsbParam::USB_PARAM_IBUS);
    QTRY_COMPARE_WITH_TIMEOUT(ui->labelStatus->text(), QStringLiteral("Recording..."), 5000);

    switchLanguage(&german);
    // The state's text again, in its colour, rather than the form's "Idle".
    QCOMPARE(ui->labelStatus->text(), QStringLiteral("Aufnehmen..."));
    QCOMPARE(ui->labelStatus->styleSheet(), QStringLiteral("color: #00ff00"));
    QStringList headers;
    for (int i = 0; i < 4; ++i)
        headers << ui->tableAider->model()->headerData(i, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList { "Projekt", "Farbe", "Aufnahme", "Display" }));
    QCOMPARE(ui->groupBox->title(), QStringLiteral("Aufnahme-Einstellungen"));
    const auto ticker = qSharedPointerDynamicCast<QCPAxisTickerTime>(ui->customPlot->xAxis->ticker());
    QVERIFY(ticker);
    QCOMPARE(ticker->timeFormat(), QStringLiteral("%h:%m:%s.%z\n%dTage"));
    // Never translated.
    QCOMPARE(ui->labelSamValue->text(), QStringLiteral("0.20sps"));
    QCOMPARE(ui->tableRecord->model()->index(2, 0).data().toString(), QStringLiteral("D+"));
    QCOMPARE(page->allExtremumMAX[0]->text(0), QStringLiteral("MAX"));

    ui->btnPause->click();
    switchLanguage(&english);
    QCOMPARE(ui->labelStatus->text(), QStringLiteral("Pause"));
    QCOMPARE(ui->labelStatus->styleSheet(), QStringLiteral("color: red"));
}

void tst_Curves::removedWhileWarningOpen()
{
    // Both warnings of Create: the meter goes while the box is open, and the page with it.
    for (const bool applicationMode : { false, true }) {
        hidsim::MeterConfig config;
        config.id = meterId(QStringLiteral("GONE%1").arg(int(applicationMode)));
        config.answersIdentity = false;
        QPointer<UsbGen> page(openPage(config));
        QVERIFY(page);
        page->comLayer->devMsg.runMode = applicationMode ? 2 : 0;
        for (int c = 0; c < 7; ++c)
            tableOf(page->ui, c)->model()->setData(tableOf(page->ui, c)->model()->index(rowOf(c), 2), false);
        UsbEvent* registry = UsbEvent::instance().data();
        const auto c
            = connect(registry, &UsbEvent::hidDevDisconnected, host.get(), [page](int) { delete page.data(); });

        const auto seen = answerNextModal([config](QWidget*) {
            hidsim::unplug(config.id);
            UsbEvent::instance()->hidDevRemoveSlot();
        });
        QPointer<QPushButton> create(page->ui->btnCreate);
        create->click();
        disconnect(c);
        QVERIFY(seen->seen);
        QCOMPARE(seen->text,
            applicationMode ? QStringLiteral("Please open at least one record.")
                            : QStringLiteral("Please switch to application mode."));
        QVERIFY(page.isNull());
        QCOMPARE(int(registry->getDeviceCount()), 0);
        QVERIFY(!QApplication::activeModalWidget());
    }
}

void tst_Curves::recordingAgainstMeter()
{
    hidsim::MeterConfig config;
    config.id = meterId(QStringLiteral("REC1"));
    hidsim::Sample sample;
    sample.vol = 500000; // 5 V
    sample.cur = 2000; // 20 mA: below the start current
    sample.dp = 600;
    sample.dm = 100;
    UsbGen* page = openPage(config);
    QVERIFY(page);
    hidsim::setSample(config.id, sample);
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    host->setStyleSheet(QString::fromUtf8(qss.readAll()));
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));

    Ui::UsbGen* ui = page->ui;
    Rec* rec = page->usbRecParam;
    QTRY_COMPARE_WITH_TIMEOUT(int(page->comLayer->devMsg.runMode), 2, 5000);
    ui->hsliderSample->setValue(8); // 100 points per second
    ui->spinStopCur->setValue(100);
    ui->spinStopTime->setValue(1);
    clickCell(ui->tableAider, 0, 3); // PBUS too
    ui->btnCreate->click();
    ui->btnStart->click();
    QCOMPARE(ui->labelStatus->text(), QStringLiteral("Wait for start condition"));
    QTRY_COMPARE_WITH_TIMEOUT(page->comLayer->usbParam.getParam(UsbParam::USB_PARAM_IBUS), 0.02, 5000);
    flushRecorder(page);
    QCOMPARE(rec->getRecordedCount(), 0);

    sample.cur = 120000; // 1.2 A
    hidsim::setSample(config.id, sample);
    QTRY_COMPARE_WITH_TIMEOUT(ui->labelStatus->text(), QStringLiteral("Recording..."), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(rec->getRecordedCount() > 200, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(page->allExtremumMAX[1]->text(1), QStringLiteral("1.20000 A"), 5000);
    QCOMPARE(page->allExtremumMIN[1]->text(1), QStringLiteral("0.02000 A")); // waiting samples first
    QCOMPARE(page->allExtremumMAX[4]->text(1), QStringLiteral("6.00000 W"));
    QTRY_VERIFY_WITH_TIMEOUT(ui->customPlot->graph(0)->data()->size() > 200, 5000);

    sample.cur = 5000; // 50 mA: at or below the stop current, for a second
    hidsim::setSample(config.id, sample);
    QTRY_COMPARE_WITH_TIMEOUT(ui->labelStatus->text(), QStringLiteral("Idle"), 10000);
    QVERIFY(ui->btnCreate->isEnabled());
    QVERIFY(!page->timerREC->isActive());
    flushRecorder(page);

    // The recording stays: every point 10 ms after the last, the waiting
    // samples first, the stop current's at the end.
    const QVector<double> t = rec->getRecordTime();
    const QVector<double> ibus = rec->getRecordParam(Rec::RECORD_TYPE_IBUS);
    QCOMPARE(rec->getRecordParam(Rec::RECORD_TYPE_PBUS).size(), t.size());
    QCOMPARE(ibus.first(), 0.02);
    QVERIFY(ibus.contains(1.2));
    QCOMPARE(ibus.last(), 0.05);
    QCOMPARE(t[1], 0.01);
    QVERIFY(page->allAccumulate[0]->text(1) != QStringLiteral("00:00:00.000"));

    const QString dir = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(host->grab().save(dir + QStringLiteral("/curves.png")));
}

void tst_Curves::goneMidRecording_data()
{
    QTest::addColumn<bool>("unplugged");
    QTest::newRow("meter removed") << true;
    QTest::newRow("shutdown") << false;
}

void tst_Curves::goneMidRecording()
{
    QFETCH(bool, unplugged);
    hidsim::MeterConfig config;
    config.id = meterId(QStringLiteral("MID1"));
    hidsim::Sample sample;
    sample.cur = 150000;
    QPointer<UsbGen> page(openPage(config));
    QVERIFY(page);
    hidsim::setSample(config.id, sample);
    QPointer<UsbRecParam> rec(page->usbRecParam);
    QPointer<QThread> thread(page->thread);
    UsbEvent* registry = UsbEvent::instance().data();
    // As the main window does: the page's window goes inside the removal signal.
    connect(registry, &UsbEvent::hidDevDisconnected, host.get(), [page](int) { delete page.data(); });

    QTRY_COMPARE_WITH_TIMEOUT(int(page->comLayer->devMsg.runMode), 2, 5000);
    page->ui->hsliderSample->setValue(8);
    page->ui->btnCreate->click();
    page->ui->btnStart->click();
    QTRY_VERIFY_WITH_TIMEOUT(rec->getRecordedCount() > 20, 10000);

    if (unplugged) {
        hidsim::unplug(config.id);
        registry->hidDevRemoveSlot();
    } else {
        // Windows first, then the connections.
        delete page.data();
        registry->removeAllDev();
    }
    QVERIFY(page.isNull());
    QVERIFY(rec.isNull());
    QVERIFY(thread.isNull());
    QVERIFY(registry->allComLayer.isEmpty());
    // Nothing queued may still reach them.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------
// Curve files and the import

namespace {

// A recording of the channels given, in that order: channel c holds
// c + k / 2 + 0.25 at point k, extrema c + 10 and c - 1 and a half transparent
// colour; the conditions are 100 mA, 200 mA and 7 s.
CurveFile recording(double rate, const QList<int>& channels, int rows)
{
    CurveFile file { rate, 100, 200, 7, {}, {} };
    for (int k = 0; k < rows; ++k)
        file.time << (rate > 0 ? k / rate : k);
    for (const int c : channels) {
        file.curves << CurveFileCurve { quint16(c), 0x80000000u | (0x203040u * quint32(c + 1)), c < 5, c + 10.0,
            c - 1.0, {} };
        for (int k = 0; k < rows; ++k)
            file.curves.last().values << c + k / 2.0 + 0.25;
    }
    return file;
}

QByteArray bytesOf(const CurveFile& file)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeCurveFile(&buffer, file);
    return buffer.data();
}

QString lastCurvesPath()
{
    return QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat)
        .value(QStringLiteral("LastCurvesFilePath"))
        .toString();
}

// Answers every message box while in scope: `answer` where the box offers it,
// else Ok. Notes each as "title|text", with "|default No" where No is the default.
struct Boxes
{
    explicit Boxes(QMessageBox::StandardButton _answer = QMessageBox::Yes)
        : answer(_answer)
    {
        arm();
    }
    ~Boxes() { next->cancelled = true; }
    void arm()
    {
        const auto act = [this](QWidget* d) {
            auto* box = static_cast<QMessageBox*>(d);
            QAbstractButton* no = box->button(QMessageBox::No);
            seen << box->windowTitle() + '|' + box->text() + (no && box->defaultButton() == no ? "|default No" : "");
            arm();
            (box->button(answer) ? box->button(answer) : box->button(QMessageBox::Ok))->click();
        };
        next = answerNextModalOf("QMessageBox", act, 30000);
    }
    const QMessageBox::StandardButton answer;
    QStringList seen;
    std::shared_ptr<ModalSeen> next;
};

const QString overwrite = QStringLiteral("Tips|Will be overwritten, continue?|default No");

} // namespace

QStringList tst_Curves::fingerprint(UsbGen* page)
{
    Ui::UsbGen* ui = page->ui;
    Rec* rec = page->usbRecParam;
    QStringList f { buttonsEnabled(ui), ui->labelSamValue->text(), ui->labelStatus->text(),
        page->allExtremumMAX[0]->text(1) };
    for (const int v : { ui->hsliderSample->value(), int(ui->hsliderSample->isEnabled()), ui->spinStartCur->value(),
             ui->spinStopCur->value(), ui->spinStopTime->value(), rec->getRecordedCount(), rec->getRecordTime().size(),
             int(rec->getMasterSwitch()), int(rec->getSampleRate() * 1000) })
        f << QString::number(v);
    for (int c = 0; c < 7; ++c) {
        f << QStringLiteral("%1%2%3%4%5")
                 .arg(int(cellValue(tableOf(ui, c), rowOf(c), 2)))
                 .arg(int(cellValue(tableOf(ui, c), rowOf(c), 3)))
                 .arg(int(page->channelTreeItem(c)->isHidden()))
                 .arg(int(ui->customPlot->isHaveCurve(quint16(c))))
                 .arg(int(rec->isSwitchOpened(c)));
    }
    return f;
}

void tst_Curves::checkLoaded(UsbGen* page, const QList<quint16>& channels)
{
    Ui::UsbGen* ui = page->ui;
    QCOMPARE(buttonsEnabled(ui), QStringLiteral("0101"));
    QVERIFY(!ui->hsliderSample->isEnabled());
    QVERIFY(page->usbRecParam->getMasterSwitch());
    QCOMPARE(page->usbRecParam->getRecordingList(), channels);
    QCOMPARE(ui->customPlot->getIndexList(), channels);
    for (int c = 0; c < 7; ++c) {
        const QString cells = QStringLiteral("%1%2")
                                  .arg(int(cellValue(tableOf(ui, c), rowOf(c), 2)))
                                  .arg(int(cellValue(tableOf(ui, c), rowOf(c), 3)));
        QCOMPARE(cells, QLatin1String(channels.contains(quint16(c)) ? "11" : "00"));
        QCOMPARE(page->channelTreeItem(c)->isHidden(), !channels.contains(quint16(c)));
    }
    const int c = channels.first();
    clickCell(tableOf(ui, c), rowOf(c), 2); // locked as while recording
    QVERIFY(cellValue(tableOf(ui, c), rowOf(c), 2));
}

QString tst_Curves::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile f(files.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
}

UsbGen* tst_Curves::openSilent(const hidsim::MeterId& id)
{
    hidsim::MeterConfig config;
    config.id = id;
    config.answersIdentity = false;
    QPointer<UsbGen> page(openPage(config));
    if (!page)
        return nullptr;
    hidsim::dropReplies(id, 1 << 30);
    page->comLayer->devMsg.runMode = 2;
    // As the main window does: the page goes inside the removal signal.
    connect(
        UsbEvent::instance().data(), &UsbEvent::hidDevDisconnected, host.get(), [page](int) { delete page.data(); });
    return page;
}

void tst_Curves::openQuestion_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("boxes");

    const int yes = QMessageBox::Yes;
    const QStringList pause { QStringLiteral("WARNING|Please pause.") };
    QTest::newRow("idle: opened") << "btnOpen" << QStringList() << yes << QStringList();
    QTest::newRow("stopped: opened") << "btnOpen" << QStringList { "create", "stop" } << yes << QStringList();
    QTest::newRow("set up, No") << "btnOpen" << QStringList { "create" } << int(QMessageBox::No)
                                << QStringList { overwrite };
    QTest::newRow("set up, Yes: opened") << "btnOpen" << QStringList { "create" } << yes << QStringList { overwrite };
    QTest::newRow("paused, Yes: opened") << "btnOpen" << QStringList { "create", "start", "current", "pause" } << yes
                                         << QStringList { overwrite };
    QTest::newRow("open while waiting") << "btnOpen" << QStringList { "create", "start" } << yes << pause;
    QTest::newRow("save while recording") << "btnSave" << QStringList { "create", "start", "current" } << yes << pause;
}

void tst_Curves::openQuestion()
{
    QFETCH(QString, button);
    QFETCH(QStringList, actions);
    QFETCH(int, answer);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    drive(page, actions);
    const bool ticking = page->timerREC->isActive();
    flushRecorder(page);
    const QStringList before = fingerprint(page);
    const QString path = writeFile(QStringLiteral("vbus-pbus.cqz"), bytesOf(recording(250, { 0, 4 }, 3)));

    Boxes boxes { QMessageBox::StandardButton(answer) };
    const auto chooser = answerFileDialog(path);
    page->findChild<QPushButton*>(button)->click();
    chooser->cancelled = true;
    QTEST(boxes.seen, "boxes");
    QCOMPARE(chooser->seen, !ticking);
    QCOMPARE(page->timerREC->isActive(), ticking);
    if (QByteArray(QTest::currentDataTag()).endsWith("opened")) {
        QCOMPARE(page->usbRecParam->getRecordedCount(), 3);
        QCOMPARE(buttonsEnabled(page->ui), QStringLiteral("0101"));
    } else if (!ticking) {
        QCOMPARE(fingerprint(page), before);
    }
}

void tst_Curves::fileRoundTrip_data()
{
    QTest::addColumn<QList<int>>("channels");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("stopped"); // the label after Stop: the slider's rate
    QTest::addColumn<bool>("locked"); // saved over a file in a folder where no file may be created

    QTest::newRow("default channels at 1/s") << QList<int> { 0, 1, 5, 6 } << 1.0 << 2 << "1.00sps"
                                             << "1.00sps" << false;
    QTest::newRow("every channel at 250/s") << QList<int> { 0, 1, 2, 3, 4, 5, 6 } << 250.0 << 0 << "250.00sps"
                                            << "0.20sps" << true;
    QTest::newRow("PBUS at 1000/s, beyond the slider") << QList<int> { 4 } << 1000.0 << 8 << "1000sps"
                                                       << " 100sps" << false;
    QTest::newRow("no channel: the settings only") << QList<int>() << 0.5 << 1 << "0.50sps"
                                                   << "0.50sps" << false;
}

// Opened into a fresh page, then saved: the same file, its colours made opaque.
void tst_Curves::fileRoundTrip()
{
    QFETCH(QList<int>, channels);
    QFETCH(double, rate);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    CurveFile file = recording(rate, channels, 5);
    answerFileDialog(writeFile(QStringLiteral("round.cqz"), bytesOf(file)));
    page->ui->btnOpen->click();
    Ui::UsbGen* ui = page->ui;
    QTEST(ui->hsliderSample->value(), "slider");
    QTEST(ui->labelSamValue->text(), "label");
    QCOMPARE((QList<int> { ui->spinStartCur->value(), ui->spinStopCur->value(), ui->spinStopTime->value() }),
        (QList<int> { 100, 200, 7 }));
    if (channels.isEmpty()) {
        QCOMPARE(buttonsEnabled(ui), QStringLiteral("1000"));
        QCOMPARE(page->usbRecParam->getRecordedCount(), 0);
        return;
    }
    QCOMPARE(page->usbRecParam->getRecordedCount(), 5);
    // Handed to the plot and fitted.
    QCOMPARE(ui->customPlot->graph(0)->data()->size(), 5);
    QCOMPARE(ui->customPlot->xAxis->range().upper, file.time.last());
    const int last = channels.last();
    QCOMPARE(tableOf(ui, last)->model()->index(rowOf(last), 1).data().value<QColor>(),
        QColor(QRgb(file.curves.last().color)));
    QList<quint16> loaded;
    for (const int c : channels)
        loaded << quint16(c);
    checkLoaded(page, loaded);

    for (CurveFileCurve& curve : file.curves)
        curve.color |= 0xFF000000u;
    QFETCH(bool, locked);
    const QString folder = files.filePath(QStringLiteral("out%1").arg(channels.size()));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/saved.cqz");
    const QFile::Permissions open = QFile::permissions(folder);
    if (locked) {
        writeFile(path.mid(files.path().size() + 1), "an older file");
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    }
    {
        const DacOverrideDropped dropped;
        Boxes boxes;
        if (locked && !dropped.binds())
            QWARN("running with file permissions that do not bind: the locked folder is not tested");
        answerFileDialog(path);
        ui->btnSave->click();
        QFile::setPermissions(folder, open);
        QCOMPARE(boxes.seen.filter(QStringLiteral("WARNING")), QStringList());
    }
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), bytesOf(file));
    QCOMPARE(lastCurvesPath(), path);

    // Back to the slider's own rate.
    ui->btnStop->click();
    QTEST(ui->labelSamValue->text(), "stopped");
}

void tst_Curves::fileRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("old"); // the file's bytes before; empty: no file
    QTest::addColumn<QStringList>("boxes");

    const QByteArray good = bytesOf(recording(250, { 0, 4 }, 3));
    const QStringList error { overwrite, QStringLiteral("WARNING|Error file.") };
    QTest::newRow("ends in the last row") << "btnOpen"
                                          << "bad.cqz" << good.chopped(1) << error;
    QTest::newRow("rate 0") << "btnOpen"
                            << "bad.cqz" << bytesOf(recording(0, { 0, 4 }, 3)) << error;
    const QString failed = QStringLiteral("WARNING|Failed to save the file.");
    QTest::newRow("save into no folder") << "btnSave"
                                         << "none/saved.cqz" << QByteArray() << QStringList { failed };
    // The file dialog asks before replacing the file.
    QTest::newRow("save onto a full disk")
        << "btnSave"
        << "full.cqz" << good
        << QStringList { "Choose file|full.cqz already exists.\nDo you want to replace it?|default No", failed };
}

// The warning is shown and the page, the recorder and the file stay as they were.
void tst_Curves::fileRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, file);
    QFETCH(QByteArray, old);
    UsbGen* page = openQuiet();
    QVERIFY(page);
    // A recording opened and set up, larger than the disk below.
    answerFileDialog(writeFile(QStringLiteral("good.cqz"), bytesOf(recording(1, { 0, 1 }, 300))));
    page->ui->btnOpen->click();
    QCOMPARE(page->usbRecParam->getRecordedCount(), 300);
    const QStringList before = fingerprint(page);
    const QString path = old.isEmpty() ? files.filePath(file) : writeFile(file, old);

    // A disk with room for 4096 bytes a file.
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = file == QLatin1String("full.cqz") ? 4096 : unlimited;
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    {
        Boxes boxes;
        answerFileDialog(path);
        page->findChild<QPushButton*>(button)->click();
        limit.rlim_cur = unlimited;
        setrlimit(RLIMIT_FSIZE, &limit);
        QTEST(boxes.seen, "boxes");
    }
    QCOMPARE(fingerprint(page), before);
    QCOMPARE(lastCurvesPath(), path);
    QFile after(path);
    QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(), old);
    // Nothing written aside is left behind.
    QCOMPARE(QDir(files.path()).entryList({ file + QStringLiteral(".*") }, QDir::Files), QStringList());
}

void tst_Curves::importAgainstMeter_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<quint32>("rateField"); // points per second x 1000
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<QList<int>>("sent"); // 0x84, 0x85, 0x86 (-1: some), 0x87
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("announced"); // -1: the points stored
    QTest::addColumn<bool>("escape"); // Escape and a close request on the wait dialog

    const QStringList failed { QStringLiteral("WARNING|Failed to import curves.") };
    const QStringList none;
    QTest::newRow("14 points in two blocks at 1/s") << 14 << 1000u << false << none << QList<int> { 50, 100 }
                                                    << QList<int> { 1, 1, 3, 0 } << "1.00sps" << -1 << false;
    QTest::newRow("7 points at 250/s") << 7 << 250000u << false << none << QList<int> { 100 }
                                       << QList<int> { 1, 1, 2, 0 } << "250.00sps" << -1 << false;
    QTest::newRow("7 points at 0.5/s") << 7 << 500u << false << none << QList<int> { 100 } << QList<int> { 1, 1, 2, 0 }
                                       << "0.50sps" << -1 << false;
    QTest::newRow("nothing stored") << 0 << 1000u << false
                                    << QStringList { QStringLiteral("Tips|No data recorded in the device.") }
                                    << QList<int>() << QList<int> { 1, 0, 0, 0 } << "0.20sps" << -1 << false;
    QTest::newRow("rate field 0") << 14 << 0u << false << failed << QList<int>() << QList<int> { 1, 0, 0, 1 }
                                  << "0.20sps" << -1 << false;
    QTest::newRow("rate beyond what a curve file holds") << 14 << 4000000000u << false << failed << QList<int>()
                                                         << QList<int> { 1, 0, 0, 1 } << "0.20sps" << -1 << false;
    QTest::newRow("never answers") << 14 << 1000u << true << failed << QList<int>() << QList<int> { 1, 0, 0, 1 }
                                   << "0.20sps" << -1 << false;
    // Empty blocks answer every request after the 14th point: the real
    // watchdog ends it, and nothing is asked after the warning.
    QTest::newRow("announces more than it holds") << 14 << 1000u << false << failed << QList<int> { 35, 70 }
                                                  << QList<int> { 1, 1, -1, 1 } << "1.00sps" << 20 << false;
    QList<int> fives;
    for (int k = 1; k <= 20; ++k)
        fives << 5 * k;
    QTest::newRow("Escape and close leave the dialog up")
        << 140 << 1000u << false << none << fives << QList<int> { 1, 1, 21, 0 } << "1.00sps" << -1 << true;
}

void tst_Curves::importAgainstMeter()
{
    QFETCH(int, points);
    QFETCH(quint32, rateField);
    QFETCH(bool, silent);
    QFETCH(int, announced);
    QFETCH(bool, escape);
    hidsim::MeterConfig config;
    config.id = meterId(QStringLiteral("IMP1"));
    UsbGen* page = silent ? openSilent(config.id) : openPage(config);
    QVERIFY(page);
    QVector<QPair<quint32, quint32>> stored; // 5 V + k x 10 mV, 1 A to 1.4 A
    for (quint32 k = 0; k < quint32(points); ++k)
        stored << qMakePair(500000u + 1000u * k, 100000u + 10000u * (k % 5));
    hidsim::setStoredRecording(config.id, stored, rateField, announced);
    QTRY_COMPARE_WITH_TIMEOUT(int(page->comLayer->devMsg.runMode), 2, 5000);
    // The user's conditions, which an import sets to 0.
    page->ui->spinStartCur->setValue(100);
    page->ui->spinStopCur->setValue(200);
    page->ui->spinStopTime->setValue(7);
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    host->setStyleSheet(QString::fromUtf8(qss.readAll()));
    host->show();
    const QStringList before = fingerprint(page);
    QSignalSpy progress(page->waitCurvesDialog->progressBar, &QProgressBar::valueChanged);

    // Waiting for the meter, when it never answers: the watchdog's timeout.
    bool watchdog = false;
    answerNextModalOf("LMWaitDialog",
        [page, &watchdog](QWidget*) {
            watchdog = page->curveTimer->isActive() && page->curveTimer->interval() == 5000;
            page->getCurvesTimeoutSlot();
        })
        ->cancelled
        = !silent;
    bool stayedUp = false;
    answerNextModalOf("LMWaitDialog",
        [&stayedUp](QWidget* dialog) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            dialog->close();
            stayedUp = dialog->isVisible();
        })
        ->cancelled
        = !escape;
    // An import that never ends fails the row rather than hanging it.
    QTimer::singleShot(15000, page->waitCurvesDialog, &QWidget::hide);
    {
        Boxes boxes;
        page->ui->btnImport->click();
        QTEST(boxes.seen, "boxes");
    }
    QCOMPARE(stayedUp, escape);
    QCOMPARE(watchdog, silent);
    QVERIFY(page->waitCurvesDialog->isHidden());
    QVERIFY(!page->curveTimer->isActive());
    QList<int> shown;
    for (const QVariantList& v : progress)
        shown << v.first().toInt();
    QTEST(shown, "progress");
    const auto wire = [&config] {
        QList<int> sent;
        for (const quint8 code : { 0x84, 0x85, 0x86, 0x87 })
            sent << hidsim::countWritten(config.id, code);
        return sent;
    };
    QFETCH(QList<int>, sent);
    // 0x87 goes out after every request queued before it.
    QTRY_COMPARE_WITH_TIMEOUT(hidsim::countWritten(config.id, 0x87), sent[3], 5000);
    const int requests = hidsim::countWritten(config.id, 0x86);
    if (sent[2] < 0) {
        QVERIFY(requests > 3);
        sent[2] = requests;
    }
    QTRY_COMPARE_WITH_TIMEOUT(wire(), sent, 5000);
    if (shown.isEmpty()) {
        QCOMPARE(fingerprint(page), before);
        return;
    }

    Rec* rec = page->usbRecParam;
    if (shown.last() < 100) {
        // Stalled: what came stays in the recorder, one length for every list.
        QTest::qWait(200);
        QCOMPARE(hidsim::countWritten(config.id, 0x86), requests);
        QCOMPARE(rec->getRecordedCount(), points);
        for (const Rec::RECORD_TYPE_E c : { Rec::RECORD_TYPE_VBUS, Rec::RECORD_TYPE_IBUS, Rec::RECORD_TYPE_PBUS })
            QCOMPARE(rec->getRecordParam(c).size(), points);
        QCOMPARE(rec->getRecordTime().size(), points);
        return;
    }

    // As if recorded live: times k / rate, power V x I, the extrema shown.
    const QVector<double> t = rec->getRecordTime();
    const QVector<double> v = rec->getRecordParam(Rec::RECORD_TYPE_VBUS);
    const QVector<double> i = rec->getRecordParam(Rec::RECORD_TYPE_IBUS);
    const QVector<double> p = rec->getRecordParam(Rec::RECORD_TYPE_PBUS);
    QCOMPARE(rec->getRecordedCount(), points);
    QCOMPARE(t.size(), points);
    for (int k = 0; k < points; ++k) {
        QCOMPARE(t[k], (1 / (rateField / 1000.0)) * k);
        QCOMPARE(v[k], stored[k].first / 100000.0);
        QCOMPARE(p[k], v[k] * i[k]);
    }
    QCOMPARE(page->allExtremumMAX[0]->text(1), QString::number(v.last(), 'f', 5) + " V");
    QCOMPARE(page->allExtremumMIN[0]->text(1), QStringLiteral("5.00000 V"));
    QCOMPARE(page->allExtremumMAX[4]->text(1), QString::number(*std::max_element(p.begin(), p.end()), 'f', 5) + " W");
    QCOMPARE(page->ui->customPlot->graph(2)->data()->size(), points);
    QTEST(page->ui->labelSamValue->text(), "label");
    QCOMPARE(page->ui->spinStartCur->value() + page->ui->spinStopCur->value() + page->ui->spinStopTime->value(), 0);
    checkLoaded(page, { 0, 1, 4 });
    if (points == 14) {
        const QString dir = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
        QVERIFY(host->grab().save(dir + QStringLiteral("/curves-import.png")));
    }
}

void tst_Curves::importTakesWhatItAskedFor_data()
{
    QTest::addColumn<QStringList>("idle"); // what the meter says before Import is pressed
    QTest::addColumn<QStringList>("during"); // and while the wait dialog is up
    QTest::addColumn<int>("kept"); // points 0 .. kept - 1 of those sent after the first `skipped`
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QList<int>>("sent"); // 0x85, 0x86
    QTest::addColumn<QList<bool>>("watchdog"); // restarted by each block

    const QStringList none;
    QTest::newRow("unasked size and block while idle")
        << QStringList { "size 7", "block 7" } << QStringList { "size 7", "block 7" } << 7 << 7 << none
        << QList<int> { 1, 2 } << QList<bool> { false, false };
    QTest::newRow("a block before the size reply") << none << QStringList { "block 7", "size 7", "block 7" } << 7 << 7
                                                   << none << QList<int> { 1, 2 } << QList<bool> { false, false };
    QTest::newRow("blocks after a size of 0") << none << QStringList { "size 0", "block 7", "block 7" } << 0 << 0
                                              << QStringList { QStringLiteral("Tips|No data recorded in the device.") }
                                              << QList<int> { 0, 0 } << QList<bool> { false, false };
    QTest::newRow("a block after completion") << none << QStringList { "size 7", "block 7", "block 7" } << 7 << 0
                                              << none << QList<int> { 1, 2 } << QList<bool> { false, false };
    QTest::newRow("points beyond the count") << none << QStringList { "size 10", "block 7", "block 7" } << 10 << 0
                                             << none << QList<int> { 1, 3 } << QList<bool> { true, false };
    QTest::newRow("an empty block holds nothing off")
        << none << QStringList { "size 14", "block 7", "block 0", "block 7" } << 14 << 0 << none << QList<int> { 1, 4 }
        << QList<bool> { true, false, false };
    QTest::newRow("a late block of a stalled import")
        << none << QStringList { "size 14", "block 7", "stall", "block 7" } << 7 << 0
        << QStringList { QStringLiteral("WARNING|Failed to import curves.") } << QList<int> { 1, 2 }
        << QList<bool> { true, false };
}

// The meter's replies come straight from the connection: only those asked
// for are taken, and never more points than announced.
void tst_Curves::importTakesWhatItAskedFor()
{
    QFETCH(QStringList, idle);
    QFETCH(QStringList, during);
    QFETCH(int, kept);
    QFETCH(int, skipped);
    const hidsim::MeterId id = meterId(QStringLiteral("ASKED1"));
    UsbGen* page = openSilent(id);
    QVERIFY(page);
    int next = 0; // point number i: (i + 1) x 10 mV
    QList<bool> restarts;
    const auto say = [page, &next, &restarts](const QString& what) {
        const int n = what.section(QLatin1Char(' '), 1).toInt();
        if (what.startsWith(QLatin1String("size"))) {
            emit page->comLayer->deviceSendCurvesMessage(quint16(n), 1000);
        } else if (what.startsWith(QLatin1String("block"))) {
            QVector<QPair<quint32, quint32>> points;
            for (int k = 0; k < n; ++k, ++next)
                points << qMakePair(quint32(next + 1) * 1000, 100000u);
            page->curveTimer->stop();
            emit page->comLayer->deviceSendCurves(n, blockOf(points));
            flushRecorder(page);
            restarts << page->curveTimer->isActive();
        } else {
            page->getCurvesTimeoutSlot();
        }
        flushRecorder(page);
    };
    for (const QString& what : idle)
        say(what);
    answerNextModalOf("LMWaitDialog", [&](QWidget*) {
        for (const QString& what : during)
            say(what);
        if (!page->waitCurvesDialog->isHidden())
            page->getCurvesTimeoutSlot(); // never left open: the row fails on its boxes
    });
    {
        Boxes boxes;
        page->ui->btnImport->click();
        QTEST(boxes.seen, "boxes");
    }
    QVERIFY(page->waitCurvesDialog->isHidden());
    flushRecorder(page);

    Rec* rec = page->usbRecParam;
    QVector<int> numbers;
    for (int k = 0; k < kept; ++k)
        numbers << skipped + k;
    QCOMPARE(recordedNumbers(*rec), numbers);
    QCOMPARE(rec->getRecordedCount(), kept);
    QCOMPARE(rec->getRecordTime().size(), kept);
    QCOMPARE(rec->getRecordParam(Rec::RECORD_TYPE_PBUS).size(), kept);
    // A last frame of the test's own: once it is out, so is everything before it.
    page->comLayer->addPack(Com_Layer::PC_APP_RELEASE_CHARGE_PROT, nullptr, 0);
    QTRY_COMPARE_WITH_TIMEOUT(hidsim::countWritten(id, Com_Layer::PC_APP_RELEASE_CHARGE_PROT), 1, 5000);
    QTEST((QList<int> { hidsim::countWritten(id, 0x85), hidsim::countWritten(id, 0x86) }), "sent");
    QTEST(restarts, "watchdog");
}

void tst_Curves::removedUnderDialog_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("setUp");
    QTest::addColumn<QString>("dialog"); // the class of the one the meter goes under
    QTest::addColumn<QString>("title");

    QTest::newRow("open dialog") << "btnOpen" << false << "QFileDialog"
                                 << "Open file";
    QTest::newRow("save dialog") << "btnSave" << false << "QFileDialog"
                                 << "Choose file";
    QTest::newRow("question before opening") << "btnOpen" << true << "QMessageBox"
                                             << "Tips";
    QTest::newRow("question before importing") << "btnImport" << true << "QMessageBox"
                                               << "Tips";
    QTest::newRow("import's wait dialog") << "btnImport" << false << "LMWaitDialog"
                                          << "";
    // Shown from within the connection's own reply, which goes too.
    QTest::newRow("notice of nothing stored") << "btnImport" << false << "empty"
                                              << "Tips";
    QTest::newRow("import's stall warning") << "btnImport" << false << "stall"
                                            << "WARNING";
}

// The meter goes while the dialog is open, and the page with it: nothing may
// touch the page or its connection afterwards (the sanitizer run tells).
void tst_Curves::removedUnderDialog()
{
    QFETCH(QString, button);
    QFETCH(bool, setUp);
    QFETCH(QString, dialog);
    const hidsim::MeterId id = meterId(QStringLiteral("GONE1"));
    QPointer<UsbGen> page(openSilent(id));
    QVERIFY(page);
    if (setUp)
        page->ui->btnCreate->click();
    const auto remove = [id](QWidget*) {
        hidsim::unplug(id);
        UsbEvent::instance()->hidDevRemoveSlot();
    };
    std::shared_ptr<ModalSeen> seen;
    if (dialog == QLatin1String("empty")) {
        hidsim::dropReplies(id, 0);
        seen = answerNextModalOf("QMessageBox", remove);
    } else if (dialog == QLatin1String("stall")) {
        answerNextModalOf("LMWaitDialog", [&seen, &page, remove](QWidget*) {
            seen = answerNextModalOf("QMessageBox", remove);
            page->getCurvesTimeoutSlot();
        });
    } else {
        // The question comes once a file is chosen.
        if (button == QLatin1String("btnOpen") && setUp)
            answerFileDialog(writeFile(QStringLiteral("good.cqz"), bytesOf(recording(1, { 0 }, 3))));
        seen = answerNextModalOf(dialog.toLatin1().constData(), remove);
    }
    page->findChild<QPushButton*>(button)->click();
    QTRY_VERIFY_WITH_TIMEOUT(page.isNull(), 5000);
    QVERIFY(seen && seen->seen);
    QTEST(seen->title, "title");
    QCOMPARE(int(UsbEvent::instance()->getDeviceCount()), 0);
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_Curves)
#include "tst_curves.moc"
