#include "lineformat.h"
#include "ptypeer.h"
#include "serialport.h"

#include <QTest>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void portNames_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("path");  // the device it names
        QTest::addColumn<bool>("mayExist"); // else opening it must fail
        QTest::newRow("COM12") << "12"
                               << "/dev/ttyS11" << true;
        QTest::newRow("name") << "COM3"
                              << "" << false;
        QTest::newRow("no such device") << "/dev/no-such-serial-port"
                                        << "/dev/no-such-serial-port" << false;
        QTest::newRow("directory") << "/tmp"
                                   << "/tmp" << false;
    }
    void portNames()
    {
        QFETCH(QString, port);
        QFETCH(QString, path);
        QFETCH(bool, mayExist);
        QCOMPARE(QString::fromStdString(CSerialPort::devicePath(port.toStdString())), path);
        if (mayExist)
            return;
        CSerialPort serial;
        QCOMPARE(serial.Open(linkConfig(port.toStdString())), -1);
        QVERIFY(!serial.isOpen());
        char buffer[2] = {};
        QCOMPARE(serial.Write("a", 1), -1);
        QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);
        QCOMPARE(serial.DrainInput(), -1);
        QCOMPARE(serial.Close(), -1);
    }

    void busyPort()
    {
        PtyPeer peer;
        QVERIFY(peer.isValid());
        CSerialPort first, second;
        QCOMPARE(first.Open(linkConfig(peer.path())), 1);
        QCOMPARE(second.Open(linkConfig(peer.path())), -1);
        QVERIFY(!second.isOpen());
        // Opening an open port again succeeds and takes no new settings.
        SerialConfig other = linkConfig(peer.path(), 2000);
        QCOMPARE(first.Open(other), 1);
        QCOMPARE(first.config().readTimeout, 200u);
        QCOMPARE(first.Close(), 1);
        // Released for the next user.
        QCOMPARE(second.Open(linkConfig(peer.path())), 1);
    }

    void configure_data()
    {
        QTest::addColumn<uint>("baud");
        QTest::addColumn<QString>("format"); // data bits, parity (NOEMS), stop bits
        QTest::addColumn<uint>("speed");     // 0: refused
        QTest::addColumn<uint>("cflags");    // CSIZE, PARENB, PARODD, CMSPAR, CSTOPB
        QTest::newRow("4000000 8N1") << 4000000u << "8N1" << uint(B4000000) << uint(CS8);
        QTest::newRow("9600 7O1") << 9600u << "7O1" << uint(B9600) << uint(CS7 | PARENB | PARODD);
        QTest::newRow("mark") << 19200u << "8M1" << uint(B19200) << uint(CS8 | PARENB | PARODD | CMSPAR);
        QTest::newRow("1.5 stop bits as two") << 2400u << "5N1.5" << uint(B2400) << uint(CS5 | CSTOPB);
        QTest::newRow("odd rate") << 12345u << "8N1" << 0u << 0u;
        QTest::newRow("unknown parity") << 9600u << "8X1" << 0u << 0u;
    }
    void configure()
    {
        QFETCH(uint, baud);
        QFETCH(QString, format);
        QFETCH(uint, speed);
        QFETCH(uint, cflags);
        const bool accepted = speed != 0;

        PtyPeer peer;
        CSerialPort serial;
        SerialConfig config = linkConfig(peer.path());
        QCOMPARE(serial.Open(config), 1);
        config.baudRate = baud;
        config.dataBits = static_cast<uint8_t>(format[0].digitValue());
        config.parity = static_cast<uint8_t>(QString("NOEMS").indexOf(format[1]));
        config.stopBits = format.mid(2) == "1" ? 0 : format.mid(2) == "2" ? 2 : 1;
        config.readTimeout = 2000;
        QCOMPARE(serial.Configure(config), accepted ? 1 : -1);

        // A pseudo-terminal always reports 8 data bits without parity, so the
        // line format is checked on the attributes that would be written: raw,
        // or untouched when refused, like the line and the stored settings.
        termios written{};
        written.c_lflag = ICANON | ECHO | ISIG;
        written.c_iflag = IXON | ICRNL;
        QCOMPARE(LineFormat::apply(written, config), accepted);
        QCOMPARE(uint(written.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)), cflags);
        QCOMPARE(written.c_lflag == 0 && (written.c_iflag & (IXON | ICRNL)) == 0, accepted);
        termios settings{};
        QCOMPARE(::tcgetattr(peer.slaveFd(), &settings), 0);
        QCOMPARE(uint(::cfgetospeed(&settings)), accepted ? speed : uint(B9600));
        QCOMPARE(serial.config().readTimeout, accepted ? 2000u : 200u);

        // Settings that belong to the open line cannot change while it is open.
        config.inQueueSize = 1024;
        QCOMPARE(serial.Configure(config), -1);
    }

    void input()
    {
        PtyPeer peer;
        QVERIFY(peer.send("stale bytes"));
        int waiting = 0;
        QTRY_VERIFY_WITH_TIMEOUT(::ioctl(peer.slaveFd(), FIONREAD, &waiting) == 0 && waiting == 11, 10000);
        // Opening drains what was waiting.
        CSerialPort serial;
        QCOMPARE(serial.Open(linkConfig(peer.path())), 1);
        QCOMPARE(serial.bytesWaiting(), 0);

        // A read takes all that it asks for or nothing.
        QVERIFY(peer.send("Q"));
        QTRY_COMPARE_WITH_TIMEOUT(serial.bytesWaiting(), 1, 10000);
        char buffer[4] = {};
        QCOMPARE(serial.ReadAvailable(buffer, 2), 0u);
        QCOMPARE(serial.ReadAvailable(nullptr, 1), 0u);
        QCOMPARE(serial.ReadAvailable(buffer, 1), 1u);
        QCOMPARE(buffer[0], 'Q');
        QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);

        QVERIFY(peer.send("1234567"));
        QTRY_COMPARE_WITH_TIMEOUT(serial.bytesWaiting(), 7, 10000);
        QCOMPARE(serial.DrainInput(), 7);
        QCOMPARE(serial.bytesWaiting(), 0);

        // The device hangs up: nothing more to read, writing fails, closing works.
        peer.closeMaster();
        QVERIFY(!serial.waitForInput(200));
        QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);
        QCOMPARE(serial.DrainInput(), 0);
        QVERIFY(serial.Write("SSV", 3) <= 0);
        QCOMPARE(serial.Close(), 1);
    }

    void writeAppendsTerminator_data()
    {
        QTest::addColumn<int>("terminator");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("none (0xFF)") << -1 << QByteArray("abc");
        QTest::newRow("LF") << 10 << QByteArray("abc\n");
    }
    void writeAppendsTerminator()
    {
        QFETCH(int, terminator);
        QFETCH(QByteArray, sent);
        PtyPeer peer;
        CSerialPort serial;
        SerialConfig config = linkConfig(peer.path());
        config.terminator = static_cast<int8_t>(terminator);
        QCOMPARE(serial.Open(config), 1);
        QCOMPARE(serial.Write("abc", 3), int(sent.size()));
        // A marker written after it on the same line shows where the
        // transmission ended.
        QCOMPARE(::write(peer.slaveFd(), "#", 1), ssize_t(1));
        QCOMPARE(QByteArray::fromStdString(peer.receiveUntil("#")), sent + "#");
        QCOMPARE(serial.Write("abc", -1), -1);
    }

    void simulated()
    {
        CSerialPort serial;
        serial.setSimulated(true);
        SerialConfig config = linkConfig("/dev/no-such-serial-port");
        config.baudRate = 57600;
        QCOMPARE(serial.Open(config), 1);
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
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
