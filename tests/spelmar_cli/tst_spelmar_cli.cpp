#include "childprocess.h"
#include "orbosim.h"
#include "settingskeys.h"
#include "settingsstore.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

ProgramRun runCli(const QStringList &arguments, const QString &configHome)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    return runProgram(QStringList{qEnvironmentVariable("SPELMAR_CLI")} + arguments, environment);
}

} // namespace

class TestSpelmarCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        m_sim = std::make_unique<OrboSim>(QStringList{"--baud", "19200"});
        QVERIFY2(!m_sim->path().isEmpty(), qPrintable(m_sim->errorString()));
        m_boot = std::make_unique<OrboSim>(QStringList{"--boot"});
        QVERIFY2(!m_boot->path().isEmpty(), qPrintable(m_boot->errorString()));
    }

    void subcommands_data()
    {
        QTest::addColumn<QStringList>("arguments"); // %SIM% and %BOOT% name the simulators
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a line stdout must hold
        QTest::addColumn<QString>("err"); // a text stderr must hold

        const QString noAnswer =
            "!! Fail ! No answer from ORBO. Try again after the device has been started.";
        QTest::newRow("ports") << QStringList{"ports"} << 0 << ""
                               << "";
        QTest::newRow("identify auto")
            << QStringList{"identify", "--port", "%SIM%"} << 0 << "Model: 1000 mbar"
            << ">> Baud rate found: 19200";
        QTest::newRow("identify simulated")
            << QStringList{"identify", "--port", "1", "--simulate"} << 0 << "Model: 100 Torr"
            << "";
        QTest::newRow("identify wrong baud")
            << QStringList{"identify", "--port", "%SIM%", "--baud", "9600"} << 1 << "" << noAnswer;
        QTest::newRow("identify no port") << QStringList{"identify", "--port", "/dev/no-such-orbo"} << 1 << ""
                                          << "!! Can not open comport /dev/no-such-orbo!\n!! no such device";
        QTest::newRow("identify boot")
            << QStringList{"identify", "--port", "%BOOT%", "--baud", "9600"} << 0 << "Rev: 1.02.21"
            << "";
        QTest::newRow("commands") << QStringList{"commands", "--port", "%SIM%", "--baud", "19200"} << 0
                                  << "PRE: Read pressure in the active unit"
                                  << "";
        QTest::newRow("send") << QStringList{"send", "--port", "%SIM%", "PAN"} << 0 << "ORBO Sim 100"
                              << "";
        QTest::newRow("send unknown") << QStringList{"send", "--port", "%SIM%", "--baud", "19200", "XYZ"} << 0
                                      << "Can not execute command"
                                      << "";
        QTest::newRow("send too long")
            << QStringList{"send", "--port", "%SIM%", "--baud", "19200", QString(2016, 'C')} << 1 << ""
            << "Command too long!";
        QTest::newRow("no subcommand") << QStringList{} << 2 << ""
                                       << "Usage: spelmar-cli";
        QTest::newRow("missing port") << QStringList{"identify"} << 2 << ""
                                      << "--port is missing";
        QTest::newRow("bad baud") << QStringList{"identify", "--port", "1", "--baud", "1200"} << 2 << ""
                                  << "bad baud rate";
        QTest::newRow("send without command") << QStringList{"send", "--port", "1"} << 2 << ""
                                              << "Usage";
        QTest::newRow("trace both limits")
            << QStringList{"trace", "--port", "1", "--command", "PRE", "--duration", "1", "--samples", "2"}
            << 2 << ""
            << "either --duration or --samples";
        QTest::newRow("trace simulated")
            << QStringList{"trace", "--port",     "1",  "--simulate", "--command",
                           "PRE",   "--interval", "20", "--samples",  "3"}
            << 0 << ""
            << "";
        QTest::newRow("trace failing polls")
            << QStringList{"trace", "--port",     "%SIM%", "--baud",    "19200", "--command",
                           "XYZ",   "--interval", "20",    "--samples", "2"}
            << 1 << ""
            << "XYZ -> Can not execute command\n!! 2 of 2 polls failed\n";
        QTest::newRow("trace unwritable csv")
            << QStringList{"trace", "--port",    "1", "--simulate", "--command",
                           "PRE",   "--samples", "1", "--csv",      "/proc/no-such-dir/x.csv"}
            << 1 << ""
            << "!! Error occurred!";
    }

    void subcommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        arguments.replaceInStrings("%SIM%", m_sim->path());
        arguments.replaceInStrings("%BOOT%", m_boot->path());

        const ProgramRun run = runCli(arguments, m_config.path());
        QVERIFY2(run.exitCode == status,
                 qPrintable(QString("status %1, stderr: %2").arg(run.exitCode).arg(run.errors)));
        if (!out.isEmpty())
            QVERIFY2(run.output.split('\n').contains(out), qPrintable(run.output));
        if (!err.isEmpty())
            QVERIFY2(run.errors.contains(err), qPrintable(run.errors));
    }

    void traceWritesReport()
    {
        QTemporaryDir files;
        const QString csvPath = files.path() + "/report.csv";
        const ProgramRun run =
            runCli({"trace", "--port", m_sim->path(), "--baud", "19200", "--command", "TMP", "--interval",
                    "50", "--samples", "4", "--csv", csvPath, "--tick"},
                   m_config.path());
        QCOMPARE(run.exitCode, 0);
        const QStringList values = run.output.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(values.size(), 4);
        for (const QString &value : values)
            QVERIFY2(value.toDouble() > 20 && value.toDouble() < 30, qPrintable(value));
        QFile csv(csvPath);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 8 + 4 + 1);
        QCOMPARE(lines.mid(0, 2), QList<QByteArray>({"Report for;ORBO Sim 100\r", "Serial;4711 042\r"}));
        QCOMPARE(lines.mid(3, 5),
                 QList<QByteArray>({"Comport;" + m_sim->path().toLocal8Bit() + "\r", "Signal;TMP\r",
                                    "Interval;50 ms\r", "\r", "Tick counts;Value;\r"}));
        QVERIFY(lines[8].startsWith("0; ") && lines[11].startsWith("3; "));
    }

    // A tool killed outright leaves the port free for the next user, an
    // ordinary one included.
    void portFreeAfterKill()
    {
        OrboSim sim;
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        QProcess tracer;
        tracer.start(qEnvironmentVariable("SPELMAR_CLI"),
                     {"trace", "--port", sim.path(), "--baud", "9600", "--command", "PRE", "--interval", "20",
                      "--duration", "60"});
        QVERIFY(tracer.waitForReadyRead(60000)); // the first value: the port is open
        ::kill(pid_t(tracer.processId()), SIGKILL);
        QVERIFY(tracer.waitForFinished(60000));

        QStringList command{
            qEnvironmentVariable("SPELMAR_CLI"), "send", "--port", sim.path(), "--baud", "9600", "SSV"};
        if (::geteuid() == 0) {
            // Root passes by a terminal's exclusive mode: ask as nobody.
            QVERIFY(QFile::setPermissions(sim.path(),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                              | QFileDevice::ReadOther | QFileDevice::WriteOther));
            command = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + command;
        }
        QProcess sender;
        sender.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        sender.start(command.takeFirst(), command);
        QVERIFY(sender.waitForFinished(60000));
        QVERIFY2(sender.exitCode() == 0, sender.readAllStandardError().constData());
        QCOMPARE(sender.readAllStandardOutput(), QByteArray("1.02.21\n"));
    }

    void configureStoresSettings()
    {
        QCOMPARE(runCli({"configure", "--port", "/dev/pts/42", "--baud", "auto"}, m_config.path()).exitCode,
                 0);
        // Read back the way the window reads them.
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        QCOMPARE(CSettingsStore().value(SettingsKeys::kComport), std::string("/dev/pts/42"));
        QCOMPARE(CSettingsStore().value(SettingsKeys::kBaud), std::string("auto"));
    }

private:
    QTemporaryDir m_config;
    std::unique_ptr<OrboSim> m_sim;
    std::unique_ptr<OrboSim> m_boot;
};

QTEST_GUILESS_MAIN(TestSpelmarCli)
#include "tst_spelmar_cli.moc"
