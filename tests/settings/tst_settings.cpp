#include "settingsdefaults.h"
#include "settingskeys.h"
#include "settingsstore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <cmath>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void missingKeyAndValue();
    void keyPathSpelling();
    void storeCannotBeWritten();
    void numberRules_data();
    void numberRules();
    void flagsColorsCommand_data();
    void flagsColorsCommand();

private:
    QString storeFolder() const { return m_config.filePath(SettingsKeys::kOrganisation); }

    QTemporaryDir m_config;
};

void TestSettings::initTestCase()
{
    // Before the first store is opened: the settings path is fixed then.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void TestSettings::init()
{
    QDir(storeFolder()).removeRecursively();
    QFile::remove(storeFolder());
    QSettings(QSettings::UserScope, SettingsKeys::kOrganisation, SettingsKeys::kApplication).clear();
}

void TestSettings::roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("port") << SettingsKeys::kComport << "3";
    QTest::newRow("baud") << SettingsKeys::kBaud << "auto";
    QTest::newRow("empty text") << SettingsKeys::kPlotCommand << "";
    QTest::newRow("blanks kept") << SettingsKeys::kPlotCommand << "  PRE  ";
    QTest::newRow("separators") << SettingsKeys::kTraceFile << "a=b;c#d \\e \"f\" [g]";
    QTest::newRow("non-ASCII") << SettingsKeys::kTraceFile << "/home/\u00e4rger/m\u00fc.csv";
    // Longer than the 99 characters a registry read would have taken.
    QTest::newRow("long folder") << SettingsKeys::kTracePath
                                 << "/data/" + QString(300, 'x') + "/traces/";
}

void TestSettings::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    const std::string value = text.toStdString();
    QCOMPARE(CSettingsStore().WriteValue(name.toStdString(), value), CSettingsStore::kOk);
    // A separate object, as every reader makes its own.
    CSettingsStore store;
    std::string read = "stale";
    QCOMPARE(store.ReadValue(name.toStdString(), read), CSettingsStore::kOk);
    QCOMPARE(read, value);
    QCOMPARE(store.Status(), CSettingsStore::kOk);
    QCOMPARE(store.Value(name.toStdString()), value);
    QVERIFY(QFile::exists(storeFolder() + "/" + SettingsKeys::kApplication + ".conf"));
    // Overwriting with a shorter text leaves nothing of the old one.
    QCOMPARE(store.WriteValue(name.toStdString(), "1"), CSettingsStore::kOk);
    QCOMPARE(store.Value(name.toStdString()), std::string("1"));
}

void TestSettings::missingKeyAndValue()
{
    CSettingsStore store;
    std::string value = "stale";
    QCOMPARE(store.ReadValue(SettingsKeys::kComport, value), CSettingsStore::kNoKey);
    QCOMPARE(value, std::string());
    QCOMPARE(store.Status(), CSettingsStore::kNoKey);

    QCOMPARE(store.WriteValue(SettingsKeys::kBaud, "9600"), CSettingsStore::kOk);
    value = "stale";
    QCOMPARE(store.ReadValue(SettingsKeys::kComport, value), CSettingsStore::kNoValue);
    QCOMPARE(value, std::string());
    QCOMPARE(store.Value(SettingsKeys::kComport), std::string());
    // Another key next to ours is still missing as a whole.
    QCOMPARE(store.ReadValue("Software\\Norvane\\Other", SettingsKeys::kBaud, value),
             CSettingsStore::kNoKey);
}

void TestSettings::keyPathSpelling()
{
    CSettingsStore store;
    QCOMPARE(store.WriteValue("Software\\Norvane\\Dunvik\\", SettingsKeys::kBaud, "19200"),
             CSettingsStore::kOk);
    QCOMPARE(store.Value(SettingsKeys::kBaud), std::string("19200"));
    // Values of different keys do not meet.
    QCOMPARE(store.WriteValue("Software\\Norvane\\Other", SettingsKeys::kBaud, "auto"),
             CSettingsStore::kOk);
    QCOMPARE(store.Value(SettingsKeys::kBaud), std::string("19200"));
}

void TestSettings::storeCannotBeWritten()
{
    CSettingsStore store;
    QCOMPARE(store.WriteValue(SettingsKeys::kComport, "2"), CSettingsStore::kOk);
    // The store's folder becomes a plain file: nothing can be saved there,
    // whoever runs the test.
    QVERIFY(QDir(storeFolder()).removeRecursively());
    QFile blocker(storeFolder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    int status = store.WriteValue(SettingsKeys::kComport, "5");
    QVERIFY2(status == CSettingsStore::kNoKey || status == CSettingsStore::kWriteFailed,
             qPrintable(QString::number(status)));
    QCOMPARE(store.Status(), status);
    // The value went with its folder; a read finds nothing and says so.
    std::string value = "stale";
    QCOMPARE(store.ReadValue(SettingsKeys::kComport, value), CSettingsStore::kNoKey);
    QCOMPARE(value, std::string());
    QVERIFY(QFileInfo(storeFolder()).isFile());
}

void TestSettings::numberRules_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<double>("interval");
    QTest::addColumn<double>("size");
    QTest::newRow("missing") << "" << 100.0 << 60.0;
    QTest::newRow("below one") << "0.5" << 100.0 << 60.0;
    QTest::newRow("one") << "1" << 1.0 << 1.0;
    QTest::newRow("plain") << "250" << 250.0 << 250.0;
    QTest::newRow("trailing text") << "20ms" << 20.0 << 20.0;
    QTest::newRow("negative") << "-5" << 100.0 << 60.0;
    QTest::newRow("not a number") << "abc" << 100.0 << 60.0;
    QTest::newRow("nan") << "nan" << 100.0 << 60.0;
    QTest::newRow("infinite") << "inf" << 100.0 << 60.0;
}

void TestSettings::numberRules()
{
    QFETCH(QString, stored);
    QFETCH(double, interval);
    QFETCH(double, size);
    QCOMPARE(SettingsDefaults::interval(stored.toStdString()), interval);
    QCOMPARE(SettingsDefaults::size(stored.toStdString()), size);
}

void TestSettings::flagsColorsCommand_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("command");
    QTest::newRow("missing") << "" << false << 0 << "PRE";
    QTest::newRow("one") << "1" << true << 1 << "1";
    QTest::newRow("zero") << "0" << false << 0 << "0";
    QTest::newRow("two") << "2" << true << 2 << "2";
    QTest::newRow("negative") << "-1" << false << -1 << "-1";
    QTest::newRow("colour") << "16711680" << true << 16711680 << "16711680";
    QTest::newRow("too large") << "99999999999" << true << INT_MAX << "99999999999";
    QTest::newRow("text") << "TMP" << false << 0 << "TMP";
}

void TestSettings::flagsColorsCommand()
{
    QFETCH(QString, stored);
    QFETCH(bool, flag);
    QFETCH(int, color);
    QFETCH(QString, command);
    QCOMPARE(SettingsDefaults::flag(stored.toStdString()), flag);
    QCOMPARE(SettingsDefaults::color(stored.toStdString()), color);
    QCOMPARE(SettingsDefaults::plotCommand(stored.toStdString()), command.toStdString());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
