// Plot benchmark: prints ratios, which travel between machines better than times.
//
// 1. Live feed: three shown curves are fed every "30 ms" the way the curves
//    page feeds them (the whole accumulated vectors, of which only the tail is
//    new). Cost of one feed with 10 million stored samples over the cost with
//    10 thousand. Goal <= 1.2: a feed must neither copy nor scan the history.
// 2. Live redraw: the whole 30 ms step of a running recording: the feed,
//    the time axis scrolled to the newest 150 samples, a replot. Cost with
//    8.64 million stored samples per curve (a day at 100 points per second)
//    over the cost with 10 thousand. Goal <= 1.2: no step may cost the history.
// 3. Replot: a fit-all view of 8.64 million samples per curve over the live
//    view of the newest 150 samples; once drawn again unchanged (as while the
//    cursor moves over it), once with the view changed before every replot (as
//    while zooming or dragging).
//
// Usage: bench_plot [feeds]   (runs on the offscreen platform unless told otherwise)

#include "lmmulticurvesplot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QList<quint16> kShown = { 0, 1, 4 };
constexpr double kKeyStep = 0.01; // 100 points per second
constexpr int kNewPerFeed = 3; // 30 ms at 100 points per second
constexpr int kWarmUpFeeds = 50;

std::unique_ptr<LMMultiCurvesPlot> makePlot()
{
    auto plot = std::make_unique<LMMultiCurvesPlot>();
    plot->initCurves(7, { Qt::yellow, Qt::green, Qt::cyan, Qt::magenta, Qt::red, Qt::white, Qt::darkYellow },
        { "VBUS", "IBUS", "D+", "D-", "PBUS", "CAP", "NRG" },
        { "VBUS(V)", "IBUS(A)", "D+(V)", "D-(V)", "PBUS(W)", "CAP(Ah)", "NRG(Wh)" });
    plot->resize(1280, 640);
    plot->show();
    plot->clearCurvesData();
    plot->showCurves(kShown);
    return plot;
}

double sampleValue(int curve, qint64 i)
{
    const double t = i * kKeyStep;
    const double base = curve == 0 ? 5.0 : (curve == 1 ? 1.5 : 7.5);
    // A slow wave plus a little deterministic jitter, like a real recording.
    return base + 0.3 * std::sin(t * 0.01 + curve) + 0.01 * ((i * 7919 + curve * 104729) % 97) / 97.0;
}

// The accumulated lists of the curves page: one time list and one value list per curve.
struct Recording
{
    QVector<double> t;
    QVector<QVector<double>> values; // indexed like kShown

    Recording(qint64 count, qint64 capacity)
        : values(kShown.size())
    {
        t.reserve(int(capacity));
        for (auto& v : values)
            v.reserve(int(capacity));
        append(count);
    }

    void append(qint64 count)
    {
        const qint64 start = t.size();
        for (qint64 i = start; i < start + count; ++i) {
            t.append(i * kKeyStep);
            for (int c = 0; c < kShown.size(); ++c)
                values[c].append(sampleValue(kShown[c], i));
        }
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (const double x : v)
        sum += x;
    return sum / double(v.size());
}

struct StepCost
{
    double medianUs;
    double meanUs;
    double slowestUs;
};

// Times the 30 ms steps of a running recording of `stored` samples per curve:
// each step feeds the new samples and, with redraw, scrolls the time axis to
// the newest 150 samples and replots, as the curves page does.
StepCost measureSteps(qint64 stored, int steps, bool redraw)
{
    auto plot = makePlot();
    Recording rec(stored, stored + qint64(steps + kWarmUpFeeds + 1) * kNewPerFeed);
    for (int c = 0; c < kShown.size(); ++c)
        plot->addCurvesData(kShown[c], rec.t, rec.values[c]);

    std::vector<double> us;
    us.reserve(size_t(steps));
    QElapsedTimer timer;
    for (int f = 0; f < kWarmUpFeeds + steps; ++f) {
        rec.append(kNewPerFeed);
        timer.start();
        for (int c = 0; c < kShown.size(); ++c)
            plot->addCurvesData(kShown[c], rec.t, rec.values[c]);
        if (redraw) {
            const int n = rec.t.size();
            plot->xAxis->setRange(rec.t[n - 150], rec.t[n - 1]);
            plot->replot(QCustomPlot::rpImmediateRefresh);
        }
        const double elapsed = timer.nsecsElapsed() / 1000.0;
        if (f >= kWarmUpFeeds)
            us.push_back(elapsed);
    }
    return { median(us), mean(us), *std::max_element(us.begin(), us.end()) };
}

double medianReplotMs(LMMultiCurvesPlot& plot, int runs)
{
    std::vector<double> ms;
    QElapsedTimer timer;
    plot.replot(QCustomPlot::rpImmediateRefresh); // settle the layout once
    for (int i = 0; i < runs; ++i) {
        timer.start();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        ms.push_back(timer.nsecsElapsed() / 1.0e6);
    }
    return median(ms);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int feeds = argc > 1 ? std::max(100, atoi(argv[1])) : 2000;

    std::printf("Live feed: 3 shown curves, %d new samples per curve per feed, %d feeds timed\n", kNewPerFeed, feeds);
    const StepCost small = measureSteps(10000, feeds, false);
    std::printf("  10 thousand stored:  median %8.2f us, mean %8.2f us per feed\n", small.medianUs, small.meanUs);
    const StepCost large = measureSteps(10000000, feeds, false);
    std::printf("  10 million stored:   median %8.2f us, mean %8.2f us per feed\n", large.medianUs, large.meanUs);
    std::printf("  feed cost ratio 10M / 10k: %.2f (median), %.2f (mean)   goal <= 1.2\n",
        large.medianUs / small.medianUs, large.meanUs / small.meanUs);

    const qint64 day = 8640000;
    std::printf("\nLive redraw: feed, scroll to the newest 150 samples, replot; 1280 x 640 pixels, %d steps timed\n",
        feeds / 2);
    const StepCost fewSteps = measureSteps(10000, feeds / 2, true);
    std::printf("  10 thousand stored:  median %8.1f us, mean %8.1f us, slowest %8.1f us per step\n", fewSteps.medianUs,
        fewSteps.meanUs, fewSteps.slowestUs);
    const StepCost daySteps = measureSteps(day, feeds / 2, true);
    std::printf("  8.64 million stored: median %8.1f us, mean %8.1f us, slowest %8.1f us per step\n", daySteps.medianUs,
        daySteps.meanUs, daySteps.slowestUs);
    std::printf("  live redraw ratio 8.64M / 10k: %.2f (mean), %.2f (median)   goal <= 1.2\n",
        daySteps.meanUs / fewSteps.meanUs, daySteps.medianUs / fewSteps.medianUs);

    std::printf("\nReplot: 3 curves of %lld samples each, 1280 x 640 pixels\n", static_cast<long long>(day));
    auto plot = makePlot();
    {
        Recording rec(day, day);
        for (int c = 0; c < kShown.size(); ++c)
            plot->addCurvesData(kShown[c], rec.t, rec.values[c]);
    }
    // Live view: the newest 150 samples (the feeds have ranged the value axes).
    plot->xAxis->setRange((day - 150) * kKeyStep, (day - 1) * kKeyStep);
    const double liveMs = medianReplotMs(*plot, 40);
    std::printf("  live 150-sample window: median %8.2f ms per replot\n", liveMs);

    plot->scaledAllCurves();
    const double fitMs = medianReplotMs(*plot, 10);
    std::printf("  fit all, unchanged:     median %8.2f ms per replot\n", fitMs);
    std::printf("  replot ratio fit-all / live: %.2f   goal <= 3\n", fitMs / liveMs);

    // Alternating between two time ranges: no view is ever drawn twice in a row.
    const QCPRange fit = plot->xAxis->range();
    std::vector<double> changed;
    QElapsedTimer timer;
    for (int i = 0; i < 10; ++i) {
        plot->xAxis->setRange(fit.lower, fit.upper + (i % 2) * kKeyStep);
        timer.start();
        plot->replot(QCustomPlot::rpImmediateRefresh);
        changed.push_back(timer.nsecsElapsed() / 1.0e6);
    }
    const double changedMs = median(changed);
    std::printf("  fit all, view changed:  median %8.2f ms per replot\n", changedMs);
    std::printf("  replot ratio changed fit-all / live: %.2f\n", changedMs / liveMs);
    return 0;
}
