#include "releaselist.h"
#include "restorejob.h"
#include "updatetestsupport.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kJanuary = QStringLiteral("201401011000");
const QString kMarch = QStringLiteral("201403151200");
const QString kJune = QStringLiteral("201406301800");
const Files kInstalled{
    {"Spelmar.exe", "current"}, {"Moravel.so", "current lib"}, {"RelInfoLocal.rel", "current rel"}};

QString ok(const QString &source)
{
    return "  ok!    " + source;
}

} // namespace

class TestEngineRestore : public QObject
{
    Q_OBJECT

private slots:
    void listReleases();
    void restore_data();
    void restore();
};

// Release folders are listed oldest first; other names are left out.
void TestEngineRestore::listReleases()
{
    QTemporaryDir program;
    for (const QString &folder :
         {kJune, QStringLiteral("2014080107"), QStringLiteral("200912312359"), kJanuary})
        QVERIFY(QDir(program.path()).mkdir(folder));
    writeFile(program.filePath("201405050505"), "x");

    ReleaseList list;
    QVERIFY(ListReleases(list, program.path().toStdString()));
    QStringList got;
    for (std::size_t row = 0; row < list.size(); ++row)
        got << QString::fromStdString(list.names[row] + "\t" + list.displays[row])
                + (isOldRelease(list.names[row]) ? " old" : "");
    // " old": from before restore was supported.
    QCOMPARE(got,
             (QStringList{"200912312359\t2009-12-31   (23:59) old", kJanuary + "\t2014-01-01   (10:00)",
                          kJune + "\t2014-06-30   (18:00)"}));
}

void TestEngineRestore::restore_data()
{
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("blocked");  // a target that is a folder, so its copy fails
    QTest::addColumn<QString>("cancelAt"); // "abort" when this line appears
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Files>("after"); // program files outside the releases
    QTest::addColumn<bool>("allCopied");

    const QStringList start{"... Preparing restore from directory!"};
    const QStringList end{"   ", "  End of restore procedure!! "};
    const QStringList june{ok(kJune + "/RelInfoLocal.rel"), ok(kJune + "/Spelmar.exe")};
    const QStringList march{ok(kMarch + "/Moravel.so"), ok(kMarch + "/Spelmar.exe")};
    const QStringList january{ok(kJanuary + "/Help.txt"), ok(kJanuary + "/RelInfoLocal.rel"),
                              ok(kJanuary + "/Spelmar.exe")};

    QTest::newRow("oldest of three") << kJanuary << QString() << QString()
                                     << start + QStringList{"---- start restore to " + kJanuary} + june
            + march + january + end
                                     << Files{{"Spelmar.exe", "jan exe"},
                                              {"Moravel.so", "mar lib"},
                                              {"RelInfoLocal.rel", "jan rel"},
                                              {"Help.txt", "jan help"}}
                                     << true;
    QTest::newRow("no such release") << "201402020202" << QString() << QString() << start + end << kInstalled
                                     << false;
    QTest::newRow("release name of another form")
        << "../" + kJune << QString() << QString() << start + end << kInstalled << false;
    // Only the chosen release and the newer ones count.
    QTest::newRow("a file that cannot be copied")
        << kMarch << "Moravel.so" << QString()
        << start + QStringList{"---- start restore to " + kMarch} + june
            + QStringList{" fail!    " + kMarch + "/Moravel.so", march[1]} + end
        << Files{{"Spelmar.exe", "mar exe"}, {"RelInfoLocal.rel", "jun rel"}} << false;
    QTest::newRow("aborted") << kJanuary << QString() << " restore -> " + kMarch + "/Moravel.so"
                             << start + QStringList{"---- start restore to " + kJanuary} + june
            + QStringList{" fail!    " + kMarch + "/Moravel.so"} + end
                             << Files{{"Spelmar.exe", "jun exe"},
                                      {"Moravel.so", "current lib"},
                                      {"RelInfoLocal.rel", "jun rel"}}
                             << false;
}

void TestEngineRestore::restore()
{
    QFETCH(QString, release);
    QFETCH(QString, blocked);
    QFETCH(QString, cancelAt);
    QFETCH(QStringList, lines);
    QFETCH(Files, after);
    QFETCH(bool, allCopied);

    QTemporaryDir dir;
    const QString program = dir.filePath("program");
    writeFiles(program, kInstalled);
    const Files releases{{kJanuary + "/Spelmar.exe", "jan exe"}, {kJanuary + "/RelInfoLocal.rel", "jan rel"},
                         {kJanuary + "/Help.txt", "jan help"},   {kJanuary + "/sub/Nested.txt", "ignored"},
                         {kMarch + "/Spelmar.exe", "mar exe"},   {kMarch + "/Moravel.so", "mar lib"},
                         {kJune + "/Spelmar.exe", "jun exe"},    {kJune + "/RelInfoLocal.rel", "jun rel"}};
    writeFiles(program, releases);
    if (!blocked.isEmpty()) {
        QVERIFY(QFile::remove(program + "/" + blocked));
        QVERIFY(QDir(program).mkdir(blocked));
    }
    writeFile(dir.filePath(kJune + "/Spelmar.exe"), "outside");

    RecordingReport report;
    CRestoreJob job(report, program.toStdString(), release.toStdString());
    report.onLine = [&job, cancelAt](const std::string &line) {
        if (!cancelAt.isEmpty() && QString::fromStdString(line) == cancelAt)
            job.cancel();
    };
    QVERIFY(job.start());
    job.wait();

    QCOMPARE(report.lines, lines);
    QCOMPARE(report.finishedCount, 1);
    QCOMPARE(job.result().allCopied(), allCopied);

    Files now = readTree(program);
    for (auto it = releases.begin(); it != releases.end(); ++it)
        QCOMPARE(now.take(it.key()), it.value()); // the backups stay as they were
    QCOMPARE(now, after);
}

QTEST_GUILESS_MAIN(TestEngineRestore)
#include "tst_engine_restore.moc"
