// CFtpFileClient against a real FTP server on loopback.
#include "transfer/ftpfileclient.h"
#include "ftpserver.h"
#include "transfer/ftpsettings.h"
#include "updatetestsupport.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

namespace {

QByteArray randomBytes(int size)
{
    QByteArray data(size, '\0');
    QRandomGenerator generator(4711);
    for (char &c : data)
        c = static_cast<char>(generator.bounded(256));
    // Line ends that a text-mode transfer would change.
    return data.replace(0, 6, QByteArray("\r\n\n\r\r\n"));
}

std::string sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

} // namespace

class TestFtpFileClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connectAndLogin_data();
    void connectAndLogin();
    void directoriesAndNames();
    void guardedDownload_data();
    void guardedDownload();
    void serverHost();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_serverRoot;
    std::unique_ptr<FtpTestServer> m_server;
    QByteArray m_program = randomBytes(200 * 1024 + 17);
    QByteArray m_big = randomBytes(3 * 1024 * 1024);
};

void TestFtpFileClient::initTestCase()
{
    // Settings go to a folder of this test; the environment chooses no server or mode.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qunsetenv(kFtpHostEnv);
    qunsetenv(kFtpPassiveEnv);
    writeFiles(m_serverRoot.filePath("Spelmar/Updates"),
               {{"LatestUpdate.html", "<html>notes</html>"},
                {"Spelmar.exe", m_program},
                {"big.bin", m_big},
                {"notes [1].txt", "n"},
                {"plugins/Filter.dll", "filter plug-in"}});
    m_server = std::make_unique<FtpTestServer>(m_serverRoot.path());
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestFtpFileClient::connectAndLogin_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("host"); // empty: the test server
    QTest::addColumn<bool>("expected");
    QTest::newRow("built-in account") << FtpTestServer::kPassword << QString() << true;
    QTest::newRow("wrong password") << "wrong" << QString() << false;
    // Port 1 on the loopback refuses at once.
    QTest::newRow("no server") << FtpTestServer::kPassword << "127.0.0.1:1" << false;
}

void TestFtpFileClient::connectAndLogin()
{
    QFETCH(QString, password);
    QFETCH(QString, host);
    QFETCH(bool, expected);
    if (host.isEmpty())
        host = m_server->host();
    // The host given to Connect replaces the one given before (which
    // refuses at once).
    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, "127.0.0.1:1");
    client.setPassword(password.toStdString());
    QCOMPARE(client.Connect(host.toStdString()), expected);
    QCOMPARE(QString::fromStdString(client.GetCurrentDirectoryAsURL()),
             expected ? "ftp://" + host + "/" : "");
    // On failure one box: the fixed head, a reason, the host in angle brackets.
    const QString head = "Connection to the NORVANE server failed.\nCannot check the new software updates.\n"
                         "You can inactivate this feature if no internet line is available!\n\nERROR!  ";
    const QString tail = "\n\nFTP Server: <" + host + ">";
    QCOMPARE(int(prompt.boxes().size()), expected ? 0 : 1);
    for (const QString &text : boxTexts(prompt))
        QVERIFY2(text.startsWith(head) && text.endsWith(tail) && text.size() > head.size() + tail.size(),
                 qPrintable(text));

    // The session stays for another attempt, which may succeed. Connect on
    // a live connection is refused, without a box, and leaves it as it was.
    client.setPassword(FtpTestServer::kPassword);
    QCOMPARE(client.Connect(m_server->host().toStdString()), !expected);
    QVERIFY(client.SetCurrentDirectory("Spelmar/Updates") && !client.Connect()
            && client.FindFile("Spelmar.exe"));
    QCOMPARE(int(prompt.boxes().size()), expected ? 0 : 1);
}

void TestFtpFileClient::directoriesAndNames()
{
    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, m_server->host().toStdString());
    QVERIFY(client.Connect() && client.SetCurrentDirectory("Spelmar"));
    // Backslashes and a leading separator count from the root; a missing
    // folder or a file leaves the current directory as it was.
    QVERIFY(client.SetCurrentDirectory("\\Spelmar\\Updates"));
    QVERIFY(!client.SetCurrentDirectory("Missing") && !client.SetCurrentDirectory("Spelmar.exe"));
    QCOMPARE(QString::fromStdString(client.GetCurrentDirectoryAsURL()),
             "ftp://" + m_server->host() + "/Spelmar/Updates");
    // Names may reach into sub-folders; case counts on the server.
    QVERIFY(client.FindFile("plugins\\Filter.dll") && client.FindFile("notes [1].txt")
            && client.FindFile("*.ht*"));
    QVERIFY(!client.FindFile("latestupdate.html") && !client.FindFile("nothing\\Filter.dll"));
}

void TestFtpFileClient::guardedDownload_data()
{
    QTest::addColumn<QStringList>("serverOptions");
    QTest::addColumn<quint64>("maxBytes");
    QTest::addColumn<QString>("error"); // empty: big.bin arrives whole; "cancelled": from the progress report
    QTest::newRow("short file reported complete")
        << QStringList{"--lie-after-bytes", "Spelmar/Updates/big.bin:1000000"} << quint64(0) << "SHA-256";
    QTest::newRow("cancelled from the progress report") << QStringList() << quint64(0) << "cancelled";
    // The announced size (SIZE and the 150 reply) is not where the data end,
    // and a bound stops a download while it arrives, whatever is announced.
    const QStringList announceSmall{"--announce-size", "Spelmar/Updates/big.bin:10"};
    QTest::newRow("announced smaller than sent") << announceSmall << quint64(0) << QString();
    QTest::newRow("beyond the bound") << announceSmall << quint64(100000) << "larger than 100000 bytes";
}

// A failed download leaves the installed file and no part file; the
// client goes on working after it (passive mode here). Into memory the
// same guards hold.
void TestFtpFileClient::guardedDownload()
{
    QFETCH(QStringList, serverOptions);
    QFETCH(quint64, maxBytes);
    QFETCH(QString, error);
    const bool cancel = error == "cancelled";

    FtpTestServer server(m_serverRoot.path(), serverOptions);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    ScriptedPrompt prompt;
    CFtpFileClient client(&prompt, server.host().toStdString());
    client.setPassive(true);
    QVERIFY(client.Connect() && client.SetCurrentDirectory("Spelmar/Updates"));
    std::atomic<bool> cancelled{false};
    client.setCancelFlag(&cancelled);

    QTemporaryDir folder;
    writeFile(folder.filePath("big.bin"), "the installed file");
    CFtpFileClient::GetFileOptions options;
    options.expectedSha256 = sha256Hex(m_big);
    options.maxBytes = maxBytes;
    if (cancel)
        options.progress = [&cancelled](std::uint64_t done, std::uint64_t) { cancelled = done > 0; };
    QCOMPARE(client.GetFile("big.bin", folder.path().toStdString(), options), error.isEmpty());
    QCOMPARE(readFile(folder.filePath("big.bin")), error.isEmpty() ? m_big : "the installed file");
    QCOMPARE(QDir(folder.path()).entryList({"upd_*.part-*"}, QDir::Files), QStringList());
    QVERIFY2(QString::fromStdString(client.lastError()).contains(error), client.lastError().c_str());
    // A set flag stops every later request as well.
    QCOMPARE(client.FindFile("big.bin"), !cancel);

    cancelled = false;
    options = CFtpFileClient::GetFileOptions();
    options.expectedSha256 = sha256Hex(m_program);
    QVERIFY(client.GetFile("Spelmar.exe", folder.path().toStdString(), options));
    QCOMPARE(readFile(folder.filePath("Spelmar.exe")), m_program);

    options.expectedSha256 = sha256Hex(m_big);
    options.maxBytes = maxBytes > 0 ? maxBytes : quint64(m_big.size());
    if (cancel)
        options.progress = [&cancelled](std::uint64_t done, std::uint64_t) { cancelled = done > 0; };
    std::string bytes = "before";
    QCOMPARE(client.GetBytes("big.bin", bytes, options), error.isEmpty());
    QCOMPARE(QByteArray::fromStdString(bytes), error.isEmpty() ? m_big : QByteArray());
    QVERIFY2(QString::fromStdString(client.lastError()).contains(error), client.lastError().c_str());
}

// A host stored for one server path serves that path only; the
// environment's host, which every other test uses, wins over both.
void TestFtpFileClient::serverHost()
{
    QSettings(kSettingsOrganisation, kSettingsApplication)
        .setValue("Software/Norvane/AutoUpdate/Spelmar/Updates/Host", "updates.example:2121");
    QCOMPARE(ftpServerHost("Spelmar/Updates"), std::string("updates.example:2121"));
    QCOMPARE(ftpServerHost("Other/Updates"), std::string(kDefaultFtpHost));
    // A client without a host takes the built-in one.
    QCOMPARE(CFtpFileClient().host(), std::string(kDefaultFtpHost));
}

QTEST_GUILESS_MAIN(TestFtpFileClient)
#include "tst_engine_ftp.moc"
