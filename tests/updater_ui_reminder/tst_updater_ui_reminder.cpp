// The reminder: its settings store, the start-up rule, the settings window
// and the worker that runs a scheduled check.
#include "oledate.h"
#include "registryaccess.h"
#include "reminderschedule.h"
#include "scriptedprompt.h"
#include "updatereminderdlg.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace RS = ReminderSchedule;
Q_DECLARE_METATYPE(RS::Decision)

namespace {

const std::string kServer = "Spelmar/Updates";

std::string key()
{
    return RS::keyPath(kServer);
}

// Noon of 11 August 2014, exactly representable as an OLE date.
QDateTime noon()
{
    return QDateTime(QDate(2014, 8, 11), QTime(12, 0));
}

void writeValues(int active, int check, int interval, const std::string &lastUpdate)
{
    CRegistryAccess registry;
    if (active >= 0)
        registry.WriteDword(key(), RS::kActive, static_cast<std::uint32_t>(active));
    if (check >= 0)
        registry.WriteDword(key(), RS::kCheck, static_cast<std::uint32_t>(check));
    if (interval >= 0)
        registry.WriteDword(key(), RS::kInterval, static_cast<std::uint32_t>(interval));
    if (!lastUpdate.empty())
        registry.WriteString(key(), RS::kLastUpdate, lastUpdate);
}

void clearStore()
{
    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    store.clear();
    store.sync();
}

} // namespace

class TestReminder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { clearStore(); }

    void oleDates_data();
    void oleDates();
    void parseLikeAtof_data();
    void parseLikeAtof();

    void registryMissingValues();
    void keyPathKeepsSlash();

    void decision_data();
    void decision();
    void firstStartWritesDefaults();
    void switchedOffWritesNothing();

    void dialogLoads_data();
    void dialogLoads();
    void dialogEnablingRule();
    void dialogStores_data();
    void dialogStores();
    void dialogCancelStoresNothing();

    void workerRunsOnceAndStamps();

private:
    QTemporaryDir m_config;
};

void TestReminder::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void TestReminder::oleDates_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");
    QTest::newRow("noon 11 Aug 2014") << noon() << "41862.500000";
    QTest::newRow("epoch") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << "0.000000";
    QTest::newRow("six in the morning") << QDateTime(QDate(2014, 8, 11), QTime(6, 0))
                                        << "41862.250000";
}

void TestReminder::oleDates()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(formatOleDate(toOleDate(moment))), text);
}

void TestReminder::parseLikeAtof_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "41862.500000" << 41862.5;
    QTest::newRow("blanks and tail") << "  12.5xyz" << 12.5;
    QTest::newRow("comma ends the number") << "1,5" << 1.0;
    QTest::newRow("not a number") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("negative") << "-2.5" << -2.5;
}

void TestReminder::parseLikeAtof()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(parseOleDate(text.toStdString()), value);
}

void TestReminder::registryMissingValues()
{
    CRegistryAccess registry;
    std::uint32_t number = 7;
    std::string text = "old";
    QCOMPARE(registry.ReadDword(key(), "Active", number), CRegistryAccess::kNoKey);
    QCOMPARE(number, 0u);
    QCOMPARE(registry.ReadString(key(), "LastUpdate", text), CRegistryAccess::kNoString);
    QCOMPARE(text, std::string());

    // Longer than the reader's buffer: unreadable, not cut.
    QCOMPARE(registry.WriteString(key(), "LastUpdate", std::string(101, '1')), 0);
    QCOMPARE(registry.ReadString(key(), "LastUpdate", text), CRegistryAccess::kNoString);
    // A DWORD that holds text cannot be read and counts as 0.
    QCOMPARE(registry.WriteString(key(), "Check", "yes"), 0);
    QCOMPARE(registry.ReadDword(key(), "Check", number), CRegistryAccess::kNoKey);
    QCOMPARE(number, 0u);
}

void TestReminder::keyPathKeepsSlash()
{
    QCOMPARE(key(), std::string("Software\\Norvane\\AutoUpdate\\Spelmar/Updates"));
    writeValues(1, -1, -1, std::string());
    // The engine reads its host setting from the same group.
    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    QCOMPARE(store.value("Software/Norvane/AutoUpdate/Spelmar/Updates/Active").toInt(), 1);
}

void TestReminder::decision_data()
{
    QTest::addColumn<bool>("found");
    QTest::addColumn<uint>("active");
    QTest::addColumn<uint>("check");
    QTest::addColumn<uint>("interval");
    QTest::addColumn<double>("daysAgo");
    QTest::addColumn<RS::Decision>("expected");

    const double hour = 1.0 / 24.0;
    QTest::newRow("first start") << false << 0u << 0u << 0u << 0.0 << RS::Decision::Due;
    QTest::newRow("switched off") << true << 0u << 1u << 0u << 100.0 << RS::Decision::Off;
    QTest::newRow("each start") << true << 1u << 0u << 5u << 0.0 << RS::Decision::Due;
    QTest::newRow("4 days 23 hours of 5") << true << 1u << 1u << 5u << 4.0 + 23 * hour
                                          << RS::Decision::NotDue;
    QTest::newRow("exactly 5 days") << true << 1u << 1u << 5u << 5.0 << RS::Decision::Due;
    QTest::newRow("interval 0") << true << 1u << 1u << 0u << 0.0 << RS::Decision::Due;
    QTest::newRow("last update in the future") << true << 1u << 1u << 5u << -3.0
                                               << RS::Decision::NotDue;
    QTest::newRow("future, interval 0") << true << 1u << 1u << 0u << -0.5 << RS::Decision::NotDue;
    QTest::newRow("check 2 counts as 1") << true << 1u << 2u << 5u << 1.0 << RS::Decision::NotDue;
    QTest::newRow("active 2 counts as on") << true << 2u << 0u << 5u << 0.0 << RS::Decision::Due;
}

void TestReminder::decision()
{
    QFETCH(bool, found);
    QFETCH(uint, active);
    QFETCH(uint, check);
    QFETCH(uint, interval);
    QFETCH(double, daysAgo);
    QFETCH(RS::Decision, expected);

    // Through the store, so the stored text form takes part.
    const double now = toOleDate(noon());
    if (found)
        writeValues(static_cast<int>(active), static_cast<int>(check), static_cast<int>(interval),
                    formatOleDate(now - daysAgo));
    QCOMPARE(RS::decide(RS::read(key()), now), expected);
}

void TestReminder::firstStartWritesDefaults()
{
    const double now = toOleDate(noon());
    QCOMPARE(RS::evaluate(key(), now), RS::Decision::Due);
    const RS::Values values = RS::read(key());
    QVERIFY(values.activeFound);
    QCOMPARE(values.active, 1u);
    QCOMPARE(values.check, 0u);
    QCOMPARE(values.interval, 5u);
    QCOMPARE(values.lastUpdate, now);
}

void TestReminder::switchedOffWritesNothing()
{
    writeValues(0, -1, -1, std::string());
    QCOMPARE(RS::evaluate(key(), toOleDate(noon())), RS::Decision::Off);
    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    store.beginGroup("Software/Norvane/AutoUpdate/Spelmar/Updates");
    QCOMPARE(store.childKeys(), QStringList{"Active"});
}

void TestReminder::dialogLoads_data()
{
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("check");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("startup");
    QTest::addColumn<bool>("afterDays");
    QTest::addColumn<QString>("edit");

    QTest::newRow("on, each start") << 1 << 0 << 5 << true << true << false << "5";
    QTest::newRow("off, after days") << 0 << 1 << 12 << false << false << true << "12";
    QTest::newRow("check 2: no radio") << 1 << 2 << 3 << true << false << false << "3";
    QTest::newRow("nothing stored") << -1 << -1 << -1 << false << true << false << "0";
}

void TestReminder::dialogLoads()
{
    QFETCH(int, active);
    QFETCH(int, check);
    QFETCH(int, interval);
    QFETCH(bool, checked);
    QFETCH(bool, startup);
    QFETCH(bool, afterDays);
    QFETCH(QString, edit);

    writeValues(active, check, interval, std::string());
    ScriptedPrompt prompt;
    CUpdateReminderDlg dialog(prompt);
    dialog.setServerPath(kServer);
    QCOMPARE(dialog.windowTitle(), QString("Automatic Update Reminder  Version: 3.0.0"));
    dialog.show();
    QCOMPARE(dialog.findChild<QCheckBox *>("activeCheck")->isChecked(), checked);
    QCOMPARE(dialog.findChild<QRadioButton *>("startupRadio")->isChecked(), startup);
    QCOMPARE(dialog.findChild<QRadioButton *>("intervalRadio")->isChecked(), afterDays);
    QCOMPARE(dialog.findChild<QLineEdit *>("intervalEdit")->text(), edit);
    QCOMPARE(dialog.findChild<QLineEdit *>("intervalEdit")->isEnabled(), checked);
}

void TestReminder::dialogEnablingRule()
{
    writeValues(1, 0, 5, std::string());
    ScriptedPrompt prompt;
    CUpdateReminderDlg dialog(prompt);
    dialog.setServerPath(kServer);
    dialog.show();
    auto *active = dialog.findChild<QCheckBox *>("activeCheck");
    auto *edit = dialog.findChild<QLineEdit *>("intervalEdit");
    auto *startup = dialog.findChild<QRadioButton *>("startupRadio");
    auto *afterDays = dialog.findChild<QRadioButton *>("intervalRadio");
    // The edit stays usable while "each start" is selected.
    QVERIFY(edit->isEnabled() && startup->isEnabled() && afterDays->isEnabled());
    QTest::mouseClick(active, Qt::LeftButton);
    QVERIFY(!edit->isEnabled() && !startup->isEnabled() && !afterDays->isEnabled());
    QTest::mouseClick(active, Qt::LeftButton);
    QVERIFY(edit->isEnabled() && startup->isEnabled() && afterDays->isEnabled());

    // The radios exclude each other, and a second click keeps the choice.
    QTest::mouseClick(afterDays, Qt::LeftButton);
    QVERIFY(afterDays->isChecked() && !startup->isChecked());
    QTest::mouseClick(afterDays, Qt::LeftButton);
    QVERIFY(afterDays->isChecked() && !startup->isChecked());
}

void TestReminder::dialogStores_data()
{
    QTest::addColumn<int>("storedCheck");
    QTest::addColumn<bool>("switchOff");
    QTest::addColumn<bool>("chooseAfterDays");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<uint>("active");
    QTest::addColumn<uint>("check");
    QTest::addColumn<uint>("interval");

    QTest::newRow("after 7 days") << 0 << false << true << "7" << 1u << 1u << 7u;
    QTest::newRow("emptied edit") << 0 << false << false << "" << 1u << 0u << 0u;
    QTest::newRow("switched off keeps the rest") << 1 << true << true << "9" << 0u << 1u << 9u;
    QTest::newRow("check 2 untouched stores 0") << 2 << false << false << "5" << 1u << 0u << 5u;
}

void TestReminder::dialogStores()
{
    QFETCH(int, storedCheck);
    QFETCH(bool, switchOff);
    QFETCH(bool, chooseAfterDays);
    QFETCH(QString, typed);
    QFETCH(uint, active);
    QFETCH(uint, check);
    QFETCH(uint, interval);

    writeValues(1, storedCheck, 5, "41862.500000");
    ScriptedPrompt prompt;
    CUpdateReminderDlg dialog(prompt);
    dialog.setServerPath(kServer);
    dialog.show();
    if (switchOff)
        QTest::mouseClick(dialog.findChild<QCheckBox *>("activeCheck"), Qt::LeftButton);
    if (chooseAfterDays)
        dialog.findChild<QRadioButton *>("intervalRadio")->click();
    auto *edit = dialog.findChild<QLineEdit *>("intervalEdit");
    edit->setText(typed); // also while the switched-off reminder disables it
    QTest::mouseClick(dialog.findChild<QPushButton *>("okButton"), Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    const RS::Values values = RS::read(key());
    QCOMPARE(values.active, active);
    QCOMPARE(values.check, check);
    QCOMPARE(values.interval, interval);
    QCOMPARE(values.lastUpdate, 41862.5);
}

void TestReminder::dialogCancelStoresNothing()
{
    writeValues(1, 0, 5, std::string());
    ScriptedPrompt prompt;
    CUpdateReminderDlg dialog(prompt);
    dialog.setServerPath(kServer);
    dialog.show();
    QTest::mouseClick(dialog.findChild<QCheckBox *>("activeCheck"), Qt::LeftButton);
    QTest::keyClicks(dialog.findChild<QLineEdit *>("intervalEdit"), "3");
    QTest::mouseClick(dialog.findChild<QPushButton *>("cancelButton"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(RS::read(key()).active, 1u);
    QCOMPARE(RS::read(key()).interval, 5u);

    // Shown again, it reloads what is stored.
    writeValues(0, -1, 8, std::string());
    dialog.show();
    QVERIFY(!dialog.findChild<QCheckBox *>("activeCheck")->isChecked());
    QCOMPARE(dialog.findChild<QLineEdit *>("intervalEdit")->text(), QString("8"));
}

void TestReminder::workerRunsOnceAndStamps()
{
    ScriptedPrompt prompt;
    CUpdateReminderDlg scheduler(prompt);
    scheduler.prepare(kServer, "/nowhere/Spelmar.exe");
    std::atomic<int> runs{0};
    std::atomic<bool> scheduled{false};
    std::atomic<bool> stampedBefore{false};
    std::atomic<bool> release{false};
    scheduler.setCheckFunction([&](CUpdateReminderDlg &, const CUpdateReminderDlg::CheckRequest &r) {
        scheduled = r.scheduledRun && r.serverPath == kServer && r.programName == "Spelmar.exe";
        // The stamp is the present, not the moment of the first start.
        stampedBefore = RS::read(key()).lastUpdate > toOleDate(noon()) + 1000;
        ++runs;
        while (!release) // the check lasts until the test lets it end
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });

    QVERIFY(scheduler.StartSchedule(noon())); // first start: a check is due
    QVERIFY(scheduler.workerRunning());
    QVERIFY(scheduler.StartSchedule(noon())); // still running: no second worker
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(!scheduler.workerRunning(), 60000);
    scheduler.waitForWorker();
    QCOMPARE(runs.load(), 1);
    QVERIFY(scheduled);
    QVERIFY(stampedBefore);

    // Interval mode, stamped just now: nothing runs.
    writeValues(1, 1, 5, std::string());
    QVERIFY(scheduler.StartSchedule(QDateTime::currentDateTime()));
    QVERIFY(!scheduler.workerRunning());
    QCOMPARE(runs.load(), 1);
}

QTEST_MAIN(TestReminder)
#include "tst_updater_ui_reminder.moc"
