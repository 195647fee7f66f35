// moravel-cli's commands against a loopback FTP server: exit codes, what
// it prints and why it fails (the reports themselves are the engine's).
// The installer's command forms, its exit codes and its wait for the host
// program.
#include "childprocess.h"
#include "ftpserver.h"
#include "installercommand.h"
#include "programwatch.h"
#include "updatetestsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>

namespace {

const QByteArray kServerRel = "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n";
const QByteArray kOldRel = "Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.00\r\n";

} // namespace

class TestMoravelCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void interrupted_data();
    void interrupted();
    void startOnTrial_data();
    void startOnTrial();
    void installerCommands_data();
    void installerCommands();
    void installerWaitsForTheHost();

private:
    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
};

void TestMoravelCli::initTestCase()
{
    writeFiles(m_work.filePath("server/Spelmar/Updates"),
               {{"RelInfoRemote.rel", kServerRel}, {"Spelmar.exe", "new exe"}, {"Moravel.so", "lib"}});
    m_server = std::make_unique<FtpTestServer>(m_work.filePath("server"));
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestMoravelCli::commands_data()
{
    QTest::addColumn<QString>("arguments"); // blank-separated; @ is the program folder
    QTest::addColumn<QByteArray>("localRel");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // a part of standard output
    QTest::newRow("no arguments") << "" << kOldRel << 2 << "";
    QTest::newRow("unknown command") << "fetch Spelmar/Updates @" << kOldRel << 2 << "";
    QTest::newRow("check, newer files")
        << "check Spelmar/Updates @/Spelmar.exe" << kOldRel << 3
        << checkText(" There are some newer files on the server:\n\n   3.01.02\t\t->> Spelmar.exe \n") + "\n";
    QTest::newRow("check, nothing newer") << "check Spelmar/Updates @" << kServerRel << 0 << "";
    QTest::newRow("check, no update directory")
        << "check Spelmar/Nowhere @" << kOldRel << 1
        << "No connection to the NORVANE ftp server!\nSwitch off the automatic updates!\n";
    QTest::newRow("update") << "update Spelmar/Updates @/Spelmar.exe" << kOldRel << 0
                            << "  ok!    Spelmar.exe\n---- end transfer ----\n";
    QTest::newRow("update, no update directory") << "update Spelmar/Nowhere @" << kOldRel << 1 << "";
    QTest::newRow("releases, none") << "releases @/201401011000" << kOldRel << 1 << "";
    QTest::newRow("releases") << "releases @" << kOldRel << 0 << "201401011000\t2014-01-01   (10:00)\n";
    QTest::newRow("restore") << "restore 201401011000 @/Spelmar.exe" << kOldRel << 0
                             << "  ok!    201401011000/Spelmar.exe\n";
    QTest::newRow("restore, unknown release")
        << "restore 201402020202 @" << kOldRel << 1 << "  End of restore procedure!! \n";
    // Left to its package for every user, root included; a folder that is
    // not there is said to be missing.
    QTest::newRow("update, packaged folder")
        << "update Spelmar/Updates /usr/share/doc/dpkg" << kOldRel << 1 << "";
    QTest::newRow("restore, packaged folder")
        << "restore 201401011000 /usr/share/doc/dpkg" << kOldRel << 1 << "";
    QTest::newRow("check, missing folder") << "check Spelmar/Updates @/missing" << kOldRel << 1 << "";
}

void TestMoravelCli::commands()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, localRel);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    // Standard error: the usage, or one line that names a missing update
    // folder, else nothing.
    const QString refused = " This installation cannot be updated from here: the program folder\n ";
    const QString reason = exitCode == 2 ? "usage: moravel-cli"
        : arguments.contains("Nowhere")  ? "moravel-cli: no update folder Spelmar/Nowhere: "
        : arguments.contains("dpkg")     ? refused + "/usr/share/doc/dpkg\n belongs to the package dpkg"
                                         : "";

    QTemporaryDir program;
    writeFiles(program.path(),
               {{"Spelmar.exe", "old exe"},
                {"RelInfoLocal.rel", localRel},
                {"201401011000/Spelmar.exe", "january exe"}});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORAVEL_FTP_HOST", m_server->host());
    environment.insert("XDG_CONFIG_HOME", m_work.filePath("config"));
    const QStringList words = arguments.replace('@', program.path()).split(' ', Qt::SkipEmptyParts);
    const ProgramRun run = runProgram(QStringList{MORAVEL_CLI} + words, environment, QString(), 300000);
    QVERIFY2(run.exitCode == exitCode && run.output.contains(output), qPrintable(run.output + run.errors));
    if (arguments.contains("missing")) {
        QCOMPARE(run.errors, refused + program.filePath("missing") + "\n does not exist.\n");
        return;
    }
    QVERIFY2(run.errors.left(reason.size()) == reason
                 && (run.errors.count('\n') == (reason.isEmpty() ? 0 : 1) || exitCode == 2
                     || reason.startsWith(refused)),
             qPrintable(run.errors));
    if (words.value(0) == "restore")
        QCOMPARE(readFile(program.filePath("Spelmar.exe")), exitCode ? "old exe" : "january exe");
    if (words.value(0) == "update")
        QCOMPARE(readFile(program.filePath("Spelmar.exe")), exitCode ? "old exe" : "new exe");
}

void TestMoravelCli::startOnTrial_data()
{
    QTest::addColumn<QString>("newProgram"); // the offered release's program; %1 its log
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("started"); // the log of the starts
    QTest::addColumn<QString>("told");       // a part of standard error
    QTest::newRow("fails its trial") << "echo new >> %1; exit 3" << 1 << QByteArray("new\nold\n")
                                     << "Spelmar 2.00.00, installed by the update of ";
    QTest::newRow("passes its trial") << "echo new >> %1; sleep 2; exit 3" << 0 << QByteArray("new\n") << "";
    QTest::newRow("nothing newer") << QString() << 0 << QByteArray("old\n") << "";
}

// update --start in a kiosk's script: the release from a stick, the
// program started and watched through its trial of one second.
void TestMoravelCli::startOnTrial()
{
    QFETCH(QString, newProgram);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, started);
    QFETCH(QString, told);
    QTemporaryDir work;
    const QString log = work.filePath("starts.log");
    const QString program = work.filePath("program");
    const QByteArray oldProgram = "#!/bin/sh\necho old >> " + log.toUtf8() + "\n";
    const QByteArray newBytes = "#!/bin/sh\n" + newProgram.arg(log).toUtf8() + "\n";
    writeFiles(program, {{"Spelmar", oldProgram}, {"RelInfoLocal.rel", "Spelmar; 1.00.00\r\n"}});
    writeFiles(
        work.filePath("stick/Spelmar/Updates"),
        {{"Spelmar", newBytes},
         {"RelInfoRemote.rel", newProgram.isEmpty() ? "Spelmar; 1.00.00\r\n" : "Spelmar; 2.00.00\r\n"}});
    for (const QString &file : {program + "/Spelmar", work.filePath("stick/Spelmar/Updates/Spelmar")})
        QVERIFY(QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::ExeOwner));
    writeFile(work.filePath("config/Norvane/AutoUpdate.conf"),
              "[Software]\nNorvane\\AutoUpdate\\Spelmar\\Updates\\TrialSeconds=1\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORAVEL_FTP_HOST", "file://" + work.filePath("stick"));
    environment.insert("XDG_CONFIG_HOME", work.filePath("config"));
    const ProgramRun run = runProgram(
        {MORAVEL_CLI, "update", "Spelmar/Updates", program + "/Spelmar", "--start", "Spelmar"}, environment);
    QVERIFY2(run.exitCode == exitCode && run.errors.contains(told), qPrintable(run.output + run.errors));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(log), started, 10000);
    const bool rolledBack = started.endsWith("old\n") && !newProgram.isEmpty();
    QCOMPARE(readFile(program + "/Spelmar"), rolledBack || newProgram.isEmpty() ? oldProgram : newBytes);
    QVERIFY(!QFile::exists(program + "/RelInfoLocal.trial"));
}

void TestMoravelCli::interrupted_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << SIGINT;
    QTest::newRow("termination request") << SIGTERM;
}

// A download that stalls ends soon after Ctrl-C or a termination request,
// long before the stall would end it, and leaves the installed file.
void TestMoravelCli::interrupted()
{
    QFETCH(int, signal);
    FtpTestServer stalling(m_work.filePath("server"), FtpTestServer::stallAfter("Spelmar.exe", 3));
    QVERIFY2(stalling.start(), qPrintable(stalling.errorText()));
    QTemporaryDir program;
    writeFiles(program.path(), {{"Spelmar.exe", "old exe"}, {"RelInfoLocal.rel", kOldRel}});
    QProcess update;
    endWithParent(update);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORAVEL_FTP_HOST", stalling.host());
    environment.insert("XDG_CONFIG_HOME", m_work.filePath("config"));
    update.setProcessEnvironment(environment);
    update.start(MORAVEL_CLI, {"update", "Spelmar/Updates", program.filePath("Spelmar.exe")});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += update.readAllStandardOutput()).contains("---- start transfer ----"),
                             60000);
    QCOMPARE(::kill(static_cast<pid_t>(update.processId()), signal), 0);
    QVERIFY2(update.waitForFinished(20000), "still running after the signal");
    output += update.readAllStandardOutput();
    QCOMPARE(update.exitStatus(), QProcess::NormalExit);
    QCOMPARE(update.exitCode(), 1);
    QVERIFY2(output.endsWith("  End of download procedure!! \n"), output.constData());
    QCOMPARE(readFile(program.filePath("Spelmar.exe")), "old exe");
    QCOMPARE(QDir(program.path()).entryList({"upd_*"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestMoravelCli::installerCommands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("command"); // kind|server path|release|program path; empty: not valid
    QTest::newRow("newer files") << QStringList{"Spelmar/Updates", "/opt/My Tools/spelmar"}
                                 << "newer|Spelmar/Updates||/opt/My Tools/spelmar";
    QTest::newRow("all files") << QStringList{"instcomplete", "Spelmar/Updates", "/opt/t/spelmar"}
                               << "all|Spelmar/Updates||/opt/t/spelmar";
    QTest::newRow("restore") << QStringList{"REST=201403151200", "/opt/t/spelmar"}
                             << "restore||201403151200|/opt/t/spelmar";
    QTest::newRow("restore, no release") << QStringList{"REST=", "/opt/t/"} << "restore|||/opt/t/";
    QTest::newRow("nothing") << QStringList{} << "";
    QTest::newRow("one word") << QStringList{"Spelmar/Updates"} << "";
    QTest::newRow("restore with extra word") << QStringList{"REST=1", "a", "b"} << "";
}

void TestMoravelCli::installerCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, command);
    std::vector<std::string> words;
    for (const QString &argument : arguments)
        words.push_back(argument.toStdString());
    const InstallerCommand parsed = InstallerCommand::parse(words);
    const std::string kinds[] = {"", "newer", "all", "restore"}; // in the order of Kind
    const std::string kind = kinds[static_cast<int>(parsed.kind)];
    QCOMPARE(kind.empty() ? QString()
                          : QString::fromStdString(kind + "|" + parsed.serverPath + "|" + parsed.release + "|"
                                                   + parsed.programPath),
             command);

    // The program itself, copied away from the library: usage (2) for a
    // bad command, else 3 once it finds no library to load.
    QTemporaryDir dir;
    const QString program = dir.filePath("Quennet");
    QVERIFY(QFile::copy(QUENNET_PROGRAM, program));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LD_LIBRARY_PATH");
    const ProgramRun run = runProgram(QStringList{program} + arguments, environment);
    QCOMPARE(run.exitCode, command.isEmpty() ? 2 : 3);
}

void TestMoravelCli::installerWaitsForTheHost()
{
    // A program file of its own, so no other process on the machine runs it.
    QTemporaryDir dir;
    const QString path = dir.filePath("host program");
    QVERIFY(QFile::copy("/bin/sleep", path));
    QVERIFY(!isProgramRunning(path.toStdString()));
    QProcess host;
    endWithParent(host);
    host.start(path, {"600"});
    QVERIFY(host.waitForStarted(60000));
    QVERIFY(isProgramRunning(path.toStdString()));
    QVERIFY(!waitForProgramEnd(path.toStdString(), std::chrono::milliseconds(0)));
    host.kill();
    QVERIFY(host.waitForFinished(60000));
    QVERIFY(waitForProgramEnd(path.toStdString(), std::chrono::seconds(60)));
}

QTEST_GUILESS_MAIN(TestMoravelCli)
#include "tst_moravel_cli.moc"
