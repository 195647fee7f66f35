// The release-notes window: captions, page viewers, the three installer
// buttons with their boxes and command lines, and the host's quit.
#include "launchinstaller.h"
#include "releasenotesdlg.h"
#include "scriptedprompt.h"

#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const std::string kRule = "----------------------------------------------------------\n";
const std::string kAttention = " Attention!!\n" + kRule + "\n";

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
    void init();

    void captions_data();
    void captions();
    void showsThePage();
    void fallbackViewerTakesNoInput();

    void buttons_data();
    void buttons();
    void restoreAbandoned();

    void commandWords();

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
    const QString script = m_dir.filePath("Quennet");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + m_record.toUtf8()
               + ".part'\nmv '" + m_record.toUtf8() + ".part' '" + m_record.toUtf8() + "'\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("PATH", QFile::encodeName(m_dir.path()) + ":" + qgetenv("PATH"));
}

void TestReleaseNotes::init()
{
    QFile::remove(m_record);
}

QStringList TestReleaseNotes::recordedArguments()
{
    if (!QTest::qWaitFor([this] { return QFile::exists(m_record); }, 60000))
        return {"<installer not started>"};
    QFile file(m_record);
    if (!file.open(QIODevice::ReadOnly))
        return {"<unreadable>"};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    lines.removeLast();
    return lines;
}

void TestReleaseNotes::captions_data()
{
    QTest::addColumn<bool>("installMode");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("caption");

    QTest::newRow("view only") << false << "" << "Moravel Release Notes Version: 3.0.0";
    QTest::newRow("install, server caption")
        << true << " <<<  Last Software Updates on <h>  (NORVANE AG Westmark)  >>>"
        << " <<<  Last Software Updates on <h>  (NORVANE AG Westmark)  >>>"
           "Moravel Release Notes Version: 3.0.0";
}

void TestReleaseNotes::captions()
{
    QFETCH(bool, installMode);
    QFETCH(QString, prefix);
    QFETCH(QString, caption);

    ScriptedPrompt prompt;
    CReleaseNotesDlg dialog(prompt);
    dialog.setInstallMode(installMode);
    dialog.setCaptionPrefix(prefix.toStdString());
    dialog.setPagePath(m_dir.filePath("missing.html").toStdString());
    dialog.show();
    QCOMPARE(dialog.windowTitle(), caption);
    for (const char *name : {"installNewButton", "installAllButton", "restoreButton", "exitButton"})
        QCOMPARE(dialog.findChild<QPushButton *>(name)->isVisible(), installMode);
    QCOMPARE(prompt.count(), std::size_t(0)); // a missing page is the viewer's business
}

void TestReleaseNotes::showsThePage()
{
    const QString page = m_dir.filePath("LatestUpdate.html");
    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html><body><h1>Release 3.01.02</h1><p>Faster tracing.</p></body></html>");
    file.close();

    ScriptedPrompt prompt;
    CReleaseNotesDlg dialog(prompt);
    dialog.setPagePath(page.toStdString());
    dialog.show();
    auto *viewer = qobject_cast<QTextBrowser *>(dialog.pageViewer());
    QVERIFY(viewer);
    QVERIFY(viewer->isEnabled());
    QVERIFY(viewer->toPlainText().contains("Faster tracing."));
}

void TestReleaseNotes::fallbackViewerTakesNoInput()
{
    const QString page = m_dir.filePath("notes.html");
    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<p>Fallback text</p>");
    file.close();

    ScriptedPrompt prompt;
    NoPrimaryViewerDlg dialog(prompt);
    dialog.setPagePath(page.toStdString());
    dialog.show();
    auto *viewer = qobject_cast<QTextEdit *>(dialog.pageViewer());
    QVERIFY(viewer);
    QVERIFY(!viewer->isEnabled());
    QVERIFY(viewer->isReadOnly());
    QVERIFY(viewer->toPlainText().contains("Fallback text"));
}

void TestReleaseNotes::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("programName");
    QTest::addColumn<QString>("release");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<QStringList>("arguments");

    const QString newText = QString::fromStdString(
        kAttention + " To install the new software release it is necessary\n"
                     " to stop the running application!\n");
    const QString allText = QString::fromStdString(
        kAttention + " To install ALL files from NORVANE server it is necessary\n"
                     " to stop the running application!\n\n");
    const QString oldText = QString::fromStdString(
        kAttention + " To install the old software release it is necessary\n"
                     " to stop the running application!\n");

    QTest::newRow("new files") << "installNewButton" << "/opt/tools" << "spelmar" << "" << true
                               << newText
                               << QStringList{"Spelmar/Updates", "/opt/tools/spelmar"};
    QTest::newRow("folder with blanks") << "installNewButton" << "/opt/My Tools" << "spelmar" << ""
                                        << true << newText
                                        << QStringList{"Spelmar/Updates", "/opt/My Tools/spelmar"};
    QTest::newRow("no program name") << "installNewButton" << "/opt/tools" << "" << "" << true
                                     << newText << QStringList{"Spelmar/Updates", "/opt/tools/"};
    QTest::newRow("all files") << "installAllButton" << "/opt/tools" << "spelmar" << "" << true
                               << allText
                               << QStringList{"instcomplete", "Spelmar/Updates", "/opt/tools/spelmar"};
    QTest::newRow("restore") << "restoreButton" << "/opt/tools" << "spelmar" << "201403151200"
                             << true << oldText
                             << QStringList{"REST=201403151200", "/opt/tools/spelmar"};
    QTest::newRow("restore, nothing selected") << "restoreButton" << "/opt/tools" << "spelmar" << ""
                                               << true << oldText
                                               << QStringList{"REST=", "/opt/tools/spelmar"};
    QTest::newRow("new files, cancelled") << "installNewButton" << "/opt/tools" << "spelmar" << ""
                                          << false << newText << QStringList();
    QTest::newRow("all files, cancelled") << "installAllButton" << "/opt/tools" << "spelmar" << ""
                                          << false << allText << QStringList();
}

void TestReleaseNotes::buttons()
{
    QFETCH(QString, button);
    QFETCH(QString, programFolder);
    QFETCH(QString, programName);
    QFETCH(QString, release);
    QFETCH(bool, confirm);
    QFETCH(QString, boxText);
    QFETCH(QStringList, arguments);

    ScriptedPrompt prompt;
    prompt.queueAnswer(confirm ? IPrompt::Answer::Ok : IPrompt::Answer::Cancel);
    CReleaseNotesDlg dialog(prompt);
    dialog.setInstallMode(true);
    dialog.setServerPath("Spelmar/Updates");
    dialog.setProgramFolder(programFolder.toStdString());
    dialog.setProgramName(programName.toStdString());
    std::string chooserFolder;
    dialog.setRestoreChooser([&](const std::string &folder, std::string &chosen) {
        chooserFolder = folder;
        chosen = release.toStdString();
        return true;
    });
    dialog.show();
    auto *pushButton = dialog.findChild<QPushButton *>(button);
    const int loopResult = hostLoopResult([pushButton] { pushButton->click(); });

    const auto boxes = prompt.boxes();
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(boxes[0].text), boxText);
    QVERIFY(boxes[0].buttons == IPrompt::Buttons::OkCancel);
    QVERIFY(boxes[0].icon == IPrompt::Icon::Warning);
    if (button == "restoreButton")
        QCOMPARE(QString::fromStdString(chooserFolder), programFolder);

    if (confirm) {
        QCOMPARE(loopResult, 0); // the host was told to quit
        QCOMPARE(recordedArguments(), arguments);
    } else {
        QCOMPARE(loopResult, 99); // the host keeps running
        QVERIFY(!QFile::exists(m_record));
    }
}

void TestReleaseNotes::restoreAbandoned()
{
    ScriptedPrompt prompt;
    CReleaseNotesDlg dialog(prompt);
    dialog.setInstallMode(true);
    dialog.setRestoreChooser([](const std::string &, std::string &) { return false; });
    dialog.show();
    auto *button = dialog.findChild<QPushButton *>("restoreButton");
    QCOMPARE(hostLoopResult([button] { button->click(); }), 99);
    QCOMPARE(prompt.count(), std::size_t(0));
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

QTEST_MAIN(TestReleaseNotes)
#include "tst_updater_ui_releasenotes.moc"
