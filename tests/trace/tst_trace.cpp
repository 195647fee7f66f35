// Traces: the timing rule, the CSV report's bytes, trace runs against the
// simulated device, and the trace panel offscreen with its settings, graph,
// colours and file log; the run's figures, reports read back, the graph
// examined and exported.

#include "ccwbutton.h"
#include "ccwgraph.h"
#include "commandconsole.h"
#include "devicesession.h"
#include "findchild.h"
#include "orbosim.h"
#include "scriptedprompt.h"
#include "cnumber.h"
#include "tracecolor.h"
#include "tracecsvwriter.h"
#include "tracedlg.h"
#include "tracereport.h"
#include "tracerun.h"
#include "tracesettings.h"
#include "tracestats.h"
#include "tracetiming.h"
#include "tracetools.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QDialog>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWheelEvent>
#include <QXmlStreamReader>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <limits>
#include <csignal>
#include <random>
#include <mutex>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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

// The nearest-rank quantile of values, computed the plain way.
double sortedQuantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const size_t rank = std::max<size_t>(1, size_t(std::ceil(q * double(values.size()))));
    return values[rank - 1];
}

bool near(double a, double b, double relative)
{
    return std::abs(a - b) <= relative * std::max(std::abs(a), std::abs(b)) + 1e-300;
}

// A valid report of three samples, to be spoilt by the malformed cases.
const char kReport[] = "Report for;ORBO Sim 100\r\nSerial;4711 042\r\nStart time;2015-11-26 08:05:00\r\n"
                       "Comport;3\r\nSignal;PRE\r\nInterval;100 ms\r\n\r\n"
                       "time[s.ms] after start;Value;\r\n"
                       "0.100; 1.5E-03;\r\n0.200; 1.25E-03;\r\n0.300; -2;\r\n";

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
        QCOMPARE(graph->axisLabel(CCWGraph::XAxis, 6), QString("6s"));
        // The oldest points drop out beyond the chart length, and their values
        // leave the Y range; the X axis follows the newest point.
        for (int i = 0; i < 100; ++i)
            graph->appendPoint(i % 2 ? i : 1000 - i, 1.0);
        graph->refresh();
        QCOMPARE(graph->pointCount(), 41);
        QCOMPARE(graph->axisMaximum(CCWGraph::XAxis), 99 * 0.25);
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
        // The box names the file.
        QCOMPARE(QString::fromStdString(prompt.boxes()[0].text),
                 "Error occurred! \nNo such file or directory\n" + QString::fromStdString(answer) + "\n");
        QCOMPARE(buttonText(&panel, "fileButton"), QString("Start"));
        QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceFile), std::string());
        // A name typed without an extension is the CSV file.
        answer = dir.filePath("trace").toStdString();
        panel.ToggleFileLog();
        QVERIFY(panel.isLogging());
        QCOMPARE(QString::fromStdString(CTraceSettings::read(CTraceSettings::kTraceFile)),
                 dir.filePath("trace.csv"));
        QVERIFY(QFileInfo::exists(dir.filePath("trace.csv")));
        panel.ToggleFileLog();
    }

    void fileDialogStart_data()
    {
        QTest::addColumn<QString>("lastFile"); // below the home folder
        QTest::addColumn<QString>("folder");   // below the home folder
        QTest::addColumn<bool>("documents");   // the home folder has "Documents"
        QTest::addColumn<QString>("name");     // a new file's name: a save dialog
        QTest::addColumn<QString>("start");    // below the home folder
        QTest::newRow("last file") << "traces/a.csv"
                                   << "traces/" << true << ""
                                   << "traces/a.csv";
        QTest::newRow("its folder gone") << "gone/a.csv"
                                         << "traces/" << true << ""
                                         << "traces/";
        QTest::newRow("documents") << ""
                                   << "" << true << ""
                                   << "Documents/";
        QTest::newRow("folder gone, no documents") << "gone/a.csv"
                                                   << "gone/" << false << ""
                                                   << "";
        QTest::newRow("picture, folder used") << ""
                                              << "traces/" << true << "trace.png"
                                              << "traces/trace.png";
        QTest::newRow("picture, nothing used") << ""
                                               << "" << true << "trace.png"
                                               << "Documents/trace.png";
        QTest::newRow("range, folder gone") << ""
                                            << "gone/" << false << "trace-range.csv"
                                            << "trace-range.csv";
    }
    void fileDialogStart()
    {
        // Never the program folder, which is the current directory and
        // not the user's to write.
        QFETCH(QString, lastFile);
        QFETCH(QString, folder);
        QFETCH(bool, documents);
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath("traces") && QDir(home.path()).mkpath("program"));
        QVERIFY(!documents || QDir(home.path()).mkpath("Documents"));
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        const QString oldFolder = QDir::currentPath();
        QDir::setCurrent(home.filePath("program"));
        const auto below = [&](const QString &name) {
            return name.isEmpty() ? std::string() : home.filePath(name).toStdString();
        };
        QFETCH(QString, name);
        const std::string chosen = name.isEmpty()
            ? CTraceDlg::fileDialogStart(below(lastFile), below(folder))
            : CTraceDlg::saveDialogStart(below(folder), name.toStdString());
        QDir::setCurrent(oldFolder);
        qputenv("HOME", oldHome);
        QFETCH(QString, start);
        QCOMPARE(QString::fromStdString(chosen), home.path() + "/" + start);
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

    // Every view reads the time each sample was taken: a changed interval
    // leaves the samples already drawn at their times, and the cursor, the
    // visible range written out and the figures agree with the graph.
    void measuredTimesAfterIntervalChange()
    {
        Traced t;
        QVERIFY(t.open());
        setInterval(t.panel, "10");
        CCWGraph *graph = t.panel.graph();
        QSignalSpy ended(&t.panel, &CTraceDlg::traceEnded);
        QElapsedTimer clock;
        clock.start();
        t.panel.OnTraceStartStop();
        QVERIFY(waitFor([&] { return graph->pointCount() >= 30; }));
        const int before = graph->pointCount();
        const double beforeSeconds = double(clock.nsecsElapsed()) / 1e9;
        setInterval(t.panel, "100");
        // Samples taken before the change may still be on their way.
        QVERIFY(waitFor([&] {
            const int count = graph->pointCount();
            return count >= before + 2 && graph->keyAt(count - 1) - graph->keyAt(count - 2) >= 0.09;
        }));
        t.panel.StopTrace();
        QVERIFY(ended.wait(60000) || ended.count() == 1);
        const int n = graph->pointCount();
        QVERIFY(graph->keyAt(0) > 0.0);
        QVERIFY2(graph->keyAt(before - 1) <= beforeSeconds,
                 qPrintable(QString("%1 > %2").arg(graph->keyAt(before - 1)).arg(beforeSeconds)));
        QVERIFY((graph->keyAt(before - 1) - graph->keyAt(0)) / (before - 1) < 0.05);
        QCOMPARE(graph->axisMaximum(CCWGraph::XAxis), 60.0);
        graph->showCursorAt(graph->keyAt(before - 1));
        QVERIFY2(graph->cursorText().startsWith(
                     QString::fromStdString(formatC("%.6gs ", graph->keyAt(before - 1)))),
                 qPrintable(graph->cursorText()));
        TraceReport visible;
        std::string error;
        QVERIFY2(CTraceReportReader::readText(t.panel.visibleCsvText(), visible, error), error.c_str());
        QCOMPARE(int(visible.x.size()), n);
        for (int i = 0; i < n; ++i)
            QVERIFY2(std::abs(visible.x[size_t(i)] - graph->keyAt(i)) <= 0.0005,
                     qPrintable(QString::number(i)));
        const CTraceStats &stats = t.panel.stats();
        QCOMPARE(stats.samples(), uint64_t(n));
        QVERIFY(std::abs(stats.period().mean() - (graph->keyAt(n - 1) - graph->keyAt(0)) * 1000.0 / (n - 1))
                < 1.0);
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
        // Any bytes: each row reads back whole, its value what atof reads.
        const QByteArray bytes("2.5\0\x1b[2J;x\nz", 12);
        QTest::newRow("NUL, escape, ; and LF in the reply")
            << false << 100.0 << "3" << QString::fromLatin1(bytes + "\r\n")
            << "Interval;100 ms\r\n\r\ntime[s.ms] after start;Value;\r\n0.250; " + bytes + ";\r\n1.234; "
                + bytes + ";\r\n";
        // A network port is named as typed, however long.
        const QString server = "rfc2217://" + QString(300, 'h') + ".example:4001";
        QTest::newRow("network port")
            << true << 100.0 << server << "7\r\n"
            << QByteArray("Interval;100 ms\r\n\r\nTick counts;Value;\r\n0; 7;\r\n1; 7;\r\n");
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
        TraceReport report;
        std::string error;
        QVERIFY2(CTraceReportReader::readFile(path.toStdString(), report, error), error.c_str());
        QCOMPARE(QString::fromStdString(report.port), port);
        const double value = CTraceRun::parseValue(reply.toStdString());
        QCOMPARE(report.values, (std::vector<double>{value, value}));
        QVERIFY(report.notes.empty());
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

    // Silence and a drip are failed polls and the run goes on polling; a
    // drip's poll ends by the exchange's total bound, and a stop ends it at
    // once. A hang-up is told once; the run then waits until its owner has
    // reopened the port (here on a new simulator behind the same link) and
    // goes on into the same report, whose rows stay whole.
    void deviceBehaviours_data()
    {
        QTest::addColumn<QStringList>("simArgs"); // of the first simulator
        QTest::addColumn<QString>("failure");     // the failed polls' reply
        QTest::newRow("silent for a while")
            << QStringList{"--silent-after", "3", "--silent-ms", "1500"} << "Timeout!";
        QTest::newRow("drip without line end")
            << QStringList{"--silent-after", "3", "--drip", "50"} << "Timeout!";
        QTest::newRow("hang-up and return") << QStringList{"--hang-up-after", "4"}
                                            << "ORBO lost: the line hung up (unplugged or switched off)";
    }
    void deviceBehaviours()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QString link = dir.filePath("orbo");
        const QString path = dir.filePath("run.csv");
        auto sim = std::make_unique<OrboSim>(simArgs + QStringList{"--link", link});
        CDeviceSession session;
        QVERIFY(openOnSim(*sim, session));
        session.config().port = link.toStdString();
        session.config().readTimeout = 200;
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {}, "PRE", 50, true));
        Collector collected;
        CTraceRun run(session, "PRE", 50, &writer, collected.callback());
        QVERIFY(run.start());
        const auto failedPolls = [&] {
            const auto samples = collected.copy();
            return std::count_if(samples.begin(), samples.end(), [](const TraceSample &s) { return !s.ok; });
        };
        QVERIFY(QTest::qWaitFor([&] { return failedPolls() >= 1; }, 30000));
        const bool lost = session.isLost();
        QCOMPARE(lost, failure.startsWith("ORBO lost"));
        if (lost) {
            QTest::qWait(300);
            QCOMPARE(failedPolls(), 1); // told once, then nothing is polled
            QVERIFY(QTest::qWaitFor([&] { return !QFileInfo::exists(link); }, 10000));
            sim = std::make_unique<OrboSim>(QStringList{"--link", link});
            QVERIFY(QTest::qWaitFor([&] { return session.reopenPort(); }, 10000));
        }
        const size_t before = collected.copy().size();
        if (simArgs.contains("--drip")) {
            // Stopped in the middle of a dripping poll.
            QVERIFY(QTest::qWaitFor([&] { return failedPolls() >= 2; }, 30000));
            QTest::qWait(100);
            QElapsedTimer stopping;
            stopping.start();
            run.stop();
            run.wait();
            QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
        } else {
            // Good samples again, and the run still going.
            QVERIFY(QTest::qWaitFor(
                [&] {
                    const auto samples = collected.copy();
                    return samples.size() > before + 3 && samples.back().ok;
                },
                30000));
            QVERIFY(run.isRunning());
            run.stop();
            run.wait();
        }
        writer.stop();
        const std::vector<TraceSample> samples = collected.copy();
        const long good =
            std::count_if(samples.begin(), samples.end(), [](const TraceSample &s) { return s.ok; });
        for (const TraceSample &sample : samples) {
            QVERIFY(sample.ok || sample.reply == failure.toStdString());
            // However the device drips, a poll ends by its total bound.
            QVERIFY2(sample.exchangeMs < CDeviceSession::exchangeBoundMs(session.config()) + 500,
                     qPrintable(QString::number(sample.exchangeMs)));
        }
        const QByteArray content = readAll(path);
        QVERIFY(content.endsWith(";\r\n"));
        QCOMPARE(content.count('\n'), qsizetype(8 + good));
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

    // The run's figures against the same figures computed the plain way
    // from what the run recorded and from its CSV report.
    void statsOfRecordedTrace()
    {
        OrboSim sim;
        CDeviceSession session;
        QVERIFY(openOnSim(sim, session));
        QTemporaryDir dir;
        const QString path = dir.filePath("stats.csv");
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {"P", "S", "1"}, "PRE", 10, false));
        Collector collected;
        CTraceRun run(session, "PRE", 10, &writer, collected.callback());
        QVERIFY(run.start());
        QVERIFY(collected.waitFor(300));
        run.stop();
        run.wait();
        writer.stop();
        const std::vector<TraceSample> samples = collected.copy();
        CTraceStats stats;
        std::vector<double> periods;
        std::vector<double> exchanges;
        for (size_t i = 0; i < samples.size(); ++i) {
            stats.add(samples[i]);
            exchanges.push_back(samples[i].exchangeMs);
            if (i > 0)
                periods.push_back(samples[i].startMs - samples[i - 1].startMs);
        }
        QCOMPARE(stats.samples(), uint64_t(samples.size()));
        QCOMPARE(stats.failed(), uint64_t(0));
        // The quantiles keep 0.05 % of the exact order statistic.
        QVERIFY(near(stats.period().quantile(0.5), sortedQuantile(periods, 0.5), 6e-4));
        QVERIFY(near(stats.period().quantile(0.99), sortedQuantile(periods, 0.99), 6e-4));
        QVERIFY(near(stats.exchange().quantile(0.5), sortedQuantile(exchanges, 0.5), 6e-4));
        QVERIFY(near(stats.exchange().quantile(0.99), sortedQuantile(exchanges, 0.99), 6e-4));
        QCOMPARE(stats.period().maximum(), *std::max_element(periods.begin(), periods.end()));

        TraceReport report;
        std::string error;
        QVERIFY2(CTraceReportReader::readFile(path.toStdString(), report, error), error.c_str());
        QCOMPARE(report.values.size(), samples.size());
        double sum = 0.0;
        for (double v : report.values)
            sum += v;
        const double mean = sum / double(report.values.size());
        double squares = 0.0;
        for (double v : report.values)
            squares += (v - mean) * (v - mean);
        const double deviation = std::sqrt(squares / double(report.values.size() - 1));
        const auto [low, high] = std::minmax_element(report.values.begin(), report.values.end());
        QCOMPARE(stats.values().minimum(), *low);
        QCOMPARE(stats.values().maximum(), *high);
        QVERIFY(near(stats.values().mean(), mean, 1e-6));
        QVERIFY(near(stats.values().standardDeviation(), deviation, 1e-6));
        // The report's times have a 1 ms resolution.
        std::vector<double> reportPeriods;
        for (size_t i = 1; i < report.x.size(); ++i)
            reportPeriods.push_back((report.x[i] - report.x[i - 1]) * 1000.0);
        QVERIFY(std::abs(stats.period().quantile(0.5) - sortedQuantile(reportPeriods, 0.5)) <= 1.0);
        QVERIFY(std::abs(stats.period().mean()
                         - (report.x.back() - report.x.front()) * 1000.0 / double(report.x.size() - 1))
                <= 1.0);

        // A quantile over values spread widely, with a drop below 1 us.
        CDurationQuantiles spread;
        std::vector<double> plain;
        std::mt19937 random(7);
        for (int i = 0; i < 20000; ++i) {
            const double ms = i == 0 ? 0.0 : std::exp(std::uniform_real_distribution<>(-3, 9)(random));
            spread.add(ms);
            plain.push_back(ms);
        }
        for (double q : {0.01, 0.5, 0.9, 0.99, 1.0})
            QVERIFY2(near(spread.quantile(q), sortedQuantile(plain, q), 6e-4),
                     qPrintable(QString::number(q)));
        QCOMPARE(spread.quantile(0.0), 0.0);
    }

    // Values at the ends of the double range and infinite ones: the value
    // figures are the true ones, or inf where they overflow or a value is
    // infinite, never a NaN from an overflowing sum; a merge of two parts
    // gives the same as one stream.
    void extremeValueFigures_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QString>("figures"); // min, max, mean, std dev
        const double inf = std::numeric_limits<double>::infinity();
        const double largest = std::numeric_limits<double>::max();
        QTest::newRow("ordinary, 9 digits") << QList<double>{0, 1, 0} << "0 1 0.333333333 0.577350269";
        QTest::newRow("opposite 1e308") << QList<double>{1e308, -1e308} << "-1e+308 1e+308 0 1.41421356e+308";
        QTest::newRow("1e300 apart") << QList<double>{1e300, 2e300, 3e300} << "1e+300 3e+300 2e+300 1e+300";
        QTest::newRow("spread beyond the range") << QList<double>{largest, largest, -largest}
                                                 << "-1.79769313e+308 1.79769313e+308 5.99231045e+307 inf";
        QTest::newRow("one infinite") << QList<double>{1, inf, 3} << "1 inf inf inf";
        QTest::newRow("both infinities") << QList<double>{-inf, 2, inf} << "-inf inf nan inf";
    }
    void extremeValueFigures()
    {
        QFETCH(QList<double>, values);
        QFETCH(QString, figures);
        auto shown = [](const CRunningStats &stats) {
            CTraceStats::Figure figures[] = {{"", stats.minimum()},
                                             {"", stats.maximum()},
                                             {"", stats.mean()},
                                             {"", stats.standardDeviation()}};
            return QString::fromStdString(
                       CTraceStats::formatFigures({std::begin(figures), std::end(figures)}))
                .remove(": ")
                .replace('\n', ' ')
                .trimmed();
        };
        CTraceStats trace;
        CRunningStats first;
        CRunningStats second;
        for (qsizetype i = 0; i < values.size(); ++i) {
            trace.addReportSample(double(i), values[i]);
            (i == 0 ? first : second).add(values[i]);
        }
        QCOMPARE(shown(trace.values()), figures);
        first.merge(second);
        QCOMPARE(shown(first), figures);
    }

    // trace -> CSV -> read back -> the same values, and the panel shows it.
    void reportRoundTrip_data()
    {
        QTest::addColumn<bool>("tick");
        QTest::newRow("time") << false;
        QTest::newRow("tick") << true;
    }
    void reportRoundTrip()
    {
        QFETCH(bool, tick);
        Traced t;
        QVERIFY(t.open());
        QTemporaryDir dir;
        const QString path = dir.filePath("trace.csv");
        CTraceCsvWriter writer;
        QVERIFY(writer.start(path.toStdString(), {"ORBO", "123", "3"}, "PRE", 20, tick));
        Collector collected;
        CTraceRun run(t.session, "PRE", 20, &writer, collected.callback());
        QVERIFY(run.start());
        QVERIFY(collected.waitFor(25));
        run.stop();
        run.wait();
        writer.stop();
        const std::vector<TraceSample> samples = collected.copy();

        TraceReport report;
        std::string error;
        QVERIFY2(CTraceReportReader::readFile(path.toStdString(), report, error), error.c_str());
        QCOMPARE(report.part, std::string("ORBO"));
        QCOMPARE(report.serial, std::string("123"));
        QCOMPARE(report.port, std::string("3"));
        QCOMPARE(report.command, std::string("PRE"));
        QCOMPARE(report.intervalMs, 20.0);
        QCOMPARE(report.tickMode, tick);
        QCOMPARE(report.values.size(), samples.size());
        for (size_t i = 0; i < samples.size(); ++i) {
            QCOMPARE(report.values[i], samples[i].value);
            if (tick)
                QCOMPARE(report.x[i], double(i));
        }

        // Into the panel: the graph holds the report, the figures are its own.
        QVERIFY(t.panel.openReport(path.toStdString()));
        QVERIFY(t.panel.isReviewing());
        CCWGraph *graph = t.panel.graph();
        QCOMPARE(graph->pointCount(), int(samples.size()));
        QCOMPARE(t.panel.stats().samples(), uint64_t(samples.size()));
        QVERIFY(t.panel.tools()->note().contains("Report for ORBO, serial 123, port 3"));
        // The visible range written out reads back as the same points.
        TraceReport again;
        QVERIFY(CTraceReportReader::readText(t.panel.visibleCsvText(), again, error));
        QCOMPARE(again.values, report.values);
        QCOMPARE(again.x, report.x);
        QCOMPARE(again.startTime, report.startTime);
        // A shorter span for the live graph leaves the report whole.
        child<QLineEdit>(&t.panel, "sizeEdit")->setText("1");
        t.panel.OnTraceSettingsChanged();
        QCOMPARE(graph->pointCount(), int(samples.size()));
        // Starting a trace leaves the report for the live graph.
        t.panel.OnTraceStartStop();
        QVERIFY(!t.panel.isReviewing());
        QVERIFY(waitFor([&] { return t.panel.stats().samples() >= 2; }));
        t.panel.StopTrace();
        QVERIFY(waitFor([&] { return !t.panel.isTracing(); }));
    }

    void malformedReports_data()
    {
        QTest::addColumn<QByteArray>("from"); // replaced in the valid report...
        QTest::addColumn<QByteArray>("to");   // ...by this
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << QByteArray(kReport) << QByteArray() << "line 1: the file is empty";
        QTest::newRow("other file") << QByteArray("Report for;") << QByteArray("Name;")
                                    << "line 1: expected \"Report for;\"";
        QTest::newRow("header cut") << QByteArray(
            "Comport;3\r\nSignal;PRE\r\nInterval;100 ms\r\n\r\ntime[s.ms] after start;Value;\r\n0.100; 1.5E-03;\r\n0.200; 1.25E-03;\r\n0.300; -2;\r\n")
                                    << QByteArray("Comport;3\r\n")
                                    << "line 5: the report ends inside its header";
        QTest::newRow("start time") << QByteArray("2015-11-26 08:05:00") << QByteArray("26.11.2015 08:05")
                                    << "line 3: the start time is not YYYY-MM-DD hh:mm:ss";
        QTest::newRow("month 13") << QByteArray("2015-11-26") << QByteArray("2015-13-26")
                                  << "line 3: the start time is not YYYY-MM-DD hh:mm:ss";
        QTest::newRow("interval") << QByteArray("100 ms") << QByteArray("fast")
                                  << "line 6: the interval is not \"<number> ms\"";
        QTest::newRow("no empty line")
            << QByteArray("ms\r\n\r\n") << QByteArray("ms\r\nx\r\n") << "line 7: expected an empty line";
        QTest::newRow("columns")
            << QByteArray("time[s.ms] after start") << QByteArray("time")
            << "line 8: expected \"time[s.ms] after start;Value;\" or \"Tick counts;Value;\"";
        QTest::newRow("no space") << QByteArray("0.200; 1") << QByteArray("0.200;1")
                                  << "line 10: no \"; \" after the first field";
        QTest::newRow("time text") << QByteArray("0.200;") << QByteArray("soon;")
                                   << "line 10: the time is not a number";
        QTest::newRow("no final ;") << QByteArray("-2;") << QByteArray("-2")
                                    << "line 11: the line does not end with \";\"";
        QTest::newRow("tick in time report")
            << QByteArray("time[s.ms] after start") << QByteArray("Tick counts")
            << "line 9: the tick count is not a whole number";
        QTest::newRow("empty data line")
            << QByteArray("0.200; 1.25E-03;\r\n") << QByteArray("\r\n") << "line 10: empty line";
        QTest::newRow("NUL in the time")
            << QByteArray("0.200") << QByteArray("0.2\0", 4) << "line 10: the time is not a number";
        QTest::newRow("too long") << QByteArray("1.25E-03") << QByteArray(70000, '7')
                                  << "line 10: longer than 65536 bytes";
    }
    void malformedReports()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, error);
        QByteArray text(kReport);
        QVERIFY(text.contains(from));
        text.replace(from, to);
        TraceReport report;
        std::string message;
        QVERIFY(!CTraceReportReader::readText(text.toStdString(), report, message));
        QCOMPARE(QString::fromStdString(message), error);
        // The file reader says the same.
        QTemporaryDir dir;
        QFile file(dir.filePath("bad.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QVERIFY(!CTraceReportReader::readFile(file.fileName().toStdString(), report, message));
        QCOMPARE(QString::fromStdString(message), error);
    }

    // What a writer can leave behind is read: times in file order, a torn
    // last line left out, any bytes in the reply; each noted once.
    void reportsTheWriterLeaves_data()
    {
        QTest::addColumn<QByteArray>("from"); // replaced in the valid report...
        QTest::addColumn<QByteArray>("to");   // ...by this
        QTest::addColumn<int>("cap");         // samples read at most
        QTest::addColumn<QVector<double>>("x");
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<QStringList>("notes");
        const QByteArray rows("0.100; 1.5E-03;\r\n0.200; 1.25E-03;\r\n0.300; -2;\r\n");
        const QVector<double> times{0.1, 0.2, 0.3};
        const QVector<double> values{1.5e-3, 1.25e-3, -2};
        const int cap = int(CTraceReportReader::kMostSamples);
        QTest::newRow("clock set back twice")
            << rows << QByteArray("0.100; 1.5E-03;\r\n0.050; 1.25E-03;\r\n0.010; -2;\r\n") << cap
            << QVector<double>{0.1, 0.05, 0.01} << values << QStringList{"line 10: the time goes back"};
        QTest::newRow("killed in a row") << rows << rows + "0.400; 1.5E" << cap << times << values
                                         << QStringList{"line 12: the last line is not whole; left out"};
        QTest::newRow("killed before the LF")
            << rows << rows + "0.400; 7;\r" << cap << QVector<double>{0.1, 0.2, 0.3, 0.4}
            << QVector<double>{1.5e-3, 1.25e-3, -2, 7} << QStringList{};
        QTest::newRow("NUL in the reply") << QByteArray("1.25E-03") << QByteArray("1.2\0E-03", 8) << cap
                                          << times << QVector<double>{1.5e-3, 1.2, -2} << QStringList{};
        QTest::newRow("escape, ; and lone LF in the reply")
            << QByteArray("-2;") << QByteArray("-2\x1b]0;t\x07;\n\xff;x;") << cap << times << values
            << QStringList{};
        QTest::newRow("LF line ends")
            << QByteArray("\r\n") << QByteArray("\n") << cap << times << values << QStringList{};
        QTest::newRow("more rows than the cap")
            << rows << rows << 2 << QVector<double>{0.1, 0.2} << QVector<double>{1.5e-3, 1.25e-3}
            << QStringList{"line 11: more than 2 samples; the rest is left out"};
    }
    void reportsTheWriterLeaves()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(int, cap);
        QFETCH(QVector<double>, x);
        QFETCH(QVector<double>, values);
        QFETCH(QStringList, notes);
        QByteArray text(kReport);
        QVERIFY(text.contains(from));
        text.replace(from, to);
        QTemporaryDir dir;
        QFile file(dir.filePath("left.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        for (bool fromFile : {false, true}) {
            TraceReport report;
            std::string error;
            QVERIFY2(fromFile ? CTraceReportReader::readFile(file.fileName().toStdString(), report, error,
                                                             size_t(cap))
                              : CTraceReportReader::readText(text.toStdString(), report, error, size_t(cap)),
                     error.c_str());
            QCOMPARE(QVector<double>(report.x.begin(), report.x.end()), x);
            QCOMPARE(QVector<double>(report.values.begin(), report.values.end()), values);
            QStringList seen;
            for (const std::string &note : report.notes)
                seen << QString::fromStdString(note);
            QCOMPARE(seen, notes);
        }
        // The panel draws it in time order and says what was read past.
        CTraceDlg panel;
        QVERIFY(panel.openReport(file.fileName().toStdString()));
        TraceReport whole;
        std::string error;
        QVERIFY(CTraceReportReader::readFile(file.fileName().toStdString(), whole, error));
        QCOMPARE(panel.graph()->pointCount(), int(whole.x.size()));
        for (int i = 1; i < panel.graph()->pointCount(); ++i)
            QVERIFY(panel.graph()->keyAt(i - 1) <= panel.graph()->keyAt(i));
        // A time that goes back gives no period.
        QVERIFY(panel.stats().period().count() == 0 || panel.stats().period().minimum() >= 0.0);
        for (const std::string &note : whole.notes)
            QVERIFY2(panel.tools()->note().contains(QString::fromStdString(note)),
                     qPrintable(panel.tools()->note()));
    }

    // Paths that are not regular files are refused at once, without
    // waiting for a writer; a sparse file of 22 GB is refused without
    // memory sized from it.
    void nonRegularReports_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("FIFO without writer") << "fifo"
                                             << "not a regular file (a FIFO)";
        QTest::newRow("FIFO with a writer") << "fifo+writer"
                                            << "not a regular file (a FIFO)";
        QTest::newRow("/dev/zero") << "/dev/zero"
                                   << "not a regular file (a character device)";
        QTest::newRow("folder") << "folder"
                                << "not a regular file (a folder)";
        QTest::newRow("sparse 22 GB") << "sparse"
                                      << "line 12: longer than 65536 bytes";
    }
    void nonRegularReports()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QString path = dir.filePath("report.csv");
        std::thread writer;
        std::atomic<bool> done{false};
        if (kind.startsWith("fifo")) {
            QVERIFY(mkfifo(dir.filePath("fifo").toLocal8Bit().constData(), 0600) == 0);
            path = dir.filePath("fifo");
            // A reader that opens it anyway gets a valid report after 1 s
            // (rows for 2 s more with a writer), so waiting shows as a wrong
            // answer, not as a hang.
            writer =
                std::thread([&, fifo = dir.filePath("fifo").toLocal8Bit(), endless = kind == "fifo+writer"] {
                    QThread::msleep(1000);
                    const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
                    ssize_t ignored = ::write(fd, kReport, sizeof kReport - 1);
                    QElapsedTimer writing;
                    writing.start();
                    while (endless && !done.load() && writing.elapsed() < 2000)
                        ignored = ::write(fd, "0.400; 1;\r\n", 11);
                    (void)ignored;
                    ::close(fd);
                });
        } else if (kind == "folder") {
            path = dir.path();
        } else if (kind == "sparse") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(kReport);
            QVERIFY(file.resize(22LL << 30));
        } else {
            path = kind;
        }
        TraceReport report;
        std::string message;
        const bool read = CTraceReportReader::readFile(path.toStdString(), report, message);
        done = true;
        if (writer.joinable())
            writer.join();
        QVERIFY(!read);
        QCOMPARE(QString::fromStdString(message), error);
    }

    // Random damage to a valid report: a line-numbered message or a good
    // read, never a crash (the sanitizer build watches the reads).
    void reportReaderFuzz()
    {
        const QByteArray valid(kReport);
        TraceReport report;
        std::string message;
        QVERIFY(CTraceReportReader::readText(valid.toStdString(), report, message));
        QCOMPARE(report.values, (std::vector<double>{1.5e-3, 1.25e-3, -2}));
        std::mt19937 random(20);
        const char alphabet[] = ";\r\n 0.-e9\xff";
        for (int round = 0; round < 3000; ++round) {
            QByteArray text = valid;
            const int edits = 1 + int(random() % 4);
            for (int e = 0; e < edits && !text.isEmpty(); ++e) {
                const int at = int(random() % uint32_t(text.size()));
                switch (random() % 4) {
                case 0: text[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
                case 1: text.remove(at, 1 + int(random() % 8)); break;
                case 2: text.insert(at, alphabet[random() % (sizeof alphabet - 1)]); break;
                default: text.truncate(at); break;
                }
            }
            if (!CTraceReportReader::readText(text.toStdString(), report, message)) {
                QVERIFY2(message.rfind("line ", 0) == 0, message.c_str());
                // At most the line after the last (a report that stops short).
                QVERIFY2(std::atoi(message.c_str() + 5) <= text.count('\n') + 2, message.c_str());
            } else {
                QCOMPARE(report.x.size(), report.values.size());
            }
        }
    }

    // Zoom, hold and follow through the graph's own operations and mouse.
    void examineGraph()
    {
        CCWGraph graph;
        graph.resize(600, 300);
        graph.show();
        QVERIFY(QTest::qWaitForWindowExposed(&graph));
        graph.attachDataPlot();
        graph.setAxisAutoScale(CCWGraph::YAxis, true);
        graph.setChartLength(5001);
        graph.setAxisRange(CCWGraph::XAxis, 0, 5000);
        auto value = [](int i) { return std::sin(i * 0.01) * 3.0 + (i % 7); };
        for (int i = 0; i < 8000; ++i)
            graph.appendPoint(value(i));
        graph.refresh();
        QCOMPARE(graph.pointCount(), 5001);
        QCOMPARE(graph.axisMaximum(CCWGraph::XAxis), 7999.0);

        // The visible range's figures against the points themselves, with
        // blocks of points dropped at the old end.
        graph.zoomToRect(4100.5, 6500, -10, 10);
        QVERIFY(graph.isHeld());
        CRunningStats plain;
        for (int i = 4101; i <= 6500; ++i)
            plain.add(value(i));
        uint64_t nonPositive = 0;
        const CRunningStats seen = graph.visibleStats(&nonPositive);
        QCOMPARE(seen.count(), plain.count());
        QCOMPARE(seen.minimum(), plain.minimum());
        QCOMPARE(seen.maximum(), plain.maximum());
        QVERIFY(near(seen.mean(), plain.mean(), 1e-12));
        QVERIFY(near(seen.standardDeviation(), plain.standardDeviation(), 1e-9));
        double key = 0;
        double v = 0;
        QVERIFY(graph.nearestPoint(4200.4, key, v));
        QCOMPARE(key, 4200.0);
        QCOMPARE(v, value(4200));

        // Held: new points do not move the view; follow returns to them.
        graph.appendPoint(1.0);
        graph.refresh();
        QCOMPARE(graph.axisMinimum(CCWGraph::XAxis), 4100.5);
        graph.follow();
        QVERIFY(!graph.isHeld());
        QCOMPARE(graph.axisMaximum(CCWGraph::XAxis), 8000.0);
        CRunningStats all;
        for (int i = 0; i < graph.pointCount(); ++i)
            all.add(graph.valueAt(i));
        QCOMPARE(graph.visibleStats().count(), uint64_t(5001));
        QVERIFY(near(graph.visibleStats().mean(), all.mean(), 1e-12));
        QCOMPARE(graph.axisMaximum(CCWGraph::XAxis) - graph.axisMinimum(CCWGraph::XAxis), 5000.0);
        graph.zoomX(0.5, 8000);
        QCOMPARE(graph.axisMinimum(CCWGraph::XAxis), 5500.0);
        graph.panBy(-100, 0);
        QCOMPARE(graph.axisMaximum(CCWGraph::XAxis), 7900.0);

        // The mouse: a wheel turn zooms X and holds, Ctrl+wheel zooms Y, a
        // double-click follows.
        graph.follow();
        QCustomPlot *plot = graph.customPlot();
        const QPoint middle = plot->axisRect()->rect().center();
        const double ySpan = graph.axisMaximum(CCWGraph::YAxis) - graph.axisMinimum(CCWGraph::YAxis);
        for (Qt::KeyboardModifier modifier : {Qt::NoModifier, Qt::ControlModifier}) {
            QWheelEvent wheel(middle, plot->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                              modifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(plot, &wheel);
        }
        QVERIFY(graph.isHeld());
        QVERIFY(graph.axisMaximum(CCWGraph::XAxis) - graph.axisMinimum(CCWGraph::XAxis) < 5000.0);
        QVERIFY(graph.axisMaximum(CCWGraph::YAxis) - graph.axisMinimum(CCWGraph::YAxis) < ySpan);
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, middle);
        QVERIFY(!graph.isHeld());
        QCOMPARE(graph.axisMaximum(CCWGraph::XAxis) - graph.axisMinimum(CCWGraph::XAxis), 5000.0);
        // The cursor names the nearest sample.
        graph.showCursorAt(7000.2);
        QCOMPARE(graph.cursorText(), QString::fromStdString(formatC("7000  %.9g", value(7000))));
    }

    // Manual value ranges through the panel's fields: refused with the
    // reason shown, on a log axis too.
    void valueRange_data()
    {
        QTest::addColumn<bool>("log");
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<QString>("maximum");
        QTest::addColumn<QString>("note");   // empty: taken
        QTest::addColumn<QString>("locale"); // the user's
        QTest::newRow("linear") << false << "-1"
                                << "2"
                                << ""
                                << "C";
        QTest::newRow("decimal comma") << false << "-1,5"
                                       << "2,25"
                                       << ""
                                       << "de_DE";
        QTest::newRow("point in German") << true << "0.5"
                                         << "1e3"
                                         << ""
                                         << "de_DE";
        QTest::newRow("group separator") << false << "1.500"
                                         << "2.000,5"
                                         << "Value range refused: Minimum and maximum must be numbers."
                                         << "de_DE";
        QTest::newRow("comma in English") << false << "-1,5"
                                          << "2"
                                          << "Value range refused: Minimum and maximum must be numbers."
                                          << "en_US";
        QTest::newRow("log") << true << "0.001"
                             << "10"
                             << ""
                             << "C";
        QTest::newRow("equal") << false << "2"
                               << "2"
                               << "Value range refused: The minimum must be below the maximum."
                               << "C";
        QTest::newRow("reversed") << false << "3"
                                  << "2"
                                  << "Value range refused: The minimum must be below the maximum."
                                  << "C";
        QTest::newRow("zero on log") << true << "0"
                                     << "2"
                                     << "Value range refused: On the log scale both limits must be above 0."
                                     << "C";
        QTest::newRow("text") << false << "low"
                              << "2"
                              << "Value range refused: Minimum and maximum must be numbers."
                              << "C";
    }
    void valueRange()
    {
        QFETCH(bool, log);
        QFETCH(QString, minimum);
        QFETCH(QString, maximum);
        QFETCH(QString, note);
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        CTraceDlg panel;
        panel.resize(600, 400);
        child<QCheckBox>(&panel, "logCheck")->setChecked(log);
        panel.OnTraceSettingsChanged();
        CCWGraph *graph = panel.graph();
        for (int i = 0; i < 50; ++i)
            graph->appendPoint(i % 5 - 1.0);
        panel.redrawNow();
        child<QLineEdit>(&panel, "yMinEdit")->setText(minimum);
        QLineEdit *maxEdit = child<QLineEdit>(&panel, "yMaxEdit");
        maxEdit->setText(maximum);
        emit maxEdit->editingFinished();
        QCOMPARE(panel.tools()->note(), note);
        QCOMPARE(graph->yAuto(), !note.isEmpty());
        // A refused range leaves the automatic one, and its box says so.
        QCOMPARE(child<QCheckBox>(&panel, "yAutoCheck")->isChecked(), graph->yAuto());
        if (note.isEmpty()) {
            const auto number = [](QString text) { return text.replace(',', '.').toDouble(); };
            QCOMPARE(graph->axisMinimum(CCWGraph::YAxis), number(minimum));
            QCOMPARE(graph->axisMaximum(CCWGraph::YAxis), number(maximum));
        }
        if (log && note.isEmpty()) // values <= 0 are counted, not drawn
            QVERIFY2(child<QLabel>(&panel, "summaryLabel")->text().contains("20 values <= 0 not drawn"),
                     qPrintable(child<QLabel>(&panel, "summaryLabel")->text()));
        child<QCheckBox>(&panel, "yAutoCheck")->click();
        QVERIFY(graph->yAuto());
    }

    // In a dialog (the main window is one), Return in a field applies the
    // field and never presses a button of the panel such as Hold.
    void returnInFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("command") << "commandEdit"
                                 << "SSV";
        QTest::newRow("interval") << "intervalEdit"
                                  << "250";
        QTest::newRow("size") << "sizeEdit"
                              << "10";
        QTest::newRow("Y max") << "yMaxEdit"
                               << "5";
        QTest::newRow("Y max refused") << "yMaxEdit"
                                       << "-5";
    }
    void returnInFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QDialog window;
        window.resize(630, 544);
        auto *panel = new CTraceDlg(&window);
        panel->LayoutTracePanel();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        child<QLineEdit>(panel, "yMinEdit")->setText("0");
        auto *edit = child<QLineEdit>(panel, qPrintable(field));
        edit->setFocus();
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!child<QPushButton>(panel, "holdButton")->isChecked());
        QVERIFY(!panel->graph()->isHeld());
        QVERIFY(window.isVisible());
        if (field == "commandEdit")
            QCOMPARE(CTraceSettings::read(CTraceSettings::kPlotCommand), text.toStdString());
        else if (field == "intervalEdit")
            QCOMPARE(panel->interval(), 250.0);
        else if (field == "sizeEdit")
            QCOMPARE(panel->size(), 10.0);
        else
            QCOMPARE(panel->graph()->yAuto(), text.startsWith('-'));
    }

    // Notes, figures and a report coming and going move no control: each
    // line below the graph keeps its place.
    void linesKeepTheirPlace()
    {
        QWidget window;
        window.resize(630, 544);
        auto *panel = new CTraceDlg(&window);
        panel->LayoutTracePanel();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto places = [panel] {
            QStringList seen;
            for (QWidget *w : panel->findChildren<QWidget *>())
                if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
                    || qobject_cast<CCWGraph *>(w))
                    seen << w->objectName()
                            + QString(" %1,%2 %3x%4")
                                  .arg(w->mapTo(panel, QPoint()).x())
                                  .arg(w->mapTo(panel, QPoint()).y())
                                  .arg(w->width())
                                  .arg(w->height());
            return seen;
        };
        const QStringList before = places();
        QTemporaryDir dir;
        QFile report(dir.filePath("r.csv"));
        QVERIFY(report.open(QIODevice::WriteOnly) && report.write(kReport) > 0);
        report.close();
        QVERIFY(panel->openReport(report.fileName().toStdString()));
        QCOMPARE(places(), before);
        child<QLineEdit>(panel, "yMinEdit")->setText("3");
        child<QLineEdit>(panel, "yMaxEdit")->setText("2");
        emit child<QLineEdit>(panel, "yMaxEdit")->editingFinished();
        QVERIFY(panel->tools()->note().startsWith("Value range refused"));
        QCOMPARE(places(), before);
        child<QLineEdit>(panel, "yMaxEdit")->setText("5");
        emit child<QLineEdit>(panel, "yMaxEdit")->editingFinished();
        QVERIFY(panel->tools()->note().isEmpty());
        QCOMPARE(places(), before);
    }

    // "Open report..." during a live trace asks first; declined, the trace
    // goes on; accepted, nothing of the live trace stays on the report.
    void openReportDuringTrace()
    {
        Traced t;
        QVERIFY(t.open());
        setInterval(t.panel, "20");
        QTemporaryDir dir;
        QFile report(dir.filePath("r.csv"));
        QVERIFY(report.open(QIODevice::WriteOnly) && report.write(kReport) > 0);
        report.close();
        int dialogs = 0;
        t.panel.setPathChooser([&](CTraceDlg::DialogKind kind, const std::string &) {
            ++dialogs;
            return kind == CTraceDlg::DialogKind::OpenReport ? report.fileName().toStdString()
                                                             : std::string();
        });
        t.panel.show();
        QSignalSpy shown(&t.panel, &CTraceDlg::sampleShown);
        t.panel.OnTraceStartStop();
        QVERIFY(waitFor([&] { return shown.count() >= 2; }));
        t.panel.graph()->showCursorAt(1.0);
        QVERIFY(!t.panel.graph()->cursorText().isEmpty());
        auto *open = child<QPushButton>(&t.panel, "openReportButton");
        open->click();
        QCOMPARE(t.prompt.boxes().size(), size_t(1));
        QCOMPARE(t.prompt.boxes()[0].buttons, IPrompt::Buttons::YesNo);
        QCOMPARE(dialogs, 0);
        QVERIFY(t.panel.isTracing() && !t.panel.isReviewing());
        t.prompt.queueAnswer(IPrompt::Answer::Yes);
        open->click();
        QCOMPARE(t.prompt.boxes().size(), size_t(2));
        QCOMPARE(dialogs, 1);
        QVERIFY(!t.panel.isTracing() || waitFor([&] { return !t.panel.isTracing(); }));
        QVERIFY(t.panel.isReviewing());
        QCOMPARE(child<QLabel>(&t.panel, "valueDisplay")->text(), QString());
        QCOMPARE(t.panel.graph()->cursorText(), QString());
        QCOMPARE(t.panel.graph()->pointCount(), 3);
    }

    // Pictures and the visible range: PNG size and resolution, SVG that
    // parses, the report's bytes, and a path that cannot be written.
    void exportFormats()
    {
        CTraceDlg panel;
        panel.resize(600, 400);
        QTemporaryDir dir;
        const QString reportPath = dir.filePath("in.csv");
        QFile in(reportPath);
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write(kReport);
        in.close();
        QVERIFY(panel.openReport(reportPath.toStdString()));

        const QString png = dir.filePath("g.png");
        QVERIFY(panel.exportPicture(png.toStdString(), 640, 360, false));
        const QImage image(png);
        QCOMPARE(image.size(), QSize(640, 360));
        QCOMPARE(image.dotsPerMeterX(), 11811); // 300 dpi
        const QString svg = dir.filePath("g.svg");
        QVERIFY(panel.exportPicture(svg.toStdString(), 800, 500, true));
        QFile svgFile(svg);
        QVERIFY(svgFile.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&svgFile);
        int polylines = 0;
        QString width;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement) {
                if (xml.name() == QLatin1String("svg"))
                    width = xml.attributes().value("width").toString();
                polylines += xml.name() == QLatin1String("polyline");
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(width.startsWith("2") || width == "800"); // mm or pixels
        QVERIFY(polylines > 0);

        // The middle of the three points, in the report's own bytes.
        CCWGraph *graph = panel.graph();
        graph->zoomToRect(0.15, 0.25, -5, 5);
        const QString range = dir.filePath("range.csv");
        QVERIFY(panel.exportVisibleCsv(range.toStdString()));
        QCOMPARE(
            readAll(range),
            QByteArray("Report for;ORBO Sim 100\r\nSerial;4711 042\r\nStart time;2015-11-26 08:05:00\r\n"
                       "Comport;3\r\nSignal;PRE\r\nInterval;100 ms\r\n\r\ntime[s.ms] after start;Value;\r\n"
                       "0.200; 0.00125;\r\n"));

        const std::string unwritable = "/proc/no-such-folder/g.png";
        QVERIFY(!panel.exportPicture(unwritable, 100, 100, false));
        QVERIFY2(panel.tools()->note().startsWith(QString::fromStdString("Can not write " + unwritable)),
                 qPrintable(panel.tools()->note()));
        QVERIFY(!panel.exportVisibleCsv("/proc/no-such-folder/r.csv"));
        QVERIFY(panel.tools()->note().contains("/proc/no-such-folder/r.csv"));
        // A broken report is named with its line, and the graph stays.
        QFile bad(dir.filePath("bad.csv"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(kReport).replace("0.300", "x"));
        bad.close();
        QVERIFY(!panel.openReport(bad.fileName().toStdString()));
        QCOMPARE(panel.tools()->note(), bad.fileName() + ": line 11: the time is not a number");
        QCOMPARE(graph->pointCount(), 3);
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
