// A trace at a 1 ms interval against orbo-sim through the real trace
// panel (offscreen, its graph keeping a 60-second window of 60001 points).
// The trace first runs until the graph is full, then for the given seconds
// (default 10) while it prints the sample rate against the rate the
// interval asks for, the longest stall of the user-interface thread
// (lateness of a 10 ms repeating timer, against the same timer's lateness
// while idle measured first) and the CPU time per sample.
//
// Then: the interval kept at 10 ms against orbo-sim at 57600 baud (samples
// per second against the rate the polling rule allows), the longest of 20
// console exchanges while the trace polls a silent device every 1 ms, and
// how long closing takes with a 10 s interval.
//
// Last, the trace's figures: the CPU time of the statistics per sample
// (a loop of samples with them against the same loop without), and a
// report of 1,000,000 rows read back against Python's csv module reading
// it (time, best of three each), with the peak memory of
// `spelmar-cli review` on it against the file's size.
//
// Then the main window against a device that dies: the longest stall of
// its event loop while a console Send waits on a frozen device (SIGSTOP),
// and the time from killing the device in the middle of a trace until the
// answer line says it is lost.
//
// Last, a device that drips one byte at a time without a line end: the
// longest exchange with it against the exchange's total bound, and how long
// a trace's stop takes in the middle of such a poll; and the time from a
// killed device's return behind the same link until the window's trace
// shows a new sample.
//
// Run: QT_QPA_PLATFORM=offscreen bench_trace [seconds]
//      bench_trace --figures   (the statistics and report figures alone)

#include "ccwgraph.h"
#include "commandconsole.h"
#include "devicesession.h"
#include "orbosim.h"
#include "cnumber.h"
#include "spelmardlg.h"
#include "tracedlg.h"
#include "tracereport.h"
#include "tracerun.h"
#include "tracestats.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <csignal>
#include <functional>
#include <memory>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool openSession(CDeviceSession &session, const OrboSim &sim, uint32_t baud)
{
    SerialConfig serial;
    serial.port = sim.path().toStdString();
    serial.baudRate = baud;
    serial.separator = 10;
    serial.terminator = 10;
    serial.readTimeout = 2000;
    serial.inQueueSize = 4096;
    session.config() = serial;
    return !sim.path().isEmpty() && session.port().Open(serial) == 1;
}

// Samples per second at a 10 ms interval against a device at 57600 baud
// that sends at the line's pace, divided by the rate the polling rule
// allows: one poll per interval, or per exchange plus 1 ms when that is
// longer.
double intervalKeptRatio()
{
    OrboSim sim({"--line-rate"});
    CDeviceSession session;
    if (!openSession(session, sim, 57600))
        return 0.0;
    const int exchanges = 200;
    std::string echo, reply;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < exchanges; ++i)
        session.Transact("PRE", echo, reply);
    const double exchangeMs = double(clock.nsecsElapsed()) / 1e6 / exchanges;
    const double allowed = 1000.0 / std::max(10.0, exchangeMs + 1.0);

    std::atomic<long long> samples{0};
    CTraceRun run(session, "PRE", 10.0, nullptr, [&](const TraceSample &sample) {
        if (sample.ok)
            ++samples;
    });
    run.start();
    QThread::msleep(1000); // settle, then count
    const long long before = samples.load();
    clock.restart();
    QThread::msleep(10000);
    const double rate = double(samples.load() - before) / (double(clock.nsecsElapsed()) / 1e9);
    run.stop();
    run.wait();
    std::printf("interval 10 ms: %.1f samples/s, the rule allows %.1f (exchange %.2f ms)\n", rate,
                allowed, exchangeMs);
    return rate / allowed;
}

// The longest of 20 console Sends (a try and its retry under one take of
// the lock, as the window makes them) while the trace polls a silent
// device every 1 ms. Each exchange ends by the 2 s read time-out and the
// trace keeps polling, so a Send takes the poll under way, its try, one
// poll of the trace (the lock goes to each waiter in turn) and its retry:
// about 4 x 2 s.
double deadDeviceSendMs()
{
    OrboSim sim({"--silent"});
    CDeviceSession session;
    if (!openSession(session, sim, 9600))
        return -1.0;
    CTraceRun run(session, "PRE", 1.0, nullptr, {});
    CCommandConsole console(session);
    run.start();
    double worst = 0.0;
    for (int i = 0; i < 20; ++i) {
        QThread::msleep(unsigned(37 * i % 500)); // meet the trace at varying points
        QElapsedTimer clock;
        clock.start();
        console.send("SSV");
        worst = std::max(worst, double(clock.nsecsElapsed()) / 1e6);
    }
    run.stop();
    run.wait();
    return worst;
}

// The longest of three exchanges with a device that sends one byte every
// 1.9 s and never a line end (read time-out 2 s, 9600 baud); the total
// bound of the exchange is the reference.
double longestDripExchangeMs(double &boundMs)
{
    OrboSim sim({"--silent-after", "0", "--drip", "1900"});
    CDeviceSession session;
    if (!openSession(session, sim, 9600))
        return -1.0;
    boundMs = double(CDeviceSession::exchangeBoundMs(session.config()));
    double worst = 0.0;
    std::string echo, reply;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer clock;
        clock.start();
        session.Transact("PRE", echo, reply);
        worst = std::max(worst, double(clock.nsecsElapsed()) / 1e6);
    }
    return worst;
}

// The longest of five stops of a trace, each in the middle of a poll of a
// dripping device (one byte every 100 ms, never a line end): from stop()
// to the end of the thread.
double stopDuringDripMs()
{
    OrboSim sim({"--silent-after", "0", "--drip", "100"});
    CDeviceSession session;
    if (!openSession(session, sim, 9600))
        return -1.0;
    double worst = 0.0;
    for (int i = 0; i < 5; ++i) {
        CTraceRun run(session, "PRE", 10.0, nullptr, {});
        run.start();
        QThread::msleep(unsigned(300 + 170 * i)); // the first poll is under way
        QElapsedTimer clock;
        clock.start();
        run.stop();
        run.wait();
        worst = std::max(worst, double(clock.nsecsElapsed()) / 1e6);
    }
    return worst;
}

// From Stop to the end of the trace thread, the panel tracing a live
// device at a 10 s interval.
double closeLatencyMs(QApplication &app)
{
    OrboSim sim;
    CDeviceSession session;
    if (!openSession(session, sim, 9600))
        return -1.0;
    QWidget owner;
    auto *panel = new CTraceDlg(&owner);
    panel->setOwner(&session, nullptr, {});
    panel->findChild<QLineEdit *>("intervalEdit")->setText("10000");
    panel->OnTraceSettingsChanged();
    owner.show();
    panel->OnTraceStartStop();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000)
        app.processEvents(QEventLoop::AllEvents, 50);
    clock.restart();
    panel->StopTrace();
    while (panel->isTracing())
        app.processEvents(QEventLoop::AllEvents, 5);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    delete panel;
    return ms;
}

// Runs the event loop until condition() holds or limitMs passed.
bool waitFor(QApplication &app, const std::function<bool()> &condition, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < limitMs)
        app.processEvents(QEventLoop::AllEvents, 1);
    return condition();
}

// A main window connected to orbo-sim at 9600 baud.
bool connectWindow(QApplication &app, CSpelmarDlg &window, const OrboSim &sim)
{
    window.show();
    window.findChild<QComboBox *>("portCombo")->setEditText(sim.path());
    auto *baud = window.findChild<QComboBox *>("baudCombo");
    baud->setCurrentIndex(baud->findText("9600"));
    window.findChild<QCheckBox *>("simulationCheck")->setChecked(false);
    window.onConnect();
    waitFor(
        app, [&] { return !window.isBusy(); }, 60000);
    return window.session().port().isOpen();
}

// The longest stall of the window's event loop (lateness of a 10 ms
// timer) while a console Send waits on a frozen device, over the first
// 3 s of the Send.
double deadSendStallMs(QApplication &app)
{
    OrboSim sim;
    CSpelmarDlg window;
    if (!connectWindow(app, window, sim))
        return -1.0;
    ::kill(pid_t(sim.processId()), SIGSTOP);
    window.findChild<QComboBox *>("commandCombo")->setEditText("PRE");
    window.onSend();
    const double stall = maxStallMs(app, 3000);
    window.onConnect(); // disconnect
    ::kill(pid_t(sim.processId()), SIGCONT);
    waitFor(
        app, [&] { return !window.session().port().isOpen(); }, 30000);
    return stall;
}

// From killing the device in the middle of a trace (50 ms interval) until
// the window's answer line says it is lost.
double lostRecognisedMs(QApplication &app)
{
    auto sim = std::make_unique<OrboSim>();
    CSpelmarDlg window;
    if (!connectWindow(app, window, *sim))
        return -1.0;
    CTraceDlg *trace = window.tracePanel();
    trace->findChild<QLineEdit *>("intervalEdit")->setText("50");
    trace->OnTraceSettingsChanged();
    trace->OnTraceStartStop();
    waitFor(
        app, [&] { return trace->graph()->pointCount() >= 5; }, 30000);
    auto *answer = window.findChild<QLabel *>("answerLabel");
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(sim->processId()), SIGKILL);
    if (!waitFor(
            app, [&] { return answer->text().startsWith("!! ORBO lost"); }, 60000))
        return -1.0;
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    sim.reset();
    window.onConnect(); // disconnect
    return ms;
}

// The window traces at 50 ms a device behind a link; the device is
// killed, and once the answer line says it is lost a new one comes up
// behind the same link. The median of three rounds of the time from the
// new device's port being there to the first new sample of the trace.
double rowsAgainMs(QApplication &app)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("orbo");
    auto sim = std::make_unique<OrboSim>(QStringList{"--link", link});
    CSpelmarDlg window;
    window.show();
    window.findChild<QComboBox *>("portCombo")->setEditText(link);
    auto *baud = window.findChild<QComboBox *>("baudCombo");
    baud->setCurrentIndex(baud->findText("9600"));
    window.onConnect();
    waitFor(
        app, [&] { return !window.isBusy(); }, 60000);
    if (!window.session().port().isOpen())
        return -1.0;
    CTraceDlg *trace = window.tracePanel();
    trace->findChild<QLineEdit *>("intervalEdit")->setText("50");
    trace->OnTraceSettingsChanged();
    long long good = 0;
    QObject::connect(trace, &CTraceDlg::sampleShown, [&](bool ok, bool, double) { good += ok; });
    trace->OnTraceStartStop();
    auto *answer = window.findChild<QLabel *>("answerLabel");
    std::vector<double> rounds;
    for (int round = 0; round < 3; ++round) {
        waitFor(
            app, [&] { return good >= 5; }, 30000);
        ::kill(pid_t(sim->processId()), SIGKILL);
        if (!waitFor(
                app, [&] { return answer->text().startsWith("!! ORBO lost"); }, 30000))
            return -1.0;
        sim.reset();
        waitFor(
            app, [&] { return !QFileInfo::exists(link); }, 10000);
        // Let a few tries to reopen the port fail first.
        waitFor(
            app, [] { return false; }, 1300 + 270 * round);
        sim = std::make_unique<OrboSim>(QStringList{"--link", link});
        QElapsedTimer clock;
        clock.start();
        good = 0;
        if (!waitFor(
                app, [&] { return good > 0; }, 30000))
            return -1.0;
        rounds.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    trace->StopTrace();
    window.onConnect(); // disconnect
    waitFor(
        app, [&] { return !window.isBusy(); }, 30000);
    std::sort(rounds.begin(), rounds.end());
    return rounds[1];
}

} // namespace

// CPU microseconds the statistics add to one sample.
double statsMicrosPerSample()
{
    const int n = 5000000;
    TraceSample sample;
    sample.ok = true;
    sample.reply = "1.2345E-03";
    double best[2] = {1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        for (int withStats = 0; withStats < 2; ++withStats) {
            CTraceStats stats;
            double sink = 0.0;
            const double start = cpuSeconds();
            for (int i = 0; i < n; ++i) {
                sample.index = uint64_t(i);
                sample.startMs = i * 10.0 + (i % 13) * 0.01;
                sample.exchangeMs = 0.13 + (i % 17) * 0.001;
                sample.late = i % 1000 == 0;
                sample.value = 1.2345e-3 + (i % 101) * 1e-7;
                if (withStats)
                    stats.add(sample);
                sink += sample.value;
            }
            const double used = cpuSeconds() - start;
            best[withStats] = std::min(best[withStats], used);
            if (sink < 0 || stats.samples() > uint64_t(n))
                std::puts("");
        }
    }
    return (best[1] - best[0]) * 1e6 / n;
}

// Writes a time report of rows lines; returns its size in bytes.
long long writeReport(const std::string &path, int rows)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fputs("Report for;ORBO Sim 100\r\nSerial;4711 042\r\nStart time;2026-12-07 08:00:00\r\n"
               "Comport;3\r\nSignal;PRE\r\nInterval;10 ms\r\n\r\ntime[s.ms] after start;Value;\r\n",
               file);
    for (int i = 0; i < rows; ++i)
        std::fprintf(file, "%d.%03d; %.4E;\r\n", (i + 1) / 100, (i + 1) % 100 * 10,
                     1.2345e-3 + (i % 997) * 1e-7);
    const long long size = std::ftell(file);
    std::fclose(file);
    return size;
}

double pythonCsvSeconds(const std::string &path)
{
    const std::string command =
        "/usr/bin/python3 -c \"import csv,sys,time\n"
        "best=1e9\n"
        "for r in range(3):\n"
        " t=time.perf_counter()\n"
        " with open(sys.argv[1],newline='') as f: rows=list(csv.reader(f,delimiter=';'))\n"
        " best=min(best,time.perf_counter()-t)\n"
        "print(best)\" "
        + path;
    std::FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return 0.0;
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    return read ? atofC(line) : 0.0;
}

// Peak resident memory (bytes) of spelmar-cli review on the report.
double reviewPeakRss(const std::string &cli, const std::string &path)
{
    std::fflush(stdout); // the child must not print what is still buffered
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(cli.c_str(), cli.c_str(), "review", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        return 0.0;
    return double(usage.ru_maxrss) * 1024.0;
}

void reviewFigures()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("million.csv").toStdString();
    const double size = double(writeReport(path, 1000000));
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        TraceReport report;
        std::string error;
        QElapsedTimer clock;
        clock.start();
        if (!CTraceReportReader::readFile(path, report, error)) {
            std::fprintf(stderr, "review: %s\n", error.c_str());
            return;
        }
        best = std::min(best, double(clock.nsecsElapsed()) / 1e9);
    }
    const double python = pythonCsvSeconds(path);
    const std::string cli = QCoreApplication::applicationDirPath().toStdString() + "/spelmar-cli";
    const double rss = reviewPeakRss(cli, path);
    std::printf("report of 1M rows: %.1f MB, read in %.3f s, python csv %.3f s\n", size / 1e6, best,
                python);
    std::printf("review 1M rows / python csv ratio: %.2f\n", python > 0 ? best / python : 0.0);
    std::printf("review peak RSS MB: %.1f\n", rss / 1e6);
    std::printf("review peak RSS / file size: %.2f\n", rss / size);
}

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--figures") {
        // The statistics and report figures alone.
        QCoreApplication core(argc, argv);
        std::printf("stats cpu us per sample: %.3f\n", statsMicrosPerSample());
        reviewFigures();
        return 0;
    }
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
    QObject::connect(panel, &CTraceDlg::sampleShown,
                     [&](bool ok, bool, double) { ok ? ++good : ++failed; });
    panel->OnTraceStartStop();
    // Fill the graph first: a full chart is the costly case.
    QElapsedTimer filling;
    filling.start();
    while (panel->graph()->pointCount() < panel->graph()->chartLength()
           && filling.elapsed() < 600000)
        app.processEvents(QEventLoop::AllEvents, 50);
    std::printf("graph filled in %.1f s\n", double(filling.elapsed()) / 1000.0);
    good = failed = 0;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    const double stall = maxStallMs(app, seconds * 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    panel->StopTrace();
    const double cpu = cpuSeconds() - cpuBefore;
    while (panel->isTracing())
        app.processEvents(QEventLoop::AllEvents, 50);
    app.processEvents();

    const long long samples = good + failed;
    const double asked = elapsed * 1000.0;
    std::printf("samples: %lld good, %lld failed in %.2f s (asked %.0f)\n", good, failed, elapsed,
                asked);
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
    session.port().Close();

    std::printf("interval kept ratio (10 ms): %.3f\n", intervalKeptRatio());
    std::printf("send latency with a dead device ms: %.0f\n", deadDeviceSendMs());
    std::printf("close latency ms: %.1f\n", closeLatencyMs(app));
    std::printf("stats cpu us per sample: %.3f\n", statsMicrosPerSample());
    reviewFigures();
    std::printf("max UI stall while a Send waits on a dead device ms: %.2f (idle %.2f)\n",
                deadSendStallMs(app), maxStallMs(app, 1000));
    std::printf("lost device recognised after ms: %.1f\n", lostRecognisedMs(app));
    double boundMs = 0.0;
    const double dripMs = longestDripExchangeMs(boundMs);
    std::printf("longest exchange with a dripping device ms: %.0f (the exchange's bound %.0f)\n",
                dripMs, boundMs);
    std::printf("stop during a dripping exchange ms: %.1f\n", stopDuringDripMs());
    std::printf("rows again after the device's return ms: %.0f\n", rowsAgainMs(app));
    return 0;
}
