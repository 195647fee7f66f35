// FTP over TLS against Debian's pure-ftpd on loopback, with certificates
// the test makes: the client reaches the server as the update library and
// moravel-cli configure it, and refuses a certificate it must not trust.
// Updates from web servers: Debian's nginx (HTTPS, HTTP/2), a misbehaving
// server, a forwarder that cuts connections and Debian's tinyproxy.
#include "childprocess.h"
#include "jobs/downloadjob.h"
#include "transfer/ftpfileclient.h"
#include "ftpserver.h"
#include "transfer/ftpsettings.h"
#include "publish.h"
#include "signing.h"
#include "jobs/updatecheck.h"
#include "updatetestsupport.h"
#include "jobs/updatetransfer.h"
#include "webserver.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

const QString kUpdates = "Spelmar/Updates";

class TestFtpTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connect_data();
    void connect();
    void commandLine();
    void web_data();
    void web();
    void zsyncReadsThePublishedFolder();
    void delta_data();
    void delta();

private:
    QString certificate(const QString &name) const { return m_work.filePath("certs/" + name + ".pem"); }

    QTemporaryDir m_work;
    QByteArray m_largeFile;
    int m_row = 0;
};

void TestFtpTls::initTestCase()
{
    if (!FtpTestServer::tlsUnavailable().isEmpty())
        QSKIP(qPrintable(FtpTestServer::tlsUnavailable()));
    QString error;
    QVERIFY(QDir().mkpath(m_work.filePath("certs")));
    QVERIFY2(FtpTestServer::makeCertificates(m_work.filePath("certs"), error), qPrintable(error));
    writeFiles(m_work.filePath("root/" + kUpdates),
               {{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"}, {"Spelmar.exe", "new exe"}});
    qunsetenv(kFtpHostEnv);
    qputenv("XDG_CONFIG_HOME", m_work.filePath("config").toLocal8Bit());
    for (const char *variable : {"https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy", "ALL_PROXY"})
        qunsetenv(variable);
    std::string keyError;
    QVERIFY2(Signature::makeKeyPair(m_work.filePath("maker.key").toStdString(),
                                    m_work.filePath("maker.pub").toStdString(), keyError),
             keyError.c_str());
    // 4 MiB: a connection through the cutting forwarder brings 1 MiB, so
    // the file arrives only when each try takes up where the last one
    // was cut.
    m_largeFile.resize(4 * 1024 * 1024);
    QRandomGenerator generator(19);
    generator.fillRange(reinterpret_cast<quint32 *>(m_largeFile.data()), m_largeFile.size() / 4);
}

void TestFtpTls::connect_data()
{
    QTest::addColumn<QString>("serverCertificate");
    QTest::addColumn<QString>("host");    // the Host setting; @HOST@: the server's host:port
    QTest::addColumn<QString>("tls");     // the TLS setting
    QTest::addColumn<QString>("caFile");  // the CAFile setting; empty: the system's store
    QTest::addColumn<QString>("refusal"); // empty: the file arrives
    auto row = [](const char *name, QString server, QString host, QString tls, QString ca, QString refusal) {
        QTest::newRow(name) << server << host << tls << ca << refusal;
    };
    row("ftpes host", "server", "ftpes://@HOST@", "", "ca", "");
    row("TLS required by the setting", "server", "@HOST@", "required", "ca", "");
    row("TLS when offered", "server", "@HOST@", "offered", "ca", "");
    row("certificate from another authority", "stranger", "ftpes://@HOST@", "", "ca",
        "SSL certificate problem");
    row("certificate for another host name", "othername", "ftpes://@HOST@", "", "ca", "certificate");
    row("test authority unknown to the system", "server", "ftpes://@HOST@", "", "",
        "SSL certificate problem");
    // A server without TLS (the plain fixture): required says just that;
    // offered falls back to plain FTP and says so.
    row("TLS required, none offered", "", "@HOST@", "required", "",
        "TLS required: the update server does not offer TLS.\n");
    row("TLS offered, none offered", "", "@HOST@", "offered", "", "");
}

void TestFtpTls::connect()
{
    QFETCH(QString, serverCertificate);
    QFETCH(QString, host);
    QFETCH(QString, tls);
    QFETCH(QString, caFile);
    QFETCH(QString, refusal);

    FtpTestServer server(m_work.filePath("root"), {},
                         serverCertificate.isEmpty() ? QString() : certificate(serverCertificate));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    settings.setValue(kReminderKeyBase + kUpdates + "/Host", host.replace("@HOST@", server.host()));
    settings.setValue(kReminderKeyBase + kUpdates + "/TLS", tls);
    settings.setValue(kReminderKeyBase + kUpdates + "/CAFile",
                      caFile.isEmpty() ? caFile : certificate(caFile));
    settings.sync();

    // As the update library makes its clients.
    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, ftpServerHost(kUpdates.toStdString()));
    client.setTlsMode(ftpTlsMode(kUpdates.toStdString()));
    client.setTls(transferTlsSettings(kUpdates.toStdString()));
    QCOMPARE(client.host(), server.host().toStdString());
    const bool connected = client.Connect();
    QTemporaryDir program;
    if (refusal.isEmpty()) {
        QVERIFY2(connected && client.SetCurrentDirectory(kUpdates.toStdString())
                     && client.GetFile("Spelmar.exe", program.path().toStdString()),
                 client.lastError().c_str());
        QCOMPARE(readFile(program.filePath("Spelmar.exe")), QByteArray("new exe"));
        QVERIFY(prompt.boxes().empty());
        QCOMPARE(client.plainFallback(), serverCertificate.isEmpty());
        return;
    }
    QVERIFY(!connected);
    const QStringList texts = boxTexts(prompt);
    QVERIFY2(texts.size() == 1 && texts[0].contains(refusal), qPrintable(texts.join('\n')));
    // The advice for a missing internet line is no advice for a server
    // without TLS.
    QVERIFY2(serverCertificate != "" || !texts[0].contains("inactivate"), qPrintable(texts[0]));
}

// moravel-cli trusts the authority that --ca-file names.
void TestFtpTls::commandLine()
{
    FtpTestServer server(m_work.filePath("root"), {}, certificate("server"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QTemporaryDir program;
    writeFiles(program.path(), {{"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"}});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kFtpHostEnv, "ftpes://" + server.host());
    environment.insert("XDG_CONFIG_HOME", m_work.filePath("cli-config"));
    const ProgramRun cli = runProgram(
        {MORAVEL_CLI, "check", kUpdates, program.path(), "--ca-file", certificate("ca")}, environment);
    QVERIFY2(cli.exitCode == 3 && cli.output.contains("3.01.02\t\t->> Spelmar.exe"),
             qPrintable(cli.output + cli.errors));
}

// One update from web servers per row: the update run, then (when it
// worked) a check that finds nothing new.
void TestFtpTls::web_data()
{
    // Comma-separated, in the Host setting's order: "nginx" (HTTPS,
    // HTTP/2), "http" (nginx without TLS), "odd" (webserver.py with the
    // modes; "http-odd" without TLS), "dead" (nothing listens), "cut" (nginx behind a forwarder
    // that cuts every connection after 1 MiB; "cut-odd": webserver.py
    // behind it), "proxy" (nginx through tinyproxy, the Proxy setting with
    // user and password), "proxy-wrong" (the same with a wrong password).
    QTest::addColumn<QString>("servers");
    QTest::addColumn<QStringList>("modes");
    QTest::addColumn<bool>("signedList"); // published with a key the program trusts
    QTest::addColumn<bool>("testCa");     // CAFile names the test CA (else the system's store)
    QTest::addColumn<QString>("reason");  // empty: the update arrives
    auto row = [](const char *name, QString servers, QStringList modes, bool signedList, bool testCa,
                  QString reason) {
        QTest::newRow(name) << servers << modes << signedList << testCa << reason;
    };
    using W = WebTestServer;
    row("update over HTTP/2", "nginx", {}, true, true, "");
    row("mirrors: unreachable, lacking the file, good", "dead,odd,nginx", W::missing("Spelmar.exe"), true,
        true, "");
    row("resumed through cut connections", "cut", {}, true, true, "");
    // Cut at every MiB, the whole file never arrives; no part is taken twice.
    row("Range ignored, cut connections", "cut-odd", W::whole("Spelmar.exe"), true, true,
        "Spelmar.exe: the server sends no part of a file");
    row("redirect loop", "odd", W::redirect("Spelmar.exe", "/sw/Spelmar/Updates/Spelmar.exe"), true, true,
        "Spelmar.exe: given up after 3 redirects");
    row("redirect to http on a plain server", "http-odd",
        W::redirect("Spelmar.exe", "/sw/elsewhere/Spelmar.copy"), true, true,
        "Spelmar.exe: redirect to http://127.0.0.1:");
    row("no signature on the server", "odd", W::missing("RelInfoRemote.rel.sig"), true, true,
        "Update refused: RelInfoRemote.rel is not signed");
    row("through a proxy", "proxy", {}, true, true, "");
    row("proxy refusing the password", "proxy-wrong", {}, true, true, "user:***@127.0.0.1");
    row("test CA unknown to the system", "nginx", {}, true, false, "SSL certificate problem");
    row("plain http with a key", "http", {}, true, true, "");
    row("plain http without a key", "http", {}, false, true,
        "plain http:// is refused without a signing key");
    row("redirect on the same server", "odd", W::redirect("Spelmar.exe", "/sw/elsewhere/Spelmar.copy"), true,
        true, "");
    row("redirect to http", "odd",
        W::redirect("Spelmar.exe", "http://127.0.0.1:{port}/sw/elsewhere/Spelmar.copy"), true, true,
        "Spelmar.exe: redirect to http://127.0.0.1:");
    row("redirect to another host", "odd",
        W::redirect("Spelmar.exe", "https://localhost:{port}/sw/elsewhere/Spelmar.copy"), true, true,
        "Spelmar.exe: redirect to https://localhost:");
    row("HTML error page", "odd", W::page("Spelmar.exe", 503), true, true,
        "Spelmar.exe: the server answered HTTP status 503");
    row("HTML page as the file", "odd", W::page("Spelmar.exe", 200), true, true,
        "Spelmar.exe: SHA-256 mismatch");
    row("404 for a listed file", "odd", W::missing("Spelmar.exe"), true, true,
        "Spelmar.exe: the server answered HTTP status 404");
    row("Content-Length beyond the body", "odd", W::length("Spelmar.exe", 1000), true, true,
        "Spelmar.exe: the server announces more than 4194304 bytes");
    row("Content-Length short of the body", "odd", W::length("Spelmar.exe", -1000), true, true,
        "Spelmar.exe: SHA-256 mismatch");
    row("Content-Encoding", "odd", W::gzip("Spelmar.exe"), true, true,
        "Spelmar.exe: sent with Content-Encoding gzip");
    // With a stall bound of 2 s; "cancelled": the run is cancelled once
    // the file is on its way, and the 30 s bound must not be waited for.
    row("server holding the file", "odd", W::stall("Spelmar.exe", 0), true, true,
        "Spelmar.exe: the server sent nothing for 2 s (stall time-out)");
    row("cancelled while the server holds the file", "odd", W::stall("Spelmar.exe", 0), true, true,
        "cancelled");
}

void TestFtpTls::web()
{
    QFETCH(QString, servers);
    QFETCH(QStringList, modes);
    QFETCH(bool, signedList);
    QFETCH(bool, testCa);
    QFETCH(QString, reason);
    if (!WebTestServer::unavailable().isEmpty())
        QSKIP(qPrintable(WebTestServer::unavailable()));

    // The update folder below a prefix; a copy of the file elsewhere for
    // the redirects.
    const QString root = m_work.filePath(QString("web%1").arg(++m_row));
    const QString offered = root + "/sw/" + kUpdates;
    const QByteArray exe = m_largeFile;
    writeFiles(offered, {{"Spelmar.exe", exe}, {"Notes.txt", "notes"}});
    writeFiles(root + "/sw/elsewhere", {{"Spelmar.copy", exe}});
    writeFile(offered + "/RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\nNotes.txt; 1.00.01\r\n");
    if (signedList) {
        PublishOptions options;
        options.keyFile = m_work.filePath("maker.key").toStdString();
        PublishResult published;
        std::string error;
        QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
    }

    const QString certificates = m_work.filePath("certs");
    std::vector<std::unique_ptr<WebTestServer>> running; // every server and proxy of the row
    std::unique_ptr<WebTestServer> forwarder;            // a cutter, kept running for the row
    QStringList hosts;
    QString proxy;
    for (const QString &kind : servers.split(',')) {
        std::unique_ptr<WebTestServer> server = kind.endsWith("odd")
            ? WebTestServer::misbehaving(root, kind.startsWith("http") ? QString() : certificates, modes)
            : WebTestServer::nginx(root, kind == "http" ? QString() : certificates);
        if (kind == "dead") {
            hosts << "https://127.0.0.1:1/sw";
            continue;
        }
        QVERIFY2(server->start(), qPrintable(server->errorText()));
        hosts << server->url() + "/sw";
        if (kind.startsWith("cut")) {
            std::unique_ptr<WebTestServer> cutter = WebTestServer::cutter(*server, 1024 * 1024);
            QVERIFY2(cutter->start(), qPrintable(cutter->errorText()));
            hosts.last() = cutter->url() + "/sw";
            forwarder = std::move(cutter);
        } else if (kind.startsWith("proxy")) {
            std::unique_ptr<WebTestServer> tinyproxy = WebTestServer::proxy("user", "secret");
            QVERIFY2(tinyproxy->start(), qPrintable(tinyproxy->errorText()));
            proxy = tinyproxy->url();
            if (kind == "proxy-wrong")
                proxy.replace(":secret@", ":wrong@");
            running.push_back(std::move(tinyproxy));
        }
        running.push_back(std::move(server));
    }
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    const QString group = kReminderKeyBase + kUpdates + "/";
    settings.setValue(group + "Host", hosts.join(", "));
    settings.setValue(group + "CAFile", testCa ? certificate("ca") : QString());
    settings.setValue(group + "Proxy", proxy);
    settings.sync();

    QTemporaryDir programDir;
    const QString program = programDir.path();
    const Files before{{"Spelmar.exe", "old exe"},
                       {"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\nNotes.txt; 1.00.00\r\n"}};
    writeFiles(program, before);
    UpdateSecurity security;
    security.publicKeyFile = signedList ? m_work.filePath("maker.pub").toStdString() : std::string();

    RecordingReport report;
    QStringList reasons;
    report.onReason = [&reasons](const std::string &why) { reasons << QString::fromStdString(why); };
    ScriptedPrompt prompt;
    CDownloadJob job(report, &prompt, kUpdates.toStdString(), program.toStdString(), false);
    job.setSecurity(security);
    const bool cancelled = reason == "cancelled";
    const auto stallBound = qScopeGuard([] { qunsetenv(kFtpStallEnv); });
    if (cancelled)
        report.onLine = [&job](const std::string &line) {
            if (line == " copy -> Spelmar.exe")
                job.cancel();
        };
    else if (modes.contains("--stall"))
        qputenv(kFtpStallEnv, "2");
    QElapsedTimer took;
    took.start();
    QVERIFY(job.start());
    job.wait();
    const QString told = (report.lines + reasons + boxTexts(prompt)).join('\n');
    if (cancelled) {
        QVERIFY2(took.elapsed() < 20000, qPrintable(told));
        QCOMPARE(job.result().outcome, CDownloadJob::Outcome::Cancelled);
        QCOMPARE(readFile(program + "/Spelmar.exe"), QByteArray("old exe"));
        return;
    }

    if (!reason.isEmpty()) {
        // A file's failure has its line; a connection's its box.
        QVERIFY2(told.contains(reason), qPrintable(told));
        QVERIFY2(!reason.startsWith("Spelmar.exe") || report.lines.contains(" fail!    Spelmar.exe"),
                 qPrintable(told));
        QVERIFY2(!told.contains("secret") && !told.contains(":wrong@"), qPrintable(told));
        QCOMPARE(readFile(program + "/Spelmar.exe"), QByteArray("old exe"));
        QVERIFY(!readFile(program + "/RelInfoLocal.rel").contains("3.01.02"));
        return;
    }
    QVERIFY2(job.result().allArrived(), qPrintable(told));
    QCOMPARE(readFile(program + "/Spelmar.exe"), exe);

    // The same file into memory, through the same servers, then asked
    // with its validators: "not modified", no bytes.
    {
        const std::unique_ptr<IFileTransfer> client =
            openUpdateTransfer(&prompt, kUpdates.toStdString(), security);
        IFileTransfer::GetFileOptions options;
        options.maxBytes = exe.size();
        std::string bytes;
        QVERIFY2(client->Connect() && client->SetCurrentDirectory(kUpdates.toStdString())
                     && client->GetBytes("Spelmar.exe", bytes, options),
                 client->lastError().c_str());
        QVERIFY(QByteArray::fromStdString(bytes) == exe && !client->notModified());
        options.ifUnchanged = client->lastValidators();
        QVERIFY2(client->GetBytes("Spelmar.exe", bytes, options) && client->notModified() && bytes.empty(),
                 client->lastError().c_str());
    }

    // Nothing new: the revision file and its signature answered "not
    // modified", no file body moves. A copy changed since is fetched whole.
    auto check = [&] {
        for (const auto &server : running)
            server->clearAnswers();
        const std::unique_ptr<IFileTransfer> client =
            openUpdateTransfer(&prompt, kUpdates.toStdString(), security);
        CUpdateCheck check(*client, prompt);
        check.setSecurity(security);
        check.CheckForUpdates(kUpdates.toStdString(), program.toStdString(), std::string(), true);
        return check.lastOutcome();
    };
    // The servers log an answer once it is sent.
    auto answers = [&running] {
        QStringList lines;
        for (const auto &server : running)
            lines += server->answers();
        return lines;
    };
    QCOMPARE(check(), CUpdateCheck::Outcome::NothingNewer);
    const QRegularExpression unchanged("^304 0 .*/RelInfoRemote\\.rel(\\.sig)?$");
    QTRY_VERIFY2(answers().filter(unchanged).size() == 2, qPrintable(answers().join('\n')));
    qint64 bodyBytes = 0;
    for (const QString &line : answers())
        bodyBytes += line.section(' ', 1, 1).toLongLong();
    QVERIFY2(bodyBytes <= 1024, qPrintable(answers().join('\n')));

    writeFile(program + "/RelInfoRemote.rel", "changed here");
    QCOMPARE(check(), CUpdateCheck::Outcome::NothingNewer);
    QTRY_VERIFY2(answers().filter(QRegularExpression("^200 [1-9].*/RelInfoRemote\\.rel$")).size() == 1,
                 qPrintable(answers().join('\n')));
}

namespace {

// The older copy's changes that a release makes.
QByteArray changed(const QByteArray &old, const QString &change)
{
    QByteArray bytes = old;
    QRandomGenerator generator(23);
    auto randomBytes = [&generator](qsizetype size) {
        QByteArray fresh(size, '\0');
        for (char &c : fresh)
            c = static_cast<char>(generator.generate());
        return fresh;
    };
    if (change == "insertion")
        bytes.insert(old.size() / 2 + 5, randomBytes(1000));
    else if (change == "blocks") // eight 16 KiB blocks rewritten, spread over the file
        for (int i = 0; i < 8; ++i)
            bytes.replace(i * (old.size() / 8) + 777, 16384, randomBytes(16384));
    else if (change == "much") // 1.5 MiB in one piece
        bytes.replace(1024 * 1024, 1536 * 1024, randomBytes(1536 * 1024));
    else if (change == "shrank")
        bytes = old.left(old.size() * 3 / 4);
    else if (change == "grew")
        bytes = old + randomBytes(100 * 1000);
    return bytes;
}

qint64 bodyBytes(const QStringList &answers)
{
    qint64 bytes = 0;
    for (const QString &line : answers)
        bytes += line.section(' ', 1, 1).toLongLong();
    return bytes;
}

} // namespace

// A folder as the publisher leaves it, served by nginx: Debian's zsync
// builds the new file from an older copy with the index beside it.
void TestFtpTls::zsyncReadsThePublishedFolder()
{
    const QString zsync = QStandardPaths::findExecutable("zsync");
    if (zsync.isEmpty() || !WebTestServer::unavailable().isEmpty())
        QSKIP("needs zsync (scripts/install-deps.sh) and the unpacked nginx");
    const QString root = m_work.filePath("zsync-root");
    const QString offered = root + "/" + kUpdates;
    const QByteArray newer = changed(m_largeFile, "blocks");
    writeFiles(offered, {{"Spelmar.exe", newer}, {"Notes.txt", "notes"}});
    PublishOptions options;
    options.keyFile = m_work.filePath("maker.key").toStdString();
    PublishResult published;
    std::string error;
    QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
    // The index is bound by the record, never listed as a file; a small
    // file has none.
    const QByteArray index = readFile(offered + "/Spelmar.exe.zsync");
    const QList<QByteArray> records = readFile(offered + "/RelInfoRemote.rel").split('\n');
    QCOMPARE(published.files, std::size_t(2));
    QVERIFY(!QFile::exists(offered + "/Notes.txt.zsync"));
    QCOMPARE(records[0].split(';').size(), 4);
    const QList<QByteArray> fields = records[1].trimmed().split(';');
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields[4].trimmed(), QCryptographicHash::hash(index, QCryptographicHash::Sha256).toHex());
    QCOMPARE(fields[5].trimmed().toLongLong(), index.size());

    // zsync speaks plain HTTP only.
    const std::unique_ptr<WebTestServer> nginx = WebTestServer::nginx(root, QString());
    QVERIFY2(nginx->start(), qPrintable(nginx->errorText()));
    QTemporaryDir client;
    writeFile(client.filePath("old.exe"), m_largeFile);
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("http_proxy");
    run.setProcessEnvironment(environment);
    run.setWorkingDirectory(client.path());
    run.start(zsync,
              {"-q", "-i", "old.exe", "-o", "new.exe", nginx->url() + "/" + kUpdates + "/Spelmar.exe.zsync"});
    QVERIFY(run.waitForFinished(60000));
    QVERIFY2(run.exitCode() == 0, run.readAllStandardError().constData());
    QVERIFY(readFile(client.filePath("new.exe")) == newer);
    // Most of it came from the older copy.
    QTRY_VERIFY2(bodyBytes(nginx->answers()) < m_largeFile.size() / 4,
                 qPrintable(nginx->answers().join('\n')));
}

// An update of a file of which an older copy is installed: from the web
// suite's servers, with the faults of the test web server.
void TestFtpTls::delta_data()
{
    // "nginx" (HTTPS, HTTP/2), "odd" (webserver.py), "cut"/"cut-odd"
    // (behind a forwarder that cuts each connection after 256 KiB), "slow".
    QTest::addColumn<QString>("server");
    QTest::addColumn<QStringList>("modes");
    QTest::addColumn<QString>("change"); // changed() of the installed copy
    // "index", "file": changed on the server after publishing; "cancel":
    // the run is cancelled mid-way.
    QTest::addColumn<QString>("tampered");
    QTest::addColumn<bool>("byDelta"); // else fetched whole after the index
    auto row = [](const char *name, QString server, QStringList modes, QString change, QString tampered,
                  bool byDelta) { QTest::newRow(name) << server << modes << change << tampered << byDelta; };
    using W = WebTestServer;
    row("shifted insertion", "nginx", {}, "insertion", "", true);
    row("changed blocks, several ranges a request", "nginx", {}, "blocks", "", true);
    row("a file that shrank", "nginx", {}, "shrank", "", true);
    row("a file that grew", "nginx", {}, "grew", "", true);
    row("multipart answers of the test server", "odd", {}, "blocks", "", true);
    row("one range a request where several get the whole file", "odd", W::singleRange("Spelmar.exe"),
        "blocks", "", true);
    row("cut connections mid-delta", "cut", {}, "much", "", true);
    row("cut connections mid-delta, test server", "cut-odd", {}, "much", "", true);
    row("cancelled mid-delta", "slow", {}, "much", "cancel", true);
    row("an index that lies", "nginx", {}, "blocks", "index", false);
    // Neither the delta nor the whole file is the listed one: the old stays.
    row("a file that is not the listed one", "nginx", {}, "blocks", "file", false);
    row("Range ignored (200)", "odd", W::whole("Spelmar.exe"), "blocks", "", false);
    row("a wrong Content-Range", "odd", W::wrongRange("Spelmar.exe"), "blocks", "", false);
}

void TestFtpTls::delta()
{
    QFETCH(QString, server);
    QFETCH(QStringList, modes);
    QFETCH(QString, change);
    QFETCH(QString, tampered);
    QFETCH(bool, byDelta);
    if (!WebTestServer::unavailable().isEmpty())
        QSKIP(qPrintable(WebTestServer::unavailable()));

    const QString root = m_work.filePath(QString("delta%1").arg(++m_row));
    const QString offered = root + "/" + kUpdates;
    const QByteArray newer = changed(m_largeFile, change);
    writeFiles(offered, {{"Spelmar.exe", newer}});
    PublishOptions options;
    options.keyFile = m_work.filePath("maker.key").toStdString();
    PublishResult published;
    std::string error;
    QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
    // After publishing, one byte of the index or of the file is changed on
    // the server: the one no longer has the listed SHA-256, the other
    // builds a file that has not.
    if (!tampered.isEmpty()) {
        const QString path = offered + (tampered == "index" ? "/Spelmar.exe.zsync" : "/Spelmar.exe");
        QByteArray bytes = readFile(path);
        // The file's byte lies in a block the older copy lacks.
        const qsizetype at = tampered == "index" ? bytes.size() - 1 : 1000;
        bytes[at] = static_cast<char>(bytes[at] ^ 1);
        writeFile(path, bytes);
    }

    std::unique_ptr<WebTestServer> web = server.endsWith("odd")
        ? WebTestServer::misbehaving(root, m_work.filePath("certs"), modes)
        : WebTestServer::nginx(root, m_work.filePath("certs"));
    QVERIFY2(web->start(), qPrintable(web->errorText()));
    std::unique_ptr<WebTestServer> cutter;
    QString host = web->url();
    if (server.startsWith("cut") || server == "slow") {
        // "slow": nginx behind a link of 200 kB/s that cuts nothing.
        cutter = server == "slow" ? WebTestServer::cutter(*web, 0, {"--rate", "200000"})
                                  : WebTestServer::cutter(*web, 256 * 1024);
        QVERIFY2(cutter->start(), qPrintable(cutter->errorText()));
        host = cutter->url();
    }
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    const QString group = kReminderKeyBase + kUpdates + "/";
    settings.setValue(group + "Host", host);
    settings.setValue(group + "CAFile", certificate("ca"));
    settings.setValue(group + "Proxy", QString());
    settings.sync();

    QTemporaryDir programDir;
    const QString program = programDir.path();
    writeFiles(program, {{"Spelmar.exe", m_largeFile}, {"RelInfoLocal.rel", "Spelmar.exe; 0.00.01\r\n"}});
    UpdateSecurity security;
    security.publicKeyFile = m_work.filePath("maker.pub").toStdString();
    RecordingReport report;
    QStringList reasons;
    report.onReason = [&reasons](const std::string &why) { reasons << QString::fromStdString(why); };
    ScriptedPrompt prompt;
    CDownloadJob job(report, &prompt, kUpdates.toStdString(), program.toStdString(), false);
    job.setSecurity(security);
    QVERIFY(job.start());
    if (tampered == "cancel") {
        // Once the parts are on their way, the cancel ends the run at once
        // and leaves the older copy installed.
        QTRY_VERIFY_WITH_TIMEOUT(cutter->bodyBytesSent() > 256 * 1024, 20000);
        QElapsedTimer took;
        took.start();
        job.cancel();
        job.wait();
        QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(job.result().outcome, CDownloadJob::Outcome::Cancelled);
        QVERIFY(readFile(program + "/Spelmar.exe") == m_largeFile);
        QVERIFY(!web->answers().filter(QRegularExpression("^206 .*/Spelmar\\.exe$")).isEmpty());
        return;
    }
    job.wait();
    const QString told = (report.lines + reasons + boxTexts(prompt)).join('\n');
    if (tampered == "file") {
        QVERIFY2(report.lines.contains(" fail!    Spelmar.exe") && told.contains("SHA-256 mismatch"),
                 qPrintable(told));
        QVERIFY(readFile(program + "/Spelmar.exe") == m_largeFile);
        QTRY_VERIFY2(!web->answers().filter("/Spelmar.exe.zsync").isEmpty(),
                     qPrintable(web->answers().join('\n')));
        return;
    }
    QVERIFY2(job.result().allArrived(), qPrintable(told));
    QVERIFY(readFile(program + "/Spelmar.exe") == newer);
    // The backup folder keeps the older copy; nothing is left beside the file.
    QVERIFY(readFile(QString::fromStdString(job.result().backupFolder) + "/Spelmar.exe") == m_largeFile);
    QCOMPARE(QDir(program).entryList({"upd_*"}, QDir::Files | QDir::Hidden), QStringList());

    // Every row asks for the index; the rows without a usable delta then
    // fetch the file whole, the others little more than what changed.
    QTRY_VERIFY2(!web->answers().filter("/Spelmar.exe.zsync").isEmpty(),
                 qPrintable(web->answers().join('\n')));
    const QStringList okLines = report.lines.filter(QRegularExpression("^  ok!    Spelmar\\.exe"));
    QCOMPARE(okLines.size(), 1);
    const qint64 sent = bodyBytes(web->answers().filter("/Spelmar.exe"));
    if (!byDelta) {
        QCOMPARE(okLines[0], QString("  ok!    Spelmar.exe"));
        QTRY_VERIFY2(bodyBytes(web->answers().filter("/Spelmar.exe")) >= newer.size(),
                     qPrintable(web->answers().join('\n')));
        return;
    }
    const QRegularExpression fetched(
        "^  ok!    Spelmar\\.exe \\(([0-9]+\\.[0-9]) of ([0-9]+\\.[0-9]) MB fetched\\)$");
    const QRegularExpressionMatch match = fetched.match(okLines[0]);
    QVERIFY2(match.hasMatch(), qPrintable(okLines[0]));
    QCOMPARE(match.captured(2), QString::number(newer.size() / 1048576.0, 'f', 1));
    const QString answers = okLines[0] + "\n" + web->answers().join('\n');
    if (cutter || modes.contains("--single-range")) {
        // What a server wrote before the cut (or before its whole file was
        // refused) is no measure of what arrived; the parts came in several
        // requests: taken up where each connection was cut, or one at a time.
        QVERIFY2(match.captured(1).toDouble() < 0.6 * newer.size() / 1048576, qPrintable(answers));
        QVERIFY2(web->answers().filter(QRegularExpression("^206 .*/Spelmar\\.exe$")).size() > 1,
                 qPrintable(answers));
        return;
    }
    QVERIFY2(sent < newer.size() / 10 && match.captured(1).toDouble() * 1048576 < sent + 52429,
             qPrintable(answers));
    // The parts of a file in one request.
    QVERIFY(web->answers().filter(QRegularExpression("^206 .*/Spelmar\\.exe$")).size() <= 1);
}

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_engine_tls.moc"
