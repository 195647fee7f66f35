// FTP over TLS against Debian's pure-ftpd on loopback, with certificates
// the test makes: the client reaches the server as the update library and
// moravel-cli configure it, and refuses a certificate it must not trust.
#include "childprocess.h"
#include "ftpfileclient.h"
#include "ftpserver.h"
#include "ftpsettings.h"
#include "updatetestsupport.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

const QString kUpdates = "Spelmar/Updates";

class TestFtpTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connect_data();
    void connect();
    void commandLine();

private:
    QString certificate(const QString &name) const { return m_work.filePath("certs/" + name + ".pem"); }

    QTemporaryDir m_work;
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
    client.setTls(ftpTlsSettings(kUpdates.toStdString()));
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

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_engine_tls.moc"
