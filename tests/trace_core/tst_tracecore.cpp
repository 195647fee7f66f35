// The trace core without widgets: timing rule, graph arithmetic, the CSV
// report's bytes and trace runs against the simulated device.

#include "commandconsole.h"
#include "devicesession.h"
#include "graphsettings.h"
#include "orbosim.h"
#include "tracecsvwriter.h"
#include "tracerun.h"
#include "tracetiming.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// 26 Nov 2015, 08:05 and the given seconds and milliseconds.
QDateTime at(int second, int ms)
{
    return QDateTime(QDate(2015, 11, 26), QTime(8, 5, second, ms), Qt::UTC);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool openSim(const OrboSim &sim, CDeviceSession &session)
{
    if (sim.path().isEmpty())
        qWarning("%s", qPrintable(sim.errorString()));
    SerialConfig &config = session.config();
    config.port = sim.path().toStdString();
    config.baudRate = 9600;
    config.separator = config.terminator = 10;
    config.readTimeout = 2000;
    config.inQueueSize = 4096;
    return !sim.path().isEmpty() && session.port().Open(config) == 1;
}

// Samples reported by a run, collected across threads.
struct Collector
{
    std::mutex mutex;
    std::vector<TraceSample> samples;
    std::vector<qint64> arrivals;
    QElapsedTimer clock;

    CTraceRun::SampleCallback callback()
    {
        clock.start();
        return [this](const TraceSample &sample) {
            std::lock_guard<std::mutex> lock(mutex);
            samples.push_back(sample);
            arrivals.push_back(clock.elapsed());
        };
    }
    std::vector<TraceSample> copy()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return samples;
    }
    bool waitFor(size_t n)
    {
        return QTest::qWaitFor([&] { return copy().size() >= n; }, 60000);
    }
};

} // namespace

class TestTraceCore : public QObject
{
    Q_OBJECT

private slots:
    void timingRule_data()
    {
        QTest::addColumn<double>("interval");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("rest");
        QTest::addColumn<double>("sleep");
        QTest::addColumn<bool>("late");

        QTest::newRow("quick poll") << 100.0 << 30.0 << 70.0 << 70.0 << false;
        QTest::newRow("slow poll") << 100.0 << 130.0 << -30.0 << 1.0 << true;
        QTest::newRow("exactly the interval") << 100.0 << 100.0 << 0.0 << 1.0 << false;
        QTest::newRow("longer than a long interval") << 2000.0 << 2300.0 << -300.0 << 1.0 << true;
        // The poll's fraction of a millisecond shortens the sleep: every
        // period is as long as the interval, not up to 1 ms longer.
        QTest::newRow("fraction of a ms counted") << 10.0 << 0.13 << 9.87 << 9.87 << false;
        QTest::newRow("fractional interval kept") << 100.7 << 30.0 << 70.7 << 70.7 << false;
        QTest::newRow("interval below 1 means 100") << 0.5 << 30.0 << 70.0 << 70.0 << false;
        QTest::newRow("1 ms interval, slow exchange") << 1.0 << 3.0 << -2.0 << 1.0 << true;
    }

    void timingRule()
    {
        QFETCH(double, interval);
        QFETCH(double, duration);
        QFETCH(double, rest);
        QFETCH(double, sleep);
        const TraceTiming timing = TraceTiming::next(interval, duration);
        QVERIFY2(qAbs(timing.restMs - rest) < 1e-9, qPrintable(QString::number(timing.restMs)));
        QVERIFY2(qAbs(timing.sleepMs - sleep) < 1e-9, qPrintable(QString::number(timing.sleepMs)));
        QTEST(timing.late, "late");
    }

    void graphSettings_data()
    {
        QTest::addColumn<double>("interval");
        QTest::addColumn<double>("size");
        QTest::addColumn<double>("usedInterval");
        QTest::addColumn<double>("points");
        QTest::addColumn<int>("chartLength");
        QTest::addColumn<QString>("labelFormat");

        QTest::newRow("defaults") << 100.0 << 60.0 << 100.0 << 600.0 << 601 << "*0.100000\"s";
        QTest::newRow("250 ms over 10 s") << 250.0 << 10.0 << 250.0 << 40.0 << 41 << "*0.250000\"s";
        QTest::newRow("1 ms over a minute") << 1.0 << 60.0 << 1.0 << 60000.0 << 60001 << "*0.001000\"s";
        QTest::newRow("interval 0 becomes 100") << 0.0 << 60.0 << 100.0 << 600.0 << 601 << "*0.100000\"s";
        QTest::newRow("uneven points truncated")
            << 300.0 << 1.0 << 300.0 << 1000.0 / 300.0 << 4 << "*0.300000\"s";
        QTest::newRow("size 0: no points") << 100.0 << 0.0 << 100.0 << 0.0 << 1 << "*0.100000\"s";
    }

    void graphSettings()
    {
        QFETCH(double, interval);
        QFETCH(double, size);
        QFETCH(double, points);
        const GraphSettings settings = GraphSettings::compute(interval, size);
        QTEST(settings.interval, "usedInterval");
        QVERIFY(qFuzzyCompare(settings.points + 1.0, points + 1.0));
        QVERIFY(qFuzzyCompare(settings.xMax + 1.0, points + 1.0));
        QTEST(settings.chartLength, "chartLength");
        QTEST(QString::fromStdString(settings.labelFormat), "labelFormat");
    }

    void parseValue_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<double>("value");
        QTest::newRow("value with unit") << "1.5E-3 mbar" << 0.0015;
        QTest::newRow("leading blanks") << "  42" << 42.0;
        QTest::newRow("negative") << "-7.5e+2" << -750.0;
        QTest::newRow("text") << "Overrange" << 0.0;
        QTest::newRow("decimal comma stops") << "1,5" << 1.0;
    }

    void parseValue()
    {
        QFETCH(QString, reply);
        QTEST(CTraceRun::parseValue(reply.toStdString()), "value");
    }

    void csvLog_data()
    {
        QTest::addColumn<bool>("tick");
        QTest::addColumn<double>("interval");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("reply");   // as the device sends it, line end and all
        QTest::addColumn<QByteArray>("tail"); // from the Interval line on
        QTest::addColumn<QStringList>("row"); // a data row as a CSV reader reads it (time left out)

        // The clock gives 09.900 at the start, then 10.150 and 11.134.
        QTest::newRow("time") << false << 100.0 << "3"
                              << "1.5E-3 mbar\r"
                              << QByteArray("Interval;100 ms\r\n\r\ntime[s.ms] after start;Value;\r\n"
                                            "0.250; 1.5E-3 mbar;\r\n1.234; 1.5E-3 mbar;\r\n")
                              << QStringList{" 1.5E-3 mbar", ""};
        // A reply is written as received, even one with format characters;
        // only its line end goes.
        QTest::newRow("tick, rounded interval, device path")
            << true << 250.6 << "/dev/pts/7"
            << "%s%n\r\n"
            << QByteArray("Interval;251 ms\r\n\r\nTick counts;Value;\r\n0; %s%n;\r\n1; %s%n;\r\n")
            << QStringList{" %s%n", ""};
    }

    void csvLog()
    {
        QFETCH(bool, tick);
        QFETCH(double, interval);
        QFETCH(QString, port);
        QFETCH(QString, reply);
        QFETCH(QByteArray, tail);
        QFETCH(QStringList, row);
        QTemporaryDir dir;
        const QString path = dir.filePath("trace.csv");
        {
            QFile old(path); // what was there before goes
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(5000, 'x'));
        }
        const std::vector<QDateTime> moments = {at(9, 900), at(10, 150), at(11, 134)};
        size_t next = 0;
        CTraceCsvWriter writer([&] { return moments[qMin(next++, moments.size() - 1)]; });
        QVERIFY(writer.start(path.toStdString(), {"P", "S", port.toStdString()}, "PRE", interval, tick));
        QVERIFY(writer.isLogging());
        QVERIFY(writer.appendSample(reply.toStdString()));
        QVERIFY(writer.appendSample(reply.toStdString()));
        writer.stop();
        QVERIFY(!writer.isLogging());
        QCOMPARE(readAll(path),
                 "Report for;P\r\nSerial;S\r\nStart time;2015-11-26 08:05:09\r\nComport;" + port.toLatin1()
                     + "\r\nSignal;PRE\r\n" + tail);

        // A spreadsheet's reader finds the eight header rows, then one row
        // per sample.
        QProcess reader;
        reader.start("/usr/bin/python3",
                     {"-c",
                      "import csv, sys\n"
                      "for r in csv.reader(open(sys.argv[1], newline=''), delimiter=';'):\n"
                      "    print('|'.join(r))\n",
                      path});
        QVERIFY(reader.waitForFinished(60000) && reader.exitCode() == 0);
        const QStringList rows =
            QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 7 + 2); // the empty header line is no row
        for (int i = 7; i < 9; ++i)
            QCOMPARE(rows[i].split('|').mid(1), row);
    }

    void csvUnwritableFolder()
    {
        QTemporaryDir dir;
        // A folder that does not exist cannot be written, even by root.
        CTraceCsvWriter writer;
        QVERIFY(!writer.start(dir.filePath("no/such/folder/trace.csv").toStdString(), {}, "PRE", 100, false));
        QVERIFY(!writer.isLogging());
        QVERIFY(QString::fromStdString(writer.lastError()).startsWith("Error occurred! \n"));
        QVERIFY(writer.appendSample("1.0")); // nothing to write, nothing fails

        // A path that is a folder: the open fails and the folder is untouched.
        QVERIFY(QDir(dir.path()).mkdir("busy"));
        QFile keep(dir.filePath("busy/keep.txt"));
        QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("kept") == 4);
        keep.close();
        QVERIFY(!writer.start(dir.filePath("busy").toStdString(), {}, "PRE", 100, false));
        QCOMPARE(readAll(keep.fileName()), QByteArray("kept"));
    }

    void csvFileHeldExclusively()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("held.csv").toStdString();
        CTraceCsvWriter first;
        QVERIFY(first.start(path, {}, "PRE", 100, true));
        QVERIFY(first.appendSample("1"));
        // Another program asking for the lock does not get it ...
        const int fd = ::open(path.c_str(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), -1);
        // ... nor does a second log, and the first log's lines stay.
        CTraceCsvWriter second;
        QVERIFY(!second.start(path, {}, "PRE", 100, true));
        QVERIFY(first.appendSample("2"));
        first.stop();
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
        QVERIFY(readAll(QString::fromStdString(path)).endsWith("Tick counts;Value;\r\n0; 1;\r\n1; 2;\r\n"));
    }

    void csvWriteFailureKeepsLog()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("full.csv");
        OrboSim sim;
        CDeviceSession session;
        QVERIFY(openSim(sim, session));
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {}, "PRE", 100, true));
        const qint64 headerSize = QFileInfo(path).size();

        // A disk that fills up: files of this process may not grow past room
        // for a line and a half.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(headerSize + 20);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        CTraceRun run(session, "PRE", 100, &writer, {});
        std::vector<TraceSample> samples;
        for (int i = 0; i < 4; ++i)
            samples.push_back(run.PollSample(false));
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);

        QVERIFY(writer.isLogging());
        int written = 0;
        for (const TraceSample &sample : samples) {
            QVERIFY(sample.ok && sample.value > 0.0);
            written += !sample.writeFailed;
        }
        QVERIFY(!samples[0].writeFailed);
        QVERIFY(samples[3].writeFailed);
        QCOMPARE(samples[3].filePath, path.toStdString());
        // What was written stays, whole lines only.
        writer.stop();
        const QByteArray content = readAll(path);
        QVERIFY(content.startsWith("Report for;") && content.endsWith(";\r\n"));
        QCOMPARE(content.count('\n'), 8 + written);
    }

    void run_data()
    {
        QTest::addColumn<int>("delay"); // the simulator's answer delay
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("interval");
        QTest::addColumn<bool>("vanish");   // the device goes after three samples
        QTest::addColumn<QString>("reply"); // how the replies start; empty: good values
        QTest::addColumn<bool>("laterLate");
        QTest::newRow("poll slower than the interval") << 300 << "PRE" << 100.0 << false << "" << true;
        QTest::newRow("poll well inside the interval") << 20 << "PRE" << 1000.0 << false << "" << false;
        QTest::newRow("unknown command") << 0 << "XYZ" << 50.0 << false << "Can" << false;
        QTest::newRow("empty command times out") << 0 << "" << 50.0 << false << "Timeout" << true;
        QTest::newRow("device vanishes") << 0 << "PRE" << 20.0 << true << "" << false;
    }

    void run()
    {
        QFETCH(int, delay);
        QFETCH(QString, command);
        QFETCH(double, interval);
        QFETCH(bool, vanish);
        QFETCH(QString, reply);
        QFETCH(bool, laterLate);
        auto sim = std::make_unique<OrboSim>(QStringList{"--delay", QString::number(delay)});
        CDeviceSession session;
        QVERIFY(openSim(*sim, session));
        Collector collected;
        CTraceRun run(session, command.toStdString(), interval, nullptr, collected.callback());
        QVERIFY(run.start());
        QVERIFY(run.isRunning());
        QVERIFY(collected.waitFor(3));
        if (vanish) {
            sim.reset();
            // Later polls fail and are reported; the run goes on until stopped.
            QVERIFY(QTest::qWaitFor([&] { return !collected.copy().back().ok; }, 60000));
            QVERIFY(run.isRunning());
        }
        run.stop();
        run.wait();
        QVERIFY(!run.isRunning());
        QCOMPARE(run.stopState(), CTraceRun::Ended);

        // The first poll waits one interval and is never late.
        QVERIFY(collected.arrivals[0] >= qint64(interval) + delay - 20);
        const std::vector<TraceSample> samples = collected.copy();
        for (size_t i = 0; i < (vanish ? 3 : samples.size()); ++i) {
            const TraceSample &sample = samples[i];
            QCOMPARE(sample.command, command.toStdString());
            QVERIFY2(sample.ok == reply.isEmpty() && sample.reply.rfind(reply.toStdString(), 0) == 0,
                     sample.reply.c_str());
            QVERIFY(!sample.ok || sample.value > 0.0);
            QCOMPARE(sample.late, i > 0 && laterLate);
        }
    }

    void responsiveness_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<double>("interval");
        QTest::addColumn<int>("sends"); // console sends while the trace polls
        // The lock goes to a waiting caller before the trace takes it again:
        // each send waits for at most the one poll under way, and no poll
        // slips in between its try and its retry.
        QTest::newRow("send while polling a dead device") << QStringList{"--silent"} << 1.0 << 5;
        // Stopping wakes the trace from its sleep.
        QTest::newRow("stop during a long interval") << QStringList{} << 10000.0 << 0;
    }

    void responsiveness()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(double, interval);
        QFETCH(int, sends);
        OrboSim sim(simArgs);
        CDeviceSession session;
        QVERIFY(openSim(sim, session));
        session.config().readTimeout = 100;
        Collector collected;
        CTraceRun run(session, "PRE", interval, nullptr, collected.callback());
        CCommandConsole console(session);
        QVERIFY(run.start());
        if (sends > 0)
            QVERIFY(collected.waitFor(1));
        for (int i = 0; i < sends; ++i) {
            const size_t before = collected.copy().size();
            const CCommandConsole::Outcome outcome = console.send("SSV");
            QVERIFY(!outcome.answered);
            QCOMPARE(outcome.attempts, 2);
            QVERIFY2(collected.copy().size() - before <= 1,
                     qPrintable(QString("%1 polls went first").arg(collected.copy().size() - before)));
        }
        QElapsedTimer stopping;
        stopping.start();
        run.stop();
        run.wait();
        // At most the poll under way (100 ms) is waited for, never the interval.
        QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));
    }

    void runLogStoppedWhileAppending()
    {
        OrboSim sim;
        CDeviceSession session;
        QVERIFY(openSim(sim, session));
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {"P", "S", "1"}, "PRE", 20, true));
        Collector collected;
        CTraceRun run(session, "PRE", 20, &writer, collected.callback());
        QVERIFY(run.start());
        QVERIFY(!run.start()); // a run starts once
        QVERIFY(collected.waitFor(5));
        // Stopping the log while the thread appends: no line after the stop.
        writer.stop();
        const QByteArray atStop = readAll(path);
        QVERIFY(collected.waitFor(collected.copy().size() + 3));
        run.stop();
        run.wait();
        QCOMPARE(readAll(path), atStop);

        // Eight header lines, one whole line per sample written, the empty rest.
        const QList<QByteArray> lines = atStop.split('\n');
        QVERIFY(lines.size() >= 8 + 5 + 1);
        for (int i = 8; i < lines.size() - 1; ++i)
            QVERIFY2(lines[i].startsWith(QByteArray::number(i - 8) + "; ") && lines[i].endsWith(";\r"),
                     lines[i].constData());
    }
};

QTEST_GUILESS_MAIN(TestTraceCore)
#include "tst_tracecore.moc"
