#include "commandconsole.h"
#include "deviceconnection.h"
#include "devicesession.h"
#include "orbosim.h"
#include "ptypeer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <string>
#include <vector>

using Result = CDeviceConnection::Result;
Q_DECLARE_METATYPE(CDeviceConnection::Result)

namespace {

// Records what a window would show.
struct Recorder
{
    std::vector<std::string> answers;
    int opened = 0;
    int openFailed = 0;
    int closed = 0;

    void attach(CDeviceConnection &connection)
    {
        CDeviceConnection::Callbacks callbacks;
        callbacks.answer = [this](const std::string &text) { answers.push_back(text); };
        callbacks.linkOpened = [this](bool ok) { ok ? ++opened : ++openFailed; };
        callbacks.linkClosed = [this] { ++closed; };
        connection.setCallbacks(std::move(callbacks));
    }
    std::string last() const { return answers.empty() ? std::string() : answers.back(); }
};

} // namespace

class TestDeviceConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connectToSimulator_data();
    void connectToSimulator();
    void connectFailures_data();
    void connectFailures();
    void singleSendRetriesOnce();
    void sendToSilentDeviceShowsEcho();
    void deviceHangsUp();
    void repeatedSendHasNoSecondTry();
    void floodingDeviceIsCutOff();
    void history_data();
    void history();

private:
    QTemporaryDir m_config;
};

void TestDeviceConnection::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
}

void TestDeviceConnection::connectToSimulator_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("openings");
    QTest::newRow("fixed 19200") << "19200" << 1;
    // 9600 and 57600 stay silent; 19200 answers the probe.
    QTest::newRow("auto search") << "auto" << 3;
}

void TestDeviceConnection::connectToSimulator()
{
    QFETCH(QString, baud);
    QFETCH(int, openings);
    OrboSim sim({"--baud", "19200"});
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));

    CDeviceSession session;
    CDeviceConnection connection(session);
    Recorder recorder;
    recorder.attach(connection);
    QCOMPARE(connection.Connect(sim.path().toStdString(), baud.toStdString(), false),
             Result::Connected);
    QCOMPARE(recorder.opened, openings);
    QCOMPARE(recorder.closed, openings - 1);
    QCOMPARE(session.config().baudRate, 19200u);
    QCOMPARE(session.config().readTimeout, 2000u);
    QCOMPARE(recorder.last(), std::string(">> OK, ready to operate!"));
    const std::string opened = ">> Connection to ORBO on comport " + sim.path().toStdString()
                               + " successfull!";
    QVERIFY(std::find(recorder.answers.begin(), recorder.answers.end(), opened)
            != recorder.answers.end());

    QCOMPARE(connection.revision(), std::string("1.02.21"));
    QCOMPARE(connection.part(), std::string("ORBO Sim 100"));
    QCOMPARE(connection.serial(), std::string("4711 042"));
    QCOMPARE(connection.model(), std::string("1000 mbar"));
    QCOMPARE(session.fullScale(), 1000.0);
    QVERIFY(connection.commandList().size() > 5);
    const auto &list = connection.commandList();
    QVERIFY(std::any_of(list.begin(), list.end(), [](const std::string &entry) {
        return entry.rfind("SSV: ", 0) == 0;
    }));

    QVERIFY(connection.Disconnect());
    QVERIFY(!connection.isOpen());
    QVERIFY(connection.revision().empty());
}

void TestDeviceConnection::connectFailures_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("port");  // empty: the simulator's
    QTest::addColumn<QString>("baud");
    QTest::addColumn<Result>("result");
    QTest::addColumn<QString>("message");

    const QString noAnswer =
        "!! Fail ! No answer from ORBO. Try again after the device has been started.";
    QTest::newRow("no such port") << QStringList() << "/dev/no-such-orbo" << "9600"
                                  << Result::OpenFailed
                                  << "!! Can not open comport /dev/no-such-orbo!";
    QTest::newRow("garbage port") << QStringList() << "COM#;x" << "auto" << Result::OpenFailed
                                  << "!! Can not open comport COM#;x!";
    QTest::newRow("silent fixed") << QStringList{"--silent"} << "" << "9600" << Result::NoAnswer
                                  << noAnswer;
    QTest::newRow("silent auto") << QStringList{"--silent"} << "" << "auto" << Result::NoAnswer
                                 << noAnswer;
    QTest::newRow("wrong fixed baud") << QStringList{"--baud", "19200"} << "" << "38400"
                                      << Result::NoAnswer << noAnswer;
    QTest::newRow("boot state") << QStringList{"--boot"} << "" << "9600" << Result::BootState
                                << "!! Fail ! No answer from ORBO. Check the device is not in "
                                   "boot state. Else wait one minute";
}

void TestDeviceConnection::connectFailures()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, port);
    QFETCH(QString, baud);
    QFETCH(Result, result);
    QFETCH(QString, message);

    std::unique_ptr<OrboSim> sim;
    if (port.isEmpty()) {
        sim = std::make_unique<OrboSim>(simArgs);
        QVERIFY2(!sim->path().isEmpty(), qPrintable(sim->errorString()));
        port = sim->path();
    }
    CDeviceSession session;
    CDeviceConnection connection(session);
    Recorder recorder;
    recorder.attach(connection);
    QCOMPARE(connection.Connect(port.toStdString(), baud.toStdString(), false), result);
    QCOMPARE(QString::fromStdString(recorder.last()), message);
    QVERIFY(!connection.isOpen());
    QVERIFY(connection.commandList().empty() || result != Result::BootState);
}

void TestDeviceConnection::singleSendRetriesOnce()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    CDeviceSession session;
    CDeviceConnection connection(session);
    QVERIFY(connection.OpenLink(false) == false); // no port text yet
    QCOMPARE(connection.OpenPort(peer.path(), "9600", false), Result::Connected);

    // The first exchange goes unanswered, the second is answered.
    peer.serve({"", "PRE\r\n\r\n12.3\r\n"});
    CCommandConsole console(session);
    const auto outcome = console.Send("PRE");
    const auto received = peer.finish();
    QCOMPARE(received.size(), size_t(2));
    QCOMPARE(outcome.attempts, 2);
    QVERIFY(outcome.answered);
    QCOMPARE(outcome.text, std::string("12.3"));
    connection.Disconnect();
}

void TestDeviceConnection::sendToSilentDeviceShowsEcho()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    CDeviceSession session;
    CDeviceConnection connection(session);
    QCOMPARE(connection.OpenPort(peer.path(), "9600", false), Result::Connected);
    // Both attempts get the echo block and then nothing.
    peer.serve({"STA\r\n\r\n", "STA\r\n\r\n"});
    CCommandConsole console(session);
    const auto outcome = console.Send("STA");
    peer.finish();
    QCOMPARE(outcome.attempts, 2);
    QVERIFY(!outcome.answered);
    QCOMPARE(outcome.text, std::string("STA -> no answer!"));
    connection.Disconnect();
}

void TestDeviceConnection::deviceHangsUp()
{
    auto sim = std::make_unique<OrboSim>();
    QVERIFY(!sim->path().isEmpty());
    CDeviceSession session;
    CDeviceConnection connection(session);
    QCOMPARE(connection.Connect(sim->path().toStdString(), "9600", false), Result::Connected);
    sim.reset(); // the device vanishes
    CCommandConsole console(session);
    const auto outcome = console.Send("PRE");
    QVERIFY(!outcome.answered);
    QVERIFY(QString::fromStdString(outcome.text).endsWith(" -> no answer!"));
    QVERIFY(connection.Disconnect());
    QVERIFY(!connection.isOpen());
}

void TestDeviceConnection::repeatedSendHasNoSecondTry()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    CDeviceSession session;
    CDeviceConnection connection(session);
    QCOMPARE(connection.OpenPort(peer.path(), "9600", false), Result::Connected);
    peer.serve({"XYZ\r\n\r\nCan not execute command\r\n"});
    CCommandConsole console(session);
    const auto outcome = console.SendRepeated("XYZ");
    peer.finish();
    QCOMPARE(outcome.attempts, 1);
    QCOMPARE(outcome.result, -2);
    // A "Can..." reply in continuous sending shows the echo, as any failure.
    QCOMPARE(outcome.text, std::string("XYZ -> no answer!"));
    connection.Disconnect();
}

void TestDeviceConnection::floodingDeviceIsCutOff()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    CDeviceSession session;
    CDeviceConnection connection(session);
    QCOMPARE(connection.OpenPort(peer.path(), "9600", false), Result::Connected);
    // A reply line far longer than the exchange buffer.
    peer.serve({"PRE\r\n\r\n" + std::string(5000, '7') + "\r\n"});
    CCommandConsole console(session);
    const auto outcome = console.Send("PRE");
    peer.finish();
    QVERIFY(outcome.answered);
    QCOMPARE(outcome.attempts, 1);
    QCOMPARE(outcome.result, CDeviceSession::kMaxCollected);
    QVERIFY(outcome.text.size() < size_t(CDeviceSession::kExchangeBufferSize));
    QCOMPARE(outcome.text.find_first_not_of('7'), std::string::npos);
    connection.Disconnect();
}

void TestDeviceConnection::history_data()
{
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("newest first") << QStringList{"SSV", "PAN", "PRE"}
                                  << QStringList{"PRE", "PAN", "SSV"};
    QTest::newRow("repeat moves to front") << QStringList{"SSV", "PAN", "SSV"}
                                           << QStringList{"SSV", "PAN"};
    QTest::newRow("blank ignored") << QStringList{"SSV", "  ", ""} << QStringList{"SSV"};
    QStringList many;
    QStringList kept;
    for (int i = 0; i < 25; ++i)
        many << QString("C%1").arg(i);
    for (int i = 24; i >= 5; --i)
        kept << QString("C%1").arg(i);
    QTest::newRow("twenty kept") << many << kept;
}

void TestDeviceConnection::history()
{
    QFETCH(QStringList, sent);
    QFETCH(QStringList, expected);
    CDeviceSession session;
    CCommandConsole console(session);
    for (const QString &command : sent)
        console.remember(command.toStdString());
    QStringList actual;
    for (const std::string &command : console.history())
        actual << QString::fromStdString(command);
    QCOMPARE(actual, expected);
}

QTEST_GUILESS_MAIN(TestDeviceConnection)
#include "tst_deviceconnection.moc"
