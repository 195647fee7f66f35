// The progress window on a real download from a loopback FTP server: the
// order of its lines, its buttons, the final question and what follows it.
#include "ftpserver.h"
#include "scriptedprompt.h"
#include "updateprogressdlg.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const std::string kQuestion = " End of software update!\n"
                              "----------------------------------------------------------\n"
                              "\n\n Do you want to start the new released programm ?\n\n"
                              " Press <yes> to start Spelmar.exe\n";

} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void download_data();
    void download();
    void abortWhileRunning();

private:
    QTemporaryDir m_serverRoot;
    std::unique_ptr<FtpTestServer> m_server;
};

void TestProgress::initTestCase()
{
    QVERIFY(m_serverRoot.isValid());
    const QString updates = m_serverRoot.filePath("Spelmar/Updates");
    QVERIFY(writeFile(updates + "/RelInfoRemote.rel", "Spelmar.exe;3.01.02\r\n"));
    QVERIFY(writeFile(updates + "/Spelmar.exe", "new program"));
    m_server = std::make_unique<FtpTestServer>(m_serverRoot.path());
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestProgress::download_data()
{
    QTest::addColumn<QByteArray>("localRelInfo");
    QTest::addColumn<QString>("programName");
    QTest::addColumn<IPrompt::Answer>("answer");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("installed");

    const QStringList head{"... Preparing download from server!", "... connect to the NORVANE server",
                           "... set path (Spelmar/Updates)", "... check remote revision file",
                           "... check local revision file", "... compare new files"};
    const QStringList transfer{"---- start transfer ----", "  ok!    Spelmar.exe",
                               "---- end transfer ----", "... update local revision file",
                               "  ok!  updated local revision file", "   ",
                               "  End of download procedure!! "};
    const QStringList nothing{" end! No updates found!", "   ", "  End of download procedure!! "};

    QTest::newRow("one newer file, keep running")
        << QByteArray("Spelmar.exe;3.01.01\r\n") << "Spelmar.exe" << IPrompt::Answer::No
        << head + transfer << QByteArray("new program");
    QTest::newRow("nothing newer, start the program")
        << QByteArray("Spelmar.exe;3.01.02\r\n") << "Spelmar.exe" << IPrompt::Answer::Yes
        << head + nothing << QByteArray("old program");
    QTest::newRow("no program name: no question")
        << QByteArray("Spelmar.exe;3.01.01\r\n") << "" << IPrompt::Answer::Yes << head + transfer
        << QByteArray("new program");
}

void TestProgress::download()
{
    QFETCH(QByteArray, localRelInfo);
    QFETCH(QString, programName);
    QFETCH(IPrompt::Answer, answer);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, installed);

    QTemporaryDir program;
    QVERIFY(program.isValid());
    QVERIFY(writeFile(program.filePath("RelInfoLocal.rel"), localRelInfo));
    QVERIFY(writeFile(program.filePath("Spelmar.exe"), "old program"));

    ScriptedPrompt prompt;
    prompt.queueAnswer(answer);
    CUpdateProgressDlg dialog(prompt);
    dialog.setServerPath("Spelmar/Updates");
    dialog.setProgramFolder(program.path().toStdString());
    dialog.setProgramName(programName.toStdString());
    dialog.setHost(m_server->host().toStdString());
    QCOMPARE(dialog.windowTitle(), QString("  NORVANE  software updater"));

    // Run modally, as the exports do; the loop ends when the window closes
    // or, for a window that stays, once the run is over.
    QTimer watch;
    connect(&watch, &QTimer::timeout, &dialog, [&] {
        // A window that closed itself keeps its own result.
        if (!dialog.isVisible())
            return;
        auto *ok = dialog.findChild<QPushButton *>("okButton");
        const QStringList shown = dialog.lines();
        if (!shown.isEmpty() && shown.last() == "  End of download procedure!! " && ok->isEnabled()
            && dialog.findChild<QProgressBar *>("progressBar")->value() == 0
            && prompt.count() == (programName.isEmpty() ? 0u : 1u))
            dialog.done(42);
    });
    watch.start(20);
    const int result = dialog.exec();
    watch.stop();
    // The host's loop: 0 when the window told the host to quit (a queued
    // request is taken on the first pass), else 99 after a while.
    QTimer patience;
    patience.setSingleShot(true);
    connect(&patience, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    patience.start(500);
    const int hostLoop = QCoreApplication::exec();
    QCOMPARE(hostLoop, answer == IPrompt::Answer::Yes && !programName.isEmpty() ? 0 : 99);

    QCOMPARE(dialog.lines(), lines);
    QCOMPARE(readFile(program.filePath("Spelmar.exe")), installed);
    QVERIFY(!dialog.findChild<QPushButton *>("abortButton")->isEnabled());
    if (programName.isEmpty()) {
        QCOMPARE(prompt.count(), std::size_t(0));
        QCOMPARE(result, 42); // stays open after the run
        return;
    }
    QCOMPARE(prompt.count(), std::size_t(1));
    QCOMPARE(prompt.boxes()[0].text, kQuestion);
    QVERIFY(prompt.boxes()[0].buttons == IPrompt::Buttons::YesNo);
    QVERIFY(prompt.boxes()[0].icon == IPrompt::Icon::Question);
    if (answer == IPrompt::Answer::Yes)
        QCOMPARE(result, int(QDialog::Accepted)); // closed by itself
    else
        QCOMPARE(result, 42);
}

void TestProgress::abortWhileRunning()
{
    QTemporaryDir program;
    QVERIFY(program.isValid());
    QVERIFY(writeFile(program.filePath("RelInfoLocal.rel"), "Spelmar.exe;3.01.01\r\n"));
    QVERIFY(writeFile(program.filePath("Spelmar.exe"), "old program"));

    ScriptedPrompt prompt;
    CUpdateProgressDlg dialog(prompt);
    dialog.setServerPath("Spelmar/Updates");
    dialog.setProgramFolder(program.path().toStdString());
    dialog.setProgramName("Spelmar.exe");
    dialog.setHost(m_server->host().toStdString());
    QTimer watch;
    connect(&watch, &QTimer::timeout, &dialog, [&] {
        // The worker has started once OK is disabled; a run that was over
        // before this looked is aborted all the same.
        if (dialog.isVisible()
            && (!dialog.findChild<QPushButton *>("okButton")->isEnabled()
                || dialog.lines().size() > 1))
            dialog.reject();
    });
    watch.start(5);
    const int result = dialog.exec();
    watch.stop();

    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!dialog.workerRunning());
    // Wherever the run stopped, the program is there, old or new.
    const QByteArray installed = readFile(program.filePath("Spelmar.exe"));
    QVERIFY2(installed == "old program" || installed == "new program", installed.constData());
    QCOMPARE(prompt.count(), std::size_t(0));
}

QTEST_MAIN(TestProgress)
#include "tst_updater_ui_progress.moc"
