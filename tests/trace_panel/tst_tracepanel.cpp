// The trace panel offscreen: settings and their defaults, graph setup,
// colours, the file log and a trace against the simulated device.

#include "ccwbutton.h"
#include "ccwgraph.h"
#include "devicesession.h"
#include "orbosim.h"
#include "prompt.h"
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

namespace {

class ScriptedPrompt : public IPrompt
{
public:
    Answer message(const std::string &text, const std::string &, Buttons, Icon) override
    {
        messages.push_back(text);
        return Answer::Ok;
    }
    std::vector<std::string> messages;
};

SYSTEMTIME fixedStart()
{
    SYSTEMTIME t{};
    t.wYear = 2015;
    t.wMonth = 11;
    t.wDay = 26;
    t.wHour = 8;
    t.wMinute = 5;
    t.wSecond = 9;
    return t;
}

template <typename T>
T *child(QWidget *panel, const char *name)
{
    T *widget = panel->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

bool openSession(CDeviceSession &session, const QString &path)
{
    SerialConfig config;
    config.port = path.toStdString();
    config.separator = 10;
    config.terminator = 10;
    config.readTimeout = 2000;
    config.inQueueSize = 4096;
    session.config() = config;
    return session.port().Open(config) == 1;
}

} // namespace

class TestTracePanel : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void startupSettings_data();
    void startupSettings();
    void settingsChangedKeepsTypedText();
    void graphFollowsSettings();
    void colourChoice_data();
    void colourChoice();
    void layoutFollowsOwner();

    void logWhileStopped();
    void logCancelledOrFailed();
    void traceShowsSamplesAndLogs();
    void failedPollShowsMessage();
    void hideStopsTrace();
    void stopThenStartWhileEnding();

private:
    QTemporaryDir m_config;
};

void TestTracePanel::init()
{
    // A fresh, private settings store for every test.
    QVERIFY(m_config.isValid());
    QDir(m_config.path()).removeRecursively();
    QDir().mkpath(m_config.path());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
}

void TestTracePanel::startupSettings_data()
{
    QTest::addColumn<QStringList>("stored");  // name=value pairs
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("intervalText");
    QTest::addColumn<double>("interval");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<double>("size");
    QTest::addColumn<bool>("log");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<uint>("lineColor");

    QTest::newRow("nothing stored") << QStringList() << "PRE" << "100" << 100.0 << "60" << 60.0
                                    << false << false << 0u;
    QTest::newRow("interval 0") << QStringList{"T_Interval=0"} << "PRE" << "100" << 100.0 << "60"
                                << 60.0 << false << false << 0u;
    QTest::newRow("interval 0.5, size 0") << QStringList{"T_Interval=0.5", "T_Size=0"} << "PRE"
                                          << "100" << 100.0 << "60" << 60.0 << false << false << 0u;
    QTest::newRow("stored values")
        << QStringList{"PlotCommand=PRA", "T_Interval=250", "T_Size=10", "T_Log=1", "TraceTick=2",
                       "ColorLine=65280"}
        << "PRA" << "250" << 250.0 << "10" << 10.0 << true << true << 65280u;
    QTest::newRow("garbage") << QStringList{"T_Interval=abc", "T_Log=x", "ColorLine=-"} << "PRE"
                             << "100" << 100.0 << "60" << 60.0 << false << false << 0u;
}

void TestTracePanel::startupSettings()
{
    QFETCH(QStringList, stored);
    for (const QString &pair : stored) {
        const QStringList parts = pair.split('=');
        CTraceSettings::write(parts[0].toLatin1().constData(), parts[1].toStdString());
    }
    CTraceDlg panel;
    QTEST(child<QLineEdit>(&panel, "commandEdit")->text(), "command");
    QTEST(child<QLineEdit>(&panel, "intervalEdit")->text(), "intervalText");
    QTEST(panel.interval(), "interval");
    QTEST(child<QLineEdit>(&panel, "sizeEdit")->text(), "sizeText");
    QTEST(panel.size(), "size");
    QTEST(panel.logScale(), "log");
    QTEST(child<QCheckBox>(&panel, "logCheck")->isChecked(), "log");
    QTEST(panel.graph()->axisLog(CCWGraph::YAxis), "log");
    QTEST(child<QRadioButton>(&panel, "tickRadio")->isChecked(), "tick");
    QFETCH(bool, tick);
    QCOMPARE(child<QRadioButton>(&panel, "timeRadio")->isChecked(), !tick);
    QTEST(uint(panel.lineColor()), "lineColor");
    QTEST(uint(panel.graph()->lineColor()), "lineColor");
    QCOMPARE(panel.backColor(), 0u);
    QVERIFY(child<QLineEdit>(&panel, "messageLine")->isHidden());
    QCOMPARE(child<QLineEdit>(&panel, "commandEdit")->font().family(), QString("Arial"));
    QVERIFY(child<QLabel>(&panel, "valueDisplay")->font().bold());
}

void TestTracePanel::settingsChangedKeepsTypedText()
{
    CTraceDlg panel;
    child<QLineEdit>(&panel, "intervalEdit")->setText("0");
    child<QLineEdit>(&panel, "sizeEdit")->setText("10");
    child<QCheckBox>(&panel, "logCheck")->setChecked(true);
    panel.OnTraceSettingsChanged();
    QCOMPARE(CTraceSettings::read(CTraceSettings::kInterval), std::string("0"));
    QCOMPARE(CTraceSettings::read(CTraceSettings::kSize), std::string("10"));
    QCOMPARE(CTraceSettings::read(CTraceSettings::kLog), std::string("1"));
    QCOMPARE(panel.interval(), 100.0);
    QCOMPARE(child<QLineEdit>(&panel, "intervalEdit")->text(), QString("0"));

    // The next start-up replaces the stored 0.
    CTraceDlg again;
    QCOMPARE(again.interval(), 100.0);
    QCOMPARE(again.size(), 10.0);
    QVERIFY(again.logScale());
}

void TestTracePanel::graphFollowsSettings()
{
    CTraceDlg panel;
    child<QLineEdit>(&panel, "intervalEdit")->setText("250");
    child<QLineEdit>(&panel, "sizeEdit")->setText("10");
    panel.OnTraceSettingsChanged();
    CCWGraph *graph = panel.graph();
    QCOMPARE(graph->chartLength(), 41);
    QCOMPARE(graph->axisMinimum(CCWGraph::XAxis), 0.0);
    QCOMPARE(graph->axisMaximum(CCWGraph::XAxis), 40.0);
    QCOMPARE(graph->axisFormat(CCWGraph::XAxis), std::string("*0.250000\"s"));
    QCOMPARE(graph->axisLabel(CCWGraph::XAxis, 24), QString("6s"));

    // The oldest points drop out beyond the chart length; the X axis
    // follows the newest point.
    for (int i = 0; i < 100; ++i)
        graph->AppendPoint(i, 1.0);
    graph->Refresh();
    QCOMPARE(graph->pointCount(), 41);
    QCOMPARE(graph->lastX(), 99.0);
    QCOMPARE(graph->axisMaximum(CCWGraph::XAxis), 99.0);
    panel.OnClearGraph();
    QCOMPARE(graph->pointCount(), 0);

    // On a log scale the range follows the positive values alone; zero and
    // negative values are kept but cannot be drawn.
    child<QCheckBox>(&panel, "logCheck")->setChecked(true);
    panel.OnTraceSettingsChanged();
    for (double value : {0.0, -1.0, 2e-3, 5e-4, 0.0})
        graph->AppendPoint(value, 1.0);
    graph->Refresh();
    QCOMPARE(graph->pointCount(), 5);
    QVERIFY(graph->axisLog(CCWGraph::YAxis));
    QVERIFY(graph->axisMinimum(CCWGraph::YAxis) > 0.0);
    QVERIFY(graph->axisMinimum(CCWGraph::YAxis) <= 5e-4);
    QVERIFY(graph->axisMaximum(CCWGraph::YAxis) >= 2e-3);
}

void TestTracePanel::colourChoice_data()
{
    QTest::addColumn<bool>("background");
    QTest::addColumn<uint>("chosen");
    QTest::addColumn<QString>("stored");
    QTest::newRow("background") << true << 0x00FF8000u << "16744448";
    QTest::newRow("line") << false << 0x000000FFu << "255";
}

void TestTracePanel::colourChoice()
{
    QFETCH(bool, background);
    QFETCH(uint, chosen);
    CTraceDlg panel;
    uint32_t offered = 1;
    panel.setColorChooser([&](uint32_t current) {
        offered = current;
        return chosen;
    });
    auto *button = child<CCWButton>(&panel, background ? "backColorButton" : "lineColorButton");
    panel.show();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(offered, 0u);
    QCOMPARE(uint(button->offColor()), chosen);
    QCOMPARE(uint(background ? panel.graph()->backColor() : panel.graph()->lineColor()), chosen);
    QTEST(QString::fromStdString(CTraceSettings::read(background ? CTraceSettings::kColorBack
                                                                 : CTraceSettings::kColorLine)),
          "stored");
}

void TestTracePanel::layoutFollowsOwner()
{
    QWidget owner;
    owner.resize(800, 700);
    auto *panel = new CTraceDlg(&owner);
    panel->LayoutTracePanel();
    QCOMPARE(panel->geometry(), QRect(4, 300, 792, 396));
    QCOMPARE(panel->graph()->geometry(), QRect(10, 40, 792 - 25, 396 - 50));
    QCOMPARE(child<QLabel>(panel, "valueDisplay")->geometry(), QRect(792 - 142, 52, 100, 16));
    owner.resize(1000, 900);
    panel->LayoutTracePanel();
    QCOMPARE(panel->geometry(), QRect(4, 300, 992, 596));
    QCOMPARE(panel->graph()->geometry().width(), 992 - 25);
}

void TestTracePanel::logWhileStopped()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("stopped.csv");
    CTraceDlg panel;
    ScriptedPrompt prompt;
    CDeviceSession session;
    panel.setOwner(&session, &prompt, [] { return TraceOwnerInfo{"ORBO", "123", "3"}; });
    panel.setClock(fixedStart);
    std::string offeredFile = "?";
    panel.setFileChooser([&](const std::string &last, const std::string &) {
        offeredFile = last;
        return path.toStdString();
    });
    child<QRadioButton>(&panel, "tickRadio")->setChecked(true);
    panel.ToggleFileLog();
    QVERIFY(panel.isLogging());
    QCOMPARE(offeredFile, std::string());
    QCOMPARE(panel.logFilePath(), path.toStdString());
    QCOMPARE(child<QPushButton>(&panel, "fileButton")->text(), QString("Stop"));
    QVERIFY(child<CCWButton>(&panel, "fileLed")->value());
    QVERIFY(!child<QRadioButton>(&panel, "timeRadio")->isEnabled());
    QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceTick), std::string("1"));
    QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceFile), path.toStdString());
    QCOMPARE(CTraceSettings::read(CTraceSettings::kTracePath), dir.path().toStdString() + "/");

    panel.ToggleFileLog();
    QVERIFY(!panel.isLogging());
    QCOMPARE(child<QPushButton>(&panel, "fileButton")->text(), QString("Start"));
    QVERIFY(!child<CCWButton>(&panel, "fileLed")->value());
    QVERIFY(child<QRadioButton>(&panel, "tickRadio")->isEnabled());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Report for;ORBO\r\nSerial;123\r\nStart time;2015-11-26 08:05:09\r\n"
                                        "Comport;3\r\nSignal;PRE\r\nInterval;100 ms\r\n\r\n"
                                        "Tick counts;Value;\r\n"));
    QVERIFY(prompt.messages.empty());
}

void TestTracePanel::logCancelledOrFailed()
{
    QTemporaryDir dir;
    CTraceDlg panel;
    ScriptedPrompt prompt;
    panel.setOwner(nullptr, &prompt, {});
    std::string answer;
    panel.setFileChooser([&](const std::string &, const std::string &) { return answer; });
    panel.ToggleFileLog();  // cancelled
    QVERIFY(!panel.isLogging());
    QVERIFY(prompt.messages.empty());

    answer = dir.filePath("missing/trace.csv").toStdString();
    panel.ToggleFileLog();
    QVERIFY(!panel.isLogging());
    QCOMPARE(prompt.messages.size(), size_t(1));
    QVERIFY(QString::fromStdString(prompt.messages[0]).startsWith("Error occurred! \n"));
    QCOMPARE(child<QPushButton>(&panel, "fileButton")->text(), QString("Start"));
    QCOMPARE(CTraceSettings::read(CTraceSettings::kTraceFile), std::string());
}

void TestTracePanel::traceShowsSamplesAndLogs()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.csv");

    CTraceDlg panel;
    ScriptedPrompt prompt;
    panel.setOwner(&session, &prompt, [] { return TraceOwnerInfo{"ORBO", "123", "3"}; });
    panel.setFileChooser([&](const std::string &, const std::string &) { return path.toStdString(); });
    child<QLineEdit>(&panel, "intervalEdit")->setText("20");
    panel.OnTraceSettingsChanged();
    panel.show();
    QSignalSpy shown(&panel, &CTraceDlg::sampleShown);
    QSignalSpy ended(&panel, &CTraceDlg::traceEnded);

    panel.ToggleFileLog();
    QTest::mouseClick(child<QPushButton>(&panel, "traceButton"), Qt::LeftButton);
    QVERIFY(panel.isTracing());
    QCOMPARE(child<QPushButton>(&panel, "traceButton")->text(), QString("Stop"));
    QVERIFY(!child<QLineEdit>(&panel, "commandEdit")->isEnabled());
    QCOMPARE(CTraceSettings::read(CTraceSettings::kPlotCommand), std::string("PRE"));
    QVERIFY(QTest::qWaitFor([&] { return shown.count() >= 5; }, 60000));

    panel.StopTrace();
    QCOMPARE(child<QPushButton>(&panel, "traceButton")->text(), QString("Start"));
    QVERIFY(child<QLineEdit>(&panel, "commandEdit")->isEnabled());
    QVERIFY(ended.wait(60000) || ended.count() == 1);
    QVERIFY(!panel.isTracing());
    // The log survives the stop of the trace.
    QVERIFY(panel.isLogging());
    panel.ToggleFileLog();

    const int samples = int(shown.count());
    QVERIFY(panel.graph()->pointCount() == samples);
    const QList<QVariant> last = shown.last();
    QVERIFY(last.at(0).toBool());
    QCOMPARE(child<QLabel>(&panel, "valueDisplay")->text(),
             QString::asprintf("%.6g", last.at(2).toDouble()));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 8 + samples + 1);
    // Time mode: seconds with three decimals, a blank, the reply as sent
    // (the device ends it with a CR, which stays).
    const QRegularExpression line("^\\d+\\.\\d{3}; [-+0-9.Ee]+\r;\r$");
    for (int i = 8; i < lines.size() - 1; ++i)
        QVERIFY2(line.match(QString::fromLatin1(lines[i])).hasMatch(), lines[i].constData());
}

void TestTracePanel::failedPollShowsMessage()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    CTraceDlg panel;
    panel.setOwner(&session, nullptr, {});
    child<QLineEdit>(&panel, "intervalEdit")->setText("20");
    panel.OnTraceSettingsChanged();
    child<QLineEdit>(&panel, "commandEdit")->setText("XYZ");
    panel.show();
    QSignalSpy shown(&panel, &CTraceDlg::sampleShown);
    panel.OnTraceStartStop();
    QVERIFY(QTest::qWaitFor([&] { return shown.count() >= 2; }, 60000));
    auto *message = child<QLineEdit>(&panel, "messageLine");
    QVERIFY(message->isVisible());
    QVERIFY2(message->text().startsWith("XYZ -> Can"), qPrintable(message->text()));
    QCOMPARE(panel.graph()->pointCount(), 0);

    // The next good sample hides the message again.
    panel.StopTrace();
    QVERIFY(QTest::qWaitFor([&] { return !panel.isTracing(); }, 60000));
    child<QLineEdit>(&panel, "commandEdit")->setText("PRE");
    panel.OnTraceStartStop();
    QVERIFY(QTest::qWaitFor([&] { return panel.graph()->pointCount() >= 1; }, 60000));
    QVERIFY(!message->isVisible());
    panel.StopTrace();
}

void TestTracePanel::hideStopsTrace()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    QWidget owner;
    auto *panel = new CTraceDlg(&owner);
    panel->setOwner(&session, nullptr, {});
    owner.show();
    QSignalSpy ended(panel, &CTraceDlg::traceEnded);
    panel->OnTraceStartStop();
    QVERIFY(panel->isTracing());
    panel->hide();
    QCOMPARE(child<QPushButton>(panel, "traceButton")->text(), QString("Start"));
    QVERIFY(ended.wait(60000) || ended.count() == 1);
    QVERIFY(!panel->isTracing());
    QVERIFY(child<QLineEdit>(panel, "messageLine")->isHidden());
}

void TestTracePanel::stopThenStartWhileEnding()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    CDeviceSession session;
    QVERIFY(openSession(session, sim.path()));
    CTraceDlg panel;
    panel.setOwner(&session, nullptr, {});
    auto *interval = child<QLineEdit>(&panel, "intervalEdit");
    interval->setText("50");
    panel.OnTraceSettingsChanged();
    QSignalSpy shown(&panel, &CTraceDlg::sampleShown);
    QSignalSpy ended(&panel, &CTraceDlg::traceEnded);
    panel.OnTraceStartStop();
    QVERIFY(QTest::qWaitFor([&] { return shown.count() >= 1; }, 60000));
    // A longer interval is used from the next turn on: after two more
    // samples the thread sleeps 3 s.
    interval->setText("3000");
    panel.OnTraceSettingsChanged();
    const int before = int(shown.count());
    QVERIFY(QTest::qWaitFor([&] { return shown.count() >= before + 2; }, 60000));

    const int atStop = int(shown.count());
    panel.OnTraceStartStop();  // Stop
    // Start while the thread still finishes its turn acts as Stop.
    panel.OnTraceStartStop();
    QVERIFY(panel.isTracing());
    QCOMPARE(child<QPushButton>(&panel, "traceButton")->text(), QString("Start"));
    QVERIFY(ended.wait(60000) || ended.count() == 1);
    QCOMPARE(ended.count(), 1);
    // The turn under way still polls once, and that sample is shown.
    QCOMPARE(int(shown.count()), atStop + 1);

    // Now Start works again.
    panel.OnTraceStartStop();
    QVERIFY(panel.isTracing());
    QCOMPARE(child<QPushButton>(&panel, "traceButton")->text(), QString("Stop"));
}

QTEST_MAIN(TestTracePanel)
#include "tst_tracepanel.moc"
