#include "commandconsole.h"
#include "deviceconnection.h"
#include "devicesession.h"
#include "cnumber.h"
#include "orbosim.h"
#include "ptypeer.h"
#include "settingsdefaults.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <clocale>
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
    int closed = 0;

    explicit Recorder(CDeviceConnection &connection)
    {
        CDeviceConnection::Callbacks callbacks;
        callbacks.answer = [this](const std::string &text) { answers.push_back(text); };
        callbacks.linkOpened = [this](bool ok) { opened += ok; };
        callbacks.linkClosed = [this] { ++closed; };
        connection.setCallbacks(std::move(callbacks));
    }
    QString last() const { return answers.empty() ? QString() : QString::fromStdString(answers.back()); }
};

} // namespace

class TestDeviceConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    // Qt takes the process locale from the environment; with a comma as
    // the decimal sign there, every number read or written must still use
    // the point. The locale is made here, so the test always runs in it.
    void localeSensitive_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("identified model") << 0 << "1000 mbar";
        QTest::newRow("simulated model") << 1 << "100 Torr";
        QTest::newRow("simulated reading") << 2 << "70.00";
        QTest::newRow("stored interval") << 3 << "250.6";
        QTest::newRow("number helpers") << 4 << "2.5 2.5";
    }

    void localeSensitive()
    {
        QFETCH(int, kind);
        QVERIFY(m_locales.isValid());
        if (!QFileInfo::exists(m_locales.filePath("de_DE.UTF-8"))) {
            QProcess make;
            make.start("localedef", {"-i", "de_DE", "-f", "UTF-8", m_locales.filePath("de_DE.UTF-8")});
            QVERIFY2(make.waitForFinished(120000) && make.exitCode() == 0,
                     qPrintable("localedef: " + make.errorString() + make.readAllStandardError()));
        }
        qputenv("LOCPATH", m_locales.path().toLocal8Bit());
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8"));
        QCOMPARE(std::localeconv()->decimal_point, ",");

        std::string actual;
        CDeviceSession session;
        CDeviceConnection connection(session);
        std::unique_ptr<OrboSim> sim;
        if (kind == 0) {
            sim = std::make_unique<OrboSim>();
            QVERIFY2(!sim->path().isEmpty(), qPrintable(sim->errorString()));
        }
        std::string echo;
        switch (kind) {
        case 0:
        case 1:
            QCOMPARE(connection.openAndIdentify(sim ? sim->path().toStdString() : "1", "9600", !sim),
                     Result::Connected);
            actual = connection.model();
            break;
        case 2:
            session.port().setSimulated(true);
            session.setFullScale(100.0);
            QCOMPARE(session.port().Open(session.config()), 1);
            QCOMPARE(session.Transact("PRE", echo, actual), 16);
            actual = actual.substr(0, 5);
            break;
        case 3: actual = formatC("%.1f", SettingsDefaults::interval("250.6")); break;
        default: actual = formatC("%g", 2.5) + " " + formatC("%g", atofC("2.5"));
        }
        std::setlocale(LC_ALL, "C");
        QTEST(QString::fromStdString(actual), "expected");
    }

    void connectToSimulator_data()
    {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<int>("openings");
        QTest::newRow("fixed 19200") << "19200" << 1;
        // 9600 and 57600 stay silent; 19200 answers the probe.
        QTest::newRow("auto search") << "auto" << 3;
    }

    void connectToSimulator()
    {
        QFETCH(QString, baud);
        QFETCH(int, openings);
        OrboSim sim({"--baud", "19200"});
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        CDeviceSession session;
        CDeviceConnection connection(session);
        Recorder recorder(connection);
        QCOMPARE(connection.Connect(sim.path().toStdString(), baud.toStdString(), false), Result::Connected);
        QCOMPARE(recorder.opened, openings);
        QCOMPARE(recorder.closed, openings - 1);
        QCOMPARE(session.config().baudRate, 19200u);
        QCOMPARE(connection.foundBaud(), baud == "auto" ? 19200u : 0u);
        QCOMPARE(session.config().readTimeout, 2000u);
        QCOMPARE(recorder.last(), QString(">> OK, ready to operate!"));
        const std::string opened =
            ">> Connection to ORBO on comport " + sim.path().toStdString() + " successfull!";
        QCOMPARE(int(std::count(recorder.answers.begin(), recorder.answers.end(), opened)), openings);

        QCOMPARE(connection.revision(), std::string("1.02.21"));
        QCOMPARE(connection.part(), std::string("ORBO Sim 100"));
        QCOMPARE(connection.serial(), std::string("4711 042"));
        QCOMPARE(connection.model(), std::string("1000 mbar"));
        QCOMPARE(session.fullScale(), 1000.0);
        const auto &list = connection.commandList();
        QVERIFY(std::any_of(list.begin(), list.end(),
                            [](const std::string &entry) { return entry.rfind("SSV: ", 0) == 0; }));

        QVERIFY(connection.Disconnect());
        QVERIFY(!connection.isOpen());
        QVERIFY(connection.revision().empty());
    }

    void connectFailures_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("port"); // empty: the simulator's
        QTest::addColumn<QString>("baud");
        QTest::addColumn<Result>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reason"); // why the port did not open

        const QString noAnswer =
            "!! Fail ! No answer from ORBO. Try again after the device has been started.";
        const QStringList none;
        const QString noDevice = "no such device";
        QTest::newRow("no such port")
            << none << "/dev/no-such-orbo"
            << "9600" << Result::OpenFailed << "!! Can not open comport /dev/no-such-orbo!" << noDevice;
        QTest::newRow("garbage port")
            << none << "COM#;x"
            << "auto" << Result::OpenFailed << "!! Can not open comport COM#;x!" << noDevice;
        QTest::newRow("blank port") << none << "  "
                                    << "9600" << Result::OpenFailed << "!! Can not open comport !"
                                    << noDevice;
        QTest::newRow("port in use") << QStringList{"held"} << ""
                                     << "9600" << Result::OpenFailed << ""
                                     << "the port is busy: another program is using it";
        QTest::newRow("silent fixed") << QStringList{"--silent"} << ""
                                      << "9600" << Result::NoAnswer << noAnswer << "";
        QTest::newRow("silent auto") << QStringList{"--silent"} << ""
                                     << "auto" << Result::NoAnswer << noAnswer << "";
        QTest::newRow("wrong fixed baud") << QStringList{"--baud", "19200"} << ""
                                          << "38400" << Result::NoAnswer << noAnswer << "";
        QTest::newRow("boot state") << QStringList{"--boot"} << ""
                                    << "9600" << Result::BootState
                                    << "!! Fail ! No answer from ORBO. Check the device is not in "
                                       "boot state. Else wait one minute"
                                    << "";
    }

    void connectFailures()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, port);
        QFETCH(QString, baud);
        QFETCH(QString, message);
        const bool held = simArgs.removeAll("held") > 0;
        std::unique_ptr<OrboSim> sim;
        if (port.isEmpty()) {
            sim = std::make_unique<OrboSim>(simArgs);
            QVERIFY2(!sim->path().isEmpty(), qPrintable(sim->errorString()));
            port = sim->path();
        }
        CDeviceSession other; // another program on the same port
        if (held) {
            other.config().port = port.toStdString();
            QCOMPARE(other.port().Open(other.config()), 1);
            message = "!! Can not open comport " + port + "!";
        }
        CDeviceSession session;
        CDeviceConnection connection(session);
        Recorder recorder(connection);
        QTEST(connection.Connect(port.toStdString(), baud.toStdString(), false), "result");
        QCOMPARE(recorder.last(), message);
        QTEST(QString::fromStdString(connection.openFailure()), "reason");
        QVERIFY(!connection.isOpen());
        QVERIFY(connection.revision().empty());
    }

    void consoleExchange_data()
    {
        QTest::addColumn<QStringList>("script"); // what the device sends per exchange
        QTest::addColumn<bool>("repeated");      // continuous sending
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("result");   // INT_MIN: any
        QTest::addColumn<QString>("text"); // a pattern the whole answer matches

        QTest::newRow("second try answered")
            << QStringList{"", "PRE\r\n\r\n12.3\r\n"} << false << "PRE" << 2 << true << INT_MIN << "12\\.3";
        QTest::newRow("silent device shows echo") << QStringList{"STA\r\n\r\n", "STA\r\n\r\n"} << false
                                                  << "STA" << 2 << false << -1 << "STA -> no answer!";
        // In continuous sending a "Can..." reply shows the echo, as any failure.
        QTest::newRow("repeated send, no second try")
            << QStringList{"XYZ\r\n\r\nCan not execute command\r\n"} << true << "XYZ" << 1 << false << -2
            << "XYZ -> no answer!";
        // A reply line far longer than the exchange buffer is cut off.
        QTest::newRow("flooding device") << QStringList{"PRE\r\n\r\n" + QString(5000, '7') + "\r\n"} << false
                                         << "PRE" << 1 << true << CDeviceSession::kMaxCollected
                                         << QString("7{1,%1}").arg(CDeviceSession::kExchangeBufferSize - 1);
        // A command the exchange buffer cannot hold is not sent, and says so.
        QTest::newRow("command too long")
            << QStringList{} << false << QString(2016, 'C') << 0 << false << -1 << "Command too long!";
    }

    void consoleExchange()
    {
        QFETCH(QStringList, script);
        QFETCH(bool, repeated);
        QFETCH(QString, command);
        QFETCH(int, result);
        QFETCH(QString, text);
        PtyPeer peer;
        QVERIFY(peer.isValid());
        CDeviceSession session;
        CDeviceConnection connection(session);
        QCOMPARE(connection.openPort(peer.path(), "9600", false), Result::Connected);
        std::vector<std::string> answers;
        for (const QString &answer : script)
            answers.push_back(answer.toStdString());
        peer.serve(answers);
        CCommandConsole console(session);
        const auto outcome =
            repeated ? console.sendRepeated(command.toStdString()) : console.send(command.toStdString());
        QCOMPARE(int(peer.finish().size()), outcome.attempts);
        QTEST(outcome.attempts, "attempts");
        QTEST(outcome.answered, "answered");
        if (result != INT_MIN)
            QCOMPARE(outcome.result, result);
        const QString shown = QString::fromStdString(outcome.text);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(text)).match(shown).hasMatch(),
                 qPrintable(shown.left(80)));
    }

    void deviceHangsUp()
    {
        auto sim = std::make_unique<OrboSim>();
        QVERIFY(!sim->path().isEmpty());
        CDeviceSession session;
        CDeviceConnection connection(session);
        QCOMPARE(connection.Connect(sim->path().toStdString(), "9600", false), Result::Connected);
        sim.reset(); // the device vanishes
        const auto outcome = CCommandConsole(session).send("PRE");
        QVERIFY(!outcome.answered);
        QVERIFY(QString::fromStdString(outcome.text).endsWith(" -> no answer!"));
        QVERIFY(connection.Disconnect());
        QVERIFY(!connection.isOpen());
    }

    void history_data()
    {
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("repeat moves to front")
            << QStringList{"SSV", "PAN", "SSV"} << QStringList{"SSV", "PAN"};
        QTest::newRow("blank ignored") << QStringList{"SSV", "  ", ""} << QStringList{"SSV"};
        QStringList many, kept;
        for (int i = 0; i < 25; ++i)
            many << QString("C%1").arg(i);
        for (int i = 24; i >= 5; --i)
            kept << QString("C%1").arg(i);
        QTest::newRow("twenty kept") << many << kept;
    }

    void history()
    {
        QFETCH(QStringList, sent);
        CDeviceSession session;
        CCommandConsole console(session);
        for (const QString &command : sent)
            console.remember(command.toStdString());
        QStringList actual;
        for (const std::string &command : console.history())
            actual << QString::fromStdString(command);
        QTEST(actual, "expected");
    }

private:
    QTemporaryDir m_config;
    QTemporaryDir m_locales;
};

QTEST_GUILESS_MAIN(TestDeviceConnection)
#include "tst_deviceconnection.moc"
