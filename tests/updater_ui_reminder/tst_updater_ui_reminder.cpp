// The reminder: its settings store, the start-up rule, the settings window
// and the worker that runs a scheduled check.
#include "ftpsettings.h"
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
const std::string kKey = UpdateSettings::keyPath(kServer);

// Noon of 11 August 2014, exactly representable as an OLE date.
const QDateTime kNoon(QDate(2014, 8, 11), QTime(12, 0));

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

// The settings window, shown on the values in the store.
struct Dialog
{
    ScriptedPrompt prompt;
    CUpdateReminderDlg window{prompt};
    Dialog()
    {
        window.setServerPath(kServer);
        window.show();
    }
    template <typename T>
    T *child(const char *name)
    {
        return window.findChild<T *>(name);
    }

    // "on"/"off", the chosen radio, the edit's text, whether the three
    // controls under the check box can be used.
    QString shown()
    {
        auto *startup = child<QRadioButton>("startupRadio");
        auto *afterDays = child<QRadioButton>("intervalRadio");
        auto *edit = child<QLineEdit>("intervalEdit");
        const int usable = edit->isEnabled() + startup->isEnabled() + afterDays->isEnabled();
        return QString("%1 %2 %3 %4")
            .arg(child<QCheckBox>("activeCheck")->isChecked() ? "on" : "off",
                 startup->isChecked()         ? "start"
                     : afterDays->isChecked() ? "days"
                                              : "none",
                 edit->text(),
                 usable == 3       ? "usable"
                     : usable == 0 ? "locked"
                                   : "mixed");
    }

    // Words: "toggle" clicks the check box, "days" the after-days radio,
    // "=TEXT" puts TEXT into the edit (even a locked one), "ok"/"cancel".
    void act(const QString &actions)
    {
        for (const QString &word : actions.split(' ', Qt::SkipEmptyParts)) {
            if (word == "toggle")
                QTest::mouseClick(child<QCheckBox>("activeCheck"), Qt::LeftButton);
            else if (word == "days")
                QTest::mouseClick(child<QRadioButton>("intervalRadio"), Qt::LeftButton);
            else if (word.startsWith('='))
                child<QLineEdit>("intervalEdit")->setText(word.mid(1));
            else
                QTest::mouseClick(child<QPushButton>(qPrintable(word + "Button")), Qt::LeftButton);
        }
    }
};

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

    void oleDates_data();
    void oleDates();
    void storedFile_data();
    void storedFile();
    void decision_data();
    void decision();
    void dialog_data();
    void dialog();
    void workerRunsOnceAndStamps();
    void workerStops_data();
    void workerStops();

private:
    QTemporaryDir m_config;
};

void TestReminder::oleDates_data()
{
    QTest::addColumn<QDateTime>("moment"); // formatted to text when valid
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value"); // what the text reads as
    QTest::newRow("noon 11 Aug 2014") << kNoon << "41862.500000" << 41862.5;
    QTest::newRow("epoch") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << "0.000000" << 0.0;
    QTest::newRow("blanks and tail") << QDateTime() << "  12.5xyz" << 12.5;
    QTest::newRow("comma ends the number") << QDateTime() << "1,5" << 1.0;
    QTest::newRow("not a number") << QDateTime() << "abc" << 0.0;
    QTest::newRow("empty") << QDateTime() << "" << 0.0;
    QTest::newRow("negative") << QDateTime() << "-2.5" << -2.5;
}

void TestReminder::oleDates()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    QFETCH(double, value);
    if (moment.isValid())
        QCOMPARE(QString::fromStdString(formatOleDate(toOleDate(moment))), text);
    QCOMPARE(parseOleDate(text.toStdString()), value);
}

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
    const QString values = QString("%1 %2 %3 %4")
                               .arg(v.activeFound ? QString::number(v.active) : "-")
                               .arg(v.check)
                               .arg(v.interval)
                               .arg(v.lastUpdate);
    const QStringList found = {
        values,
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

    const double hour = 1.0 / 24.0;
    QTest::newRow("first start") << "- - -" << 0.0 << RS::Decision::Due;
    QTest::newRow("switched off") << "0 1 0" << 100.0 << RS::Decision::Off;
    QTest::newRow("each start") << "1 0 5" << 0.0 << RS::Decision::Due;
    QTest::newRow("4 days 23 hours of 5") << "1 1 5" << 4.0 + 23 * hour << RS::Decision::NotDue;
    QTest::newRow("exactly 5 days") << "1 1 5" << 5.0 << RS::Decision::Due;
    QTest::newRow("interval 0") << "1 1 0" << 0.0 << RS::Decision::Due;
    QTest::newRow("last update in the future") << "1 1 5" << -3.0 << RS::Decision::NotDue;
    QTest::newRow("future, interval 0") << "1 1 0" << -0.5 << RS::Decision::NotDue;
    QTest::newRow("check 2 counts as 1") << "1 2 5" << 1.0 << RS::Decision::NotDue;
    QTest::newRow("active 2 counts as on") << "2 0 5" << 0.0 << RS::Decision::Due;
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
    QTest::addColumn<QString>("stored"); // Active Check Interval; "-": none
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("shownAfter");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("storedAfter");

    // A second click on a radio keeps the choice.
    QTest::newRow("each start, then after 7 days") << "1 0 5"
                                                   << "on start 5 usable"
                                                   << "days days =7"
                                                   << "on days 7 usable"
                                                   << "ok"
                                                   << "1 1 7";
    QTest::newRow("off, after days, switched on") << "0 1 12"
                                                  << "off days 12 locked"
                                                  << "toggle"
                                                  << "on days 12 usable"
                                                  << "ok"
                                                  << "1 1 12";
    QTest::newRow("check 2: no radio, stores 0") << "1 2 3"
                                                 << "on none 3 usable"
                                                 << ""
                                                 << "on none 3 usable"
                                                 << "ok"
                                                 << "1 0 3";
    QTest::newRow("nothing stored") << "- - -"
                                    << "off start 0 locked"
                                    << ""
                                    << "off start 0 locked"
                                    << "ok"
                                    << "0 0 0";
    QTest::newRow("emptied edit") << "1 0 5"
                                  << "on start 5 usable"
                                  << "="
                                  << "on start  usable"
                                  << "ok"
                                  << "1 0 0";
    QTest::newRow("switched off keeps the rest") << "1 1 5"
                                                 << "on days 5 usable"
                                                 << "toggle =9"
                                                 << "off days 9 locked"
                                                 << "ok"
                                                 << "0 1 9";
    QTest::newRow("cancel stores nothing") << "1 0 5"
                                           << "on start 5 usable"
                                           << "days toggle =3"
                                           << "off days 3 locked"
                                           << "cancel"
                                           << "1 0 5";
}

void TestReminder::dialog()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, actions);
    QFETCH(QString, shownAfter);
    QFETCH(QString, button);
    QFETCH(QString, storedAfter);

    writeValues(stored, "41862.500000");
    Dialog d;
    QCOMPARE(d.window.windowTitle(), QString("Automatic Update Reminder  Version: 3.0.0"));
    QCOMPARE(d.shown(), shown);
    d.act(actions);
    QCOMPARE(d.shown(), shownAfter);
    d.act(button);
    QVERIFY(!d.window.isVisible());
    QCOMPARE(storedValues(), storedAfter);
    QCOMPARE(RS::read(kKey).lastUpdate, 41862.5);

    // Shown again, it reloads what is stored.
    writeValues("0 1 8");
    d.window.show();
    QCOMPARE(d.shown(), QString("off days 8 locked"));
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
        stampedBefore = RS::read(kKey).lastUpdate > toOleDate(kNoon) + 1000;
        ++runs;
        while (!release) // the check lasts until the test lets it end
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });

    QVERIFY(scheduler.StartSchedule(kNoon)); // first start: a check is due
    QVERIFY(scheduler.workerRunning());
    QVERIFY(scheduler.StartSchedule(kNoon)); // still running: no second worker
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(!scheduler.workerRunning(), 60000);
    scheduler.waitForWorker();
    QCOMPARE(runs.load(), 1);
    QVERIFY(scheduled && stampedBefore);

    // Interval mode, stamped just now: nothing runs.
    writeValues("1 1 5");
    QVERIFY(scheduler.StartSchedule(QDateTime::currentDateTime()));
    QVERIFY(!scheduler.workerRunning());
    QCOMPARE(runs.load(), 1);
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
    ScriptedPrompt prompt;
    CUpdateReminderDlg scheduler(prompt);
    scheduler.prepare(kServer, "/nowhere/Spelmar.exe");
    std::atomic<bool> checking{false};
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> release{false};
    scheduler.setCheckFunction([&](CUpdateReminderDlg &, const CUpdateReminderDlg::CheckRequest &r) {
        checking = true;
        while (!release && !(checkGivesUp && r.cancel && r.cancel->load()))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sawCancel = r.cancel && r.cancel->load();
    });

    QVERIFY(scheduler.StartSchedule(kNoon));
    if (inCheck)
        QTRY_VERIFY_WITH_TIMEOUT(checking, 60000);
    QCOMPARE(scheduler.stopWorker(std::chrono::milliseconds(300)), stopped);
    QCOMPARE(scheduler.workerRunning(), !stopped);
    release = true;
    scheduler.waitForWorker();
    QCOMPARE(checking.load(), inCheck);
    QCOMPARE(sawCancel.load(), inCheck);
    // Stamped only when the wait was over.
    QCOMPARE(RS::read(kKey).lastUpdate > toOleDate(kNoon) + 1000, inCheck);

    // Stopped for good: a due check starts no worker.
    QVERIFY(scheduler.StartSchedule(kNoon));
    QVERIFY(!scheduler.workerRunning());
}

QTEST_MAIN(TestReminder)
#include "tst_updater_ui_reminder.moc"
