// The restore window: which folders are releases, the file columns and
// their slider, the old-release warnings and the choice it hands back.
#include "restoredlg.h"
#include "scriptedprompt.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const std::string kOldWarning =
    "This release does not support restore functionality!\n"
    "If you choose and restore this release, no other revisions can be restored.\n\n";

bool writeFile(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsOnlyReleases();
    void columnsFollowTheSlider();
    void choice_data();
    void choice();

private:
    QListWidget *openList(CRestoreDlg &dialog);

    QTemporaryDir m_folder;
};

void TestRestore::initTestCase()
{
    QVERIFY(m_folder.isValid());
    QVERIFY(writeFile(m_folder.filePath("201001011200/old.txt")));
    QVERIFY(writeFile(m_folder.filePath("201403151200/a.txt")));
    QVERIFY(writeFile(m_folder.filePath("201403151200/RelInfoLocal.rel"), "a.txt;1.02.00\r\n"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(writeFile(m_folder.filePath(QString("201406301200/file%1.txt").arg(i))));
    // Not releases: ten characters, a year 19.., a plain file.
    QVERIFY(QDir(m_folder.path()).mkdir("2014031512"));
    QVERIFY(QDir(m_folder.path()).mkdir("199901011200"));
    QVERIFY(writeFile(m_folder.filePath("201405011200")));
}

QListWidget *TestRestore::openList(CRestoreDlg &dialog)
{
    dialog.setProgramFolder(m_folder.path().toStdString());
    dialog.show();
    auto *list = dialog.findChild<QListWidget *>("releaseList");
    if (!QTest::qWaitFor([list] { return list->count() > 0; }, 60000))
        return nullptr;
    return list;
}

void TestRestore::listsOnlyReleases()
{
    ScriptedPrompt prompt;
    CRestoreDlg dialog(prompt);
    QListWidget *list = openList(dialog);
    QVERIFY(list);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->item(i)->text();
    QCOMPARE(shown, (QStringList{"2010-01-01   (12:00)", "2014-03-15   (12:00)",
                                 "2014-06-30   (12:00)"}));
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(dialog.windowTitle(), QString("  NORVANE  software restoring"));

    // Selecting a release from before 29 March 2010 warns once.
    list->setCurrentRow(0);
    QCOMPARE(prompt.count(), std::size_t(1));
    QCOMPARE(prompt.boxes()[0].text, kOldWarning);
    QVERIFY(prompt.boxes()[0].buttons == IPrompt::Buttons::Ok);

    // Revisions from the folder's own RelInfoLocal.rel.
    list->setCurrentRow(1);
    QCOMPARE(prompt.count(), std::size_t(1));
    QCOMPARE(dialog.findChild<QLabel *>("filesColumn")->text(), QString("RelInfoLocal.rel\na.txt\n"));
    QCOMPARE(dialog.findChild<QLabel *>("revisionsColumn")->text(), QString("-\n1.02.00\n"));
}

void TestRestore::columnsFollowTheSlider()
{
    ScriptedPrompt prompt;
    CRestoreDlg dialog(prompt);
    QListWidget *list = openList(dialog);
    QVERIFY(list);
    list->setCurrentRow(2);
    auto *files = dialog.findChild<QLabel *>("filesColumn");
    auto *revisions = dialog.findChild<QLabel *>("revisionsColumn");
    auto *slider = dialog.findChild<QSlider *>("fileSlider");
    QVERIFY(files->text().startsWith("file0.txt\nfile1.txt\n"));
    QCOMPARE(slider->maximum(), 9);
    QCOMPARE(revisions->text(), QString("-\n").repeated(10));

    // Moved without release: the columns follow within the refresh period.
    slider->setValue(3);
    QTRY_VERIFY_WITH_TIMEOUT(files->text().startsWith("file3.txt\n"), 60000);
    QCOMPARE(files->text().count('\n'), 7);
    QCOMPARE(revisions->text(), QString("-\n").repeated(7));
}

void TestRestore::choice_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<IPrompt::Answer>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("release");
    QTest::addColumn<int>("boxes");

    QTest::newRow("nothing selected") << -1 << IPrompt::Answer::Yes << true << "" << 0;
    QTest::newRow("new release") << 2 << IPrompt::Answer::Yes << true << "201406301200" << 0;
    QTest::newRow("old release, yes") << 0 << IPrompt::Answer::Yes << true << "201001011200" << 2;
    QTest::newRow("old release, no") << 0 << IPrompt::Answer::No << false << "" << 2;
}

void TestRestore::choice()
{
    QFETCH(int, row);
    QFETCH(IPrompt::Answer, answer);
    QFETCH(bool, accepted);
    QFETCH(QString, release);
    QFETCH(int, boxes);

    ScriptedPrompt prompt;
    prompt.queueAnswer(IPrompt::Answer::Ok); // the selection warning
    prompt.queueAnswer(answer);
    CRestoreDlg dialog(prompt);
    QListWidget *list = openList(dialog);
    QVERIFY(list);
    if (row >= 0)
        list->setCurrentRow(row);
    dialog.accept();
    QCOMPARE(dialog.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(QString::fromStdString(dialog.chosenRelease()), release);
    QCOMPARE(prompt.count(), std::size_t(boxes));
    if (boxes == 2) {
        QCOMPARE(prompt.boxes()[1].text,
                 kOldWarning + "Press <YES> to continue, or <NO> to cancel this action\n");
        QVERIFY(prompt.boxes()[1].buttons == IPrompt::Buttons::YesNo);
    }
}

QTEST_MAIN(TestRestore)
#include "tst_updater_ui_restore.moc"
