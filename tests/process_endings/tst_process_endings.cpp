// A host of the update library may end at any moment of the reminder's
// check: the real Spelmar and a plain-C host end, many times, at moments
// spread over the check's start against a server that takes the connection
// and never answers; every run exits 0 (a crash in an exit handler shows as
// a signal or a sanitizer's exit status).
#include "childprocess.h"
#include "silentserver.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestProcessEndings : public QObject
{
    Q_OBJECT

private slots:
    void hostEndsDuringCheck_data();
    void hostEndsDuringCheck();
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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
        environment.insert("MORAVEL_FTP_HOST", server.host());
        environment.remove("SPELMAR_TEST_ANSWERS"); // real boxes
        // Spelmar on a first start: the reminder's defaults make a check due.
        environment.insert("SPELMAR_EXIT_WHEN_SHOWN", QString::number(endMs + 1));
        QProcess host;
        endWithParent(host);
        host.setWorkingDirectory(folder.path());
        host.setProcessEnvironment(environment);
        const int connectionsBefore = server.connections();
        if (spelmar)
            host.start(SPELMAR_PROGRAM, {});
        else
            host.start(CHOST_PROGRAM, {MORAVEL_LIBRARY, server.host(), QString::number(endMs)});
        // Far below the server's 30 s response time-out: nothing waits for it.
        const bool ended = host.waitForFinished(20000);
        if (!ended)
            host.kill();
        QVERIFY2(ended && host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0,
                 qPrintable(QString("run %1, ended after %2 ms: %3 %4\n%5")
                                .arg(run)
                                .arg(endMs)
                                .arg(ended ? "exit status" : "hung")
                                .arg(host.exitCode())
                                .arg(QString::fromLocal8Bit(host.readAllStandardError()))));
        if (server.connections() > connectionsBefore)
            ++runsConnected;
    }
    // The later runs ended while the check waited for the server.
    qInfo("%d of %d runs ended after the check had connected", runsConnected, kRuns);
    QVERIFY2(runsConnected >= kRuns / 4, qPrintable(QString::number(runsConnected)));
}

QTEST_GUILESS_MAIN(TestProcessEndings)
#include "tst_process_endings.moc"
