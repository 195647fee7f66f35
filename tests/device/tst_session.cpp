#include "commandcatalogue.h"
#include "devicesession.h"
#include "orbosim.h"
#include "ptypeer.h"

#include <QTest>

#include <atomic>
#include <thread>

namespace {

// The read time-out of a connected session; it also keeps the scripted
// device in time on a loaded machine.
constexpr uint32_t kConnectedTimeout = 2000;

QStringList toList(const std::vector<std::string> &entries)
{
    QStringList list;
    for (const std::string &entry : entries)
        list << QString::fromStdString(entry);
    return list;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void exchange_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("gapMs"); // between the answer's bytes
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("echo");
        QTest::addColumn<QString>("reply");

        const QString flood(2015, 'a'), longest(CDeviceSession::kExchangeBufferSize - 1, 'C');
        QTest::newRow("two-line echo") << "X"
                                       << "X\r\n\r\n12.3\r\n"
                                       << 0 << 5 << "X\r\n"
                                       << "12.3\r";
        // Every byte comes well within the read time-out of the one before,
        // though the whole answer takes longer than one time-out.
        QTest::newRow("time-out from last byte") << "X"
                                                 << "X\r\n\r\n12.3\r\n"
                                                 << 250 << 5 << "X\r\n"
                                                 << "12.3\r";
        QTest::newRow("command trimmed") << " \tSSV \r\n"
                                         << "SSV\r\n\r\n1.0\r\n"
                                         << 0 << 4 << "SSV\r\n"
                                         << "1.0\r";
        QTest::newRow("LF line ends") << "SSV"
                                      << "SSV\n\n\n"
                                      << 0 << 0 << "SSV"
                                      << "";
        QTest::newRow("back-to-back LFs") << "X"
                                          << "\n\n12.3\r\n"
                                          << 0 << -1 << ""
                                          << "12.3\r";
        QTest::newRow("Can") << "XYZ"
                             << "XYZ\r\n\r\nCan not execute command\r\n"
                             << 0 << -2 << "XYZ\r\n"
                             << "Can not execute command\r";
        QTest::newRow("silence") << "SSV"
                                 << "" << 0 << -1 << ""
                                 << "Timeout!";
        QTest::newRow("HLP ends by silence") << "HLP"
                                             << "HLP\r\n\r\nSSV: Show version\r\nPAN: Show part\r\n"
                                             << 0 << -1 << "HLP\r\n"
                                             << "Timeout!";
        QTest::newRow("flooded reply") << "X"
                                       << "X\r\n\r\n" + flood << 0 << 2014 << "X\r\n"
                                       << flood.left(2013);
        QTest::newRow("longest command") << longest << "C\r\n\r\nok\r\n"
                                         << 0 << 3 << "C\r\n"
                                         << "ok\r";
        QTest::newRow("command too long") << longest + "C"
                                          << "" << 0 << -1 << ""
                                          << "Command too long!";
    }
    void exchange()
    {
        QFETCH(QString, command);
        QFETCH(QString, answer);
        QFETCH(int, gapMs);
        QFETCH(int, result);
        QFETCH(QString, echo);
        QFETCH(QString, reply);
        const bool refused = reply == "Command too long!";

        PtyPeer peer;
        QVERIFY(peer.isValid());
        CDeviceSession session;
        session.config() = linkConfig(peer.path(), kConnectedTimeout);
        QCOMPARE(session.port().Open(session.config()), 1);
        // Stale input is thrown away before the command goes out.
        QVERIFY(peer.send("stale\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(session.port().bytesWaiting(), 7, 10000);

        if (!refused)
            peer.serve({answer.toStdString()}, 0, gapMs);
        std::string gotEcho = "old", gotReply = "old";
        QCOMPARE(session.Transact(command.toStdString(), gotEcho, gotReply), result);
        QCOMPARE(QString::fromStdString(gotEcho), echo);
        QCOMPARE(QString::fromStdString(gotReply), reply);
        peer.finish();

        // The lock was released: the next exchange goes through, and the
        // device saw nothing but the commands, trimmed and ending with LF.
        peer.serve({"SSV\r\n\r\n1.02.21\r\n"});
        QCOMPARE(session.Transact("SSV", gotEcho, gotReply), 8);
        QCOMPARE(gotReply, std::string("1.02.21\r"));
        std::vector<std::string> sent{"SSV\n\n"};
        if (!refused)
            sent.insert(sent.begin(), command.trimmed().toStdString() + "\n\n");
        QCOMPARE(peer.finish(), sent);
    }

    void secondCallerWaits()
    {
        PtyPeer peer;
        CDeviceSession session;
        session.config() = linkConfig(peer.path(), kConnectedTimeout);
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
        QCOMPARE(peer.finish(), (std::vector<std::string>{"A\n\n", "B\n\n"}));
    }

    void busLock()
    {
        // Many threads, one at a time inside.
        CBusMutex mutex;
        std::atomic<int> inside{0}, overlaps{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 25; ++i)
                    if (mutex.Lock(60000, 0)) {
                        overlaps += ++inside > 1 ? 1 : 0;
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        --inside;
                        mutex.Unlock();
                    }
            });
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(overlaps.load(), 0);
        // Releasing a free lock is only reported; the lock still works. Held
        // seconds are whole calendar seconds: a zero time-out is passed once
        // the holder has held the lock into the next second.
        mutex.Unlock();
        QVERIFY(mutex.Lock(10000, 0) && mutex.Lock(0, 0));
        mutex.Unlock();
        QVERIFY(!mutex.isLocked());
    }

    void simulated_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("reply"); // empty: a reading near 70
        QTest::newRow("SSV") << "SSV" << 16 << "1.02.21";
        QTest::newRow("SPR, trimmed") << " SPR\r\n" << 16 << "E2";
        QTest::newRow("other") << "PRE" << 16 << "";
        QTest::newRow("empty") << "" << -1 << "";
    }
    void simulated()
    {
        QFETCH(QString, command);
        QFETCH(int, result);
        QFETCH(QString, reply);
        CDeviceSession session;
        session.port().setSimulated(true);
        session.setFullScale(100.0);
        QCOMPARE(session.port().Open(session.config()), 1);
        std::string echo, got;
        QCOMPARE(session.Transact(command.toStdString(), echo, got), result);
        QCOMPARE(QString::fromStdString(echo), result == 16 ? command.trimmed() : QString());
        bool number = false;
        const double value = QString::fromStdString(got).toDouble(&number);
        QVERIFY2(reply.isEmpty() ? number && value >= 70.0 && value <= 70.005 : reply == got.c_str(),
                 got.c_str());
        QCOMPARE(toList(session.LoadCommandList()), QStringList{"Simulation mode"});
    }

    void noDevice_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("port not open") << false;
        QTest::newRow("device gone") << true;
    }
    void noDevice()
    {
        QFETCH(bool, hangUp);
        PtyPeer peer;
        CDeviceSession session;
        session.config() = linkConfig(hangUp ? peer.path() : "/dev/no-such-serial-port", 300);
        QCOMPARE(session.port().Open(session.config()), hangUp ? 1 : -1);
        peer.closeMaster();
        std::string echo, reply;
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(session.Transact("SSV", echo, reply), -1);
            QCOMPARE(reply, std::string("Timeout!"));
        }
        QVERIFY(session.LoadCommandList().empty());
    }

    void parseListing_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("LF listing") << "HLP\n\nSSV: Show version\nPAN: Show part\n"
                                    << QStringList{"SSV: Show version", "PAN: Show part"};
        QTest::newRow("CR LF: echo skipped, CR kept") << "HLP\r\n\r\nSSV: x\r\nPAN: y\r\n"
                                                      << QStringList{"SSV: x\r", "PAN: y\r"};
        QTest::newRow("last line without LF lost") << "SSV: x\nPAN: y" << QStringList{"SSV: x"};
        QTest::newRow("leading blanks removed") << "  \tSSV: a  \n" << QStringList{"SSV: a  "};
        QTest::newRow("short pieces skipped") << "\n\r\nx\nab\n" << QStringList{"ab"};
        QTest::newRow("HLP inside a line kept") << "HLP: Show this list\n"
                                                << QStringList{"HLP: Show this list"};
    }
    void parseListing()
    {
        QFETCH(QString, raw);
        QFETCH(QStringList, entries);
        QCOMPARE(toList(parseCommandListing(raw.toStdString())), entries);
    }

    void splitEntry_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("command"); // empty: not split
        QTest::addColumn<QString>("help");
        QTest::newRow("command and help") << "SSV: Show software version"
                                          << "SSV"
                                          << "Show software version";
        QTest::newRow("first colon") << "SET:a:b"
                                     << "SET"
                                     << "a:b";
        QTest::newRow("leading colon") << ":no command"
                                       << ""
                                       << "";
        QTest::newRow("no colon") << "Simulation mode"
                                  << ""
                                  << "";
    }
    void splitEntry()
    {
        QFETCH(QString, entry);
        QFETCH(QString, command);
        QFETCH(QString, help);
        const bool split = !command.isEmpty();
        std::string gotCommand = "unchanged", gotHelp = "unchanged";
        QCOMPARE(splitCommandHelp(entry.toStdString(), gotCommand, gotHelp), split);
        QCOMPARE(QString::fromStdString(gotCommand), split ? command : QString("unchanged"));
        QCOMPARE(QString::fromStdString(gotHelp), split ? help : QString("unchanged"));
    }

    void withSimulator()
    {
        OrboSim sim;
        if (sim.path().isEmpty())
            QSKIP(qPrintable(sim.errorString()));
        CDeviceSession session;
        session.config() = linkConfig(sim.path().toStdString(), kConnectedTimeout);
        QCOMPARE(session.port().Open(session.config()), 1);
        // An answer nobody read is thrown away before the listing is asked for.
        QCOMPARE(session.port().Write("SSV", 3), 4);
        QTRY_COMPARE_WITH_TIMEOUT(session.port().bytesWaiting(), 16, 10000);
        const QStringList entries = toList(session.LoadCommandList());
        QVERIFY(!entries.contains("1.02.21\r"));
        QVERIFY(entries.contains("SSV: Show software version\r"));
        QVERIFY(entries.contains("HLP: Show this list of commands\r"));
        QVERIFY(!entries.contains("HLP\r"));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
