// CPU cost of streaming meters: N simulated meters send live data through
// real connections (registry, 2 ms timer, both worker threads) for a while;
// prints the process CPU time per meter per wall second, and the decoder's
// own throughput.
//
// Usage: bench_link [seconds] [N ...]   (defaults: 10 s; N = 1 4 8)
#include "com_layer.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "usbevent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void streamMeters(int meters, double seconds)
{
    hidsim::reset();
    QList<hidsim::MeterId> ids;
    for (int i = 0; i < meters; ++i) {
        hidsim::MeterConfig c;
        const known_meter_t row = knownMeters[size_t(1 + i % 5)]; // format-2 rows
        c.id = { row.vid, row.pid, QStringLiteral("BENCH%1").arg(i) };
        hidsim::plug(c);
        hidsim::setSampleSource(c.id, [](quint64 n) {
            hidsim::Sample s;
            s.vol = 500000 + quint32(n % 1000);
            s.cur = 100000 + quint32(n % 500);
            return s;
        });
        ids << c.id;
    }

    QSharedPointer<UsbEvent> registry = UsbEvent::instance();
    registry->hidDevArrivalSlot();
    quint64 frames = 0;
    for (Com_Layer* com : registry->allComLayer)
        QObject::connect(com, &Com_Layer::addRecordFifo, [&frames] { ++frames; });

    // Sign-in takes up to a second; measure only the steady stream.
    QElapsedTimer wait;
    wait.start();
    auto allStreaming = [&ids] {
        for (const hidsim::MeterId& id : ids)
            if (!hidsim::isStreaming(id))
                return false;
        return true;
    };
    while (!allStreaming() && wait.elapsed() < 10000)
        runEventsFor(50);
    runEventsFor(200);

    frames = 0;
    const double cpu0 = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runEventsFor(int(seconds * 1000));
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    const double cpu = processCpuSeconds() - cpu0;

    std::printf("meters %2d  wall %5.2f s  cpu %6.3f s  cpu/meter/wall-s %.4f  live frames/s %7.1f (%.1f per meter)\n",
        meters, wallSeconds, cpu, cpu / meters / wallSeconds, frames / wallSeconds, frames / wallSeconds / meters);
    std::fflush(stdout);

    registry.clear();
    UsbEvent::resetInstance();
    hidsim::reset();
}

void decoderThroughput()
{
    Com_Receive receive(nullptr);
    receive.setFormat(2);
    quint64 decoded = 0;
    QObject::connect(&receive, &Com_Receive::addRecordFifo, [&decoded] { ++decoded; });
    hidsim::Sample samples[4];
    QByteArray frame = hidsim::frame2(4, hidsim::livePayload(samples));
    const int rounds = 2000000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i)
        receive.decodingData(reinterpret_cast<quint8*>(frame.data()), 64);
    const double s = t.nsecsElapsed() / 1e9;
    std::printf("decoder: %d live frames in %.3f s, %.0f frames/s (%llu decoded)\n", rounds, s, rounds / s,
        static_cast<unsigned long long>(decoded));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 10.0;
    QList<int> counts { 1, 4, 8 };
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty())
        seconds = args.first().toDouble();
    if (args.size() > 1) {
        counts.clear();
        for (const QString& a : args.mid(1))
            counts << a.toInt();
    }
    std::printf("goal: at most 0.03 of one core per streaming meter\n");
    for (int n : counts)
        if (n > 0)
            streamMeters(n, seconds);
    decoderThroughput();
    return 0;
}
