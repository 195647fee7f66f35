#include "childprocess.h"
#include "ftpserver.h"
#include "updatetestsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QByteArray kServerRel = "Spelmar.exe; 3.01.02\r\nMoravel.so; 1.00.00\r\n";
const QByteArray kOldRel = "Spelmar.exe; 3.01.01\r\nMoravel.so; 1.00.00\r\n";

// The list of a download run with these lines after the comparison.
QString downloadOutput(const QStringList &lines)
{
    return QStringList{"... Preparing download from server!", "... connect to the NORVANE server",
                       "... set path (Spelmar/Updates)",      "... check remote revision file",
                       "... check local revision file",       "... compare new files"}
               .join('\n')
        + '\n' + lines.join('\n') + "\n   \n  End of download procedure!! \n";
}

QString restoreOutput(const QStringList &lines)
{
    return "... Preparing restore from directory!\n" + lines.join('\n') + (lines.isEmpty() ? "" : "\n")
        + "   \n  End of restore procedure!! \n";
}

} // namespace

class TestMoravelCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();

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
    QTest::addColumn<QStringList>("arguments"); // @PROG@: the program folder
    QTest::addColumn<QByteArray>("localRel");
    QTest::addColumn<QStringList>("releases");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // null: not compared
    // What standard error begins with, for runs that fail with a reason.
    QTest::addColumn<QString>("reason");

    const QStringList none;
    const QString update = "Spelmar/Updates";

    QTest::newRow("no arguments") << none << kOldRel << none << 2 << "" << QString();
    QTest::newRow("unknown command") << QStringList{"fetch", update, "@PROG@"} << kOldRel << none << 2 << ""
                                     << QString();

    QTest::newRow("check, newer files")
        << QStringList{"check", update, "@PROG@/Spelmar.exe"} << kOldRel << none << 3
        << checkText(" There are some newer files on the server:\n\n   3.01.02\t\t->> Spelmar.exe \n") + "\n"
        << QString();
    QTest::newRow("check, nothing newer")
        << QStringList{"check", update, "@PROG@"} << kServerRel << none << 0
        << checkText(" Your programm is working with the latest version!\n\n") + "\n"
        << QString();
    QTest::newRow("check, no update directory")
        << QStringList{"check", "Spelmar/Nowhere", "@PROG@"} << kOldRel << none << 1
        << "No connection to the NORVANE ftp server!\nSwitch off the automatic updates!\n"
        << "moravel-cli: no update folder Spelmar/Nowhere: ";

    QTest::newRow("update") << QStringList{"update", update, "@PROG@/Spelmar.exe"} << kOldRel << none << 0
                            << downloadOutput({"---- start transfer ----", "  ok!    Spelmar.exe",
                                               "---- end transfer ----", "... update local revision file",
                                               "  ok!  updated local revision file"})
                            << QString();
    QTest::newRow("update, all files") << QStringList{"update", update, "@PROG@", "--all"} << kServerRel
                                       << none << 0 << QString() << QString();
    QTest::newRow("update, no update directory")
        << QStringList{"update", "Spelmar/Nowhere", "@PROG@"} << kOldRel << none << 1 << QString()
        << "moravel-cli: no update folder Spelmar/Nowhere: ";

    const QStringList january{"201401011000"};
    QTest::newRow("releases, none") << QStringList{"releases", "@PROG@"} << kOldRel << none << 1 << ""
                                    << QString();
    QTest::newRow("releases") << QStringList{"releases", "@PROG@"} << kOldRel
                              << january + QStringList{"201406301800"} << 0
                              << "201401011000\t2014-01-01   (10:00)\n201406301800\t2014-06-30   (18:00)\n"
                              << QString();
    QTest::newRow("restore") << QStringList{"restore", "201401011000", "@PROG@/Spelmar.exe"} << kOldRel
                             << january << 0
                             << restoreOutput({"---- start restore to 201401011000",
                                               "  ok!    201401011000/Spelmar.exe"})
                             << QString();
    QTest::newRow("restore, unknown release") << QStringList{"restore", "201402020202", "@PROG@"} << kOldRel
                                              << january << 1 << restoreOutput({}) << QString();
}

void TestMoravelCli::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, localRel);
    QFETCH(QStringList, releases);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, reason);

    QTemporaryDir program;
    writeFiles(program.path(), {{"Spelmar.exe", "old exe"}, {"RelInfoLocal.rel", localRel}});
    for (const QString &release : releases)
        writeFile(program.filePath(release + "/Spelmar.exe"), release.toLatin1());
    arguments.replaceInStrings("@PROG@", program.path());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORAVEL_FTP_HOST", m_server->host());
    environment.insert("XDG_CONFIG_HOME", m_work.filePath("config"));
    const ProgramRun run = runProgram(QStringList{MORAVEL_CLI} + arguments, environment, QString(), 300000);
    const QString &out = run.output;
    const QString &err = run.errors;
    QVERIFY2(run.exitCode == exitCode, qPrintable(out + err));
    if (!output.isNull())
        QCOMPARE(out, output);
    if (exitCode == 2)
        QVERIFY(err.startsWith("usage: moravel-cli"));
    else if (!reason.isEmpty())
        QVERIFY2(err.startsWith(reason) && err.count('\n') == 1, qPrintable(err));
    else
        QCOMPARE(err, QString());
    if (arguments.value(0) == "restore" && exitCode == 0)
        QCOMPARE(readTree(program.path()).value("Spelmar.exe"), arguments.value(1).toLatin1());
}

QTEST_GUILESS_MAIN(TestMoravelCli)
#include "tst_moravel_cli.moc"
