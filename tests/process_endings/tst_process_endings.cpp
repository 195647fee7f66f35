// How the programs end. A host of the update library may end at any moment
// of the reminder's check: the real Spelmar and a plain-C host end, many
// times, at moments spread over the check's start against a server that
// takes the connection and never answers; every run exits 0 (a crash in an
// exit handler shows as a signal or a sanitizer's exit status). And a test
// that is killed leaves no child holding its output pipe.
#include "childprocess.h"
#include "ftpserver.h"
#include "orbosim.h"
#include "silentserver.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char *const kHoldChildren = "--hold-children";

// True while pid names a process that is neither gone nor a zombie.
bool processLives(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int afterName = line.lastIndexOf(')');
    return afterName > 0 && line.size() > afterName + 2 && line.at(afterName + 2) != 'Z';
}

// The child side of killedTestLeavesNoChild: starts the kinds of children
// that tests start, writes "children: PID PID PID" and waits to be killed.
int holdChildren()
{
    OrboSim simulator;
    QTemporaryDir root;
    FtpTestServer server(root.path());
    QProcess program;
    endWithParent(program);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral("/bin/sleep"), {QStringLiteral("600")});
    if (simulator.path().isEmpty() || !server.start() || !program.waitForStarted())
        return 1;
    std::printf("children: %lld %lld %lld\n", simulator.processId(), server.processId(), program.processId());
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// Reads fd until its end; false when it has not come after timeoutMs.
bool readsToEnd(int fd, int timeoutMs, QByteArray *text = nullptr, const char *until = nullptr)
{
    QDeadlineTimer deadline(timeoutMs);
    char buffer[4096];
    while (!deadline.hasExpired()) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), 200))) <= 0)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return got == 0;
        if (text) {
            text->append(buffer, static_cast<int>(got));
            if (until && text->contains(until))
                return false;
        }
    }
    return false;
}

} // namespace

class TestProcessEndings : public QObject
{
    Q_OBJECT

private slots:
    void hostEndsDuringCheck_data();
    void hostEndsDuringCheck();
    void killedTestLeavesNoChild();
};

void TestProcessEndings::hostEndsDuringCheck_data()
{
    QTest::addColumn<bool>("spelmar"); // else the plain-C host
    QTest::newRow("Spelmar, its window closed") << true;
    QTest::newRow("plain-C host, main returns") << false;
}

void TestProcessEndings::hostEndsDuringCheck()
{
    QFETCH(bool, spelmar);
    // The check starts a second after the reminder; the hosts end from well
    // before that to well after the connection has been made.
    constexpr int kRuns = 16;
    constexpr int kFirstEndMs = 600;
    constexpr int kLastEndMs = 1800;

    SilentServer server;
    QVERIFY(server.listening());
    int runsConnected = 0;
    for (int run = 0; run < kRuns; ++run) {
        const int endMs = kFirstEndMs + run * (kLastEndMs - kFirstEndMs) / (kRuns - 1);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("MORAVEL_FTP_HOST"), server.host());
        environment.remove(QStringLiteral("SPELMAR_TEST_ANSWERS")); // real boxes
        QProcess host;
        endWithParent(host);
        host.setWorkingDirectory(folder.path());
        const int connectionsBefore = server.connections();
        if (spelmar) {
            // A first start: the reminder's defaults make a check due.
            environment.insert(QStringLiteral("SPELMAR_EXIT_WHEN_SHOWN"), QString::number(endMs + 1));
            host.setProcessEnvironment(environment);
            host.start(QStringLiteral(SPELMAR_PROGRAM), {});
        } else {
            host.setProcessEnvironment(environment);
            host.start(QStringLiteral(CHOST_PROGRAM),
                       {QStringLiteral(MORAVEL_LIBRARY), QStringLiteral("--end-during-check"), server.host(),
                        QString::number(endMs)});
        }
        // Far below the server's 30 s response time-out: nothing waits for it.
        const bool ended = host.waitForFinished(20000);
        if (!ended) {
            host.kill();
            host.waitForFinished();
        }
        const QString report = QStringLiteral("run %1, ended after %2 ms: %3, status %4\n%5")
                                   .arg(run)
                                   .arg(endMs)
                                   .arg(ended ? QStringLiteral("exited") : QStringLiteral("hung"))
                                   .arg(host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1)
                                   .arg(QString::fromLocal8Bit(host.readAllStandardError()));
        QVERIFY2(ended && host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0,
                 qPrintable(report));
        if (server.connections() > connectionsBefore)
            ++runsConnected;
    }
    // The later runs ended while the check waited for the server.
    qInfo("%d of %d runs ended after the check had connected", runsConnected, kRuns);
    QVERIFY2(runsConnected >= kRuns / 4, qPrintable(QString::number(runsConnected)));
}

void TestProcessEndings::killedTestLeavesNoChild()
{
    int pipeEnds[2];
    QCOMPARE(::pipe2(pipeEnds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
    QByteArray mode(kHoldChildren);
    char *arguments[] = {self.data(), mode.data(), nullptr};
    pid_t holder = 0;
    const int spawned = ::posix_spawn(&holder, self.constData(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    QCOMPARE(spawned, 0);

    QByteArray output;
    readsToEnd(pipeEnds[0], 60000, &output, "\n");
    QList<qint64> children;
    const int at = output.indexOf("children: ");
    if (at >= 0)
        for (const QByteArray &word : output.mid(at + 10).split('\n').first().split(' '))
            children.append(word.toLongLong());

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // The pipe ends once no process holds it any more.
    const bool pipeEnded = readsToEnd(pipeEnds[0], 20000);
    ::close(pipeEnds[0]);
    QDeadlineTimer deadline(20000);
    auto anyLives = [&children] { return std::any_of(children.begin(), children.end(), processLives); };
    while (anyLives() && !deadline.hasExpired())
        QTest::qWait(50);
    const bool childLeft = anyLives();
    for (qint64 child : children)
        if (child > 0 && processLives(child))
            ::kill(static_cast<pid_t>(child), SIGKILL);

    QVERIFY2(children.size() == 3 && !children.contains(0), output.constData());
    QVERIFY(pipeEnded);
    QVERIFY(!childLeft);
}

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], kHoldChildren) == 0) {
        QCoreApplication application(argc, argv);
        return holdChildren();
    }
    QCoreApplication application(argc, argv);
    TestProcessEndings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_process_endings.moc"
