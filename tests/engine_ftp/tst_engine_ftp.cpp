// CFtpFileClient against a real FTP server on loopback.

#include "ftpfileclient.h"
#include "ftpserver.h"
#include "ftpsettings.h"
#include "silentserver.h"
#include "updatetestsupport.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

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

// Temporary download files left in a folder.
QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("upd_*.part-*")}, QDir::Files);
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
    void init() { m_prompt.texts.clear(); }
    void connectAndLogin_data();
    void connectAndLogin();
    void directoriesAndNames();
    void getFile_data();
    void getFile();
    void failedDownloadKeepsFile_data();
    void failedDownloadKeepsFile();
    void untrustedSize_data();
    void untrustedSize();
    void cancelWhileServerIsSilent();
    void serverHost_data();
    void serverHost();

private:
    std::unique_ptr<CFtpFileClient> connectedClient(const FtpTestServer &server, bool passive = false);

    QTemporaryDir m_config;
    QTemporaryDir m_serverRoot;
    std::unique_ptr<FtpTestServer> m_server;
    QByteArray m_program = randomBytes(200 * 1024 + 17);
    QByteArray m_big = randomBytes(3 * 1024 * 1024);
    ScriptedPrompt m_prompt;
};

void TestFtpFileClient::initTestCase()
{
    // Settings go to a folder of this test, and the environment does not
    // choose the server or the mode here.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qunsetenv(kFtpHostEnv);
    qunsetenv(kFtpPassiveEnv);
    writeFiles(m_serverRoot.filePath("Spelmar/Updates"),
               {{"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"},
                {"LatestUpdate.html", "<html>notes</html>"},
                {"Spelmar.exe", m_program},
                {"big.bin", m_big},
                {"empty.txt", QByteArray()},
                {"notes [1].txt", "n"},
                {"plugins/Filter.dll", "filter plug-in"}});
    m_server = std::make_unique<FtpTestServer>(m_serverRoot.path());
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

std::unique_ptr<CFtpFileClient> TestFtpFileClient::connectedClient(const FtpTestServer &server, bool passive)
{
    auto client = std::make_unique<CFtpFileClient>(&m_prompt, server.host().toStdString());
    client->setPassive(passive);
    if (!client->Connect() || !client->SetCurrentDirectory("Spelmar/Updates"))
        return nullptr;
    return client;
}

void TestFtpFileClient::connectAndLogin_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("host"); // empty: the test server
    QTest::addColumn<bool>("expected");

    QTest::newRow("built-in account") << FtpTestServer::kUser << FtpTestServer::kPassword << "" << true;
    QTest::newRow("wrong password") << FtpTestServer::kUser << "wrong"
                                    << "" << false;
    // Port 1 on the loopback refuses at once.
    QTest::newRow("no server") << FtpTestServer::kUser << FtpTestServer::kPassword << "127.0.0.1:1" << false;
}

void TestFtpFileClient::connectAndLogin()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, host);
    QFETCH(bool, expected);

    if (host.isEmpty())
        host = m_server->host();
    // The host given to Connect replaces the one given before.
    CFtpFileClient client(&m_prompt, "ftp.invalid");
    client.setUserName(user.toStdString());
    client.setPassword(password.toStdString());
    QCOMPARE(client.Connect(host.toStdString()), expected);
    QCOMPARE(QString::fromStdString(client.GetCurrentDirectoryAsURL()),
             expected ? "ftp://" + host + "/" : "");
    // On failure one box: the fixed head, a reason, the host in angle brackets.
    const QString head = "Connection to the NORVANE server failed.\nCannot check the new software updates.\n"
                         "You can inactivate this feature if no internet line is available!\n\nERROR!  ";
    const QString tail = "\n\nFTP Server: <" + host + ">";
    QCOMPARE(m_prompt.texts.size(), expected ? 0 : 1);
    for (const QString &text : m_prompt.texts)
        QVERIFY2(text.startsWith(head) && text.endsWith(tail) && text.size() > head.size() + tail.size(),
                 qPrintable(text));

    // The session stays for another attempt, which may succeed. Connect on
    // a live connection is refused, without a box, and leaves it as it was.
    client.setUserName(FtpTestServer::kUser);
    client.setPassword(FtpTestServer::kPassword);
    QCOMPARE(client.Connect(m_server->host().toStdString()), !expected);
    QVERIFY(client.SetCurrentDirectory("Spelmar/Updates") && !client.Connect());
    QVERIFY(client.FindFile("Spelmar.exe"));
    QCOMPARE(m_prompt.texts.size(), expected ? 0 : 1);
    // Closed, it refuses requests until it connects again, at the login directory.
    QTemporaryDir local;
    QVERIFY(client.Close() && !client.SetCurrentDirectory("Spelmar"));
    QVERIFY(!client.GetFile("Spelmar.exe", local.path().toStdString()));
    QVERIFY(client.Connect());
    QCOMPARE(client.GetCurrentDirectory(), std::string("/"));
}

void TestFtpFileClient::directoriesAndNames()
{
    CFtpFileClient client(&m_prompt, m_server->host().toStdString());
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
    QVERIFY(!client.FindFile("relinforemote.rel") && !client.FindFile("nothing\\Filter.dll"));
}

void TestFtpFileClient::getFile_data()
{
    QTest::addColumn<QString>("remoteName");
    QTest::addColumn<QString>("folderSuffix");
    QTest::addColumn<bool>("makeSubFolder");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<bool>("expected");

    QTest::newRow("folder without slash") << "Spelmar.exe"
                                          << "" << false << false << true;
    QTest::newRow("folder with slash, passive") << "Spelmar.exe"
                                                << "/" << false << true << true;
    QTest::newRow("empty file") << "empty.txt"
                                << "" << false << false << true;
    QTest::newRow("space and brackets") << "notes [1].txt"
                                        << "" << false << false << true;
    QTest::newRow("sub-folder with backslash") << "plugins\\Filter.dll"
                                               << "" << true << false << true;
    QTest::newRow("climbing out refused") << "..\\Spelmar.exe"
                                          << "" << false << false << false;
}

void TestFtpFileClient::getFile()
{
    QFETCH(QString, remoteName);
    QFETCH(QString, folderSuffix);
    QFETCH(bool, makeSubFolder);
    QFETCH(bool, passive);
    QFETCH(bool, expected);

    // The folder itself is created by GetFile (one level).
    QTemporaryDir parent;
    const QString folder = parent.filePath(QStringLiteral("App"));
    const QString relative = QString(remoteName).replace('\\', '/');
    const QString local = folder + "/" + relative;
    if (makeSubFolder)
        QVERIFY(QDir().mkpath(QFileInfo(local).absolutePath()));
    // An installed file is replaced, keeping its permissions.
    if (expected && !makeSubFolder) {
        writeFile(local, "old program");
        QVERIFY(QFile::setPermissions(local, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    auto client = connectedClient(*m_server, passive);
    QVERIFY(client);
    QCOMPARE(client->GetFile(remoteName.toStdString(), (folder + folderSuffix).toStdString()), expected);
    QCOMPARE(readFile(local),
             expected ? readFile(m_serverRoot.filePath("Spelmar/Updates/" + relative))
                      : QByteArray("<missing>"));
    QVERIFY(!expected || makeSubFolder || (QFileInfo(local).permissions() & QFile::ExeOwner));
    QCOMPARE(leftovers(QFileInfo(local).absolutePath()) + leftovers(folder), QStringList());
    // No folder is no folder, not the root.
    QVERIFY(!client->GetFile("Spelmar.exe", ""));
}

void TestFtpFileClient::failedDownloadKeepsFile_data()
{
    QTest::addColumn<QStringList>("serverOptions");
    QTest::addColumn<QString>("hash");
    QTest::addColumn<bool>("cancel");

    // Passive mode here; the download-run tests use active connections.
    QTest::newRow("short file reported complete")
        << QStringList{"--lie-after-bytes", "Spelmar/Updates/big.bin:1000000"}
        << QString::fromStdString(sha256Hex(m_big)) << false;
    QTest::newRow("cancelled from the progress report") << QStringList() << QString() << true;
}

void TestFtpFileClient::failedDownloadKeepsFile()
{
    QFETCH(QStringList, serverOptions);
    QFETCH(QString, hash);
    QFETCH(bool, cancel);

    FtpTestServer server(m_serverRoot.path(), serverOptions);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    auto client = connectedClient(server, true);
    QVERIFY(client);
    std::atomic<bool> cancelled{false};
    client->setCancelFlag(&cancelled);

    QTemporaryDir folder;
    const QString target = folder.filePath("big.bin");
    writeFile(target, "the installed file");
    CFtpFileClient::GetFileOptions options;
    options.expectedSha256 = hash.toStdString();
    if (cancel)
        options.progress = [&cancelled](std::uint64_t done, std::uint64_t) { cancelled = done > 0; };
    QVERIFY(!client->GetFile("big.bin", folder.path().toStdString(), options));
    QCOMPARE(readFile(target), QByteArray("the installed file"));
    QCOMPARE(leftovers(folder.path()), QStringList());
    // A set flag stops every later request as well.
    QCOMPARE(client->FindFile("big.bin"), !cancel);

    // The client goes on working after the failure.
    cancelled = false;
    options.progress = nullptr;
    options.expectedSha256 = sha256Hex(m_program);
    QVERIFY(client->GetFile("Spelmar.exe", folder.path().toStdString(), options));
    QCOMPARE(readFile(folder.filePath("Spelmar.exe")), m_program);
}

void TestFtpFileClient::untrustedSize_data()
{
    QTest::addColumn<QStringList>("serverOptions");
    QTest::addColumn<quint64>("maxBytes");
    QTest::addColumn<bool>("expected");

    // The announced size (SIZE and the 150 reply) is not where the data end.
    QTest::newRow("announced smaller than sent")
        << QStringList{"--announce-size", "Spelmar/Updates/big.bin:10"} << quint64(0) << true;
    QTest::newRow("announced larger than sent")
        << QStringList{"--announce-size", "Spelmar/Updates/big.bin:99999999"} << quint64(0) << true;
    // A bound stops a download while it arrives, whatever is announced.
    QTest::newRow("beyond the bound")
        << QStringList{"--announce-size", "Spelmar/Updates/big.bin:10"} << quint64(100000) << false;
}

void TestFtpFileClient::untrustedSize()
{
    QFETCH(QStringList, serverOptions);
    QFETCH(quint64, maxBytes);
    QFETCH(bool, expected);

    FtpTestServer server(m_serverRoot.path(), serverOptions);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    auto client = connectedClient(server);
    QVERIFY(client);
    QTemporaryDir folder;
    writeFile(folder.filePath("big.bin"), "the installed file");
    CFtpFileClient::GetFileOptions options;
    options.maxBytes = maxBytes;
    QCOMPARE(client->GetFile("big.bin", folder.path().toStdString(), options), expected);
    QCOMPARE(readFile(folder.filePath("big.bin")), expected ? m_big : QByteArray("the installed file"));
    QCOMPARE(leftovers(folder.path()), QStringList());
    if (!expected)
        QVERIFY2(client->lastError().find("larger than 100000 bytes") != std::string::npos,
                 client->lastError().c_str());
}

void TestFtpFileClient::cancelWhileServerIsSilent()
{
    // A server that takes the connection and never greets: the login waits
    // for the greeting until the flag is set from another thread.
    SilentServer silent;
    QVERIFY(silent.listening());
    CFtpFileClient client(&m_prompt, silent.host().toStdString());
    std::atomic<bool> cancelled{false};
    client.setCancelFlag(&cancelled);
    bool connected = true;
    std::thread worker([&] { connected = client.Connect(); });
    QTest::qWait(300);
    cancelled = true;
    worker.join();
    QVERIFY(!connected);
    // Ended by the flag, not by a time-out, and without a box.
    QCOMPARE(client.lastError(), std::string("cancelled"));
    QVERIFY(m_prompt.texts.empty());
}

void TestFtpFileClient::serverHost_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("expected");

    QTest::newRow("built-in") << QByteArray() << QString() << "Spelmar/Updates" << kDefaultFtpHost;
    QTest::newRow("stored") << QByteArray() << "updates.example:2121"
                            << "Spelmar/Updates"
                            << "updates.example:2121";
    QTest::newRow("stored for another path") << QByteArray() << "updates.example"
                                             << "Other/Updates" << kDefaultFtpHost;
    QTest::newRow("environment wins") << QByteArray("127.0.0.1:2100") << "updates.example"
                                      << "Spelmar/Updates"
                                      << "127.0.0.1:2100";
}

void TestFtpFileClient::serverHost()
{
    QFETCH(QByteArray, environment);
    QFETCH(QString, stored);
    QFETCH(QString, serverPath);
    QFETCH(QString, expected);

    {
        QSettings settings(kSettingsOrganisation, kSettingsApplication);
        settings.clear();
        if (!stored.isEmpty())
            settings.setValue("Software/Norvane/AutoUpdate/Spelmar/Updates/Host", stored);
    }
    if (!environment.isEmpty())
        qputenv(kFtpHostEnv, environment);
    const std::string host = ftpServerHost(serverPath.toStdString());
    // A client without a host asks for the default server path's host.
    const std::string clientHost = CFtpFileClient().host();
    qunsetenv(kFtpHostEnv);
    QCOMPARE(QString::fromStdString(host), expected);
    QCOMPARE(QString::fromStdString(clientHost), environment.isEmpty() ? QString(kDefaultFtpHost) : expected);
}

QTEST_GUILESS_MAIN(TestFtpFileClient)
#include "tst_engine_ftp.moc"
