#include "downloadjob.h"
#include "fileaside.h"
#include "ftpfileclient.h"
#include "ftpserver.h"
#include "programpath.h"
#include "recordingreport.h"
#include "testfiles.h"
#include "restorejob.h"
#include "updatecheck.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <memory>

namespace {

const QString kUpdates = QStringLiteral("Spelmar/Updates");
// An expected file that must not exist.
const QByteArray kAbsent("\x01<absent>");

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QStringList headLines(const QString &serverPath = kUpdates)
{
    return {"... Preparing download from server!", "... connect to the NORVANE server",
            "... set path (" + serverPath + ")", "... check remote revision file"};
}

QStringList compareLines()
{
    return {"... check local revision file", "... compare new files"};
}

QStringList transferLines(const QStringList &fileLines)
{
    return QStringList{"---- start transfer ----"} + fileLines
        + QStringList{"---- end transfer ----", "... update local revision file",
                      "  ok!  updated local revision file"};
}

const QStringList kEndLines{"   ", "  End of download procedure!! "};

const QString kNoConnection =
    QStringLiteral("No connection to the NORVANE ftp server!\nSwitch off the automatic updates!");

std::time_t fixedMoment()
{
    std::tm local{};
    local.tm_year = 2014 - 1900;
    local.tm_mon = 7;
    local.tm_mday = 11;
    local.tm_hour = 7;
    local.tm_min = 30;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

const QString kBackupName = QStringLiteral("201408110730");

} // namespace

class TestEngineUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void downloadRun_data();
    void downloadRun();
    void droppedDataConnection();
    void cancelledRun();
    void secondRunInTheSameMinute();

    void checkMessage_data();
    void checkMessage();
    void checkYesAsksForReleaseNotes();
    void checkPurgesAsideFiles();

    void setAside_data();
    void setAside();
    void endOfRunQuestion_data();
    void endOfRunQuestion();
    void programPathSplit_data();
    void programPathSplit();

private:
    QString updateFolder() const { return m_root.filePath("server/" + kUpdates); }
    QString programFolder() const { return m_root.filePath("program"); }
    void fillServer(const Files &files);
    void fillProgram(const Files &files);

    QTemporaryDir m_config;
    QTemporaryDir m_work;
    QDir m_root;
    std::unique_ptr<FtpTestServer> m_server;
};

void TestEngineUpdate::initTestCase()
{
    QVERIFY(m_config.isValid());
    QVERIFY(m_work.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    QVERIFY(QDir(m_work.path()).mkpath("server"));
    m_server = std::make_unique<FtpTestServer>(m_work.filePath("server"));
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    qputenv("MORAVEL_FTP_HOST", m_server->host().toLocal8Bit());
}

void TestEngineUpdate::init()
{
    // Every case starts with an empty update directory and program folder.
    m_root = QDir(m_work.path());
    QDir(m_root.filePath("server/Spelmar")).removeRecursively();
    QDir(programFolder()).removeRecursively();
    QVERIFY(m_root.mkpath(updateFolder()));
    QVERIFY(m_root.mkpath(programFolder()));
}

void TestEngineUpdate::fillServer(const Files &files)
{
    for (auto it = files.begin(); it != files.end(); ++it)
        writeFile(updateFolder() + "/" + it.key(), it.value());
}

void TestEngineUpdate::fillProgram(const Files &files)
{
    for (auto it = files.begin(); it != files.end(); ++it)
        writeFile(programFolder() + "/" + it.key(), it.value());
}

void TestEngineUpdate::downloadRun_data()
{
    QTest::addColumn<Files>("server");
    QTest::addColumn<Files>("installed");
    QTest::addColumn<bool>("takeAll");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Files>("after");      // program files afterwards (subset)
    QTest::addColumn<Files>("backup");     // whole backup folder; kAbsent key "" = none made
    QTest::addColumn<bool>("allArrived");
    QTest::addColumn<QStringList>("offeredAgain"); // names the next check lists

    const QByteArray oldRel = "Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.00\r\n";
    const Files noBackup{{QString(), kAbsent}};

    QTest::newRow("one newer file")
        << Files{{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\nMoravel.so;1.00.00\r\n"},
                 {"Spelmar.exe", "new exe"}, {"Moravel.so", "lib"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}, {"Moravel.so", "lib"}}
        << false << kUpdates
        << headLines() + compareLines() + transferLines({"  ok!    Spelmar.exe"}) + kEndLines
        << Files{{"Spelmar.exe", "new exe"}, {"Moravel.so", "lib"},
                 {"RelInfoLocal.rel", "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << true << QStringList();

    QTest::newRow("nothing newer")
        << Files{{"RelInfoRemote.rel", oldRel}, {"Spelmar.exe", "new exe"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false << kUpdates
        << headLines() + compareLines() + QStringList{" end! No updates found!"} + kEndLines
        << Files{{"Spelmar.exe", "old exe"}, {"RelInfoLocal.rel", oldRel}}
        << Files{{"RelInfoLocal.rel", oldRel}}
        << true << QStringList();

    QTest::newRow("take all")
        << Files{{"RelInfoRemote.rel", oldRel}, {"Spelmar.exe", "new exe"}, {"Moravel.so", "new lib"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}, {"Moravel.so", "lib"}}
        << true << kUpdates
        << headLines() + compareLines()
            + transferLines({"  ok!    Spelmar.exe", "  ok!    Moravel.so"}) + kEndLines
        << Files{{"Spelmar.exe", "new exe"}, {"Moravel.so", "new lib"}, {"RelInfoLocal.rel", oldRel}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}, {"Moravel.so", "lib"}}
        << true << QStringList();

    QTest::newRow("percent name has no backup copy")
        << Files{{"RelInfoRemote.rel", "%Settings.ini; 1.00.00\r\n"}, {"%Settings.ini", "new ini"}}
        << Files{{"RelInfoLocal.rel", "%Settings.ini; 0.09.00\r\n"}, {"%Settings.ini", "old ini"}}
        << false << kUpdates
        << headLines() + compareLines() + transferLines({"  ok!    %Settings.ini"}) + kEndLines
        << Files{{"%Settings.ini", "new ini"}, {"RelInfoLocal.rel", "%Settings.ini; 1.00.00\r\n"}}
        << Files{{"RelInfoLocal.rel", "%Settings.ini; 0.09.00\r\n"}}
        << true << QStringList();

    QTest::newRow("new sub-folder, one level")
        << Files{{"RelInfoRemote.rel", "lib\\Core.so; 1.00.00\r\n"}, {"lib/Core.so", "core"}}
        << Files{{"RelInfoLocal.rel", oldRel}}
        << false << kUpdates
        << headLines() + compareLines() + transferLines({"  ok!    lib\\Core.so"}) + kEndLines
        << Files{{"lib/Core.so", "core"}, {"RelInfoLocal.rel", oldRel + "lib\\Core.so; 1.00.00\r\n"}}
        << Files{{"RelInfoLocal.rel", oldRel}}
        << true << QStringList();

    QTest::newRow("two-level sub-folder, first level missing")
        << Files{{"RelInfoRemote.rel", "plugins\\net\\Net.so; 1.00.00\r\nSpelmar.exe; 3.01.02\r\n"},
                 {"plugins/net/Net.so", "net"}, {"Spelmar.exe", "new exe"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false << kUpdates
        << headLines() + compareLines()
            + transferLines({" fail!    plugins\\net\\Net.so", "  ok!    Spelmar.exe"}) + kEndLines
        << Files{{"plugins/net/Net.so", kAbsent}, {"Spelmar.exe", "new exe"},
                 {"RelInfoLocal.rel",
                  "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\nplugins\\net\\Net.so; 0.00.00\r\n"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false << QStringList{"plugins\\net\\Net.so"};

    QTest::newRow("file missing on the server")
        << Files{{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\nHelp.txt; 2.00.00\r\n"},
                 {"Spelmar.exe", "new exe"}}
        << Files{{"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\nHelp.txt; 1.00.00\r\n"},
                 {"Spelmar.exe", "old exe"}, {"Help.txt", "old help"}}
        << false << kUpdates
        << headLines() + compareLines()
            + transferLines({"  ok!    Spelmar.exe", " fail!    Help.txt"}) + kEndLines
        << Files{{"Spelmar.exe", "new exe"}, {"Help.txt", "old help"},
                 {"RelInfoLocal.rel", "Spelmar.exe; 3.01.02\r\nHelp.txt; 1.00.00\r\n"}}
        << Files{{"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\nHelp.txt; 1.00.00\r\n"},
                 {"Spelmar.exe", "old exe"}, {"Help.txt", "old help"}}
        << false << QStringList{"Help.txt"};

    QTest::newRow("no local revision file")
        << Files{{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\nMoravel.so ;1.00.00; extra\r\n"},
                 {"Spelmar.exe", "new exe"}, {"Moravel.so", "lib"}}
        << Files{{"Spelmar.exe", "old exe"}}
        << false << kUpdates
        << headLines() + compareLines()
            + transferLines({"  ok!    Spelmar.exe", "  ok!    Moravel.so"}) + kEndLines
        << Files{{"Spelmar.exe", "new exe"}, {"Moravel.so", "lib"},
                 {"RelInfoLocal.rel", "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n"}}
        << Files{{"Spelmar.exe", "old exe"}}
        << true << QStringList();

    QTest::newRow("missing update directory")
        << Files{{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"}, {"Spelmar.exe", "new exe"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false << QStringLiteral("Spelmar/Nowhere")
        << QStringList(headLines("Spelmar/Nowhere").mid(0, 3)) + kEndLines
        << Files{{"Spelmar.exe", "old exe"}, {"RelInfoLocal.rel", oldRel}}
        << noBackup << false << QStringList();

    QTest::newRow("no revision file on the server")
        << Files{{"Spelmar.exe", "new exe"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false << kUpdates
        << headLines() + kEndLines
        << Files{{"Spelmar.exe", "old exe"}, {"RelInfoLocal.rel", oldRel}}
        << noBackup << false << QStringList();

    const QByteArray goodLib = "lib 1.00.01";
    QTest::newRow("hash mismatch")
        << Files{{"RelInfoRemote.rel",
                  "Spelmar.exe; 3.01.02; " + sha256("another exe") + "\r\nMoravel.so; 1.00.01;"
                      + sha256(goodLib).toUpper() + "\r\n"},
                 {"Spelmar.exe", "new exe"}, {"Moravel.so", goodLib}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}, {"Moravel.so", "lib"}}
        << false << kUpdates
        << headLines() + compareLines()
            + transferLines({" fail!    Spelmar.exe", "  ok!    Moravel.so"}) + kEndLines
        << Files{{"Spelmar.exe", "old exe"}, {"Moravel.so", goodLib},
                 {"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.01\r\n"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}, {"Moravel.so", "lib"}}
        << false << QStringList{"Spelmar.exe"};

    // The server root holds evil.sh next to the Spelmar folder, so a name
    // that climbs out of the update directory would find a file.
    QTest::newRow("names that leave the program folder")
        << Files{{"RelInfoRemote.rel",
                  "..\\evil.sh; 1.00.00\r\n../../evil.sh; 1.00.00\r\n/tmp/evil.sh; 1.00.00\r\n"
                  "C:\\evil.sh; 1.00.00\r\nlib\\..\\..\\evil.sh; 1.00.00\r\nbad\x01name; 1.00.00\r\n"
                  "Spelmar.exe; 3.01.02\r\n"},
                 {"../../evil.sh", "evil"}, {"Spelmar.exe", "new exe"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false << kUpdates
        << headLines() + compareLines()
            + transferLines({" fail!    ..\\evil.sh", " fail!    ../../evil.sh", " fail!    /tmp/evil.sh",
                             " fail!    C:\\evil.sh", " fail!    lib\\..\\..\\evil.sh",
                             " fail!    bad\x01name", "  ok!    Spelmar.exe"})
            + kEndLines
        << Files{{"Spelmar.exe", "new exe"},
                 {"RelInfoLocal.rel", "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n"}}
        << Files{{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}
        << false
        << QStringList{"..\\evil.sh", "../../evil.sh", "/tmp/evil.sh", "C:\\evil.sh",
                       "lib\\..\\..\\evil.sh", "bad\x01name"};
}

void TestEngineUpdate::downloadRun()
{
    QFETCH(Files, server);
    QFETCH(Files, installed);
    QFETCH(bool, takeAll);
    QFETCH(QString, serverPath);
    QFETCH(QStringList, lines);
    QFETCH(Files, after);
    QFETCH(Files, backup);
    QFETCH(bool, allArrived);
    QFETCH(QStringList, offeredAgain);

    fillServer(server);
    fillProgram(installed);
    const Files outsideBefore = readTree(m_root.path() + "/server");

    RecordingReport report;
    ScriptedPrompt prompt;
    CDownloadJob job(report, &prompt, serverPath.toStdString(), programFolder().toStdString(),
                     takeAll, m_server->host().toStdString());
    job.setClock(fixedMoment);
    QVERIFY(job.start());
    QVERIFY(report.waitFinished());
    job.wait();

    QCOMPARE(report.lines(), lines);
    QCOMPARE(report.finishedCount(), 1);
    QCOMPARE(report.progress(), 100);
    QVERIFY(prompt.texts().isEmpty());
    QCOMPARE(job.result().allArrived(), allArrived);

    const Files now = readTree(programFolder());
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (it.value() == kAbsent)
            QVERIFY2(!now.contains(it.key()), qPrintable(it.key()));
        else
            QCOMPARE(now.value(it.key(), kAbsent), it.value());
    }
    // Nothing set aside or half-written stays behind, and nothing was
    // written outside the program folder.
    for (const QString &name : now.keys())
        QVERIFY2(!QFileInfo(name).fileName().startsWith("upd_") && !name.contains(".part"),
                 qPrintable(name));
    QCOMPARE(readTree(m_root.path() + "/server"), outsideBefore);
    QVERIFY(!QFile::exists(m_root.filePath("evil.sh")));

    const QString backupFolder = programFolder() + "/" + kBackupName;
    if (backup.value(QString()) == kAbsent)
        QVERIFY(!QFileInfo::exists(backupFolder));
    else
        QCOMPARE(readTree(backupFolder), backup);

    if (serverPath != kUpdates || !server.contains("RelInfoRemote.rel"))
        return;
    // What did not arrive is offered by the next check.
    ScriptedPrompt checkPrompt;
    CFtpFileClient client(&checkPrompt, m_server->host().toStdString());
    CUpdateCheck check(client, checkPrompt);
    check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "", false);
    QCOMPARE(check.lastOutcome(), offeredAgain.isEmpty() ? CUpdateCheck::Outcome::NothingNewer
                                                         : CUpdateCheck::Outcome::NewerFiles);
    for (const QString &name : offeredAgain)
        QVERIFY2(QString::fromStdString(check.lastMessage()).contains("->> " + name + " \n"),
                 qPrintable(name));
}

void TestEngineUpdate::droppedDataConnection()
{
    QByteArray big(300000, 'n');
    fillServer({{"RelInfoRemote.rel", "Big.bin; 2.00.00\r\nSmall.txt; 2.00.00\r\n"},
                {"Big.bin", big}, {"Small.txt", "new small"}});
    const QByteArray oldRel = "Big.bin; 1.00.00\r\nSmall.txt; 1.00.00\r\n";
    fillProgram({{"RelInfoLocal.rel", oldRel}, {"Big.bin", "old big"}, {"Small.txt", "old small"}});

    FtpTestServer dropping(m_work.filePath("server"),
                           {"--drop-after-bytes", "Spelmar/Updates/Big.bin:40000"});
    QVERIFY2(dropping.start(), qPrintable(dropping.errorText()));

    RecordingReport report;
    CDownloadJob job(report, nullptr, kUpdates.toStdString(), programFolder().toStdString(), false,
                     dropping.host().toStdString());
    job.setClock(fixedMoment);
    QVERIFY(job.start());
    QVERIFY(report.waitFinished());
    job.wait();

    const QStringList lines = report.lines();
    QVERIFY(lines.contains(" fail!    Big.bin"));
    QVERIFY(lines.contains("  ok!    Small.txt"));
    const Files now = readTree(programFolder());
    QCOMPARE(now.value("Big.bin"), QByteArray("old big"));
    QCOMPARE(now.value("Small.txt"), QByteArray("new small"));
    QCOMPARE(now.value("RelInfoLocal.rel"), QByteArray("Big.bin; 1.00.00\r\nSmall.txt; 2.00.00\r\n"));
    const QString backup = kBackupName + "/";
    QCOMPARE(now.keys(), QStringList({backup + "Big.bin", backup + "RelInfoLocal.rel",
                                      backup + "Small.txt", "Big.bin", "RelInfoLocal.rel",
                                      "RelInfoRemote.rel", "Small.txt"}));
    QVERIFY(!job.result().allArrived());
}

void TestEngineUpdate::cancelledRun()
{
    fillServer({{"RelInfoRemote.rel", "A.txt; 2.00.00\r\nB.txt; 2.00.00\r\nC.txt; 2.00.00\r\n"},
                {"A.txt", "new a"}, {"B.txt", "new b"}, {"C.txt", "new c"}});
    const QByteArray oldRel = "A.txt; 1.00.00\r\nB.txt; 1.00.00\r\nC.txt; 1.00.00\r\n";
    fillProgram({{"RelInfoLocal.rel", oldRel}, {"A.txt", "old a"}, {"B.txt", "old b"},
                 {"C.txt", "old c"}});

    RecordingReport report;
    CDownloadJob job(report, nullptr, kUpdates.toStdString(), programFolder().toStdString(), false,
                     m_server->host().toStdString());
    // "abort and exit" while B.txt is on its way.
    report.onLine = [&job](const std::string &line) {
        if (line == " copy -> B.txt")
            job.cancel();
    };
    QVERIFY(job.start());
    QVERIFY(report.waitFinished());
    job.wait();

    QCOMPARE(job.result().outcome, CDownloadJob::Outcome::Cancelled);
    const QStringList lines = report.lines();
    QVERIFY(lines.contains("  ok!    A.txt"));
    QVERIFY(!lines.contains("  ok!    B.txt"));
    QVERIFY(!lines.contains(" copy -> C.txt"));
    QVERIFY(!lines.contains("... update local revision file"));
    QCOMPARE(lines.mid(lines.size() - 2), kEndLines);

    const Files now = readTree(programFolder());
    QCOMPARE(now.value("A.txt"), QByteArray("new a"));
    QCOMPARE(now.value("B.txt"), QByteArray("old b"));
    QCOMPARE(now.value("C.txt"), QByteArray("old c"));
    QCOMPARE(now.value("RelInfoLocal.rel"), oldRel);
    for (const QString &name : now.keys())
        QVERIFY2(!QFileInfo(name).fileName().startsWith("upd_") && !name.contains(".part"),
                 qPrintable(name));
}

void TestEngineUpdate::secondRunInTheSameMinute()
{
    const QByteArray oldRel = "Spelmar.exe; 3.01.01\r\n";
    fillProgram({{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}});
    auto runOnce = [this](const Files &server) {
        fillServer(server);
        RecordingReport report;
        CDownloadJob job(report, nullptr, kUpdates.toStdString(), programFolder().toStdString(),
                         false, m_server->host().toStdString());
        job.setClock(fixedMoment);
        QVERIFY(job.start());
        QVERIFY(report.waitFinished());
        job.wait();
        QVERIFY(job.result().allArrived());
    };
    runOnce({{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"}, {"Spelmar.exe", "new exe"}});
    runOnce({{"RelInfoRemote.rel", "Spelmar.exe; 3.01.03\r\n"}, {"Spelmar.exe", "newer exe"}});
    runOnce({});
    QCOMPARE(readTree(programFolder() + "/" + kBackupName),
             Files({{"RelInfoLocal.rel", oldRel}, {"Spelmar.exe", "old exe"}}));

    // Going back to that release gives the state before the first run.
    RecordingReport report;
    CRestoreJob restore(report, programFolder().toStdString(), kBackupName.toStdString());
    QVERIFY(restore.start());
    QVERIFY(report.waitFinished());
    restore.wait();
    QVERIFY(restore.result().allCopied());
    const Files now = readTree(programFolder());
    QCOMPARE(now.value("Spelmar.exe"), QByteArray("old exe"));
    QCOMPARE(now.value("RelInfoLocal.rel"), oldRel);
}

void TestEngineUpdate::checkMessage_data()
{
    QTest::addColumn<QByteArray>("remoteRel"); // null: no file on the server
    QTest::addColumn<QByteArray>("localRel");  // null: no local file
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("host");         // empty: the test server
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("outcome");

    QByteArray ten;
    QByteArray eleven;
    QString tenLines;
    for (int i = 1; i <= 11; ++i) {
        const QByteArray name = "File" + QByteArray::number(i).rightJustified(2, '0') + ".dat";
        const QByteArray record = name + "; 1.00." + QByteArray::number(i).rightJustified(2, '0') + "\r\n";
        if (i <= 10) {
            ten += record;
            tenLines += "   1.00." + QString::number(i).rightJustified(2, '0') + "\t\t->> " + name + " \n";
        }
        eleven += record;
    }
    const QString newer = " There are some newer files on the server:\n\n";
    const QString latest = " Your programm is working with the latest version!\n\n";
    const QByteArray rel = "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n";
    const int newerFiles = int(CUpdateCheck::Outcome::NewerFiles);

    QTest::newRow("one newer file") << rel << QByteArray("Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.00\r\n")
        << kUpdates << QString() << false
        << QStringList{checkText(newer + "   3.01.02\t\t->> Spelmar.exe \n")} << newerFiles;
    QTest::newRow("ten newer files") << ten << QByteArray() << kUpdates << QString() << false
        << QStringList{checkText(newer + tenLines)} << newerFiles;
    QTest::newRow("eleven newer files") << eleven << QByteArray() << kUpdates << QString() << false
        << QStringList{checkText(newer + tenLines + " ... and more ... \n")} << newerFiles;
    QTest::newRow("no local revision file") << rel << QByteArray() << kUpdates << QString() << true
        << QStringList{checkText(newer + "   3.01.02\t\t->> Spelmar.exe \n   1.00.00\t\t->> Moravel.so \n")}
        << newerFiles;
    QTest::newRow("nothing newer, on request") << rel << rel << kUpdates << QString() << false
        << QStringList{checkText(latest)} << int(CUpdateCheck::Outcome::NothingNewer);
    QTest::newRow("nothing newer, scheduled") << rel << rel << kUpdates << QString() << true
        << QStringList() << int(CUpdateCheck::Outcome::NothingNewer);
    QTest::newRow("missing update directory, scheduled") << rel << rel << QStringLiteral("Spelmar/Nowhere")
        << QString() << true << QStringList{kNoConnection} << int(CUpdateCheck::Outcome::NoConnection);
    QTest::newRow("no revision file on the server") << QByteArray() << rel << kUpdates << QString()
        << false << QStringList{kNoConnection} << int(CUpdateCheck::Outcome::NoConnection);
    // Port 1 on the loopback refuses at once.
    QTest::newRow("server unreachable") << rel << rel << kUpdates << QStringLiteral("127.0.0.1:1")
        << false << QStringList{"Connection to the NORVANE server failed.", kNoConnection}
        << int(CUpdateCheck::Outcome::NoConnection);
}

void TestEngineUpdate::checkMessage()
{
    QFETCH(QByteArray, remoteRel);
    QFETCH(QByteArray, localRel);
    QFETCH(QString, serverPath);
    QFETCH(QString, host);
    QFETCH(bool, scheduled);
    QFETCH(QStringList, texts);
    QFETCH(int, outcome);

    if (!remoteRel.isNull())
        fillServer({{"RelInfoRemote.rel", remoteRel}});
    if (!localRel.isNull())
        fillProgram({{"RelInfoLocal.rel", localRel}});

    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, (host.isEmpty() ? m_server->host() : host).toStdString());
    int releaseNotesRequests = 0;
    CUpdateCheck check(client, prompt, [&releaseNotesRequests] { ++releaseNotesRequests; });
    QCOMPARE(check.CheckForUpdates(serverPath.toStdString(), programFolder().toStdString(),
                                   "Spelmar.exe", scheduled),
             false);

    QCOMPARE(int(check.lastOutcome()), outcome);
    const QStringList shown = prompt.texts();
    QCOMPARE(shown.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        // The client's own connection box ends with the platform's reason.
        if (texts[i].startsWith("Connection to"))
            QVERIFY2(shown[i].startsWith(texts[i]) && shown[i].endsWith("FTP Server: <" + host + ">"),
                     qPrintable(shown[i]));
        else
            QCOMPARE(shown[i], texts[i]);
    }
    QCOMPARE(releaseNotesRequests, 0); // every box was answered No
    QVERIFY(!client.isConnected());
}

void TestEngineUpdate::checkYesAsksForReleaseNotes()
{
    const QByteArray rel = "Spelmar.exe; 3.01.02\r\n";
    fillServer({{"RelInfoRemote.rel", rel}});
    fillProgram({{"RelInfoLocal.rel", rel}});

    ScriptedPrompt prompt(IPrompt::Answer::Yes);
    CFtpFileClient client(&prompt, m_server->host().toStdString());
    int releaseNotesRequests = 0;
    CUpdateCheck check(client, prompt, [&] {
        ++releaseNotesRequests;
    });
    // Nothing newer, asked on request: Yes still leads to the release notes.
    check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "", false);
    QCOMPARE(releaseNotesRequests, 1);
    QCOMPARE(prompt.icons().front(), IPrompt::Icon::Question);
    // The client is closed again, so the release-notes step can connect.
    QVERIFY(client.Connect());
    client.Close();
}

void TestEngineUpdate::checkPurgesAsideFiles()
{
    fillProgram({{"upd_Spelmar.exe", "old"}, {"upd_x", "old"}, {"Spelmar.exe", "keep"},
                 {"lib/upd_Core.so", "keep"}, {"keep_upd_.txt", "keep"}});
    QVERIFY(QDir(programFolder()).mkdir("upd_folder"));

    for (const QString &host : {m_server->host(), QStringLiteral("127.0.0.1:1")}) {
        fillProgram({{"upd_again", "old"}});
        ScriptedPrompt prompt;
        CFtpFileClient client(&prompt, host.toStdString());
        CUpdateCheck check(client, prompt);
        check.CheckForUpdates("Spelmar/Nowhere", programFolder().toStdString(), "", true);
        QCOMPARE(readTree(programFolder()).keys(),
                 QStringList({"Spelmar.exe", "keep_upd_.txt", "lib/upd_Core.so"}));
        QVERIFY(QFileInfo(programFolder() + "/upd_folder").isDir());
    }
}

void TestEngineUpdate::setAside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("aside");     // local path of the upd_ file
    QTest::addColumn<bool>("installed");

    QTest::newRow("bare name") << "Spelmar.exe" << "upd_Spelmar.exe" << true;
    QTest::newRow("sub-folder") << "lib\\Core.so" << "lib/upd_Core.so" << true;
    QTest::newRow("not installed yet") << "New.txt" << "upd_New.txt" << false;
}

// A run that ends at any moment (killed, say) after a file was set aside
// leaves the installed file under its own name; the upd_ file is a spare
// that the next check purges.
void TestEngineUpdate::setAside()
{
    QFETCH(QString, name);
    QFETCH(QString, aside);
    QFETCH(bool, installed);

    const QString target = QString(name).replace('\\', '/');
    if (installed)
        fillProgram({{target, "installed"}});
    fillProgram({{aside, "stale"}});
    const std::string folder = programFolder().toStdString();

    QVERIFY(MoveAside(folder, name.toStdString()));
    Files now = readTree(programFolder());
    QCOMPARE(now.value(target, kAbsent), installed ? QByteArray("installed") : kAbsent);
    QCOMPARE(now.value(aside, kAbsent), installed ? QByteArray("installed") : kAbsent);

    QVERIFY(DropAside(folder, name.toStdString()));
    QVERIFY(!QFile::exists(programFolder() + "/" + aside));
    QVERIFY(MoveAside(folder, name.toStdString()));
    QVERIFY(PurgeAsideFiles(folder));
    now = readTree(programFolder());
    QCOMPARE(now.contains(aside), aside.contains('/')); // sub-folders are not purged
    QCOMPARE(now.value(target, kAbsent), installed ? QByteArray("installed") : kAbsent);
}

void TestEngineUpdate::endOfRunQuestion_data()
{
    QTest::addColumn<QString>("programName");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("start");

    QTest::newRow("no program") << QString() << int(IPrompt::Answer::Yes) << false << false;
    QTest::newRow("one character") << "S" << int(IPrompt::Answer::Yes) << false << false;
    QTest::newRow("yes") << "Spelmar.exe" << int(IPrompt::Answer::Yes) << true << true;
    QTest::newRow("no") << "Spelmar.exe" << int(IPrompt::Answer::No) << true << false;
}

void TestEngineUpdate::endOfRunQuestion()
{
    QFETCH(QString, programName);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, start);

    ScriptedPrompt prompt(static_cast<IPrompt::Answer>(answer));
    QCOMPARE(CUpdateJob::askStartProgram(prompt, programName.toStdString()), start);
    QCOMPARE(prompt.texts().size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(prompt.texts().front(),
                 " End of software update!\n" + ruleLine() + "\n\n Do you want to start the new released "
                 "programm ?\n\n Press <yes> to start " + programName + "\n");
}

void TestEngineUpdate::programPathSplit_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    // @FILE@ is a regular file without ".exe"; @DIR@ its folder.
    QTest::newRow("program") << "/opt/app/Spelmar.exe" << "/opt/app" << "Spelmar.exe";
    QTest::newRow("upper-case EXE, no such file") << "/opt/App/SPELMAR.EXE" << "/opt/App/SPELMAR.EXE" << "";
    QTest::newRow("existing file without .exe") << "@FILE@" << "@DIR@" << "spelmar";
    QTest::newRow("folder with slash") << "/opt/App/" << "/opt/App" << "";
    QTest::newRow("folder") << "/opt/App" << "/opt/App" << "";
    QTest::newRow("bare program name") << "Spelmar.exe" << "/current" << "Spelmar.exe";
    QTest::newRow("blank before the name") << "/opt/My App/ Spelmar.exe" << "/opt/My App" << "Spelmar.exe";
    QTest::newRow("empty") << "" << "/current" << "";
    QTest::newRow("backslashes") << "C:\\Tools\\Spelmar.exe" << "C:\\Tools" << "Spelmar.exe";
}

void TestEngineUpdate::programPathSplit()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);

    const QString file = programFolder() + "/spelmar";
    writeFile(file, "#!/bin/sh\n");
    path.replace("@FILE@", file);
    folder.replace("@DIR@", programFolder());

    const ProgramPath split = splitProgramPath(path.toStdString(), "/current");
    QCOMPARE(QString::fromStdString(split.folder), folder);
    QCOMPARE(QString::fromStdString(split.name), name);
}

QTEST_GUILESS_MAIN(TestEngineUpdate)
#include "tst_engineupdate.moc"
