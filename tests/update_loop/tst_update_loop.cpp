// The update loop with the real programs: Spelmar's reminder finds newer
// files, the release notes start Quennet, Spelmar ends, Quennet replaces
// the files with a backup and starts Spelmar again, in an installation.
// And Spelmar without a usable update library.
#include "childprocess.h"
#include "ftpserver.h"
#include "installtree.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

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

// The environment of a staged run: its own settings, no library search
// path that could find the build's library, the given answers.
QProcessEnvironment stagedEnvironment(const QString &config, const QString &answers)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("SPELMAR_TEST_ANSWERS", answers);
    environment.remove("LD_LIBRARY_PATH");
    return environment;
}

} // namespace

class TestUpdateLoop : public QObject
{
    Q_OBJECT

private slots:
    void reminderToUpdatedFiles();
    void withoutUsableLibrary_data();
    void withoutUsableLibrary();
};

// Installed by `cmake --install` into a prefix, Spelmar started by the
// launcher from another folder; the demo's server offers a newer Spelmar
// and a readme.txt that the installation does not have yet. The packages
// test runs the loop in a moved folder.
void TestUpdateLoop::reminderToUpdatedFiles()
{
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const QString prefix = state.filePath("prefix");
    const QString failure = installTree(prefix);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString program = installedProgramFolder(prefix);
    const ProgramRun demo = runProgram({"/bin/bash", MAKE_DEMO, program, state.path()});
    QVERIFY2(demo.exitCode == 0, qPrintable(demo.errors));

    const QString offered = state.filePath("server/Spelmar/Updates");
    const QByteArray oldSpelmar = readFile(program + "/Spelmar");
    const QByteArray oldRelInfo = readFile(program + "/RelInfoLocal.rel");
    QVERIFY(oldSpelmar != readFile(offered + "/Spelmar"));
    FtpTestServer server(state.filePath("server"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));

    // Yes to the newer files, install from the release notes, OK to end
    // Spelmar; Quennet takes the first word again: yes, start Spelmar.
    const QString log = state.filePath("programs.log");
    QProcessEnvironment environment = stagedEnvironment(state.filePath("config"), "yes,install,ok");
    environment.insert("MORAVEL_FTP_HOST", server.host());
    QProcess spelmar;
    endWithParent(spelmar);
    spelmar.setProcessEnvironment(environment);
    spelmar.setWorkingDirectory(state.path());
    // The installer and the restarted program inherit the log.
    spelmar.setStandardOutputFile(log, QIODevice::Append);
    spelmar.setStandardErrorFile(log, QIODevice::Append);
    spelmar.start(prefix + "/bin/spelmar", {});
    QVERIFY(spelmar.waitForStarted(60000));
    QVERIFY2(spelmar.waitForFinished(180000), readFile(log).constData());
    QCOMPARE(spelmar.exitStatus(), QProcess::NormalExit);
    QCOMPARE(spelmar.exitCode(), 0);

    // Quennet replaces the files and starts Spelmar again.
    const QString spelmarPath = program + "/Spelmar";
    QTRY_VERIFY2_WITH_TIMEOUT(!processesRunning(spelmarPath).isEmpty()
                                  && processesRunning(program + "/Quennet").isEmpty(),
                              readFile(log).constData(), 180000);
    for (const qint64 pid : processesRunning(spelmarPath))
        ::kill(static_cast<pid_t>(pid), SIGTERM);
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

void TestUpdateLoop::withoutUsableLibrary_data()
{
    QTest::addColumn<QString>("library"); // copied in as libMoravel.so; empty: none
    QTest::newRow("no library") << QString();
    QTest::newRow("a library without the entries") << "/lib/x86_64-linux-gnu/libz.so.1";
}

void TestUpdateLoop::withoutUsableLibrary()
{
    QFETCH(QString, library);
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const QString program = state.filePath("program");
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QFile::copy(QStringLiteral(PROGRAM_FOLDER "/Spelmar"), program + "/Spelmar"));
    if (!library.isEmpty())
        QVERIFY(QFile::copy(library, program + "/libMoravel.so"));

    QProcessEnvironment environment = stagedEnvironment(state.filePath("config"), QString());
    environment.insert("SPELMAR_EXIT_WHEN_SHOWN", "1");
    QProcess spelmar;
    endWithParent(spelmar);
    spelmar.setProcessEnvironment(environment);
    spelmar.setWorkingDirectory(program);
    spelmar.start(program + "/Spelmar", {});
    QVERIFY(spelmar.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(spelmar.readAllStandardOutput());
    const QStringList boxes = boxLines(spelmar.readAllStandardError());
    QCOMPARE(spelmar.exitStatus(), QProcess::NormalExit);
    QCOMPARE(spelmar.exitCode(), 0);

    // One box before the window, then the window as usual.
    QCOMPARE(boxes, QStringList{"Can not load the libMoravel.so !!! "});
    QVERIFY2(output.contains("Spelmar: main window shown"), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestUpdateLoop)
#include "tst_update_loop.moc"
