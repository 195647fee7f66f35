#include "orbosim.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A raw terminal client on the simulator's pseudo-terminal.
class Client
{
public:
    explicit Client(const QString &path, speed_t speed = B9600)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0)
            setSpeed(speed);
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    void setSpeed(speed_t speed)
    {
        termios settings{};
        ::tcgetattr(m_fd, &settings);
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, speed);
        ::cfsetospeed(&settings, speed);
        ::tcsetattr(m_fd, TCSANOW, &settings);
    }

    // Sends a command the way the program does: followed by two LF bytes.
    void send(const QByteArray &command)
    {
        QByteArray bytes = command + "\n\n";
        QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // Returns everything received up to and including the first `tail`,
    // keeping what follows for the next call; empty on timeout.
    QByteArray readUntil(const QByteArray &tail, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_pending.contains(tail) && !deadline.hasExpired())
            receive(100);
        int end = m_pending.indexOf(tail);
        if (end < 0)
            return QByteArray();
        QByteArray head = m_pending.left(end + tail.size());
        m_pending.remove(0, head.size());
        return head;
    }

    // Everything that arrives within the given time.
    QByteArray collect(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired())
            receive(int(qMax<qint64>(1, deadline.remainingTime())));
        QByteArray all = m_pending;
        m_pending.clear();
        return all;
    }

private:
    void receive(int waitMs)
    {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, waitMs) <= 0)
            return;
        char buffer[512];
        ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count > 0)
            m_pending.append(buffer, int(count));
    }

    QByteArray m_pending;
    int m_fd = -1;
};

} // namespace

class TestOrboSim : public QObject
{
    Q_OBJECT

private slots:
    void framing_data();
    void framing();
    void pressureReading();
    void helpListing();
    void silentCases_data();
    void silentCases();
    void lineRate();
    void linkAndCleanExit();
};

void TestOrboSim::framing_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("revision") << QByteArray("SSV") << QByteArray("SSV\r\n\r\n1.02.21\r\n");
    QTest::newRow("exponent") << QByteArray("SPR") << QByteArray("SPR\r\n\r\nE3\r\n");
    QTest::newRow("mantissa") << QByteArray("SFS") << QByteArray("SFS\r\n\r\n1.0\r\n");
    QTest::newRow("unit") << QByteArray("AUN") << QByteArray("AUN\r\n\r\nmbar\r\n");
    QTest::newRow("unknown") << QByteArray("XYZ")
                             << QByteArray("XYZ\r\n\r\nCan not execute command\r\n");
    QTest::newRow("carriage returns ignored") << QByteArray("\rSSV\r")
                                              << QByteArray("SSV\r\n\r\n1.02.21\r\n");
}

void TestOrboSim::framing()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    Client client(sim.path());
    QVERIFY(client.isOpen());
    client.send(sent);
    // The next command's echo shows that nothing else came in between.
    client.send("SNU");
    QCOMPARE(client.readUntil("SNU\r\n\r\n"), expected + "SNU\r\n\r\n");
}

void TestOrboSim::pressureReading()
{
    OrboSim sim({"--seed", "7"});
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    Client client(sim.path());
    QRegularExpression form(QStringLiteral("^PRE\r\n\r\n([1-9]\\.\\d{3}E-?\\d+)\r\n$"));
    for (int i = 0; i < 3; ++i) {
        client.send("PRE");
        QByteArray echo = client.readUntil("\r\n\r\n");
        QString answer = QString::fromLatin1(echo + client.readUntil("\r\n"));
        QRegularExpressionMatch match = form.match(answer);
        QVERIFY2(match.hasMatch(), qPrintable(answer));
        double value = match.captured(1).toDouble();
        QVERIFY(value > 1e-5 && value < 1e-1);
    }
}

void TestOrboSim::helpListing()
{
    OrboSim sim;
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    Client client(sim.path());
    client.send("HLP");
    // The listing has no closing reply line; the next command's echo ends it.
    client.send("SSV");
    QByteArray all = client.readUntil("SSV\r\n\r\n1.02.21\r\n");
    QVERIFY(all.startsWith("HLP\r\n\r\n"));
    QByteArray listing = all.mid(7, all.size() - 7 - int(qstrlen("SSV\r\n\r\n1.02.21\r\n")));
    QVERIFY(listing.endsWith("\r\n"));
    QList<QByteArray> lines = listing.split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    QVERIFY(lines.size() >= 15);
    QRegularExpression form(QStringLiteral("^[A-Z]{3}: \\S.*\r$"));
    for (const QByteArray &line : lines)
        QVERIFY2(form.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

void TestOrboSim::silentCases_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("fixSpeed");

    QTest::newRow("wrong speed") << QStringList{"--baud", "19200"} << QByteArray("SSV") << true;
    QTest::newRow("boot state help") << QStringList{"--boot"} << QByteArray("HLP") << false;
    QTest::newRow("silent device") << QStringList{"--silent"} << QByteArray("SSV") << false;
}

void TestOrboSim::silentCases()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, command);
    QFETCH(bool, fixSpeed);
    OrboSim sim(arguments);
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    Client client(sim.path(), B9600);
    client.send(command);
    // Give the simulator ample time to take the command in before the
    // speed changes; nothing may arrive meanwhile.
    QCOMPARE(client.collect(2000), QByteArray());
    if (fixSpeed)
        client.setSpeed(B19200);
    // Whatever answers now must be the answer to the following command.
    client.send("SFS");
    if (arguments.contains("--silent")) {
        QCOMPARE(client.collect(1000), QByteArray());
        return;
    }
    QCOMPARE(client.readUntil("SFS\r\n\r\n1.0\r\n"), QByteArray("SFS\r\n\r\n1.0\r\n"));
}

void TestOrboSim::lineRate()
{
    OrboSim sim({"--line-rate", "--delay", "20"});
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    Client client(sim.path(), B57600);
    client.send("HLP");
    client.send("AUN");
    QByteArray all = client.readUntil("AUN\r\n\r\nmbar\r\n");
    QVERIFY(all.startsWith("HLP\r\n\r\nSSV: "));
}

void TestOrboSim::linkAndCleanExit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString link = dir.filePath("orbo");
    OrboSim sim({"--link", link, "--baud", "38400"});
    QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
    {
        Client client(sim.path(), B38400);
        client.send("SSV");
        QVERIFY(!client.readUntil("1.02.21\r\n").isEmpty());
    }
    // A client that closed did not hang the device up.
    {
        Client client(link, B38400);
        client.send("PAN");
        QVERIFY(!client.readUntil("PAN\r\n\r\n").isEmpty());
    }
    QVERIFY(sim.isRunning());
    QVERIFY(sim.stop());
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestOrboSim)
#include "tst_orbosim.moc"
