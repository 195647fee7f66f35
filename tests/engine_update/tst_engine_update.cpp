#include "jobs/downloadjob.h"
#include "folder/fileaside.h"
#include "folder/folderlock.h"
#include "transfer/ftpfileclient.h"
#include "transfer/ftpsettings.h"
#include "ftpserver.h"
#include "folder/installationaccess.h"
#include "revision/relinfo.h"
#include "folder/releasetrial.h"
#include "jobs/restorejob.h"
#include "transfer/folderfileclient.h"
#include "jobs/updatecheck.h"
#include "updatetestsupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QProcess>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>

#include <sys/resource.h>

namespace {

const QString kUpdates = QStringLiteral("Spelmar/Updates");
// An expected file that must not exist.
const QByteArray kAbsent("\x01<absent>");
// The backup folder of 2014-08-11 07:30 local time, the runs' clock.
const QString kBackupName = QStringLiteral("201408110730");
// A server option that the test takes for itself: files of this process
// may not grow beyond 100000 bytes during the run (a full disk).
const QString kFileSizeLimit = QStringLiteral("<file size limit>");
// A server option for the client: passive data connections.
const QString kPassive = QStringLiteral("<passive>");

// "name=content" entries split at "|".
Files files(const QByteArray &entries)
{
    Files result;
    for (const QByteArray &entry : entries.split('|')) {
        if (!entry.isEmpty())
            result.insert(QString::fromLatin1(entry.left(entry.indexOf('='))),
                          entry.mid(entry.indexOf('=') + 1));
    }
    return result;
}

// One download run: the update directory, the program folder before and
// after (a subset), the transfer's lines per file, the whole backup folder
// and the names that the next check offers again. Server options give the
// run a server of its own; cancelAt: "abort" when that line is added.
struct Run
{
    Files server, installed;
    QStringList fileLines;
    Files after, backup;
    QStringList offeredAgain, serverOptions;
    QString cancelAt;
};

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// "name|revision[|mark[|sha256]]" per record.
QStringList describe(const RelInfoList &list)
{
    QStringList lines;
    for (const RelInfoRecord &record : list) {
        QString line = latin1(record.fileName) + "|" + latin1(record.revision);
        for (std::string_view field : {record.transferMark, record.sha256})
            line += field.empty() ? "" : "|" + latin1(field);
        lines << line;
    }
    return lines;
}

RelInfoList listOf(const QStringList &records)
{
    RelInfoList list;
    for (const QString &record : records) {
        const QStringList fields = record.split('|');
        list.append(fields.value(0).toStdString(), fields.value(1).toStdString(),
                    fields.value(2).toStdString());
    }
    return list;
}

} // namespace

Q_DECLARE_METATYPE(Run)

class TestEngineUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void downloadRun_data();
    void downloadRun();
    void hostileFolder_data();
    void hostileFolder();
    void secondRunInTheSameMinute();
    void leftoversPurged();
    void deadServerEndsRun();
    void checkMessage();
    void setAside_data();
    void setAside();
    void restore_data();
    void restore();
    void readRecords_data();
    void readRecords();
    void readMissingOrHuge();
    void revisionRule_data();
    void revisionRule();
    void writeLocalRelInfo();
    void getField();
    void dropUnusable();
    void folderHosts_data();
    void folderHosts();
    void trialText_data();
    void trialText();
    void packagedFolder_data();
    void packagedFolder();

private:
    QString serverFolder() const { return m_work.filePath("server"); }
    QString updateFolder() const { return serverFolder() + "/" + kUpdates; }
    QString programFolder() const { return m_work.filePath("program"); }
    using OnLine = std::function<void(CDownloadJob &, const QString &)>;
    CDownloadJob::Result runDownload(RecordingReport &report, const QString &host = QString(),
                                     const OnLine &onLine = nullptr);

    QTemporaryDir m_config;
    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
};

void TestEngineUpdate::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    // Several files at once take passive data connections.
    qputenv("MORAVEL_FTP_PASSIVE", "1");
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
    QVERIFY(QDir().mkpath(updateFolder()) && QDir().mkpath(programFolder()));
}

CDownloadJob::Result TestEngineUpdate::runDownload(RecordingReport &report, const QString &host,
                                                   const OnLine &onLine)
{
    ScriptedPrompt prompt;
    CDownloadJob job(report, &prompt, kUpdates.toStdString(), programFolder().toStdString(), false,
                     (host.isEmpty() ? m_server->host() : host).toStdString());
    report.onLine = [&](const std::string &line) {
        if (onLine)
            onLine(job, QString::fromStdString(line));
    };
    job.setClock([] { return std::time_t(QDateTime(QDate(2014, 8, 11), QTime(7, 30)).toSecsSinceEpoch()); });
    if (job.start())
        job.wait();
    [&] {
        QCOMPARE(report.finishedCount, 1);
        QVERIFY(prompt.boxes().empty());
    }();
    return job.result();
}

void TestEngineUpdate::downloadRun_data()
{
    QTest::addColumn<Run>("run");
    auto row = [](const char *name, const QByteArray &server, const QByteArray &installed,
                  const QStringList &fileLines, const QByteArray &after, const QByteArray &backup,
                  const QStringList &offeredAgain = {}, const QStringList &options = {},
                  const QString &cancelAt = {}) {
        QTest::newRow(name) << Run{files(server), files(installed), fileLines, files(after),
                                   files(backup), offeredAgain,     options,   cancelAt};
    };
    auto ok = [](const QString &name) { return "  ok!    " + name; };
    auto fail = [](const QString &name) { return " fail!    " + name; };
    auto sha256 = [](const QByteArray &data) {
        return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    };
    // The revision file afterwards is not compared: the next check offers
    // again exactly what did not arrive.
    const QByteArray oldInstall = "RelInfoLocal.rel=Spelmar.exe; 3.01.01\r\n|Spelmar.exe=old exe";
    const QByteArray newExe = "RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\n";
    // A file whose name begins with % has no backup copy; names may hold
    // spaces and brackets; a file may be empty.
    row("newer files, percent name",
        newExe
            + "%Settings.ini;1.00.00\r\nnotes [1].txt;1\r\nempty.txt;1\r\n|Spelmar.exe=new exe"
              "|%Settings.ini=new|notes [1].txt=n|empty.txt=",
        oldInstall + "|%Settings.ini=old",
        {ok("Spelmar.exe"), ok("%Settings.ini"), ok("notes [1].txt"), ok("empty.txt")},
        "Spelmar.exe=new exe|%Settings.ini=new|notes [1].txt=n|empty.txt=", oldInstall);
    // A new first-level folder is made; a second level below a missing one
    // is not. An installed file two levels down gets its backup copy.
    row("sub-folders: one and two levels new, two installed",
        newExe
            + "lib\\Core.so; 1.00.00\r\nplugins\\net\\Net.so; 1.00.00\r\nlib\\x\\Deep.so; 2\r\n"
              "|lib/Core.so=core|plugins/net/Net.so=net|lib/x/Deep.so=new deep|Spelmar.exe=new exe",
        oldInstall + "|lib/x/Deep.so=old deep",
        {ok("Spelmar.exe"), ok("lib\\Core.so"), fail("plugins\\net\\Net.so"), ok("lib\\x\\Deep.so")},
        "lib/Core.so=core|lib/x/Deep.so=new deep|Spelmar.exe=new exe|plugins/net/Net.so=" + kAbsent,
        oldInstall + "|lib/x/Deep.so=old deep", {"plugins\\net\\Net.so"});
    row("file missing on the server, no local revision file",
        newExe + "Help.txt; 2.00.00\r\n|Spelmar.exe=new exe", "Spelmar.exe=old exe|Help.txt=old help",
        {ok("Spelmar.exe"), fail("Help.txt")}, "Spelmar.exe=new exe|Help.txt=old help",
        "Spelmar.exe=old exe|Help.txt=old help", {"Help.txt"});
    // The server closes the data connection before the first byte of
    // Big.bin, each time: a try that brings nothing is not repeated.
    // Spelmar.exe does not have the hash that the revision file gives.
    const QByteArray bigInstall = oldInstall + "|Big.bin=old big|Lib.so=lib";
    row("hash mismatch, data connection dropped",
        "RelInfoRemote.rel=Spelmar.exe; 3.01.02; " + sha256("another exe")
            + "\r\nBig.bin; 2.00.00\r\nLib.so; 1.00.01;" + sha256("new lib").toUpper()
            + "\r\n|Spelmar.exe=new exe|Lib.so=new lib|Big.bin=" + QByteArray(300000, 'n'),
        bigInstall, {fail("Spelmar.exe"), fail("Big.bin"), ok("Lib.so")},
        "Spelmar.exe=old exe|Big.bin=old big|Lib.so=new lib", bigInstall, {"Spelmar.exe", "Big.bin"},
        {"--drop-after-bytes", "Spelmar/Updates/Big.bin:0"});
    // Passive, the data connection brings 40000 bytes before each drop:
    // each try takes the file up where the last one ended (REST).
    row("data connection dropped again and again, taken up",
        "RelInfoRemote.rel=Big.bin; 2.00.00\r\n|Big.bin=" + QByteArray(300000, 'n'), "Big.bin=old big",
        {ok("Big.bin")}, "Big.bin=" + QByteArray(300000, 'n'), "Big.bin=old big", {},
        {"--drop-after-bytes", "Spelmar/Updates/Big.bin:40000", kPassive});
    // The server root holds evil.sh next to the Spelmar folder, so a name
    // that climbs out of the update directory would find a file. Such
    // names, and a second record of a name in another case, are no files
    // to install: neither the run nor the next check offers them.
    const QStringList evil{"..\\evil.sh",          "../../evil.sh", "/tmp/evil.sh", "C:\\evil.sh",
                           "lib\\..\\..\\evil.sh", "bad\x01name",   "lib/./x",      "lib//x",
                           "SPELMAR.EXE"};
    // Each is listed as failed, with its reason, before the transfer.
    QStringList dropped;
    for (const QString &name : evil.mid(0, evil.size() - 1))
        dropped << fail("refused file name \"" + name + "\": not a plain name below the program folder");
    dropped << fail("ignored \"SPELMAR.EXE\": the same file as \"Spelmar.exe\" listed before");
    row("names that leave the program folder, names twice",
        newExe + evil.join("; 1.00.00\r\n").toLatin1()
            + "; 1.00.00\r\n|../../evil.sh=evil|Spelmar.exe=new exe",
        oldInstall, dropped + QStringList{ok("Spelmar.exe")}, "Spelmar.exe=new exe", oldInstall);
    // Files may not grow beyond 100000 bytes: the backup copy of the big
    // installed file fails, so it stays as it is.
    row("backup copy fails",
        "RelInfoRemote.rel=Big.bin; 2.00.00\r\nSmall.txt; 2.00.00\r\n|Small.txt=new|Big.bin=new",
        "Big.bin=" + QByteArray(300000, 'o') + "|Small.txt=old", {fail("Big.bin"), ok("Small.txt")},
        "Big.bin=" + QByteArray(300000, 'o') + "|Small.txt=new", "Small.txt=old", {"Big.bin"},
        {kFileSizeLimit});
    // Four files are on their way at once, and the lines keep the list's
    // order although the first, largest file ends last.
    const QByteArray big(24 * 1024 * 1024, 'b');
    row("several at once, lines in the list's order",
        "RelInfoRemote.rel=Big.bin; 2\r\nA.txt; 2\r\nB.txt; 2\r\nC.txt; 2\r\nD.txt; 2\r\n|Big.bin=" + big
            + "|A.txt=a|B.txt=b|C.txt=c|D.txt=d",
        "Big.bin=old", {ok("Big.bin"), ok("A.txt"), ok("B.txt"), ok("C.txt"), ok("D.txt")},
        "Big.bin=" + big + "|A.txt=a|D.txt=d", "Big.bin=old");
    // "abort and exit" while B.txt, C.txt and D.txt stall on their way:
    // they fail, E.txt (a fifth) is not tried, the revision file is not
    // rewritten.
    QStringList stalls;
    for (const char *name : {"B.txt", "C.txt", "D.txt"})
        stalls << FtpTestServer::stallAfter(name, 1);
    row("cancelled",
        "RelInfoRemote.rel=A.txt; 2\r\nB.txt; 2\r\nC.txt; 2\r\nD.txt; 2\r\nE.txt; 2\r\n"
        "|A.txt=new|B.txt=new|C.txt=new|D.txt=new|E.txt=new",
        "A.txt=old|B.txt=old|C.txt=old|D.txt=old|E.txt=old",
        {ok("A.txt"), fail("B.txt"), fail("C.txt"), fail("D.txt")},
        "A.txt=new|B.txt=old|C.txt=old|D.txt=old|E.txt=old", "A.txt=old|B.txt=old|C.txt=old|D.txt=old",
        {"A.txt", "B.txt", "C.txt", "D.txt", "E.txt"}, stalls, " copy -> B.txt");
}

void TestEngineUpdate::downloadRun()
{
    QFETCH(Run, run);

    writeFiles(updateFolder(), run.server);
    writeFiles(programFolder(), run.installed);
    const Files serverBefore = readTree(serverFolder());
    const bool limitFileSize = run.serverOptions == QStringList{kFileSizeLimit};
    QStringList serverOptions = run.serverOptions;
    const bool passive = serverOptions.removeAll(kPassive) > 0;
    FtpTestServer ownServer(serverFolder(), serverOptions);
    if (!run.serverOptions.isEmpty() && !limitFileSize)
        QVERIFY2(ownServer.start(), qPrintable(ownServer.errorText()));
    rlimit before{};
    ::signal(SIGXFSZ, SIG_IGN); // EFBIG instead of the signal
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0);
    rlimit limit = before;
    limit.rlim_cur = limitFileSize ? 100000 : before.rlim_cur;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    RecordingReport report;
    if (passive)
        qputenv(kFtpPassiveEnv, "1");
    const CDownloadJob::Result result =
        runDownload(report, run.serverOptions.isEmpty() || limitFileSize ? QString() : ownServer.host(),
                    [&](CDownloadJob &job, const QString &line) {
                        if (line == run.cancelAt)
                            job.cancel();
                    });
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &before) == 0);
    qunsetenv(kFtpPassiveEnv);

    const QStringList start{"... Preparing download from server!",
                            "... connect to the NORVANE server",
                            "... set path (" + kUpdates + ")",
                            "... check remote revision file",
                            "... check local revision file",
                            "... compare new files",
                            "---- start transfer ----"};
    // The revision file is rewritten unless the run was cancelled.
    const QStringList rewritten{"---- end transfer ----", "... update local revision file",
                                "  ok!  updated local revision file"};
    const QStringList end{"   ", "  End of download procedure!! "};
    // Records dropped before the transfer come before its start line.
    QStringList dropped;
    QStringList fileLines;
    for (const QString &line : run.fileLines)
        (line.startsWith(" fail!    refused ") || line.startsWith(" fail!    ignored ") ? dropped : fileLines)
            << line;
    QCOMPARE(report.lines,
             start.mid(0, 6) + dropped + start.mid(6) + fileLines
                 + (run.cancelAt.isEmpty() ? rewritten : QStringList()) + end);
    QCOMPARE(result.allArrived(), run.offeredAgain.isEmpty());
    QCOMPARE(result.outcome == CDownloadJob::Outcome::Cancelled, !run.cancelAt.isEmpty());
    const Files now = readTree(programFolder());
    for (auto it = run.after.begin(); it != run.after.end(); ++it)
        QCOMPARE(now.value(it.key(), kAbsent), it.value());
    // Nothing set aside or half-written stays behind, and nothing was
    // written outside the program folder.
    for (const QString &name : now.keys())
        QVERIFY2(!QFileInfo(name).fileName().startsWith("upd_") && !name.contains(".part"), qPrintable(name));
    QCOMPARE(readTree(serverFolder()), serverBefore);
    QVERIFY(!QFile::exists(m_work.filePath("evil.sh")));
    QCOMPARE(readTree(programFolder() + "/" + kBackupName), run.backup);

    // What did not arrive is offered by the next check.
    ScriptedPrompt checkPrompt;
    CFtpFileClient client(&checkPrompt, m_server->host().toStdString());
    CUpdateCheck check(client, checkPrompt);
    check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "", false);
    QCOMPARE(check.lastOutcome(),
             run.offeredAgain.isEmpty() ? CUpdateCheck::Outcome::NothingNewer
                                        : CUpdateCheck::Outcome::NewerFiles);
    for (const QString &name : run.offeredAgain)
        QVERIFY2(QString::fromStdString(check.lastMessage()).contains("->> " + name + " \n"),
                 qPrintable(name));
}

// A program folder that links out of itself, another run at work in it,
// runs that install nothing. "outside" beside the program folder must stay
// as it was in every row.
struct Hostile
{
    Files server, installed;
    QStringList links; // "name=target" in the program folder
    bool lockedByAnotherRun;
    QStringList fileLines; // empty: no transfer
    Files after;
    QStringList stillLinks;
    bool backupFolder; // whether this minute's backup folder exists afterwards
};
Q_DECLARE_METATYPE(Hostile)

void TestEngineUpdate::hostileFolder_data()
{
    QTest::addColumn<Hostile>("hostile");
    const QByteArray old = "RelInfoLocal.rel=Spelmar.exe; 3.01.01\r\n|Spelmar.exe=old exe";
    const QByteArray newer = "RelInfoRemote.rel=Spelmar.exe; 3.01.02\r\n|Spelmar.exe=new exe";
    const QString fail = " fail!    Spelmar.exe";
    QTest::newRow("backup folder name taken by a link")
        << Hostile{files(newer),  files(old), {kBackupName + "=../outside/folder"},
                   false,         {fail},     files("Spelmar.exe=old exe"),
                   {kBackupName}, false};
    // Every name of a library's version chain shows the new library.
    QTest::newRow("version links stay links")
        << Hostile{files("RelInfoRemote.rel=libM.so; 2\r\n|libM.so=new lib"),
                   files("RelInfoLocal.rel=libM.so; 1\r\n|libM.so.3.0.0=old lib"),
                   {"libM.so=libM.so.3", "libM.so.3=libM.so.3.0.0"},
                   false,
                   {"  ok!    libM.so"},
                   files("libM.so=new lib|libM.so.3=new lib|libM.so.3.0.0=new lib|" + kBackupName.toLatin1()
                         + "/libM.so=old lib"),
                   {"libM.so", "libM.so.3"},
                   true};
    QTest::newRow("nothing newer leaves no backup folder")
        << Hostile{files("RelInfoRemote.rel=Spelmar.exe; 3.01.01\r\n"),
                   files(old),
                   {},
                   false,
                   {},
                   files(old),
                   {},
                   false};
    // Another process holds the folder's lock with its file set aside.
    QTest::newRow("another run at work")
        << Hostile{files(newer), files(old + "|upd_Spelmar.exe=its old exe"), {}, true,
                   {},           files(old + "|upd_Spelmar.exe=its old exe"), {}, false};
}

void TestEngineUpdate::hostileFolder()
{
    QFETCH(Hostile, hostile);
    const QString outside = m_work.filePath("outside");
    QDir(outside).removeRecursively();
    writeFiles(outside, files("outside.rel=Spelmar.exe; 1.00.00\r\n|folder/keep.txt=keep"));
    const Files outsideBefore = readTree(outside);
    writeFiles(updateFolder(), hostile.server);
    writeFiles(programFolder(), hostile.installed);
    for (const QString &link : hostile.links)
        QVERIFY(::symlink(QFile::encodeName(link.section('=', 1)).constData(),
                          QFile::encodeName(programFolder() + "/" + link.section('=', 0, 0)).constData())
                == 0);
    QProcess holder;
    if (hostile.lockedByAnotherRun) {
        holder.start("flock", {programFolder() + "/" + CProgramFolderLock::kFileName, "sleep", "60"});
        QVERIFY(holder.waitForStarted());
        QTRY_VERIFY(!CProgramFolderLock(programFolder().toStdString()).acquire(std::chrono::milliseconds(0)));
    }
    RecordingReport report;
    const CDownloadJob::Result result = runDownload(report);
    holder.kill();
    holder.waitForFinished();

    const QStringList transfer = report.lines.mid(7, int(hostile.fileLines.size()));
    if (hostile.lockedByAnotherRun)
        QCOMPARE(result.outcome, CDownloadJob::Outcome::Busy);
    else if (!hostile.fileLines.isEmpty())
        QCOMPARE(transfer, hostile.fileLines);
    const Files now = readTree(programFolder());
    for (auto it = hostile.after.begin(); it != hostile.after.end(); ++it)
        QCOMPARE(now.value(it.key(), kAbsent), it.value());
    for (const QString &name : hostile.stillLinks)
        QVERIFY2(QFileInfo(programFolder() + "/" + name).isSymLink(), qPrintable(name));
    QVERIFY(!QFileInfo(programFolder() + "/RelInfoLocal.rel").isSymLink());
    QCOMPARE(readTree(outside), outsideBefore);
    const QFileInfo backup(programFolder() + "/" + kBackupName);
    QCOMPARE(backup.isDir() && !backup.isSymLink(), hostile.backupFolder);
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
        QVERIFY(runDownload(report).allArrived());
    }
    QCOMPARE(readTree(programFolder() + "/" + kBackupName), before);
}

// What a killed run leaves behind goes at the next check, at every depth;
// files that merely begin with upd_ in sub-folders stay.
void TestEngineUpdate::leftoversPurged()
{
    const QByteArray rel = "Spelmar.exe; 3.01.01\r\nlib\\Core.so; 1.00.00\r\n";
    writeFiles(updateFolder(), files("RelInfoRemote.rel=" + rel));
    writeFiles(
        programFolder(),
        files(
            "RelInfoLocal.rel=" + rel
            + "|Spelmar.exe=exe|lib/Core.so=core|upd_Spelmar.exe=old|upd_Spelmar.exe.part-a1B2c3=half"
              "|lib/upd_Core.so.part-Zz09Yy=half|lib/deeper/upd_x.part-000000=half"
              "|201001010000/upd_Core.so.part=half|lib/upd_notes.txt=delivered|lib/upd_.partial=delivered"));
    QVERIFY(QFile::link(programFolder() + "/lib/Core.so", programFolder() + "/lib/upd_Core.so.lnk"));
    QVERIFY(::link(QFile::encodeName(programFolder() + "/lib/Core.so").constData(),
                   QFile::encodeName(programFolder() + "/lib/upd_Core.so").constData())
            == 0);
    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, m_server->host().toStdString());
    CUpdateCheck check(client, prompt);
    check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "", true);
    QCOMPARE(check.lastOutcome(), CUpdateCheck::Outcome::NothingNewer);
    QCOMPARE(readTree(programFolder()).keys(),
             (QStringList{"RelInfoLocal.rel", "RelInfoRemote.rel", "Spelmar.exe", "lib/Core.so",
                          "lib/upd_.partial", "lib/upd_Core.so.lnk", "lib/upd_notes.txt"}));
}

// A server that stops answering as the transfer starts costs the time-outs
// (2 s here) of the files and connections on their way at once, not one
// per remaining file.
void TestEngineUpdate::deadServerEndsRun()
{
    QByteArray rel;
    QByteArray serverFiles;
    QStringList fileLines;
    for (int i = 1; i <= 20; ++i) {
        const QByteArray name = "F" + QByteArray::number(i) + ".txt";
        rel += name + "; 1.00.00\r\n";
        serverFiles += "|" + name + "=" + name;
        fileLines << " fail!    " + name;
    }
    writeFiles(updateFolder(), files("RelInfoRemote.rel=" + rel + serverFiles));
    FtpTestServer server(serverFolder());
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    qputenv("MORAVEL_FTP_STALL_SECONDS", "2");
    RecordingReport report;
    QElapsedTimer clock;
    clock.start();
    runDownload(report, server.host(), [&](CDownloadJob &, const QString &line) {
        if (line == "---- start transfer ----")
            ::kill(static_cast<pid_t>(server.processId()), SIGSTOP);
    });
    const qint64 elapsed = clock.elapsed();
    ::kill(static_cast<pid_t>(server.processId()), SIGCONT);
    qunsetenv("MORAVEL_FTP_STALL_SECONDS");
    QCOMPARE(report.lines.mid(7, 20), fileLines);
    QVERIFY2(elapsed < 5 * 2000, qPrintable(QString::number(elapsed)));
}

// Scheduled, as the reminder runs it: newer files (ten listed at most) and
// a failed connection are told all the same. moravel_cli shows the check's
// other texts, moravel_exports and install the scheduled questions.
void TestEngineUpdate::checkMessage()
{
    QByteArray eleven;
    QString lines;
    for (int i = 1; i <= 11; ++i) {
        const QString number = QString::number(i).rightJustified(2, '0');
        eleven += ("File" + number + ".dat; 1.00." + number + "\r\n").toLatin1();
        lines += i <= 10 ? "   1.00." + number + "\t\t->> File" + number + ".dat \n" : " ... and more ... \n";
    }
    writeFile(updateFolder() + "/RelInfoRemote.rel", eleven);
    // Port 1 on the loopback refuses at once; the client's own box comes first.
    for (const QString &host : {m_server->host(), QString("127.0.0.1:1")}) {
        ScriptedPrompt prompt;
        CFtpFileClient client(&prompt, host.toStdString());
        CUpdateCheck check(client, prompt);
        QVERIFY(!check.CheckForUpdates(kUpdates.toStdString(), programFolder().toStdString(), "Spelmar.exe",
                                       true));
        const bool reached = host == m_server->host();
        QCOMPARE(check.lastOutcome(),
                 reached ? CUpdateCheck::Outcome::NewerFiles : CUpdateCheck::Outcome::NoConnection);
        QCOMPARE(boxTexts(prompt).value(int(prompt.boxes().size()) - 1),
                 reached ? checkText(" There are some newer files on the server:\n\n" + lines)
                         : "No connection to the NORVANE ftp server!\nSwitch off the automatic updates!");
        // Closed again, so the release-notes step can connect.
        QVERIFY(!client.isConnected());
    }
}

void TestEngineUpdate::setAside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("aside"); // local path of the upd_ file
    QTest::addColumn<bool>("installed");
    QTest::newRow("sub-folder") << QString("lib\\Core.so") << QString("lib/upd_Core.so") << true;
    QTest::newRow("not installed yet") << QString("New.txt") << QString("upd_New.txt") << false;
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

void TestEngineUpdate::restore_data()
{
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("blocked");  // a target that is a folder, so its copy fails
    QTest::addColumn<QString>("cancelAt"); // "abort" when this line appears
    QTest::addColumn<QStringList>("fileLines");
    QTest::addColumn<Files>("after"); // program files outside the releases
    auto row = [](const char *name, const QString &release, const QString &blocked, const QString &cancelAt,
                  const QStringList &fileLines, const QByteArray &after) {
        QTest::newRow(name) << release << blocked << cancelAt << fileLines << files(after);
    };
    const QString jan = "201401011000/", mar = "201403151200/", jun = "201406301800/";
    auto ok = [](const QString &source) { return "  ok!    " + source; };
    const QStringList june{ok(jun + "RelInfoLocal.rel"), ok(jun + "Spelmar.exe")};
    // The releases from the newest back to the chosen one, each file of
    // each, sub-folders included (a sub-folder missing now is made again).
    // The link named like the newest release is no release.
    row("oldest of three, sub-folder", jan.chopped(1), "", "",
        june
            + QStringList{ok(mar + "Moravel.so"), ok(mar + "Spelmar.exe"), ok(jan + "Help.txt"),
                          ok(jan + "RelInfoLocal.rel"), ok(jan + "Spelmar.exe"), ok(jan + "sub/Nested.txt")},
        "Spelmar.exe=jan exe|Moravel.so=mar lib|RelInfoLocal.rel=jan rel|Help.txt=jan help"
        "|sub/Nested.txt=jan nested");
    row("link named like a release", "201407010000", "", "", {},
        "Spelmar.exe=current|Moravel.so=current lib|RelInfoLocal.rel=current rel");
    // moravel_cli restores a release that does not exist.
    row("release name of another form", "../" + jun.chopped(1), "", "", {},
        "Spelmar.exe=current|Moravel.so=current lib|RelInfoLocal.rel=current rel");
    row("a file that cannot be copied", mar.chopped(1), "Moravel.so", "",
        june + QStringList{" fail!    " + mar + "Moravel.so", ok(mar + "Spelmar.exe")},
        "Spelmar.exe=mar exe|RelInfoLocal.rel=jun rel");
    row("aborted", jan.chopped(1), "", " restore -> " + mar + "Moravel.so",
        june + QStringList{" fail!    " + mar + "Moravel.so"},
        "Spelmar.exe=jun exe|Moravel.so=current lib|RelInfoLocal.rel=jun rel");
}

void TestEngineUpdate::restore()
{
    QFETCH(QString, release);
    QFETCH(QString, blocked);
    QFETCH(QString, cancelAt);
    QFETCH(QStringList, fileLines);
    QFETCH(Files, after);

    const QString program = programFolder();
    writeFiles(program, files("Spelmar.exe=current|Moravel.so=current lib|RelInfoLocal.rel=current rel"));
    const Files releases = files("201401011000/Spelmar.exe=jan exe|201401011000/RelInfoLocal.rel=jan rel"
                                 "|201401011000/Help.txt=jan help|201401011000/sub/Nested.txt=jan nested"
                                 "|201403151200/Spelmar.exe=mar exe|201403151200/Moravel.so=mar lib"
                                 "|201406301800/Spelmar.exe=jun exe|201406301800/RelInfoLocal.rel=jun rel");
    writeFiles(program, releases);
    if (!blocked.isEmpty())
        QVERIFY(QFile::remove(program + "/" + blocked) && QDir(program).mkdir(blocked));
    writeFile(m_work.filePath("201406301800/Spelmar.exe"), "outside");
    QVERIFY(QFile::link(m_work.filePath("201406301800"), program + "/201407010000"));

    RecordingReport report;
    CRestoreJob job(report, program.toStdString(), release.toStdString());
    report.onLine = [&job, cancelAt](const std::string &line) {
        if (QString::fromStdString(line) == cancelAt)
            job.cancel();
    };
    QVERIFY(job.start());
    job.wait();
    const QStringList started{"---- start restore to " + release};
    QCOMPARE(report.lines,
             (QStringList{"... Preparing restore from directory!"}
              + (fileLines.isEmpty() ? fileLines : started + fileLines)
              + QStringList{"   ", "  End of restore procedure!! "}));
    QCOMPARE(report.finishedCount, 1);
    QCOMPARE(job.result().allCopied(), blocked.isEmpty() && cancelAt.isEmpty() && !fileLines.isEmpty());
    Files now = readTree(program);
    for (auto it = releases.begin(); it != releases.end(); ++it)
        QCOMPARE(now.take(it.key()), it.value()); // the backups stay as they were
    QCOMPARE(now, after);
}

// Revision-information files: the readers, the revision rule, the merge
// and rewrite of the local file, the refusal of unusable records.
void TestEngineUpdate::readRecords_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("records");
    const QByteArray hash("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    QTest::newRow("spacing, extra and hash fields")
        << " Spelmar.exe ;  3.01.02 ;extra\r\nA.dll;1; " + hash.toUpper() + "\r\nB;2;" + hash.left(63)
        << QStringList{"Spelmar.exe|3.01.02|0", "A.dll|1|0|" + hash, "B|2|0"};
    QTest::newRow("skipped lines, no final line end")
        << QByteArray("\r\n;1\r\n  ; 2\r\nA;1\r\nB") << QStringList{"A|1|0", "B||0"};
    // Only CR LF ends a line; a lone LF or CR belongs to the line.
    QTest::newRow("LF and CR inside") << QByteArray("A;1\nB;2\rC\r\n") << QStringList{"A|1\nB|0"};
    QTest::newRow("NUL bytes") << QByteArray("A\0B;1\0\r\n\0;2\r\n", 13)
                               << QStringList{QString::fromLatin1("A\0B|1\0|0", 8),
                                              QString::fromLatin1("\0|2|0", 5)};
    QTest::newRow("overlong line skipped") << "A;1\r\n" + QByteArray(kMaxRelInfoLineLength + 1, 'x')
            + ";2\r\nB;3\r\n" << QStringList{"A|1|0", "B|3|0"};
    QTest::newRow("20 MB last line") << "A;1\r\n" + QByteArray(20 * 1024 * 1024, ';') << QStringList{"A|1|0"};
}

void TestEngineUpdate::readRecords()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, records);
    QTemporaryDir dir;
    const std::string path = dir.filePath("RelInfoRemote.rel").toStdString();
    writeFile(dir.filePath("RelInfoRemote.rel"), content);
    RelInfoList remote;
    QVERIFY(ReadRemoteRelInfo(remote, path));
    QCOMPARE(describe(remote), records);
    // A server's list is read from its bytes as they arrived, alike.
    RelInfoList arrived;
    QVERIFY(readRemoteRelInfo(arrived, std::string_view(content.constData(), std::size_t(content.size()))));
    QCOMPARE(describe(arrived), records);
    // The local reader appends the same records without marks and hashes.
    RelInfoList local = listOf({"Kept|1"});
    QVERIFY(ReadLocalRelInfo(local, path));
    QCOMPARE(describe(local),
             QStringList{"Kept|1"} + records.replaceInStrings(QRegularExpression("\\|0(\\|.*)?$"), ""));
}

void TestEngineUpdate::readMissingOrHuge()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder.rel"));
    QFile huge(dir.filePath("huge.rel"));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(kMaxRelInfoFileSize + 1));
    huge.close();
    RelInfoList list = listOf({"A|1"});
    for (const char *name : {"missing.rel", "folder.rel", "huge.rel"}) {
        QVERIFY(!ReadLocalRelInfo(list, dir.filePath(name).toStdString()));
        QVERIFY(!ReadRemoteRelInfo(list, dir.filePath(name).toStdString()));
    }
    QCOMPARE(describe(list), QStringList{"A|1"});
}

void TestEngineUpdate::revisionRule_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("local");
    QTest::addColumn<bool>("newer");
    auto row = [](const char *name, const char *remote, const char *local, bool newer) {
        QTest::newRow(name) << QString(remote) << QString(local) << newer;
    };
    row("short patch is a bigger minor", "1.23.5", "1.23.45", true);
    row("smaller major", "2.00.00", "10.00.00", false);
    row("equal", "3.01.02", "3.01.02", false);
    row("no patch reads huge", "1.2", "1.99.99", true);
    row("empty local", "0.00.01", "", true);
    row("huge major does not wrap", "99999999999999999999.1", "1.00.00", true);
}

void TestEngineUpdate::revisionRule()
{
    QFETCH(QString, remote);
    QFETCH(QString, local);
    QFETCH(bool, newer);
    QCOMPARE(isNewerRevision(remote.toStdString(), local.toStdString()), newer);
}

// Transferred records take over their revision or are appended; a new file
// that did not arrive is appended with 0.00.00, once however often it is
// listed; marks other than 1 count as not transferred. The new file is
// renamed over the old one: a reader that has the old file open keeps it.
void TestEngineUpdate::writeLocalRelInfo()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("RelInfoLocal.rel");
    writeFile(file, "old\r\n");
    QFile reader(file);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    RelInfoList local = listOf({"Spelmar.exe|3.01.02", "Moravel.dll|1.00.00", "Old.txt|0.01.00", "C|1"});
    QVERIFY(WriteLocalRelInfo(local,
                              listOf({"SPELMAR.EXE|3.02.00|1", "New.dll|2.00.00|1", "Moravel.dll|1.10.00|0",
                                      "Failed.dll|1.00.00|0", "A|1|0", "a|2|1", "C|2|-1", "C|3|x"}),
                              file.toStdString()));
    QCOMPARE(reader.readAll(), QByteArray("old\r\n"));
    QCOMPARE(readFile(file),
             QByteArray("Spelmar.exe; 3.02.00\r\nMoravel.dll; 1.00.00\r\nOld.txt; 0.01.00\r\nC; 1\r\n"
                        "New.dll; 2.00.00\r\nFailed.dll; 0.00.00\r\nA; 2\r\n"));
    // When nothing can be written that is reported, and nothing is left.
    QVERIFY(!WriteLocalRelInfo(local, RelInfoList(), dir.filePath("missing/x.rel").toStdString()));
    QVERIFY(QDir(dir.path()).mkpath("folder.rel/inside"));
    QVERIFY(!WriteLocalRelInfo(local, RelInfoList(), dir.filePath("folder.rel").toStdString()));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"folder.rel", "RelInfoLocal.rel"}));
    QVERIFY(QFileInfo(dir.filePath("folder.rel/inside")).isDir());

    // The reader refuses a record its writer could not write back ("O…;1" is
    // within the line bound, "O…; 1" is not), so a rewrite loses nothing read.
    const QByteArray fits(kMaxRelInfoLineLength - 3, 'F'), over(kMaxRelInfoLineLength - 2, 'O');
    writeFile(file, fits + ";1\r\n" + over + ";1\r\nB;2\r\n");
    for (int pass = 0; pass < 2; ++pass) {
        RelInfoList none, reread;
        QVERIFY(ReadLocalRelInfo(reread, file.toStdString()));
        QCOMPARE(describe(reread), (QStringList{fits + "|1", "B|2"}));
        QVERIFY(WriteLocalRelInfo(reread, none, file.toStdString()));
    }
}

// The readers split their lines the same way.
void TestEngineUpdate::getField()
{
    const struct
    {
        const char *text;
        int n;
        const char *field;
    } cases[] = {{"a;b", 2, "b"}, {"a;;b", 2, ""}, {"a;;b", 3, "b"},
                 {"a;b;", 3, ""}, {"a;b", 3, ""},  {"a;b", 0, ""}};
    for (const auto &c : cases)
        QCOMPARE(GetField(c.text, c.n, ';'), std::string(c.field));
}

// Unsafe, reserved and repeated names go, each with its reason (names
// compared without regard to case); a huge list keeps the first reasons
// and counts the rest.
void TestEngineUpdate::dropUnusable()
{
    const QString refused = "refused file name \"%1\": %2";
    QStringList records{"../x|1",
                        "relinfolocal.SEQ|1",
                        "Sub\\UPD_x.bin|1",
                        "202001010000/a|1",
                        "209912312359|1",
                        "RelInfoLocal.TRIAL|1",
                        "relinfofailed\\Spelmar|1",
                        "sub\\RelInfoLocal.rel|1",
                        "A|1"};
    QStringList reasons{
        refused.arg("../x", "not a plain name below the program folder"),
        refused.arg("relinfolocal.SEQ", "the update engine's own file"),
        refused.arg("Sub\\UPD_x.bin", "an upd_ name, which the update engine gives files it sets aside"),
        refused.arg("202001010000/a", "inside the backup folder 202001010000"),
        refused.arg("209912312359", "the name of a backup folder"),
        refused.arg("RelInfoLocal.TRIAL", "the update engine's own file"),
        refused.arg("relinfofailed\\Spelmar", "inside the folder that keeps a failed release")};
    for (int i = 0; i < 150; ++i) {
        records << "a|2";
        if (i < 93)
            reasons << "ignored \"a\": the same file as \"A\" listed before";
    }
    RelInfoList list = listOf(records);
    QStringList given;
    for (const std::string &reason : dropUnusableRecords(list))
        given << latin1(reason);
    QCOMPARE(given, reasons + QStringList{"... and 57 more records refused or ignored"});
    QCOMPARE(describe(list), (QStringList{"sub\\RelInfoLocal.rel|1", "A|1"}));
}

// The folder a "file://" host names; empty: it names none here.
void TestEngineUpdate::folderHosts_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("folder");
    QTest::newRow("path") << "file:///media/stick"
                          << "/media/stick";
    QTest::newRow("trailing slashes") << "file:///media/stick//"
                                      << "/media/stick";
    QTest::newRow("the root") << "file:///"
                              << "/";
    QTest::newRow("this machine") << "file://localhost/media/stick"
                                  << "/media/stick";
    QTest::newRow("escapes") << "FILE:///media/MY%20STICK/100%25"
                             << "/media/MY STICK/100%";
    QTest::newRow("a lone percent") << "file:///a%2"
                                    << "/a%2";
    QTest::newRow("another machine") << "file://server/share"
                                     << "";
    QTest::newRow("relative") << "file://stick"
                              << "";
    QTest::newRow("ftp") << "ftp://stick/"
                         << "";
}

void TestEngineUpdate::folderHosts()
{
    QFETCH(QString, host);
    QFETCH(QString, folder);
    QCOMPARE(QString::fromStdString(CFolderFileClient::folderOfHost(host.toStdString())), folder);
}

// The trial file as the engine reads it; a damaged one opens no trial.
void TestEngineUpdate::trialText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("read"); // "release starts"; empty: refused
    QTest::newRow("written") << QByteArray::fromStdString(releaseTrialText({"202612080734", 2}))
                             << "202612080734 2";
    QTest::newRow("unknown lines") << QByteArray("note=x\nrelease=202612080734\n") << "202612080734 0";
    QTest::newRow("no release") << QByteArray("starts=1\n") << "";
    QTest::newRow("a folder that is no release") << QByteArray("release=RelInfoFailed\n") << "";
    QTest::newRow("negative starts") << QByteArray("release=202612080734\nstarts=-1\n") << "";
    QTest::newRow("starts not a number") << QByteArray("release=202612080734\nstarts=2x\n") << "";
}

void TestEngineUpdate::trialText()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, read);
    ReleaseTrial trial;
    const bool parsed = parseReleaseTrial(text.toStdString(), trial);
    QCOMPARE(parsed ? QString::fromStdString(trial.release) + " " + QString::number(trial.starts) : QString(),
             read);
}

void TestEngineUpdate::packagedFolder_data()
{
    // The package database's file lists ("NAME=PATH|PATH", "@" the
    // program folder "<temporary>/opt/prog", "%" its parent; none: no
    // database at all), and the packages that own the folder (empty: it
    // is writable).
    QTest::addColumn<QStringList>("lists");
    QTest::addColumn<QString>("owners");
    QTest::newRow("its first and last line") << QStringList{"tool=@"} << "tool";
    QTest::newRow("two packages") << QStringList{"beta:amd64=/usr|@|@/bin", "alpha=%|@", "other=/usr"}
                                  << "alpha, beta:amd64";
    QTest::newRow("a longer name only") << QStringList{"tool=@ram|@.old|/x@"} << "";
    QTest::newRow("its parent only") << QStringList{"tool=%|%/"} << "";
    QTest::newRow("not a file list") << QStringList{"tool.md5sums=@", "tool.conffiles=@"} << "";
    QTest::newRow("no database") << QStringList() << "";
}

void TestEngineUpdate::packagedFolder()
{
    QFETCH(QStringList, lists);
    QFETCH(QString, owners);
    QTemporaryDir root;
    const QString folder = root.filePath("opt/prog");
    QVERIFY(QDir().mkpath(folder));
    const QString admin = root.filePath("dpkg");
    for (const QString &list : lists) {
        const QString name = list.section('=', 0, 0);
        const QString paths =
            list.section('=', 1).replace('@', folder).replace('%', root.filePath("opt")).replace('|', '\n');
        QVERIFY(writeFile(admin + "/info/" + name + (name.contains('.') ? "" : ".list"), paths.toUtf8()));
    }
    QVERIFY(!qEnvironmentVariableIsSet("DPKG_ADMINDIR"));
    qputenv("DPKG_ADMINDIR", admin.toUtf8());
    std::string package;
    const InstallationAccess access = installationAccess(folder.toStdString(), &package);
    qunsetenv("DPKG_ADMINDIR");
    QCOMPARE(access, owners.isEmpty() ? InstallationAccess::Writable : InstallationAccess::Packaged);
    QCOMPARE(QString::fromStdString(package), owners);
}

QTEST_GUILESS_MAIN(TestEngineUpdate)
#include "tst_engine_update.moc"
