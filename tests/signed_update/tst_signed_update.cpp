// Signed revision files end to end: keys made by moravel-cli keygen,
// releases published by moravel-cli publish on a loopback FTP server, and
// the real moravel-cli, copied into each program folder so that the
// moravel.pub beside it is the key in force, as beside the library. The
// same published folder is also read as a "file://" host, as from a stick;
// the whole test runs in a network namespace of its own, so that host
// needs no network at all.
#include "childprocess.h"
#include "ftpserver.h"
#include "ownnetwork.h"
#include "publish.h"
#include "updatetestsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <functional>
#include <memory>

#include <sys/stat.h>

class TestSignedUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();

private:
    ProgramRun cli(const QString &program, const QStringList &arguments, const QString &host = QString());
    QString key(const QString &name) const { return m_work.filePath("keys/" + name); }

    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
    int m_row = 0;
};

ProgramRun TestSignedUpdate::cli(const QString &program, const QStringList &arguments, const QString &host)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORAVEL_FTP_HOST", !host.isEmpty() ? host : m_server ? m_server->host() : QString());
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
    QCOMPARE(QFile::permissions(key("maker.key")),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    m_server = std::make_unique<FtpTestServer>(m_work.filePath("server"));
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestSignedUpdate::refusals_data()
{
    QTest::addColumn<QString>("signingKey");
    QTest::addColumn<QString>("deliveredKey"); // the moravel.pub in the release
    // What happens to the release after publishing: "drop" its signature,
    // change a "file" or the revision file ("rel"); "expired": published two
    // days ago, valid for one; "replay": after a release with sequence 100,
    // one with 99.
    QTest::addColumn<QString>("change");
    // "fifo" and "link": the file is replaced by a FIFO or a symbolic link
    // to a file of the same content.
    QTest::addColumn<QString>("reason");  // empty: accepted
    QTest::addColumn<bool>("fromFolder"); // the folder as a "file://" host, not the FTP server
    auto row = [](const char *name, QString key, QString delivered, QString change, QString reason,
                  bool fromFolder = false) {
        QTest::newRow(name) << key << delivered << change << reason << fromFolder;
    };
    const QString refused = "Update refused: RelInfoRemote.rel ";
    const QString mismatch = refused + "does not match its signature";
    row("missing signature", "maker", "maker", "drop", refused + "is not signed");
    row("tampered file", "maker", "maker", "file", "SHA-256 mismatch for Spelmar.exe");
    row("tampered revision file", "maker", "maker", "rel", mismatch);
    row("expired", "maker", "maker", "expired", refused + "expired on ");
    row("replayed older sequence", "maker", "maker", "replay",
        refused + "has sequence 99, older than the accepted 100");
    // The key in force accepts a new key, which is in force from then on.
    row("key rotation signed by the old key", "maker", "successor", "", "");
    row("key rotation signed by a stranger", "stranger", "stranger", "", mismatch);
    row("folder: signed release", "maker", "maker", "", "", true);
    row("folder: tampered file", "maker", "maker", "file", "SHA-256 mismatch for Spelmar.exe", true);
    row("folder: expired", "maker", "maker", "expired", refused + "expired on ", true);
    row("folder: a FIFO", "maker", "maker", "fifo", "it is no regular file", true);
    row("folder: a symbolic link", "maker", "maker", "link", "it is a symbolic link", true);
}

void TestSignedUpdate::refusals()
{
    QFETCH(QString, signingKey);
    QFETCH(QString, deliveredKey);
    QFETCH(QString, change);
    QFETCH(QString, reason);
    QFETCH(bool, fromFolder);
    const QString host = fromFolder ? "file://" + m_work.filePath("server") : QString();

    // Each row has an update directory of its own on the one server.
    const QString serverPath = QString("row%1/Updates").arg(++m_row);
    const QString offered = m_work.filePath("server/" + serverPath);
    // Every release brings a key: the signer's own, or the next one.
    QByteArray serverRel = "Spelmar.exe; 3.01.02\r\nmoravel.pub; 1.01.00\r\n";
    writeFiles(offered,
               {{"Spelmar.exe", "new exe"},
                {"moravel.pub", readFile(key(deliveredKey + ".pub"))},
                {"RelInfoRemote.rel", serverRel}});

    QTemporaryDir programDir;
    const QString program = programDir.path();
    const QString programCli = program + "/moravel-cli";
    QVERIFY(QFile::copy(MORAVEL_CLI, programCli));
    writeFiles(program,
               {{"Spelmar.exe", "old exe"},
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
    if (change == "replay") {
        publish(signingKey, 100, 0);
        QCOMPARE(cli(programCli, {"check", serverPath, program}).exitCode, 3);
        publish(signingKey, 99, 0);
    } else {
        publish(signingKey, 0, change == "expired" ? 2 : 0);
    }
    if (change == "drop")
        QVERIFY(QFile::remove(offered + "/RelInfoRemote.rel.sig"));
    if (change == "file")
        writeFile(offered + "/Spelmar.exe", "bad exe"); // the listed size, other bytes
    if (change == "rel")
        writeFile(offered + "/RelInfoRemote.rel",
                  readFile(offered + "/RelInfoRemote.rel").replace("3.01.02", "3.01.03"));
    if (change == "fifo" || change == "link") {
        const QString elsewhere = m_work.filePath(QString("elsewhere%1.exe").arg(m_row));
        QVERIFY(QFile::rename(offered + "/Spelmar.exe", elsewhere));
        if (change == "fifo")
            QVERIFY(::mkfifo(qPrintable(offered + "/Spelmar.exe"), 0644) == 0);
        else
            QVERIFY(QFile::link(elsewhere, offered + "/Spelmar.exe"));
    }

    auto installed = [&program] {
        return Files{{"Spelmar.exe", readFile(program + "/Spelmar.exe")},
                     {"moravel.pub", readFile(program + "/moravel.pub")},
                     {"Spelmar.exe's record", readFile(program + "/RelInfoLocal.rel").left(22)}};
    };
    const Files before = installed();
    const ProgramRun update = cli(programCli, {"update", serverPath, program}, host);
    const Files after = installed();

    if (reason.isEmpty()) {
        QVERIFY2(update.exitCode == 0, qPrintable(update.output));
        QCOMPARE(after.value("Spelmar.exe"), QByteArray("new exe"));
        // The new key is in force from now on: the next release, signed
        // with it alone, passes.
        QCOMPARE(after.value("moravel.pub"), readFile(key(deliveredKey + ".pub")));
        writeFile(offered + "/RelInfoRemote.rel", serverRel.replace("3.01.02", "3.01.03"));
        publish(deliveredKey, 0, 0);
        const ProgramRun check = cli(programCli, {"check", serverPath, program}, host);
        QVERIFY2(check.exitCode == 3, qPrintable(check.output));
        return;
    }
    QVERIFY2(update.exitCode == 1, qPrintable(update.output));
    QCOMPARE(after, before);
    const QStringList lines = update.output.split('\n').filter(reason);
    QVERIFY2(lines.size() == 1, qPrintable(update.output));
}

int main(int argc, char **argv)
{
    enterOwnNetwork(argc, argv);
    QCoreApplication app(argc, argv);
    TestSignedUpdate test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_signed_update.moc"
