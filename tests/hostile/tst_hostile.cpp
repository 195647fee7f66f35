// What a hostile update server can send, on the project's own FTP server:
// transfers without end or too slow, a signature file without end, lists
// that leave out what a signature must cover, and pages built to exhaust
// or escape the release-notes viewer, mirrors that lag behind or lack a
// signature, runs that meet in one program folder while a box waits, files
// changed on the server while they arrive (over HTTPS from nginx and over
// FTP), and answers that libcurl refuses in words of its own. Every row
// ends in bounded time with nothing of the transfer kept.
#include "jobs/downloadjob.h"
#include "explorer1.h"
#include "transfer/ftpfileclient.h"
#include "ftpserver.h"
#include "pagelimits.h"
#include "publish.h"
#include "jobs/releasenotesfetch.h"
#include "revision/relinfo.h"
#include "revision/revisionsignature.h"
#include "signing.h"
#include "jobs/updatecheck.h"
#include "settings/updatesettings.h"
#include "silentserver.h"
#include "updatetestsupport.h"
#include "webserver.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <memory>
#include <thread>

#include <unistd.h>

namespace {

const QString kUpdates = QStringLiteral("Updates");
constexpr int kFileBytes = 1024 * 1024;

// Holds each box until released, so that a test can act while it waits.
class HeldPrompt : public IPrompt
{
public:
    Answer message(const std::string &text, const std::string &, Buttons buttons, Icon) override
    {
        m_texts << QString::fromStdString(text);
        m_shown.release();
        m_answer.tryAcquire(1, 60000);
        return negativeAnswer(buttons);
    }
    bool waitShown() { return m_shown.tryAcquire(1, 30000); }
    void answer() { m_answer.release(); }
    QStringList texts() const { return m_texts; }

private:
    QSemaphore m_shown;
    QSemaphore m_answer;
    QStringList m_texts;
};

// Collects the links handed to the user's browser.
class LinkCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void transfers_data();
    void transfers();
    void stateFilesNeverFollowLinks_data();
    void stateFilesNeverFollowLinks();
    void reservedNamesAreRefused();
    void mirrorsAndLocks_data();
    void mirrorsAndLocks();
    void pages_data();
    void pages();
    void resumeNeverJoinsVersions_data();
    void resumeNeverJoinsVersions();

private:
    void signList(const QString &folder, const std::function<QByteArray(QByteArray)> &change);

    QTemporaryDir m_work;
    QString m_key;
    QString m_publicKey;
    int m_row = 0;
};

void TestHostile::initTestCase()
{
    QVERIFY(m_work.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_work.filePath("config")));
    qputenv("MORAVEL_FTP_STALL_SECONDS", "2");
    qunsetenv("MORAVEL_FTP_HOST");
    m_key = m_work.filePath("maker.key");
    m_publicKey = m_work.filePath("maker.pub");
    std::string error;
    QVERIFY2(Signature::makeKeyPair(m_key.toStdString(), m_publicKey.toStdString(), error), error.c_str());
}

// Rewrites a published list and signs it again as the publisher would.
void TestHostile::signList(const QString &folder, const std::function<QByteArray(QByteArray)> &change)
{
    const QByteArray list = change(readFile(folder + "/RelInfoRemote.rel"));
    QVERIFY(writeFile(folder + "/RelInfoRemote.rel", list));
    RevisionSignature signature;
    signature.sequence = 7;
    signature.expires = utcMomentText(std::time(nullptr) + 86400);
    std::string error;
    QVERIFY2(
        Signature::sign(m_key.toStdString(),
                        revisionSignatureMessage(signature.sequence, signature.expires, list.toStdString()),
                        signature.signature, error),
        error.c_str());
    QVERIFY(writeFile(folder + "/RelInfoRemote.rel.sig",
                      QByteArray::fromStdString(formatRevisionSignature(signature))));
}

void TestHostile::transfers_data()
{
    // What is fetched: "file" (a download run of big.bin), "check" (the
    // update check), "page" (the release notes).
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("sign");
    QTest::addColumn<QStringList>("server"); // ftpserver.py's hostile mode
    // Done to the published directory: "sizes" drops every record's size,
    // "seal" the release notes' line, "page" changes the page afterwards.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("minRate"); // the MinRate setting
    QTest::addColumn<QString>("reason");
    auto row = [](const char *name, const char *what, bool sign, const QStringList &server,
                  const char *change, const char *minRate, const QString &reason) {
        QTest::newRow(name) << what << sign << server << change << minRate << reason;
    };
    const QString big = QStringLiteral("big.bin");
    row("endless file of a signed list", "file", true, FtpTestServer::endless(big), "", "0",
        QString("larger than %1 bytes").arg(kFileBytes));
    row("endless file of an unsigned list", "file", false, FtpTestServer::endless(big), "", "0",
        "larger than 268435456 bytes");
    row("drip under the minimum rate", "file", false, FtpTestServer::drip(big, 20), "", "1024/2",
        "slower than 1024 bytes a second over 2 s");
    // The stall time-out alone ends it (the minimum rate is off).
    row("silence after the first bytes", "file", false, FtpTestServer::stallAfter(big, 64 * 1024), "", "0",
        "stall time-out");
    row("endless signature file", "check", true, FtpTestServer::endless("RelInfoRemote.rel.sig"), "", "0",
        "larger than 4096 bytes");
    row("signed list without sizes", "check", true, {}, "sizes", "0", "lists big.bin without a size");
    row("endless page", "page", false, FtpTestServer::endless("LatestUpdate.html"), "", "0",
        "larger than 1048576 bytes");
    row("page changed after signing", "page", true, {}, "page", "0", "SHA-256 mismatch");
    row("signed list naming no page", "page", true, {}, "seal", "0", "not covered by the signature");
}

void TestHostile::transfers()
{
    QFETCH(QString, what);
    QFETCH(bool, sign);
    QFETCH(QStringList, server);
    QFETCH(QString, change);
    QFETCH(QString, minRate);
    QFETCH(QString, reason);

    const QString root = m_work.filePath(QString("server%1").arg(++m_row));
    const QString offered = root + "/" + kUpdates;
    const QString program = m_work.filePath(QString("program%1").arg(m_row));
    writeFiles(offered,
               {{"big.bin", QByteArray(kFileBytes, 'n')},
                {"LatestUpdate.html", "<h1>Release 3.01.02</h1>"},
                {"RelInfoRemote.rel", "big.bin; 3.01.02\r\n"}});
    writeFiles(program, {{"big.bin", "old"}, {"RelInfoLocal.rel", "big.bin; 3.01.01\r\n"}});
    UpdateSecurity security;
    if (sign) {
        PublishOptions options;
        options.keyFile = m_key.toStdString();
        PublishResult published;
        std::string error;
        QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
        security.publicKeyFile = m_publicKey.toStdString();
    }
    if (change == "sizes")
        signList(offered, [](QByteArray list) { return list.left(list.indexOf("; 1048576")) + "\r\n"; });
    if (change == "seal")
        signList(offered, [](QByteArray list) { return list.left(list.indexOf("; Latest")); });
    if (change == "page")
        writeFile(offered + "/LatestUpdate.html", "<h1>Release 6.66.66</h1>");
    UpdateSettings::setValue(UpdateSettings::keyPath(kUpdates.toStdString()), UpdateSettings::kMinRate,
                             minRate);

    FtpTestServer ftp(root, server);
    QVERIFY2(ftp.start(), qPrintable(ftp.errorText()));
    QString told;
    if (what == "file") {
        RecordingReport report;
        CDownloadJob job(report, nullptr, kUpdates.toStdString(), program.toStdString(), false,
                         ftp.host().toStdString());
        job.setSecurity(security);
        QVERIFY(job.start());
        // A run that no bound ends is cut off here, and the row fails.
        QTimer::singleShot(40000, [&job] { job.cancel(); });
        QTRY_VERIFY_WITH_TIMEOUT(!job.isRunning(), 60000);
        job.wait();
        for (const std::string &why : job.result().failureReasons)
            told += QString::fromStdString(why) + "\n";
        told += report.lines.join("\n");
        QVERIFY2(!job.isCancelled(), qPrintable(told));
        QVERIFY2(report.lines.contains(" fail!    big.bin"), qPrintable(told));
        QCOMPARE(readFile(program + "/big.bin"), QByteArray("old"));
    } else if (what == "check") {
        ScriptedPrompt prompt;
        CFtpFileClient client(nullptr, ftp.host().toStdString());
        CUpdateCheck check(client, prompt);
        check.setSecurity(security);
        check.CheckForUpdates(kUpdates.toStdString(), program.toStdString(), "Spelmar", false);
        QCOMPARE(check.lastOutcome(), CUpdateCheck::Outcome::Refused);
        told = QString::fromStdString(check.lastMessage());
    } else {
        qputenv("MORAVEL_FTP_HOST", ftp.host().toUtf8());
        const ReleaseNotesResult page =
            fetchReleaseNotes(kUpdates.toStdString(), program.toStdString(), security, nullptr);
        qunsetenv("MORAVEL_FTP_HOST");
        QVERIFY(!page.shown);
        told = QString::fromStdString(page.problem);
        QVERIFY(QFileInfo(program + "/LatestUpdate.html").size() <= 1024 * 1024);
    }
    QVERIFY2(told.contains(reason), qPrintable(told));
    // Nothing of a stopped transfer stays behind.
    for (const QString &name : QDir(program).entryList(QDir::Files))
        QVERIFY2(!name.startsWith("upd_"), qPrintable(name));
}

void TestHostile::stateFilesNeverFollowLinks_data()
{
    // A name below the program folder that is a symbolic link out of it
    // ("<backup>/": in the folder of this run's backup copies, which an
    // earlier run of the minute made), the run ("ftp" or "http": a signed
    // update; "notes": the release notes), the lines the update shows and
    // the reason of its failed file.
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("run");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("reason");
    const QStringList arrived{"  ok!    %tool.bin", "  ok!    big.bin", "  ok!    lib/core.so"};
    const QStringList coreFailed{"  ok!    %tool.bin", "  ok!    big.bin", " fail!    lib/core.so"};
    for (const char *state :
         {"RelInfoLocal.rel", "RelInfoLocal.seq", "RelInfoRemote.rel", "RelInfoRemote.rel.sig"})
        QTest::newRow(state) << state << "ftp" << arrived << "";
    QTest::newRow("RelInfoRemote.validators") << "RelInfoRemote.validators"
                                              << "http" << arrived << "";
    QTest::newRow("LatestUpdate.html") << "LatestUpdate.html"
                                       << "notes" << QStringList() << "";
    QTest::newRow("a downloaded file's sub-folder")
        << "lib"
        << "ftp" << coreFailed << "a folder of its path is a symbolic link";
    QTest::newRow("a backup copy's sub-folder") << "<backup>/lib"
                                                << "ftp" << coreFailed << "cannot keep a backup copy";
    // A "%" file gets no backup copy, so only its own refusal stops it.
    QTest::newRow("an installed file without backup copy")
        << "%tool.bin"
        << "ftp" << QStringList{" fail!    %tool.bin", "  ok!    big.bin", "  ok!    lib/core.so"}
        << "is a symbolic link out of its folder";
}

void TestHostile::stateFilesNeverFollowLinks()
{
    QFETCH(QString, link);
    QFETCH(QString, run);
    QFETCH(QStringList, lines);
    QFETCH(QString, reason);

    const QString root = m_work.filePath(QString("server%1").arg(++m_row));
    const QString offered = root + "/" + kUpdates;
    const QString program = m_work.filePath(QString("program%1").arg(m_row));
    const QString outside = m_work.filePath(QString("outside%1").arg(m_row));
    const QByteArray page = "<h1>Release 1.00.00</h1>";
    writeFiles(offered,
               {{"%tool.bin", "new tool"},
                {"big.bin", QByteArray(kFileBytes, 'n')},
                {"lib/core.so", "new core"},
                {"LatestUpdate.html", page}});
    writeFiles(program,
               {{"%tool.bin", "old tool"},
                {"big.bin", "old"},
                {"lib/core.so", "old core"},
                {"RelInfoLocal.rel", "%tool.bin; 0.01\r\nbig.bin; 0.01\r\nlib/core.so; 0.01\r\n"}});
    writeFiles(outside, {{"file", "1\n"}, {"folder/core.so", "outside core"}});
    const std::time_t moment = 1700000000;
    const QString linkPath = program + "/"
        + QString(link).replace("<backup>", QString::fromStdString(CDownloadJob::backupFolderName(moment)));
    QVERIFY(QDir().mkpath(QFileInfo(linkPath).path()));
    QFile::remove(linkPath);
    QDir(linkPath).removeRecursively();
    const bool folder = link.endsWith("lib");
    QVERIFY(::symlink(QFile::encodeName(outside + (folder ? "/folder" : "/file")).constData(),
                      QFile::encodeName(linkPath).constData())
            == 0);
    const Files outsideBefore = readTree(outside);

    PublishOptions options;
    options.keyFile = m_key.toStdString();
    PublishResult published;
    std::string error;
    QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
    UpdateSecurity security;
    security.publicKeyFile = m_publicKey.toStdString();
    FtpTestServer ftp(root);
    std::unique_ptr<WebTestServer> web;
    QString host;
    if (run == "http") {
        if (!WebTestServer::unavailable().isEmpty())
            QSKIP(qPrintable(WebTestServer::unavailable()));
        web = WebTestServer::nginx(root, QString());
        QVERIFY2(web->start(), qPrintable(web->errorText()));
        host = web->url();
    } else {
        QVERIFY2(ftp.start(), qPrintable(ftp.errorText()));
        host = ftp.host();
    }

    QString told;
    if (run == "notes") {
        qputenv("MORAVEL_FTP_HOST", host.toUtf8());
        const ReleaseNotesResult notes =
            fetchReleaseNotes(kUpdates.toStdString(), program.toStdString(), security, nullptr);
        qunsetenv("MORAVEL_FTP_HOST");
        QVERIFY2(notes.shown, notes.problem.c_str());
        QCOMPARE(QByteArray::fromStdString(notes.html), page);
    } else {
        RecordingReport report;
        CDownloadJob job(report, nullptr, kUpdates.toStdString(), program.toStdString(), false,
                         host.toStdString());
        job.setSecurity(security);
        job.setClock([moment] { return moment; });
        QVERIFY(job.start());
        QTRY_VERIFY_WITH_TIMEOUT(!job.isRunning(), 60000);
        job.wait();
        for (const std::string &why : job.result().failureReasons)
            told += QString::fromStdString(why) + "\n";
        told += report.lines.join("\n");
        for (const QString &line : lines)
            QVERIFY2(report.lines.contains(line), qPrintable(told));
        QVERIFY2(told.contains(reason), qPrintable(told));
        if (lines.contains("  ok!    big.bin"))
            QCOMPARE(readFile(program + "/big.bin"), QByteArray(kFileBytes, 'n'));
    }
    QCOMPARE(readTree(outside), outsideBefore);
}

// A server list naming the engine's own files, set-aside names, files of
// a backup folder, a name out of the folder and one file twice gets none
// of them written; a key beside the program is a file like any other.
void TestHostile::reservedNamesAreRefused()
{
    const QString root = m_work.filePath(QString("server%1").arg(++m_row));
    const QString offered = root + "/" + kUpdates;
    const QString program = m_work.filePath(QString("program%1").arg(m_row));
    const QString own = "the update engine's own file";
    const QList<QPair<QString, QString>> records{
        {".moravel.lock", own},
        {"RelInfoLocal.seq", own},
        {"RelInfoLocal.root", own},
        {"relinfolocal.PHASE", own},
        {"RelInfoRemote.rel.sig", own},
        {"upd_x.bin", "an upd_ name"},
        {"202001010000\\old.bin", "inside the backup folder 202001010000"},
        {"../evil.bin", "not a plain name below the program folder"},
        {"moravel.pub", ""},
        {"MORAVEL.pub", "the same file as \"moravel.pub\" listed before"}};
    QByteArray list;
    Files served;
    for (const auto &[name, reason] : records) {
        list += name.toLatin1() + "; 2.00.00\r\n";
        served.insert(QString(name).replace('\\', '/').remove("../"), "server bytes");
    }
    served.insert("RelInfoRemote.rel", list);
    writeFiles(offered, served);
    const Files installed{{".moravel.lock", ""},
                          {"RelInfoLocal.seq", "5\n"},
                          {"202001010000/old.bin", "restore point"},
                          {"RelInfoLocal.rel", "old.bin; 1.00.00\r\n"}};
    writeFiles(program, installed);

    FtpTestServer ftp(root);
    QVERIFY2(ftp.start(), qPrintable(ftp.errorText()));
    RecordingReport report;
    CDownloadJob job(report, nullptr, kUpdates.toStdString(), program.toStdString(), false,
                     ftp.host().toStdString());
    QVERIFY(job.start());
    QTRY_VERIFY_WITH_TIMEOUT(!job.isRunning(), 60000);
    job.wait();
    const QString told = report.lines.join("\n");
    QCOMPARE(report.lines.filter(QRegularExpression("^ fail!    (refused|ignored)")).size(), 9);
    for (const auto &[name, reason] : records)
        QVERIFY2(reason.isEmpty()
                     ? report.lines.contains("  ok!    " + name)
                     : told.contains(QRegularExpression("\n fail!    (refused file name|ignored) \""
                                                        + QRegularExpression::escape(name) + "\": [^\n]*"
                                                        + QRegularExpression::escape(reason))),
                 qPrintable(name + "\n" + told));
    QCOMPARE(readFile(program + "/moravel.pub"), QByteArray("server bytes"));
    for (auto it = installed.begin(); it != installed.end(); ++it)
        QVERIFY2(it.key() == "RelInfoLocal.rel" || readFile(program + "/" + it.key()) == it.value(),
                 qPrintable(it.key()));
    for (const char *absent :
         {"RelInfoRemote.rel.sig", "upd_x.bin", "../evil.bin", "RelInfoLocal.root", "relinfolocal.PHASE"})
        QVERIFY(!QFileInfo::exists(program + "/" + absent));
}

void TestHostile::mirrorsAndLocks_data()
{
    // The mirrors in the host text, each an update folder of its own:
    // "lagging" (a valid list older than the accepted one), "current",
    // "unsigned current" (an older release whose .sig is missing) and
    // "missing file" (an unsigned list naming a file the server lacks).
    QTest::addColumn<QStringList>("mirrors");
    // "closed port" is a loopback port that nobody listens on.
    // "update", "update while the check's box waits" (or the first
    // download's), "notes while locked".
    QTest::addColumn<QString>("run");
    QTest::addColumn<QByteArray>("installed"); // Spelmar.exe afterwards
    QTest::addColumn<QString>("told");         // a line of what the run told
    QTest::addColumn<QString>("untold");       // what it must not tell
    // The mirror whose list the folder keeps afterwards; -1: the copies
    // accepted before stay.
    QTest::addColumn<int>("keptFrom");
    const QString older = "has sequence 5, older than the accepted 7";
    QTest::newRow("lagging mirror first")
        << QStringList{"lagging", "current"} << "update" << QByteArray("exe 3.01.03")
        << "mirror 1: Update refused: RelInfoRemote.rel " + older << "" << 1;
    QTest::newRow("lagging mirror alone, the kept copy stays")
        << QStringList{"lagging"} << "update" << QByteArray("old exe") << older << "ok!" << -1;
    QTest::newRow("first mirror without its .sig") << QStringList{"unsigned current", "current"} << "update"
                                                   << QByteArray("exe 3.01.03") << "  ok!    Spelmar.exe"
                                                   << "signature" << 1;
    QTest::newRow("a download while the check's box waits")
        << QStringList{"lagging"} << "update while the check's box waits" << QByteArray("old exe") << older
        << "another update or restore" << -1;
    QTest::newRow("a download while another one's connection box waits")
        << QStringList{"closed port"} << "update while the first download's box waits"
        << QByteArray("old exe") << "cannot connect to"
        << "another update or restore" << -1;
    QTest::newRow("the only file failed") << QStringList{"missing file"} << "update" << QByteArray("old exe")
                                          << " fail! no update in local revision file"
                                          << "ok!  updated" << 0;
    QTest::newRow("release notes while another run works")
        << QStringList{"current"} << "notes while locked" << QByteArray("old exe")
        << "another update or restore is working"
        << "" << -1;
}

void TestHostile::mirrorsAndLocks()
{
    QFETCH(QStringList, mirrors);
    QFETCH(QString, run);
    QFETCH(QByteArray, installed);
    QFETCH(QString, told);
    QFETCH(QString, untold);
    QFETCH(int, keptFrom);

    const QString program = m_work.filePath(QString("program%1").arg(++m_row));
    const Files kept{{"RelInfoRemote.rel", "kept list"}, {"RelInfoRemote.rel.sig", "kept sig"}};
    writeFiles(program, kept);
    writeFiles(program,
               {{"Spelmar.exe", "old exe"},
                {"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"},
                {"RelInfoLocal.seq", "7\n"}});
    UpdateSecurity security;
    std::vector<std::unique_ptr<FtpTestServer>> servers;
    QStringList hosts;
    for (const QString &mirror : mirrors) {
        if (mirror == "closed port") {
            sockaddr_in address;
            const int unused = listenOnLoopback(1, address);
            QVERIFY(unused >= 0);
            ::close(unused);
            hosts << QString("127.0.0.1:%1").arg(ntohs(address.sin_port));
            continue;
        }
        const QString root = m_work.filePath(QString("mirror%1-%2").arg(m_row).arg(hosts.size()));
        const QString offered = root + "/" + kUpdates;
        const bool current = mirror == "current";
        writeFiles(
            offered,
            {{"Spelmar.exe", current ? "exe 3.01.03" : "exe 3.01.02"},
             {"LatestUpdate.html", "<h1>Release</h1>"},
             {"RelInfoRemote.rel", current ? "Spelmar.exe; 3.01.03\r\n" : "Spelmar.exe; 3.01.02\r\n"}});
        if (mirror == "missing file") {
            QFile::remove(offered + "/Spelmar.exe");
        } else {
            PublishOptions options;
            options.keyFile = m_key.toStdString();
            options.sequence = mirror == "lagging" ? 5 : 9;
            PublishResult published;
            std::string error;
            QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
            security.publicKeyFile = m_publicKey.toStdString();
        }
        if (mirror == "unsigned current")
            QVERIFY(QFile::remove(offered + "/RelInfoRemote.rel.sig"));
        servers.push_back(std::make_unique<FtpTestServer>(root));
        QVERIFY2(servers.back()->start(), qPrintable(servers.back()->errorText()));
        hosts << servers.back()->host();
    }
    const std::string host = hosts.join(",").toStdString();

    QStringList lines;
    auto download = [&] {
        RecordingReport report;
        QStringList reasons;
        report.onReason = [&reasons](const std::string &why) { reasons << QString::fromStdString(why); };
        CDownloadJob job(report, nullptr, kUpdates.toStdString(), program.toStdString(), false, host);
        job.setSecurity(security);
        QVERIFY(job.start());
        job.wait();
        lines << report.lines << reasons;
    };
    if (run == "update") {
        download();
    } else if (run.startsWith("update while")) {
        // The check's refusal box, or the first download's connection box.
        HeldPrompt prompt;
        CFtpFileClient client(nullptr, host);
        CUpdateCheck check(client, prompt);
        check.setSecurity(security);
        RecordingReport firstReport;
        CDownloadJob first(firstReport, &prompt, kUpdates.toStdString(), program.toStdString(), false, host);
        std::thread checking([&] {
            if (run.contains("check"))
                check.CheckForUpdates(kUpdates.toStdString(), program.toStdString(), "Spelmar", false);
            else
                first.start();
        });
        const bool shown = prompt.waitShown();
        if (shown)
            download();
        prompt.answer();
        checking.join();
        first.wait();
        QVERIFY(shown);
        lines << prompt.texts();
    } else {
        CProgramFolderLock lock(program.toStdString());
        QVERIFY(lock.acquire(std::chrono::milliseconds(0)));
        qputenv("MORAVEL_FTP_HOST", host.c_str());
        const ReleaseNotesResult page =
            fetchReleaseNotes(kUpdates.toStdString(), program.toStdString(), security, nullptr);
        qunsetenv("MORAVEL_FTP_HOST");
        QVERIFY(!page.shown);
        lines << QString::fromStdString(page.problem);
        QVERIFY(!QFileInfo::exists(program + "/LatestUpdate.html"));
    }
    const QString all = lines.join("\n");
    QVERIFY2(!lines.filter(told).isEmpty(), qPrintable(all));
    QVERIFY2(untold.isEmpty() || !all.contains(untold), qPrintable(all));
    QCOMPARE(readFile(program + "/Spelmar.exe"), installed);
    // A run that installed nothing leaves no backup folder.
    QCOMPARE(QDir(program).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
             installed == "old exe" ? 0 : 1);
    // A refused list leaves the copies accepted before; an accepted one
    // replaces them with its own, from the mirror it came from.
    if (keptFrom < 0) {
        for (auto it = kept.begin(); it != kept.end(); ++it)
            QCOMPARE(readFile(program + "/" + it.key()), it.value());
    } else {
        const QString from = m_work.filePath(QString("mirror%1-%2/Updates/").arg(m_row).arg(keptFrom));
        QCOMPARE(readFile(program + "/RelInfoRemote.rel"), readFile(from + "RelInfoRemote.rel"));
    }
}

void TestHostile::pages_data()
{
    QTest::addColumn<QByteArray>("html");
    // "text": shown as plain text; "nothing loaded": the image is not read;
    // "opened outside": a click hands the link to the user's browser;
    // "stays": a click changes nothing and opens nothing; "page": shown as
    // a page, not as its source.
    QTest::addColumn<QString>("expect");
    auto nested = [](const QByteArray &open, const QByteArray &close, int depth) {
        return "<html><body>" + open.repeated(depth) + "deep" + close.repeated(depth) + "</body></html>";
    };
    QTest::newRow("3000 nested tables") << nested("<table><tr><td>", "</td></tr></table>", 3000) << "text";
    QTest::newRow("20000 nested lists") << nested("<ul><li>", "</li></ul>", 20000) << "text";
    QTest::newRow("20000 nested divs") << nested("<div>", "</div>", 20000) << "text";
    // Each limit alone, and a page within both that is shown as a page.
    QTest::newRow("30 nested divs") << nested("<div>", "</div>", 30) << "text";
    QTest::newRow("6000 elements, flat")
        << "<html><body>" + QByteArray("<i>x</i> ").repeated(6000) + "</body></html>"
        << "text";
    QTest::newRow("20 nested divs, 4000 elements")
        << nested("<div>", "</div>", 20).replace("deep", QByteArray("<i>x</i> ").repeated(3970)) << "page";
    QTest::newRow("image from /dev/zero") << QByteArray("<img src=\"/dev/zero\">") << "nothing loaded";
    QTest::newRow("link to a local file")
        << QByteArray("<a href=\"file:///etc/passwd\">passwd passwd passwd</a>") << "stays";
    QTest::newRow("https link") << QByteArray("<a href=\"https://example.org/\">notes notes</a>")
                                << "opened outside";
}

void TestHostile::pages()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, expect);

    LinkCatcher browser;
    for (const char *scheme : {"file", "https", "http"})
        QDesktopServices::setUrlHandler(scheme, &browser, "open");
    QWidget window;
    window.resize(600, 400);
    CExplorer1 viewer;
    QVERIFY(viewer.create(&window));
    viewer.widget()->resize(600, 400);
    window.show();
    viewer.showPage(html);
    auto *view = qobject_cast<QTextEdit *>(viewer.widget());
    QVERIFY(view);
    window.grab(); // lays the page out and draws it

    const QString shown = view->toPlainText();
    if (expect == "text")
        QVERIFY(shown.startsWith("<html>"));
    if (expect == "page")
        QVERIFY2(!shown.contains("<"), qPrintable(shown.left(80)));
    if (expect == "nothing loaded") {
        const QVariant image = view->document()->resource(QTextDocument::ImageResource, QUrl("/dev/zero"));
        QVERIFY(image.value<QImage>().width() <= 1);
    }
    if (expect == "stays" || expect == "opened outside") {
        QTextCursor cursor(view->document());
        cursor.setPosition(3);
        const QPoint at = view->cursorRect(cursor).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
        QCOMPARE(view->toPlainText(), shown);
        QCOMPARE(browser.opened.size(), expect == "stays" ? 0 : 1);
    }
    for (const char *scheme : {"file", "https", "http"})
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestHostile::resumeNeverJoinsVersions_data()
{
    // "https": nginx behind a forwarder that cuts every connection after
    // 1 MiB and, at the first cut, renames the new version over the file
    // ("https, no validators": webserver.py sending neither ETag nor
    // Last-Modified, behind the same forwarder);
    // "ftp": the project's FTP server, dropping every data connection
    // after 1 MiB, the same at its first drop; "long header": webserver.py
    // answering the file with a header line of 200 KB. The list is
    // unsigned and without SHA-256: only the servers' validators tell the
    // versions apart.
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("reason"); // empty: the new version arrives whole
    QTest::newRow("https file replaced at the first cut") << "https"
                                                          << "";
    // Every try starts from the first byte, and none brings the whole file.
    QTest::newRow("https file without validators replaced at the first cut") << "https, no validators"
                                                                             << " fail!    big.bin";
    QTest::newRow("ftp file replaced at the first drop") << "ftp"
                                                         << "";
    QTest::newRow("header line of 200 KB") << "long header"
                                           << "the server's header line is longer than 100 KB";
}

void TestHostile::resumeNeverJoinsVersions()
{
    QFETCH(QString, server);
    QFETCH(QString, reason);
    if (server != "ftp" && !WebTestServer::unavailable().isEmpty())
        QSKIP(qPrintable(WebTestServer::unavailable()));

    const QString root = m_work.filePath(QString("changing%1").arg(++m_row));
    const QString offered = root + "/" + kUpdates;
    const QString program = m_work.filePath(QString("program%1").arg(m_row));
    const QByteArray first(4 * kFileBytes, 'a');
    const QByteArray second(4 * kFileBytes, 'b');
    writeFiles(offered, {{"big.bin", first}, {"RelInfoRemote.rel", "big.bin; 3.01.02\r\n"}});
    writeFiles(root, {{"next.bin", second}});
    writeFiles(program, {{"big.bin", "old"}, {"RelInfoLocal.rel", "big.bin; 3.01.01\r\n"}});
    // Of the same size, an hour older: only the date tells it from the first.
    QFile next(root + "/next.bin");
    QVERIFY(next.open(QIODevice::ReadWrite)
            && next.setFileTime(QFileInfo(offered + "/big.bin").lastModified().addSecs(-3600),
                                QFileDevice::FileModificationTime));
    next.close();
    const std::string keyPath = UpdateSettings::keyPath(kUpdates.toStdString());
    UpdateSettings::setValue(keyPath, UpdateSettings::kMinRate, "0");

    std::unique_ptr<FtpTestServer> ftp;
    std::vector<std::unique_ptr<WebTestServer>> web;
    QString host;
    if (server == "ftp") {
        ftp = std::make_unique<FtpTestServer>(
            root,
            QStringList{"--drop-after-bytes", QString("big.bin:%1").arg(kFileBytes), "--replace-at-drop",
                        "big.bin:" + root + "/next.bin"});
        QVERIFY2(ftp->start(), qPrintable(ftp->errorText()));
        host = ftp->host();
    } else {
        const QString certificates = m_work.filePath("certs");
        QString error;
        QVERIFY(QDir().mkpath(certificates));
        if (!QFile::exists(WebTestServer::caFile(certificates)))
            QVERIFY2(WebTestServer::makeCertificates(certificates, error), qPrintable(error));
        UpdateSettings::setValue(keyPath, UpdateSettings::kCaFile, WebTestServer::caFile(certificates));
        web.push_back(server == "https"
                          ? WebTestServer::nginx(root, certificates)
                          : WebTestServer::misbehaving(root, certificates,
                                                       server == "long header"
                                                           ? WebTestServer::longHeader("big.bin", 200 * 1024)
                                                           : WebTestServer::noValidators("big.bin")));
        QVERIFY2(web.back()->start(), qPrintable(web.back()->errorText()));
        if (server != "long header") {
            web.push_back(WebTestServer::cutter(*web.back(), kFileBytes,
                                                {"--replace", root + "/next.bin", offered + "/big.bin"}));
            QVERIFY2(web.back()->start(), qPrintable(web.back()->errorText()));
        }
        host = web.back()->url();
    }

    RecordingReport report;
    CDownloadJob job(report, nullptr, kUpdates.toStdString(), program.toStdString(), false,
                     host.toStdString());
    QVERIFY(job.start());
    QTimer::singleShot(40000, [&job] { job.cancel(); });
    QTRY_VERIFY_WITH_TIMEOUT(!job.isRunning(), 60000);
    job.wait();
    QString told;
    for (const std::string &why : job.result().failureReasons)
        told += QString::fromStdString(why) + "\n";
    told += report.lines.join("\n");
    // The new version took the old one's place while the file arrived.
    QVERIFY(server == "long header" || !QFile::exists(root + "/next.bin"));
    const QByteArray kept = readFile(program + "/big.bin");
    if (reason.isEmpty()) {
        // The new version whole; or, when a retry failed on its own (a
        // loaded machine's server may reset a data connection at once),
        // the old file kept: never a file joined from both.
        QVERIFY2(
            kept == second || (kept == "old" && report.lines.contains(" fail!    big.bin")),
            qPrintable(QString("%1 bytes, %2 of the first version\n").arg(kept.size()).arg(kept.count('a'))
                       + told));
    } else {
        QVERIFY2(told.contains(reason) && report.lines.contains(" fail!    big.bin"), qPrintable(told));
        QCOMPARE(kept, QByteArray("old"));
    }
    UpdateSettings::setValue(keyPath, UpdateSettings::kCaFile, QString());
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
