// CFtpFileClient against a real FTP server on loopback.

#include "ftpfileclient.h"
#include "ftpserver.h"
#include "ftpsettings.h"
#include "prompt.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Answers every box with OK and keeps what it was shown.
class RecordingPrompt : public IPrompt
{
public:
    Answer message(const std::string &text, const std::string &, Buttons buttons, Icon icon) override
    {
        texts.push_back(text);
        lastButtons = buttons;
        lastIcon = icon;
        return Answer::Ok;
    }

    std::vector<std::string> texts;
    Buttons lastButtons = Buttons::YesNo;
    Icon lastIcon = Icon::Question;
};

QByteArray randomBytes(int size)
{
    QByteArray data(size, '\0');
    QRandomGenerator generator(4711);
    for (char &c : data)
        c = static_cast<char>(generator.bounded(256));
    // Line ends that a text-mode transfer would change.
    return data.replace(0, 6, QByteArray("\r\n\n\r\r\n"));
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
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

const char *const kFailedHead = "Connection to the NORVANE server failed.\n"
                                "Cannot check the new software updates.\n"
                                "You can inactivate this feature if no internet line is available!\n\n"
                                "ERROR!  ";

} // namespace

class TestFtpFileClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { m_prompt.texts.clear(); }
    void connectAndLogin_data();
    void connectAndLogin();
    void connectTwiceAndNotConnected();
    void setCurrentDirectory_data();
    void setCurrentDirectory();
    void findFile_data();
    void findFile();
    void getFile_data();
    void getFile();
    void failedDownloadKeepsFile_data();
    void failedDownloadKeepsFile();
    void cancelWhileServerIsSilent();
    void putFile();
    void reusesOneConnection();
    void serverHost_data();
    void serverHost();

private:
    std::unique_ptr<CFtpFileClient> connectedClient(const FtpTestServer &server, bool passive = false);

    QTemporaryDir m_config;
    QTemporaryDir m_serverRoot;
    std::unique_ptr<FtpTestServer> m_server;
    QByteArray m_program;
    QByteArray m_big;
    RecordingPrompt m_prompt;
};

void TestFtpFileClient::initTestCase()
{
    // Settings go to a folder of this test, and the environment does not
    // choose the server or the mode here.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qunsetenv(kFtpHostEnv);
    qunsetenv(kFtpPassiveEnv);
    const QString updates = m_serverRoot.filePath(QStringLiteral("Spelmar/Updates"));
    m_program = randomBytes(200 * 1024 + 17);
    m_big = randomBytes(3 * 1024 * 1024);
    QVERIFY(writeFile(updates + "/RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"));
    QVERIFY(writeFile(updates + "/LatestUpdate.html", "<html>notes</html>"));
    QVERIFY(writeFile(updates + "/Spelmar.exe", m_program));
    QVERIFY(writeFile(updates + "/big.bin", m_big));
    QVERIFY(writeFile(updates + "/empty.txt", QByteArray()));
    QVERIFY(writeFile(updates + "/notes [1].txt", "n"));
    QVERIFY(writeFile(updates + "/plugins/Filter.dll", "filter plug-in"));
    QVERIFY(QDir().mkpath(updates + "/upload"));

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
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<bool>("expected");

    QTest::newRow("built-in account") << FtpTestServer::kUser << FtpTestServer::kPassword << true << true;
    QTest::newRow("wrong password") << FtpTestServer::kUser << "wrong" << true << false;
    QTest::newRow("unknown user") << "nobody" << FtpTestServer::kPassword << true << false;
    QTest::newRow("no server") << FtpTestServer::kUser << FtpTestServer::kPassword << false << false;
}

void TestFtpFileClient::connectAndLogin()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, serverUp);
    QFETCH(bool, expected);

    std::string host = m_server->host().toStdString();
    if (!serverUp) {
        // A port that was just free: nothing listens there any more.
        FtpTestServer gone(m_serverRoot.path());
        QVERIFY(gone.start());
        host = gone.host().toStdString();
    }
    CFtpFileClient client(&m_prompt, "ftp.invalid");
    client.setUserName(user.toStdString());
    client.setPassword(password.toStdString());
    QCOMPARE(client.Connect(host), expected);
    QCOMPARE(client.isConnected(), expected);
    QCOMPARE(client.host(), host);
    if (expected) {
        QVERIFY(m_prompt.texts.empty());
        QCOMPARE(client.GetCurrentDirectory(), std::string("/"));
        QCOMPARE(client.GetCurrentDirectoryAsURL(), "ftp://" + host + "/");
        return;
    }
    // One box: the fixed head, the reason, the host in angle brackets.
    QCOMPARE(m_prompt.texts.size(), std::size_t(1));
    const std::string &text = m_prompt.texts.front();
    const std::string tail = "\n\nFTP Server: <" + host + ">";
    QVERIFY2(text.rfind(kFailedHead, 0) == 0, text.c_str());
    QVERIFY2(text.size() > std::strlen(kFailedHead) + tail.size()
                 && text.compare(text.size() - tail.size(), tail.size(), tail) == 0,
             text.c_str());
    QCOMPARE(m_prompt.lastButtons, IPrompt::Buttons::Ok);
    QCOMPARE(m_prompt.lastIcon, IPrompt::Icon::None);
    QCOMPARE(client.GetCurrentDirectoryAsURL(), std::string());

    // The session stays for another attempt, which may succeed.
    client.setUserName(FtpTestServer::kUser);
    client.setPassword(FtpTestServer::kPassword);
    QVERIFY(client.Connect(m_server->host().toStdString()));
}

void TestFtpFileClient::connectTwiceAndNotConnected()
{
    CFtpFileClient client(&m_prompt, m_server->host().toStdString());
    QTemporaryDir local;
    QVERIFY(!client.SetCurrentDirectory("Spelmar"));
    QVERIFY(!client.FindFile("*"));
    QVERIFY(!client.GetFile("Spelmar.exe", local.path().toStdString()));
    QCOMPARE(client.FindNextFile(), std::string());
    QCOMPARE(client.GetCurrentDirectory(), std::string());

    QVERIFY(client.Connect());
    QVERIFY(client.SetCurrentDirectory("Spelmar/Updates"));
    QVERIFY(!client.Connect());
    QVERIFY(m_prompt.texts.empty());
    // The first connection is untouched by the refused one.
    QCOMPARE(client.GetCurrentDirectory(), std::string("/Spelmar/Updates"));
    QVERIFY(client.FindFile("Spelmar.exe"));
    QVERIFY(client.Close());
    QCOMPARE(client.GetCurrentDirectory(), std::string());
    QVERIFY(client.Connect());
    QCOMPARE(client.GetCurrentDirectory(), std::string("/"));
}

void TestFtpFileClient::setCurrentDirectory_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("lastResult");
    QTest::addColumn<QString>("directory");

    QTest::newRow("server path") << QStringList{"Spelmar/Updates"} << true << "/Spelmar/Updates";
    QTest::newRow("backslash, two steps") << QStringList{"Spelmar", "\\Spelmar\\Updates"} << true
                                          << "/Spelmar/Updates";
    QTest::newRow("missing") << QStringList{"Spelmar/Missing"} << false << "/";
    QTest::newRow("missing keeps current") << QStringList{"Spelmar", "Missing"} << false << "/Spelmar";
    QTest::newRow("a file is no folder") << QStringList{"Spelmar/Updates/Spelmar.exe"} << false << "/";
    QTest::newRow("up again") << QStringList{"Spelmar/Updates", ".."} << true << "/Spelmar";
}

void TestFtpFileClient::setCurrentDirectory()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, lastResult);
    QFETCH(QString, directory);

    CFtpFileClient client(&m_prompt, m_server->host().toStdString());
    QVERIFY(client.Connect());
    bool result = false;
    for (const QString &step : steps)
        result = client.SetCurrentDirectory(step.toStdString());
    QCOMPARE(result, lastResult);
    QCOMPARE(QString::fromStdString(client.GetCurrentDirectory()), directory);
    QCOMPARE(QString::fromStdString(client.GetCurrentDirectoryAsURL()),
             "ftp://" + m_server->host() + directory);
    // Later requests work in the directory the client reports.
    const std::map<QString, std::string> entryOf{
        {"/", "Spelmar"}, {"/Spelmar", "Updates"}, {"/Spelmar/Updates", "Spelmar.exe"}};
    QVERIFY(client.FindFile(entryOf.at(directory)));
}

void TestFtpFileClient::findFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("matches");

    QTest::newRow("present") << "RelInfoRemote.rel" << QStringList{"RelInfoRemote.rel"};
    QTest::newRow("absent") << "RelInfoLocal.rel" << QStringList();
    QTest::newRow("case counts on the server") << "relinforemote.rel" << QStringList();
    QTest::newRow("in a sub-folder") << "plugins\\Filter.dll" << QStringList{"plugins/Filter.dll"};
    QTest::newRow("absent sub-folder") << "nothing\\Filter.dll" << QStringList();
    QTest::newRow("wildcard") << "*.ht*" << QStringList{"LatestUpdate.html"};
    QTest::newRow("brackets are no pattern") << "notes [1].txt" << QStringList{"notes [1].txt"};
    QTest::newRow("several") << "*.*" << QStringList{"LatestUpdate.html", "RelInfoRemote.rel", "Spelmar.exe",
                                                     "big.bin", "empty.txt", "notes [1].txt"};
}

void TestFtpFileClient::findFile()
{
    QFETCH(QString, name);
    QFETCH(QStringList, matches);

    auto client = connectedClient(*m_server);
    QVERIFY(client);
    QVERIFY(client->FindFile("LatestUpdate.html"));
    QCOMPARE(client->FindFile(name.toStdString()), !matches.isEmpty());
    // An absent name keeps the earlier last found name.
    QCOMPARE(client->lastFoundName(), matches.isEmpty() ? std::string("LatestUpdate.html") : name.toStdString());
    if (matches.isEmpty())
        return;
    // FindFile holds the first match; FindNextFile hands out the others.
    QStringList rest;
    for (std::string next = client->FindNextFile(); !next.empty(); next = client->FindNextFile())
        rest << QString::fromStdString(next);
    QVERIFY(!client->found());
    QCOMPARE(rest.size(), matches.size() - 1);
    for (const QString &match : rest)
        QVERIFY2(matches.contains(match), qPrintable(match));
}

void TestFtpFileClient::getFile_data()
{
    QTest::addColumn<QString>("remoteName");
    QTest::addColumn<QString>("folderSuffix");
    QTest::addColumn<bool>("makeSubFolder");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<bool>("expected");

    QTest::newRow("folder without slash") << "Spelmar.exe" << "" << false << false << true;
    QTest::newRow("folder with slash, passive") << "Spelmar.exe" << "/" << false << true << true;
    QTest::newRow("folder with backslash") << "big.bin" << "\\" << false << false << true;
    QTest::newRow("empty file") << "empty.txt" << "" << false << false << true;
    QTest::newRow("space and brackets") << "notes [1].txt" << "" << false << false << true;
    QTest::newRow("sub-folder with backslash") << "plugins\\Filter.dll" << "" << true << false << true;
    QTest::newRow("sub-folder not there") << "plugins\\Filter.dll" << "" << false << false << false;
    QTest::newRow("absent on the server") << "Missing.exe" << "" << false << false << false;
    QTest::newRow("climbing out refused") << "..\\Spelmar.exe" << "" << false << false << false;
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
        QVERIFY(writeFile(local, "old program"));
        QVERIFY(QFile::setPermissions(local, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    auto client = connectedClient(*m_server, passive);
    QVERIFY(client);
    QCOMPARE(client->GetFile(remoteName.toStdString(), (folder + folderSuffix).toStdString()), expected);
    if (expected) {
        QCOMPARE(readFile(local), readFile(m_serverRoot.filePath("Spelmar/Updates/" + relative)));
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(makeSubFolder || (QFileInfo(local).permissions() & QFile::ExeOwner));
    } else {
        QVERIFY(!QFile::exists(local));
        QVERIFY(!client->lastError().empty());
    }
    QCOMPARE(leftovers(QFileInfo(local).absolutePath()), QStringList());
    QCOMPARE(leftovers(folder), QStringList());
    // No folder is no folder, not the root.
    QVERIFY(!client->GetFile("Spelmar.exe", ""));
}

void TestFtpFileClient::failedDownloadKeepsFile_data()
{
    QTest::addColumn<QStringList>("serverOptions");
    QTest::addColumn<QString>("hash");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("passive");

    const QStringList drop{"--drop-after-bytes", "Spelmar/Updates/big.bin:1000000"};
    const QStringList lie{"--lie-after-bytes", "Spelmar/Updates/big.bin:1000000"};
    QString wrong = QString::fromStdString(sha256Hex(m_big));
    wrong[10] = wrong[10] == '0' ? '1' : '0';
    QTest::newRow("data connection dropped, active") << drop << QString() << false << false;
    QTest::newRow("data connection dropped, passive") << drop << QString() << false << true;
    QTest::newRow("short file reported complete") << lie << QString::fromStdString(sha256Hex(m_big)) << false
                                                  << false;
    QTest::newRow("hash one digit off") << QStringList() << wrong << false << false;
    QTest::newRow("hash not hex") << QStringList() << QString(64, 'g') << false << false;
    QTest::newRow("cancelled from the progress report") << QStringList() << QString() << true << false;
}

void TestFtpFileClient::failedDownloadKeepsFile()
{
    QFETCH(QStringList, serverOptions);
    QFETCH(QString, hash);
    QFETCH(bool, cancel);
    QFETCH(bool, passive);

    FtpTestServer server(m_serverRoot.path(), serverOptions);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    auto client = connectedClient(server, passive);
    QVERIFY(client);
    std::atomic<bool> cancelled{false};
    client->setCancelFlag(&cancelled);

    QTemporaryDir folder;
    const QString target = folder.filePath("big.bin");
    QVERIFY(writeFile(target, "the installed file"));
    CFtpFileClient::GetFileOptions options;
    options.expectedSha256 = hash.toStdString();
    std::uint64_t seen = 0;
    if (cancel) {
        options.progress = [&](std::uint64_t done, std::uint64_t) {
            seen = done;
            cancelled = done > 0;
        };
    }
    QVERIFY(!client->GetFile("big.bin", folder.path().toStdString(), options));
    QCOMPARE(readFile(target), QByteArray("the installed file"));
    QCOMPARE(leftovers(folder.path()), QStringList());
    if (cancel) {
        QVERIFY(seen > 0);
        QCOMPARE(client->lastError(), std::string("cancelled"));
        // A set flag stops every later request as well.
        QVERIFY(!client->FindFile("big.bin"));
        cancelled = false;
        options.progress = nullptr;
    }
    // The client goes on working after the failure.
    options.expectedSha256 = sha256Hex(m_program);
    QVERIFY(client->GetFile("Spelmar.exe", folder.path().toStdString(), options));
    QCOMPARE(readFile(folder.filePath("Spelmar.exe")), m_program);
}

void TestFtpFileClient::cancelWhileServerIsSilent()
{
    // A server that takes the connection and never greets: the login waits
    // for the greeting until the flag is set from another thread.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(silent >= 0);
    const std::unique_ptr<const int, void (*)(const int *)> closer(&silent, [](const int *fd) { ::close(*fd); });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), length) == 0);
    QVERIFY(::listen(silent, 4) == 0);
    QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);

    CFtpFileClient client(&m_prompt, "127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
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

void TestFtpFileClient::putFile()
{
    auto client = connectedClient(*m_server);
    QVERIFY(client);
    QVERIFY(client->SetCurrentDirectory("upload"));
    QTemporaryDir local;
    QVERIFY(writeFile(local.filePath("report.bin"), m_program));
    QVERIFY(client->PutFile(local.filePath("report.bin").toStdString()));
    QCOMPARE(readFile(m_serverRoot.filePath("Spelmar/Updates/upload/report.bin")), m_program);

    // Without a "/" the name follows the last backslash.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(local.path()));
    QVERIFY(writeFile(local.filePath("C:\\Temp\\notes.txt"), "notes"));
    const bool putByBackslash = client->PutFile("C:\\Temp\\notes.txt");
    QDir::setCurrent(previous);
    QVERIFY(putByBackslash);
    QCOMPARE(readFile(m_serverRoot.filePath("Spelmar/Updates/upload/notes.txt")), QByteArray("notes"));
    QVERIFY(!client->PutFile(local.filePath("absent.bin").toStdString()));
}

void TestFtpFileClient::reusesOneConnection()
{
    // The server takes one control connection at a time; a client that
    // opened a second one per request would be turned away.
    FtpTestServer server(m_serverRoot.path(), {QStringLiteral("--max-connections"), QStringLiteral("1")});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    CFtpFileClient client(&m_prompt, server.host().toStdString());
    QVERIFY(client.Connect());
    QTemporaryDir folder;
    for (int run = 0; run < 3; ++run) {
        QVERIFY(client.SetCurrentDirectory("/Spelmar/Updates"));
        QVERIFY(client.FindFile("RelInfoRemote.rel"));
        QVERIFY(client.GetFile("RelInfoRemote.rel", folder.path().toStdString()));
        QVERIFY(client.GetFile("Spelmar.exe", folder.path().toStdString()));
    }
    CFtpFileClient second(&m_prompt, server.host().toStdString());
    QVERIFY(!second.Connect());
    // Once closed, the one place is free again (the server notices the
    // goodbye a moment later).
    client.Close();
    bool reconnected = second.Connect();
    for (int attempt = 0; attempt < 300 && !reconnected; ++attempt) {
        QTest::qWait(100);
        reconnected = second.Connect();
    }
    QVERIFY(reconnected);
}

void TestFtpFileClient::serverHost_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("expected");

    QTest::newRow("built-in") << QByteArray() << QString() << "Spelmar/Updates" << kDefaultFtpHost;
    QTest::newRow("stored") << QByteArray() << "updates.example:2121" << "Spelmar/Updates"
                            << "updates.example:2121";
    QTest::newRow("stored, backslash path") << QByteArray() << "updates.example" << "Spelmar\\Updates"
                                            << "updates.example";
    QTest::newRow("stored for another path") << QByteArray() << "updates.example" << "Other/Updates"
                                             << kDefaultFtpHost;
    QTest::newRow("environment wins") << QByteArray("127.0.0.1:2100") << "updates.example"
                                      << "Spelmar/Updates" << "127.0.0.1:2100";
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
#include "tst_ftpfileclient.moc"
