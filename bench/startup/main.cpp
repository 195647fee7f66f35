// Start-up cost of the update binding.
//
// Spelmar is started from a staged program folder until its main window has
// been shown (SPELMAR_EXIT_WHEN_SHOWN=1 makes it say so on stdout and end),
// on the offscreen platform. "With": libMoravel.so beside it, the reminder
// due at every start and a loopback update server with the demo's newer
// files, so the library starts its check while the window comes up.
// "Without": the same program alone in a folder; its one box is answered
// at once (SPELMAR_TEST_ANSWERS). Rounds alternate; the figures are the
// best of each, which other load on the machine disturbs least.
//
// The window exits before the reminder's check begins (its worker waits a
// second first), so the check's effect on the user-interface thread is
// measured in a host of its own: this program, started with
// --check-host, loads libMoravel.so from the staged folder, calls
// UpdateStartSchedule and keeps a 1 ms timer running on its event loop
// until the check's question box is up (the check has finished); the
// longest gap between two ticks before the box is the UI stall, and the
// last gap, the making of the box, is printed apart. The figures printed
// are the worst over the rounds.

#include "ftpserver.h"
#include "moravel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dlfcn.h>

namespace {

constexpr int kRounds = 15;
constexpr int kCheckRounds = 5;
const char *const kCheckHostArgument = "--check-host";

// The host side: prints "stall MS" once the check's box is up.
int runCheckHost(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    void *library =
        dlopen(QFile::encodeName(folder + "/libMoravel.so").constData(), RTLD_NOW | RTLD_LOCAL);
    auto start = library
        ? reinterpret_cast<UpdateStartScheduleFunction>(dlsym(library, "UpdateStartSchedule"))
        : nullptr;
    if (!start)
        return 1;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 gap = now - lastTick;
        lastTick = now;
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            // The last gap is the making of the question box itself, after
            // the check has finished; it is printed on its own.
            std::printf("stall %.2f box %.2f\n", worst / 1e6, gap / 1e6);
            std::fflush(stdout);
            box->done(QMessageBox::No);
            // The reminder's worker may still be ending; the figure is out.
            std::_Exit(0);
        }
        worst = std::max(worst, gap);
    });
    tick.start(1);
    start("Spelmar/Updates", QFile::encodeName(folder + "/Spelmar").constData());
    QTimer::singleShot(60000, [] { std::_Exit(2); });
    return application.exec();
}

// Longest UI stall of one host run, in ms, and the time the question box
// took to make; negative on failure.
double checkStallMs(const QString &folder, QProcessEnvironment environment, double *boxMs)
{
    environment.remove(QStringLiteral("SPELMAR_TEST_ANSWERS"));
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setWorkingDirectory(folder);
    host.setStandardErrorFile(QProcess::nullDevice());
    host.start(QCoreApplication::applicationFilePath(),
               {QString::fromLatin1(kCheckHostArgument), folder});
    if (!host.waitForFinished(90000)) {
        host.kill();
        host.waitForFinished(10000);
        return -1;
    }
    const QList<QByteArray> words = host.readAllStandardOutput().trimmed().split(' ');
    if (words.size() != 4 || words[0] != "stall")
        return -1;
    *boxMs = words[3].toDouble();
    return words[1].toDouble();
}

// Milliseconds from the start to the shown window; negative on failure.
double startupMs(const QString &folder, const QProcessEnvironment &environment)
{
    QProcess spelmar;
    spelmar.setProcessEnvironment(environment);
    spelmar.setWorkingDirectory(folder);
    spelmar.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    spelmar.start(folder + QStringLiteral("/Spelmar"), {});
    QByteArray output;
    double shownMs = -1;
    while (shownMs < 0 && spelmar.waitForReadyRead(60000)) {
        output += spelmar.readAllStandardOutput();
        if (output.contains("Spelmar: main window shown"))
            shownMs = clock.nsecsElapsed() / 1e6;
    }
    if (!spelmar.waitForFinished(60000)) {
        spelmar.kill();
        spelmar.waitForFinished(10000);
        return -1;
    }
    return spelmar.exitCode() == 0 ? shownMs : -1;
}

double best(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], kCheckHostArgument) == 0)
        return runCheckHost(argc, argv);
    QCoreApplication application(argc, argv);
    QTemporaryDir state;
    if (!state.isValid())
        return 1;
    QProcess demo;
    demo.start(QStringLiteral("/bin/bash"),
               {QStringLiteral(MAKE_DEMO), QStringLiteral(PROGRAM_FOLDER), state.path()});
    if (!demo.waitForFinished(120000) || demo.exitCode() != 0) {
        std::fprintf(stderr, "bench_startup: make-demo.sh failed\n");
        return 1;
    }
    const QString withLibrary = state.filePath(QStringLiteral("program"));
    const QString without = state.filePath(QStringLiteral("bare"));
    QDir().mkpath(without);
    QFile::copy(withLibrary + QStringLiteral("/Spelmar"), without + QStringLiteral("/Spelmar"));

    FtpTestServer server(state.filePath(QStringLiteral("server")));
    if (!server.start()) {
        std::fprintf(stderr, "bench_startup: %s\n", qPrintable(server.errorText()));
        return 1;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), state.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("MORAVEL_FTP_HOST"), server.host());
    environment.insert(QStringLiteral("SPELMAR_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
    environment.insert(QStringLiteral("SPELMAR_TEST_ANSWERS"), QString());
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));

    // One unmeasured start of each warms the file cache.
    startupMs(withLibrary, environment);
    startupMs(without, environment);
    std::vector<double> withTimes;
    std::vector<double> withoutTimes;
    for (int round = 0; round < kRounds; ++round) {
        const double a = startupMs(withLibrary, environment);
        const double b = startupMs(without, environment);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "bench_startup: Spelmar did not show its window\n");
            return 1;
        }
        withTimes.push_back(a);
        withoutTimes.push_back(b);
    }
    const double withMs = best(withTimes);
    const double withoutMs = best(withoutTimes);
    std::printf("startup with library (reminder due): %.1f ms (best of %d)\n", withMs, kRounds);
    std::printf("startup without library:             %.1f ms (best of %d)\n", withoutMs, kRounds);
    std::printf("startup with/without ratio: %.3f\n", withMs / withoutMs);

    // The check itself, start to question, against the reachable server;
    // every round's reminder is due again (a check is due at every start).
    double worstStall = 0;
    double worstBox = 0;
    for (int round = 0; round < kCheckRounds; ++round) {
        double boxMs = 0;
        const double stall = checkStallMs(withLibrary, environment, &boxMs);
        if (stall < 0) {
            std::fprintf(stderr, "bench_startup: the check did not end with its question\n");
            return 1;
        }
        worstStall = std::max(worstStall, stall);
        worstBox = std::max(worstBox, boxMs);
    }
    std::printf("max UI stall during the check ms: %.1f (worst of %d)\n", worstStall, kCheckRounds);
    std::printf("making the question box ms: %.1f (worst of %d)\n", worstBox, kCheckRounds);
    return 0;
}
