// Recording benchmark: prints ratios, which travel between machines better than times.
//
// A curves page records at 100 points per second with its default channels
// (VBUS, IBUS, CAP, NRG recorded; VBUS and IBUS shown), once holding 10
// thousand points and once 8.64 million (a day). At each size:
// 1. Feed: the page's 30 ms plot feed after each new live report. Goal: the
//    cost at 8.64 million over the cost at 10 thousand <= 1.2.
// 2. Tick: one live report into the recorder and its recording tick. Goal as
//    above. Measured once alone and once on a second thread while the page
//    feeds the plot, as the program runs them: a feed that left the recorder's
//    lists shared would make an occasional tick copy the whole recording
//    (tens of milliseconds at a day), which would show in the slowest ticks.
// 3. Memory per recorded point, recorder and plot together, against the raw
//    8 bytes per time and per value. Goal <= 3 times raw.
// 4. The day's recording saved to a curve file, and that file opened in a
//    fresh page: read and checked, then handed to the recorder and the plot,
//    fitted and drawn (the page's own replots). No goal: the times are reported.
//
// Usage: bench_curves [feeds]   (runs on the offscreen platform unless told otherwise)

#include "curvefile.h"
#include "usbRecParam.h"
#include "usbgen.h"
#include "usbparam.h"

#include "lmmulticurvesplot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

// Reaches the page's recorder and plot.
class CurvesBench
{
public:
    static UsbRecParam* recorder(UsbGen* page) { return page->usbRecParam; }
    static LMMultiCurvesPlot* plot(UsbGen* page) { return page->findChild<LMMultiCurvesPlot*>(); }
    static CurveFile recordedFile(UsbGen* page) { return page->recordedFile(); }
    static void applyCurveFile(UsbGen* page, const CurveFile& file) { page->applyCurveFile(file); }
};

namespace {

constexpr double kRate = 100;
constexpr qint64 kDay = 8640000;
constexpr int kRawBytesPerPoint = 8 * 5; // time, VBUS, IBUS, CAP, NRG
constexpr int kTickRun = 20;

PC_VOL_PARAM_QUEUE_T liveReport(quint64 n)
{
    PC_VOL_PARAM_QUEUE_T q {};
    for (int i = 0; i < 4; ++i) {
        const quint64 k = n * 4 + quint64(i);
        q.param[i].vol = 500000 + quint32(k % 997);
        q.param[i].cur = 100000 + quint32(k * 7 % 1009);
        q.param[i].dp = 600;
        q.param[i].dm = 100;
    }
    return q;
}

double residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

// A page whose recorder holds a recording, all of it handed to the plot.
struct RecordingPage
{
    std::unique_ptr<UsbGen> page;
    UsbRecParam* rec = nullptr;
    UsbParam live;
    quint64 reports = 0;
    double bytesRecorder = 0; // per point, resident
    double bytesPlot = 0;
    std::vector<double> feedUs;
    std::vector<double> tickUs;
    std::vector<double> threadedTickUs;

    explicit RecordingPage(qint64 points)
        : page(std::make_unique<UsbGen>())
    {
        page->resize(1280, 800);
        page->show();
        rec = CurvesBench::recorder(page.get());
        // The tree texts follow each point in the program too, but queued to
        // the GUI thread; here they would run inside the recorder's tick.
        QObject::disconnect(rec, nullptr, page.get(), nullptr);
        live.setParam(5.0, UsbParam::USB_PARAM_VBUS);
        live.setParam(1.0, UsbParam::USB_PARAM_IBUS);
        rec->setSampleRate(kRate);
        rec->setMasterSwitch(true);
        const double empty = residentBytes();

        // Whole rings at a time: the recorder's own path, quickly.
        while (rec->getRecordedCount() < points) {
            for (int i = 0; i < 255; ++i)
                rec->addRecordFifo(liveReport(reports++));
            rec->addParam(&live);
        }
        const double recorded = residentBytes();
        page->timeShowREC();
        CurvesBench::plot(page.get())->replot(QCustomPlot::rpImmediateRefresh);
        const double plotted = residentBytes();
        const double count = double(rec->getRecordedCount());
        bytesRecorder = (recorded - empty) / count;
        bytesPlot = (plotted - recorded) / count;
    }

    void tick()
    {
        rec->addRecordFifo(liveReport(reports++));
        rec->addParam(&live);
    }

    // One live report (4 points) per feed, as at 100 points per second.
    void measureFeeds(int feeds)
    {
        QElapsedTimer timer;
        for (int f = 0; f < feeds; ++f) {
            tick();
            timer.start();
            page->timeShowREC();
            feedUs.push_back(timer.nsecsElapsed() / 1000.0);
        }
    }

    // A tick takes well under a microsecond: timed in runs of kTickRun.
    void measureTicks(int runs)
    {
        QElapsedTimer timer;
        for (int f = 0; f < runs; ++f) {
            timer.start();
            for (int i = 0; i < kTickRun; ++i)
                tick();
            tickUs.push_back(timer.nsecsElapsed() / 1000.0 / kTickRun);
        }
        page->timeShowREC();
    }

    // The recorder ticks on a thread of its own while the page feeds the plot.
    void measureTicksBesideFeeds(int feeds)
    {
        std::atomic<bool> done { false };
        std::thread recorderThread([this, &done]() {
            QElapsedTimer t;
            while (!done.load()) {
                t.start();
                tick();
                threadedTickUs.push_back(t.nsecsElapsed() / 1000.0);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        for (int f = 0; f < feeds; ++f) {
            page->timeShowREC();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        done = true;
        recorderThread.join();
    }
};

double secondsOf(const std::function<bool()>& step, bool* ok)
{
    QElapsedTimer timer;
    timer.start();
    *ok = step() && *ok;
    return timer.nsecsElapsed() / 1e9;
}

// Saves the page's recording and opens it in a fresh page, as the two
// buttons do after their dialogs.
void measureFile(UsbGen* recorded)
{
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_curves-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("day.cqz"));
    bool ok = dir.isValid();
    const double save = secondsOf(
        [&] {
            QSaveFile out(path);
            return out.open(QIODevice::WriteOnly) && writeCurveFile(&out, CurvesBench::recordedFile(recorded))
                && out.commit();
        },
        &ok);

    UsbGen page;
    page.resize(1280, 800);
    page.show();
    CurveFile file;
    const double read = secondsOf(
        [&] {
            QFile in(path);
            return in.open(QIODevice::ReadOnly) && readCurveFile(&in, &file) == CURVE_FILE_OK;
        },
        &ok);
    const qint64 rows = file.time.size();
    const double apply = secondsOf(
        [&] {
            CurvesBench::applyCurveFile(&page, file);
            return CurvesBench::recorder(&page)->getRecordedCount() == rows;
        },
        &ok);
    if (!ok) {
        std::printf("\nCurve file: a step failed\n");
        return;
    }
    std::printf("\nCurve file of the day's recording (%lld rows, %.0f MB):\n", rows, QFileInfo(path).size() / 1e6);
    std::printf("  saved from the page (QSaveFile, committed)      %7.3f s\n", save);
    std::printf("  opened in a fresh page:  read and checked         %7.3f s\n", read);
    std::printf("                           to recorder and plot     %7.3f s  (fitted and drawn)\n", apply);
    std::printf("                           in all                   %7.3f s\n", read + apply);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int feeds = argc > 1 ? std::max(100, atoi(argv[1])) : 2000;

    std::printf(
        "Curves page at %.0f points per second, default channels; %d feeds and tick runs timed\n", kRate, feeds);
    RecordingPage small(10000);
    RecordingPage large(kDay);
    // Alternating rounds, so that the machine's load falls on both alike.
    constexpr int rounds = 10;
    small.measureFeeds(feeds / rounds); // warm-up
    small.feedUs.clear();
    for (int round = 0; round < rounds; ++round) {
        small.measureFeeds(feeds / rounds);
        large.measureFeeds(feeds / rounds);
        small.measureTicks(feeds / rounds);
        large.measureTicks(feeds / rounds);
        small.measureTicksBesideFeeds(feeds / rounds);
        large.measureTicksBesideFeeds(feeds / rounds);
    }

    const auto row = [](const char* name, double a, double b, const char* goal) {
        std::printf("  %-22s %8.2f us    %8.2f us    %5.2f   %s\n", name, a, b, b / a, goal);
    };
    std::printf("\n                         10 thousand   8.64 million   ratio   goal\n");
    row("feed (median)", median(small.feedUs), median(large.feedUs), "<= 1.2");
    row("tick (median)", median(small.tickUs), median(large.tickUs), "<= 1.2");
    std::printf("  tick beside feeds:\n");
    row("  median", median(small.threadedTickUs), median(large.threadedTickUs), "");
    row("  99th percentile", percentile(small.threadedTickUs, 0.99), percentile(large.threadedTickUs, 0.99), "");
    std::printf("    slowest              %8.2f us    %8.2f us\n", percentile(small.threadedTickUs, 1),
        percentile(large.threadedTickUs, 1));

    const double total = large.bytesRecorder + large.bytesPlot;
    std::printf("\nMemory per recorded point at 8.64 million (resident):\n");
    std::printf(
        "  recorder %.1f B + plot %.1f B = %.1f B; raw %d B (time and 4 values of 8 B): %.2f x raw   goal <= 3\n",
        large.bytesRecorder, large.bytesPlot, total, kRawBytesPerPoint, total / kRawBytesPerPoint);

    measureFile(large.page.get());
    return 0;
}
