// The trace panel offscreen: settings and their defaults, the graph,
// colours, the file log and traces against the simulated device.

#include "ccwbutton.h"
#include "ccwgraph.h"
#include "devicesession.h"
#include "findchild.h"
#include "orbosim.h"
#include "scriptedprompt.h"
#include "tracecolor.h"
#include "tracedlg.h"
#include "tracesettings.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

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
        if (sim.path().isEmpty())
            qWarning("%s", qPrintable(sim.errorString()));
        SerialConfig &config = session.config();
        config.port = sim.path().toStdString();
        config.separator = config.terminator = 10;
        config.readTimeout = 2000;
        config.inQueueSize = 4096;
        panel.setOwner(&session, &prompt, [] { return TraceOwnerInfo{"ORBO", "123", "3"}; });
        return !sim.path().isEmpty() && session.port().Open(config) == 1;
    }
};

} // namespace

class TestTracePanel : public QObject
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

    void startupSettings_data()
    {
        QTest::addColumn<QStringList>("stored"); // name=value pairs
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("interval");
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("log");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<uint>("lineColor");

        // A first start draws a green line on the black background; a
        // stored colour stays as it is, black included.
        QTest::newRow("nothing stored")
            << QStringList() << "PRE" << 100.0 << 60.0 << false << false << 65280u;
        QTest::newRow("below 1, black line kept") << QStringList{"T_Interval=0.5", "T_Size=0", "ColorLine=0"}
                                                  << "PRE" << 100.0 << 60.0 << false << false << 0u;
        QTest::newRow("stored values") << QStringList{"PlotCommand=PRA", "T_Interval=250", "T_Size=10",
                                                      "T_Log=1",         "TraceTick=2",    "ColorLine=65280"}
                                       << "PRA" << 250.0 << 10.0 << true << true << 65280u;
        QTest::newRow("garbage, infinite")
            << QStringList{"T_Interval=abc", "T_Size=inf", "T_Log=x", "ColorLine=-"} << "PRE" << 100.0 << 60.0
            << false << false << 0u;
    }

    void startupSettings()
    {
        QFETCH(QStringList, stored);
        QFETCH(double, interval);
        QFETCH(double, size);
        QFETCH(bool, tick);
        for (const QString &pair : stored)
            CTraceSettings::write(pair.section('=', 0, 0).toLatin1(), pair.section('=', 1).toStdString());
        CTraceDlg panel;
        QTEST(child<QLineEdit>(&panel, "commandEdit")->text(), "command");
        QCOMPARE(child<QLineEdit>(&panel, "intervalEdit")->text(), QString::number(interval));
        QCOMPARE(panel.interval(), interval);
        QCOMPARE(child<QLineEdit>(&panel, "sizeEdit")->text(), QString::number(size));
        QCOMPARE(panel.size(), size);
        QTEST(child<QCheckBox>(&panel, "logCheck")->isChecked(), "log");
        QTEST(panel.graph()->axisLog(CCWGraph::YAxis), "log");
        QCOMPARE(child<QRadioButton>(&panel, "tickRadio")->isChecked(), tick);
        QCOMPARE(child<QRadioButton>(&panel, "timeRadio")->isChecked(), !tick);
        QTEST(bgrFromColor(panel.graph()->lineColor()), "lineColor");
        QVERIFY(child(&panel, "messageLine")->isHidden());
    }

    void settingsKeepTypedText()
    {
        CTraceDlg panel;
        child<QLineEdit>(&panel, "sizeEdit")->setText("10");
        child<QCheckBox>(&panel, "logCheck")->setChecked(true);
        setInterval(panel, "0");
        QCOMPARE(CTraceSettings::read(CTraceSettings::kInterval), std::string("0"));
        QCOMPARE(panel.interval(), 100.0);
        QCOMPARE(child<QLineEdit>(&panel, "intervalEdit")->text(), QString("0"));
        // The next start-up reads what was stored and replaces the 0.
        CTraceDlg again;
        QCOMPARE(again.interval(), 100.0);
        QCOMPARE(again.size(), 10.0);
        QVERIFY(again.logScale());
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

    void colourChoice_data()
    {
        QTest::addColumn<bool>("background");
        QTest::addColumn<uint>("chosen");
        QTest::addColumn<QString>("stored");
        QTest::newRow("background") << true << 0x00FF8000u << "16744448";
        QTest::newRow("line") << false << 0x000000FFu << "255";
    }

    void colourChoice()
    {
        QFETCH(bool, background);
        QFETCH(uint, chosen);
        CTraceDlg panel;
        uint32_t offered = 1;
        panel.setColorChooser([&](const QColor &current) {
            offered = bgrFromColor(current);
            return colorFromBgr(chosen);
        });
        auto *button = child<CCWButton>(&panel, background ? "backColorButton" : "lineColorButton");
        panel.show();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(offered, background ? 0u : 0x0000FF00u);
        QCOMPARE(bgrFromColor(button->offColor()), chosen);
        QCOMPARE(bgrFromColor(background ? panel.graph()->backColor() : panel.graph()->lineColor()), chosen);
        QTEST(QString::fromStdString(
                  CTraceSettings::read(background ? CTraceSettings::kColorBack : CTraceSettings::kColorLine)),
              "stored");
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
        QVERIFY(t.panel.isTracing());
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Stop"));
        QVERIFY(!child(&t.panel, "commandEdit")->isEnabled());
        QCOMPARE(CTraceSettings::read(CTraceSettings::kPlotCommand), std::string("PRE"));
        QVERIFY(waitFor([&] { return shown.count() >= 5; }));
        t.panel.StopTrace();
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Start"));
        QVERIFY(child(&t.panel, "commandEdit")->isEnabled());
        QVERIFY(ended.wait(60000) || ended.count() == 1);
        QVERIFY(!t.panel.isTracing());
        QVERIFY(t.panel.isLogging()); // the log survives the stop of the trace

        t.panel.ToggleFileLog();
        QVERIFY(!t.panel.isLogging());
        QCOMPARE(buttonText(&t.panel, "fileButton"), QString("Start"));
        QVERIFY(!child<CCWButton>(&t.panel, "fileLed")->value());
        QVERIFY(child(&t.panel, "tickRadio")->isEnabled());
        QVERIFY(t.prompt.boxes().empty());

        const int samples = int(shown.count());
        QCOMPARE(t.panel.graph()->pointCount(), samples);
        QCOMPARE(child<QLabel>(&t.panel, "valueDisplay")->text(),
                 QString::asprintf("%.6g", shown.last().at(2).toDouble()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.startsWith("Report for;ORBO\r\nSerial;123\r\nStart time;"));
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.mid(3, 5),
                 QList<QByteArray>(
                     {"Comport;3\r", "Signal;PRE\r", "Interval;20 ms\r", "\r", "Tick counts;Value;\r"}));
        QCOMPARE(lines.size(), 8 + samples + 1);
        // The tick, a blank, the reply as sent without its line end.
        const QRegularExpression line("^\\d+; [-+0-9.Ee]+;\r$");
        for (int i = 8; i < lines.size() - 1; ++i)
            QVERIFY2(lines[i].startsWith(QByteArray::number(i - 8) + "; ")
                         && line.match(QString::fromLatin1(lines[i])).hasMatch(),
                     lines[i].constData());
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

    void stopEndsTheSleep()
    {
        Traced t;
        QVERIFY(t.open());
        setInterval(t.panel, "50");
        QSignalSpy shown(&t.panel, &CTraceDlg::sampleShown);
        QSignalSpy ended(&t.panel, &CTraceDlg::traceEnded);
        t.panel.OnTraceStartStop();
        QVERIFY(waitFor([&] { return shown.count() >= 1; }));
        // A longer interval is used from the next turn on: after at most
        // two more samples the thread sleeps a minute.
        setInterval(t.panel, "60000");
        const int before = int(shown.count());
        QVERIFY(waitFor([&] { return shown.count() >= before + 1; }));
        QTest::qWait(1000);

        const int atStop = int(shown.count());
        t.panel.OnTraceStartStop(); // Stop wakes the sleeping thread: no further poll
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Start"));
        QVERIFY(ended.wait(10000) || ended.count() == 1);
        QCOMPARE(int(shown.count()), atStop);
        QVERIFY(!t.panel.isTracing());
        // Start works again.
        t.panel.OnTraceStartStop();
        QVERIFY(t.panel.isTracing());
        QCOMPARE(buttonText(&t.panel, "traceButton"), QString("Stop"));
    }

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(TestTracePanel)
#include "tst_tracepanel.moc"
