// The release-notes window: the fallback page viewer, the three installer
// buttons with their boxes and command lines, and the host's quit. The
// restore window that its restore button opens: the file columns and their
// slider, the old-release warnings and the choice it hands back.
#include "launchinstaller.h"
#include "releasenotesdlg.h"
#include "restoredlg.h"
#include "scriptedprompt.h"
#include "testfiles.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

namespace {

// A window whose primary viewer cannot be made.
class NoPrimaryViewerDlg : public CReleaseNotesDlg
{
public:
    using CReleaseNotesDlg::CReleaseNotesDlg;

protected:
    bool createPrimaryViewer() override { return false; }
};

std::string attention(const std::string &what, const std::string &tail = {})
{
    return " Attention!!\n----------------------------------------------------------\n\n" + what
        + " to stop the running application!\n" + tail;
}

} // namespace

class TestReleaseNotes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QFile::remove(m_record); }
    void fallbackViewer();
    void buttons_data();
    void buttons();
    void installerMissing();
    void restoreColumns();
    void restoreChoice_data();
    void restoreChoice();

private:
    QListWidget *openReleases(CRestoreDlg &dialog, const QString &folder = "program");
    QStringList recordedArguments();
    // Clicks the button of a window in install mode for program (release
    // chosen for a restore, "-" to abandon the choice), then runs
    // the application's loop as a host does: 0 when the window told the
    // host to quit (taken on the loop's first pass), else 99 after a while.
    int clickInstall(ScriptedPrompt &prompt, const QString &button, const QString &program,
                     const QString &release = {});

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

    // Releases of the day before restore support came and of the day it came.
    QVERIFY(writeFile(m_dir.filePath("program/201003281200/old.txt")));
    QVERIFY(writeFile(m_dir.filePath("program/201003291200/a.txt")));
    QVERIFY(writeFile(m_dir.filePath("program/201403151200/a.txt")));
    QVERIFY(writeFile(m_dir.filePath("program/201403151200/RelInfoLocal.rel"), "a.txt;1.02.00\r\n"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(writeFile(m_dir.filePath(QString("program/201406301200/file%1.txt").arg(i))));
}

QStringList TestReleaseNotes::recordedArguments()
{
    if (!QTest::qWaitFor([this] { return QFile::exists(m_record); }, 60000))
        return {"<installer not started>"};
    QStringList lines = QString::fromUtf8(readFile(m_record)).split('\n');
    lines.removeLast();
    return lines;
}

int TestReleaseNotes::clickInstall(ScriptedPrompt &prompt, const QString &button, const QString &program,
                                   const QString &release)
{
    const std::string folder = program.section('/', 0, -2).toStdString();
    CReleaseNotesDlg dialog(prompt);
    dialog.setInstallMode(true);
    dialog.setServerPath("Spelmar/Updates");
    dialog.setProgramFolder(folder);
    dialog.setProgramName(program.section('/', -1).toStdString());
    dialog.setRestoreChooser([&](const std::string &programFolder, std::string &chosen) {
        chosen = release.toStdString();
        return release != "-" && programFolder == folder;
    });
    dialog.show();
    dialog.findChild<QPushButton *>(button + "Button")->click();
    QTimer patience; // gone with this call, so it cannot end a later loop
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    patience.start(500);
    return QCoreApplication::exec();
}

void TestReleaseNotes::fallbackViewer()
{
    const QString path = m_dir.filePath("LatestUpdate.html");
    QVERIFY(writeFile(path, "<p>Fallback text</p>"));
    ScriptedPrompt prompt;
    NoPrimaryViewerDlg dialog(prompt);
    dialog.setPagePath(path.toStdString());
    dialog.show();
    auto *viewer = qobject_cast<QTextEdit *>(dialog.pageViewer());
    QVERIFY(viewer && !qobject_cast<QTextBrowser *>(viewer));
    QVERIFY(!viewer->isEnabled() && viewer->isReadOnly());
    QVERIFY(viewer->toPlainText().contains("Fallback text"));
    QCOMPARE(prompt.boxes().size(), std::size_t(0));
}

void TestReleaseNotes::buttons_data()
{
    // Button|program folder "/" name|release chosen ("-": the choice is
    // abandoned)|answer to the box|the installer's words before the program
    // path (none: nothing is started and the host runs on).
    QTest::addColumn<QString>("run");
    QTest::newRow("new files, folder with blanks") << "installNew|/opt/My Tools/spelmar||ok|Spelmar/Updates";
    QTest::newRow("no program name") << "installNew|/opt/tools/||ok|Spelmar/Updates";
    QTest::newRow("all files") << "installAll|/opt/tools/spelmar||ok|instcomplete Spelmar/Updates";
    QTest::newRow("restore") << "restore|/opt/tools/spelmar|201403151200|ok|REST=201403151200";
    QTest::newRow("all files, cancelled") << "installAll|/opt/tools/spelmar||cancel|";
    QTest::newRow("restore abandoned") << "restore|/opt/tools/spelmar|-|ok|";
    // No "REST=" run for nothing.
    QTest::newRow("restore, no release chosen") << "restore|/opt/tools/spelmar||ok|";
}

void TestReleaseNotes::buttons()
{
    QFETCH(QString, run);
    const QStringList parts = run.split('|');
    const QString button = parts[0], program = parts[1], release = parts[2];
    QStringList words = parts[4].split(' ', Qt::SkipEmptyParts);
    ScriptedPrompt prompt;
    prompt.queueAnswer(parts[3] == "ok" ? IPrompt::Answer::Ok : IPrompt::Answer::Cancel);
    const int loopResult = clickInstall(prompt, button, program, release);
    const auto boxes = prompt.boxes();
    const bool noRestore = button == "restore" && (release == "-" || release.isEmpty());
    QCOMPARE(boxes.size(), std::size_t(noRestore ? 0 : 1));
    for (const auto &box : boxes) {
        QCOMPARE(box.text,
                 button == "installNew" ? attention(" To install the new software release it is necessary\n")
                     : button == "installAll"
                     ? attention(" To install ALL files from NORVANE server it is necessary\n", "\n")
                     : attention(" To install the old software release it is necessary\n"));
        QVERIFY(box.buttons == IPrompt::Buttons::OkCancel && box.icon == IPrompt::Icon::Warning);
    }
    QCOMPARE(loopResult, words.isEmpty() ? 99 : 0);
    if (words.isEmpty())
        QVERIFY(!QFile::exists(m_record));
    else
        QCOMPARE(recordedArguments(), words << program);
}

// An installer that cannot be started is said so, and the host runs on.
void TestReleaseNotes::installerMissing()
{
    const QString installer = m_dir.filePath("Quennet");
    QVERIFY(QFile::rename(installer, installer + ".away"));
    ScriptedPrompt prompt;
    prompt.queueAnswer(IPrompt::Answer::Ok);
    const int loopResult = clickInstall(prompt, "installNew", m_dir.filePath("spelmar"));
    QVERIFY(QFile::rename(installer + ".away", installer));
    QCOMPARE(loopResult, 99);
    const auto boxes = prompt.boxes();
    QCOMPARE(boxes.size(), std::size_t(2));
    QVERIFY2(boxes[1].text.rfind(" The installer could not be started!\n", 0) == 0
                 && boxes[1].text.find("Quennet was not found") != std::string::npos,
             boxes[1].text.c_str());
    QVERIFY(boxes[1].icon == IPrompt::Icon::Stop);
}

QListWidget *TestReleaseNotes::openReleases(CRestoreDlg &dialog, const QString &folder)
{
    QDir(m_dir.path()).mkpath(folder);
    dialog.setProgramFolder(m_dir.filePath(folder).toStdString());
    dialog.show();
    auto *list = dialog.findChild<QListWidget *>("releaseList");
    auto *files = dialog.findChild<QLabel *>("filesColumn");
    // Filled, or told that the folder keeps none.
    return QTest::qWaitFor([list, files] { return list->count() > 0 || files->text() != "---"; }, 60000)
        ? list
        : nullptr;
}

void TestReleaseNotes::restoreColumns()
{
    ScriptedPrompt prompt;
    CRestoreDlg dialog(prompt);
    QListWidget *list = openReleases(dialog);
    QVERIFY(list);
    QCOMPARE(list->count(), 4); // the texts are the release list's
    QVERIFY(list->selectedItems().isEmpty());

    // Revisions from the folder's own RelInfoLocal.rel.
    auto *files = dialog.findChild<QLabel *>("filesColumn");
    auto *revisions = dialog.findChild<QLabel *>("revisionsColumn");
    list->setCurrentRow(2);
    QCOMPARE(files->text(), QString("RelInfoLocal.rel\na.txt\n"));
    QCOMPARE(revisions->text(), QString("-\n1.02.00\n"));

    list->setCurrentRow(3);
    auto *slider = dialog.findChild<QSlider *>("fileSlider");
    QVERIFY(files->text().startsWith("file0.txt\nfile1.txt\n"));
    QCOMPARE(slider->maximum(), 9);
    QCOMPARE(revisions->text(), QString("-\n").repeated(10));
    // Moved without release: the columns follow within the refresh period.
    slider->setValue(3);
    QTRY_VERIFY_WITH_TIMEOUT(files->text().startsWith("file3.txt\n"), 60000);
    QCOMPARE(files->text().count('\n'), 7);
    QCOMPARE(revisions->text(), QString("-\n").repeated(7));
    QCOMPARE(prompt.boxes().size(), std::size_t(0));
}

void TestReleaseNotes::restoreChoice_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<IPrompt::Answer>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("release");
    QTest::addColumn<bool>("warned"); // on selection and again on accepting
    // Without a choice "Restore" says why and the dialog stays.
    QTest::newRow("nothing selected") << -1 << IPrompt::Answer::Yes << false << "" << false;
    QTest::newRow("none kept") << -2 << IPrompt::Answer::Yes << false << "" << false;
    QTest::newRow("first day with restore") << 1 << IPrompt::Answer::Yes << true << "201003291200" << false;
    QTest::newRow("day before, yes") << 0 << IPrompt::Answer::Yes << true << "201003281200" << true;
    QTest::newRow("day before, no") << 0 << IPrompt::Answer::No << false << "" << true;
}

void TestReleaseNotes::restoreChoice()
{
    QFETCH(int, row);
    QFETCH(IPrompt::Answer, answer);
    QFETCH(bool, accepted);
    QFETCH(QString, release);
    QFETCH(bool, warned);

    ScriptedPrompt prompt;
    prompt.queueAnswer(IPrompt::Answer::Ok); // the selection warning
    prompt.queueAnswer(answer);
    CRestoreDlg dialog(prompt);
    QListWidget *list = openReleases(dialog, row == -2 ? "empty" : "program");
    QVERIFY(list);
    auto *restoreButton = dialog.findChild<QPushButton *>("restoreButton");
    QVERIFY(!restoreButton->isEnabled());
    if (row >= 0)
        list->setCurrentRow(row);
    QCOMPARE(restoreButton->isEnabled(), row >= 0);
    dialog.accept();
    QCOMPARE(dialog.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(dialog.isVisible(), row < 0);
    QCOMPARE(QString::fromStdString(dialog.chosenRelease()), release);
    const auto boxes = prompt.boxes();
    if (row < 0) {
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].text,
                 row == -2 ? std::string(" No older release is kept: there is nothing to restore.\n")
                           : std::string(" Choose the release to restore in the list.\n"));
        QCOMPARE(dialog.findChild<QLabel *>("filesColumn")->text().startsWith("No older release is kept"),
                 row == -2);
        return;
    }
    QCOMPARE(boxes.size(), std::size_t(warned ? 2 : 0));
    const std::string warning =
        "This release does not support restore functionality!\n"
        "If you choose and restore this release, no other revisions can be restored.\n\n";
    if (warned) {
        QVERIFY(boxes[0].text == warning && boxes[0].buttons == IPrompt::Buttons::Ok);
        QVERIFY(boxes[1].text == warning + "Press <YES> to continue, or <NO> to cancel this action\n"
                && boxes[1].buttons == IPrompt::Buttons::YesNo);
    }
}

QTEST_MAIN(TestReleaseNotes)
#include "tst_updater_ui_releasenotes.moc"
