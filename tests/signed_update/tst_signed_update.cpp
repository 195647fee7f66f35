// Signed revision files end to end: keys made by moravel-cli keygen,
// releases published by moravel-cli publish on a loopback FTP server, and
// the real moravel-cli, copied into each program folder so that the
// moravel.pub beside it is the key in force, as beside the library.
#include "childprocess.h"
#include "ftpserver.h"
#include "publish.h"
#include "updatetestsupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <functional>
#include <memory>

#include <sys/stat.h>

namespace {

const QString kUpdates = "Spelmar/Updates";
const QByteArray kOldExe = "old exe";
const QByteArray kNewExe = "new exe";

// How a row changes the published release before the update runs.
enum class Tamper
{
    None,
    DropSignature,
    BadSignature,
    File,
    RevisionFile,
};

} // namespace

class TestSignedUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();

private:
    ProgramRun cli(const QString &program, const QStringList &arguments);
    QString key(const QString &name) const { return m_work.filePath("keys/" + name); }

    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
    int m_row = 0;
};

ProgramRun TestSignedUpdate::cli(const QString &program, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORAVEL_FTP_HOST", m_server ? m_server->host() : QString());
    environment.insert("XDG_CONFIG_HOME", m_work.filePath("config"));
    ProgramRun run = runProgram(QStringList{program} + arguments, environment, QString(), 300000);
    run.output += run.errors;
    return run;
}

void TestSignedUpdate::initTestCase()
{
    QVERIFY(QDir().mkpath(m_work.filePath("keys")) && QDir().mkpath(m_work.filePath("server")));
    for (const char *name : {"maker", "successor", "stranger"})
        QCOMPARE(cli(MORAVEL_CLI, {"keygen", key(name)}).exitCode, 0);
    struct stat info = {};
    QCOMPARE(::stat(qPrintable(key("maker.key")), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    m_server = std::make_unique<FtpTestServer>(m_work.filePath("server"));
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestSignedUpdate::refusals_data()
{
    QTest::addColumn<QString>("signingKey");
    QTest::addColumn<QString>("deliveredKey"); // a new moravel.pub in the release; empty: none
    QTest::addColumn<int>("tamper");
    QTest::addColumn<int>("expiredDaysAgo"); // 0: valid
    QTest::addColumn<bool>("replayOlder");   // a newer release was accepted before this one
    QTest::addColumn<QString>("reason");     // empty: accepted

    const int none = int(Tamper::None);
    QTest::newRow("signed by the key in force") << "maker"
                                                << "" << none << 0 << false << "";
    QTest::newRow("missing signature") << "maker"
                                       << "" << int(Tamper::DropSignature) << 0 << false
                                       << "Update refused: RelInfoRemote.rel is not signed";
    QTest::newRow("bad signature") << "maker"
                                   << "" << int(Tamper::BadSignature) << 0 << false
                                   << "Update refused: RelInfoRemote.rel does not match its signature";
    QTest::newRow("wrong key") << "stranger"
                               << "" << none << 0 << false
                               << "Update refused: RelInfoRemote.rel does not match its signature";
    QTest::newRow("tampered file") << "maker"
                                   << "" << int(Tamper::File) << 0 << false
                                   << "SHA-256 mismatch for Spelmar.exe";
    QTest::newRow("tampered revision file")
        << "maker"
        << "" << int(Tamper::RevisionFile) << 0 << false
        << "Update refused: RelInfoRemote.rel does not match its signature";
    QTest::newRow("expired") << "maker"
                             << "" << none << 2 << false << "Update refused: RelInfoRemote.rel expired on ";
    QTest::newRow("replayed older sequence")
        << "maker"
        << "" << none << 0 << true
        << "Update refused: RelInfoRemote.rel has sequence 99, older than the accepted 100";
    QTest::newRow("key rotation signed by the old key") << "maker"
                                                        << "successor" << none << 0 << false << "";
    QTest::newRow("key rotation signed by a stranger")
        << "stranger"
        << "stranger" << none << 0 << false
        << "Update refused: RelInfoRemote.rel does not match its signature";
}

void TestSignedUpdate::refusals()
{
    QFETCH(QString, signingKey);
    QFETCH(QString, deliveredKey);
    QFETCH(int, tamper);
    QFETCH(int, expiredDaysAgo);
    QFETCH(bool, replayOlder);
    QFETCH(QString, reason);

    // Each row has an update directory of its own on the one server.
    const QString serverPath = QString("row%1/Updates").arg(++m_row);
    const QString offered = m_work.filePath("server/" + serverPath);
    QByteArray serverRel = "Spelmar.exe; 3.01.02\r\n";
    Files release{{"Spelmar.exe", kNewExe}};
    if (!deliveredKey.isEmpty()) {
        release.insert("moravel.pub", readFile(key(deliveredKey + ".pub")));
        serverRel += "moravel.pub; 1.01.00\r\n";
    }
    release.insert("RelInfoRemote.rel", serverRel);
    writeFiles(offered, release);

    QTemporaryDir programDir;
    const QString program = programDir.path();
    const QString programCli = program + "/moravel-cli";
    QVERIFY(QFile::copy(MORAVEL_CLI, programCli));
    writeFiles(program,
               {{"Spelmar.exe", kOldExe},
                {"moravel.pub", readFile(key("maker.pub"))},
                {"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\nmoravel.pub; 1.00.00\r\n"}});

    auto publish = [&](const QString &keyName, quint64 sequence, int daysAgo) {
        PublishOptions options;
        options.keyFile = key(keyName + ".key").toStdString();
        options.sequence = sequence;
        options.clock = [daysAgo] { return std::time(nullptr) - daysAgo * 86400; };
        options.expiresDays = 1;
        PublishResult result;
        std::string error;
        QVERIFY2(publishFolder(offered.toStdString(), options, result, error), error.c_str());
    };
    if (replayOlder) {
        publish(signingKey, 100, 0);
        QCOMPARE(cli(programCli, {"check", serverPath, program}).exitCode, 3);
        publish(signingKey, 99, 0);
    } else {
        publish(signingKey, 0, expiredDaysAgo);
    }
    const QString signature = offered + "/RelInfoRemote.rel.sig";
    switch (Tamper(tamper)) {
    case Tamper::None: break;
    case Tamper::DropSignature: QVERIFY(QFile::remove(signature)); break;
    case Tamper::BadSignature: {
        QByteArray text = readFile(signature);
        const int at = text.indexOf("\nSignature: ") + 13;
        text[at] = text[at] == 'A' ? 'B' : 'A';
        writeFile(signature, text);
        break;
    }
    case Tamper::File: writeFile(offered + "/Spelmar.exe", "evil exe"); break;
    case Tamper::RevisionFile:
        writeFile(offered + "/RelInfoRemote.rel",
                  readFile(offered + "/RelInfoRemote.rel").replace("3.01.02", "3.01.03"));
        break;
    }

    // The files as installed: not the downloaded revision files, the
    // accepted sequence or the backup folder.
    auto installed = [&program] {
        Files files = readTree(program);
        for (const QString &name : files.keys())
            if (name.startsWith("RelInfoRemote.rel") || name == "RelInfoLocal.seq"
                || QRegularExpression("^\\d{12}/").match(name).hasMatch())
                files.remove(name);
        return files;
    };
    const Files before = installed();
    const ProgramRun update = cli(programCli, {"update", serverPath, program});
    const Files after = installed();

    if (reason.isEmpty()) {
        QVERIFY2(update.exitCode == 0, qPrintable(update.output));
        QCOMPARE(after.value("Spelmar.exe"), kNewExe);
        if (!deliveredKey.isEmpty()) {
            // The new key is in force from now on: the next release,
            // signed with it alone, passes.
            QCOMPARE(after.value("moravel.pub"), readFile(key(deliveredKey + ".pub")));
            writeFile(offered + "/RelInfoRemote.rel", serverRel.replace("3.01.02", "3.01.03"));
            publish(deliveredKey, 0, 0);
            const ProgramRun check = cli(programCli, {"check", serverPath, program});
            QVERIFY2(check.exitCode == 3, qPrintable(check.output));
        }
        return;
    }
    QVERIFY2(update.exitCode == 1, qPrintable(update.output));
    QCOMPARE(after, before);
    const QStringList lines = update.output.split('\n').filter(reason);
    QVERIFY2(lines.size() == 1, qPrintable(update.output));
}

QTEST_GUILESS_MAIN(TestSignedUpdate)
#include "tst_signed_update.moc"
