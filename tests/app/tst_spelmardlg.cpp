#include "ccwbutton.h"
#include "orbosim.h"
#include "prompt.h"
#include "settingskeys.h"
#include "spelmardlg.h"
#include "tracedlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>

namespace {

// Answers questions from a script and keeps what was asked.
class ScriptedPrompt : public IPrompt
{
public:
    std::deque<Answer> answers;
    std::vector<std::string> asked;

    Answer message(const std::string &text, const std::string &, Buttons, Icon) override
    {
        asked.push_back(text);
        if (answers.empty())
            return Answer::Cancel;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

template <typename T>
T *child(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

QString text(QWidget *window, const char *name)
{
    return child<QLabel>(window, name)->text();
}

} // namespace

class TestSpelmarDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void startupState();
    void settingsPersistWhenOpenFails();
    void simulatedConnectAndDisconnect();
    void connectByAutoSearch();
    void bootStateFailure();
    void sendWhileDisconnected();
    void singleSendAndHistory();
    void continuousSending();
    void enterDoesNotClose();
    void escWhileTracing_data();
    void escWhileTracing();
    void continueLoggingQuestion_data();
    void continueLoggingQuestion();
    void neverSmallerThanAtStart();
    void aboutBox();
    void unwritableSettings();

private:
    void connectWindow(CSpelmarDlg &window, const QString &port, const QString &baud,
                       bool simulated);
    QTemporaryDir m_config;
};

void TestSpelmarDlg::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
}

void TestSpelmarDlg::init()
{
    QDir(m_config.path()).removeRecursively();
    QDir().mkpath(m_config.path());
}

void TestSpelmarDlg::connectWindow(CSpelmarDlg &window, const QString &port, const QString &baud,
                                   bool simulated)
{
    child<QComboBox>(&window, "portCombo")->setEditText(port);
    auto *baudCombo = child<QComboBox>(&window, "baudCombo");
    baudCombo->setCurrentIndex(baudCombo->findText(baud));
    child<QCheckBox>(&window, "simulationCheck")->setChecked(simulated);
    QTest::mouseClick(child<QPushButton>(&window, "connectButton"), Qt::LeftButton);
}

void TestSpelmarDlg::startupState()
{
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    QCOMPARE(window.windowTitle(), QString("Spelmar    V 2.0.0"));
    QCOMPARE(child<QComboBox>(&window, "portCombo")->currentText(), QString());
    // Nothing stored: the prefix search settles on the entry after "auto".
    QCOMPARE(child<QComboBox>(&window, "baudCombo")->currentText(), QString("9600"));
    QVERIFY(!child<QComboBox>(&window, "commandListCombo")->isEnabled());
    QVERIFY(!child<QComboBox>(&window, "commandCombo")->isEnabled());
    QVERIFY(child<QCheckBox>(&window, "simulationCheck")->isVisible());
    QVERIFY(!window.tracePanel()->isVisible());
    QCOMPARE(text(&window, "answerLabel"), QString());
    QCOMPARE(window.programFolder(), QDir::currentPath() + "/");
    const QFont display = child<QLabel>(&window, "revLabel")->font();
    QCOMPARE(display.family(), QString("Arial"));
    QCOMPARE(display.pixelSize(), 16);
    QVERIFY(display.bold());
}

void TestSpelmarDlg::settingsPersistWhenOpenFails()
{
    {
        ScriptedPrompt prompt;
        CSpelmarDlg window(&prompt);
        window.show();
        connectWindow(window, "/dev/no-such-orbo", "38400", false);
        QCOMPARE(text(&window, "answerLabel"), QString("!! Can not open comport /dev/no-such-orbo!"));
        QCOMPARE(child<QPushButton>(&window, "connectButton")->text(), QString("Connect"));
        QVERIFY(child<QComboBox>(&window, "portCombo")->isEnabled());
    }
    ScriptedPrompt prompt;
    CSpelmarDlg again(&prompt);
    QCOMPARE(child<QComboBox>(&again, "portCombo")->currentText(), QString("/dev/no-such-orbo"));
    QCOMPARE(child<QComboBox>(&again, "baudCombo")->currentText(), QString("38400"));
}

void TestSpelmarDlg::simulatedConnectAndDisconnect()
{
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, "1", "auto", true);
    QCOMPARE(text(&window, "answerLabel"), QString(">> OK, ready to operate!"));
    QCOMPARE(text(&window, "modelLabel"), QString("100 Torr"));
    QCOMPARE(text(&window, "revLabel"), QString("1.02.21"));
    QCOMPARE(text(&window, "serialLabel"), QString("3428 133"));
    QCOMPARE(text(&window, "partLabel"), QString("Simulation Mode"));
    auto *list = child<QComboBox>(&window, "commandListCombo");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->itemText(0), QString("Simulation mode"));
    QVERIFY(list->isEnabled());
    QVERIFY(child<CCWButton>(&window, "connectedLed")->value());
    QVERIFY(window.tracePanel()->isVisible());
    QVERIFY(!child<QCheckBox>(&window, "simulationCheck")->isVisible());
    QCOMPARE(child<QPushButton>(&window, "connectButton")->text(), QString("Disconnect"));

    QTest::mouseClick(child<QPushButton>(&window, "connectButton"), Qt::LeftButton);
    QCOMPARE(text(&window, "answerLabel"), QString(">> OK! Device disconnected."));
    QCOMPARE(text(&window, "modelLabel"), QString());
    QCOMPARE(list->count(), 0);
    QVERIFY(!child<CCWButton>(&window, "connectedLed")->value());
    QVERIFY(!window.tracePanel()->isVisible());
    QVERIFY(child<QCheckBox>(&window, "simulationCheck")->isVisible());
    QVERIFY(!window.session().port().isSimulated());
}

void TestSpelmarDlg::connectByAutoSearch()
{
    OrboSim sim({"--baud", "19200"});
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, sim.path(), "auto", false);
    QCOMPARE(text(&window, "answerLabel"), QString(">> OK, ready to operate!"));
    QCOMPARE(text(&window, "modelLabel"), QString("1000 mbar"));
    QCOMPARE(window.session().config().baudRate, 19200u);
    QVERIFY(!child<QComboBox>(&window, "portCombo")->isEnabled());
    // The first entry with a colon fills command and help.
    auto *list = child<QComboBox>(&window, "commandListCombo");
    const int ssv = list->findText("SSV: ", Qt::MatchStartsWith);
    QVERIFY(ssv >= 0);
    list->setCurrentIndex(ssv);
    emit list->activated(ssv);
    QCOMPARE(child<QComboBox>(&window, "commandCombo")->currentText(), QString("SSV"));
    QCOMPARE(text(&window, "helpLabel"), QString("Show software version"));
}

void TestSpelmarDlg::bootStateFailure()
{
    OrboSim sim({"--boot"});
    QVERIFY(!sim.path().isEmpty());
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, sim.path(), "9600", false);
    QCOMPARE(text(&window, "answerLabel"),
             QString("!! Fail ! No answer from ORBO. Check the device is not in boot state. "
                     "Else wait one minute"));
    QVERIFY(!window.session().port().isOpen());
    QVERIFY(!child<QPushButton>(&window, "sendButton")->isEnabled());
    QCOMPARE(child<QPushButton>(&window, "connectButton")->text(), QString("Connect"));
    QVERIFY(!window.tracePanel()->isVisible());
    QVERIFY(child<QCheckBox>(&window, "simulationCheck")->isVisible());
}

void TestSpelmarDlg::sendWhileDisconnected()
{
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.OnSend();
    QCOMPARE(text(&window, "answerLabel"), QString(">> not connected to ORBO"));
}

void TestSpelmarDlg::singleSendAndHistory()
{
    OrboSim sim;
    QVERIFY(!sim.path().isEmpty());
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, sim.path(), "9600", false);
    auto *command = child<QComboBox>(&window, "commandCombo");
    for (const char *sent : {"SNU", "XYZ", "PAN"}) {
        command->setEditText(sent);
        QTest::mouseClick(child<QPushButton>(&window, "sendButton"), Qt::LeftButton);
    }
    QCOMPARE(text(&window, "answerLabel"), QString("ORBO Sim 100"));
    QCOMPARE(command->count(), 3);
    QCOMPARE(command->itemText(0), QString("PAN"));
    QCOMPARE(command->itemText(2), QString("SNU"));
    // Up and down recall earlier commands.
    command->setFocus();
    QTest::keyClick(command, Qt::Key_Down);
    QCOMPARE(command->currentText(), QString("XYZ"));
}

void TestSpelmarDlg::continuousSending()
{
    OrboSim sim;
    QVERIFY(!sim.path().isEmpty());
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, sim.path(), "9600", false);
    auto *send = child<QPushButton>(&window, "sendButton");
    child<QComboBox>(&window, "commandCombo")->setEditText("UPT");
    child<QCheckBox>(&window, "continuousCheck")->setChecked(true);
    child<QLabel>(&window, "answerLabel")->clear();
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(send->text(), QString("Stop"));
    QVERIFY(!child<QComboBox>(&window, "commandCombo")->isEnabled());
    QVERIFY(window.isContinuousSending());
    // The answer line fills without any further click.
    QTRY_VERIFY_WITH_TIMEOUT(!text(&window, "answerLabel").isEmpty(), 20000);
    bool ok = false;
    text(&window, "answerLabel").toInt(&ok);
    QVERIFY(ok);

    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(send->text(), QString("Send"));
    QVERIFY(child<QComboBox>(&window, "commandCombo")->isEnabled());
    QVERIFY(!window.isContinuousSending());

    // Disconnect also ends continuous sending.
    QTest::mouseClick(send, Qt::LeftButton);
    QVERIFY(window.isContinuousSending());
    QTest::mouseClick(child<QPushButton>(&window, "connectButton"), Qt::LeftButton);
    QVERIFY(!window.isContinuousSending());
    QCOMPARE(send->text(), QString("Send"));
    QCOMPARE(text(&window, "answerLabel"), QString(">> OK! Device disconnected."));
}

void TestSpelmarDlg::enterDoesNotClose()
{
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    connectWindow(window, "1", "9600", true);
    auto *command = child<QComboBox>(&window, "commandCombo");
    command->setFocus();
    QTest::keyClick(command, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_Enter);
    QVERIFY(window.isVisible());
    QVERIFY(window.session().port().isOpen());
}

void TestSpelmarDlg::escWhileTracing_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Esc") << false;
    QTest::newRow("close box") << true;
}

void TestSpelmarDlg::escWhileTracing()
{
    QFETCH(bool, closeBox);
    OrboSim sim;
    QVERIFY(!sim.path().isEmpty());
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    connectWindow(window, sim.path(), "9600", false);
    CTraceDlg *trace = window.tracePanel();
    QSignalSpy samples(trace, &CTraceDlg::sampleShown);
    trace->OnTraceStartStop();
    QVERIFY(trace->isTracing());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() > 0, 30000);

    if (closeBox)
        window.close();
    else
        QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QVERIFY(!trace->isTracing());
    QVERIFY(!window.session().port().isOpen());
}

void TestSpelmarDlg::continueLoggingQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("stillLogging");
    QTest::newRow("yes") << int(IPrompt::Answer::Yes) << true;
    QTest::newRow("no") << int(IPrompt::Answer::No) << false;
}

void TestSpelmarDlg::continueLoggingQuestion()
{
    QFETCH(int, answer);
    QFETCH(bool, stillLogging);
    QTemporaryDir files;
    const std::string path = (files.path() + "/trace.csv").toStdString();

    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, "4", "9600", true);
    CTraceDlg *trace = window.tracePanel();
    trace->setFileChooser([path](const std::string &, const std::string &) { return path; });
    trace->ToggleFileLog();
    QVERIFY(trace->isLogging());
    QVERIFY(prompt.asked.empty());

    QTest::mouseClick(child<QPushButton>(&window, "connectButton"), Qt::LeftButton);
    QVERIFY(trace->isLogging()); // a disconnect keeps the log
    prompt.answers.push_back(static_cast<IPrompt::Answer>(answer));
    child<QCheckBox>(&window, "simulationCheck")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(&window, "connectButton"), Qt::LeftButton);
    QCOMPARE(prompt.asked.size(), size_t(1));
    QCOMPARE(prompt.asked[0],
             "Do you want to continue logging data into the file \n" + path + " ?");
    QCOMPARE(trace->isLogging(), stillLogging);

    // The report's header names the port as typed.
    if (stillLogging)
        trace->ToggleFileLog();
    QFile csv(QString::fromStdString(path));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray content = csv.readAll();
    QVERIFY(content.startsWith("Report for;Simulation Mode\r\nSerial;3428 133\r\n"));
    QVERIFY(content.contains("\r\nComport;4\r\n"));
}

void TestSpelmarDlg::neverSmallerThanAtStart()
{
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize start = window.size();
    QCOMPARE(window.minimumSize(), start);
    window.resize(start.width() - 100, start.height() - 100);
    QCOMPARE(window.size(), start);
    window.resize(start.width() + 200, start.height() + 150);
    QTRY_COMPARE(window.size(), QSize(start.width() + 200, start.height() + 150));
    // The trace panel follows the window.
    QCOMPARE(window.tracePanel()->geometry().right(), window.width() - 5);
}

void TestSpelmarDlg::aboutBox()
{
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    QCOMPARE(window.contextMenuPolicy(), Qt::ActionsContextMenu);
    QVERIFY(window.actions().contains(window.aboutAction()));
    QCOMPARE(window.aboutAction()->text(), QString::fromUtf8("Inf&o \xc3\xbc" "ber Dunvik..."));
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (box) {
            title = box->windowTitle();
            box->close();
        }
    });
    window.aboutAction()->trigger();
    QCOMPARE(title, QString::fromUtf8("Info \xc3\xbc" "ber Dunvik"));
}

void TestSpelmarDlg::unwritableSettings()
{
    // The settings folder's place is taken by a file: nothing can be saved.
    QFile blocker(m_config.path() + "/" + SettingsKeys::kOrganisation);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ScriptedPrompt prompt;
    CSpelmarDlg window(&prompt);
    window.show();
    connectWindow(window, "2", "9600", true);
    QVERIFY(window.session().port().isOpen());
    QVERIFY(text(&window, "answerLabel").startsWith(">> OK, ready to operate!"));
    QVERIFY(text(&window, "answerLabel").contains("could not be saved"));
    QVERIFY(QFile::remove(m_config.path() + "/" + SettingsKeys::kOrganisation));
}

QTEST_MAIN(TestSpelmarDlg)
#include "tst_spelmardlg.moc"
