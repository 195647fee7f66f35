// The progress window on a real download from a loopback FTP server: the
// order of its lines, its buttons, the final question and what follows it.
#include "ftpserver.h"
#include "scriptedprompt.h"
#include "testfiles.h"
#include "updateprogressdlg.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const std::string kQuestion = " End of software update!\n"
                              "----------------------------------------------------------\n"
                              "\n\n Do you want to start the new released programm ?\n\n"
                              " Press <yes> to start Spelmar.exe\n";

// A program folder with Spelmar.exe 3.01.01 and the window that updates it
// from the server.
struct Run
{
    QTemporaryDir program;
    ScriptedPrompt prompt;
    CUpdateProgressDlg dialog{prompt};

    Run(const QString &host, const QByteArray &localRelInfo, const QString &programName)
    {
        dialog.setServerPath("Spelmar/Updates");
        dialog.setProgramFolder(program.path().toStdString());
        dialog.setProgramName(programName.toStdString());
        dialog.setHost(host.toStdString());
        if (!writeFile(program.filePath("RelInfoLocal.rel"), localRelInfo)
            || !writeFile(program.filePath("Spelmar.exe"), "old program"))
            qFatal("cannot write the program folder");
    }
    QByteArray installed() { return readFile(program.filePath("Spelmar.exe")); }
    // Runs the window modally, as the exports do, while check is called
    // every few milliseconds.
    template <typename Check>
    int exec(Check check)
    {
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &dialog, check);
        watch.start(10);
        return dialog.exec();
    }
};

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
                           "... set path (Spelmar/Updates)",      "... check remote revision file",
                           "... check local revision file",       "... compare new files"};
    const QStringList transfer{"---- start transfer ----",
                               "  ok!    Spelmar.exe",
                               "---- end transfer ----",
                               "... update local revision file",
                               "  ok!  updated local revision file",
                               "   ",
                               "  End of download procedure!! "};
    const QStringList nothing{" end! No updates found!", "   ", "  End of download procedure!! "};

    QTest::newRow("one newer file, keep running")
        << QByteArray("Spelmar.exe;3.01.01\r\n") << "Spelmar.exe" << IPrompt::Answer::No << head + transfer
        << QByteArray("new program");
    QTest::newRow("nothing newer, start the program")
        << QByteArray("Spelmar.exe;3.01.02\r\n") << "Spelmar.exe" << IPrompt::Answer::Yes << head + nothing
        << QByteArray("old program");
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

    Run run(m_server->host(), localRelInfo, programName);
    run.prompt.queueAnswer(answer);
    const std::size_t questions = programName.isEmpty() ? 0 : 1;
    // The loop ends when the window closes itself or, for a window that
    // stays, with 42 once the run is over.
    const int result = run.exec([&] {
        const QStringList shown = run.dialog.lines();
        if (run.dialog.isVisible() && !shown.isEmpty() && shown.last() == "  End of download procedure!! "
            && run.dialog.findChild<QPushButton *>("okButton")->isEnabled()
            && run.dialog.findChild<QProgressBar *>("progressBar")->value() == 0
            && run.prompt.boxes().size() == questions)
            run.dialog.done(42);
    });
    const bool started = answer == IPrompt::Answer::Yes && questions == 1;
    QCOMPARE(result, started ? int(QDialog::Accepted) : 42);
    // The host's loop: 0 when the window told the host to quit (a queued
    // request is taken on the first pass), else 99 after a while.
    QTimer patience; // gone with this test, so it cannot end a later loop
    patience.setSingleShot(true);
    connect(&patience, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    patience.start(500);
    QCOMPARE(QCoreApplication::exec(), started ? 0 : 99);

    QCOMPARE(run.dialog.lines(), lines);
    QCOMPARE(run.installed(), installed);
    QVERIFY(!run.dialog.findChild<QPushButton *>("abortButton")->isEnabled());
    const auto boxes = run.prompt.boxes();
    QCOMPARE(boxes.size(), questions);
    if (questions) {
        QCOMPARE(boxes[0].text, kQuestion);
        QVERIFY(boxes[0].buttons == IPrompt::Buttons::YesNo);
        QVERIFY(boxes[0].icon == IPrompt::Icon::Question);
    }
}

void TestProgress::abortWhileRunning()
{
    Run run(m_server->host(), "Spelmar.exe;3.01.01\r\n", "Spelmar.exe");
    const int result = run.exec([&] {
        // The worker has started once OK is disabled; a run that was over
        // before this looked is aborted all the same.
        if (run.dialog.isVisible()
            && (!run.dialog.findChild<QPushButton *>("okButton")->isEnabled()
                || run.dialog.lines().size() > 1))
            run.dialog.reject();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!run.dialog.workerRunning());
    // Wherever the run stopped, the program is there, old or new.
    const QByteArray installed = run.installed();
    QVERIFY2(installed == "old program" || installed == "new program", installed.constData());
    QCOMPARE(run.prompt.boxes().size(), std::size_t(0));
}

QTEST_MAIN(TestProgress)
#include "tst_updater_ui_progress.moc"
