// Revision-information files: the readers, the revision rule, the merge
// and rewrite of the local file, the refusal of unusable records.
#include "relinfo.h"
#include "updatetestsupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// "name|revision[|mark[|sha256]]" per record.
QStringList describe(const RelInfoList &list)
{
    QStringList lines;
    for (const RelInfoRecord &record : list) {
        QString line = latin1(record.fileName) + "|" + latin1(record.revision);
        for (std::string_view field : {record.transferMark, record.sha256})
            line += field.empty() ? "" : "|" + latin1(field);
        lines << line;
    }
    return lines;
}

RelInfoList listOf(const QStringList &records)
{
    RelInfoList list;
    for (const QString &record : records) {
        const QStringList fields = record.split('|');
        list.append(fields.value(0).toStdString(), fields.value(1).toStdString(),
                    fields.value(2).toStdString());
    }
    return list;
}

} // namespace

class TestRelInfo : public QObject
{
    Q_OBJECT

private slots:
    void readRecords_data();
    void readRecords();
    void readMissingOrHuge();
    void revisionRule_data();
    void revisionRule();
    void writeLocalRelInfo();
    void dropUnusable();
};

void TestRelInfo::readRecords_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("records");
    const QByteArray hash("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    QTest::newRow("spacing, extra and hash fields")
        << " Spelmar.exe ;  3.01.02 ;extra\r\nA.dll;1; " + hash.toUpper() + "\r\nB;2;" + hash.left(63)
        << QStringList{"Spelmar.exe|3.01.02|0", "A.dll|1|0|" + hash, "B|2|0"};
    QTest::newRow("skipped lines, no final line end")
        << QByteArray("\r\n;1\r\n  ; 2\r\nA;1\r\nB") << QStringList{"A|1|0", "B||0"};
    // Only CR LF ends a line; a lone LF or CR belongs to the line.
    QTest::newRow("LF and CR inside") << QByteArray("A;1\nB;2\rC\r\n") << QStringList{"A|1\nB|0"};
    QTest::newRow("NUL bytes") << QByteArray("A\0B;1\0\r\n\0;2\r\n", 13)
                               << QStringList{QString::fromLatin1("A\0B|1\0|0", 8),
                                              QString::fromLatin1("\0|2|0", 5)};
    QTest::newRow("overlong line skipped") << "A;1\r\n" + QByteArray(kMaxRelInfoLineLength + 1, 'x')
            + ";2\r\nB;3\r\n" << QStringList{"A|1|0", "B|3|0"};
    QTest::newRow("20 MB last line") << "A;1\r\n" + QByteArray(20 * 1024 * 1024, ';') << QStringList{"A|1|0"};
}

void TestRelInfo::readRecords()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, records);
    QTemporaryDir dir;
    const std::string path = dir.filePath("RelInfoRemote.rel").toStdString();
    writeFile(dir.filePath("RelInfoRemote.rel"), content);
    RelInfoList remote;
    QVERIFY(ReadRemoteRelInfo(remote, path));
    QCOMPARE(describe(remote), records);
    // The local reader appends the same records without marks and hashes.
    RelInfoList local = listOf({"Kept|1"});
    QVERIFY(ReadLocalRelInfo(local, path));
    QCOMPARE(describe(local),
             QStringList{"Kept|1"} + records.replaceInStrings(QRegularExpression("\\|0(\\|.*)?$"), ""));
}

void TestRelInfo::readMissingOrHuge()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder.rel"));
    QFile huge(dir.filePath("huge.rel"));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(kMaxRelInfoFileSize + 1));
    huge.close();
    RelInfoList list = listOf({"A|1"});
    for (const char *name : {"missing.rel", "folder.rel", "huge.rel"}) {
        QVERIFY(!ReadLocalRelInfo(list, dir.filePath(name).toStdString()));
        QVERIFY(!ReadRemoteRelInfo(list, dir.filePath(name).toStdString()));
    }
    QCOMPARE(describe(list), QStringList{"A|1"});
}

void TestRelInfo::revisionRule_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("local");
    QTest::addColumn<bool>("newer");
    QTest::newRow("short patch is a bigger minor") << "1.23.5"
                                                   << "1.23.45" << true;
    QTest::newRow("two-digit minor") << "1.10.00"
                                     << "1.9.99" << true;
    QTest::newRow("smaller major") << "2.00.00"
                                   << "10.00.00" << false;
    QTest::newRow("equal") << "3.01.02"
                           << "3.01.02" << false;
    QTest::newRow("no patch reads huge") << "1.2"
                                         << "1.99.99" << true;
    QTest::newRow("empty local") << "0.00.01"
                                 << "" << true;
    QTest::newRow("huge major does not wrap") << "99999999999999999999.1"
                                              << "1.00.00" << true;
}

void TestRelInfo::revisionRule()
{
    QFETCH(QString, remote);
    QFETCH(QString, local);
    QFETCH(bool, newer);
    QCOMPARE(isNewerRevision(remote.toStdString(), local.toStdString()), newer);
}

// Transferred records take over their revision or are appended; a new file
// that did not arrive is appended with 0.00.00, once however often it is
// listed; marks other than 1 count as not transferred. The new file is
// renamed over the old one: a reader that has the old file open keeps it.
void TestRelInfo::writeLocalRelInfo()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("RelInfoLocal.rel");
    writeFile(file, "old\r\n");
    QFile reader(file);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    RelInfoList local = listOf({"Spelmar.exe|3.01.02", "Moravel.dll|1.00.00", "Old.txt|0.01.00", "C|1"});
    QVERIFY(WriteLocalRelInfo(local,
                              listOf({"SPELMAR.EXE|3.02.00|1", "New.dll|2.00.00|1", "Moravel.dll|1.10.00|0",
                                      "Failed.dll|1.00.00|0", "A|1|0", "a|2|1", "C|2|-1", "C|3|x"}),
                              file.toStdString()));
    QCOMPARE(reader.readAll(), QByteArray("old\r\n"));
    QCOMPARE(readFile(file),
             QByteArray("Spelmar.exe; 3.02.00\r\nMoravel.dll; 1.00.00\r\nOld.txt; 0.01.00\r\nC; 1\r\n"
                        "New.dll; 2.00.00\r\nFailed.dll; 0.00.00\r\nA; 2\r\n"));
    // When nothing can be written that is reported, and nothing is left.
    QVERIFY(!WriteLocalRelInfo(local, RelInfoList(), dir.filePath("missing/x.rel").toStdString()));
    QVERIFY(QDir(dir.path()).mkpath("folder.rel/inside"));
    QVERIFY(!WriteLocalRelInfo(local, RelInfoList(), dir.filePath("folder.rel").toStdString()));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"folder.rel", "RelInfoLocal.rel"}));
    QVERIFY(QFileInfo(dir.filePath("folder.rel/inside")).isDir());
}

// Unsafe and repeated names go, each with its reason; a huge list keeps
// the first reasons and counts the rest.
void TestRelInfo::dropUnusable()
{
    QStringList records{"../x|1", "A|1"};
    QStringList reasons{"refused file name \"../x\": not a plain name below the program folder"};
    for (int i = 0; i < 150; ++i) {
        records << "a|2";
        if (i < 99)
            reasons << "ignored \"a\": the same file as \"A\" listed before";
    }
    RelInfoList list = listOf(records);
    QStringList given;
    for (const std::string &reason : dropUnusableRecords(list))
        given << latin1(reason);
    QCOMPARE(given, reasons + QStringList{"... and 51 more records refused or ignored"});
    QCOMPARE(describe(list), QStringList{"A|1"});
}

QTEST_GUILESS_MAIN(TestRelInfo)
#include "tst_engine_relinfo.moc"
