#include "settingsdefaults.h"
#include "settingsfile.h"
#include "settingskeys.h"
#include "settingsstore.h"
#include "settings/updatesettings.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <sys/stat.h>
#include <string>
#include <vector>

class TestSettings : public QObject
{
    Q_OBJECT

    QString storeFolder() const { return m_config.filePath(SettingsKeys::kOrganisation); }

    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        // Before the first store is opened: the settings path is fixed then.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void init()
    {
        QDir(storeFolder()).removeRecursively();
        QSettings(QSettings::UserScope, SettingsKeys::kOrganisation, SettingsKeys::kApplication).clear();
    }

    void readBack()
    {
        // A key that holds only a subkey has no values; another key, none.
        const std::string own = SettingsKeys::kKeyPath;
        std::string read = "stale";
        QCOMPARE(CSettingsStore().WriteValue(own + "\\Sub", "Baud", "1"), CSettingsStore::kOk);
        QCOMPARE(CSettingsStore().ReadValue(own, "Baud", read), CSettingsStore::kNoValue);
        QCOMPARE(read, std::string());
        QCOMPARE(CSettingsStore().ReadValue("Software\\Norvane\\Other", "Sub", read), CSettingsStore::kNoKey);
        // Texts read back whole, longer than the 99 characters a registry
        // read would have taken and network ports included; a trailing
        // separator names the same key.
        for (const std::string &text :
             {std::string("  a=b;c#d \\e \"f\" [g] "), "/data/" + std::string(300, 'x'),
              std::string("rfc2217://[fe80::1%eth0]:4001"), "tcp://" + std::string(250, 'h') + ":65535"}) {
            QCOMPARE(CSettingsStore().WriteValue(own + "\\", "Baud", text), CSettingsStore::kOk);
            QCOMPARE(CSettingsStore().ReadValue(own, "Baud", read), CSettingsStore::kOk);
            QCOMPARE(read, text);
        }
    }

    void storedFileReadsTheSame()
    {
        // A settings file as the tracker has written it since its first
        // release, byte for byte: the names and texts must keep reading.
        QVERIFY(QDir().mkpath(storeFolder()));
        QFile file(storeFolder() + "/" + SettingsKeys::kApplication + ".conf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Software]\n"
                   "Norvane\\Dunvik\\Baud=9600\n"
                   "Norvane\\Dunvik\\ColorBack=0\n"
                   "Norvane\\Dunvik\\ColorLine=65280\n"
                   "Norvane\\Dunvik\\CommandHistory=PRE\\nHLP\n"
                   "Norvane\\Dunvik\\Comport=/dev/ttyUSB0\n"
                   "Norvane\\Dunvik\\PlotCommand=TMP\n"
                   "Norvane\\Dunvik\\T_Interval=0.5\n"
                   "Norvane\\Dunvik\\T_Log=1\n"
                   "Norvane\\Dunvik\\T_Size=30\n"
                   "Norvane\\Dunvik\\TraceFile=/home/\xc3\xa4rger/traces/trace.csv\n"
                   "Norvane\\Dunvik\\TracePath=/home/\xc3\xa4rger/traces/\n"
                   "Norvane\\Dunvik\\TraceTick=1\n");
        file.close();
        CSettingsStore store;
        QCOMPARE(store.value(SettingsKeys::kBaud), std::string("9600"));
        QCOMPARE(store.value(SettingsKeys::kComport), std::string("/dev/ttyUSB0"));
        QCOMPARE(store.value(SettingsKeys::kCommandHistory), std::string("PRE\nHLP"));
        QCOMPARE(SettingsDefaults::plotCommand(store.value(SettingsKeys::kPlotCommand)), std::string("TMP"));
        QCOMPARE(SettingsDefaults::color(store.value(SettingsKeys::kColorBack)), 0);
        QCOMPARE(SettingsDefaults::lineColor(store.value(SettingsKeys::kColorLine)), 65280);
        QCOMPARE(SettingsDefaults::interval(store.value(SettingsKeys::kInterval)), 100.0);
        QCOMPARE(SettingsDefaults::size(store.value(SettingsKeys::kSize)), 30.0);
        QVERIFY(SettingsDefaults::flag(store.value(SettingsKeys::kLog)));
        QVERIFY(SettingsDefaults::flag(store.value(SettingsKeys::kTraceTick)));
        QCOMPARE(store.value(SettingsKeys::kTracePath), std::string("/home/\xc3\xa4rger/traces/"));
        QCOMPARE(store.value(SettingsKeys::kTraceFile), std::string("/home/\xc3\xa4rger/traces/trace.csv"));
    }

    void brokenFiles_data()
    {
        QTest::addColumn<QString>("application");
        QTest::addColumn<QByteArray>("content");
        // The value that must survive; empty when nothing of the file is read.
        QTest::addColumn<QString>("kept");
        const QByteArray huge = "[Software]\n"
            + QByteArray("Norvane\\Dunvik\\Baud=9600\n").repeated(SettingsFile::kMaxFileBytes / 24);
        const QByteArray binary("\x7f"
                                "ELF\x02\x01\x00\x00\x00Comport=x\n",
                                17);
        for (const char *application : {SettingsKeys::kApplication, SettingsKeys::kUpdateApplication}) {
            const QByteArray own = application == std::string(SettingsKeys::kApplication)
                ? "Norvane\\Dunvik\\Baud=19200\n"
                : "Norvane\\AutoUpdate\\Spelmar\\Updates\\Host=19200\n";
            QTest::addRow("%s comment and line without =", application)
                << application << "# my port\n[Software]\n" + own + "left over\n"
                << "19200";
            QTest::addRow("%s garbage", application)
                << application << QByteArray("}{ ][ %% \n===\n\xe4\xf6") << "";
            QTest::addRow("%s binary", application) << application << binary << "";
            QTest::addRow("%s huge", application) << application << huge << "";
        }
    }
    void brokenFiles()
    {
        // A settings file that is not what a store writes is kept whole
        // beside it and named before a store writes, and the write that
        // follows succeeds.
        QFETCH(QString, application);
        QFETCH(QByteArray, content);
        QFETCH(QString, kept);
        const bool tracker = application == SettingsKeys::kApplication;
        const QString path = SettingsFile::path(SettingsKeys::kOrganisation, application);
        QCOMPARE(path, storeFolder() + "/" + application + ".conf");
        QVERIFY(QDir().mkpath(storeFolder()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();
        std::vector<std::string> notices;
        SettingsFile::setNoticeHandler([&notices](const std::string &text) { notices.push_back(text); });

        // Read, write and read again, through the store of that file.
        const std::string program = "Spelmar/Updates";
        auto read = [&] {
            return tracker ? CSettingsStore().value(SettingsKeys::kBaud)
                           : UpdateSettings::text(program, UpdateSettings::kHost);
        };
        QCOMPARE(QString::fromStdString(read()), kept);
        const bool written = tracker
            ? CSettingsStore().WriteValue(SettingsKeys::kComport, "/dev/ttyS0") == 0
            : UpdateSettings::setValue(UpdateSettings::keyPath(program), UpdateSettings::kTls, 1);
        QVERIFY(written);
        QCOMPARE(QString::fromStdString(read()), kept);
        SettingsFile::setNoticeHandler(nullptr);

        const QStringList copies =
            QDir(storeFolder()).entryList({application + ".conf.bad-*"}, QDir::Files | QDir::Hidden);
        QCOMPARE(copies.size(), 1);
        QVERIFY(QRegularExpression("^" + application + "\\.conf\\.bad-\\d{12}$").match(copies[0]).hasMatch());
        QFile copy(storeFolder() + "/" + copies[0]);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), content);
        QCOMPARE(notices.size(), std::size_t(1));
        const QString notice = QString::fromStdString(notices[0]);
        QVERIFY2(notice.contains(path) && notice.contains(copy.fileName()), qPrintable(notice));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(SettingsFile::inspect(file.readAll(), false), SettingsFile::State::Sound);
    }

    void notRegularFiles_data()
    {
        QTest::addColumn<QString>("application");
        QTest::addColumn<QString>("kind"); // fifo, device (a link to /dev/null), folder
        QTest::addColumn<QString>("named");
        for (const char *application : {SettingsKeys::kApplication, SettingsKeys::kUpdateApplication}) {
            QTest::addRow("%s FIFO", application) << application << "fifo"
                                                  << "is a FIFO";
            QTest::addRow("%s device", application) << application << "device"
                                                    << "is a device";
            QTest::addRow("%s folder", application) << application << "folder"
                                                    << "is a folder";
        }
    }
    void notRegularFiles()
    {
        // Opening a FIFO for reading waits for a writer, a device may be
        // anything, a folder cannot be read: each is named once, neither
        // read nor written nor moved, and the values read are the defaults.
        QFETCH(QString, application);
        QFETCH(QString, kind);
        const bool tracker = application == SettingsKeys::kApplication;
        const QString path = SettingsFile::path(SettingsKeys::kOrganisation, application);
        QVERIFY(QDir().mkpath(storeFolder()));
        QFile::remove(path);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "device")
            QVERIFY(QFile::link("/dev/null", path));
        else
            QVERIFY(QDir().mkpath(path));
        const QFileInfo before(path);
        std::vector<std::string> notices;
        SettingsFile::setNoticeHandler([&notices](const std::string &text) { notices.push_back(text); });
        const std::string program = "Spelmar/Updates";
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(tracker ? CSettingsStore().value(SettingsKeys::kBaud)
                             : UpdateSettings::text(program, UpdateSettings::kHost),
                     std::string());
            QVERIFY(
                !(tracker
                      ? CSettingsStore().WriteValue(SettingsKeys::kBaud, "9600") == CSettingsStore::kOk
                      : UpdateSettings::setValue(UpdateSettings::keyPath(program), UpdateSettings::kTls, 1)));
        }
        SettingsFile::setNoticeHandler(nullptr);
        QCOMPARE(notices.size(), std::size_t(1));
        QFETCH(QString, named);
        const QString notice = QString::fromStdString(notices[0]);
        QVERIFY2(notice.contains(path + " " + named) && notice.contains("defaults"), qPrintable(notice));
        const QFileInfo after(path);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.isFile(), false);
        QCOMPARE(QDir(storeFolder()).entryList({application + ".conf*"}, QDir::AllEntries | QDir::System),
                 QStringList(application + ".conf"));
        QVERIFY(QFile::remove(path) || QDir(path).removeRecursively());
        // A regular file in its place is read again.
        QVERIFY(!tracker || CSettingsStore().WriteValue(SettingsKeys::kBaud, "9600") == CSettingsStore::kOk);
        QVERIFY(!tracker || CSettingsStore().value(SettingsKeys::kBaud) == "9600");
    }

    void readerRules_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<double>("interval");
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("flag");
        QTest::addColumn<int>("color");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("sendInterval"); // ms, held from 10 to 10000
        QTest::addColumn<int>("lines");        // DTR, RTS: a LineControl; raised unless said
        const int raised = int(LineControl::Asserted);
        QTest::newRow("missing") << "" << 100.0 << 60.0 << false << 0x00FF00 << "PRE" << 200 << raised;
        QTest::newRow("below one") << "0.5" << 100.0 << 60.0 << false << 0 << "0.5" << 10 << raised;
        QTest::newRow("one") << "1" << 1.0 << 1.0 << true << 1 << "1" << 10 << raised;
        QTest::newRow("trailing text") << "20ms" << 20.0 << 20.0 << true << 20 << "20ms" << 20 << raised;
        QTest::newRow("negative") << "-1" << 100.0 << 60.0 << false << -1 << "-1" << 200 << raised;
        QTest::newRow("not a number") << "TMP" << 100.0 << 60.0 << false << 0 << "TMP" << 200 << raised;
        QTest::newRow("infinite") << "inf" << 100.0 << 60.0 << false << 0 << "inf" << 200 << raised;
        QTest::newRow("too large") << "99999999999" << 99999999999.0 << 99999999999.0 << true << INT_MAX
                                   << "99999999999" << 10000 << raised;
        QTest::newRow("line kept") << "keep" << 100.0 << 60.0 << false << 0 << "keep" << 200
                                   << int(LineControl::Unchanged);
        QTest::newRow("line off, any case")
            << "OFF" << 100.0 << 60.0 << false << 0 << "OFF" << 200 << int(LineControl::Released);
    }
    void readerRules()
    {
        QFETCH(QString, stored);
        QFETCH(int, color);
        const std::string text = stored.toStdString();
        QTEST(SettingsDefaults::interval(text), "interval");
        QTEST(SettingsDefaults::size(text), "size");
        QTEST(SettingsDefaults::flag(text), "flag");
        QCOMPARE(SettingsDefaults::lineColor(text), color);
        QCOMPARE(SettingsDefaults::color(text), text.empty() ? 0 : color);
        QTEST(QString::fromStdString(SettingsDefaults::plotCommand(text)), "command");
        QTEST(SettingsDefaults::sendInterval(text), "sendInterval");
        QTEST(int(SettingsDefaults::lineControl(text)), "lines");
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
