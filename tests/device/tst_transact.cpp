#include "devicesession.h"
#include "ptypeer.h"

#include <QTest>

#include <cstdlib>
#include <thread>

namespace {

// The read time-out of a connected session; it also keeps the scripted
// device in time on a loaded machine.
constexpr uint32_t kConnectedTimeout = 2000;

void connectSession(CDeviceSession &session, const std::string &path, uint32_t readTimeout)
{
    SerialConfig &config = session.config();
    config.port = path;
    config.separator = '\n';
    config.terminator = '\n';
    config.inQueueSize = 4096;
    config.readTimeout = readTimeout;
}

std::string echoBlock(const std::string &command)
{
    return command + "\r\n\r\n";
}

} // namespace

class TestTransact : public QObject
{
    Q_OBJECT

private slots:
    void exchange_data();
    void exchange();
    void timeoutRunsFromLastByte();
    void secondCallerWaits();
    void commandLength_data();
    void commandLength();
    void simulated_data();
    void simulated();
    void portNotOpen();
    void deviceGone();
};

void TestTransact::exchange_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("echo");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("sent");

    const QByteArray flood(2015, 'a');
    const QByteArray kept(2013, 'a');

    QTest::newRow("two-line echo") << "X" << QByteArray("X\r\n\r\n12.3\r\n") << 5
                                   << QByteArray("X\r\n") << QByteArray("12.3\r") << QByteArray("X\n\n");
    QTest::newRow("command trimmed") << " \tSSV \r\n" << QByteArray("SSV\r\n\r\n1.02.21\r\n") << 8
                                     << QByteArray("SSV\r\n") << QByteArray("1.02.21\r") << QByteArray("SSV\n\n");
    QTest::newRow("LF line ends") << "SSV" << QByteArray("SSV\n\n\n") << 0
                                  << QByteArray("SSV") << QByteArray("") << QByteArray("SSV\n\n");
    QTest::newRow("back-to-back LFs") << "X" << QByteArray("\n\n12.3\r\n") << -1
                                      << QByteArray("") << QByteArray("12.3\r") << QByteArray("X\n\n");
    QTest::newRow("Can") << "XYZ" << QByteArray("XYZ\r\n\r\nCan not execute command\r\n") << -2
                         << QByteArray("XYZ\r\n") << QByteArray("Can not execute command\r")
                         << QByteArray("XYZ\n\n");
    QTest::newRow("can, lower case") << "XYZ" << QByteArray("XYZ\r\n\r\ncan do\r\n") << 7
                                     << QByteArray("XYZ\r\n") << QByteArray("can do\r") << QByteArray("XYZ\n\n");
    QTest::newRow("silence") << "SSV" << QByteArray() << -1 << QByteArray() << QByteArray("Timeout!")
                             << QByteArray("SSV\n\n");
    QTest::newRow("echo, then silence") << "SSV" << QByteArray("SSV\r\n\r\n1.0") << -1
                                        << QByteArray("SSV\r\n") << QByteArray("Timeout!") << QByteArray("SSV\n\n");
    QTest::newRow("HLP ends by silence")
        << "HLP" << QByteArray("HLP\r\n\r\nSSV: Show version\r\nPAN: Show part\r\n") << -1
        << QByteArray("HLP\r\n") << QByteArray("Timeout!") << QByteArray("HLP\n\n");
    QTest::newRow("HLP cut off") << "HLP" << echoBlock("HLP").c_str() + flood << 2014
                                 << QByteArray("HLP\r\n") << kept << QByteArray("HLP\n\n");
    QTest::newRow("flooded reply") << "X" << echoBlock("X").c_str() + flood << 2014 << QByteArray("X\r\n")
                                   << kept << QByteArray("X\n\n");
    QTest::newRow("flood without echo") << "X" << flood << -1 << QByteArray() << kept << QByteArray("X\n\n");
}

void TestTransact::exchange()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, answer);
    QFETCH(int, result);
    QFETCH(QByteArray, echo);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, sent);

    PtyPeer peer;
    QVERIFY(peer.isValid());
    CDeviceSession session;
    connectSession(session, peer.path(), kConnectedTimeout);
    QCOMPARE(session.port().Open(session.config()), 1);

    // Stale input is thrown away before the command goes out.
    QVERIFY(peer.send("stale\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(session.port().bytesWaiting(), 7, 10000);

    peer.serve({answer.toStdString()});
    std::string gotEcho = "old", gotReply = "old";
    const std::string original = command.toStdString();
    std::string commandText = original;
    QCOMPARE(session.Transact(commandText, gotEcho, gotReply), result);
    QCOMPARE(commandText, original);
    QCOMPARE(QByteArray::fromStdString(gotEcho), echo);
    QCOMPARE(QByteArray::fromStdString(gotReply), reply);
    std::vector<std::string> received = peer.finish();
    QCOMPARE(received.size(), size_t(1));
    QCOMPARE(QByteArray::fromStdString(received[0]), sent);

    // The lock was released: the next exchange goes through.
    peer.serve({"SSV\r\n\r\n1.02.21\r\n"});
    QCOMPARE(session.Transact("SSV", gotEcho, gotReply), 8);
    QCOMPARE(gotReply, std::string("1.02.21\r"));
    peer.finish();
}

void TestTransact::timeoutRunsFromLastByte()
{
    // Every byte comes well within the read time-out of the one before,
    // though the whole answer takes longer than one time-out.
    PtyPeer peer;
    CDeviceSession session;
    connectSession(session, peer.path(), kConnectedTimeout);
    QCOMPARE(session.port().Open(session.config()), 1);
    peer.serve({"X\r\n\r\n12.3\r\n"}, 0, 250);
    std::string echo, reply;
    QCOMPARE(session.Transact("X", echo, reply), 5);
    QCOMPARE(reply, std::string("12.3\r"));
    peer.finish();
}

void TestTransact::secondCallerWaits()
{
    PtyPeer peer;
    CDeviceSession session;
    connectSession(session, peer.path(), kConnectedTimeout);
    QCOMPARE(session.port().Open(session.config()), 1);
    peer.serve({"A\r\n\r\nfirst\r\n", "B\r\n\r\nsecond\r\n"}, 500);

    std::string echoA, replyA, echoB, replyB;
    int resultA = 0, resultB = 0;
    std::thread first([&] { resultA = session.Transact("A", echoA, replyA); });
    QTRY_VERIFY_WITH_TIMEOUT(peer.holding(), 10000);
    // The first exchange holds the lock while the device keeps it waiting.
    std::thread second([&] { resultB = session.Transact("B", echoB, replyB); });
    first.join();
    second.join();

    QCOMPARE(resultA, 6);
    QCOMPARE(replyA, std::string("first\r"));
    QCOMPARE(resultB, 7);
    QCOMPARE(replyB, std::string("second\r"));
    std::vector<std::string> received = peer.finish();
    QCOMPARE(received, (std::vector<std::string>{"A\n\n", "B\n\n"}));
}

void TestTransact::commandLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("fits") << CDeviceSession::kExchangeBufferSize - 1 << true;
    QTest::newRow("one too many") << CDeviceSession::kExchangeBufferSize << false;
    QTest::newRow("far too long") << 100000 << false;
}

void TestTransact::commandLength()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);

    PtyPeer peer;
    CDeviceSession session;
    connectSession(session, peer.path(), kConnectedTimeout);
    QCOMPARE(session.port().Open(session.config()), 1);
    const std::string command(static_cast<size_t>(length), 'C');
    std::string echo, reply;
    if (accepted) {
        peer.serve({echoBlock("C") + "ok\r\n"});
        QCOMPARE(session.Transact(command, echo, reply), 3);
        std::vector<std::string> received = peer.finish();
        QCOMPARE(received.size(), size_t(1));
        QCOMPARE(received[0], command + "\n\n");
    } else {
        QCOMPARE(session.Transact(command, echo, reply), -1);
        QCOMPARE(reply, std::string("Command too long!"));
        QVERIFY(echo.empty());
        // Nothing was written: the next command is the first thing the device sees.
        peer.serve({echoBlock("SSV") + "1.02.21\r\n"});
        QCOMPARE(session.Transact("SSV", echo, reply), 8);
        QCOMPARE(peer.finish(), std::vector<std::string>{"SSV\n\n"});
    }
}

void TestTransact::simulated_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reply"); // empty: a reading near 70

    QTest::newRow("SSV") << "SSV" << 16 << "1.02.21";
    QTest::newRow("PAN") << "PAN" << 16 << "Simulation Mode";
    QTest::newRow("SNU") << "SNU" << 16 << "3428 133";
    QTest::newRow("SPR") << "SPR" << 16 << "E2";
    QTest::newRow("SFS") << " SFS\r\n" << 16 << "1.0";
    QTest::newRow("AUN") << "AUN" << 16 << "Torr";
    QTest::newRow("lower case") << "spr" << 16 << "";
    QTest::newRow("other") << "PRE" << 16 << "";
    QTest::newRow("empty") << "" << -1 << "";
}

void TestTransact::simulated()
{
    QFETCH(QString, command);
    QFETCH(int, result);
    QFETCH(QString, reply);

    CDeviceSession session;
    session.port().setSimulated(true);
    session.setFullScale(100.0);
    connectSession(session, "/dev/no-such-serial-port", 2000);
    QCOMPARE(session.port().Open(session.config()), 1);

    std::string echo, got;
    QCOMPARE(session.Transact(command.toStdString(), echo, got), result);
    if (result == 16)
        QCOMPARE(QString::fromStdString(echo), command.trimmed());
    if (!reply.isEmpty()) {
        QCOMPARE(QString::fromStdString(got), reply);
    } else {
        char *end = nullptr;
        const double value = std::strtod(got.c_str(), &end);
        QVERIFY2(end && *end == '\0' && !got.empty(), got.c_str());
        QVERIFY(value >= 70.0 && value <= 70.005);
    }
}

void TestTransact::portNotOpen()
{
    CDeviceSession session;
    connectSession(session, "/dev/no-such-serial-port", 100);
    QCOMPARE(session.port().Open(session.config()), -1);
    std::string echo, reply;
    QCOMPARE(session.Transact("SSV", echo, reply), -1);
    QCOMPARE(reply, std::string("Timeout!"));
}

void TestTransact::deviceGone()
{
    PtyPeer peer;
    CDeviceSession session;
    connectSession(session, peer.path(), 300);
    QCOMPARE(session.port().Open(session.config()), 1);
    peer.closeMaster();
    std::string echo, reply;
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(session.Transact("SSV", echo, reply), -1);
        QCOMPARE(reply, std::string("Timeout!"));
    }
    QVERIFY(session.LoadCommandList().empty());
}

QTEST_GUILESS_MAIN(TestTransact)
#include "tst_transact.moc"
