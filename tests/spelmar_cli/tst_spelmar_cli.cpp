#include "childprocess.h"
#include "orbosim.h"
#include "ptypeer.h"
#include "ser2net.h"
#include "settingskeys.h"
#include "settingsstore.h"

#include <QFile>
#include <QImage>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QXmlStreamReader>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <csignal>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

ProgramRun runCli(const QStringList &arguments, const QString &configHome)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    return runProgram(QStringList{qEnvironmentVariable("SPELMAR_CLI")} + arguments, environment);
}

// What differs from the expected exit status, a whole line of standard
// output (empty: any) and a part of standard error (empty: any); empty
// when nothing does.
QByteArray readAllOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString runMismatch(const ProgramRun &run, int status, const QString &out, const QString &err)
{
    if (run.exitCode != status)
        return QString("status %1, stderr: %2").arg(run.exitCode).arg(run.errors);
    if (!out.isEmpty() && !run.output.split('\n').contains(out))
        return run.output;
    if (!err.isEmpty() && !run.errors.contains(err))
        return run.errors;
    return QString();
}

} // namespace

class TestSpelmarCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        // The simulator is reached through a link of its own making.
        m_link = m_config.filePath("orbo");
        m_sim = std::make_unique<OrboSim>(QStringList{"--baud", "19200", "--link", m_link});
        QVERIFY2(!m_sim->path().isEmpty(), qPrintable(m_sim->errorString()));
        m_boot = std::make_unique<OrboSim>(QStringList{"--boot"});
        QVERIFY2(!m_boot->path().isEmpty(), qPrintable(m_boot->errorString()));
        QVERIFY(mkfifo(m_config.filePath("fifo.csv").toLocal8Bit().constData(), 0600) == 0);
        QFile back(m_config.filePath("back.csv"));
        QVERIFY(back.open(QIODevice::WriteOnly));
        back.write(QByteArray("Report for;ORBO\r\nSerial;1\r\nStart time;2015-11-26 08:05:00\r\nComport;3\r\n"
                              "Signal;PRE\r\nInterval;100 ms\r\n\r\ntime[s.ms] after start;Value;\r\n"
                              "0.100; 1;\r\n0.050; 2\0x;\r\n0.300; 3",
                              164));
        back.close();
        QFile bad(m_config.filePath("bad.csv"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("Report for;ORBO\r\nSerial;1\r\nStart time;2015-11-26 08:05:00\r\nComport;3\r\n"
                  "Signal;PRE\r\nInterval;100 ms\r\n\r\nTick counts;Value;\r\n0; 1;\r\n1.5; 2;\r\n");
    }

    void subcommands_data()
    {
        QTest::addColumn<QStringList>("arguments"); // %SIM% and %BOOT% name the simulators
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a line stdout must hold
        QTest::addColumn<QString>("err"); // a text stderr must hold
        const auto row = [](const char *name, const QString &arguments, int status, const QString &out,
                            const QString &err) {
            QTest::newRow(name) << arguments.split(' ') << status << out << err;
        };
        row("ports", "ports", 0, "", "");
        // A pseudo-terminal has no modem lines to set: harmless.
        row("identify auto, lines set", "identify --port %SIM% --dtr on --rts OFF", 0, "Model: 1000 mbar",
            ">> Baud rate found: 19200");
        row("identify wrong baud", "identify --port %SIM% --baud 9600", 1, "",
            "!! Fail ! No answer from ORBO. Try again after the device has been started.");
        row("identify no port", "identify --port /dev/no-such-orbo", 1, "",
            "!! Can not open comport /dev/no-such-orbo! (no such device)\n");
        row("identify boot", "identify --port %BOOT% --baud 9600", 0, "Rev: 1.02.21", "");
        row("commands", "commands --port %SIM% --baud 19200", 0, "PRE: Read pressure in the active unit", "");
        row("send unknown", "send --port %SIM% --baud 19200 XYZ", 0, "Can not execute command", "");
        // The help listing is read as the connection reads it.
        row("send HLP", "send --port %SIM% --baud 19200 HLP", 0, "PRE: Read pressure in the active unit", "");
        row("send too long", "send --port %SIM% --baud 19200 " + QString(2016, 'C'), 1, "",
            "Command too long!");
        row("no subcommand", "", 2, "", "Usage: spelmar-cli");
        row("missing port", "identify", 2, "", "--port is missing");
        row("bad baud", "identify --port /dev/no-such-orbo --baud 1200", 2, "", "bad baud rate");
        row("bad line choice", "send --port /dev/no-such-orbo --rts 1 SSV", 2, "",
            "bad rts choice '1' (on, off or keep)");
        row("trace both limits", "trace --port /dev/no-such-orbo --command PRE --duration 1 --samples 2", 2,
            "", "either --duration or --samples");
        row("trace failing polls", "trace --port %SIM% --baud 19200 --command XYZ --interval 20 --samples 2",
            1, "", "XYZ -> Can not execute command\n!! 2 of 2 polls failed\n");
        row("review without report", "review", 2, "", "review needs exactly one report");
        row("review bad size", "review %DIR%/bad.csv --size 10x10", 2, "", "bad size");
        row("review no file", "review /no/such.csv", 1, "", "!! /no/such.csv: No such file or directory\n");
        row("review malformed", "review %DIR%/bad.csv --png %DIR%/bad.png", 1, "",
            "/bad.csv: line 10: the tick count is not a whole number\n");
        // What a killed run with a stepped clock and a NUL in a reply left.
        row("review what a writer left", "review %DIR%/back.csv", 0, "samples: 2",
            "/back.csv: line 10: the time goes back\n");
        row("review FIFO", "review %DIR%/fifo.csv", 1, "", "/fifo.csv: not a regular file (a FIFO)\n");
        row("trace unwritable csv",
            "trace --port 1 --simulate --command PRE --samples 1 --csv /proc/no/x.csv", 1, "",
            "!! Error occurred!");
    }
    void subcommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        arguments.removeAll(QString());
        arguments.replaceInStrings("%SIM%", m_link);
        arguments.replaceInStrings("%BOOT%", m_boot->path());
        arguments.replaceInStrings("%DIR%", m_config.path());
        const ProgramRun run = runCli(arguments, m_config.path());
        const QString mismatch = runMismatch(run, status, out, err);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    // How each subcommand meets a device that hangs up (the simulator
    // ends, its side of the line closes), falls silent for good or for a
    // while, or drips bytes without a line end. Only a hang-up is a lost
    // device; the rest are failed exchanges, each bounded, and a trace
    // polls on. Each run ends with the status and a last line on stderr
    // (a pattern); a trace's report keeps its rows whole. A row that
    // starts a new simulator behind the same link once the first has gone
    // runs its trace with --reconnect.
    void deviceBehaviours_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("arguments"); // %SIM% the simulator's link, %CSV% a report file
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("values");    // lines on stdout; negative: at least that many
        QTest::addColumn<QString>("cause"); // the last line on stderr
        QTest::addColumn<bool>("returns");  // a new simulator comes up behind the link
        QTest::addColumn<int>("signal");    // sent a second after the first value
        const QString hungUp = "!! ORBO lost: the line hung up \\(unplugged or switched off\\)";
        const QString failed = "!! \\d+ of \\d+ polls failed";
        const QString trace = "trace --port %SIM% --baud 9600 --command PRE --interval 20 --csv %CSV% ";
        const auto row = [](const char *name, const QStringList &simArgs, const QString &arguments,
                            int status, int values, const QString &cause, bool returns = false,
                            int signal = 0) {
            QTest::newRow(name) << simArgs << arguments << status << values << cause << returns << signal;
        };
        // Identifying takes six commands (SSV, PAN, SNU, SPR, SFS, AUN), then HLP.
        row("identify, hang-up at SNU", {"--hang-up-after", "3"}, "identify --port %SIM% --baud 9600", 1, 0,
            hungUp);
        row("identify, silent after the revision", {"--silent-after", "1"},
            "identify --port %SIM% --baud 9600", 1, 4, "!! No answer to: PAN SNU SPR");
        row("commands, hang-up at HLP", {"--hang-up-after", "7"}, "commands --port %SIM% --baud 9600", 1, 0,
            hungUp);
        // The listing ends by its total bound: a drip is no command list.
        row("commands, dripping at HLP", {"--silent-after", "6", "--drip", "500"},
            "commands --port %SIM% --baud 9600", 1, 0,
            "!! Fail ! No answer from ORBO. Check the device is not in "
            "boot state. Else wait one minute");
        row("send, hang-up", {"--hang-up-after", "1"}, "send --port %SIM% --baud 9600 PRE", 1, 0, hungUp);
        row("send, dripping", {"--silent-after", "0", "--drip", "20"}, "send --port %SIM% --baud 9600 PRE", 1,
            0, " -> no answer!");
        row("trace, hang-up at the fourth poll", {"--hang-up-after", "10"}, trace + "--samples 100000", 1, 3,
            hungUp);
        row("trace, silent for a while", {"--silent-after", "9", "--silent-ms", "7000"},
            trace + "--duration 12", 1, -20, failed);
        row("trace, dripping", {"--silent-after", "7", "--drip", "500"}, trace + "--duration 6", 1, 1,
            "!! 1 of 2 polls failed");
        // A signal ends the dripping poll under way; it is no failed poll.
        for (const int signal : {SIGTERM, SIGINT})
            row(signal == SIGTERM ? "trace, SIGTERM while dripping" : "trace, SIGINT while dripping",
                {"--silent-after", "7", "--drip", "500"}, trace + "--duration 60", 0, 1, "", false, signal);
        row("trace, hang-up and return", {"--hang-up-after", "10"}, trace + "--duration 10 --reconnect 20", 1,
            -6, failed, true);
        row("trace, hang-up and no return", {"--hang-up-after", "10"}, trace + "--duration 20 --reconnect 2",
            1, 3, "!! The port did not come back within 2 s");
    }
    void deviceBehaviours()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(int, values);
        QFETCH(QString, cause);
        QFETCH(bool, returns);
        QFETCH(int, signal);
        QTemporaryDir files;
        const QString link = files.filePath("orbo");
        auto sim = std::make_unique<OrboSim>(simArgs + QStringList{"--link", link});
        QVERIFY2(!sim->path().isEmpty(), qPrintable(sim->errorString()));
        const QString csvPath = files.filePath("run.csv");
        QStringList split = arguments.split(' ', Qt::SkipEmptyParts);
        split.replaceInStrings("%SIM%", link);
        split.replaceInStrings("%CSV%", csvPath);
        QElapsedTimer took;
        took.start();
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", m_config.path());
        cli.setProcessEnvironment(environment);
        endWithParent(cli);
        cli.start(qEnvironmentVariable("SPELMAR_CLI"), split);
        if (returns) {
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(link), 30000);
            sim = std::make_unique<OrboSim>(QStringList{"--link", link});
        }
        QElapsedTimer ending;
        if (signal != 0) {
            QVERIFY(cli.waitForReadyRead(30000));
            QTest::qWait(1000);
            ending.start();
            ::kill(pid_t(cli.processId()), signal);
        }
        QVERIFY(cli.waitForFinished(120000));
        if (signal != 0)
            QVERIFY2(ending.elapsed() < 1500, qPrintable(QString::number(ending.elapsed())));
        const QString out = QString::fromLocal8Bit(cli.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        // Every exchange is bounded: no run waits on the device for long.
        QVERIFY2(took.elapsed() < 40000, qPrintable(QString::number(took.elapsed())));
        QVERIFY2(cli.exitCode() == status, qPrintable(err));
        const QStringList errLines = err.split('\n', Qt::SkipEmptyParts);
        const QString last = errLines.isEmpty() ? QString() : errLines.last();
        QVERIFY2(QRegularExpression("^" + cause + "$").match(last).hasMatch(), qPrintable(err));
        if (returns)
            QVERIFY2(err.contains(">> ORBO is back on comport " + link + "! The connection goes on."),
                     qPrintable(err));
        const int lines = out.split('\n', Qt::SkipEmptyParts).size();
        QVERIFY2(values >= 0 ? lines == values : lines >= -values, qPrintable(out));
        if (arguments.contains("%CSV%")) {
            const QByteArray content = readAllOf(csvPath);
            QVERIFY(content.endsWith(";\r\n"));
            QCOMPARE(content.count('\n'), 8 + lines);
        }
    }

    // The subcommands through ser2net's raw and RFC 2217 ports in front of
    // the simulator, and the network faults, each with its exit status.
    // A server killed mid-trace is a lost device; %URL% is the port.
    void networkPorts_data()
    {
        QTest::addColumn<QString>("server"); // raw, rfc2217, a Telnet peer's mode, or none
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("killServer"); // once the trace has printed a value
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a line stdout must hold
        QTest::addColumn<QString>("err"); // a text stderr must hold
        const auto row = [](const char *name, const char *server, const QStringList &simArgs,
                            const QString &arguments, int status, const QString &out, const QString &err) {
            QTest::newRow(name) << server << simArgs << arguments << false << status << out << err;
        };
        const QString trace = "trace --port %URL% --baud 9600 --command TMP --interval 20 --samples ";
        for (const char *server : {"raw", "rfc2217"}) {
            const QByteArray name(server);
            row(name + " identify", server, {}, "identify --port %URL% --baud 9600", 0, "Model: 1000 mbar",
                "");
            row(name + " commands", server, {}, "commands --port %URL% --baud 9600", 0,
                "PRE: Read pressure in the active unit", "");
            row(name + " send", server, {}, "send --port %URL% --baud 9600 XYZ", 0, "Can not execute command",
                "");
            row(name + " trace", server, {}, trace + "5 --stats", 0, "samples: 5", "");
            QTest::newRow(name + " server killed mid-trace")
                << server << QStringList() << QString(trace).replace("--samples ", "--duration 20") << true
                << 1 << ""
                << "!! ORBO lost: the line hung up (unplugged or switched off)";
        }
        row("rfc2217 baud search", "rfc2217", {"--baud", "38400"}, "identify --port %URL%", 0,
            "Model: 1000 mbar", ">> Baud rate found: 38400");
        row("refused", "none", {}, "identify --port tcp://127.0.0.1:%FREE%", 1, "",
            "!! Can not open comport tcp://127.0.0.1:%FREE%! (127.0.0.1:%FREE% refused the connection)\n");
        row("option flood", "flood", {}, "send --port %URL% PRE", 1, "", "floods Telnet option traffic)\n");
    }
    void networkPorts()
    {
        QFETCH(QString, server);
        QFETCH(QStringList, simArgs);
        QFETCH(QString, arguments);
        QFETCH(bool, killServer);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        NetworkPortUnderTest port;
        QVERIFY2(port.start(server, simArgs), qPrintable(port.error));
        const QString url = port.url;
        const QString free = QString::number(Ser2Net::freePort());
        arguments.replace("%URL%", url).replace("%FREE%", free);
        err.replace("%FREE%", free);
        ProgramRun run;
        if (killServer) {
            QProcess cli;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("XDG_CONFIG_HOME", m_config.path());
            cli.setProcessEnvironment(environment);
            endWithParent(cli);
            cli.start(qEnvironmentVariable("SPELMAR_CLI"), arguments.split(' '));
            QVERIFY(cli.waitForReadyRead(30000));
            port.ser2net->kill();
            QVERIFY(cli.waitForFinished(30000));
            run = {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
                   QString::fromLocal8Bit(cli.readAllStandardOutput()),
                   QString::fromLocal8Bit(cli.readAllStandardError())};
            QVERIFY(!run.output.isEmpty());
        } else {
            run = runCli(arguments.split(' '), m_config.path());
        }
        const QString mismatch = runMismatch(run, status, out, err);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    // Stopping a simulator leaves a link that a newer one has pointed at
    // itself.
    void linkKeptForNewerSimulator()
    {
        const QString link = m_config.filePath("shared");
        auto older = std::make_unique<OrboSim>(QStringList{"--link", link});
        OrboSim newer({"--link", link});
        QVERIFY(!older->path().isEmpty() && !newer.path().isEmpty());
        older.reset();
        QCOMPARE(QFileInfo(link).symLinkTarget(), newer.path());
    }

    void traceWritesReport()
    {
        QTemporaryDir files;
        const QString csvPath = files.path() + "/report.csv";
        const ProgramRun run = runCli({"trace", "--port", m_link, "--baud", "19200", "--command", "TMP",
                                       "--interval", "50", "--samples", "4", "--csv", csvPath, "--tick"},
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
        QCOMPARE(lines[0], "Report for;ORBO Sim 100\r");
        QCOMPARE(lines[3], "Comport;" + m_link.toLocal8Bit() + "\r");
        QVERIFY(lines[8].startsWith("0; ") && lines[11].startsWith("3; "));
    }

    // trace --stats prints the run's figures after the values; review reads
    // the report back to the same value figures and draws its graph.
    void statsAndReview()
    {
        QTemporaryDir files;
        const QString csvPath = files.path() + "/report.csv";
        const ProgramRun run = runCli({"trace", "--port", m_link, "--baud", "19200", "--command", "PRE",
                                       "--interval", "10", "--samples", "60", "--csv", csvPath, "--stats"},
                                      m_config.path());
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        const QStringList lines = run.output.split('\n', Qt::SkipEmptyParts);
        // A poll under way when the count is reached is still reported.
        const qsizetype count = lines.indexOf(QRegularExpression("^samples: .*"));
        QVERIFY(count >= 60);
        const QStringList figures = lines.mid(count);
        QStringList names;
        for (const QString &line : figures)
            names << line.section(": ", 0, 0);
        QCOMPARE(names,
                 (QStringList{"samples", "failed polls", "late polls", "period mean ms", "period median ms",
                              "period p99 ms", "period max ms", "exchange median ms", "exchange p99 ms",
                              "exchange max ms", "value min", "value max", "value mean", "value std dev"}));
        QCOMPARE(figures[0], QString("samples: %1").arg(count));
        // No period is shorter than the interval.
        const double median = figures[4].section(": ", 1).toDouble();
        QVERIFY2(median >= 9.9 && median < 1000, qPrintable(figures[4]));

        // The value figures from the report itself.
        QFile csv(csvPath);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n').mid(8, count);
        std::vector<double> values;
        for (const QByteArray &row : rows)
            values.push_back(row.mid(row.indexOf("; ") + 2).chopped(2).toDouble());
        double mean = 0;
        for (double v : values)
            mean += v / double(values.size());
        double squares = 0;
        for (double v : values)
            squares += (v - mean) * (v - mean);
        const double deviation = std::sqrt(squares / double(values.size() - 1));
        QVERIFY(std::abs(figures[12].section(": ", 1).toDouble() - mean) <= 1e-6 * std::abs(mean));
        QVERIFY(std::abs(figures[13].section(": ", 1).toDouble() - deviation) <= 1e-6 * deviation + 1e-15);

        const QString png = files.path() + "/graph.png";
        const QString svg = files.path() + "/graph.svg";
        const ProgramRun review =
            runCli({"review", csvPath, "--png", png, "--svg", svg, "--size", "800x600"}, m_config.path());
        QVERIFY2(review.exitCode == 0, qPrintable(review.errors));
        const QStringList shown = review.output.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(shown.mid(0, 7),
                 (QStringList{"report for: ORBO Sim 100", "serial: 4711 042", "port: " + m_link, shown[3],
                              "signal: PRE", "interval ms: 10", "column: time"}));
        QVERIFY(
            shown[3].contains(QRegularExpression("^start time: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")));
        QCOMPARE(shown.mid(shown.size() - 4), figures.mid(10)); // the same value figures, digit for digit
        QCOMPARE(shown[7], QString("samples: %1").arg(count));
        const QImage image(png);
        QCOMPARE(image.size(), QSize(800, 600));
        QCOMPARE(image.dotsPerMeterX(), 11811);
        QFile svgFile(svg);
        QVERIFY(svgFile.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&svgFile);
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        // A picture that cannot be written is named with the reason, a
        // device that takes no more (a full disk) included. Root gets a
        // full device of its own: a tool that replaced the device by a
        // file must not take the machine's.
        QString full = files.filePath("full");
        if (::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
            full = "/dev/full"; // not root: /dev cannot be written
        for (const auto &[option, path, reason] :
             {std::tuple(QString("--png"), QString("/proc/none/g.png"), ""),
              std::tuple(QString("--png"), full, "No space left"),
              std::tuple(QString("--svg"), full, "No space left")}) {
            const ProgramRun unwritable = runCli({"review", csvPath, option, path}, m_config.path());
            const QString mismatch =
                runMismatch(unwritable, 1, "", QString("!! Can not write %1: %2").arg(path, reason));
            QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        }
    }

    // Bytes from the device reach the terminal only as printable text:
    // controls, DEL, C1 controls and bytes that are not UTF-8 print as
    // \xNN, over a local line and through a network server alike. A
    // listing longer than its bound says that it was cut.
    void deviceTextEscaped_data()
    {
        QTest::addColumn<QString>("server"); // pty: the line itself; raw, rfc2217: ser2net in front of it
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArrayList>("replies"); // to the commands in the order sent
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a line stdout must hold
        QTest::addColumn<QString>("err"); // a text stderr must hold
        // A title, a cleared screen, a C1 CSI in UTF-8 and alone, a byte
        // that is not UTF-8, a valid sign, DEL and a tab.
        const QByteArray hostile = "Evil\x1b]0;owned\x07\x1b[2J\xc2\x9b"
                                   "5m\x9b"
                                   "1m\xb5 \xc2\xb5m\x7f\t.";
        const QString shown = "Evil\\x1B]0;owned\\x07\\x1B[2J\\xC2\\x9B5m\\x9B1m\\xB5 \xc2\xb5m\\x7F\\x09.";
        const QByteArrayList identity{"1.02.21", hostile, "4711 042", "E2", "1.0", "mbar"};
        for (const char *server : {"pty", "raw", "rfc2217"})
            QTest::addRow("identify, %s", server)
                << server << "identify --port %PORT% --baud 9600" << identity << 0 << "Part: " + shown << "";
        QTest::newRow("send") << "pty"
                              << "send --port %PORT% --baud 9600 PAN" << QByteArrayList{hostile} << 0 << shown
                              << "";
        QTest::newRow("commands") << "pty"
                                  << "commands --port %PORT% --baud 9600"
                                  << identity + QByteArrayList{"PAN: part name\r\nSSV: " + hostile} << 0
                                  << "SSV: " + shown << "";
        QTest::newRow("failed poll") << "pty"
                                     << "trace --port %PORT% --baud 9600 --command XYZ --samples 1"
                                     << identity + QByteArrayList{"Can not execute " + hostile} << 1 << ""
                                     << "XYZ -> Can not execute " + shown + "\n";
        // Whole lines to beyond the bound: the last one read is cut off.
        QByteArray listing;
        for (int line = 0; listing.size() < 256 * 1024 + 4096; ++line)
            listing += QString("C%1: help text\r\n").arg(line, 5, 10, QChar('0')).toLatin1();
        listing.chop(2);
        QTest::newRow("listing cut") << "pty"
                                     << "send --port %PORT% --baud 9600 HLP" << QByteArrayList{listing} << 0
                                     << "C13000: help text"
                                     << "... (listing cut at 256 KiB)\n";
    }
    void deviceTextEscaped()
    {
        QFETCH(QString, server);
        QFETCH(QString, arguments);
        QFETCH(QByteArrayList, replies);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        PtyPeer peer;
        QVERIFY(peer.isValid());
        const QByteArrayList commands{"SSV", "PAN", "SNU", "SPR", "SFS", "AUN", "XYZ"};
        std::vector<std::string> answers;
        for (int i = 0; i < replies.size(); ++i) {
            const QByteArray command =
                arguments.startsWith("send") ? arguments.section(' ', -1).toLatin1() : commands[i];
            answers.push_back((command + "\r\n\r\n" + replies[i] + "\r\n").toStdString());
        }
        peer.serve(answers, -1); // each answer in one write
        std::unique_ptr<Ser2Net> ser2net;
        QString port = QString::fromStdString(peer.path());
        if (server != "pty") {
            ser2net = std::make_unique<Ser2Net>(port);
            QVERIFY2(ser2net->isRunning(), qPrintable(ser2net->errorString()));
            port = server == "raw" ? ser2net->rawUrl() : ser2net->rfc2217Url();
        }
        const ProgramRun run = runCli(arguments.replace("%PORT%", port).split(' '), m_config.path());
        // What the device still sends once the tool is gone is read away.
        pollfd line{peer.slaveFd(), POLLIN, 0};
        for (char buffer[4096]; ::poll(&line, 1, 300) > 0 && ::read(line.fd, buffer, sizeof buffer) > 0;) { }
        peer.finish();
        const QString mismatch = runMismatch(run, status, out, err);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        const QString printed = run.output + run.errors;
        const auto control = std::find_if(printed.begin(), printed.end(), [](QChar c) {
            return c != '\n'
                && (c < QChar(0x20) || c == QChar(0x7f) || (c >= QChar(0x80) && c <= QChar(0x9f)));
        });
        QVERIFY2(control == printed.end(), qPrintable(printed));
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
        // Over a file edited by hand: its lines that are not settings are
        // kept in a copy that the tool names, and the values are stored.
        const QString file = m_config.path() + "/Norvane/Dunvik.conf";
        QVERIFY(QDir().mkpath(m_config.path() + "/Norvane"));
        QFile edited(file);
        QVERIFY(edited.open(QIODevice::WriteOnly));
        edited.write("# the bench's port\n[Software]\nNorvane\\Dunvik\\Comport=/dev/ttyS0\nno value\n");
        edited.close();
        const QString server = "rfc2217://[fe80::1%eth0]:4001";
        const auto run =
            runCli({"configure", "--port", server, "--baud", "auto", "--dtr", "off"}, m_config.path());
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QVERIFY2(run.errors.contains(file + ".bad-"), qPrintable(run.errors));
        QVERIFY(!run.errors.contains("Can not store"));
        // Read back the way the window reads them.
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        QCOMPARE(QString::fromStdString(CSettingsStore().value(SettingsKeys::kComport)), server);
        QCOMPARE(CSettingsStore().value(SettingsKeys::kBaud), std::string("auto"));
        // A line not named is left to what the window has.
        QCOMPARE(CSettingsStore().value(SettingsKeys::kDtr), std::string("off"));
        QCOMPARE(CSettingsStore().value(SettingsKeys::kRts), std::string());
        // A FIFO in the file's place is named and left as it is, at once.
        QVERIFY(QFile::remove(file));
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        const auto refused = runCli({"configure", "--port", "/dev/ttyS1"}, m_config.path());
        const QString mismatch = runMismatch(refused, 1, "", file + " is a FIFO");
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QVERIFY(QFileInfo(file).exists() && !QFileInfo(file).isFile());
        QVERIFY(QFile::remove(file));
    }

private:
    QTemporaryDir m_config;
    std::unique_ptr<OrboSim> m_sim;
    std::unique_ptr<OrboSim> m_boot;
    QString m_link;
};

QTEST_GUILESS_MAIN(TestSpelmarCli)
#include "tst_spelmar_cli.moc"
