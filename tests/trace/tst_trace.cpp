// Traces: the timing rule, the CSV report's bytes, trace runs against the
// simulated device, and the trace panel offscreen with its settings, graph,
// colours and file log.

#include "ccwbutton.h"
#include "ccwgraph.h"
#include "commandconsole.h"
#include "devicesession.h"
#include "findchild.h"
#include "orbosim.h"
#include "scriptedprompt.h"
#include "tracecolor.h"
#include "tracecsvwriter.h"
#include "tracedlg.h"
#include "tracerun.h"
#include "tracesettings.h"
#include "tracetiming.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/resource.h>
#include <vector>

namespace {

QString buttonText(QWidget *panel, const char *name)
{
    return child<QPushButton>(panel, name)->text();
}

void setInterval(CTraceDlg &panel, const char *ms)
{
    child<QLineEdit>(&panel, "intervalEdit")->setText(ms);
    panel.OnTraceSettingsChanged();
}

bool waitFor(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 60000);
}

// A panel whose session talks to a simulator.
struct Traced
{
    OrboSim sim;
    CDeviceSession session;
    CTraceDlg panel;
    ScriptedPrompt prompt;

    bool open()
    {
        panel.setOwner(&session, &prompt, [] { return TraceOwnerInfo{"ORBO", "123", "3"}; });
        return openOnSim(sim, session);
    }
};

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

class TestTrace : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // A fresh, private settings store for every test.
        QVERIFY(m_config.isValid());
        QDir(m_config.path()).removeRecursively();
        QDir().mkpath(m_config.path());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    void startupSettings()
    {
        {
            // A first start polls PRE and draws a green line.
            CTraceDlg panel;
            QCOMPARE(child<QLineEdit>(&panel, "commandEdit")->text(), QString("PRE"));
            QCOMPARE(panel.size(), 60.0);
            QCOMPARE(bgrFromColor(panel.graph()->lineColor()), 0x00FF00u);
            QVERIFY(child(&panel, "messageLine")->isHidden());
            // Typed text is stored as typed; an interval of 0 counts as 100.
            child<QLineEdit>(&panel, "sizeEdit")->setText("10");
            child<QCheckBox>(&panel, "logCheck")->setChecked(true);
            setInterval(panel, "0");
            QCOMPARE(CTraceSettings::read(CTraceSettings::kInterval), std::string("0"));
            QCOMPARE(panel.interval(), 100.0);
            QCOMPARE(child<QLineEdit>(&panel, "intervalEdit")->text(), QString("0"));
        }
        // The next start reads what was stored, and replaces the 0; a black
        // line stays black.
        CTraceSettings::write("PlotCommand", "PRA");
        CTraceSettings::write("TraceTick", "2");
        CTraceSettings::write("ColorLine", "0");
        CTraceDlg again;
        QCOMPARE(child<QLineEdit>(&again, "commandEdit")->text(), QString("PRA"));
        QCOMPARE(child<QLineEdit>(&again, "intervalEdit")->text(), QString("100"));
        QCOMPARE(child<QLineEdit>(&again, "sizeEdit")->text(), QString("10"));
        QCOMPARE(again.size(), 10.0);
        QVERIFY(child<QCheckBox>(&again, "logCheck")->isChecked() && again.graph()->axisLog(CCWGraph::YAxis));
        QVERIFY(child<QRadioButton>(&again, "tickRadio")->isChecked());
        QVERIFY(!child<QRadioButton>(&again, "timeRadio")->isChecked());
        QCOMPARE(bgrFromColor(again.graph()->lineColor()), 0u);
    }

    void graphFollowsSettings()
    {
        CTraceDlg panel;
        child<QLineEdit>(&panel, "sizeEdit")->setText("10");
        setInterval(panel, "250");
        CCWGraph *graph = panel.graph();
        QCOMPARE(graph->chartLength(), 41);
        QCOMPARE(graph->axisLabel(CCWGraph::XAxis, 24), QString("6s"));
        // The oldest points drop out beyond the chart length, and their values
        // leave the Y range; the X axis follows the newest point.
        for (int i = 0; i < 100; ++i)
            graph->appendPoint(i % 2 ? i : 1000 - i, 1.0);
        graph->refresh();
        QCOMPARE(graph->pointCount(), 41);
        QCOMPARE(graph->axisMaximum(CCWGraph::XAxis), 99.0);
        QCOMPARE(graph->axisMinimum(CCWGraph::YAxis), 59.0);
        QCOMPARE(graph->axisMaximum(CCWGraph::YAxis), 940.0);
        panel.OnClearGraph();
        QCOMPARE(graph->pointCount(), 0);
        // On a log scale the range follows the positive values alone; zero and
        // negative values are kept but cannot be drawn.
        child<QCheckBox>(&panel, "logCheck")->setChecked(true);
        panel.OnTraceSettingsChanged();
        for (double value : {0.0, -1.0, 2e-3, 5e-4, 0.0})
            graph->appendPoint(value, 1.0);
        graph->refresh();
        QCOMPARE(graph->pointCount(), 5);
        QVERIFY(graph->axisMinimum(CCWGraph::YAxis) > 0.0);
        QVERIFY(graph->axisMinimum(CCWGraph::YAxis) <= 5e-4);
        QVERIFY(graph->axisMaximum(CCWGraph::YAxis) >= 2e-3);
        // In a range narrower than a decade no tick label repeats, and the
        // labels stand out from a dark and from a light background.
        panel.OnClearGraph();
        for (int i = 0; i < 50; ++i)
            graph->appendPoint(2.5e-3 + i * 0.9e-3 / 49, 1.0);
        for (uint32_t back : {0x000000u, 0xFFFFFFu}) {
            graph->setBackColor(colorFromBgr(back));
            graph->refresh();
            QCPAxis *y = graph->customPlot()->yAxis;
            const QVector<QString> labels = y->tickVectorLabels();
            QVERIFY2(labels.size() >= 2, qPrintable(QString::number(labels.size())));
            QCOMPARE(QSet<QString>(labels.begin(), labels.end()).size(), labels.size());
            const double contrast = y->tickLabelColor().lightnessF() - colorFromBgr(back).lightnessF();
            QVERIFY2(qAbs(contrast) > 0.5, qPrintable(QString::number(contrast)));
        }
    }

    void colourChoice()
    {
        // Colours are offered and stored as 0x00BBGGRR numbers.
        CTraceDlg panel;
        panel.show();
        for (auto [name, offered, chosen, stored] :
             {std::tuple{"backColorButton", 0u, 0x00FF8000u, "16744448"},
              {"lineColorButton", 0x0000FF00u, 0xFFu, "255"}}) {
            uint32_t seen = 1;
            panel.setColorChooser([&, chosen = chosen](const QColor &current) {
                seen = bgrFromColor(current);
                return colorFromBgr(chosen);
            });
            auto *button = child<CCWButton>(&panel, name);
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(seen, offered);
            QCOMPARE(bgrFromColor(button->offColor()), chosen);
            const bool back = button->objectName() == "backColorButton";
            QCOMPARE(bgrFromColor(back ? panel.graph()->backColor() : panel.graph()->lineColor()), chosen);
            QCOMPARE(CTraceSettings::read(back ? CTraceSettings::kColorBack : CTraceSettings::kColorLine),
                     std::string(stored));
        }
    }

    void logStartedWhileStoppedThenTrace()
    {
        Traced t;
        QVERIFY(t.open());
        QTemporaryDir dir;
        const QString path = dir.filePath("trace.csv");
        std::string offeredFile = "?";
        t.panel.setFileChooser([&](const std::string &last, const std::string &) {
            offeredFile = last;
            return path.toStdString();
        });
        setInterval(t.panel, "20");
        t.panel.show();
        QSignalSpy shown(&t.panel, &CTraceDlg::sampleShown);
        QSignalSpy ended(&t.panel, &CTraceDlg::traceEnded);
        child<QRadioButton>(&t.panel, "tickRadio")->setChecked(true);
        t.panel.ToggleFileLog(); // while no trace runs
        QVERIFY(t.panel.isLogging());
        QCOMPARE(offeredFile, std::string());
        QCOMPARE(buttonText(&t.panel, "fileButton"), QString("Stop"));
        QVERIFY(child<CCWButton>(&t.panel, "fileLed")->value());
        QVERIFY(!child(&t.panel, "timeRadio")->isEnabled());
        QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceTick), std::string("1"));
        QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceFile), path.toStdString());
        QCOMPARE(CTraceSettings::read(CTraceSettings::kTracePath), dir.path().toStdString() + "/");
        QTest::mouseClick(child<QPushButton>(&t.panel, "traceButton"), Qt::LeftButton);
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Stop"));
        QVERIFY(!child(&t.panel, "commandEdit")->isEnabled());
        QCOMPARE(CTraceSettings::read(CTraceSettings::kPlotCommand), std::string("PRE"));
        QVERIFY(waitFor([&] { return shown.count() >= 5; }));
        t.panel.StopTrace();
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Start"));
        QVERIFY(ended.wait(60000) || ended.count() == 1);
        QVERIFY(t.panel.isLogging()); // the log survives the stop of the trace

        t.panel.ToggleFileLog();
        QCOMPARE(buttonText(&t.panel, "fileButton"), QString("Start"));
        QVERIFY(!child<CCWButton>(&t.panel, "fileLed")->value());
        QVERIFY(child(&t.panel, "tickRadio")->isEnabled());
        QVERIFY(t.prompt.boxes().empty());
        const int samples = int(shown.count());
        QCOMPARE(t.panel.graph()->pointCount(), samples);
        QCOMPARE(child<QLabel>(&t.panel, "valueDisplay")->text(),
                 QString::asprintf("%.6g", shown.last().at(2).toDouble()));
        // The report names the owner and has a line per sample shown.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.startsWith("Report for;ORBO\r\nSerial;123\r\nStart time;"));
        QVERIFY(content.contains("\r\nTick counts;Value;\r\n0; "));
        QCOMPARE(content.count('\n'), 8 + samples);
    }

    void logCancelledOrFailed()
    {
        QTemporaryDir dir;
        CTraceDlg panel;
        ScriptedPrompt prompt;
        panel.setOwner(nullptr, &prompt, {});
        std::string answer; // first an empty answer: the choice was cancelled
        panel.setFileChooser([&](const std::string &, const std::string &) { return answer; });
        panel.ToggleFileLog();
        QVERIFY(!panel.isLogging());
        QVERIFY(prompt.boxes().empty());
        answer = dir.filePath("missing/trace.csv").toStdString();
        panel.ToggleFileLog();
        QVERIFY(!panel.isLogging());
        QCOMPARE(prompt.boxes().size(), size_t(1));
        QVERIFY(QString::fromStdString(prompt.boxes()[0].text).startsWith("Error occurred! \n"));
        QCOMPARE(buttonText(&panel, "fileButton"), QString("Start"));
        QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceFile), std::string());
    }

    void failedPollMessageAndHide()
    {
        Traced t;
        QVERIFY(t.open());
        setInterval(t.panel, "20");
        auto *command = child<QLineEdit>(&t.panel, "commandEdit");
        command->setText("XYZ");
        t.panel.show();
        QSignalSpy shown(&t.panel, &CTraceDlg::sampleShown);
        QSignalSpy ended(&t.panel, &CTraceDlg::traceEnded);
        t.panel.OnTraceStartStop();
        QVERIFY(waitFor([&] { return shown.count() >= 2; }));
        auto *message = child<QLineEdit>(&t.panel, "messageLine");
        QVERIFY(message->isVisible());
        QVERIFY2(message->text().startsWith("XYZ -> Can"), qPrintable(message->text()));
        QVERIFY(!message->text().contains('\r')); // the reply's line end is not shown
        QCOMPARE(t.panel.graph()->pointCount(), 0);
        // The next good sample hides the message again.
        t.panel.StopTrace();
        QVERIFY(ended.wait(60000) || ended.count() == 1);
        command->setText("PRE");
        t.panel.OnTraceStartStop();
        QVERIFY(waitFor([&] { return t.panel.graph()->pointCount() >= 1; }));
        QVERIFY(!message->isVisible());
        // Hiding the panel stops the trace.
        t.panel.hide();
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Start"));
        QVERIFY(ended.wait(60000) || ended.count() == 2);
        QVERIFY(!t.panel.isTracing());
    }

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
        // The poll's fraction of a millisecond shortens the sleep: every
        // period is as long as the interval, not up to 1 ms longer.
        QTest::newRow("fraction of a ms counted") << 10.0 << 0.13 << 9.87 << 9.87 << false;
        QTest::newRow("interval below 1 means 100") << 0.5 << 30.0 << 70.0 << 70.0 << false;
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

    void parseValue()
    {
        // The number at the start counts; a decimal comma ends it; text reads 0.
        QCOMPARE(CTraceRun::parseValue("  1.5E-3 mbar"), 0.0015);
        QCOMPARE(CTraceRun::parseValue("-7.5e+2"), -750.0);
        QCOMPARE(CTraceRun::parseValue("1,5"), 1.0);
        QCOMPARE(CTraceRun::parseValue("Overrange"), 0.0);
    }

    void csvLog_data()
    {
        QTest::addColumn<bool>("tick");
        QTest::addColumn<double>("interval");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("reply");   // as the device sends it, line end and all
        QTest::addColumn<QByteArray>("tail"); // from the Interval line on

        // The clock gives 09.900 at the start, then 10.150 and 11.134.
        QTest::newRow("time") << false << 100.0 << "3"
                              << "1.5E-3 mbar\r"
                              << QByteArray("Interval;100 ms\r\n\r\ntime[s.ms] after start;Value;\r\n"
                                            "0.250; 1.5E-3 mbar;\r\n1.234; 1.5E-3 mbar;\r\n");
        // A reply is written as received, even one with format characters;
        // only its line end goes.
        QTest::newRow("tick, rounded interval, device path")
            << true << 250.6 << "/dev/pts/7"
            << "%s%n\r\n"
            << QByteArray("Interval;251 ms\r\n\r\nTick counts;Value;\r\n0; %s%n;\r\n1; %s%n;\r\n");
    }
    void csvLog()
    {
        QFETCH(bool, tick);
        QFETCH(double, interval);
        QFETCH(QString, port);
        QFETCH(QString, reply);
        QFETCH(QByteArray, tail);
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
    }

    void csvWriteFailureKeepsLog()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("full.csv");
        OrboSim sim;
        CDeviceSession session;
        QVERIFY(openOnSim(sim, session));
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {}, "PRE", 100, true));
        const qint64 headerSize = QFileInfo(path).size();
        // A disk that fills up: files of this process may not grow past room
        // for a line and a half.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{}, limited{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        limited = {rlim_t(headerSize + 20), saved.rlim_max};
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

    void deviceVanishesMidTrace()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("lost.csv");
        auto sim = std::make_unique<OrboSim>();
        CDeviceSession session;
        QVERIFY(openOnSim(*sim, session));
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {}, "PRE", 200, true));
        Collector collected;
        std::atomic<bool> finished{false};
        CTraceRun run(session, "PRE", 200, &writer, collected.callback(), [&] { finished = true; });
        QVERIFY(run.start());
        QVERIFY(collected.waitFor(3));
        sim.reset();
        // The next poll finds the line hung up: the run says so and ends.
        QVERIFY(QTest::qWaitFor([&] { return finished.load(); }, 60000));
        run.wait();
        QCOMPARE(run.stopState(), CTraceRun::Ended);
        const std::vector<TraceSample> samples = collected.copy();
        QVERIFY(samples.back().lost && !samples.back().ok);
        QCOMPARE(samples.back().reply,
                 std::string("ORBO lost: the line hung up (unplugged or switched off)"));
        // The first poll waits one interval; none of the good ones is late.
        QVERIFY(collected.arrivals[0] >= 180);
        for (size_t i = 0; i + 1 < samples.size(); ++i)
            QVERIFY2(samples[i].ok && samples[i].value > 0.0 && !samples[i].late, samples[i].reply.c_str());
        // The rows written before the loss stay whole.
        writer.stop();
        const QByteArray content = readAll(path);
        QVERIFY(content.endsWith(";\r\n"));
        QCOMPARE(content.count('\n'), qsizetype(8 + samples.size() - 1));
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
        QVERIFY(openOnSim(sim, session));
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
        QVERIFY(openOnSim(sim, session));
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {"P", "S", "1"}, "PRE", 20, true));
        QVERIFY(!CTraceCsvWriter().start(path.toStdString(), {}, "PRE", 20, true)); // held exclusively
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

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(TestTrace)
#include "tst_trace.moc"
