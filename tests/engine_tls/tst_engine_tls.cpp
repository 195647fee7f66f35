// FTP over TLS against Debian's pure-ftpd on loopback, with certificates
// the test makes: the client reaches the server as the update library and
// moravel-cli configure it, and refuses a certificate it must not trust.
#include "ftpfileclient.h"
#include "ftpsettings.h"
#include "updatetestsupport.h"
#include "tlsftpserver.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kUpdates = "Spelmar/Updates";
const QByteArray kServerRel = "Spelmar.exe; 3.01.02\r\n";

} // namespace

class TestFtpTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connect_data();
    void connect();
    void commandLine_data();
    void commandLine();

private:
    QString certificate(const QString &name) const { return m_work.filePath("certs/" + name + ".pem"); }
    void setReminderValue(const QString &name, const QString &value);

    QTemporaryDir m_work;
};

void TestFtpTls::initTestCase()
{
    const QString reason = TlsFtpTestServer::unavailable();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY(QDir().mkpath(m_work.filePath("certs")));
    QString error;
    QVERIFY2(TlsFtpTestServer::makeCertificates(m_work.filePath("certs"), error), qPrintable(error));
    writeFiles(m_work.filePath("root/" + kUpdates),
               {{"RelInfoRemote.rel", kServerRel}, {"Spelmar.exe", "new exe"}});
    qunsetenv(kFtpHostEnv);
    qputenv("XDG_CONFIG_HOME", m_work.filePath("config").toLocal8Bit());
}

void TestFtpTls::setReminderValue(const QString &name, const QString &value)
{
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    settings.setValue(kReminderKeyBase + kUpdates + "/" + name, value);
}

void TestFtpTls::connect_data()
{
    QTest::addColumn<QString>("serverCertificate");
    QTest::addColumn<QString>("host");    // the Host setting; @HOST@: the server's host:port
    QTest::addColumn<QString>("tls");     // the TLS setting
    QTest::addColumn<QString>("caFile");  // the CAFile setting; empty: the system's store
    QTest::addColumn<QString>("refusal"); // empty: the file arrives

    QTest::newRow("ftpes host") << "server"
                                << "ftpes://@HOST@"
                                << ""
                                << "ca"
                                << "";
    QTest::newRow("TLS required by the setting") << "server"
                                                 << "@HOST@"
                                                 << "required"
                                                 << "ca"
                                                 << "";
    QTest::newRow("TLS when offered") << "server"
                                      << "@HOST@"
                                      << "offered"
                                      << "ca"
                                      << "";
    QTest::newRow("certificate from another authority") << "stranger"
                                                        << "ftpes://@HOST@"
                                                        << ""
                                                        << "ca"
                                                        << "SSL certificate problem";
    QTest::newRow("certificate for another host name") << "othername"
                                                       << "ftpes://@HOST@"
                                                       << ""
                                                       << "ca"
                                                       << "certificate";
    QTest::newRow("test authority unknown to the system") << "server"
                                                          << "ftpes://@HOST@"
                                                          << ""
                                                          << ""
                                                          << "SSL certificate problem";
}

void TestFtpTls::connect()
{
    QFETCH(QString, serverCertificate);
    QFETCH(QString, host);
    QFETCH(QString, tls);
    QFETCH(QString, caFile);
    QFETCH(QString, refusal);

    TlsFtpTestServer server(m_work.filePath("root"), certificate(serverCertificate));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    setReminderValue("Host", host.replace("@HOST@", server.host()));
    setReminderValue("TLS", tls);
    setReminderValue("CAFile", caFile.isEmpty() ? QString() : certificate(caFile));

    // As the update library makes its clients.
    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, ftpServerHost(kUpdates.toStdString()));
    client.setTls(ftpTlsSettings(kUpdates.toStdString()));
    QCOMPARE(client.host(), server.host().toStdString());
    const bool connected = client.Connect();
    QTemporaryDir program;
    if (refusal.isEmpty()) {
        QVERIFY2(connected, client.lastError().c_str());
        QVERIFY(client.SetCurrentDirectory(kUpdates.toStdString()));
        QVERIFY2(client.GetFile("Spelmar.exe", program.path().toStdString()), client.lastError().c_str());
        QCOMPARE(readFile(program.filePath("Spelmar.exe")), QByteArray("new exe"));
        QVERIFY(prompt.texts.isEmpty());
        return;
    }
    QVERIFY(!connected);
    QCOMPARE(prompt.texts.size(), 1);
    QVERIFY2(prompt.texts[0].contains(refusal), qPrintable(prompt.texts[0]));
}

void TestFtpTls::commandLine_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("--ca-file of the server's authority") << "ca" << 3;
    QTest::newRow("--ca-file of another authority") << "otherca" << 1;
}

void TestFtpTls::commandLine()
{
    QFETCH(QString, caFile);
    QFETCH(int, exitCode);
    TlsFtpTestServer server(m_work.filePath("root"), certificate("server"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QTemporaryDir program;
    writeFiles(program.path(), {{"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"}});

    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kFtpHostEnv, "ftpes://" + server.host());
    environment.insert("XDG_CONFIG_HOME", m_work.filePath("cli-config"));
    cli.setProcessEnvironment(environment);
    cli.start(MORAVEL_CLI, {"check", kUpdates, program.path(), "--ca-file", certificate(caFile)});
    QVERIFY(cli.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(cli.readAllStandardOutput() + cli.readAllStandardError());
    QVERIFY2(cli.exitCode() == exitCode, qPrintable(output));
    if (exitCode == 3)
        QVERIFY2(output.contains("3.01.02\t\t->> Spelmar.exe"), qPrintable(output));
    else
        QVERIFY2(output.contains("SSL certificate problem"), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_engine_tls.moc"
