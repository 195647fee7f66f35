#include "cnumber.h"
#include "commandcatalogue.h"
#include "commandconsole.h"
#include "deviceconnection.h"
#include "devicesession.h"
#include "linecontrol.h"
#include "lineformat.h"
#include "orbosim.h"
#include "ownnetwork.h"
#include "ptypeer.h"
#include "ser2net.h"
#include "settingsdefaults.h"
#include "timediff.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <clocale>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <termios.h>

namespace {

// A moment of 2024 written "MM-dd hh:mm:ss.zzz".
SYSTEMTIME at(const QString &text)
{
    const QDateTime moment = QDateTime::fromString("2024-" + text, "yyyy-MM-dd hh:mm:ss.zzz");
    const QDate d = moment.date();
    const QTime t = moment.time();
    return SYSTEMTIME{uint16_t(d.year()),   uint16_t(d.month()), uint16_t(d.dayOfWeek() % 7),
                      uint16_t(d.day()),    uint16_t(t.hour()),  uint16_t(t.minute()),
                      uint16_t(t.second()), uint16_t(t.msec())};
}

} // namespace

using Result = CDeviceConnection::Result;

class TestDevice : public QObject
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
        const auto row = [](const char *name, QString command, QString answer, int gapMs, int result,
                            QString echo, QString reply) {
            QTest::newRow(name) << command << answer << gapMs << result << echo << reply;
        };
        row("two-line echo", "X", "X\r\n\r\n12.3\r\n", 0, 5, "X\r\n", "12.3\r");
        // Each byte comes well within the read time-out of the one before,
        // though the whole answer takes longer than one time-out.
        row("time-out from last byte", "X", "X\r\n\r\n12.3\r\n", 250, 5, "X\r\n", "12.3\r");
        row("command trimmed", " \tSSV \r\n", "SSV\r\n\r\n1.0\r\n", 0, 4, "SSV\r\n", "1.0\r");
        row("LF line ends", "SSV", "SSV\n\n\n", 0, 0, "SSV", "");
        row("back-to-back LFs", "X", "\n\n12.3\r\n", 0, -1, "", "12.3\r");
        row("Can", "XYZ", "XYZ\r\n\r\nCan not execute command\r\n", 0, -2, "XYZ\r\n",
            "Can not execute command\r");
        row("silence", "SSV", "", 0, -1, "", "Timeout!");
        row("flooded reply", "X", "X\r\n\r\n" + flood, 0, 2014, "X\r\n", flood.left(2013));
        row("longest command", longest, "C\r\n\r\nok\r\n", 0, 3, "C\r\n", "ok\r");
        row("command too long", longest + "C", "", 0, -1, "", "Command too long!");
    }
    void exchange()
    {
        QFETCH(QString, command);
        QFETCH(QString, answer);
        QFETCH(int, gapMs);
        QFETCH(QString, reply);
        const bool refused = reply == "Command too long!";
        PtyPeer peer;
        QVERIFY(peer.isValid());
        CDeviceSession session;
        session.config() = linkConfig(peer.path(), 2000);
        QCOMPARE(session.port().Open(session.config()), 1);
        // Stale input is thrown away before the command goes out.
        QVERIFY(peer.send("stale\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(session.port().bytesWaiting(), 7, 10000);
        if (!refused)
            peer.serve({answer.toStdString()}, gapMs);
        std::string echo = "old", got = "old";
        QTEST(session.Transact(command.toStdString(), echo, got), "result");
        QTEST(QString::fromStdString(echo), "echo");
        QCOMPARE(QString::fromStdString(got), reply);
        peer.finish();
        // The lock was released: the next exchange goes through, and the
        // device saw nothing but the commands, trimmed and ending with LF.
        peer.serve({"SSV\r\n\r\n1.02.21\r\n"});
        QCOMPARE(session.Transact("SSV", echo, got), 8);
        QCOMPARE(got, std::string("1.02.21\r"));
        std::vector<std::string> sent{"SSV\n\n"};
        if (!refused)
            sent.insert(sent.begin(), command.trimmed().toStdString() + "\n\n");
        QCOMPARE(peer.finish(), sent);
    }

    void busLock()
    {
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
        // Releasing a free lock is only reported. Held seconds are whole
        // calendar seconds: a zero time-out passes once the holder has held
        // the lock into the next second.
        mutex.Unlock();
        QVERIFY(mutex.Lock(10000, 0) && mutex.Lock(0, 0));
        mutex.Unlock();
        QVERIFY(!mutex.isLocked());

        // Hand-over: a caller already waiting goes first when the holder
        // lets go and asks again at once.
        std::mutex orderMutex;
        QStringList order;
        const auto enter = [&](const char *who) {
            std::lock_guard<std::mutex> lock(orderMutex);
            order << who;
        };
        QVERIFY(mutex.Lock(60000, 0));
        std::thread waiter([&] {
            mutex.Lock(60000, 0);
            enter("waiter");
            mutex.Unlock();
        });
        QTRY_COMPARE_WITH_TIMEOUT(mutex.waiting(), 1, 10000);
        mutex.Unlock();
        mutex.Lock(60000, 0);
        enter("holder");
        mutex.Unlock();
        waiter.join();
        QCOMPARE(order, (QStringList{"waiter", "holder"}));
    }

    // The automatic search tries 9600, 57600, 19200, 38400 in this order:
    // a device at 57600 is found by the second probe.
    void baudSearch_data()
    {
        QTest::addColumn<uint>("speed"); // the device's, as termios names it
        QTest::addColumn<int>("probes");
        QTest::addColumn<uint>("found");
        QTest::newRow("9600 first") << uint(B9600) << 1 << 9600u;
        QTest::newRow("57600 second") << uint(B57600) << 2 << 57600u;
        QTest::newRow("38400 last") << uint(B38400) << 4 << 38400u;
        QTest::newRow("1200 never") << uint(B1200) << 4 << 0u;
    }
    void baudSearch()
    {
        QFETCH(uint, speed);
        PtyPeer peer;
        std::atomic<bool> done{false};
        std::atomic<int> probes{0};
        // A device that answers only while the line runs at its speed.
        std::thread device([&] {
            while (!done) {
                if (peer.receiveUntil("\n\n", 100).empty())
                    continue;
                ++probes;
                termios line{};
                if (::tcgetattr(peer.slaveFd(), &line) == 0 && ::cfgetospeed(&line) == speed)
                    peer.send("SSV\r\n\r\n1.02.21\r\n");
            }
        });
        CDeviceSession session;
        CDeviceConnection connection(session);
        const Result result = connection.openPort(peer.path(), "auto", false);
        done = true;
        device.join();
        QTEST(probes.load(), "probes");
        QTEST(connection.foundBaud(), "found");
        QCOMPARE(result, connection.foundBaud() ? Result::Connected : Result::NoAnswer);
        QCOMPARE(session.config().readTimeout, connection.foundBaud() ? 2000u : 200u);
    }

    void parseListing_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("echo skipped, CR kept") << "HLP\r\n\r\nSSV: x\r\nPAN: y\r\n"
                                               << QStringList{"SSV: x\r", "PAN: y\r"};
        QTest::newRow("last line without LF lost") << "SSV: x\nPAN: y" << QStringList{"SSV: x"};
        QTest::newRow("leading blanks removed") << "  \tSSV: a  \n" << QStringList{"SSV: a  "};
        QTest::newRow("short pieces skipped") << "\n\r\nx\nab\n" << QStringList{"ab"};
    }
    void parseListing()
    {
        QFETCH(QString, raw);
        QStringList entries;
        for (const std::string &entry : parseCommandListing(raw.toStdString()))
            entries << QString::fromStdString(entry);
        QTEST(entries, "entries");
        // An entry splits at its first colon; without a command before one
        // it stays whole and the outputs are left alone.
        std::string command, help;
        QVERIFY(splitCommandHelp("SET:a:b", command, help) && command == "SET" && help == "a:b");
        QVERIFY(!splitCommandHelp(":no command", command, help)
                && !splitCommandHelp("Simulation mode", command, help));
        QVERIFY(command == "SET" && help == "a:b");
    }

    void portNames()
    {
        QCOMPARE(CSerialPort::devicePath("12"), std::string("/dev/ttyS11"));
        QCOMPARE(CSerialPort::devicePath("COM3"), std::string());
        CSerialPort serial; // a folder is no port
        QCOMPARE(serial.Open(linkConfig("/tmp")), -1);
        QCOMPARE(serial.Write("a", 1), -1);
    }

    void lineControl_data()
    {
        QTest::addColumn<QString>("terminal"); // pty, pipe, closed
        QTest::addColumn<QString>("dtr");
        QTest::addColumn<QString>("rts");
        QTest::addColumn<int>("error");
        QTest::newRow("pty, both kept") << "pty"
                                        << "keep"
                                        << "KEEP" << 0;
        // A pseudo-terminal has no modem lines; it refuses harmlessly.
        QTest::newRow("pty, on and off") << "pty"
                                         << "On"
                                         << "off" << 0;
        QTest::newRow("no modem lines") << "pipe"
                                        << "keep"
                                        << "off" << EOPNOTSUPP;
        QTest::newRow("a real failure") << "closed"
                                        << "on"
                                        << "keep" << EBADF;
        QTest::newRow("nothing asked of a closed one") << "closed"
                                                       << "keep"
                                                       << "keep" << 0;
    }
    void lineControl()
    {
        QFETCH(QString, terminal);
        QFETCH(QString, dtr);
        QFETCH(QString, rts);
        QFETCH(int, error);
        SerialConfig config;
        QVERIFY(parseLineControl(dtr.toStdString(), config.dtr));
        QVERIFY(parseLineControl(rts.toStdString(), config.rts));
        QCOMPARE(QString(lineControlText(config.dtr)), dtr.toLower());
        PtyPeer peer;
        int pipeEnds[2] = {-1, -1};
        QCOMPARE(::pipe(pipeEnds), 0);
        ::close(pipeEnds[1]);
        const int fd = terminal == "pty" ? peer.slaveFd() : terminal == "pipe" ? pipeEnds[0] : pipeEnds[1];
        QCOMPARE(applyLineControl(fd, config.dtr, config.rts, terminal != "pipe"), error);
        ::close(pipeEnds[0]);
        // A port opens with the choice, or is refused with its reason.
        if (terminal == "pty") {
            CSerialPort serial;
            config.port = peer.path();
            QCOMPARE(serial.Open(config), 1);
            QVERIFY(serial.config().dtr == config.dtr && serial.config().rts == config.rts);
        }
    }

    void configure_data()
    {
        QTest::addColumn<uint>("baud");
        QTest::addColumn<QString>("format"); // data bits, parity (NOEMS), stop bits
        QTest::addColumn<uint>("speed");     // 0: refused
        QTest::addColumn<uint>("cflags");    // CSIZE, PARENB, PARODD, CMSPAR, CSTOPB
        QTest::newRow("4000000 8N1") << 4000000u << "8N1" << uint(B4000000) << uint(CS8);
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
        QTEST(uint(written.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)), "cflags");
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
        QVERIFY(peer.send("1234567"));
        QTRY_COMPARE_WITH_TIMEOUT(serial.bytesWaiting(), 7, 10000);
        QCOMPARE(serial.DrainInput(), 7);
        QCOMPARE(serial.bytesWaiting(), 0);
        // The device hangs up: the line says so at once, nothing more to
        // read, writing fails, closing works.
        QVERIFY(!serial.checkHungUp());
        peer.closeMaster();
        QVERIFY(serial.checkHungUp());
        QVERIFY(!serial.waitForInput(200));
        QCOMPARE(serial.ReadAvailable(buffer, 1), 0u);
        QCOMPARE(serial.DrainInput(), 0);
        QVERIFY(serial.Write("SSV", 3) <= 0);
        QCOMPARE(serial.Write("SSV", -1), -1);
        QCOMPARE(serial.Close(), 1);
    }

    void timeDifference_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("now");
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("clock");   // mode 0
        QTest::addColumn<QString>("seconds"); // mode 1
        const auto row = [](const char *name, QString start, QString now, int ms, QString clock,
                            QString seconds) {
            QTest::newRow(name) << start << now << ms << clock << seconds;
        };
        row("3725.5 s", "05-07 10:00:00.000", "05-07 11:02:05.500", 3725500, "1:02:05,500", "3725.500");
        row("month end", "01-31 23:59:59.000", "02-01 00:00:01.000", 86400000, "0:00:02,000", "2.000");
        row("future start", "05-07 10:00:01.100", "05-07 10:00:00.900", 86400000, "-0:00:00,200", "-0.200");
        row("30 days", "05-01 00:00:00.000", "05-31 00:00:00.000", INT_MAX, "720:00:00,000", "2592000.000");
    }
    void timeDifference()
    {
        QFETCH(QString, start);
        QFETCH(QString, now);
        const SYSTEMTIME from = at(start), to = at(now);
        QTEST(timeDiffBetween(from, to), "ms");
        QTEST(QString::fromStdString(timeDiffTextBetween(from, to, 0)), "clock");
        QTEST(QString::fromStdString(timeDiffTextBetween(from, to, 1)), "seconds");
        for (int mode : {2, -1})
            QCOMPARE(timeDiffTextBetween(from, to, mode), std::string("?"));
    }

    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    // Qt takes the process locale from the environment; with a comma as
    // the decimal sign there, every number read or written must still use
    // the point. The locale is made here, so the test always runs in it.
    void commaDecimalLocale()
    {
        QTemporaryDir locales;
        QProcess make;
        make.start("localedef", {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
        QVERIFY2(make.waitForFinished(120000) && make.exitCode() == 0,
                 qPrintable("localedef: " + make.errorString() + make.readAllStandardError()));
        qputenv("LOCPATH", locales.path().toLocal8Bit());
        OrboSim sim;
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8"));
        QCOMPARE(std::localeconv()->decimal_point, ",");
        CDeviceSession identified, simulated, reading;
        CDeviceConnection byDevice(identified), bySimulation(simulated);
        const Result found = byDevice.openAndIdentify(sim.path().toStdString(), "9600", false);
        // A simulated device needs no port.
        const Result made = bySimulation.openAndIdentify("", "9600", true);
        reading.port().setSimulated(true);
        reading.setFullScale(100.0);
        std::string echo, value;
        const bool read =
            reading.port().Open(reading.config()) == 1 && reading.Transact("PRE", echo, value) == 16;
        const std::string numbers = formatC("%.1f", SettingsDefaults::interval("250.6")) + " "
            + formatC("%g", 2.5) + " " + formatC("%g", atofC("2.5"));
        std::setlocale(LC_ALL, "C");
        QCOMPARE(found, Result::Connected);
        QCOMPARE(byDevice.model(), std::string("1000 mbar"));
        QCOMPARE(made, Result::Connected);
        QCOMPARE(bySimulation.model(), std::string("100 Torr"));
        QVERIFY(read);
        // 70 % of full scale plus a little noise, written with a point: "%g"
        // drops the decimals when the noise is tiny, so the number is read back.
        QVERIFY2(value.find(',') == std::string::npos, value.c_str());
        const double number = atofC(value);
        QVERIFY2(number >= 70.0 && number <= 70.0051, value.c_str());
        QCOMPARE(numbers, std::string("250.6 2.5 2.5"));
    }

    void connectFailures()
    {
        CDeviceSession session;
        CDeviceConnection connection(session);
        std::string shown;
        CDeviceConnection::Callbacks callbacks;
        callbacks.answer = [&](const std::string &text) { shown = text; };
        connection.setCallbacks(std::move(callbacks));
        const auto fails = [&](const std::string &port, const char *baud, Result result,
                               const std::string &message, const std::string &reason) {
            const bool failed = connection.Connect(port, baud, false) == result && shown == message
                && connection.openFailure() == reason && !connection.isOpen()
                && connection.revision().empty();
            if (!failed)
                qWarning("%s: %s (%s)", port.c_str(), shown.c_str(), connection.openFailure().c_str());
            return failed;
        };
        QVERIFY(fails("  ", "9600", Result::OpenFailed, "!! Can not open comport ! (no such device)",
                      "no such device"));
        // Every rate of the search stays silent.
        OrboSim sim({"--silent"});
        const std::string port = sim.path().toStdString();
        QVERIFY(fails(port, "auto", Result::NoAnswer,
                      "!! Fail ! No answer from ORBO. Try again after the device has been started.", ""));
        CDeviceSession other; // another program on the port
        other.config().port = port;
        QCOMPARE(other.port().Open(other.config()), 1);
        const std::string busy = "the port is busy: another program is using it";
        QVERIFY(fails(port, "9600", Result::OpenFailed,
                      "!! Can not open comport " + port + "! (" + busy + ")", busy));
    }

    // The suite runs in a network namespace of its own: only loopback is
    // there, and no route leads anywhere else, to the machine's name
    // servers least of all. (A UDP connect only looks the route up; nothing
    // is sent.)
    void ownNetwork_data()
    {
        QTest::addColumn<QString>("address");
        QFile resolver("/etc/resolv.conf");
        if (resolver.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : resolver.readAll().split('\n')) {
                const QList<QByteArray> words = line.simplified().split(' ');
                // One on loopback would be this namespace's own.
                if (words.size() >= 2 && words[0] == "nameserver" && !words[1].startsWith("127.")
                    && words[1] != "::1")
                    QTest::newRow(("name server " + words[1]).constData()) << QString(words[1]);
            }
        }
        QTest::newRow("private") << "10.0.0.1";
        QTest::newRow("global") << "11.0.0.1";
        QTest::newRow("global IPv6") << "2000::1";
    }
    void ownNetwork()
    {
        QFETCH(QString, address);
        QCOMPARE(networkInterfaces(), std::vector<std::string>{"lo"});
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo *target = nullptr;
        QCOMPARE(::getaddrinfo(address.toLatin1().constData(), "53", &hints, &target), 0);
        const int fd = ::socket(target->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int connected = ::connect(fd, target->ai_addr, target->ai_addrlen);
        const int error = errno;
        ::close(fd);
        ::freeaddrinfo(target);
        QCOMPARE(connected, -1);
        QCOMPARE(error, ENETUNREACH);
    }

    // Ports by URL, through Debian's ser2net in front of the simulator (raw
    // and RFC 2217) and through Telnet peers of our own: what connects, the
    // rate the search finds, and the reason each fault gives, at once or
    // after the bounded negotiation. %PEER% is the server's host:port.
    void networkPorts_data()
    {
        QTest::addColumn<QString>("server"); // raw, rfc2217, peer mode, or a URL
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<bool>("secondClient"); // another client holds the line
        QTest::addColumn<int>("result");
        QTest::addColumn<uint>("found");
        QTest::addColumn<QString>("reason"); // held by the open failure
        QTest::addColumn<int>("sessions");   // python3-serial's server: the search's
        const auto row = [](const char *name, const QString &server, const QStringList &simArgs,
                            const char *baud, bool second, Result result, uint found, const QString &reason) {
            QTest::newRow(name) << server << simArgs << baud << second << int(result) << found << reason << 0;
        };
        const QString busy = "the server holds the line: another client is using it";
        const QString noAnswer = "no RFC 2217 answer from %PEER% within 3 s";
        row("raw at the server's rate", "raw", {}, "9600", false, Result::Connected, 0, "");
        row("raw auto: the exchange is tried", "raw", {}, "auto", false, Result::Connected, 0, "");
        row("raw auto, wrong rate", "raw", {"--baud", "19200"}, "auto", false, Result::NoAnswer, 0, "");
        row("rfc2217 search finds the last rate", "rfc2217", {"--baud", "38400"}, "auto", false,
            Result::Connected, 38400, "");
        row("rfc2217 fixed rate", "rfc2217", {"--baud", "57600"}, "57600", false, Result::Connected, 0, "");
        // The search sets each rate inside the one session: this server takes
        // seconds to accept the next one.
        QTest::newRow("python3-serial's server: the search stays in one session")
            << "example" << QStringList{"--baud", "38400"} << "auto" << false << int(Result::Connected)
            << 38400u << "" << 1;
        QTest::newRow("python3-serial's server, no rate answers")
            << "example" << QStringList{"--baud", "1200"} << "auto" << false << int(Result::NoAnswer) << 0u
            << "" << 1;
        row("raw held by another", "raw", {}, "9600", true, Result::OpenFailed, 0,
            busy + " (Port already in use)");
        row("rfc2217 held by another", "rfc2217", {}, "9600", true, Result::OpenFailed, 0,
            busy); // the server's words may be lost in the reset of the refused session
        row("refused", "tcp://127.0.0.1:%FREE%", {}, "9600", false, Result::OpenFailed, 0,
            "127.0.0.1:%FREE% refused the connection");
        row("never answered", "tcp://127.0.0.1:%UNANSWERED%", {}, "9600", false, Result::OpenFailed, 0,
            "no answer from %PEER% within 3 s");
        // The suite runs where no name server can be reached.
        row("name without a name server", "rfc2217://no-such-host.invalid:2217", {}, "auto", false,
            Result::OpenFailed, 0, "the name no-such-host.invalid could not be looked up");
        row("peer refuses port control", "refuse", {}, "auto", false, Result::OpenFailed, 0,
            "%PEER% does not offer RFC 2217 port control");
        row("peer floods options", "flood", {}, "auto", false, Result::OpenFailed, 0,
            "%PEER% floods Telnet option traffic");
        row("peer sends garbage", "garbage", {}, "auto", false, Result::OpenFailed, 0, noAnswer);
        row("peer sends only data", "noise", {}, "auto", false, Result::OpenFailed, 0, noAnswer);
        row("peer never answers", "silent", {}, "auto", false, Result::OpenFailed, 0, noAnswer);
    }
    void networkPorts()
    {
        QFETCH(QString, server);
        QFETCH(QStringList, simArgs);
        QFETCH(QString, baud);
        QFETCH(bool, secondClient);
        QFETCH(QString, reason);
        QFETCH(int, result);
        NetworkPortUnderTest port;
        QVERIFY2(port.start(server, simArgs), qPrintable(port.error));
        QString url = port.url;
        url.replace("%FREE%", QString::number(Ser2Net::freePort()));
        reason.replace("%FREE%", url.section(':', -1)).replace("%PEER%", url.section('/', -1));

        CDeviceSession holder;
        CDeviceConnection first(holder);
        if (secondClient)
            QCOMPARE(first.openPort(url.toStdString(), baud.toStdString(), false), Result::Connected);
        CDeviceSession session;
        CDeviceConnection connection(session);
        const Result outcome = connection.openAndIdentify(url.toStdString(), baud.toStdString(), false);
        QVERIFY2(int(outcome) == result, connection.openFailure().c_str());
        QTEST(connection.foundBaud(), "found");
        QVERIFY2(QString::fromStdString(connection.openFailure()).contains(reason),
                 connection.openFailure().c_str());
        if (outcome == Result::Connected) {
            QCOMPARE(connection.model(), std::string("1000 mbar"));
            std::string echo, reply;
            QVERIFY(session.Transact("PRE", echo, reply) > 0);
        }
        if (port.example)
            QTEST(port.example->sessions(), "sessions");
    }

    // Line data crosses an RFC 2217 session unchanged, byte 255 and CR
    // included, with a server that asks for its options before we do; the
    // modem lines are set through the server as the port opens (after "no
    // flow control", 1): DTR on 8, off 9; RTS on 11, off 12. Both are
    // raised unless asked otherwise.
    void telnetData_data()
    {
        QTest::addColumn<int>("dtr"); // -1: as a configuration has it
        QTest::addColumn<int>("rts");
        QTest::addColumn<QString>("controls");
        QTest::newRow("by default both raised") << -1 << -1 << "1 8 11";
        QTest::newRow("lines left alone")
            << int(LineControl::Unchanged) << int(LineControl::Unchanged) << "1";
        QTest::newRow("DTR on, RTS off")
            << int(LineControl::Asserted) << int(LineControl::Released) << "1 8 12";
        QTest::newRow("DTR off, RTS on")
            << int(LineControl::Released) << int(LineControl::Asserted) << "1 9 11";
    }
    void telnetData()
    {
        QFETCH(int, dtr);
        QFETCH(int, rts);
        QFETCH(QString, controls);
        TelnetPeer peer("echo");
        QVERIFY(peer.isRunning());
        CSerialPort port;
        SerialConfig config;
        config.port = peer.url().toStdString();
        if (dtr >= 0) {
            config.dtr = LineControl(dtr);
            config.rts = LineControl(rts);
        }
        QVERIFY2(port.Open(config) == 1, port.openFailure().c_str());
        // What comes back for sent: expected bytes, else nothing.
        const auto exchange = [&](const std::string &sent, size_t expected) {
            std::string back(expected, '\0');
            const bool came = port.Write(sent.data(), int(sent.size())) == int(sent.size())
                && QTest::qWaitFor([&] { return port.bytesWaiting() >= int(expected); }, 5000)
                && port.ReadAvailable(back.data(), uint32_t(expected)) == expected;
            return came ? back : std::string();
        };
        std::string sent;
        for (int byte = 0; byte < 256; ++byte)
            sent += char(byte);
        sent += "\r\r\n\xff\xff\r";
        QCOMPARE(exchange(sent, sent.size()), sent);
        const std::string report = "CONTROL " + controls.toStdString() + "\n";
        QCOMPARE(exchange("CONTROL?\n", report.size()), report);
        QCOMPARE(port.bytesWaiting(), 0);
    }

    void consoleRetries()
    {
        PtyPeer peer;
        CDeviceSession session;
        CDeviceConnection connection(session);
        QCOMPARE(connection.openPort(peer.path(), "9600", false), Result::Connected);
        CCommandConsole console(session);
        // A silent first try is tried again.
        peer.serve({"", "PRE\r\n\r\n12.3\r\n"});
        auto outcome = console.send("PRE");
        QCOMPARE(peer.finish().size(), size_t(2));
        QVERIFY(outcome.answered && outcome.attempts == 2);
        QCOMPARE(outcome.text, std::string("12.3"));
        // In continuous sending there is no second try, and a "Can..." reply
        // shows the echo, as any failure.
        PtyPeer repeated;
        QVERIFY(connection.Disconnect());
        QCOMPARE(connection.openPort(repeated.path(), "9600", false), Result::Connected);
        repeated.serve({"XYZ\r\n\r\nCan not execute command\r\n"});
        outcome = console.sendRepeated("XYZ");
        QCOMPARE(repeated.finish().size(), size_t(1));
        QVERIFY(!outcome.answered && outcome.attempts == 1);
        QCOMPARE(outcome.result, -2);
        QCOMPARE(outcome.text, std::string("XYZ -> no answer!"));
    }

    // Silence, a drip without line end, a flood and garbage are failed
    // exchanges, never a lost device: identification keeps the revision
    // and names the steps without an answer (a failed SPR skips SFS and
    // AUN), a Send says " -> no answer!", and every exchange ends within
    // its total bound. A device that falls silent for a while answers
    // again. `device` is orbo-sim's arguments, or a pseudo-terminal peer's
    // answers (revision first) when it begins with "peer".
    void deviceBehaviours_data()
    {
        QTest::addColumn<QStringList>("device");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("unanswered"); // identification steps
        QTest::addColumn<int>("sends");          // made; at most, for a device that answers again
        QTest::addColumn<bool>("answersAgain");
        const QStringList revisionThen{"peer", "SSV\r\n\r\n1.02.21\r\n"};
        const QString flood(5000, 'x');
        const QString garbage = QString("\n\n\x1b]0;x\x07\r\n");
        QTest::newRow("silent after the revision") << QStringList{"--silent-after", "1"} << "9600"
                                                   << "PAN SNU SPR" << 1 << false;
        QTest::newRow("silent for a while")
            << QStringList{"--silent-after", "6", "--silent-ms", "1500"} << "9600"
            << "" << 8 << true;
        // Today's bound at 57600 bit/s: 200 ms + 2014 bytes at the rate.
        QTest::newRow("drip without line end")
            << QStringList{"--silent-after", "6", "--drip", "50"} << "57600"
            << "" << 2 << false;
        QTest::newRow("flood") << revisionThen + QStringList{flood, flood, flood, flood, flood} << "9600"
                               << "PAN SNU SPR" << 1 << false;
        QTest::newRow("garbage") << revisionThen + QStringList{garbage, garbage, garbage, garbage, garbage}
                                 << "9600"
                                 << "PAN SNU SPR" << 1 << false;
    }
    void deviceBehaviours()
    {
        QFETCH(QStringList, device);
        QFETCH(QString, baud);
        QFETCH(int, sends);
        QFETCH(bool, answersAgain);
        std::unique_ptr<OrboSim> sim;
        PtyPeer peer;
        std::string port = peer.path();
        if (device.value(0) == "peer") {
            std::vector<std::string> answers;
            for (const QString &answer : device.mid(1))
                answers.push_back(answer.toStdString());
            peer.serve(answers);
        } else {
            sim = std::make_unique<OrboSim>(device);
            port = sim->path().toStdString();
        }
        CDeviceSession session;
        CDeviceConnection connection(session);
        QCOMPARE(connection.openPort(port, baud.toStdString(), false), Result::Connected);
        session.config().readTimeout = 200;
        // However the device behaves, nothing here may wait longer than
        // its bounds: a watchdog cancels the exchanges after 20 s.
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!done.wait_for(lock, std::chrono::seconds(20), [&] { return finished; }))
                session.cancelExchanges();
        });
        const bool identified = connection.Identify();
        CCommandConsole console(session);
        CCommandConsole::Outcome outcome;
        int failed = 0;
        for (int i = 0; i < sends && !outcome.answered; ++i) {
            outcome = console.send("PRE");
            failed += !outcome.answered;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        done.notify_all();
        watchdog.join();
        QVERIFY2(!session.isCancelled(), "an exchange outlived its bound");
        QVERIFY(identified && !session.isLost());
        QCOMPARE(connection.revision(), std::string("1.02.21"));
        QStringList unanswered;
        for (const std::string &step : connection.unanswered())
            unanswered << QString::fromStdString(step);
        QTEST(unanswered.join(' '), "unanswered");
        if (answersAgain) {
            QVERIFY2(outcome.answered && failed >= 2, qPrintable(QString::number(failed)));
        } else {
            QVERIFY(!outcome.answered && !outcome.lost && outcome.attempts == 2);
            QVERIFY2(QString::fromStdString(outcome.text).endsWith(" -> no answer!"), outcome.text.c_str());
        }
        QVERIFY(connection.Disconnect());
        peer.closeMaster();
    }

    // A device that hangs up is lost at once and told once; reopening the
    // port fails while it is gone and brings the device back, with the
    // same settings, once it answers the revision again.
    void hangUpAndReturn()
    {
        const QString link = m_config.filePath("orbo");
        auto sim = std::make_unique<OrboSim>(QStringList{"--hang-up-after", "8", "--link", link});
        QVERIFY(!sim->path().isEmpty());
        CDeviceSession session;
        CDeviceConnection connection(session);
        std::atomic<int> told{0};
        session.setLossCallback([&](CDeviceSession::Loss) { ++told; });
        // Connecting takes 7 commands (six for the identity, then HLP).
        QCOMPARE(connection.Connect(link.toStdString(), "9600", false), Result::Connected);
        CCommandConsole console(session);
        CCommandConsole::Outcome outcome = console.send("PRE");
        QVERIFY(outcome.lost && !outcome.answered);
        QCOMPARE(outcome.attempts, 1); // a hung-up line gets no retry
        QCOMPARE(outcome.text, std::string("!! ORBO lost: the line hung up (unplugged or switched off)"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(link), 10000);
        QVERIFY(!session.reopenPort() && session.isLost());
        sim = std::make_unique<OrboSim>(QStringList{"--link", link});
        QVERIFY(session.reopenPort());
        QVERIFY(!session.isLost());
        outcome = console.send("PRE");
        QVERIFY(outcome.answered && outcome.attempts == 1);
        QCOMPARE(told.load(), 1);
        QVERIFY(connection.Disconnect());
        QVERIFY(!connection.isOpen());
    }

private:
    QTemporaryDir m_config;
};

int main(int argc, char **argv)
{
    enterOwnNetwork(argc, argv);
    QCoreApplication app(argc, argv);
    TestDevice test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_device.moc"
