#include "downloadjob.h"
#include "fileaside.h"
#include "ftpfileclient.h"
#include "ftpserver.h"
#include "programpath.h"
#include "updatetestsupport.h"
#include "updatecheck.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <signal.h>
#include <sys/resource.h>

namespace {

const QString kUpdates = QStringLiteral("Spelmar/Updates");
// An expected file that must not exist.
const QByteArray kAbsent("\x01<absent>");
const QString kBackupName = QStringLiteral("201408110730");
const QStringList kEndLines{"   ", "  End of download procedure!! "};
const QString kNoConnection =
    QStringLiteral("No connection to the NORVANE ftp server!\nSwitch off the automatic updates!");

QStringList headLines(const QString &serverPath = kUpdates)
{
    return {"... Preparing download from server!", "... connect to the NORVANE server",
            "... set path (" + serverPath + ")", "... check remote revision file"};
}

// The list of a run that got as far as comparing, then had these lines.
QStringList comparedLines(const QStringList &lines)
{
    return headLines() + QStringList{"... check local revision file", "... compare new files"} + lines
        + kEndLines;
}

// The list of a run that transferred files with these lines.
QStringList transferLines(const QStringList &fileLines)
{
    return comparedLines(QStringList{"---- start transfer ----"} + fileLines
                         + QStringList{"---- end transfer ----", "... update local revision file",
                                       "  ok!  updated local revision file"});
}

// 2014-08-11 07:30 local time: the backup folder kBackupName.
std::time_t fixedMoment()
{
    return QDateTime(QDate(2014, 8, 11), QTime(7, 30)).toSecsSinceEpoch();
}

// "name=content" entries split at "|".
Files files(const QByteArray &entries)
{
    Files result;
    for (const QByteArray &entry : entries.split('|')) {
        const qsizetype cut = entry.indexOf('=');
        result.insert(QString::fromLatin1(entry.left(cut)), entry.mid(cut + 1));
    }
    return result;
}

// A server option that the test takes for itself: files of this process
// may not grow beyond 100000 bytes during the run (a full disk).
const QString kFileSizeLimit = QStringLiteral("<file size limit>");

// Limits the size of files this process writes, until lift().
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (bytes == 0)
            return;
        ::signal(SIGXFSZ, SIG_IGN); // EFBIG instead of the signal
        m_active = ::getrlimit(RLIMIT_FSIZE, &m_before) == 0;
        rlimit limit = m_before;
        limit.rlim_cur = bytes;
        m_active = m_active && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { lift(); }
    void lift()
    {
        if (m_active)
            ::setrlimit(RLIMIT_FSIZE, &m_before);
        m_active = false;
    }

private:
    rlimit m_before{};
    bool m_active = false;
};

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestEngineUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void downloadRun_data();
    void downloadRun();
    void secondRunInTheSameMinute();
    void leftoversPurged_data();
    void leftoversPurged();
    void deadServerEndsRun();
    void checkMessage_data();
    void checkMessage();
    void setAside_data();
    void setAside();
    void programPathSplit_data();
    void programPathSplit();

private:
    QString serverFolder() const { return m_work.filePath("server"); }
    QString updateFolder() const { return serverFolder() + "/" + kUpdates; }
    QString programFolder() const { return m_work.filePath("program"); }
    void runDownload(CDownloadJob &job, RecordingReport &report);

    QTemporaryDir m_config;
    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
};

void TestEngineUpdate::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    QVERIFY(QDir(m_work.path()).mkpath("server"));
    m_server = std::make_unique<FtpTestServer>(serverFolder());
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    qputenv("MORAVEL_FTP_HOST", m_server->host().toLocal8Bit());
}

void TestEngineUpdate::init()
{
    // Every case starts with an empty update directory and program folder.
    QDir(serverFolder() + "/Spelmar").removeRecursively();
    QDir(programFolder()).removeRecursively();
    QVERIFY(QDir().mkpath(updateFolder()));
    QVERIFY(QDir().mkpath(programFolder()));
}

void TestEngineUpdate::runDownload(CDownloadJob &job, RecordingReport &report)
{
    job.setClock(fixedMoment);
    QVERIFY(job.start());
    job.wait();
    QCOMPARE(report.finishedCount, 1);
}

void TestEngineUpdate::downloadRun_data()
{
    QTest::addColumn<Files>("server");
    QTest::addColumn<Files>("installed");
    QTest::addColumn<bool>("takeAll");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QStringList>("serverOptions"); // non-empty: a server of its own with these
    QTest::addColumn<QString>("cancelAt");          // cancel when this line is added
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Files>("after");              // program files afterwards (subset)
    QTest::addColumn<Files>("backup");             // whole backup folder; none made when empty
    QTest::addColumn<QStringList>("offeredAgain"); // names the next check lists

    const QByteArray oldRel = "Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.00\r\n";
    const QByteArray newRel = "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n";
    const Files oldInstall = files("RelInfoLocal.rel=" + oldRel + "|Spelmar.exe=old exe");
    const Files oldWithLib = files("RelInfoLocal.rel=" + oldRel + "|Spelmar.exe=old exe|Moravel.so=lib");
    const QStringList none;
    const QString noCancel;

    QTest::newRow("one newer file") << files(
        "RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\nMoravel.so;1.00.00\r\n|Spelmar.exe=new exe|Moravel.so=lib")
                                    << oldWithLib << false << kUpdates << none << noCancel
                                    << transferLines({"  ok!    Spelmar.exe"})
                                    << files("Spelmar.exe=new exe|Moravel.so=lib|RelInfoLocal.rel=" + newRel)
                                    << oldInstall << none;
    QTest::newRow("nothing newer") << files("RelInfoRemote.rel=" + oldRel + "|Spelmar.exe=new exe")
                                   << oldInstall << false << kUpdates << none << noCancel
                                   << comparedLines({" end! No updates found!"}) << oldInstall
                                   << files("RelInfoLocal.rel=" + oldRel) << none;
    QTest::newRow("take all") << files("RelInfoRemote.rel=" + oldRel
                                       + "|Spelmar.exe=new exe|Moravel.so=new lib")
                              << oldWithLib << true << kUpdates << none << noCancel
                              << transferLines({"  ok!    Spelmar.exe", "  ok!    Moravel.so"})
                              << files("Spelmar.exe=new exe|Moravel.so=new lib|RelInfoLocal.rel=" + oldRel)
                              << oldWithLib << none;
    QTest::newRow("percent name has no backup copy")
        << files("RelInfoRemote.rel=%Settings.ini; 1.00.00\r\n|%Settings.ini=new ini")
        << files("RelInfoLocal.rel=%Settings.ini; 0.09.00\r\n|%Settings.ini=old ini") << false << kUpdates
        << none << noCancel << transferLines({"  ok!    %Settings.ini"})
        << files("%Settings.ini=new ini|RelInfoLocal.rel=%Settings.ini; 1.00.00\r\n")
        << files("RelInfoLocal.rel=%Settings.ini; 0.09.00\r\n") << none;
    // A new first-level folder is made; a second level below a missing one is not.
    QTest::newRow("sub-folders, one and two levels new")
        << files(
               "RelInfoRemote.rel=lib\\Core.so; 1.00.00\r\nplugins\\net\\Net.so; 1.00.00\r\nSpelmar.exe; 3.01.02\r\n"
               "|lib/Core.so=core|plugins/net/Net.so=net|Spelmar.exe=new exe")
        << oldInstall << false << kUpdates << none << noCancel
        << transferLines({"  ok!    lib\\Core.so", " fail!    plugins\\net\\Net.so", "  ok!    Spelmar.exe"})
        << files("lib/Core.so=core|Spelmar.exe=new exe|RelInfoLocal.rel=" + newRel
                 + "lib\\Core.so; 1.00.00\r\nplugins\\net\\Net.so; 0.00.00\r\n|plugins/net/Net.so=" + kAbsent)
        << oldInstall << QStringList{"plugins\\net\\Net.so"};
    const QByteArray helpRel = "Spelmar.exe; 3.01.01\r\nHelp.txt; 1.00.00\r\n";
    QTest::newRow("file missing on the server")
        << files("RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\nHelp.txt; 2.00.00\r\n|Spelmar.exe=new exe")
        << files("RelInfoLocal.rel=" + helpRel + "|Spelmar.exe=old exe|Help.txt=old help") << false
        << kUpdates << none << noCancel << transferLines({"  ok!    Spelmar.exe", " fail!    Help.txt"})
        << files(
               "Spelmar.exe=new exe|Help.txt=old help|RelInfoLocal.rel=Spelmar.exe; 3.01.02\r\nHelp.txt; 1.00.00\r\n")
        << files("RelInfoLocal.rel=" + helpRel + "|Spelmar.exe=old exe|Help.txt=old help")
        << QStringList{"Help.txt"};
    QTest::newRow("no local revision file")
        << files(
               "RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\nMoravel.so ;1.00.00; extra\r\n|Spelmar.exe=new exe"
               "|Moravel.so=lib")
        << files("Spelmar.exe=old exe") << false << kUpdates << none << noCancel
        << transferLines({"  ok!    Spelmar.exe", "  ok!    Moravel.so"})
        << files("Spelmar.exe=new exe|Moravel.so=lib|RelInfoLocal.rel=" + newRel)
        << files("Spelmar.exe=old exe") << none;
    QTest::newRow("missing update directory")
        << files("RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\n|Spelmar.exe=new exe") << oldInstall << false
        << QStringLiteral("Spelmar/Nowhere") << none << noCancel
        << QStringList(headLines("Spelmar/Nowhere").mid(0, 3)) + kEndLines << oldInstall << Files() << none;
    const QByteArray goodLib = "lib 1.00.01";
    QTest::newRow("hash mismatch")
        << files("RelInfoRemote.rel=Spelmar.exe; 3.01.02; " + sha256("another exe")
                 + "\r\nMoravel.so; 1.00.01;" + sha256(goodLib).toUpper()
                 + "\r\n|Spelmar.exe=new exe|Moravel.so=" + goodLib)
        << oldWithLib << false << kUpdates << none << noCancel
        << transferLines({" fail!    Spelmar.exe", "  ok!    Moravel.so"})
        << files("Spelmar.exe=old exe|Moravel.so=" + goodLib
                 + "|RelInfoLocal.rel=Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.01\r\n")
        << oldWithLib << QStringList{"Spelmar.exe"};
    const QByteArray bigRel = "Big.bin; 1.00.00\r\nSmall.txt; 1.00.00\r\n";
    // The server root holds evil.sh next to the Spelmar folder, so a name
    // that climbs out of the update directory would find a file.
    const QStringList evil{"..\\evil.sh",          "../../evil.sh", "/tmp/evil.sh", "C:\\evil.sh",
                           "lib\\..\\..\\evil.sh", "bad\x01name",   "lib/./x",      "lib//x"};
    // Such names, and a second record of a name in another case, are no
    // files to install: neither the run nor the next check offers them.
    QTest::newRow("names that leave the program folder, names twice")
        << files("RelInfoRemote.rel="
                 + (evil.join("; 1.00.00\r\n")
                    + "; 1.00.00\r\nSpelmar.exe; 3.01.02\r\n"
                      "SPELMAR.EXE; 3.01.07\r\n")
                       .toLatin1()
                 + "|../../evil.sh=evil|Spelmar.exe=new exe|SPELMAR.EXE=other")
        << oldInstall << false << kUpdates << none << noCancel << transferLines({"  ok!    Spelmar.exe"})
        << files("Spelmar.exe=new exe|RelInfoLocal.rel=" + newRel) << oldInstall << none;
    // The server announces a few bytes (SIZE and the 150 reply) and sends
    // the whole file; the files arrive whole.
    QTest::newRow("sizes announced too small")
        << files("RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n|Spelmar.exe="
                 + QByteArray(200000, 'x') + "|Moravel.so=lib")
        << oldWithLib << false << kUpdates
        << QStringList{"--announce-size", "Spelmar/Updates/Spelmar.exe:10", "--announce-size",
                       "Spelmar/Updates/RelInfoRemote.rel:10"}
        << noCancel << transferLines({"  ok!    Spelmar.exe"})
        << files("Spelmar.exe=" + QByteArray(200000, 'x') + "|RelInfoLocal.rel=" + newRel) << oldInstall
        << none;
    // Files may grow to 100000 bytes here: the backup copy of the big
    // installed file fails, so that file stays as it is.
    QTest::newRow("backup copy fails") << files(
        "RelInfoRemote.rel=Big.bin; 2.00.00\r\nSmall.txt; 2.00.00\r\n|Small.txt=new small|Big.bin=new big")
                                       << files("RelInfoLocal.rel=" + bigRel + "|Big.bin="
                                                + QByteArray(300000, 'o') + "|Small.txt=old small")
                                       << false << kUpdates << QStringList{kFileSizeLimit} << noCancel
                                       << transferLines({" fail!    Big.bin", "  ok!    Small.txt"})
                                       << files("Big.bin=" + QByteArray(300000, 'o')
                                                + "|Small.txt=new small|RelInfoLocal.rel=Big.bin; 1.00.00\r\n"
                                                  "Small.txt; 2.00.00\r\n")
                                       << files("RelInfoLocal.rel=" + bigRel + "|Small.txt=old small")
                                       << QStringList{"Big.bin"};
    // The server closes the data connection after 40000 bytes of Big.bin.
    QTest::newRow("data connection dropped")
        << files("RelInfoRemote.rel=Big.bin; 2.00.00\r\nSmall.txt; 2.00.00\r\n|Small.txt=new small|Big.bin="
                 + QByteArray(300000, 'n'))
        << files("RelInfoLocal.rel=" + bigRel + "|Big.bin=old big|Small.txt=old small") << false << kUpdates
        << QStringList{"--drop-after-bytes", "Spelmar/Updates/Big.bin:40000"} << noCancel
        << transferLines({" fail!    Big.bin", "  ok!    Small.txt"})
        << files(
               "Big.bin=old big|Small.txt=new small|RelInfoLocal.rel=Big.bin; 1.00.00\r\nSmall.txt; 2.00.00\r\n")
        << files("RelInfoLocal.rel=" + bigRel + "|Big.bin=old big|Small.txt=old small")
        << QStringList{"Big.bin"};
    // "abort and exit" while B.txt is on its way: C.txt is not tried, the
    // revision file is not rewritten.
    const QByteArray abcRel = "A.txt; 1.00.00\r\nB.txt; 1.00.00\r\nC.txt; 1.00.00\r\n";
    QTest::newRow("cancelled")
        << files("RelInfoRemote.rel=A.txt; 2.00.00\r\nB.txt; 2.00.00\r\nC.txt; 2.00.00\r\n"
                 "|A.txt=new a|B.txt=new b|C.txt=new c")
        << files("RelInfoLocal.rel=" + abcRel + "|A.txt=old a|B.txt=old b|C.txt=old c") << false << kUpdates
        << none << " copy -> B.txt"
        << comparedLines({"---- start transfer ----", "  ok!    A.txt", " fail!    B.txt"})
        << files("A.txt=new a|B.txt=old b|C.txt=old c|RelInfoLocal.rel=" + abcRel)
        << files("RelInfoLocal.rel=" + abcRel + "|A.txt=old a|B.txt=old b") << QStringList{"B.txt", "C.txt"};
}

void TestEngineUpdate::downloadRun()
{
    QFETCH(Files, server);
    QFETCH(Files, installed);
    QFETCH(bool, takeAll);
    QFETCH(QString, serverPath);
    QFETCH(QStringList, serverOptions);
    QFETCH(QString, cancelAt);
    QFETCH(QStringList, lines);
    QFETCH(Files, after);
    QFETCH(Files, backup);
    QFETCH(QStringList, offeredAgain);

    writeFiles(updateFolder(), server);
    writeFiles(programFolder(), installed);
    const Files serverBefore = readTree(serverFolder());
    const bool limitFileSize = serverOptions == QStringList{kFileSizeLimit};
    if (limitFileSize)
        serverOptions.clear();
    FtpTestServer ownServer(serverFolder(), serverOptions);
    if (!serverOptions.isEmpty())
        QVERIFY2(ownServer.start(), qPrintable(ownServer.errorText()));
    const QString host = serverOptions.isEmpty() ? m_server->host() : ownServer.host();
    FileSizeLimit sizeLimit(limitFileSize ? 100000 : 0);

    RecordingReport report;
    ScriptedPrompt prompt;
    CDownloadJob job(report, &prompt, serverPath.toStdString(), programFolder().toStdString(), takeAll,
                     host.toStdString());
    report.onLine = [&](const std::string &line) {
        if (!cancelAt.isEmpty() && QString::fromStdString(line) == cancelAt)
            job.cancel();
    };
    runDownload(job, report);
    sizeLimit.lift();

    QCOMPARE(report.lines, lines);
    QVERIFY(prompt.texts.isEmpty());
    const QString backupFolder = programFolder() + "/" + kBackupName;
    const bool madeBackup = !backup.isEmpty();
    // Everything arrived exactly when a backup was made and nothing is left to offer.
    QCOMPARE(job.result().allArrived(), madeBackup && offeredAgain.isEmpty());
    QCOMPARE(job.result().outcome == CDownloadJob::Outcome::Cancelled, !cancelAt.isEmpty());

    const Files now = readTree(programFolder());
    for (auto it = after.begin(); it != after.end(); ++it)
        QCOMPARE(now.value(it.key(), kAbsent), it.value());
    // Nothing set aside or half-written stays behind, and nothing was
    // written outside the program folder.
    for (const QString &name : now.keys())
        QVERIFY2(!QFileInfo(name).fileName().startsWith("upd_") && !name.contains(".part"), qPrintable(name));
    QCOMPARE(readTree(serverFolder()), serverBefore);
    QVERIFY(!QFile::exists(m_work.filePath("evil.sh")));
    QCOMPARE(QFileInfo::exists(backupFolder), madeBackup);
    QCOMPARE(readTree(backupFolder), backup);
    if (!madeBackup)
        return;
    // What did not arrive is offered by the next check.
    ScriptedPrompt checkPrompt;
    CFtpFileClient client(&checkPrompt, m_server->host().toStdString());
    CUpdateCheck check(client, checkPrompt);
    check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "", false);
    QCOMPARE(check.lastOutcome(),
             offeredAgain.isEmpty() ? CUpdateCheck::Outcome::NothingNewer
                                    : CUpdateCheck::Outcome::NewerFiles);
    for (const QString &name : offeredAgain)
        QVERIFY2(QString::fromStdString(check.lastMessage()).contains("->> " + name + " \n"),
                 qPrintable(name));
}

// Runs within one minute share the backup folder, which keeps the state
// from before the first of them.
void TestEngineUpdate::secondRunInTheSameMinute()
{
    const Files before = files("RelInfoLocal.rel=Spelmar.exe; 3.01.01\r\n|Spelmar.exe=old exe");
    writeFiles(programFolder(), before);
    for (const QByteArray revision : {"3.01.02", "3.01.03", "3.01.03"}) {
        writeFiles(updateFolder(),
                   files("RelInfoRemote.rel=Spelmar.exe; " + revision + "\r\n|Spelmar.exe=" + revision));
        RecordingReport report;
        CDownloadJob job(report, nullptr, kUpdates.toStdString(), programFolder().toStdString(), false,
                         m_server->host().toStdString());
        runDownload(job, report);
        QVERIFY(job.result().allArrived());
    }
    QCOMPARE(readTree(programFolder() + "/" + kBackupName), before);
}

void TestEngineUpdate::leftoversPurged_data()
{
    QTest::addColumn<bool>("byUpdate");
    QTest::newRow("check") << false;
    QTest::newRow("update") << true;
}

// What a killed run leaves behind goes at the next check or update, at
// every depth; files that merely begin with upd_ in sub-folders stay.
void TestEngineUpdate::leftoversPurged()
{
    QFETCH(bool, byUpdate);
    const QByteArray rel = "Spelmar.exe; 3.01.01\r\nlib\\Core.so; 1.00.00\r\n";
    writeFiles(updateFolder(), files("RelInfoRemote.rel=" + rel + "|Spelmar.exe=exe|lib/Core.so=core"));
    writeFiles(programFolder(),
               files("RelInfoLocal.rel=" + rel
                     + "|Spelmar.exe=exe|lib/Core.so=core"
                       "|upd_Spelmar.exe.part-a1B2c3=half|lib/upd_Core.so.part-Zz09Yy=half"
                       "|lib/deeper/upd_x.part-000000=half|201001010000/upd_Core.so.part=half"
                       "|lib/upd_notes.txt=delivered|lib/upd_.partial=delivered"));
    QVERIFY(QFile::link(programFolder() + "/lib/Core.so", programFolder() + "/lib/upd_Core.so.lnk"));
    QVERIFY(::link(QFile::encodeName(programFolder() + "/lib/Core.so").constData(),
                   QFile::encodeName(programFolder() + "/lib/upd_Core.so").constData())
            == 0);

    ScriptedPrompt prompt;
    if (byUpdate) {
        RecordingReport report;
        CDownloadJob job(report, &prompt, kUpdates.toStdString(), programFolder().toStdString(), false,
                         m_server->host().toStdString());
        runDownload(job, report);
        QVERIFY(job.result().allArrived());
    } else {
        CFtpFileClient client(&prompt, m_server->host().toStdString());
        CUpdateCheck check(client, prompt);
        check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "", true);
        QCOMPARE(check.lastOutcome(), CUpdateCheck::Outcome::NothingNewer);
    }
    QStringList left = readTree(programFolder()).keys();
    left.removeAll(kBackupName + "/RelInfoLocal.rel");
    QCOMPARE(left,
             (QStringList{"RelInfoLocal.rel", "RelInfoRemote.rel", "Spelmar.exe", "lib/Core.so",
                          "lib/upd_.partial", "lib/upd_Core.so.lnk", "lib/upd_notes.txt"}));
}

// A server that stops answering in the middle of a run costs one stall
// time-out (2 s here), not one per remaining file.
void TestEngineUpdate::deadServerEndsRun()
{
    QByteArray rel;
    QByteArray serverFiles;
    QStringList fileLines;
    for (int i = 1; i <= 20; ++i) {
        const QByteArray name = "F" + QByteArray::number(i) + ".txt";
        rel += name + "; 1.00.00\r\n";
        serverFiles += "|" + name + "=" + name;
        fileLines << QString(i < 3 ? "  ok!    " : " fail!    ") + name;
    }
    writeFiles(updateFolder(), files("RelInfoRemote.rel=" + rel + serverFiles));
    FtpTestServer server(serverFolder(), {"--max-connections", "8"});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    qputenv("MORAVEL_FTP_STALL_SECONDS", "2");

    RecordingReport report;
    ScriptedPrompt prompt;
    CDownloadJob job(report, &prompt, kUpdates.toStdString(), programFolder().toStdString(), false,
                     server.host().toStdString());
    report.onLine = [&](const std::string &line) {
        if (line == " copy -> F3.txt")
            ::kill(static_cast<pid_t>(server.processId()), SIGSTOP);
    };
    QElapsedTimer clock;
    clock.start();
    runDownload(job, report);
    const qint64 elapsed = clock.elapsed();
    ::kill(static_cast<pid_t>(server.processId()), SIGCONT);
    qunsetenv("MORAVEL_FTP_STALL_SECONDS");

    QCOMPARE(report.lines.mid(7, 20), fileLines);
    QVERIFY2(elapsed < 2 * 2000 + 1500, qPrintable(QString::number(elapsed)));
}

void TestEngineUpdate::checkMessage_data()
{
    QTest::addColumn<QByteArray>("remoteRel"); // null: no file on the server
    QTest::addColumn<QByteArray>("localRel");  // null: no local file
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("host"); // empty: the test server
    QTest::addColumn<bool>("scheduled");
    QTest::addColumn<bool>("answerYes"); // to the question; Yes asks for the release notes
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("outcome");

    QByteArray ten;
    QString tenLines;
    for (int i = 1; i <= 10; ++i) {
        const QString number = QString::number(i).rightJustified(2, '0');
        ten += ("File" + number + ".dat; 1.00." + number + "\r\n").toLatin1();
        tenLines += "   1.00." + number + "\t\t->> File" + number + ".dat \n";
    }
    const QString newer = " There are some newer files on the server:\n\n";
    const QByteArray rel = "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n";
    const int newerFiles = int(CUpdateCheck::Outcome::NewerFiles);
    const int nothingNewer = int(CUpdateCheck::Outcome::NothingNewer);
    const int noConnection = int(CUpdateCheck::Outcome::NoConnection);

    // Without a local revision file every server file is newer, and newer
    // files are shown in scheduled runs too.
    QTest::newRow("ten newer files, no local file, scheduled")
        << ten << QByteArray() << kUpdates << QString() << true << false
        << QStringList{checkText(newer + tenLines)} << newerFiles;
    QTest::newRow("eleven newer files")
        << ten + "File11.dat; 1.00.11\r\n"
        << QByteArray() << kUpdates << QString() << false << false
        << QStringList{checkText(newer + tenLines + " ... and more ... \n")} << newerFiles;
    QTest::newRow("nothing newer, on request, yes")
        << rel << rel << kUpdates << QString() << false << true
        << QStringList{checkText(" Your programm is working with the latest version!\n\n")} << nothingNewer;
    QTest::newRow("nothing newer, scheduled")
        << rel << rel << kUpdates << QString() << true << true << QStringList() << nothingNewer;
    QTest::newRow("missing update directory, scheduled")
        << rel << rel << QStringLiteral("Spelmar/Nowhere") << QString() << true << false
        << QStringList{kNoConnection} << noConnection;
    // Port 1 on the loopback refuses at once.
    QTest::newRow("server unreachable")
        << rel << rel << kUpdates << QStringLiteral("127.0.0.1:1") << false << false
        << QStringList{"Connection to the NORVANE server failed.", kNoConnection} << noConnection;
}

void TestEngineUpdate::checkMessage()
{
    QFETCH(QByteArray, remoteRel);
    QFETCH(QByteArray, localRel);
    QFETCH(QString, serverPath);
    QFETCH(QString, host);
    QFETCH(bool, scheduled);
    QFETCH(bool, answerYes);
    QFETCH(QStringList, texts);
    QFETCH(int, outcome);

    if (!remoteRel.isNull())
        writeFile(updateFolder() + "/RelInfoRemote.rel", remoteRel);
    if (!localRel.isNull())
        writeFile(programFolder() + "/RelInfoLocal.rel", localRel);
    // Whether or not the server answers, the check deletes the upd_ files of
    // the program folder and leaves other files and folders alone.
    const Files kept{{"Spelmar.exe", "keep"}, {"lib/upd_Core.so", "keep"}, {"keep_upd_.txt", "keep"}};
    writeFiles(programFolder(), kept);
    writeFile(programFolder() + "/upd_Spelmar.exe", "old");
    QVERIFY(QDir(programFolder()).mkdir("upd_folder"));

    ScriptedPrompt prompt(answerYes ? IPrompt::Answer::Yes : IPrompt::Answer::No);
    CFtpFileClient client(&prompt, (host.isEmpty() ? m_server->host() : host).toStdString());
    int releaseNotesRequests = 0;
    CUpdateCheck check(client, prompt, [&releaseNotesRequests] { ++releaseNotesRequests; });
    QVERIFY(!check.CheckForUpdates(serverPath.toStdString(), programFolder().toStdString(), "Spelmar.exe",
                                   scheduled));

    QCOMPARE(int(check.lastOutcome()), outcome);
    // The client's own connection box goes on with the platform's reason.
    QCOMPARE(prompt.texts.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i)
        QVERIFY2(prompt.texts[i].startsWith(texts[i]), qPrintable(prompt.texts[i]));
    QCOMPARE(releaseNotesRequests, answerYes && !texts.isEmpty() ? 1 : 0);
    // Closed again, so the release-notes step can connect.
    QVERIFY(!client.isConnected());
    QVERIFY(!QFile::exists(programFolder() + "/upd_Spelmar.exe")
            && QFileInfo(programFolder() + "/upd_folder").isDir());
    for (auto it = kept.begin(); it != kept.end(); ++it)
        QCOMPARE(readFile(programFolder() + "/" + it.key()), it.value());
}

void TestEngineUpdate::setAside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("aside"); // local path of the upd_ file
    QTest::addColumn<bool>("installed");

    QTest::newRow("bare name") << "Spelmar.exe"
                               << "upd_Spelmar.exe" << true;
    QTest::newRow("sub-folder") << "lib\\Core.so"
                                << "lib/upd_Core.so" << true;
    QTest::newRow("not installed yet") << "New.txt"
                                       << "upd_New.txt" << false;
}

// A run that ends at any moment (killed, say) after a file was set aside
// leaves the installed file under its own name; a stale upd_ file gives way.
void TestEngineUpdate::setAside()
{
    QFETCH(QString, name);
    QFETCH(QString, aside);
    QFETCH(bool, installed);

    const QString target = QString(name).replace('\\', '/');
    const QByteArray expected = installed ? QByteArray("installed") : kAbsent;
    if (installed)
        writeFile(programFolder() + "/" + target, "installed");
    writeFile(programFolder() + "/" + aside, "stale");
    const std::string folder = programFolder().toStdString();

    QVERIFY(MoveAside(folder, name.toStdString()));
    Files now = readTree(programFolder());
    QCOMPARE(now.value(target, kAbsent), expected);
    QCOMPARE(now.value(aside, kAbsent), expected);
    QVERIFY(DropAside(folder, name.toStdString()));
    now = readTree(programFolder());
    QVERIFY(!now.contains(aside));
    QCOMPARE(now.value(target, kAbsent), expected);
}

void TestEngineUpdate::programPathSplit_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    // @FILE@ is a regular file without ".exe"; @DIR@ its folder.
    QTest::newRow("program") << "/opt/app/Spelmar.exe"
                             << "/opt/app"
                             << "Spelmar.exe";
    QTest::newRow("existing file without .exe") << "@FILE@"
                                                << "@DIR@"
                                                << "spelmar";
    QTest::newRow("empty") << ""
                           << "/current"
                           << "";
}

void TestEngineUpdate::programPathSplit()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);

    writeFile(programFolder() + "/spelmar", "#!/bin/sh\n");
    path.replace("@FILE@", programFolder() + "/spelmar");
    folder.replace("@DIR@", programFolder());
    const ProgramPath split = splitProgramPath(path.toStdString(), "/current");
    QCOMPARE(QString::fromStdString(split.folder), folder);
    QCOMPARE(QString::fromStdString(split.name), name);
}

QTEST_GUILESS_MAIN(TestEngineUpdate)
#include "tst_engine_update.moc"
