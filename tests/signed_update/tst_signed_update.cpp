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
#include "jobs/updatecheck.h"
#include "jobs/updatetransfer.h"
#include "revision/revisionsignature.h"
#include "rootpublish.h"
#include "trust/trustroot.h"
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
    void roots_data();
    void roots();
    void rootFiles_data();
    void rootFiles();
    void phases_data();
    void phases();
    void phaseNumberIsPrivateAndKept();

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
    for (const char *name : {"maker", "successor", "stranger", "a", "b", "c", "d"})
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

void TestSignedUpdate::roots_data()
{
    // The roots the server holds, root/1.root first, each
    // "keys|threshold|signers" with "|expired" for one that ran out
    // yesterday; "same*N" repeats the one before N times.
    QTest::addColumn<QStringList>("chain");
    QTest::addColumn<QString>("listKeys"); // the keys that sign the list
    // What the installation starts from: "maker" (moravel.pub, the single
    // key) or "root" (moravel.root, a copy of root/1.root).
    QTest::addColumn<QString>("start");
    // "" one update; "again": a second update passes; "rollback": after a
    // passing update the server puts root/1.root as root/3.root and signs
    // with maker again, and that second update is the one told.
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("reason"); // empty: accepted

    const QString pair = "a,b|2|a,b";
    const QString underThreshold =
        "Update refused: RelInfoRemote.rel is signed by 1 of the trusted keys, fewer than the "
        "threshold 2 of the root of version 1";
    QTest::newRow("threshold met") << QStringList{pair} << "a,b"
                                   << "root"
                                   << ""
                                   << "";
    QTest::newRow("threshold not met") << QStringList{pair} << "a"
                                       << "root"
                                       << "" << underThreshold;
    QTest::newRow("one key signing twice counts once") << QStringList{pair} << "a,a"
                                                       << "root"
                                                       << "" << underThreshold;
    QTest::newRow("rotation from the single key") << QStringList{"maker|1|maker", "a,b|2|maker,a,b"} << "a,b"
                                                  << "maker"
                                                  << ""
                                                  << "";
    QTest::newRow("rotation without the old threshold")
        << QStringList{pair, "c,d|2|a,c,d"} << "c,d"
        << "root"
        << ""
        << "Update refused: root/2.root is signed by 1 of the keys of version 1 (threshold 2) and "
           "2 of its own (threshold 2)";
    QTest::newRow("revoked key after rotation")
        << QStringList{"maker|1|maker", "a|1|maker,a"} << "maker"
        << "maker"
        << ""
        << "Update refused: RelInfoRemote.rel does not match its signature by the trusted key";
    QTest::newRow("chain longer than one walk")
        << QStringList{"maker|1|maker", "same*33"} << "maker"
        << "maker"
        << "again"
        << "Update refused: the server has more than 32 new roots of trust; this check accepted "
           "versions up to 33";
    QTest::newRow("expired root") << QStringList{"maker|1|maker", "a|1|maker,a|expired"} << "a"
                                  << "maker"
                                  << ""
                                  << "Update refused: the root of trust of version 2 expired on ";
    QTest::newRow("rollback to an older root") << QStringList{"maker|1|maker", "a|1|maker,a"} << "a"
                                               << "maker"
                                               << "rollback"
                                               << "Update refused: root/3.root is version 1, not 3";
}

void TestSignedUpdate::roots()
{
    QFETCH(QStringList, chain);
    QFETCH(QString, listKeys);
    QFETCH(QString, start);
    QFETCH(QString, then);
    QFETCH(QString, reason);

    const QString serverPath = QString("row%1/Updates").arg(++m_row);
    const QString offered = m_work.filePath("server/" + serverPath);
    const QByteArray serverRel = "Spelmar.exe; 3.01.02\r\n";
    writeFiles(offered, {{"Spelmar.exe", "new exe"}, {"RelInfoRemote.rel", serverRel}});
    QString previous;
    for (const QString &link : chain) {
        const QStringList repeat = link.split('*');
        const int times = repeat.size() == 2 ? repeat[1].toInt() : 1;
        const QStringList fields = (repeat.size() == 2 ? previous : link).split('|');
        previous = fields.join('|');
        RootOptions options;
        for (const QString &name : fields[0].split(','))
            options.publicKeyFiles.push_back(key(name + ".pub").toStdString());
        options.threshold = fields[1].toUInt();
        for (const QString &name : fields[2].split(','))
            options.signingKeyFiles.push_back(key(name + ".key").toStdString());
        if (fields.value(3) == "expired") {
            options.clock = [] { return std::time(nullptr) - 2 * 86400; };
            options.expiresDays = 1;
        }
        for (int i = 0; i < times; ++i) {
            if (options.clock) {
                RootResult result;
                std::string error;
                QVERIFY2(publishRoot(offered.toStdString(), options, result, error), error.c_str());
                continue;
            }
            // As the maker writes them.
            QStringList publicKeys, signers;
            for (const QString &name : fields[0].split(','))
                publicKeys << key(name + ".pub");
            for (const QString &name : fields[2].split(','))
                signers << key(name + ".key");
            const ProgramRun root = cli(MORAVEL_CLI,
                                        {"root", offered, "--keys", publicKeys.join(','), "--threshold",
                                         fields[1], "--sign", signers.join(',')});
            QVERIFY2(root.exitCode == 0, qPrintable(root.output));
        }
    }
    auto publishList = [&](const QString &names) {
        const QStringList signers = names.split(',');
        PublishOptions options;
        options.keyFile = key(signers[0] + ".key").toStdString();
        for (const QString &name : signers.mid(1))
            options.moreKeyFiles.push_back(key(name + ".key").toStdString());
        PublishResult result;
        std::string error;
        QVERIFY2(publishFolder(offered.toStdString(), options, result, error), error.c_str());
    };
    publishList(listKeys);
    // A line a signature: one key keeps the four lines older clients read.
    QCOMPARE(readFile(offered + "/RelInfoRemote.rel.sig").count('\n'), 3 + listKeys.count(',') + 1);

    QTemporaryDir programDir;
    const QString program = programDir.path();
    const QString programCli = program + "/moravel-cli";
    QVERIFY(QFile::copy(MORAVEL_CLI, programCli));
    writeFiles(program, {{"Spelmar.exe", "old exe"}, {"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"}});
    if (start == "root")
        QVERIFY(QFile::copy(offered + "/root/1.root", program + "/moravel.root"));
    else
        writeFile(program + "/moravel.pub", readFile(key("maker.pub")));

    ProgramRun update = cli(programCli, {"update", serverPath, program});
    if (then == "rollback") {
        QVERIFY2(update.exitCode == 0, qPrintable(update.output));
        QVERIFY(readFile(program + "/RelInfoLocal.root").startsWith("Moravel-Root: 1\nVersion: 2\n"));
        QVERIFY(QFile::copy(offered + "/root/1.root", offered + "/root/3.root"));
        writeFile(offered + "/RelInfoRemote.rel", "Spelmar.exe; 3.01.03\r\n");
        writeFile(offered + "/Spelmar.exe", "newer exe");
        publishList("maker");
        update = cli(programCli, {"update", serverPath, program});
    }
    const QByteArray installed = readFile(program + "/Spelmar.exe");
    if (reason.isEmpty()) {
        QVERIFY2(update.exitCode == 0, qPrintable(update.output));
        QCOMPARE(installed, QByteArray("new exe"));
        // The root's threshold stays in force for the next list.
        writeFile(offered + "/RelInfoRemote.rel", "Spelmar.exe; 3.01.03\r\n");
        publishList(listKeys.section(',', 0, 0));
        const ProgramRun check = cli(programCli, {"check", serverPath, program});
        QVERIFY2(check.exitCode == 1 && check.output.contains("fewer than the threshold 2"),
                 qPrintable(check.output));
        return;
    }
    QVERIFY2(update.exitCode == 1, qPrintable(update.output));
    QCOMPARE(installed, QByteArray(then == "rollback" ? "new exe" : "old exe"));
    QVERIFY2(update.output.split('\n').filter(reason).size() == 1, qPrintable(update.output));
    if (then == "rollback") // the newer root stays the one in force
        QVERIFY(readFile(program + "/RelInfoLocal.root").startsWith("Moravel-Root: 1\nVersion: 2\n"));
    if (then == "again") {
        update = cli(programCli, {"update", serverPath, program});
        QVERIFY2(update.exitCode == 0, qPrintable(update.output));
        QCOMPARE(readFile(program + "/Spelmar.exe"), QByteArray("new exe"));
    }
}

void TestSignedUpdate::rootFiles_data()
{
    // A change to root/2.root, written by moravel-cli root with keys a and
    // b, threshold 2, signed by maker (version 1) and both: "from|to"
    // replaces text, "append|text" adds it; and the refusal, empty when
    // the root is taken.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reason");
    QTest::newRow("as written") << ""
                                << "";
    // The signatures cover the bytes: other line ends make another file.
    QTest::newRow("CR LF lines") << "crlf"
                                 << "is signed by 0 of the keys of version 1";
    QTest::newRow("threshold above the keys") << "Threshold: 2|Threshold: 3"
                                              << "has a threshold above its number of keys";
    QTest::newRow("a changed key count") << "Threshold: 2|Threshold: 1"
                                         << "is signed by 0 of the keys of version 1";
    QTest::newRow("unknown line") << "append|Key: x\n"
                                  << "has an unknown line 10";
    QTest::newRow("another format") << "Moravel-Root: 1|Moravel-Root: 2"
                                    << "is not a root of trust of a known format";
    QTest::newRow("larger than 64 KiB") << "append|" + QString(65536, 'x') << "is larger than 65536 bytes";
    QTest::newRow("too many signatures")
        << "append|" + QString("Signature: AAAA\n").repeated(62) << "carries more than 64 signatures";
}

void TestSignedUpdate::rootFiles()
{
    QFETCH(QString, change);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    for (const char *keys : {"maker", "a,b"}) {
        QStringList publicKeys, signers{key("maker.key")};
        for (const QString &name : QString(keys).split(',')) {
            publicKeys << key(name + ".pub");
            signers << key(name + ".key");
        }
        const ProgramRun root = cli(MORAVEL_CLI,
                                    {"root", folder.path(), "--keys", publicKeys.join(','), "--threshold",
                                     QString::number(publicKeys.size()), "--sign", signers.join(',')});
        QVERIFY2(root.exitCode == 0, qPrintable(root.output));
    }
    QByteArray bytes = readFile(folder.path() + "/root/2.root");
    const QStringList parts = change.split('|');
    if (change == "crlf")
        bytes.replace("\n", "\r\n");
    else if (parts[0] == "append")
        bytes += parts[1].toLatin1();
    else if (!change.isEmpty())
        bytes.replace(parts[0].toLatin1(), parts[1].toLatin1());
    TrustRoot next;
    const std::string refusal = acceptNextRoot(singleKeyRoot(readFile(key("maker.pub")).toStdString()),
                                               std::string_view(bytes.constData(), bytes.size()), next);
    QVERIFY2(QString::fromStdString(refusal).contains(reason), refusal.c_str());
    QCOMPARE(refusal.empty(), reason.isEmpty());
    QCOMPARE(next.version, reason.isEmpty() ? 2u : 0u);
    if (reason.isEmpty())
        QCOMPARE(next.keys.size(), std::size_t(2));
}

void TestSignedUpdate::phases_data()
{
    QTest::addColumn<unsigned>("phasedDays"); // 0: not phased
    QTest::addColumn<bool>("critical");
    QTest::addColumn<double>("day");   // of the rollout, at the clock of the check
    QTest::addColumn<bool>("now");     // asked for now
    QTest::addColumn<QString>("cli");  // a moravel-cli command, else a reminder's check
    QTest::addColumn<bool>("offered"); // the newer file is told
    // This installation's private number is 0.25: over 8 days its phase
    // begins on day 2.
    const QString reminder;
    QTest::newRow("before the rollout") << 8u << false << -1.0 << false << reminder << false;
    QTest::newRow("during, before this phase") << 8u << false << 1.5 << false << reminder << false;
    QTest::newRow("during, in this phase") << 8u << false << 2.5 << false << reminder << true;
    QTest::newRow("after the rollout") << 8u << false << 9.0 << false << reminder << true;
    QTest::newRow("not phased") << 0u << false << 0.0 << false << reminder << true;
    QTest::newRow("critical") << 8u << true << 1.0 << false << reminder << true;
    QTest::newRow("check --now") << 8u << false << 1.0 << true << "check" << true;
    QTest::newRow("check without --now") << 8u << false << 1.0 << false << "check" << false;
    QTest::newRow("update --now") << 8u << false << 1.0 << true << "update" << true;
    QTest::newRow("update without --now") << 8u << false << 1.0 << false << "update" << false;
}

void TestSignedUpdate::phases()
{
    QFETCH(unsigned, phasedDays);
    QFETCH(bool, critical);
    QFETCH(double, day);
    QFETCH(bool, now);
    QFETCH(QString, cli);
    QFETCH(bool, offered);

    const QString serverPath = QString("row%1/Updates").arg(++m_row);
    const QString offeredFolder = m_work.filePath("server/" + serverPath);
    writeFiles(offeredFolder,
               {{"Spelmar.exe", "new exe"}, {"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"}});
    const std::time_t clock = std::time(nullptr);
    const std::time_t start = clock - static_cast<std::time_t>(day * 86400);
    PublishOptions options;
    options.keyFile = key("maker.key").toStdString();
    options.phasedDays = phasedDays;
    options.critical = critical;
    options.clock = [start] { return start; };
    PublishResult published;
    std::string error;
    QVERIFY2(publishFolder(offeredFolder.toStdString(), options, published, error), error.c_str());

    QTemporaryDir programDir;
    const QString program = programDir.path();
    writeFiles(program,
               {{"Spelmar.exe", "old exe"},
                {"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"},
                {"RelInfoLocal.phase", "0.25\n"}});
    QString reasons;
    bool newer = false;
    if (!cli.isEmpty()) {
        QStringList arguments{cli, serverPath, program, "--public-key", key("maker.pub")};
        if (now)
            arguments << "--now";
        const ProgramRun run = this->cli(MORAVEL_CLI, arguments);
        QVERIFY2(run.exitCode == 0 || run.exitCode == 3, qPrintable(run.output));
        newer = cli == "update" ? readFile(program + "/Spelmar.exe") == "new exe" : run.exitCode == 3;
        reasons = run.output;
    } else {
        UpdateSecurity security;
        security.publicKeyFile = key("maker.pub").toStdString();
        security.clock = [clock] { return clock; };
        security.ignorePhases = now;
        ScriptedPrompt prompt;
        const auto client = openUpdateTransfer(&prompt, serverPath.toStdString(), security, nullptr,
                                               m_server->host().toStdString());
        CUpdateCheck check(*client, prompt);
        check.setSecurity(security);
        check.CheckForUpdates(serverPath.toStdString(), program.toStdString(), "Spelmar.exe", true);
        QVERIFY2(check.lastOutcome() == CUpdateCheck::Outcome::NewerFiles
                     || check.lastOutcome() == CUpdateCheck::Outcome::NothingNewer,
                 check.lastReasons().c_str());
        newer = check.lastOutcome() == CUpdateCheck::Outcome::NewerFiles;
        reasons = QString::fromStdString(check.lastReasons());
        // Nothing newer in a reminder's check: no box.
        QCOMPARE(prompt.boxes().empty(), !offered);
    }
    QCOMPARE(newer, offered);
    const QString begins = QString::fromStdString(utcMomentText(start + 2 * 86400));
    QCOMPARE(reasons.contains("a release in phases, which reaches this installation on " + begins), !offered);
    QCOMPARE(readFile(program + "/RelInfoLocal.phase"), QByteArray("0.25\n"));
}

void TestSignedUpdate::phaseNumberIsPrivateAndKept()
{
    // Made on the first phased release, from the system's random source,
    // and kept: the second check reads the same number.
    const QString serverPath = QString("row%1/Updates").arg(++m_row);
    const QString offered = m_work.filePath("server/" + serverPath);
    writeFiles(offered, {{"Spelmar.exe", "new exe"}, {"RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"}});
    PublishOptions options;
    options.keyFile = key("maker.key").toStdString();
    options.phasedDays = 8;
    PublishResult published;
    std::string error;
    QVERIFY2(publishFolder(offered.toStdString(), options, published, error), error.c_str());
    QByteArray numbers[2];
    for (QByteArray &number : numbers) {
        QTemporaryDir programDir;
        writeFiles(programDir.path(), {{"RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"}});
        for (int run = 0; run < 2; ++run) {
            const ProgramRun check =
                cli(MORAVEL_CLI, {"check", serverPath, programDir.path(), "--public-key", key("maker.pub")});
            QVERIFY2(check.exitCode == 0 || check.exitCode == 3, qPrintable(check.output));
            const QByteArray kept = readFile(programDir.path() + "/RelInfoLocal.phase");
            QVERIFY(run == 0 || kept == number);
            number = kept;
        }
        bool ok = false;
        const double value = QString::fromLatin1(number.trimmed()).toDouble(&ok);
        QVERIFY2(ok && value >= 0 && value < 1, number.constData());
    }
    QVERIFY(numbers[0] != numbers[1]); // one per installation
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
