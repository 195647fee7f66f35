// The installation from `cmake --install` into a temporary prefix: its
// files, an installation that its user cannot write, Spelmar without a
// usable update library, and the update loop with the installed programs.
#include "childprocess.h"
#include "ftpserver.h"
#include "installtree.h"
#include "testfiles.h"
#include "version.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVersionNumber>
#include <QtTest>

#include <csignal>

#include <unistd.h>

namespace {

// The processes that run the program file at path.
QList<qint64> processesRunning(const QString &path)
{
    QList<qint64> found;
    const QString wanted = QFileInfo(path).canonicalFilePath();
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == QCoreApplication::applicationPid())
            continue;
        const QString exe = QFile::symLinkTarget(QString("/proc/%1/exe").arg(entry));
        if (!exe.isEmpty() && exe == wanted)
            found.append(pid);
    }
    return found;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout();
    void revisionFile();
    void validators_data();
    void validators();
    void readOnlyInstallation_data();
    void readOnlyInstallation();
    void withoutUsableLibrary_data();
    void withoutUsableLibrary();
    void trialLoop_data();
    void trialLoop();
    void unwatchedStarts_data();
    void unwatchedStarts();
    void updateLoop();
    void cleanupTestCase() { makeWritable(); }

private:
    void makeWritable();
    QString path(const QString &relative) const { return m_prefix.filePath(relative); }
    // Own settings, no library search path that could find the build's
    // library, no server (a refused port), boxes answered.
    QProcessEnvironment environment() const;
    // The command that runs program with the program folder read-only for
    // it: a read-only bind mount for root, whom permissions do not stop,
    // else a folder without write permission.
    QStringList readOnly(const QStringList &command) const;

    QTemporaryDir m_prefix;
    QTemporaryDir m_config;
    QString m_program;
    bool m_asRoot = false;
    bool m_readOnlyPossible = false;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid() && m_config.isValid());
    const QString failure = installTree(m_prefix.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    m_program = installedProgramFolder(m_prefix.path());
    m_asRoot = ::geteuid() == 0;
    // Root needs a mount namespace of its own for a read-only folder; a
    // container may not grant one.
    m_readOnlyPossible = !m_asRoot
        || runProgram(readOnly({"/bin/sh", "-c", "! touch \"$0/probe\" 2>/dev/null", m_program}),
                      environment(), QDir::rootPath())
                .exitCode
            == 0;
}

void TestInstall::makeWritable()
{
    QFile::setPermissions(m_program,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QProcessEnvironment TestInstall::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", m_config.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("MORAVEL_FTP_HOST", "127.0.0.1:1");
    environment.insert("SPELMAR_TEST_ANSWERS", QString()); // boxes written to stderr, not shown
    environment.remove("LD_LIBRARY_PATH");
    return environment;
}

QStringList TestInstall::readOnly(const QStringList &command) const
{
    if (!m_asRoot)
        return command;
    return QString("unshare --mount /bin/sh -c").split(' ')
        + QStringList{"mount --bind -o ro \"$1\" \"$1\" && shift && exec \"$@\"", "sh", m_program} + command;
}

// The program folder, the commands and their links, desktop entry and
// metainfo are the packages test's (it runs them from a moved folder).
void TestInstall::layout()
{
    QStringList files;
    for (const char *size : {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256"})
        files << QString("share/icons/hicolor/%1/apps/com.norvane.Spelmar.png").arg(size);
    for (const char *page : {"spelmar", "spelmar-cli", "moravel-cli"})
        files << QString("share/man/man1/%1.1.gz").arg(page);
    for (const QString &file : files)
        QVERIFY2(QFileInfo::exists(path(file)), qPrintable(file));
}

// Each release as the revision files write it: 2.0.0 becomes 2.00.00.
void TestInstall::revisionFile()
{
    QStringList revisions;
    for (const QVersionNumber &version :
         {QVersionNumber::fromString(SPELMAR_VERSION), QVersionNumber::fromString(MORAVEL_VERSION)})
        revisions << QString::asprintf("%d.%02d.%02d", version.majorVersion(), version.minorVersion(),
                                       version.microVersion());
    QCOMPARE(
        QString::fromLatin1(readFile(m_program + "/RelInfoLocal.rel")),
        QString("Spelmar; %1\r\nlibMoravel.so; %2\r\nQuennet; %2\r\nspelmar-cli; %1\r\nmoravel-cli; %2\r\n")
            .arg(revisions[0], revisions[1]));
}

void TestInstall::validators_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("desktop entry") << QStringList{"desktop-file-validate",
                                                  path("share/applications/com.norvane.Spelmar.desktop")};
    QTest::newRow("metainfo") << QStringList{"appstreamcli", "validate", "--no-net",
                                             path("share/metainfo/com.norvane.Spelmar.metainfo.xml")};
}

void TestInstall::validators()
{
    QFETCH(QStringList, command);
    if (QStandardPaths::findExecutable(command.first()).isEmpty())
        QSKIP("validator not installed");
    const ProgramRun validated = runProgram(command, environment(), QDir::rootPath());
    QVERIFY2(validated.exitCode == 0, qPrintable(validated.output + validated.errors));
}

void TestInstall::readOnlyInstallation_data()
{
    QTest::addColumn<QString>("subcommand");
    QTest::newRow("check") << "check";
    QTest::newRow("update") << "update";
}

void TestInstall::readOnlyInstallation()
{
    // One message and nothing tried: no connection, no file written.
    QFETCH(QString, subcommand);
    if (!m_readOnlyPossible)
        QSKIP("no read-only bind mount for root here");
    const QStringList before = QDir(m_program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (!m_asRoot)
        QVERIFY(QFile::setPermissions(m_program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const ProgramRun refused =
        runProgram(readOnly({path("bin/moravel-cli"), subcommand, "Spelmar/Updates", m_program + "/Spelmar"}),
                   environment(), QDir::rootPath());
    makeWritable();
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.errors.count("is not writable for you"), 1);
    QVERIFY2(refused.errors.contains(m_program), qPrintable(refused.errors));
    QVERIFY2(refused.output.isEmpty(), qPrintable(refused.output));
    QCOMPARE(QDir(m_program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

// Spelmar started by the launcher from another folder; the demo's server
// offers a newer Spelmar and a readme.txt that the installation does not
// have yet. The packages test runs the loop in a moved folder. Last, as it
// changes the installation.
void TestInstall::updateLoop()
{
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const QString &program = m_program;
    const ProgramRun demo = runProgram({"/bin/bash", MAKE_DEMO, program, state.path()});
    QVERIFY2(demo.exitCode == 0, qPrintable(demo.errors));

    // A trial that only Spelmar's own "good" can end within the test.
    QFile settings(state.filePath("config/Norvane/AutoUpdate.conf"));
    QVERIFY(settings.open(QIODevice::Append));
    settings.write("Norvane\\AutoUpdate\\Spelmar\\Updates\\TrialSeconds=3600\n");
    settings.close();
    const QString offered = state.filePath("server/Spelmar/Updates");
    const QByteArray oldSpelmar = readFile(program + "/Spelmar");
    const QByteArray oldRelInfo = readFile(program + "/RelInfoLocal.rel");
    QVERIFY(oldSpelmar != readFile(offered + "/Spelmar"));
    FtpTestServer server(state.filePath("server"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));

    // Yes to the newer files, install from the release notes, OK to end
    // Spelmar; Quennet takes the first word again: yes, start Spelmar.
    const QString log = state.filePath("programs.log");
    QProcessEnvironment environment = this->environment();
    environment.insert("XDG_CONFIG_HOME", state.filePath("config"));
    environment.insert("SPELMAR_TEST_ANSWERS", "yes,install,ok");
    environment.insert("MORAVEL_FTP_HOST", server.host());
    QProcess spelmar;
    endWithParent(spelmar);
    spelmar.setProcessEnvironment(environment);
    spelmar.setWorkingDirectory(state.path());
    // The installer and the restarted program inherit the log.
    spelmar.setStandardOutputFile(log, QIODevice::Append);
    spelmar.setStandardErrorFile(log, QIODevice::Append);
    spelmar.start(path("bin/spelmar"), {});
    QVERIFY(spelmar.waitForStarted(60000));
    QVERIFY2(spelmar.waitForFinished(180000), readFile(log).constData());
    QCOMPARE(spelmar.exitStatus(), QProcess::NormalExit);
    QCOMPARE(spelmar.exitCode(), 0);

    // Quennet replaces the files and starts Spelmar again, and ends once
    // Spelmar's window is up: the new release is good.
    const QString spelmarPath = program + "/Spelmar";
    QTRY_VERIFY2_WITH_TIMEOUT(!processesRunning(spelmarPath).isEmpty()
                                  && processesRunning(program + "/Quennet").isEmpty(),
                              readFile(log).constData(), 180000);
    for (const qint64 pid : processesRunning(spelmarPath))
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    QVERIFY(!QFile::exists(program + "/RelInfoLocal.trial"));
    QCOMPARE(readFile(spelmarPath), readFile(offered + "/Spelmar"));
    QCOMPARE(readFile(program + "/readme.txt"), readFile(offered + "/readme.txt"));
    // The old records in their order, Spelmar's revision raised, the new
    // readme.txt and the publisher's key at the end: the loop was signed,
    // and the installation, which had no key, received the publisher's.
    QString relInfo = QString::fromLatin1(oldRelInfo);
    relInfo.replace(QRegularExpression("^Spelmar; [^\r]*", QRegularExpression::MultilineOption),
                    "Spelmar; 2.01.00");
    QCOMPARE(QString::fromLatin1(readFile(program + "/RelInfoLocal.rel")),
             relInfo + "readme.txt; 2.01.00\r\nmoravel.pub; 1.00.00\r\n");
    QVERIFY(QFile::exists(offered + "/RelInfoRemote.rel.sig"));
    QCOMPARE(readFile(program + "/moravel.pub"), readFile(offered + "/moravel.pub"));
    // The backup (engine_update checks what backups hold).
    const QStringList backups = QDir(program).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY2(backups.size() == 1 && QRegularExpression("^\\d{12}$").match(backups.first()).hasMatch(),
             qPrintable(backups.join(' ')));
    QCOMPARE(readFile(program + "/" + backups.first() + "/Spelmar"), oldSpelmar);

    // Exactly the three boxes of the loop, in order; the restarted
    // Spelmar's reminder finds nothing newer and stays silent.
    const QStringList boxes = boxLines(readFile(log));
    QCOMPARE(boxes.size(), 3);
    QVERIFY2(boxes[0].contains("newer files") && boxes[0].contains("->> Spelmar")
                 && boxes[0].contains("->> readme.txt") && !boxes[0].contains("Quennet"),
             qPrintable(boxes[0]));
    QVERIFY2(boxes[1].startsWith(" Attention!!"), qPrintable(boxes[1]));
    QVERIFY2(boxes[2].startsWith(" End of software update!"), qPrintable(boxes[2]));
}

void TestInstall::trialLoop_data()
{
    // The new release's program, a shell script; %1 is its log.
    QTest::addColumn<QString>("newProgram");
    QTest::addColumn<int>("trialSeconds");
    // Empty: the release stays; else what the box says of its end.
    QTest::addColumn<QString>("failure");
    // Each start is logged, with whether the release is on trial then.
    const QString log = "echo new >> %1; test -f RelInfoLocal.trial && echo on trial >> %1; ";
    QTest::newRow("exits 3") << log + "exit 3" << 20 << "ended with exit status 3";
    QTest::newRow("dies of SIGSEGV") << log + "kill -SEGV $$" << 20 << "ended with signal SIGSEGV";
    QTest::newRow("runs and is marked good") << log + "sleep 2; echo new ended >> %1" << 1 << QString();
    QTest::newRow("passes its trial, fails later")
        << log + "sleep 2; echo new ended >> %1; exit 3" << 1 << QString();
    // Updated by moravel-cli without a start; the user goes back to the
    // older release on their own, and that restore is left alone.
    QTest::newRow("the user's own restore") << log + "exit 3" << 20 << "restore";
}

// Quennet installs a new release of stand-in programs from a folder (a
// stick) and starts it: a failure during the trial brings the older
// release back and starts it; a release that passed stays.
void TestInstall::trialLoop()
{
    QFETCH(QString, newProgram);
    QFETCH(int, trialSeconds);
    QFETCH(QString, failure);
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const QString log = state.filePath("programs.log");
    const QString program = state.filePath("program");
    const QString offered = state.filePath("stick/Spelmar/Updates");
    const QByteArray oldProgram = "#!/bin/sh\necho old >> " + log.toUtf8() + "\nsleep 1\n";
    const QByteArray newBytes = "#!/bin/sh\n" + newProgram.arg(log).toUtf8() + "\n";
    writeFile(program + "/Spelmar", oldProgram);
    writeFile(program + "/RelInfoLocal.rel", "Spelmar; 1.00.00\r\n");
    writeFile(offered + "/Spelmar", newBytes);
    writeFile(offered + "/RelInfoRemote.rel", "Spelmar; 2.00.00\r\n");
    for (const QString &file : {program + "/Spelmar", offered + "/Spelmar"})
        QVERIFY(QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::ExeOwner));
    writeFile(state.filePath("config/Norvane/AutoUpdate.conf"),
              "[Software]\nNorvane\\AutoUpdate\\Spelmar\\Updates\\TrialSeconds="
                  + QByteArray::number(trialSeconds) + "\n");

    const bool userRestore = failure == "restore";
    QProcessEnvironment environment = this->environment();
    environment.insert("XDG_CONFIG_HOME", state.filePath("config"));
    environment.insert("MORAVEL_FTP_HOST", "file://" + state.filePath("stick"));
    environment.insert("SPELMAR_TEST_ANSWERS", "yes");
    // The user's own restore follows an update by script that started nothing.
    const QStringList updateCommand = userRestore
        ? QStringList{m_program + "/moravel-cli", "update", "Spelmar/Updates", program + "/Spelmar"}
        : QStringList{m_program + "/Quennet", "Spelmar/Updates", program + "/Spelmar"};
    const ProgramRun update = runProgram(updateCommand, environment, program);
    QCOMPARE(update.exitCode, 0);
    const QStringList backups = QDir(program).entryList({"20*"}, QDir::Dirs);
    QCOMPARE(backups.size(), 1);
    QStringList boxes = boxLines(update.errors.toLocal8Bit());
    if (userRestore) {
        QVERIFY(QFile::exists(program + "/RelInfoLocal.trial"));
        const ProgramRun restore = runProgram(
            {m_program + "/Quennet", "REST=" + backups.first(), program + "/Spelmar"}, environment, program);
        QCOMPARE(restore.exitCode, 0);
        boxes = boxLines(restore.errors.toLocal8Bit());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(log), QByteArray("old\n"), 10000);
    } else if (failure.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(readFile(log), QByteArray("new\non trial\nnew ended\n"), 10000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(readFile(log), QByteArray("new\non trial\nold\n"), 10000);
    }
    QTest::qWait(200); // nothing more happens afterwards

    const bool rolledBack = !failure.isEmpty() && !userRestore;
    QCOMPARE(readFile(program + "/Spelmar"), rolledBack || userRestore ? oldProgram : newBytes);
    QVERIFY(!QFile::exists(program + "/RelInfoLocal.trial"));
    QCOMPARE(readFile(program + "/RelInfoFailed/Spelmar"), rolledBack ? newBytes : QByteArray("<missing>"));
    const QStringList told = boxes.filter("failed to start");
    QCOMPARE(told.size(), rolledBack ? 1 : 0);
    if (rolledBack)
        QVERIFY2(
            told.first().contains("Spelmar 2.00.00, installed by the update of ")
                && told.first().contains(failure + " during its trial")
                && told.first().contains("The older release is back in " + program + " and has been started"),
            qPrintable(told.first()));
}

void TestInstall::unwatchedStarts_data()
{
    QTest::addColumn<int>("startsBefore"); // starts of the release on trial that never reached good
    QTest::newRow("a start after two that failed") << 2;
    QTest::newRow("a start after three that failed") << 3;
}

// Spelmar started by hand while its release is on trial: its window marks
// the release good, unless three starts before it never got that far.
void TestInstall::unwatchedStarts()
{
    QFETCH(int, startsBefore);
    QTemporaryDir folder;
    const QString program = folder.path();
    const QString log = program + "/../" + QFileInfo(program).fileName() + ".log";
    const QByteArray older = "#!/bin/sh\necho older >> " + log.toUtf8() + "\n";
    QVERIFY(QFile::copy(m_program + "/Spelmar", program + "/Spelmar"));
    QVERIFY(QFile::copy(m_program + "/libMoravel.so", program + "/libMoravel.so"));
    writeFile(program + "/RelInfoLocal.rel", "Spelmar; 2.00.00\r\n");
    writeFile(program + "/202601010000/Spelmar", older);
    QVERIFY(
        QFile::setPermissions(program + "/202601010000/Spelmar", QFile::permissions(program + "/Spelmar")));
    writeFile(program + "/202601010000/RelInfoLocal.rel", "Spelmar; 1.00.00\r\n");
    writeFile(program + "/RelInfoLocal.trial",
              "release=202601010000\nstarts=" + QByteArray::number(startsBefore) + "\n");

    QProcessEnvironment environment = this->environment();
    environment.insert("SPELMAR_EXIT_WHEN_SHOWN", "500");
    const ProgramRun spelmar = runProgram({program + "/Spelmar"}, environment, program);
    QCOMPARE(spelmar.exitCode, 0);
    QVERIFY(!QFile::exists(program + "/RelInfoLocal.trial"));
    const QStringList told = boxLines(spelmar.errors.toLocal8Bit()).filter("failed to start");
    if (startsBefore < 3) {
        QVERIFY(told.isEmpty());
        QVERIFY(readFile(program + "/Spelmar") != older);
        return;
    }
    QCOMPARE(told.size(), 1);
    QVERIFY2(
        told.first().contains("Spelmar 2.00.00, installed by the update of 2026-01-01   (00:00),\\n did not "
                              "get through 3 starts in a row during its trial."),
        qPrintable(told.first()));
    QCOMPARE(readFile(program + "/Spelmar"), older);
    QCOMPARE(readFile(program + "/RelInfoFailed/RelInfoLocal.rel"), QByteArray("Spelmar; 2.00.00\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(log), QByteArray("older\n"), 10000);
    QFile::remove(log);
}

void TestInstall::withoutUsableLibrary_data()
{
    QTest::addColumn<QString>("library"); // copied in as libMoravel.so; empty: none
    QTest::newRow("no library") << QString();
    QTest::newRow("a library without the entries") << "/lib/x86_64-linux-gnu/libz.so.1";
}

void TestInstall::withoutUsableLibrary()
{
    QFETCH(QString, library);
    QTemporaryDir folder;
    const QString program = folder.path();
    QVERIFY(folder.isValid() && QFile::copy(m_program + "/Spelmar", program + "/Spelmar"));
    if (!library.isEmpty())
        QVERIFY(QFile::copy(library, program + "/libMoravel.so"));

    QProcessEnvironment environment = this->environment();
    environment.insert("SPELMAR_EXIT_WHEN_SHOWN", "1");
    const ProgramRun spelmar = runProgram({program + "/Spelmar"}, environment, program);
    QCOMPARE(spelmar.exitCode, 0);
    // One box before the window, then the window as usual.
    QCOMPARE(boxLines(spelmar.errors.toLocal8Bit()), QStringList{"Can not load the libMoravel.so !!! "});
    QVERIFY2(spelmar.output.contains("Spelmar: main window shown"), qPrintable(spelmar.output));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
