// The trace core without widgets: timing rule, graph arithmetic, the CSV
// report's bytes and a trace run against the simulated device.

#include "devicesession.h"
#include "graphsettings.h"
#include "orbosim.h"
#include "tracecsvwriter.h"
#include "tracerun.h"
#include "slidingrange.h"
#include "tracetiming.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

SYSTEMTIME at(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    SYSTEMTIME t{};
    t.wYear = uint16_t(year);
    t.wMonth = uint16_t(month);
    t.wDay = uint16_t(day);
    t.wHour = uint16_t(hour);
    t.wMinute = uint16_t(minute);
    t.wSecond = uint16_t(second);
    t.wMilliseconds = uint16_t(ms);
    return t;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
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
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return samples.size();
    }
    std::vector<TraceSample> copy()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return samples;
    }
    bool waitFor(size_t n, int timeoutMs = 60000)
    {
        return QTest::qWaitFor([&] { return count() >= n; }, timeoutMs);
    }
};

bool openSession(CDeviceSession &session, const QString &path, uint32_t readTimeoutMs = 2000)
{
    SerialConfig config;
    config.port = path.toStdString();
    config.baudRate = 9600;
    config.separator = 10;
    config.terminator = 10;
    config.readTimeout = readTimeoutMs;
    config.inQueueSize = 4096;
    session.config() = config;
    return session.port().Open(config) == 1;
}

} // namespace

class TestTraceCore : public QObject
{
    Q_OBJECT

private slots:
    void timingRule_data();
    void timingRule();
    void graphSettings_data();
    void graphSettings();
    void slidingRange_data();
    void slidingRange();
    void parseValue_data();
    void parseValue();
    void headerText_data();
    void headerText();
    void dataLines();

    void csvLogBothModes_data();
    void csvLogBothModes();
    void csvStartReplacesContent();
    void csvUnwritableFolderKeepsFile();
    void csvFileHeldExclusively();
    void csvWriteFailureKeepsLogAndLines();

    void runTimingAndLate_data();
    void runTimingAndLate();
    void runFailedPolls();
    void runWritesCsv();
    void runDeviceVanishes();
    void stopEndsRunAfterItsTurn();
};

void TestTraceCore::timingRule_data()
{
    QTest::addColumn<double>("interval");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("rest");
    QTest::addColumn<int>("sleep");
    QTest::addColumn<bool>("late");

    QTest::newRow("quick poll") << 100.0 << 30 << 70 << 70 << false;
    QTest::newRow("slow poll") << 100.0 << 130 << -30 << 1 << true;
    QTest::newRow("exactly the interval") << 100.0 << 100 << 0 << 1 << false;
    QTest::newRow("first poll") << 100.0 << 0 << 100 << 100 << false;
    QTest::newRow("long poll counted whole") << 2000.0 << 1500 << 500 << 500 << false;
    QTest::newRow("longer than a long interval") << 2000.0 << 2300 << -300 << 1 << true;
    QTest::newRow("fractional interval truncated") << 100.7 << 30 << 70 << 70 << false;
    QTest::newRow("interval below 1 means 100") << 0.5 << 30 << 70 << 70 << false;
    QTest::newRow("1 ms interval, slow exchange") << 1.0 << 3 << -2 << 1 << true;
}

void TestTraceCore::timingRule()
{
    QFETCH(double, interval);
    QFETCH(int, duration);
    const TraceTiming timing = TraceTiming::next(interval, duration);
    QTEST(timing.restMs, "rest");
    QTEST(timing.sleepMs, "sleep");
    QTEST(timing.late, "late");
}

void TestTraceCore::graphSettings_data()
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
    QTest::newRow("uneven points truncated") << 300.0 << 1.0 << 300.0 << 1000.0 / 300.0 << 4
                                             << "*0.300000\"s";
    QTest::newRow("size 0: no points") << 100.0 << 0.0 << 100.0 << 0.0 << 1 << "*0.100000\"s";
}

void TestTraceCore::graphSettings()
{
    QFETCH(double, interval);
    QFETCH(double, size);
    const GraphSettings settings = GraphSettings::compute(interval, size);
    QTEST(settings.interval, "usedInterval");
    QFETCH(double, points);
    QVERIFY(qFuzzyCompare(settings.points + 1.0, points + 1.0));
    QTEST(settings.chartLength, "chartLength");
    QCOMPARE(settings.xMin, 0.0);
    QVERIFY(qFuzzyCompare(settings.xMax + 1.0, points + 1.0));
    QTEST(QString::fromStdString(settings.labelFormat), "labelFormat");
}

void TestTraceCore::slidingRange_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<int>("keep");  // newest points kept
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");

    QTest::newRow("all kept") << QVector<double>{3, 1, 4, 1, 5} << 5 << 1.0 << 5.0;
    QTest::newRow("extremes dropped out") << QVector<double>{9, -2, 4, 1, 5} << 3 << 1.0 << 5.0;
    QTest::newRow("falling") << QVector<double>{5, 4, 3, 2, 1} << 2 << 1.0 << 2.0;
    QTest::newRow("rising") << QVector<double>{1, 2, 3, 4, 5} << 2 << 4.0 << 5.0;
    QTest::newRow("repeated") << QVector<double>{2, 2, 2} << 1 << 2.0 << 2.0;
    QTest::newRow("not a number ignored") << QVector<double>{qQNaN(), 7, qQNaN()} << 3 << 7.0 << 7.0;
}

void TestTraceCore::slidingRange()
{
    QFETCH(QVector<double>, values);
    QFETCH(int, keep);
    CSlidingRange range;
    for (int i = 0; i < values.size(); ++i)
        range.add(i, values[i]);
    range.dropBefore(values.size() - keep);
    double minimum = 0, maximum = 0;
    QVERIFY(range.range(minimum, maximum));
    QTEST(minimum, "minimum");
    QTEST(maximum, "maximum");
    range.dropBefore(values.size());
    QVERIFY(!range.range(minimum, maximum));
}

void TestTraceCore::parseValue_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<double>("value");
    QTest::newRow("value with unit") << "1.5E-3 mbar" << 0.0015;
    QTest::newRow("plain") << "1.234E-3" << 0.001234;
    QTest::newRow("leading blanks") << "  42" << 42.0;
    QTest::newRow("negative") << "-7.5e+2" << -750.0;
    QTest::newRow("text") << "Overrange" << 0.0;
    QTest::newRow("decimal comma stops") << "1,5" << 1.0;
}

void TestTraceCore::parseValue()
{
    QFETCH(QString, reply);
    QTEST(CTraceRun::parseValue(reply.toStdString()), "value");
}

void TestTraceCore::headerText_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<double>("interval");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("time mode")
        << "3" << 100.0 << false
        << QByteArray("Report for;ORBO 1000\r\nSerial;SN 4711\r\nStart time;2015-11-26 08:05:09\r\n"
                      "Comport;3\r\nSignal;PRE\r\nInterval;100 ms\r\n\r\ntime[s.ms] after start;Value;");
    QTest::newRow("tick mode, rounded interval, device path")
        << "/dev/pts/7" << 250.6 << true
        << QByteArray("Report for;ORBO 1000\r\nSerial;SN 4711\r\nStart time;2015-11-26 08:05:09\r\n"
                      "Comport;/dev/pts/7\r\nSignal;PRE\r\nInterval;251 ms\r\n\r\nTick counts;Value;");
}

void TestTraceCore::headerText()
{
    QFETCH(QString, port);
    QFETCH(double, interval);
    QFETCH(bool, tick);
    CTraceCsvWriter::Header header;
    header.owner = {"ORBO 1000", "SN 4711", port.toStdString()};
    header.command = "PRE";
    header.interval = interval;
    header.tickMode = tick;
    header.startTime = at(2015, 11, 26, 8, 5, 9, 512);
    QTEST(QByteArray::fromStdString(CTraceCsvWriter::headerText(header)), "expected");
}

void TestTraceCore::dataLines()
{
    const SYSTEMTIME start = at(2015, 11, 26, 8, 5, 9, 900);
    QCOMPARE(CTraceCsvWriter::timeLine(start, at(2015, 11, 26, 8, 5, 11, 134), "1.5E-3 mbar"),
             std::string("1.234; 1.5E-3 mbar;"));
    QCOMPARE(CTraceCsvWriter::tickLine(0, "1.5E-3"), std::string("0; 1.5E-3;"));
    // A reply is written as received, even one with format characters.
    QCOMPARE(CTraceCsvWriter::tickLine(4294967295u, "%s%n"), std::string("4294967295; %s%n;"));
}

void TestTraceCore::csvLogBothModes_data()
{
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QByteArray>("lines");
    QTest::newRow("time") << false
                          << QByteArray("0.250; 1.5E-3 mbar;\r\n1.250; 2.0E-3 mbar;\r\n");
    QTest::newRow("tick") << true << QByteArray("0; 1.5E-3 mbar;\r\n1; 2.0E-3 mbar;\r\n");
}

void TestTraceCore::csvLogBothModes()
{
    QFETCH(bool, tick);
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.csv");
    // The clock: the start, then one reading per line.
    std::vector<SYSTEMTIME> moments = {at(2015, 11, 26, 8, 5, 9, 0), at(2015, 11, 26, 8, 5, 9, 250),
                                       at(2015, 11, 26, 8, 5, 10, 250)};
    size_t next = 0;
    CTraceCsvWriter writer([&] { return moments[qMin(next++, moments.size() - 1)]; });
    QVERIFY(writer.start(path.toStdString(), {"P", "S", "3"}, "PRE", 100, tick));
    QVERIFY(writer.isLogging());
    QVERIFY(writer.appendSample("1.5E-3 mbar"));
    QVERIFY(writer.appendSample("2.0E-3 mbar"));
    writer.stop();
    QVERIFY(!writer.isLogging());

    const QByteArray header = QByteArray("Report for;P\r\nSerial;S\r\nStart time;2015-11-26 08:05:09\r\n"
                                         "Comport;3\r\nSignal;PRE\r\nInterval;100 ms\r\n\r\n")
                              + (tick ? "Tick counts" : "time[s.ms] after start") + ";Value;\r\n";
    QFETCH(QByteArray, lines);
    QCOMPARE(readAll(path), header + lines);
}

void TestTraceCore::csvStartReplacesContent()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.csv");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, 'x'));
    }
    CTraceCsvWriter writer([] { return at(2020, 1, 2, 3, 4, 5); });
    QVERIFY(writer.start(path.toStdString(), {}, "PRE", 100, true));
    writer.stop();
    const QByteArray content = readAll(path);
    QVERIFY(content.startsWith("Report for;\r\n"));
    QVERIFY(content.endsWith("Tick counts;Value;\r\n"));
    QVERIFY(!content.contains('x'));
    QCOMPARE(writer.path(), path.toStdString());
}

void TestTraceCore::csvUnwritableFolderKeepsFile()
{
    QTemporaryDir dir;
    // A folder that does not exist cannot be written, even by root.
    const std::string missing = dir.filePath("no/such/folder/trace.csv").toStdString();
    CTraceCsvWriter writer;
    QVERIFY(!writer.start(missing, {}, "PRE", 100, false));
    QVERIFY(!writer.isLogging());
    QVERIFY(QString::fromStdString(writer.lastError()).startsWith("Error occurred! \n"));
    QVERIFY(writer.appendSample("1.0"));  // nothing to write, nothing fails

    // A path that is a folder: the open fails and the folder is untouched.
    QVERIFY(QDir(dir.path()).mkdir("busy"));
    QFile keep(dir.filePath("busy/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("kept");
    keep.close();
    QVERIFY(!writer.start(dir.filePath("busy").toStdString(), {}, "PRE", 100, false));
    QCOMPARE(readAll(dir.filePath("busy/keep.txt")), QByteArray("kept"));
}

void TestTraceCore::csvFileHeldExclusively()
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

void TestTraceCore::csvWriteFailureKeepsLogAndLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("full.csv");
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    CTraceCsvWriter writer;
    QVERIFY(writer.start(path.toStdString(), {}, "PRE", 100, true));
    const qint64 headerSize = QFileInfo(path).size();

    // A disk that fills up: files of this process may not grow past room
    // for one line and a half.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(headerSize + 20);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::vector<TraceSample> samples;
    CTraceRun run(session, "PRE", 100, &writer, {});
    for (int i = 0; i < 4; ++i)
        samples.push_back(run.PollSample(false));
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);

    QVERIFY(writer.isLogging());
    for (const TraceSample &sample : samples) {
        QVERIFY(sample.ok);
        QVERIFY(sample.value > 0.0);
    }
    QVERIFY(!samples[0].writeFailed);
    QVERIFY(samples[3].writeFailed);
    QCOMPARE(samples[3].filePath, path.toStdString());
    // What was written stays, whole lines only.
    writer.stop();
    const QByteArray content = readAll(path);
    QVERIFY(content.size() >= headerSize);
    QVERIFY(content.startsWith("Report for;"));
    QVERIFY2(content.endsWith("Value;\r\n0; " + samples[0].reply + ";\r\n") || content.endsWith(";\r\n"),
             content.constData());
    QCOMPARE(content.count('\n'), 8 + int(std::count_if(samples.begin(), samples.end(), [](const TraceSample &s) { return !s.writeFailed; })));
}

void TestTraceCore::runTimingAndLate_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<double>("interval");
    QTest::addColumn<bool>("laterLate");
    QTest::newRow("poll slower than the interval") << 300 << 100.0 << true;
    QTest::newRow("poll well inside the interval") << 20 << 1000.0 << false;
}

void TestTraceCore::runTimingAndLate()
{
    QFETCH(int, delay);
    QFETCH(double, interval);
    QFETCH(bool, laterLate);
    OrboSim sim({"--delay", QString::number(delay)});
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));

    Collector collected;
    CTraceRun run(session, "PRE", interval, nullptr, collected.callback());
    QVERIFY(run.start());
    QVERIFY(run.isRunning());
    QVERIFY(collected.waitFor(3));
    run.stop();
    run.wait();
    QVERIFY(!run.isRunning());
    QCOMPARE(run.stopState(), CTraceRun::Ended);

    const std::vector<TraceSample> samples = collected.copy();
    // The first poll waits one interval and is never late.
    QVERIFY(collected.arrivals[0] >= qint64(interval) + delay - 20);
    QVERIFY(!samples[0].late);
    for (size_t i = 0; i < samples.size(); ++i) {
        QVERIFY2(samples[i].ok, samples[i].reply.c_str());
        QVERIFY(samples[i].value > 0.0);
        if (i > 0)
            QCOMPARE(samples[i].late, laterLate);
    }
}

void TestTraceCore::runFailedPolls()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));

    struct Case { const char *command; const char *replyStart; };
    for (const Case &c : {Case{"XYZ", "Can"}, Case{"", ""}}) {
        Collector collected;
        CTraceRun run(session, c.command, 50, nullptr, collected.callback());
        QVERIFY(run.start());
        QVERIFY(collected.waitFor(2));
        run.stop();
        run.wait();
        for (const TraceSample &sample : collected.copy()) {
            QVERIFY(!sample.ok);
            QCOMPARE(sample.command, std::string(c.command));
            QVERIFY2(QString::fromStdString(sample.reply).startsWith(c.replyStart), sample.reply.c_str());
        }
    }
}

void TestTraceCore::runWritesCsv()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    QTemporaryDir dir;
    const QString path = dir.filePath("run.csv");
    CTraceCsvWriter writer;
    QVERIFY(writer.start(path.toStdString(), {"P", "S", "1"}, "PRE", 20, true));

    Collector collected;
    CTraceRun run(session, "PRE", 20, &writer, collected.callback());
    QVERIFY(run.start());
    QVERIFY(collected.waitFor(5));
    // Stopping the log while the thread appends: no line after the stop.
    writer.stop();
    const QByteArray atStop = readAll(path);
    QVERIFY(collected.waitFor(collected.count() + 3));
    run.abort();
    run.wait();
    QCOMPARE(readAll(path), atStop);

    const QList<QByteArray> lines = atStop.split('\n');
    // Eight header lines, one per sample written, and the empty rest.
    QVERIFY(lines.size() >= 8 + 5 + 1);
    for (int i = 8; i < lines.size() - 1; ++i) {
        const QByteArray expected = QByteArray::number(i - 8) + "; ";
        QVERIFY2(lines[i].startsWith(expected) && lines[i].endsWith(";\r"), lines[i].constData());
    }
}

void TestTraceCore::runDeviceVanishes()
{
    auto sim = std::make_unique<OrboSim>();
    QVERIFY2(!sim->path().isEmpty(), qPrintable(sim->errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim->path(), 300));
    Collector collected;
    CTraceRun run(session, "PRE", 20, nullptr, collected.callback());
    QVERIFY(run.start());
    QVERIFY(collected.waitFor(3));
    sim.reset();
    // Later polls fail and are reported; the run goes on until stopped.
    QVERIFY(QTest::qWaitFor([&] {
        const auto samples = collected.copy();
        return !samples.empty() && !samples.back().ok;
    }, 60000));
    QVERIFY(run.isRunning());
    run.stop();
    run.wait();
    QVERIFY(!run.isRunning());
    QVERIFY(!collected.copy().back().ok);
}

void TestTraceCore::stopEndsRunAfterItsTurn()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    std::atomic<int> samples{0};
    std::atomic<bool> finished{false};
    CTraceRun *self = nullptr;
    CTraceRun run(session, "PRE", 30, nullptr, [&](const TraceSample &) {
        // Asked to stop while its second sample is handled: no third poll.
        if (++samples == 2)
            self->stop();
    }, [&] { finished = true; });
    self = &run;
    QVERIFY(run.start());
    QVERIFY(!run.start());
    QVERIFY(QTest::qWaitFor([&] { return finished.load(); }, 60000));
    run.wait();
    QCOMPARE(samples.load(), 2);
    QCOMPARE(run.stopState(), CTraceRun::Ended);
}

QTEST_GUILESS_MAIN(TestTraceCore)
#include "tst_tracecore.moc"
