#include "lineformat.h"
#include "ptypeer.h"
#include "serialport.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

SerialConfig linkConfig(const std::string &path)
{
    SerialConfig config;
    config.port = path;
    config.separator = '\n';
    config.terminator = '\n';
    config.inQueueSize = 4096;
    return config;
}

int waitingOn(int fd)
{
    int count = 0;
    ::ioctl(fd, FIONREAD, &count);
    return count;
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void devicePath_data();
    void devicePath();
    void openFails_data();
    void openFails();
    void busyPort();
    void reopenKeepsConfiguration();
    void configure_data();
    void configure();
    void readAvailableNeedsAllBytes();
    void writeAppendsTerminator_data();
    void writeAppendsTerminator();
    void drainAfterOpen();
    void simulated();
    void hangUp();
};

void TestSerialPort::devicePath_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << "1" << "/dev/ttyS0";
    QTest::newRow("COM12") << "12" << "/dev/ttyS11";
    QTest::newRow("zero") << "0" << "";
    QTest::newRow("negative") << "-1" << "";
    QTest::newRow("device path") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("name") << "COM3" << "";
    QTest::newRow("relative") << "dev/ttyS0" << "";
    QTest::newRow("empty") << "" << "";
}

void TestSerialPort::devicePath()
{
    QFETCH(QString, port);
    QFETCH(QString, path);
    QCOMPARE(QString::fromStdString(CSerialPort::devicePath(port.toStdString())), path);
}

void TestSerialPort::openFails_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("no such device") << "/dev/no-such-serial-port";
    QTest::newRow("port zero") << "0";
    QTest::newRow("not a number") << "COM1";
    QTest::newRow("plain file") << "FILE";
    QTest::newRow("directory") << "/tmp";
}

void TestSerialPort::openFails()
{
    QFETCH(QString, port);
    QTemporaryDir dir;
    if (port == "FILE") {
        port = dir.filePath("notaport");
        QFile file(port);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("HLP\n");
    }
    CSerialPort serial;
    QCOMPARE(serial.Open(linkConfig(port.toStdString())), -1);
    QVERIFY(!serial.isOpen());
    char buffer[2] = {};
    QCOMPARE(serial.Write("a", 1), -1);
    QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);
    QCOMPARE(serial.DrainInput(), -1);
    QCOMPARE(serial.Close(), -1);
}

void TestSerialPort::busyPort()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    CSerialPort first, second;
    QCOMPARE(first.Open(linkConfig(peer.path())), 1);
    QCOMPARE(second.Open(linkConfig(peer.path())), -1);
    QVERIFY(!second.isOpen());
    QCOMPARE(first.Close(), 1);
    // Released for the next user.
    QCOMPARE(second.Open(linkConfig(peer.path())), 1);
}

void TestSerialPort::reopenKeepsConfiguration()
{
    PtyPeer peer;
    CSerialPort serial;
    SerialConfig config = linkConfig(peer.path());
    QCOMPARE(serial.Open(config), 1);
    SerialConfig other = config;
    other.baudRate = 57600;
    other.readTimeout = 2000;
    QCOMPARE(serial.Open(other), 1);
    QCOMPARE(serial.config().baudRate, 9600u);
    QCOMPARE(serial.config().readTimeout, 200u);
}

void TestSerialPort::configure_data()
{
    QTest::addColumn<uint>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<uint>("cflags"); // CSIZE, PARENB, PARODD, CMSPAR, CSTOPB

    QTest::newRow("57600 8N1") << 57600u << 8 << 0 << 0 << 1 << uint(B57600) << uint(CS8);
    QTest::newRow("4000000 8N1") << 4000000u << 8 << 0 << 0 << 1 << uint(B4000000) << uint(CS8);
    QTest::newRow("9600 7O1") << 9600u << 7 << 1 << 0 << 1 << uint(B9600) << uint(CS7 | PARENB | PARODD);
    QTest::newRow("9600 7E2") << 9600u << 7 << 2 << 2 << 1 << uint(B9600) << uint(CS7 | PARENB | CSTOPB);
    QTest::newRow("mark") << 19200u << 8 << 3 << 0 << 1 << uint(B19200) << uint(CS8 | PARENB | PARODD | CMSPAR);
    QTest::newRow("space") << 19200u << 8 << 4 << 0 << 1 << uint(B19200) << uint(CS8 | PARENB | CMSPAR);
    QTest::newRow("1.5 stop bits as two") << 2400u << 5 << 0 << 1 << 1 << uint(B2400) << uint(CS5 | CSTOPB);
    QTest::newRow("odd rate") << 12345u << 8 << 0 << 0 << -1 << 0u << 0u;
    QTest::newRow("nine data bits") << 9600u << 9 << 0 << 0 << -1 << 0u << 0u;
    QTest::newRow("parity 5") << 9600u << 8 << 5 << 0 << -1 << 0u << 0u;
}

void TestSerialPort::configure()
{
    QFETCH(uint, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, result);
    QFETCH(uint, speed);
    QFETCH(uint, cflags);

    PtyPeer peer;
    CSerialPort serial;
    SerialConfig config = linkConfig(peer.path());
    QCOMPARE(serial.Open(config), 1);

    config.baudRate = baud;
    config.dataBits = static_cast<uint8_t>(dataBits);
    config.parity = static_cast<uint8_t>(parity);
    config.stopBits = static_cast<uint8_t>(stopBits);
    config.readTimeout = 2000;
    QCOMPARE(serial.Configure(config), result);

    // A pseudo-terminal always reports 8 data bits without parity, so the
    // line format is checked on the attributes that would be written.
    termios format{};
    ::cfmakeraw(&format);
    format.c_lflag |= ICANON | ECHO;
    format.c_iflag |= IXON | ICRNL;
    QCOMPARE(LineFormat::apply(format, config), result == 1);
    if (result == 1) {
        QCOMPARE(uint(format.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)), cflags);
        QCOMPARE(format.c_lflag & (ICANON | ECHO), tcflag_t(0));
        QCOMPARE(format.c_iflag & (IXON | ICRNL), tcflag_t(0));
    }

    termios settings{};
    QCOMPARE(::tcgetattr(peer.slaveFd(), &settings), 0);
    if (result == 1) {
        QCOMPARE(uint(::cfgetospeed(&settings)), speed);
        QCOMPARE(serial.config().readTimeout, 2000u);
    } else {
        // Refused: the line and the stored settings stay as they were.
        QCOMPARE(uint(::cfgetospeed(&settings)), uint(B9600));
        QCOMPARE(serial.config().readTimeout, 200u);
    }
    QCOMPARE(settings.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));

    // Settings that belong to the open line cannot change while it is open.
    SerialConfig moved = config;
    moved.inQueueSize = 1024;
    QCOMPARE(serial.Configure(moved), -1);
}

void TestSerialPort::readAvailableNeedsAllBytes()
{
    PtyPeer peer;
    CSerialPort serial;
    QCOMPARE(serial.Open(linkConfig(peer.path())), 1);
    QVERIFY(peer.send("Q"));
    QTRY_COMPARE_WITH_TIMEOUT(serial.bytesWaiting(), 1, 10000);

    char buffer[4] = {};
    QCOMPARE(serial.ReadAvailable(buffer, 2), 0u);
    QCOMPARE(serial.bytesWaiting(), 1);
    QCOMPARE(serial.ReadAvailable(nullptr, 1), 0u);
    QCOMPARE(serial.ReadAvailable(buffer, 1), 1u);
    QCOMPARE(buffer[0], 'Q');
    QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);
}

void TestSerialPort::writeAppendsTerminator_data()
{
    QTest::addColumn<int>("terminator");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("none (0xFF)") << -1 << 3 << QByteArray("abc");
    QTest::newRow("none (0x80)") << -128 << 3 << QByteArray("abc");
    QTest::newRow("LF") << 10 << 4 << QByteArray("abc\n");
    QTest::newRow("0x7F") << 0x7F << 4 << QByteArray("abc\x7f");
}

void TestSerialPort::writeAppendsTerminator()
{
    QFETCH(int, terminator);
    QFETCH(int, result);
    QFETCH(QByteArray, sent);

    PtyPeer peer;
    CSerialPort serial;
    SerialConfig config = linkConfig(peer.path());
    config.terminator = static_cast<int8_t>(terminator);
    QCOMPARE(serial.Open(config), 1);
    QCOMPARE(serial.Write("abc", 3), result);
    // A marker written after it on the same line shows where the
    // transmission ended.
    QCOMPARE(::write(peer.slaveFd(), "#", 1), ssize_t(1));
    QCOMPARE(QByteArray::fromStdString(peer.receiveUntil("#")), sent + "#");
    QCOMPARE(serial.Write("abc", -1), -1);
}

void TestSerialPort::drainAfterOpen()
{
    PtyPeer peer;
    QVERIFY(peer.send("stale bytes"));
    QTRY_COMPARE_WITH_TIMEOUT(waitingOn(peer.slaveFd()), 11, 10000);

    CSerialPort serial;
    QCOMPARE(serial.Open(linkConfig(peer.path())), 1);
    QCOMPARE(serial.bytesWaiting(), 0);
    QCOMPARE(serial.DrainInput(), 0);

    QVERIFY(peer.send("1234567"));
    QTRY_COMPARE_WITH_TIMEOUT(serial.bytesWaiting(), 7, 10000);
    QCOMPARE(serial.DrainInput(), 7);
    QCOMPARE(serial.bytesWaiting(), 0);
}

void TestSerialPort::simulated()
{
    CSerialPort serial;
    serial.setSimulated(true);
    SerialConfig config = linkConfig("/dev/no-such-serial-port");
    config.baudRate = 57600;
    QCOMPARE(serial.Open(config), 1);
    QVERIFY(serial.isOpen());
    // The configuration is not taken in simulated mode.
    QCOMPARE(serial.config().baudRate, 9600u);
    QCOMPARE(serial.Write("abc", 3), 3);
    char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
    QCOMPARE(serial.ReadAvailable(buffer, 4), 4u);
    QCOMPARE(QByteArray(buffer, 5), QByteArray(",,,,x"));
    QCOMPARE(serial.DrainInput(), 0);
    QCOMPARE(serial.Close(), 1);
    QCOMPARE(serial.Close(), -1);
}

void TestSerialPort::hangUp()
{
    PtyPeer peer;
    CSerialPort serial;
    QCOMPARE(serial.Open(linkConfig(peer.path())), 1);
    peer.closeMaster();

    char buffer[2] = {};
    QVERIFY(!serial.waitForInput(200));
    QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);
    QCOMPARE(serial.DrainInput(), 0);
    QVERIFY(serial.Write("SSV", 3) <= 0);
    QCOMPARE(serial.Close(), 1);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
