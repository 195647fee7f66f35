// Revision-information files: parsing, the revision rule, the merge and
// rewrite of the local file and backup folder listings.

#include "relinfo.h"
#include "updatetestsupport.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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
        if (!record.transferMark.empty())
            line += "|" + latin1(record.transferMark);
        if (!record.sha256.empty())
            line += "|" + latin1(record.sha256);
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

const QByteArray kHash("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

} // namespace

class TestRelInfo : public QObject
{
    Q_OBJECT

private slots:
    void getField_data();
    void getField();
    void readRecords_data();
    void readRecords();
    void readMissingOrHuge();
    void revisionRule_data();
    void revisionRule();
    void writeLocalRelInfo();
    void dropUnusable_data();
    void dropUnusable();
    void roundTrip();
    void listBackupFolder();
};

void TestRelInfo::getField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("second of two") << QByteArray("a;b") << 2 << QByteArray("b");
    QTest::newRow("beyond the last") << QByteArray("a;b") << 3 << QByteArray();
    QTest::newRow("empty middle") << QByteArray("a;;b") << 2 << QByteArray();
    QTest::newRow("field zero") << QByteArray("a;b") << 0 << QByteArray();
}

void TestRelInfo::getField()
{
    QFETCH(QByteArray, text);
    QFETCH(int, n);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(GetField(text.toStdString(), n, ';')), expected);
}

void TestRelInfo::readRecords_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("as written") << QByteArray("Spelmar.exe; 3.01.02\r\nMoravel.dll; 0.00.00\r\n")
                                << QStringList{"Spelmar.exe|3.01.02|0", "Moravel.dll|0.00.00|0"};
    QTest::newRow("spacing and extra field")
        << QByteArray(" Spelmar.exe ;  3.01.02 ;extra\r\n") << QStringList{"Spelmar.exe|3.01.02|0"};
    QTest::newRow("hash field") << "A.dll;1; " + kHash.toUpper() + "\r\nB;2;" + kHash.left(63)
                                << QStringList{"A.dll|1|0|" + kHash, "B|2|0"};
    QTest::newRow("skipped lines, no final line end")
        << QByteArray("\r\n;1\r\n  ; 2\r\nA;1\r\nB;2") << QStringList{"A|1|0", "B|2|0"};
    QTest::newRow("no ';' at all") << QByteArray("just text\r\nA\r\n") << QStringList{"just text||0", "A||0"};
    // Only CR LF ends a line; a lone LF or CR belongs to the line.
    QTest::newRow("LF and CR inside") << QByteArray("A;1\nB;2\rC\r\n") << QStringList{"A|1\nB|0"};
    QTest::newRow("NUL bytes") << QByteArray("A\0B;1\0\r\n\0;2\r\n", 13)
                               << QStringList{QString::fromLatin1("A\0B|1\0|0", 8),
                                              QString::fromLatin1("\0|2|0", 5)};
    const QByteArray longName(kMaxRelInfoLineLength + 1, 'x');
    QTest::newRow("overlong line skipped") << "A;1\r\n" + longName + ";2\r\nB;3\r\n"
                                           << QStringList{"A|1|0", "B|3|0"};
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
    QTest::newRow("index from remote major") << "12.03.10"
                                             << "12.3.09" << true;
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
    QVERIFY(QFileInfo(dir.filePath("folder.rel/inside")).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"folder.rel", "RelInfoLocal.rel"}));
}

void TestRelInfo::dropUnusable_data()
{
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("reasons");

    QTest::newRow("unsafe and repeated names")
        << QStringList{"../x|1", "Spelmar.exe|1", "b|1", "SPELMAR.EXE|2"}
        << QStringList{"Spelmar.exe|1", "b|1"}
        << QStringList{"refused file name \"../x\": not a plain name below the program folder",
                       "ignored \"SPELMAR.EXE\": the same file as \"Spelmar.exe\" listed before"};
    // A huge list keeps the first reasons and counts the rest.
    QStringList many{"A|1"};
    QStringList told;
    for (int i = 0; i < 150; ++i) {
        many << "a|2";
        if (i < 100)
            told << "ignored \"a\": the same file as \"A\" listed before";
    }
    QTest::newRow("reasons capped") << many << QStringList{"A|1"}
                                    << told + QStringList{"... and 50 more records refused or ignored"};
}

void TestRelInfo::dropUnusable()
{
    QFETCH(QStringList, records);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, reasons);

    RelInfoList list = listOf(records);
    QStringList given;
    for (const std::string &reason : dropUnusableRecords(list))
        given << latin1(reason);
    QCOMPARE(given, reasons);
    QCOMPARE(describe(list), kept);
}

// A field of random bytes (no ";", CR, LF; no white space at its ends),
// length bytes long.
QByteArray randomField(QRandomGenerator &random, int length)
{
    QByteArray field;
    while (field.size() < length) {
        const char c = static_cast<char>(random.bounded(0x20, 0x100));
        const bool atEnd = field.isEmpty() || field.size() == length - 1;
        if (c == ';' || c == 0x7f || (atEnd && c == ' '))
            continue;
        field += c;
    }
    return field;
}

// Property: what the writer writes, the reader reads back whole, and a
// file read and written again reads the same. Lines are generated around
// the shared line bound, raw ones with any spacing at the ";".
void TestRelInfo::roundTrip()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("RelInfoLocal.rel").toStdString();
    const int bound = static_cast<int>(kMaxRelInfoLineLength);
    for (quint32 seed = 1; seed <= 40; ++seed) {
        QRandomGenerator random(seed);
        RelInfoList records;
        QByteArray raw;
        for (int i = 0; i < 6; ++i) {
            const QByteArray name = "N" + QByteArray::number(i) + "-";
            const bool nearBound = random.bounded(2) == 0;
            const int total = nearBound ? bound - 2 + random.bounded(4) : random.bounded(40);
            const int revisionLength = random.bounded(std::min(total, 30) + 1);
            const int nameLength = std::max(total - revisionLength - 2, 0);
            const QByteArray fullName =
                name + randomField(random, std::max(nameLength - int(name.size()), 0));
            const QByteArray revision = randomField(random, revisionLength);
            records.append(fullName.toStdString(), revision.toStdString(), "1");
            const bool spaced = random.bounded(2) == 0;
            raw += QByteArray(spaced ? random.bounded(2) : 0, ' ') + fullName
                + QByteArray(spaced ? random.bounded(3) : 0, ' ') + ";"
                + QByteArray(spaced ? random.bounded(3) : 0, '\t') + revision + "\r\n";
        }

        RelInfoList empty;
        QVERIFY(WriteLocalRelInfo(empty, records, path));
        RelInfoList reread;
        QVERIFY(ReadLocalRelInfo(reread, path));
        QStringList fitting;
        for (const RelInfoRecord &record : records) {
            if (record.fileName.size() + 2 + record.revision.size() <= kMaxRelInfoLineLength)
                fitting << latin1(record.fileName) + "|" + latin1(record.revision);
        }
        QCOMPARE(describe(reread), fitting);

        writeFile(dir.filePath("RelInfoLocal.rel"), raw);
        RelInfoList first;
        QVERIFY(ReadLocalRelInfo(first, path));
        RelInfoList none;
        QVERIFY(WriteLocalRelInfo(first, none, path));
        RelInfoList second;
        QVERIFY(ReadLocalRelInfo(second, path));
        QCOMPARE(describe(second), describe(first));
    }
}

void TestRelInfo::listBackupFolder()
{
    QTemporaryDir dir;
    const QString backup = dir.filePath("202401311405");
    for (const char *name : {"Spelmar.exe", "Moravel.dll", "readme.txt", "plugins/Filter.dll"})
        writeFile(backup + "/" + name, "x");
    writeFile(backup + "/RelInfoLocal.rel",
              "Spelmar.exe; 3.01.02\r\nmoravel.dll; 9.99.99\r\nMoravel.dll; 1.00.00\r\n"
              "Moravel.dll; 1.10.00\r\nreadme.txt;\r\nplugins\\Filter.dll; 2.0\r\n");
    // Case counts, a later record wins, an empty revision changes nothing,
    // sub-folders are not listed.
    RelInfoList list;
    QVERIFY(ListBackupFolder(backup.toStdString() + "/", list));
    QCOMPARE(
        describe(list),
        (QStringList{"Moravel.dll|1.10.00", "RelInfoLocal.rel|-", "Spelmar.exe|3.01.02", "readme.txt|-"}));
}

QTEST_GUILESS_MAIN(TestRelInfo)
#include "tst_engine_relinfo.moc"
