#include "commandcatalogue.h"
#include "devicesession.h"
#include "orbosim.h"
#include "ptypeer.h"

#include <QTest>

namespace {

QStringList toList(const std::vector<std::string> &entries)
{
    QStringList list;
    for (const std::string &entry : entries)
        list << QString::fromStdString(entry);
    return list;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void split_data();
    void split();
    void load_data();
    void load();
    void loadSimulated();
    void loadFromSimulator();
};

void TestCatalogue::parse_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("LF listing") << QByteArray("HLP\n\nSSV: Show version\nPAN: Show part\n")
                                << QStringList{"SSV: Show version", "PAN: Show part"};
    QTest::newRow("CR LF listing keeps CR")
        << QByteArray("SSV: Show version\r\n\r\nPAN: Show part\r\n")
        << QStringList{"SSV: Show version\r", "PAN: Show part\r"};
    QTest::newRow("CR LF echo skipped") << QByteArray("HLP\r\n\r\nSSV: x\r\n")
                                        << QStringList{"SSV: x\r"};
    QTest::newRow("last line without LF lost") << QByteArray("SSV: Show version\nPAN: Show part")
                                               << QStringList{"SSV: Show version"};
    QTest::newRow("leading blanks removed") << QByteArray("  \tSSV: a  \n")
                                            << QStringList{"SSV: a  "};
    QTest::newRow("short pieces skipped") << QByteArray("\n\r\nx\nab\n") << QStringList{"ab"};
    QTest::newRow("blank piece becomes empty") << QByteArray(" \r\n") << QStringList{""};
    QTest::newRow("HLP inside a line kept") << QByteArray("HLP: Show this list\n")
                                            << QStringList{"HLP: Show this list"};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
    QTest::newRow("no LF at all") << QByteArray("SSV: Show version") << QStringList{};
}

void TestCatalogue::parse()
{
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, entries);
    QCOMPARE(toList(parseCommandListing(raw.toStdString())), entries);
}

void TestCatalogue::split_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("split");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("help");

    QTest::newRow("command and help") << "SSV: Show software version" << true << "SSV" << "Show software version";
    QTest::newRow("CR stays") << "PAN:\tShow part\r" << true << "PAN" << "Show part\r";
    QTest::newRow("first colon") << "SET:a:b" << true << "SET" << "a:b";
    QTest::newRow("empty help") << "ERR:" << true << "ERR" << "";
    QTest::newRow("leading colon") << ":no command" << false << "" << "";
    QTest::newRow("no colon") << "Simulation mode" << false << "" << "";
    QTest::newRow("empty") << "" << false << "" << "";
}

void TestCatalogue::split()
{
    QFETCH(QString, entry);
    QFETCH(bool, split);
    QFETCH(QString, command);
    QFETCH(QString, help);

    std::string gotCommand = "unchanged", gotHelp = "unchanged";
    QCOMPARE(splitCommandHelp(entry.toStdString(), gotCommand, gotHelp), split);
    if (split) {
        QCOMPARE(QString::fromStdString(gotCommand), command);
        QCOMPARE(QString::fromStdString(gotHelp), help);
    } else {
        QCOMPARE(gotCommand, std::string("unchanged"));
        QCOMPARE(gotHelp, std::string("unchanged"));
    }
}

void TestCatalogue::load_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("listing") << QByteArray("HLP\n\nSSV: Show version\nPAN: Show part\nAUN: unit")
                             << QStringList{"SSV: Show version", "PAN: Show part"};
    QTest::newRow("silent device") << QByteArray() << QStringList{};
}

void TestCatalogue::load()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, entries);

    PtyPeer peer;
    CDeviceSession session;
    SerialConfig &config = session.config();
    config.port = peer.path();
    config.separator = '\n';
    config.terminator = '\n';
    config.readTimeout = 2000; // as connected: generous for a loaded machine
    QCOMPARE(session.port().Open(config), 1);
    QVERIFY(peer.send("stale\n"));
    peer.serve({answer.toStdString()});
    QCOMPARE(toList(session.LoadCommandList()), entries);
    QCOMPARE(peer.finish(), std::vector<std::string>{"HLP\n\n"});
}

void TestCatalogue::loadSimulated()
{
    CDeviceSession session;
    session.port().setSimulated(true);
    QCOMPARE(session.port().Open(session.config()), 1);
    const std::vector<std::string> entries = session.LoadCommandList();
    QCOMPARE(toList(entries), QStringList{"Simulation mode"});
    std::string command, help;
    QVERIFY(!splitCommandHelp(entries[0], command, help));
}

void TestCatalogue::loadFromSimulator()
{
    OrboSim sim;
    if (sim.path().isEmpty())
        QSKIP(qPrintable(sim.errorString()));
    CDeviceSession session;
    SerialConfig &config = session.config();
    config.port = sim.path().toStdString();
    config.separator = '\n';
    config.terminator = '\n';
    config.readTimeout = 2000;
    QCOMPARE(session.port().Open(config), 1);

    std::string echo, reply;
    QCOMPARE(session.Transact("SSV", echo, reply), 8);
    QCOMPARE(reply, std::string("1.02.21\r"));
    QCOMPARE(session.Transact("NOPE", echo, reply), -2);

    const QStringList entries = toList(session.LoadCommandList());
    QVERIFY(entries.contains("SSV: Show software version\r"));
    QVERIFY(entries.contains("HLP: Show this list of commands\r"));
    QVERIFY(!entries.contains("HLP\r"));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
