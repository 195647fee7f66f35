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

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
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

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_engine_tls.moc"
