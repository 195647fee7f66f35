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
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        setSpeed(speed);
    }
    ~Client() { ::close(m_fd); }

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
    bool send(const QByteArray &command)
    {
        const QByteArray bytes = command + "\n\n";
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // What arrives until `tail` has come (up to its end) or timeoutMs have
    // passed; with an empty tail, all that arrives within timeoutMs.
    QByteArray readUntil(const QByteArray &tail, int timeoutMs = 20000)
    {
        QByteArray got;
        char buffer[512];
        QDeadlineTimer deadline(timeoutMs);
        while ((tail.isEmpty() || !got.contains(tail)) && !deadline.hasExpired()) {
            pollfd fd{m_fd, POLLIN, 0};
            const ssize_t count = ::poll(&fd, 1, int(qMax<qint64>(1, deadline.remainingTime()))) > 0
                ? ::read(m_fd, buffer, sizeof buffer)
                : 0;
            if (count > 0)
                got.append(buffer, int(count));
        }
        const qsizetype end = got.indexOf(tail);
        return tail.isEmpty() || end < 0 ? got : got.left(end + tail.size());
    }

private:
    int m_fd;
};

} // namespace

class TestOrboSim : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("unknown") << QByteArray("XYZ") << "XYZ\r\n\r\nCan not execute command\r\n";
        QTest::newRow("carriage returns ignored") << QByteArray("\rAUN\r") << "AUN\r\n\r\nmbar\r\n";
        QTest::newRow("pressure") << QByteArray("PRE") << "PRE\r\n\r\n[1-9]\\.\\d{3}E-[2-5]\r\n";
        // The listing has no closing reply line.
        QTest::newRow("help") << QByteArray("HLP") << "HLP\r\n\r\n([A-Z]{3}: \\S[^\r\n]*\r\n){15,}";
    }
    void answers()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QString, pattern);
        OrboSim sim;
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        Client client(sim.path());
        // The next command's echo ends the answer and shows that nothing
        // else came in between.
        QVERIFY(client.send(sent) && client.send("SNU"));
        const QString all = QString::fromLatin1(client.readUntil("SNU\r\n\r\n"));
        QVERIFY2(QRegularExpression("^" + pattern + "SNU\r\n\r\n$").match(all).hasMatch(), qPrintable(all));
    }

    void silentCases_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("wrong speed") << QStringList{"--baud", "19200"} << QByteArray("SSV");
        QTest::newRow("boot state help") << QStringList{"--boot"} << QByteArray("HLP");
    }
    void silentCases()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, command);
        OrboSim sim(arguments);
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        Client client(sim.path());
        QVERIFY(client.send(command));
        // Give the simulator ample time to take the command in before the
        // speed changes; nothing may arrive meanwhile.
        QCOMPARE(client.readUntil({}, 2000), QByteArray());
        if (arguments.contains("--baud"))
            client.setSpeed(B19200);
        // Whatever answers now must be the answer to the following command.
        QVERIFY(client.send("SFS"));
        QCOMPARE(client.readUntil("SFS\r\n\r\n1.0\r\n"), QByteArray("SFS\r\n\r\n1.0\r\n"));
    }

    void linkLineRateAndCleanExit()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("orbo");
        OrboSim sim({"--link", link, "--baud", "38400", "--line-rate", "--delay", "20"});
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
        {
            Client client(sim.path(), B38400);
            QVERIFY(client.send("HLP") && client.send("AUN"));
            QVERIFY(client.readUntil("AUN\r\n\r\nmbar\r\n").startsWith("HLP\r\n\r\nSSV: "));
        }
        // A client that closed did not hang the device up.
        {
            Client client(link, B38400);
            QVERIFY(client.send("PAN"));
            QVERIFY(!client.readUntil("PAN\r\n\r\n").isEmpty());
        }
        QVERIFY(sim.isRunning());
        QVERIFY(sim.stop());
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestOrboSim)
#include "tst_orbosim.moc"
