// The reminder: its settings store, the start-up rule, the settings window
// and the worker that runs a scheduled check.
#include "transfer/ftpsettings.h"
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
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace RS = ReminderSchedule;
Q_DECLARE_METATYPE(RS::Decision)

namespace {

const std::string kServer = "Spelmar/Updates";
const std::string kKey = UpdateSettings::keyPath(kServer);
const QDateTime kNoon(QDate(2014, 8, 11), QTime(12, 0)); // exactly representable as an OLE date

// Writes "ACTIVE CHECK INTERVAL" ("-" leaves a value out) and LastUpdate.
void writeValues(const QString &values, const std::string &lastUpdate = {})
{
    CRegistryAccess registry;
    const QStringList words = values.split(' ');
    const char *names[] = {UpdateSettings::kActive, UpdateSettings::kCheck, UpdateSettings::kInterval};
    for (int i = 0; i < 3; ++i)
        if (words[i] != "-")
            registry.WriteDword(kKey, names[i], words[i].toUInt());
    if (!lastUpdate.empty())
        registry.WriteString(kKey, UpdateSettings::kLastUpdate, lastUpdate);
}

QString storedValues()
{
    const RS::Values v = RS::read(kKey);
    return QString("%1 %2 %3").arg(v.active).arg(v.check).arg(v.interval);
}

bool stampedNow()
{
    return RS::read(kKey).lastUpdate > toOleDate(kNoon) + 1000;
}

} // namespace

class TestReminder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }
    void init() { QSettings(QSettings::UserScope, "Norvane", "AutoUpdate").clear(); }

    void storedFile_data();
    void storedFile();
    void decision_data();
    void decision();
    void dialog_data();
    void dialog();
    void restoreFromSettings();
    void askedChecksSkipPhases_data();
    void askedChecksSkipPhases();
    void workerStops_data();
    void workerStops();

private:
    QTemporaryDir m_config;
};

void TestReminder::storedFile_data()
{
    // Lines of the group of kServer, as the library writes them.
    QTest::addColumn<QByteArray>("lines");
    // Active Check Interval LastUpdate, host, TLS, CA file, whether the
    // read-only notice is still to be given.
    QTest::addColumn<QString>("read");
    QTest::newRow("every value") << QByteArray(
        "Active=1\n"
        "CAFile=/etc/ssl/ca one.pem\n"
        "Check=1\n"
        "Host=ftpes://127.0.0.1:2121\n"
        "Interval=7\n"
        "LastUpdate=41862.500000\n"
        "ReadOnlyNotice=1\n"
        "TLS=when offered\n") << "1 1 7 41862.5|ftpes://127.0.0.1:2121|when offered|/etc/ssl/ca one.pem|told";
    QTest::newRow("none") << QByteArray() << "- 0 0 0|ftp.norvane.com|||to tell";
    // Longer than the reader's buffer: unreadable, not cut. A DWORD that
    // holds text counts as 0.
    QTest::newRow("unreadable") << QByteArray(
        "Active=0\nCheck=yes\nHost=  \nLastUpdate=" + QByteArray(101, '1') + "\n")
                                << "0 0 0 0|ftp.norvane.com|||to tell";
}

void TestReminder::storedFile()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, read);
    QVERIFY(QDir().mkpath(m_config.filePath("Norvane")));
    QFile store(m_config.filePath("Norvane/AutoUpdate.conf"));
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[Software]\n");
    for (const QByteArray &line : lines.split('\n'))
        if (!line.isEmpty())
            store.write("Norvane\\AutoUpdate\\Spelmar\\Updates\\" + line + "\n");
    store.close();
    qunsetenv(kFtpHostEnv);

    const RS::Values v = RS::read(kKey);
    const QStringList found = {
        QString("%1 %2 %3 %4")
            .arg(v.activeFound ? QString::number(v.active) : "-")
            .arg(v.check)
            .arg(v.interval)
            .arg(v.lastUpdate),
        QString::fromStdString(ftpServerHost(kServer)),
        QString::fromStdString(UpdateSettings::text(kServer, UpdateSettings::kTls)),
        QString::fromStdString(UpdateSettings::text(kServer, UpdateSettings::kCaFile)),
        RS::takeReadOnlyNotice(kKey) ? "to tell" : "told",
    };
    QCOMPARE(found.join('|'), read);
}

void TestReminder::decision_data()
{
    QTest::addColumn<QString>("values"); // Active Check Interval; "-": none
    QTest::addColumn<double>("daysAgo");
    QTest::addColumn<RS::Decision>("expected");
    QTest::newRow("first start") << "- - -" << 0.0 << RS::Decision::Due;
    QTest::newRow("switched off") << "0 1 0" << 100.0 << RS::Decision::Off;
    QTest::newRow("each start") << "1 0 5" << 0.0 << RS::Decision::Due;
    QTest::newRow("4 days 23 hours of 5") << "1 1 5" << 4.0 + 23 / 24.0 << RS::Decision::NotDue;
    QTest::newRow("exactly 5 days") << "1 1 5" << 5.0 << RS::Decision::Due;
    QTest::newRow("future, interval 0") << "1 1 0" << -0.5 << RS::Decision::NotDue;
    QTest::newRow("check 2 counts as 1") << "1 2 5" << 1.0 << RS::Decision::NotDue;
}

void TestReminder::decision()
{
    QFETCH(QString, values);
    QFETCH(double, daysAgo);
    QFETCH(RS::Decision, expected);
    // Through the store, so the stored text form takes part.
    const double now = toOleDate(kNoon);
    const bool firstStart = values == "- - -";
    if (!firstStart)
        writeValues(values, formatOleDate(now - daysAgo));
    QCOMPARE(RS::evaluate(kKey, now), expected);
    if (firstStart) { // the defaults are written
        QCOMPARE(storedValues(), QString("1 0 5"));
        QCOMPARE(RS::read(kKey).lastUpdate, now);
    }
}

void TestReminder::dialog_data()
{
    // Stored before|shown|actions|shown before the last action|stored after.
    // Stored: Active Check Interval ("-": none). Shown: on/off, the chosen
    // radio, the edit's text, whether the controls under the check box can
    // be used. Actions: "toggle" the check box, "days" the after-days radio,
    // "=TEXT" into the edit, then "ok"/"cancel".
    QTest::addColumn<QString>("run");
    // A second click on a radio keeps the choice.
    QTest::newRow("each start, then after 7 days")
        << "1 0 5|on start 5 usable|days days =7 ok|on days 7 usable|1 1 7";
    QTest::newRow("off, after days, switched on")
        << "0 1 12|off days 12 locked|toggle ok|on days 12 usable|1 1 12";
    QTest::newRow("check 2: no radio, stores 0") << "1 2 3|on none 3 usable|ok|on none 3 usable|1 0 3";
    QTest::newRow("nothing stored") << "- - -|off start 0 locked|ok|off start 0 locked|0 0 0";
    QTest::newRow("emptied edit") << "1 0 5|on start 5 usable|= ok|on start  usable|1 0 0";
    QTest::newRow("cancel stores nothing")
        << "1 0 5|on start 5 usable|days toggle =3 cancel|off days 3 locked|1 0 5";
}

void TestReminder::dialog()
{
    QFETCH(QString, run);
    const QStringList parts = run.split('|');
    const QString stored = parts[0], shown = parts[1], actions = parts[2], shownAfter = parts[3],
                  storedAfter = parts[4];
    writeValues(stored, "41862.500000");
    ScriptedPrompt prompt;
    CUpdateReminderDlg window{prompt};
    window.setServerPath(kServer);
    window.show();
    auto *active = window.findChild<QCheckBox *>("activeCheck");
    auto *startup = window.findChild<QRadioButton *>("startupRadio");
    auto *afterDays = window.findChild<QRadioButton *>("intervalRadio");
    auto *edit = window.findChild<QLineEdit *>("intervalEdit");
    const auto state = [&] {
        const int usable = edit->isEnabled() + startup->isEnabled() + afterDays->isEnabled();
        return QString("%1 %2 %3 %4")
            .arg(active->isChecked() ? "on" : "off",
                 startup->isChecked()         ? "start"
                     : afterDays->isChecked() ? "days"
                                              : "none",
                 edit->text(),
                 usable == 3       ? "usable"
                     : usable == 0 ? "locked"
                                   : "mixed");
    };
    QCOMPARE(state(), shown);
    QString after;
    for (const QString &word : actions.split(' ')) {
        if (word == "toggle")
            QTest::mouseClick(active, Qt::LeftButton);
        else if (word == "days")
            QTest::mouseClick(afterDays, Qt::LeftButton);
        else if (word.startsWith('='))
            edit->setText(word.mid(1));
        else {
            after = state();
            QTest::mouseClick(window.findChild<QPushButton *>(word + "Button"), Qt::LeftButton);
        }
    }
    QCOMPARE(after, shownAfter);
    QVERIFY(!window.isVisible());
    QCOMPARE(storedValues(), storedAfter);
    QCOMPARE(RS::read(kKey).lastUpdate, 41862.5);
}

// The settings window leads to the restore of a kept release, also when
// the server has nothing newer; an abandoned choice starts nothing.
void TestReminder::restoreFromSettings()
{
    ScriptedPrompt prompt;
    CUpdateReminderDlg window{prompt};
    window.prepare(kServer, "/opt/tools/spelmar");
    std::string offered;
    window.setRestoreChooser([&offered](const std::string &folder, std::string &) {
        offered = folder;
        return false;
    });
    window.show();
    auto *restore = window.findChild<QPushButton *>("restoreButton");
    QVERIFY(restore);
    QCOMPARE(restore->text(), QString("Restore older release ..."));
    QTest::mouseClick(restore, Qt::LeftButton);
    QCOMPARE(offered, std::string("/opt/tools/spelmar"));
    QVERIFY(prompt.boxes().empty());
    QVERIFY(window.isVisible());
}

void TestReminder::askedChecksSkipPhases_data()
{
    QTest::addColumn<bool>("button"); // "Look for updates now", else UpdateInfo's call
    QTest::newRow("Look for updates now") << true;
    QTest::newRow("UpdateInfo") << false;
}

void TestReminder::askedChecksSkipPhases()
{
    QFETCH(bool, button);
    ScriptedPrompt prompt;
    CUpdateReminderDlg window{prompt};
    window.prepare(kServer, "/nowhere/Spelmar.exe");
    std::atomic<int> runs{0};
    std::atomic<bool> asked{false}, onWindowThread{false};
    window.setCheckFunction([&](CUpdateReminderDlg &, const CUpdateReminderDlg::CheckRequest &r) {
        asked = r.ignorePhases && !r.scheduledRun && r.programName == "Spelmar.exe";
        onWindowThread = QThread::currentThread() == qApp->thread();
        ++runs;
    });
    if (button) {
        window.show();
        auto *now = window.findChild<QPushButton *>("checkNowButton");
        QVERIFY(now);
        QCOMPARE(now->text(), QString("Look for updates now"));
        QTest::mouseClick(now, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(runs == 1, 60000);
        window.waitForWorker();
    } else {
        window.CheckForUpdates(kServer);
    }
    QCOMPARE(runs.load(), 1);
    QVERIFY(asked);
    QCOMPARE(onWindowThread.load(), !button);
    QVERIFY(!stampedNow()); // not a reminder's run
}

void TestReminder::workerStops_data()
{
    QTest::addColumn<bool>("inCheck");      // stopped in the check, else in the wait before it
    QTest::addColumn<bool>("checkGivesUp"); // the check ends when it sees the cancel
    QTest::addColumn<bool>("stopped");      // the worker ended within the bound
    QTest::newRow("in the wait") << false << true << true;
    QTest::newRow("in a check that gives up") << true << true << true;
    QTest::newRow("in a check that holds on") << true << false << false;
}

void TestReminder::workerStops()
{
    QFETCH(bool, inCheck);
    QFETCH(bool, checkGivesUp);
    QFETCH(bool, stopped);
    // A check that runs until released (or, when it gives up, until cancelled).
    ScriptedPrompt prompt;
    CUpdateReminderDlg scheduler(prompt);
    std::atomic<int> runs{0};
    std::atomic<bool> scheduled{false}, stampedBefore{false}, sawCancel{false}, release{false};
    scheduler.prepare(kServer, "/nowhere/Spelmar.exe");
    scheduler.setCheckFunction([&](CUpdateReminderDlg &, const CUpdateReminderDlg::CheckRequest &r) {
        scheduled = r.scheduledRun && r.serverPath == kServer && r.programName == "Spelmar.exe";
        stampedBefore = stampedNow(); // the present, not the first start's moment
        ++runs;
        while (!release && !(checkGivesUp && r.cancel && r.cancel->load()))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sawCancel = r.cancel && r.cancel->load();
    });
    QVERIFY(scheduler.StartSchedule(kNoon));
    if (inCheck) {
        QTRY_VERIFY_WITH_TIMEOUT(runs == 1, 60000);
        QVERIFY(scheduler.StartSchedule(kNoon)); // still running: no second worker
    }
    QCOMPARE(scheduler.stopWorker(std::chrono::milliseconds(300)), stopped);
    QCOMPARE(scheduler.workerRunning(), !stopped);
    release = true;
    scheduler.waitForWorker();
    QCOMPARE(runs.load(), int(inCheck));
    QCOMPARE(scheduled && stampedBefore, inCheck);
    QCOMPARE(sawCancel.load(), inCheck);
    QCOMPARE(stampedNow(), inCheck); // stamped only when the wait was over

    // Stopped for good: a due check starts no worker.
    QVERIFY(scheduler.StartSchedule(kNoon));
    QVERIFY(!scheduler.workerRunning());
}

QTEST_MAIN(TestReminder)
#include "tst_updater_ui_reminder.moc"
