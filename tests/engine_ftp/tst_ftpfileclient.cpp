// CFtpFileClient against a real FTP server on loopback.

#include "ftpfileclient.h"
#include "ftpsettings.h"
#include "ftpserver.h"
#include "prompt.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
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
    Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                   Icon icon) override
    {
        texts.push_back(text);
        captions.push_back(caption);
        lastButtons = buttons;
        lastIcon = icon;
        return Answer::Ok;
    }

    std::vector<std::string> texts;
    std::vector<std::string> captions;
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
    if (size > 8)
        data.replace(0, 6, QByteArray("\r\n\n\r\r\n"));
    return data;
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

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList(QStringList{QStringLiteral(".*.part-*")},
                                  QDir::Files | QDir::Hidden);
}

std::string sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

const char *const kFailedHead =
    "Connection to the NORVANE server failed.\n"
    "Cannot check the new software updates.\n"
    "You can inactivate this feature if no internet line is available!\n\n"
    "ERROR!  ";

} // namespace

class TestFtpFileClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void connectAndLogin_data();
    void connectAndLogin();
    void connectTwice();
    void notConnected();
    void setCurrentDirectory_data();
    void setCurrentDirectory();
    void findFile_data();
    void findFile();
    void findNextFile();
    void getFile_data();
    void getFile();
    void getFileReplacesExisting();
    void droppedTransferKeepsFile_data();
    void droppedTransferKeepsFile();
    void verifiesSha256_data();
    void verifiesSha256();
    void cancel();
    void cancelWhileServerIsSilent();
    void putFile();
    void reusesOneConnection();
    void serverHost_data();
    void serverHost();

private:
    QTemporaryDir m_config;
    std::unique_ptr<CFtpFileClient> connectedClient(bool passive = false);

    QTemporaryDir m_serverRoot;
    QTemporaryDir m_local;
    std::unique_ptr<FtpTestServer> m_server;
    QByteArray m_program;
    QByteArray m_big;
    RecordingPrompt m_prompt;
};

void TestFtpFileClient::initTestCase()
{
    // Settings go to a folder of this test, and the environment does not
    // choose the server or the mode here.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qunsetenv(kFtpHostEnv);
    qunsetenv(kFtpPassiveEnv);
    QVERIFY(m_serverRoot.isValid());
    const QString updates = m_serverRoot.filePath(QStringLiteral("Spelmar/Updates"));
    m_program = randomBytes(200 * 1024 + 17);
    m_big = randomBytes(3 * 1024 * 1024);
    QVERIFY(writeFile(updates + "/RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"));
    QVERIFY(writeFile(updates + "/LatestUpdate.html", "<html>notes</html>"));
    QVERIFY(writeFile(updates + "/Spelmar.exe", m_program));
    QVERIFY(writeFile(updates + "/big.bin", m_big));
    QVERIFY(writeFile(updates + "/empty.txt", QByteArray()));
    QVERIFY(writeFile(updates + "/plugins/Filter.dll", "filter plug-in"));
    QVERIFY(writeFile(updates + "/upload/.keep", QByteArray()));

    m_server = std::make_unique<FtpTestServer>(m_serverRoot.path());
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestFtpFileClient::init()
{
    m_prompt.texts.clear();
    m_prompt.captions.clear();
}

std::unique_ptr<CFtpFileClient> TestFtpFileClient::connectedClient(bool passive)
{
    auto client = std::make_unique<CFtpFileClient>(&m_prompt, m_server->host().toStdString());
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

    QTest::newRow("built-in account") << QString() << QString() << true << true;
    QTest::newRow("wrong password") << QString() << "wrong" << true << false;
    QTest::newRow("unknown user") << "nobody" << QString() << true << false;
    QTest::newRow("no server") << QString() << QString() << false << false;
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
        QTemporaryDir root;
        FtpTestServer gone(root.path());
        QVERIFY(gone.start());
        host = gone.host().toStdString();
    }
    CFtpFileClient client(&m_prompt, "ftp.invalid");
    if (!user.isEmpty())
        client.setUserName(user.toStdString());
    if (!password.isEmpty())
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
    QCOMPARE(m_prompt.texts.size(), std::size_t(1));
    const std::string &text = m_prompt.texts.front();
    QVERIFY2(text.rfind(kFailedHead, 0) == 0, text.c_str());
    const std::string tail = "\n\nFTP Server: <" + host + ">";
    QVERIFY2(text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0,
             text.c_str());
    // The reason sits between the head and the tail and is not empty.
    QVERIFY(text.size() > std::strlen(kFailedHead) + tail.size());
    QCOMPARE(m_prompt.lastButtons, IPrompt::Buttons::Ok);
    QCOMPARE(m_prompt.lastIcon, IPrompt::Icon::None);
    QCOMPARE(client.GetCurrentDirectoryAsURL(), std::string());

    // The session stays for another attempt, which may succeed.
    client.setUserName(FtpTestServer::kUser);
    client.setPassword(FtpTestServer::kPassword);
    QCOMPARE(client.Connect(m_server->host().toStdString()), true);
}

void TestFtpFileClient::connectTwice()
{
    CFtpFileClient client(&m_prompt, m_server->host().toStdString());
    QVERIFY(client.Connect());
    QVERIFY(client.SetCurrentDirectory("Spelmar/Updates"));
    QVERIFY(!client.Connect());
    QVERIFY(m_prompt.texts.empty());
    // The first connection is untouched by the refused one.
    QCOMPARE(client.GetCurrentDirectory(), std::string("/Spelmar/Updates"));
    QVERIFY(client.FindFile("Spelmar.exe"));
    QVERIFY(client.Close());
    QVERIFY(client.Connect());
    QCOMPARE(client.GetCurrentDirectory(), std::string("/"));
}

void TestFtpFileClient::notConnected()
{
    CFtpFileClient client(&m_prompt, m_server->host().toStdString());
    QVERIFY(!client.SetCurrentDirectory("Spelmar"));
    QVERIFY(!client.FindFile("Spelmar.exe"));
    QVERIFY(!client.GetFile("Spelmar.exe", m_local.path().toStdString()));
    QVERIFY(!client.PutFile(m_local.filePath("x").toStdString()));
    QCOMPARE(client.GetCurrentDirectory(), std::string());
    QCOMPARE(client.GetCurrentDirectoryAsURL(), std::string());
    QCOMPARE(client.FindNextFile(), std::string());
    QVERIFY(client.Close());
    QVERIFY(m_prompt.texts.empty());
    QVERIFY(!QFile::exists(m_local.filePath("Spelmar.exe")));
}

void TestFtpFileClient::setCurrentDirectory_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("lastResult");
    QTest::addColumn<QString>("directory");

    QTest::newRow("server path") << QStringList{"Spelmar/Updates"} << true << "/Spelmar/Updates";
    QTest::newRow("one level at a time") << QStringList{"Spelmar", "Updates"} << true
                                         << "/Spelmar/Updates";
    QTest::newRow("backslash") << QStringList{"Spelmar\\Updates"} << true << "/Spelmar/Updates";
    QTest::newRow("missing") << QStringList{"Spelmar/Missing"} << false << "/";
    QTest::newRow("missing keeps current") << QStringList{"Spelmar", "Missing"} << false
                                           << "/Spelmar";
    QTest::newRow("a file is no folder") << QStringList{"Spelmar/Updates/Spelmar.exe"} << false
                                         << "/";
    QTest::newRow("up again") << QStringList{"Spelmar/Updates", ".."} << true << "/Spelmar";
    QTest::newRow("absolute") << QStringList{"Spelmar/Updates", "/Spelmar"} << true << "/Spelmar";
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
             "ftp://" + m_server->host() + (directory == "/" ? QString("/") : directory));
    // Later requests work in the directory the client reports.
    const std::map<QString, std::string> entryOf{
        {"/", "Spelmar"}, {"/Spelmar", "Updates"}, {"/Spelmar/Updates", "Spelmar.exe"}};
    QVERIFY(client.FindFile(entryOf.at(directory)));
    QVERIFY(!client.FindFile("RelInfoLocal.rel"));
}

void TestFtpFileClient::findFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("present") << "RelInfoRemote.rel" << true;
    QTest::newRow("absent") << "RelInfoLocal.rel" << false;
    QTest::newRow("case counts on the server") << "relinforemote.rel" << false;
    QTest::newRow("in a sub-folder") << "plugins\\Filter.dll" << true;
    QTest::newRow("absent sub-folder") << "nothing\\Filter.dll" << false;
    QTest::newRow("empty file") << "empty.txt" << true;
}

void TestFtpFileClient::findFile()
{
    QFETCH(QString, name);
    QFETCH(bool, expected);

    auto client = connectedClient();
    QVERIFY(client);
    QVERIFY(client->FindFile("LatestUpdate.html"));
    QCOMPARE(client->FindFile(name.toStdString()), expected);
    QCOMPARE(client->found(), expected);
    // An absent name keeps the earlier last found name.
    QCOMPARE(client->lastFoundName(), expected ? name.toStdString() : std::string("LatestUpdate.html"));
}

void TestFtpFileClient::findNextFile()
{
    auto client = connectedClient();
    QVERIFY(client);
    QVERIFY(client->FindFile("*.rel"));
    QCOMPARE(client->FindNextFile(), std::string());
    QVERIFY(!client->found());

    QVERIFY(client->FindFile("*.*"));
    QStringList names;
    for (std::string next = client->FindNextFile(); !next.empty(); next = client->FindNextFile())
        names << QString::fromStdString(next);
    names.sort();
    // The first match belongs to FindFile itself; the rest come one by one.
    QCOMPARE(names.size(), 4);
    QVERIFY(!client->found());
}

void TestFtpFileClient::getFile_data()
{
    QTest::addColumn<QString>("remoteName");
    QTest::addColumn<QString>("folderSuffix");
    QTest::addColumn<QString>("makeFolder");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QString>("localName");
    QTest::addColumn<bool>("expected");

    QTest::newRow("folder without slash") << "Spelmar.exe" << "" << "" << false << "Spelmar.exe" << true;
    QTest::newRow("folder with slash") << "Spelmar.exe" << "/" << "" << false << "Spelmar.exe" << true;
    QTest::newRow("folder with backslash") << "Spelmar.exe" << "\\" << "" << false << "Spelmar.exe" << true;
    QTest::newRow("passive") << "Spelmar.exe" << "" << "" << true << "Spelmar.exe" << true;
    QTest::newRow("large, passive") << "big.bin" << "/" << "" << true << "big.bin" << true;
    QTest::newRow("large, active") << "big.bin" << "" << "" << false << "big.bin" << true;
    QTest::newRow("empty file") << "empty.txt" << "" << "" << false << "empty.txt" << true;
    QTest::newRow("sub-folder with backslash") << "plugins\\Filter.dll" << "" << "plugins" << false
                                               << "plugins/Filter.dll" << true;
    QTest::newRow("sub-folder not there") << "plugins\\Filter.dll" << "" << "" << false
                                          << "plugins/Filter.dll" << false;
    QTest::newRow("absent on the server") << "Missing.exe" << "" << "" << false << "Missing.exe" << false;
    QTest::newRow("climbing out refused") << "..\\Spelmar.exe" << "" << "" << false << "../Spelmar.exe"
                                          << false;
}

void TestFtpFileClient::getFile()
{
    QFETCH(QString, remoteName);
    QFETCH(QString, folderSuffix);
    QFETCH(QString, makeFolder);
    QFETCH(bool, passive);
    QFETCH(QString, localName);
    QFETCH(bool, expected);

    QTemporaryDir parent;
    // The folder itself is created by GetFile (one level).
    const QString folder = parent.filePath(QStringLiteral("App"));
    if (!makeFolder.isEmpty())
        QVERIFY(QDir().mkpath(folder + "/" + makeFolder));

    auto client = connectedClient(passive);
    QVERIFY(client);
    QCOMPARE(client->GetFile(remoteName.toStdString(), (folder + folderSuffix).toStdString()), expected);
    const QString local = folder + "/" + localName;
    if (expected) {
        const QString remote = m_serverRoot.filePath("Spelmar/Updates/" + QString(remoteName).replace('\\', '/'));
        QCOMPARE(readFile(local), readFile(remote));
    } else {
        QVERIFY(!QFile::exists(local));
        QVERIFY(!client->lastError().empty());
    }
    if (expected)
        QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(leftovers(QFileInfo(local).absolutePath()), QStringList());
    QCOMPARE(leftovers(folder), QStringList());
}

void TestFtpFileClient::getFileReplacesExisting()
{
    auto client = connectedClient();
    QVERIFY(client);
    const QString target = m_local.filePath("Spelmar.exe");
    QVERIFY(writeFile(target, "old program, longer than nothing"));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(client->GetFile("Spelmar.exe", m_local.path().toStdString()));
    QCOMPARE(readFile(target), m_program);
    // A program stays executable after its update.
    QVERIFY(QFileInfo(target).permissions() & QFile::ExeOwner);
    // No folder is no folder, not the root.
    QVERIFY(!client->GetFile("Spelmar.exe", ""));
    QVERIFY(!QFile::exists("/Spelmar.exe"));
}

void TestFtpFileClient::droppedTransferKeepsFile_data()
{
    QTest::addColumn<QString>("serverOption");
    QTest::addColumn<bool>("withHash");
    QTest::addColumn<bool>("passive");

    QTest::newRow("data connection dropped, active") << "--drop-after-bytes" << false << false;
    QTest::newRow("data connection dropped, passive") << "--drop-after-bytes" << false << true;
    QTest::newRow("short file reported complete, hash given") << "--lie-after-bytes" << true << false;
}

void TestFtpFileClient::droppedTransferKeepsFile()
{
    QFETCH(QString, serverOption);
    QFETCH(bool, withHash);
    QFETCH(bool, passive);

    FtpTestServer server(m_serverRoot.path(),
                         {serverOption, QStringLiteral("Spelmar/Updates/big.bin:1000000")});
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    CFtpFileClient client(&m_prompt, server.host().toStdString());
    client.setPassive(passive);
    QVERIFY(client.Connect());
    QVERIFY(client.SetCurrentDirectory("Spelmar/Updates"));

    QTemporaryDir folder;
    const QString target = folder.filePath("big.bin");
    QVERIFY(writeFile(target, "the installed file"));
    CFtpFileClient::GetFileOptions options;
    if (withHash)
        options.expectedSha256 = sha256Hex(m_big);
    QVERIFY(!client.GetFile("big.bin", folder.path().toStdString(), options));
    QCOMPARE(readFile(target), QByteArray("the installed file"));
    QCOMPARE(leftovers(folder.path()), QStringList());

    // The client goes on working after the failure.
    QVERIFY(client.GetFile("Spelmar.exe", folder.path().toStdString()));
    QCOMPARE(readFile(folder.filePath("Spelmar.exe")), m_program);
}

void TestFtpFileClient::verifiesSha256_data()
{
    QTest::addColumn<QByteArray>("expectedHash");
    QTest::addColumn<bool>("expected");

    const QByteArray right = QByteArray::fromStdString(sha256Hex(m_program));
    QByteArray wrong = right;
    wrong[10] = wrong[10] == '0' ? '1' : '0';
    QTest::newRow("matching") << right << true;
    QTest::newRow("matching, upper case") << right.toUpper() << true;
    QTest::newRow("one digit off") << wrong << false;
    QTest::newRow("too short") << right.left(63) << false;
    QTest::newRow("not hex") << QByteArray(64, 'g') << false;
}

void TestFtpFileClient::verifiesSha256()
{
    QFETCH(QByteArray, expectedHash);
    QFETCH(bool, expected);

    auto client = connectedClient();
    QVERIFY(client);
    QTemporaryDir folder;
    const QString target = folder.filePath("Spelmar.exe");
    QVERIFY(writeFile(target, "the installed file"));
    CFtpFileClient::GetFileOptions options;
    options.expectedSha256 = expectedHash.toStdString();
    QCOMPARE(client->GetFile("Spelmar.exe", folder.path().toStdString(), options), expected);
    QCOMPARE(readFile(target), expected ? m_program : QByteArray("the installed file"));
    QCOMPARE(leftovers(folder.path()), QStringList());
}

void TestFtpFileClient::cancel()
{
    auto client = connectedClient();
    QVERIFY(client);
    std::atomic<bool> cancelled{false};
    client->setCancelFlag(&cancelled);

    QTemporaryDir folder;
    const QString target = folder.filePath("big.bin");
    QVERIFY(writeFile(target, "the installed file"));

    // Cancelled from the progress report once data flow.
    std::uint64_t seen = 0;
    CFtpFileClient::GetFileOptions options;
    options.progress = [&](std::uint64_t done, std::uint64_t) {
        seen = done;
        if (done > 0)
            cancelled = true;
    };
    QVERIFY(!client->GetFile("big.bin", folder.path().toStdString(), options));
    QVERIFY(seen > 0);
    QCOMPARE(readFile(target), QByteArray("the installed file"));
    QCOMPARE(leftovers(folder.path()), QStringList());

    // A set flag stops every later request as well.
    QVERIFY(!client->GetFile("Spelmar.exe", folder.path().toStdString()));
    QVERIFY(!client->FindFile("Spelmar.exe"));
    cancelled = false;
    QVERIFY(client->GetFile("big.bin", folder.path().toStdString()));
    QCOMPARE(readFile(target), m_big);
}

void TestFtpFileClient::cancelWhileServerIsSilent()
{
    // A server that takes the connection and never greets: the login waits
    // for the greeting until the flag is set from another thread.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(silent >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), length) == 0);
    QVERIFY(::listen(silent, 4) == 0);
    QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    const std::unique_ptr<int, void (*)(int *)> closer(new int(silent), [](int *fd) {
        ::close(*fd);
        delete fd;
    });
    CFtpFileClient client(&m_prompt, "127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    std::atomic<bool> cancelled{false};
    client.setCancelFlag(&cancelled);
    std::atomic<bool> finished{false};
    bool connected = true;
    std::thread worker([&] {
        connected = client.Connect();
        finished = true;
    });
    QTest::qWait(300);
    cancelled = true;
    worker.join();
    QVERIFY(finished);
    QVERIFY(!connected);
    // Ended by the flag, not by a time-out, and without a box.
    QCOMPARE(client.lastError(), std::string("cancelled"));
    QVERIFY(m_prompt.texts.empty());
}

void TestFtpFileClient::putFile()
{
    auto client = connectedClient();
    QVERIFY(client);
    QVERIFY(client->SetCurrentDirectory("upload"));

    const QString slashPath = m_local.filePath("report.bin");
    QVERIFY(writeFile(slashPath, m_program));
    QVERIFY(client->PutFile(slashPath.toStdString()));
    QCOMPARE(readFile(m_serverRoot.filePath("Spelmar/Updates/upload/report.bin")), m_program);

    // Without a "/" the name follows the last backslash.
    QVERIFY(QDir::setCurrent(m_local.path()));
    QVERIFY(writeFile(m_local.filePath("C:\\Temp\\notes.txt"), "notes"));
    QVERIFY(client->PutFile("C:\\Temp\\notes.txt"));
    QVERIFY(!client->PutFile("C:\\Temp\\missing.txt"));
    QCOMPARE(readFile(m_serverRoot.filePath("Spelmar/Updates/upload/notes.txt")), QByteArray("notes"));
    QVERIFY(!client->PutFile(m_local.filePath("absent.bin").toStdString()));
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
    QCOMPARE(m_prompt.texts.size(), std::size_t(1));
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
