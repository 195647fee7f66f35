#include "cnumber.h"
#include "commandconsole.h"
#include "deviceconnection.h"
#include "devicesession.h"
#include "orbosim.h"
#include "ptypeer.h"
#include "settingsdefaults.h"

#include <QTemporaryDir>
#include <QtTest>

#include <clocale>

using Result = CDeviceConnection::Result;
Q_DECLARE_METATYPE(CDeviceConnection::Result)

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
        const Result made = bySimulation.openAndIdentify("1", "9600", true);
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
        QCOMPARE(value.substr(0, 5), std::string("70.00"));
        QCOMPARE(numbers, std::string("250.6 2.5 2.5"));
    }

    void connectFailures_data()
    {
        QTest::addColumn<QStringList>("simArgs"); // "held": another program has the port open
        QTest::addColumn<QString>("port");        // empty: the simulator's
        QTest::addColumn<QString>("baud");
        QTest::addColumn<Result>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reason"); // why the port did not open
        QTest::newRow("blank port") << QStringList() << "  "
                                    << "9600" << Result::OpenFailed << "!! Can not open comport !"
                                    << "no such device";
        QTest::newRow("port in use") << QStringList{"held"} << ""
                                     << "9600" << Result::OpenFailed << ""
                                     << "the port is busy: another program is using it";
        // Every rate of the search stays silent.
        QTest::newRow("silent auto")
            << QStringList{"--silent"} << ""
            << "auto" << Result::NoAnswer
            << "!! Fail ! No answer from ORBO. Try again after the device has been started."
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
        CDeviceSession other;
        if (held) {
            other.config().port = port.toStdString();
            QCOMPARE(other.port().Open(other.config()), 1);
            message = "!! Can not open comport " + port + "!";
        }
        CDeviceSession session;
        CDeviceConnection connection(session);
        std::string shown;
        CDeviceConnection::Callbacks callbacks;
        callbacks.answer = [&](const std::string &text) { shown = text; };
        connection.setCallbacks(std::move(callbacks));
        QTEST(connection.Connect(port.toStdString(), baud.toStdString(), false), "result");
        QCOMPARE(QString::fromStdString(shown), message);
        QTEST(QString::fromStdString(connection.openFailure()), "reason");
        QVERIFY(!connection.isOpen());
        QVERIFY(connection.revision().empty());
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

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestDeviceConnection)
#include "tst_deviceconnection.moc"
