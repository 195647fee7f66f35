// The release-notes window: captions, page viewers, the three installer
// buttons with their boxes and command lines, and the host's quit.
#include "launchinstaller.h"
#include "releasenotesdlg.h"
#include "scriptedprompt.h"
#include "testfiles.h"

#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <map>

namespace {

// A window whose primary viewer cannot be made.
class NoPrimaryViewerDlg : public CReleaseNotesDlg
{
public:
    using CReleaseNotesDlg::CReleaseNotesDlg;

protected:
    bool createPrimaryViewer() override { return false; }
};

// Runs the application's loop as a host does after action and returns its
// exit code: 0 when action told the host to quit. Otherwise the loop ends
// with 99 after a while (a quit request queued by action is taken on the
// loop's first pass, long before).
template <typename Action>
int hostLoopResult(Action action)
{
    action();
    QTimer patience; // gone with this call, so it cannot end a later loop
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    patience.start(500);
    return QCoreApplication::exec();
}

} // namespace

class TestReleaseNotes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QFile::remove(m_record); }
    void viewer_data();
    void viewer();
    void buttons_data();
    void buttons();
    void commandWords();
    void installerMissing();

private:
    QStringList recordedArguments();

    QTemporaryDir m_dir;
    QString m_record;
};

void TestReleaseNotes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_record = m_dir.filePath("record.txt");
    // The stand-in installer writes its arguments one a line, then renames
    // the file into place so the test never reads half of it.
    const QByteArray record = "'" + m_record.toUtf8();
    const QString installer = m_dir.filePath("Quennet");
    QVERIFY(writeFile(installer,
                      "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + record + ".part'\nmv "
                          + record + ".part' " + record + "'\n"));
    QVERIFY(QFile::setPermissions(installer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("PATH", QFile::encodeName(m_dir.path()) + ":" + qgetenv("PATH"));
}

QStringList TestReleaseNotes::recordedArguments()
{
    if (!QTest::qWaitFor([this] { return QFile::exists(m_record); }, 60000))
        return {"<installer not started>"};
    QStringList lines = QString::fromUtf8(readFile(m_record)).split('\n');
    lines.removeLast();
    return lines;
}

void TestReleaseNotes::viewer_data()
{
    QTest::addColumn<bool>("installMode");
    QTest::addColumn<bool>("fallback");   // the primary viewer cannot be made
    QTest::addColumn<QByteArray>("page"); // empty: no page file
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("caption");

    const QString version = "Moravel Release Notes Version: 3.0.0";
    const QString server = " <<<  Last Software Updates on <h>  (NORVANE AG Westmark)  >>>";
    QTest::newRow("view only") << false << false << QByteArray("<h1>Faster tracing.</h1>") << "" << version;
    QTest::newRow("install, server caption, missing page")
        << true << false << QByteArray() << server << server + version;
    QTest::newRow("fallback viewer takes no input")
        << false << true << QByteArray("<p>Fallback text</p>") << "" << version;
}

void TestReleaseNotes::viewer()
{
    QFETCH(bool, installMode);
    QFETCH(bool, fallback);
    QFETCH(QByteArray, page);
    QFETCH(QString, prefix);
    QFETCH(QString, caption);

    const QString path = m_dir.filePath("LatestUpdate.html");
    QFile::remove(path);
    QVERIFY(page.isEmpty() || writeFile(path, page));

    ScriptedPrompt prompt;
    std::unique_ptr<CReleaseNotesDlg> dialog =
        fallback ? std::make_unique<NoPrimaryViewerDlg>(prompt) : std::make_unique<CReleaseNotesDlg>(prompt);
    dialog->setInstallMode(installMode);
    dialog->setCaptionPrefix(prefix.toStdString());
    dialog->setPagePath(path.toStdString());
    dialog->show();
    QCOMPARE(dialog->windowTitle(), caption);
    for (const char *name : {"installNewButton", "installAllButton", "restoreButton", "exitButton"})
        QCOMPARE(dialog->findChild<QPushButton *>(name)->isVisible(), installMode);
    QCOMPARE(prompt.boxes().size(), std::size_t(0)); // a missing page is the viewer's business

    auto *viewer = qobject_cast<QTextEdit *>(dialog->pageViewer()); // or its subclass QTextBrowser
    QVERIFY(viewer);
    QCOMPARE(qobject_cast<QTextBrowser *>(viewer) == nullptr, fallback);
    QCOMPARE(viewer->isEnabled(), !fallback);
    QVERIFY(viewer->isReadOnly());
    QVERIFY(viewer->toPlainText().contains(QTextDocumentFragment::fromHtml(page).toPlainText()));
}

void TestReleaseNotes::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("program"); // folder "/" name
    QTest::addColumn<QString>("release"); // null: the choice is abandoned
    QTest::addColumn<bool>("confirm");
    // The installer's words before the program path; none: nothing is
    // started and the host runs on.
    QTest::addColumn<QStringList>("words");

    const QStringList server{"Spelmar/Updates"};
    QTest::newRow("new files") << "installNew"
                               << "/opt/tools/spelmar"
                               << "" << true << server;
    QTest::newRow("folder with blanks") << "installNew"
                                        << "/opt/My Tools/spelmar"
                                        << "" << true << server;
    QTest::newRow("no program name") << "installNew"
                                     << "/opt/tools/"
                                     << "" << true << server;
    QTest::newRow("all files") << "installAll"
                               << "/opt/tools/spelmar"
                               << "" << true << QStringList{"instcomplete", server[0]};
    QTest::newRow("restore") << "restore"
                             << "/opt/tools/spelmar"
                             << "201403151200" << true << QStringList{"REST=201403151200"};
    QTest::newRow("new files, cancelled") << "installNew"
                                          << "/opt/tools/spelmar"
                                          << "" << false << QStringList();
    QTest::newRow("all files, cancelled") << "installAll"
                                          << "/opt/tools/spelmar"
                                          << "" << false << QStringList();
    QTest::newRow("restore abandoned") << "restore"
                                       << "/opt/tools/spelmar" << QString() << true << QStringList();
}

void TestReleaseNotes::buttons()
{
    QFETCH(QString, button);
    QFETCH(QString, program);
    QFETCH(QString, release);
    QFETCH(bool, confirm);
    QFETCH(QStringList, words);

    const auto boxText = [](const std::string &what, const std::string &tail = {}) {
        return " Attention!!\n----------------------------------------------------------\n\n" + what
            + " to stop the running application!\n" + tail;
    };
    const std::map<QString, std::string> boxTexts{
        {"installNew", boxText(" To install the new software release it is necessary\n")},
        {"installAll", boxText(" To install ALL files from NORVANE server it is necessary\n", "\n")},
        {"restore", boxText(" To install the old software release it is necessary\n")}};

    ScriptedPrompt prompt;
    prompt.queueAnswer(confirm ? IPrompt::Answer::Ok : IPrompt::Answer::Cancel);
    CReleaseNotesDlg dialog(prompt);
    const QString folder = program.section('/', 0, -2);
    dialog.setInstallMode(true);
    dialog.setServerPath("Spelmar/Updates");
    dialog.setProgramFolder(folder.toStdString());
    dialog.setProgramName(program.section('/', -1).toStdString());
    std::string chooserFolder = folder.toStdString();
    dialog.setRestoreChooser([&](const std::string &programFolder, std::string &chosen) {
        chooserFolder = programFolder;
        chosen = release.toStdString();
        return !release.isNull();
    });
    dialog.show();
    auto *pushButton = dialog.findChild<QPushButton *>(button + "Button");
    const int loopResult = hostLoopResult([pushButton] { pushButton->click(); });

    const auto boxes = prompt.boxes();
    QCOMPARE(boxes.size(), std::size_t(release.isNull() ? 0 : 1));
    for (const auto &box : boxes) {
        QCOMPARE(box.text, boxTexts.at(button));
        QVERIFY(box.buttons == IPrompt::Buttons::OkCancel && box.icon == IPrompt::Icon::Warning);
    }
    QCOMPARE(QString::fromStdString(chooserFolder), folder);
    // 0: the host was told to quit; 99: it keeps running.
    QCOMPARE(loopResult, words.isEmpty() ? 99 : 0);
    if (words.isEmpty())
        QVERIFY(!QFile::exists(m_record));
    else
        QCOMPARE(recordedArguments(), words << program);
}

void TestReleaseNotes::commandWords()
{
    // A program named with a folder is taken as it is; a missing one is
    // not started.
    QVERIFY(!LaunchInstaller({m_dir.filePath("no-such-program")}));
    QVERIFY(!LaunchInstaller({}));
    QCOMPARE(findProgram("Quennet"), m_dir.filePath("Quennet"));
    QVERIFY(LaunchInstaller({m_dir.filePath("Quennet"), "a b", ""}));
    QCOMPARE(recordedArguments(), (QStringList{"a b", ""}));
}

// An installer that cannot be started is said so, and the host runs on.
void TestReleaseNotes::installerMissing()
{
    const QString installer = m_dir.filePath("Quennet");
    QVERIFY(QFile::rename(installer, installer + ".away"));
    ScriptedPrompt prompt;
    prompt.queueAnswer(IPrompt::Answer::Ok);
    CReleaseNotesDlg dialog(prompt);
    dialog.setInstallMode(true);
    dialog.setServerPath("Spelmar/Updates");
    dialog.setProgramFolder(m_dir.path().toStdString());
    dialog.setProgramName("spelmar");
    dialog.show();
    auto *button = dialog.findChild<QPushButton *>("installNewButton");
    const int loopResult = hostLoopResult([button] { button->click(); });
    QVERIFY(QFile::rename(installer + ".away", installer));

    QCOMPARE(loopResult, 99);
    const auto boxes = prompt.boxes();
    QCOMPARE(boxes.size(), std::size_t(2));
    QVERIFY2(boxes[1].text.rfind(" The installer could not be started!\n", 0) == 0
                 && boxes[1].text.find("Quennet was not found") != std::string::npos,
             boxes[1].text.c_str());
    QVERIFY(boxes[1].icon == IPrompt::Icon::Stop);
}

QTEST_MAIN(TestReleaseNotes)
#include "tst_updater_ui_releasenotes.moc"
