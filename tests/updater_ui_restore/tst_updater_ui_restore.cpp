// The restore window: which folders are releases, the file columns and
// their slider, the old-release warnings and the choice it hands back.
#include "restoredlg.h"
#include "scriptedprompt.h"
#include "testfiles.h"

#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const std::string kOldWarning =
    "This release does not support restore functionality!\n"
    "If you choose and restore this release, no other revisions can be restored.\n\n";

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listAndColumns();
    void choice_data();
    void choice();

private:
    QListWidget *openList(CRestoreDlg &dialog);

    QTemporaryDir m_folder;
};

void TestRestore::initTestCase()
{
    QVERIFY(m_folder.isValid());
    // The day before restore support came, and the day it came.
    QVERIFY(writeFile(m_folder.filePath("201003281200/old.txt")));
    QVERIFY(writeFile(m_folder.filePath("201003291200/a.txt")));
    QVERIFY(writeFile(m_folder.filePath("201403151200/a.txt")));
    QVERIFY(writeFile(m_folder.filePath("201403151200/RelInfoLocal.rel"), "a.txt;1.02.00\r\n"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(writeFile(m_folder.filePath(QString("201406301200/file%1.txt").arg(i))));
}

QListWidget *TestRestore::openList(CRestoreDlg &dialog)
{
    dialog.setProgramFolder(m_folder.path().toStdString());
    dialog.show();
    auto *list = dialog.findChild<QListWidget *>("releaseList");
    return QTest::qWaitFor([list] { return list->count() > 0; }, 60000) ? list : nullptr;
}

void TestRestore::listAndColumns()
{
    ScriptedPrompt prompt;
    CRestoreDlg dialog(prompt);
    QListWidget *list = openList(dialog);
    QVERIFY(list);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->item(i)->text();
    QCOMPARE(shown,
             (QStringList{"2010-03-28   (12:00)", "2010-03-29   (12:00)", "2014-03-15   (12:00)",
                          "2014-06-30   (12:00)"}));
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

void TestRestore::choice_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<IPrompt::Answer>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("release");
    QTest::addColumn<bool>("warned"); // on selection and again on accepting

    QTest::newRow("nothing selected") << -1 << IPrompt::Answer::Yes << true << "" << false;
    QTest::newRow("first day with restore") << 1 << IPrompt::Answer::Yes << true << "201003291200" << false;
    QTest::newRow("day before, yes") << 0 << IPrompt::Answer::Yes << true << "201003281200" << true;
    QTest::newRow("day before, no") << 0 << IPrompt::Answer::No << false << "" << true;
}

void TestRestore::choice()
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
    QListWidget *list = openList(dialog);
    QVERIFY(list);
    if (row >= 0)
        list->setCurrentRow(row);
    dialog.accept();
    QCOMPARE(dialog.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(QString::fromStdString(dialog.chosenRelease()), release);
    const auto boxes = prompt.boxes();
    QCOMPARE(boxes.size(), std::size_t(warned ? 2 : 0));
    if (warned) {
        QCOMPARE(boxes[0].text, kOldWarning);
        QVERIFY(boxes[0].buttons == IPrompt::Buttons::Ok);
        QCOMPARE(boxes[1].text, kOldWarning + "Press <YES> to continue, or <NO> to cancel this action\n");
        QVERIFY(boxes[1].buttons == IPrompt::Buttons::YesNo);
    }
}

QTEST_MAIN(TestRestore)
#include "tst_updater_ui_restore.moc"
