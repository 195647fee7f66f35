// The update loop with the real programs: Spelmar's reminder finds newer
// files, the release notes start Quennet, Spelmar ends, Quennet replaces
// the files with a backup and starts Spelmar again; in a staged folder and
// in an installation. And Spelmar without a usable update library.
#include "childprocess.h"
#include "ftpserver.h"
#include "installtree.h"
#include "programpath.h"
#include "prompt.h"
#include "spelmardlg.h"
#include "testfiles.h"
#include "updatebinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QString kAnswersVariable = QStringLiteral("SPELMAR_TEST_ANSWERS");

// The processes that run the program file at path.
QList<qint64> processesRunning(const QString &path)
{
    QList<qint64> found;
    const QString wanted = QFileInfo(path).canonicalFilePath();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == QCoreApplication::applicationPid())
            continue;
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(entry));
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
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(kAnswersVariable, answers);
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    return environment;
}

} // namespace

class TestUpdateLoop : public QObject
{
    Q_OBJECT

private slots:
    void reminderToUpdatedFiles_data();
    void reminderToUpdatedFiles();
    void withoutUsableLibrary_data();
    void withoutUsableLibrary();
    void programPathNamesTheStartFolder_data();
    void programPathNamesTheStartFolder();
    void settingsButtonOpensTheReminderSettings();
};

void TestUpdateLoop::reminderToUpdatedFiles_data()
{
    // Installed: `cmake --install` into a prefix, Spelmar started by the
    // launcher from another folder; the demo's server offers a newer
    // Spelmar and a readme.txt that the installation does not have yet.
    QTest::addColumn<bool>("installed");
    QTest::newRow("staged program folder") << false;
    QTest::newRow("installed under a prefix") << true;
}

void TestUpdateLoop::reminderToUpdatedFiles()
{
    QFETCH(bool, installed);
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const QString prefix = state.filePath(QStringLiteral("prefix"));
    if (installed) {
        const QString failure = installTree(prefix);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    QProcess demo;
    endWithParent(demo);
    demo.start(QStringLiteral("/bin/bash"),
               {QStringLiteral(MAKE_DEMO),
                installed ? installedProgramFolder(prefix) : QStringLiteral(PROGRAM_FOLDER), state.path()});
    QVERIFY(demo.waitForFinished(120000));
    QVERIFY2(demo.exitCode() == 0, demo.readAllStandardError().constData());

    const QString program =
        installed ? installedProgramFolder(prefix) : state.filePath(QStringLiteral("program"));
    const QString offered = state.filePath(QStringLiteral("server/Spelmar/Updates"));
    const QByteArray oldSpelmar = readFile(program + QStringLiteral("/Spelmar"));
    const QByteArray oldReadme = readFile(program + QStringLiteral("/readme.txt"));
    const QByteArray oldRelInfo = readFile(program + QStringLiteral("/RelInfoLocal.rel"));
    QVERIFY(oldSpelmar != readFile(offered + QStringLiteral("/Spelmar")));

    FtpTestServer server(state.filePath(QStringLiteral("server")));
    QVERIFY2(server.start(), qPrintable(server.errorText()));

    // Yes to the newer files, install from the release notes, OK to end
    // Spelmar; Quennet takes the first word again: yes, start Spelmar.
    const QString log = state.filePath(QStringLiteral("programs.log"));
    QProcessEnvironment environment =
        stagedEnvironment(state.filePath(QStringLiteral("config")), QStringLiteral("yes,install,ok"));
    environment.insert(QStringLiteral("MORAVEL_FTP_HOST"), server.host());
    QProcess spelmar;
    endWithParent(spelmar);
    spelmar.setProcessEnvironment(environment);
    spelmar.setWorkingDirectory(installed ? state.path() : program);
    // The installer and the restarted program inherit the log.
    spelmar.setStandardOutputFile(log, QIODevice::Append);
    spelmar.setStandardErrorFile(log, QIODevice::Append);
    spelmar.start(installed ? prefix + QStringLiteral("/bin/spelmar") : program + QStringLiteral("/Spelmar"),
                  {});
    QVERIFY(spelmar.waitForStarted(60000));
    QVERIFY2(spelmar.waitForFinished(180000), readFile(log).constData());
    QCOMPARE(spelmar.exitStatus(), QProcess::NormalExit);
    QCOMPARE(spelmar.exitCode(), 0);

    // Quennet replaces the files and starts Spelmar again.
    const QString spelmarPath = program + QStringLiteral("/Spelmar");
    const QString quennetPath = program + QStringLiteral("/Quennet");
    QTRY_VERIFY2_WITH_TIMEOUT(!processesRunning(spelmarPath).isEmpty()
                                  && processesRunning(quennetPath).isEmpty(),
                              readFile(log).constData(), 180000);
    const QList<qint64> restarted = processesRunning(spelmarPath);
    for (const qint64 pid : restarted)
        ::kill(static_cast<pid_t>(pid), SIGTERM);

    QCOMPARE(readFile(spelmarPath), readFile(offered + QStringLiteral("/Spelmar")));
    QCOMPARE(readFile(program + QStringLiteral("/readme.txt")),
             readFile(offered + QStringLiteral("/readme.txt")));
    // The old records in their order, Spelmar's revision raised, the new
    // readme.txt at the end (and the publisher's key, which an
    // installation does not have yet).
    QString relInfo = QString::fromLatin1(oldRelInfo);
    relInfo.replace(
        QRegularExpression(QStringLiteral("^Spelmar; [^\r]*"), QRegularExpression::MultilineOption),
        QStringLiteral("Spelmar; 2.01.00"));
    if (installed)
        relInfo += QStringLiteral("readme.txt; 2.01.00\r\nmoravel.pub; 1.00.00\r\n");
    else
        relInfo.replace(QStringLiteral("readme.txt; 2.00.00"), QStringLiteral("readme.txt; 2.01.00"));
    QCOMPARE(QString::fromLatin1(readFile(program + QStringLiteral("/RelInfoLocal.rel"))), relInfo);
    // The loop was signed. The staged program trusts the demo's key beside
    // its library: it accepted the signature and recorded its sequence. The
    // installation had no key and received the publisher's with the update.
    QVERIFY(QFile::exists(offered + QStringLiteral("/RelInfoRemote.rel.sig")));
    if (installed)
        QCOMPARE(readFile(program + QStringLiteral("/moravel.pub")),
                 readFile(offered + QStringLiteral("/moravel.pub")));
    else
        QVERIFY(QFileInfo(program + QStringLiteral("/RelInfoLocal.seq")).size() > 0);

    const QStringList backups = QDir(program).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(backups.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{12}$")).match(backups.first()).hasMatch(),
             qPrintable(backups.first()));
    const QString backup = program + QLatin1Char('/') + backups.first();
    QStringList saved = QDir(backup).entryList(QDir::Files);
    saved.sort();
    // A file that was not installed before has nothing to keep.
    const QStringList expected = installed ? QStringList{"RelInfoLocal.rel", "Spelmar"}
                                           : QStringList{"RelInfoLocal.rel", "Spelmar", "readme.txt"};
    QCOMPARE(saved, expected);
    QCOMPARE(readFile(backup + QStringLiteral("/RelInfoLocal.rel")), oldRelInfo);
    QCOMPARE(readFile(backup + QStringLiteral("/Spelmar")), oldSpelmar);
    if (!installed)
        QCOMPARE(readFile(backup + QStringLiteral("/readme.txt")), oldReadme);

    // Exactly the three boxes of the loop, in order; the restarted
    // Spelmar's reminder finds nothing newer and stays silent.
    const QStringList boxes = boxLines(readFile(log));
    QCOMPARE(boxes.size(), 3);
    QVERIFY2(boxes[0].contains(QLatin1String("newer files"))
                 && boxes[0].contains(QLatin1String("->> Spelmar"))
                 && boxes[0].contains(QLatin1String("->> readme.txt"))
                 && !boxes[0].contains(QLatin1String("Quennet")),
             qPrintable(boxes[0]));
    QVERIFY2(boxes[1].startsWith(QLatin1String(" Attention!!")), qPrintable(boxes[1]));
    QVERIFY2(boxes[2].startsWith(QLatin1String(" End of software update!")), qPrintable(boxes[2]));
}

void TestUpdateLoop::withoutUsableLibrary_data()
{
    QTest::addColumn<QString>("library"); // copied in as libMoravel.so; empty: none
    QTest::newRow("no library") << QString();
    QTest::newRow("not a library") << QStringLiteral("RelInfoLocal.rel");
    QTest::newRow("a library without the entries") << QStringLiteral("libz");
}

void TestUpdateLoop::withoutUsableLibrary()
{
    QFETCH(QString, library);
    QTemporaryDir state;
    QVERIFY(state.isValid());
    const QString program = state.filePath(QStringLiteral("program"));
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QFile::copy(QStringLiteral(PROGRAM_FOLDER "/Spelmar"), program + QStringLiteral("/Spelmar")));
    const QString target = program + QStringLiteral("/libMoravel.so");
    if (library == QLatin1String("RelInfoLocal.rel"))
        QVERIFY(writeFile(target, "Spelmar; 2.00.00\r\n"));
    else if (library == QLatin1String("libz")) {
        QVERIFY(QFile::copy(QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1"), target));
    }

    QProcessEnvironment environment = stagedEnvironment(state.filePath(QStringLiteral("config")), QString());
    environment.insert(QStringLiteral("SPELMAR_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
    QProcess spelmar;
    endWithParent(spelmar);
    spelmar.setProcessEnvironment(environment);
    spelmar.setWorkingDirectory(program);
    spelmar.start(program + QStringLiteral("/Spelmar"), {});
    QVERIFY(spelmar.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(spelmar.readAllStandardOutput());
    const QStringList boxes = boxLines(spelmar.readAllStandardError());
    QCOMPARE(spelmar.exitStatus(), QProcess::NormalExit);
    QCOMPARE(spelmar.exitCode(), 0);

    // One box before the window, then the window as usual.
    QCOMPARE(boxes, QStringList{QStringLiteral("Can not load the libMoravel.so !!! ")});
    QVERIFY2(output.contains(QLatin1String("Spelmar: main window shown")), qPrintable(output));
}

void TestUpdateLoop::programPathNamesTheStartFolder_data()
{
    QTest::addColumn<bool>("programThere");
    QTest::newRow("started in its own folder") << true;
    QTest::newRow("started in another folder") << false;
}

void TestUpdateLoop::programPathNamesTheStartFolder()
{
    // Whatever the start folder holds, the library takes it as the program
    // folder, never a missing program file as a folder of its own.
    QFETCH(bool, programThere);
    QTemporaryDir start;
    QVERIFY(start.isValid());
    if (programThere)
        QVERIFY(writeFile(start.filePath(QStringLiteral("Spelmar")), QByteArray()));
    const std::string folder = start.path().toStdString();
    const ProgramPath split = splitProgramPath(CUpdateBinding::programPathFor(folder + "/"));
    QCOMPARE(QString::fromStdString(split.folder), start.path());
    QCOMPARE(QString::fromStdString(split.name), programThere ? QStringLiteral("Spelmar") : QString());
}

void TestUpdateLoop::settingsButtonOpensTheReminderSettings()
{
    // The window binds the library beside this test program, as Spelmar
    // binds the one beside itself; the reminder is off, so no check runs.
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(writeFile(config.filePath(QStringLiteral("Norvane/AutoUpdate.conf")),
                      "[Software]\n"
                      "Norvane\\AutoUpdate\\Spelmar\\Updates\\Active=0\n"
                      "Norvane\\AutoUpdate\\Spelmar\\Updates\\Check=1\n"
                      "Norvane\\AutoUpdate\\Spelmar\\Updates\\Interval=7\n"));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

    struct : IPrompt
    {
        int boxes = 0;
        Answer message(const std::string &, const std::string &, Buttons, Icon) override
        {
            ++boxes;
            return Answer::Ok;
        }
    } prompt;
    CSpelmarDlg window(&prompt, nullptr, CSpelmarDlg::UpdateLibrary::Load);
    QVERIFY(window.updateBinding().isBound());
    QCOMPARE(prompt.boxes, 0);
    window.show();
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("updatesButton")), Qt::LeftButton);

    QWidget *settings = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget != &window && widget->isVisible()
            && widget->findChild<QCheckBox *>(QStringLiteral("activeCheck")))
            settings = widget;
    QVERIFY(settings);
    QCOMPARE(settings->findChild<QLineEdit *>(QStringLiteral("intervalEdit"))->text(), QStringLiteral("7"));
    QVERIFY(!settings->findChild<QCheckBox *>(QStringLiteral("activeCheck"))->isChecked());
    settings->hide();
}

QTEST_MAIN(TestUpdateLoop)
#include "tst_update_loop.moc"
