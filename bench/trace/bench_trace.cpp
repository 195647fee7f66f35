// A trace at a 1 ms interval against orbo-sim for 10 s through the real
// trace panel (offscreen, its graph keeping a 60-second window of 60001
// points). Prints the sample rate against the rate the interval asks for,
// the longest stall of the user-interface thread (lateness of a 10 ms
// repeating timer, against the same timer's lateness while idle measured
// first) and the CPU time per sample.
//
// Run: QT_QPA_PLATFORM=offscreen bench_trace [seconds]

#include "ccwgraph.h"
#include "devicesession.h"
#include "orbosim.h"
#include "tracedlg.h"
#include "tracerun.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms while a 10 ms timer measures its lateness.
double maxStallMs(QApplication &app, int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double worst = 0.0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last != 0)
            worst = std::max(worst, double(now - last) / 1e6 - 10.0);
        last = now;
    });
    tick.start();
    QTimer::singleShot(ms, &app, &QCoreApplication::quit);
    app.exec();
    return worst;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    OrboSim sim;
    if (sim.path().isEmpty()) {
        std::fprintf(stderr, "orbo-sim: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    CDeviceSession session;
    SerialConfig serial;
    serial.port = sim.path().toStdString();
    serial.separator = 10;
    serial.terminator = 10;
    serial.readTimeout = 2000;
    serial.inQueueSize = 4096;
    session.config() = serial;
    if (session.port().Open(serial) != 1) {
        std::fprintf(stderr, "cannot open %s\n", serial.port.c_str());
        return 1;
    }

    // Reference: the exchange alone, back to back on the same link.
    const int exchanges = 2000;
    QElapsedTimer exchangeClock;
    exchangeClock.start();
    std::string echo, reply;
    for (int i = 0; i < exchanges; ++i)
        session.Transact("PRE", echo, reply);
    const double exchangeMs = double(exchangeClock.nsecsElapsed()) / 1e6 / exchanges;
    // The poll loop sleeps at least 1 ms a turn, so one turn at a 1 ms
    // interval takes 1 ms plus the exchange.
    const double ruleBound = 1.0 / (1.0 + exchangeMs);

    // Reference: the poll loop alone, reporting to nobody, for 2 s.
    std::atomic<long long> coreSamples{0};
    double coreRatio = 0.0;
    {
        CTraceRun run(session, "PRE", 1.0, nullptr, [&](const TraceSample &sample) {
            if (sample.ok)
                ++coreSamples;
        });
        QElapsedTimer coreClock;
        coreClock.start();
        run.start();
        QThread::msleep(2000);
        run.stop();
        run.wait();
        coreRatio = double(coreSamples.load()) / (double(coreClock.nsecsElapsed()) / 1e6);
    }

    QWidget owner;
    owner.resize(1000, 800);
    auto *panel = new CTraceDlg(&owner);
    panel->setOwner(&session, nullptr, {});
    panel->findChild<QLineEdit *>("intervalEdit")->setText("1");
    panel->findChild<QLineEdit *>("sizeEdit")->setText("60");
    panel->OnTraceSettingsChanged();
    panel->LayoutTracePanel();
    owner.show();

    const double idleStall = maxStallMs(app, 1000);

    long long good = 0, failed = 0;
    QObject::connect(panel, &CTraceDlg::sampleShown, [&](bool ok, bool, double) {
        ok ? ++good : ++failed;
    });
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    panel->OnTraceStartStop();
    const double stall = maxStallMs(app, seconds * 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    panel->StopTrace();
    const double cpu = cpuSeconds() - cpuBefore;
    while (panel->isTracing())
        app.processEvents(QEventLoop::AllEvents, 50);
    app.processEvents();

    const long long samples = good + failed;
    const double asked = elapsed * 1000.0;
    std::printf("samples: %lld good, %lld failed in %.2f s (asked %.0f)\n", good, failed, elapsed, asked);
    std::printf("graph points kept: %d of chart length %d\n", panel->graph()->pointCount(),
                panel->graph()->chartLength());
    std::printf("idle UI timer lateness ms: %.2f\n", idleStall);
    std::printf("cpu us per sample: %.1f\n", samples ? cpu * 1e6 / double(samples) : 0.0);
    std::printf("exchange ms (reference, back to back): %.3f\n", exchangeMs);
    std::printf("rate the 1 ms minimum sleep allows: %.3f; achieved against it: %.3f\n", ruleBound,
                double(good) / asked / ruleBound);
    std::printf("poll loop alone (no window), rate ratio: %.3f\n", coreRatio);
    std::printf("trace rate ratio: %.3f\n", double(good) / asked);
    std::printf("max UI stall ms: %.2f\n", stall);
    delete panel;
    return 0;
}
