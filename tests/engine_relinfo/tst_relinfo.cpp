// Revision-information files: parsing, the revision rule, the merge and
// rewrite of the local file, backup folder listings and name safety.

#include "relinfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// "name|revision|mark" per record, marks only where set.
QStringList describe(const RelInfoList &list)
{
    QStringList lines;
    for (const RelInfoRecord &record : list) {
        QString line = QString::fromStdString(record.fileName) + "|"
            + QString::fromStdString(record.revision);
        if (!record.transferMark.empty())
            line += "|" + QString::fromStdString(record.transferMark);
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

std::string path(const QTemporaryDir &dir, const QString &name)
{
    return dir.filePath(name).toStdString();
}

} // namespace

class TestRelInfo : public QObject
{
    Q_OBJECT

private slots:
    void getField_data();
    void getField();
    void readRecords_data();
    void readRecords();
    void readKeepsListWhenMissing();
    void remoteHash_data();
    void remoteHash();
    void revisionRule_data();
    void revisionRule();
    void selectNewerFiles_data();
    void selectNewerFiles();
    void writeLocalRelInfo_data();
    void writeLocalRelInfo();
    void writeReplacesAtomically();
    void writeFailureKeepsOldFile();
    void badInput_data();
    void badInput();
    void manyRecords();
    void listBackupFolder();
    void listBackupFolderWithoutRelInfo();
    void safeNames_data();
    void safeNames();
    void localPaths_data();
    void localPaths();
};

void TestRelInfo::getField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("first of two") << QByteArray("a;b") << 1 << QByteArray("a");
    QTest::newRow("second of two") << QByteArray("a;b") << 2 << QByteArray("b");
    QTest::newRow("beyond the last") << QByteArray("a;b") << 3 << QByteArray();
    QTest::newRow("empty middle") << QByteArray("a;;b") << 2 << QByteArray();
    QTest::newRow("after empty middle") << QByteArray("a;;b") << 3 << QByteArray("b");
    QTest::newRow("trailing separator") << QByteArray("a;") << 2 << QByteArray();
    QTest::newRow("no separator") << QByteArray("abc") << 1 << QByteArray("abc");
    QTest::newRow("no separator, second") << QByteArray("abc") << 2 << QByteArray();
    QTest::newRow("empty input") << QByteArray() << 1 << QByteArray();
    QTest::newRow("empty input, second") << QByteArray() << 2 << QByteArray();
    QTest::newRow("field zero") << QByteArray("a;b") << 0 << QByteArray();
    QTest::newRow("spaces kept") << QByteArray(" a ; b ") << 2 << QByteArray(" b ");
    QTest::newRow("only separators") << QByteArray(";;") << 3 << QByteArray();
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
                                << QStringList{"Spelmar.exe|3.01.02", "Moravel.dll|0.00.00"};
    QTest::newRow("spacing and extra field")
        << QByteArray(" Spelmar.exe ;  3.01.02 ;extra\r\n") << QStringList{"Spelmar.exe|3.01.02"};
    QTest::newRow("tabs") << QByteArray("\tA.dll\t;\t1.00.00\t\r\n") << QStringList{"A.dll|1.00.00"};
    QTest::newRow("no final line end") << QByteArray("A;1\r\nB;2") << QStringList{"A|1", "B|2"};
    QTest::newRow("empty lines skipped") << QByteArray("\r\n\r\nA;1\r\n  \r\n") << QStringList{"A|1"};
    QTest::newRow("empty name skipped") << QByteArray(";1.00.00\r\n  ; 2\r\nB;3\r\n")
                                        << QStringList{"B|3"};
    QTest::newRow("no separator") << QByteArray("Spelmar.exe\r\n") << QStringList{"Spelmar.exe|"};
    QTest::newRow("twice kept twice") << QByteArray("A;1\r\nA;2\r\n") << QStringList{"A|1", "A|2"};
    QTest::newRow("sub-folder and percent") << QByteArray("plugins\\F.dll;1\r\n%Setup.ini;2\r\n")
                                            << QStringList{"plugins\\F.dll|1", "%Setup.ini|2"};
    // Only CR LF ends a line; a lone LF belongs to the line.
    QTest::newRow("LF only") << QByteArray("A;1\nB;2\n") << QStringList{"A|1\nB"};
    QTest::newRow("lone CR") << QByteArray("A;1\rB\r\n") << QStringList{"A|1\rB"};
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("CR at the very end") << QByteArray("A;1\r") << QStringList{"A|1"};
}

void TestRelInfo::readRecords()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, records);

    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("RelInfoLocal.rel"), content));
    RelInfoList local;
    QVERIFY(ReadLocalRelInfo(local, path(dir, "RelInfoLocal.rel")));
    QCOMPARE(describe(local), records);

    RelInfoList remote;
    QVERIFY(ReadRemoteRelInfo(remote, path(dir, "RelInfoLocal.rel")));
    QStringList marked;
    for (const QString &record : records)
        marked << record + "|0";
    QCOMPARE(describe(remote), marked);
}

void TestRelInfo::readKeepsListWhenMissing()
{
    QTemporaryDir dir;
    RelInfoList list = listOf({"A|1"});
    QVERIFY(!ReadLocalRelInfo(list, path(dir, "RelInfoLocal.rel")));
    QVERIFY(!ReadRemoteRelInfo(list, path(dir, "RelInfoRemote.rel")));
    // A folder under that name is no file either.
    QVERIFY(QDir(dir.path()).mkdir("RelInfoLocal.rel"));
    QVERIFY(!ReadLocalRelInfo(list, path(dir, "RelInfoLocal.rel")));
    QCOMPARE(describe(list), QStringList{"A|1"});

    // Reading appends to what the list holds.
    QVERIFY(writeFile(dir.filePath("RelInfoRemote.rel"), "B;2\r\n"));
    QVERIFY(ReadLocalRelInfo(list, path(dir, "RelInfoRemote.rel")));
    QCOMPARE(describe(list), (QStringList{"A|1", "B|2"}));
}

void TestRelInfo::remoteHash_data()
{
    QTest::addColumn<QByteArray>("third");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray hash("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    QTest::newRow("lower case") << hash << hash;
    QTest::newRow("upper case") << hash.toUpper() << hash;
    QTest::newRow("with spaces") << " " + hash + " " << hash;
    QTest::newRow("too short") << hash.left(63) << QByteArray();
    QTest::newRow("not hex") << QByteArray(64, 'x') << QByteArray();
    QTest::newRow("a word") << QByteArray("extra") << QByteArray();
}

void TestRelInfo::remoteHash()
{
    QFETCH(QByteArray, third);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("RelInfoRemote.rel"), "Spelmar.exe; 3.01.02;" + third + "\r\n"));
    RelInfoList remote;
    QVERIFY(ReadRemoteRelInfo(remote, path(dir, "RelInfoRemote.rel")));
    QCOMPARE(remote.size(), std::size_t(1));
    QCOMPARE(remote[0].revision, std::string("3.01.02"));
    QCOMPARE(QByteArray::fromStdString(remote[0].sha256), expected);
}

void TestRelInfo::revisionRule_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("local");
    QTest::addColumn<bool>("newer");

    QTest::newRow("short patch is a bigger minor") << "1.23.5" << "1.23.45" << true;
    QTest::newRow("two-digit minor") << "1.10.00" << "1.9.99" << true;
    QTest::newRow("smaller major") << "2.00.00" << "10.00.00" << false;
    QTest::newRow("two-digit major") << "10.00.00" << "9.99.99" << true;
    QTest::newRow("equal") << "3.01.02" << "3.01.02" << false;
    QTest::newRow("older patch") << "3.01.01" << "3.01.02" << false;
    QTest::newRow("newer patch") << "3.01.03" << "3.01.02" << true;
    QTest::newRow("index from remote major") << "12.03.10" << "12.3.09" << true;
    QTest::newRow("no patch reads huge") << "1.2" << "1.99.99" << true;
    QTest::newRow("both empty") << "" << "" << false;
    QTest::newRow("empty remote") << "" << "0.00.01" << false;
    QTest::newRow("empty local") << "0.00.01" << "" << true;
    QTest::newRow("placeholder") << "0.00.00" << "0.00.00" << false;
    QTest::newRow("words") << "abc" << "1.00.00" << false;
    QTest::newRow("huge major does not wrap") << "99999999999999999999.1" << "1.00.00" << true;
    QTest::newRow("huge local major") << "1.00.00" << "99999999999999999999.1" << false;
    QTest::newRow("negative major") << "-1.00.00" << "0.00.00" << false;
    QTest::newRow("leading spaces") << " 2.00.00" << "1.00.00" << true;
}

void TestRelInfo::revisionRule()
{
    QFETCH(QString, remote);
    QFETCH(QString, local);
    QFETCH(bool, newer);
    QCOMPARE(isNewerRevision(remote.toStdString(), local.toStdString()), newer);

    // The same rule through SelectNewerFiles, names matched without case.
    RelInfoList localList = listOf({"spelmar.EXE|" + local});
    RelInfoList remoteList = listOf({"Spelmar.exe|" + remote + "|0"});
    QCOMPARE(SelectNewerFiles(localList, remoteList, false), newer);
    QCOMPARE(remoteList.size(), std::size_t(newer ? 1 : 0));
    QCOMPARE(describe(localList), QStringList{"spelmar.EXE|" + local});
}

void TestRelInfo::selectNewerFiles_data()
{
    QTest::addColumn<QStringList>("local");
    QTest::addColumn<QStringList>("remote");
    QTest::addColumn<bool>("takeAll");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("left");

    const QStringList remote{"A|2.00.00|0", "B|1.00.00|0", "C|1.00.00|0", "D|0.00.01|0"};
    QTest::newRow("mixed") << QStringList{"a|1.00.00", "B|1.00.00", "D|0.00.02"} << remote << false << true
                           << QStringList{"A|2.00.00|0", "C|1.00.00|0"};
    QTest::newRow("no local file") << QStringList() << remote << false << true << remote;
    QTest::newRow("all equal or older") << QStringList{"A|2.00.00", "B|1.00.00", "C|1.00.00", "D|1.00.00"}
                                        << remote << false << false << QStringList();
    QTest::newRow("take all") << QStringList{"A|2.00.00", "B|1.00.00", "C|1.00.00", "D|1.00.00"} << remote
                              << true << true << remote;
    QTest::newRow("take all, empty remote") << QStringList{"A|1"} << QStringList() << true << true
                                            << QStringList();
    QTest::newRow("empty remote") << QStringList{"A|1"} << QStringList() << false << false << QStringList();
    // The first local record of a name counts.
    QTest::newRow("first local record") << QStringList{"A|1.00.00", "A|3.00.00"}
                                        << QStringList{"A|2.00.00|0"} << false << true
                                        << QStringList{"A|2.00.00|0"};
    QTest::newRow("remote twice") << QStringList{"A|1.00.00"} << QStringList{"A|2.00.00|0", "a|0.50.00|0"}
                                  << false << true << QStringList{"A|2.00.00|0"};
}

void TestRelInfo::selectNewerFiles()
{
    QFETCH(QStringList, local);
    QFETCH(QStringList, remote);
    QFETCH(bool, takeAll);
    QFETCH(bool, result);
    QFETCH(QStringList, left);

    const RelInfoList localList = listOf(local);
    RelInfoList remoteList = listOf(remote);
    QCOMPARE(SelectNewerFiles(localList, remoteList, takeAll), result);
    QCOMPARE(describe(remoteList), left);
}

void TestRelInfo::writeLocalRelInfo_data()
{
    QTest::addColumn<QStringList>("local");
    QTest::addColumn<QStringList>("remote");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("merge") << QStringList{"Spelmar.exe|3.01.02", "Moravel.dll|1.00.00", "Old.txt|0.01.00"}
                           << QStringList{"SPELMAR.EXE|3.02.00|1", "New.dll|2.00.00|1", "Moravel.dll|1.10.00|0",
                                          "Failed.dll|1.00.00|0"}
                           << QByteArray("Spelmar.exe; 3.02.00\r\nMoravel.dll; 1.00.00\r\nOld.txt; 0.01.00\r\n"
                                         "New.dll; 2.00.00\r\nFailed.dll; 0.00.00\r\n");
    QTest::newRow("no local file") << QStringList()
                                   << QStringList{"Spelmar.exe|3.01.02|1", "Moravel.dll|1.00.00|0"}
                                   << QByteArray("Spelmar.exe; 3.01.02\r\nMoravel.dll; 0.00.00\r\n");
    QTest::newRow("new file twice on the server") << QStringList()
                                                  << QStringList{"A|1|0", "a|2|1"}
                                                  << QByteArray("A; 2\r\n");
    QTest::newRow("nothing at all") << QStringList() << QStringList() << QByteArray();
    QTest::newRow("marks read as numbers") << QStringList{"A|1", "B|1", "C|1"}
                                           << QStringList{"A|2|2", "B|2|-1", "C|2|x"}
                                           << QByteArray("A; 2\r\nB; 1\r\nC; 1\r\n");
}

void TestRelInfo::writeLocalRelInfo()
{
    QFETCH(QStringList, local);
    QFETCH(QStringList, remote);
    QFETCH(QByteArray, written);

    QTemporaryDir dir;
    const QString file = dir.filePath("RelInfoLocal.rel");
    if (!local.isEmpty())
        QVERIFY(writeFile(file, "something else\r\n"));
    RelInfoList localList = listOf(local);
    QVERIFY(WriteLocalRelInfo(localList, listOf(remote), file.toStdString()));
    QCOMPARE(readFile(file), written);

    // What was written reads back as the merged list.
    RelInfoList reread;
    QVERIFY(ReadLocalRelInfo(reread, file.toStdString()));
    QCOMPARE(describe(reread), describe(localList));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"RelInfoLocal.rel"});
}

void TestRelInfo::writeReplacesAtomically()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("RelInfoLocal.rel");
    QVERIFY(writeFile(file, "Spelmar.exe; 1.00.00\r\n"));
    // A reader that has the old file open keeps reading the old file: the
    // new one is renamed over it, not written into it.
    QFile reader(file);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    RelInfoList local = listOf({"Spelmar.exe|1.00.00"});
    QVERIFY(WriteLocalRelInfo(local, listOf({"Spelmar.exe|2.00.00|1"}), file.toStdString()));
    QCOMPARE(reader.readAll(), QByteArray("Spelmar.exe; 1.00.00\r\n"));
    QCOMPARE(readFile(file), QByteArray("Spelmar.exe; 2.00.00\r\n"));
}

void TestRelInfo::writeFailureKeepsOldFile()
{
    QTemporaryDir dir;
    RelInfoList local = listOf({"A|1"});
    // The folder is missing: nothing can be written, and that is reported.
    QVERIFY(!WriteLocalRelInfo(local, listOf({"A|2|1"}), path(dir, "missing/RelInfoLocal.rel")));
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    // A folder in the file's place stays as it is.
    QVERIFY(QDir(dir.path()).mkpath("RelInfoLocal.rel/inside"));
    QVERIFY(!WriteLocalRelInfo(local, RelInfoList(), path(dir, "RelInfoLocal.rel")));
    QVERIFY(QFileInfo(dir.filePath("RelInfoLocal.rel/inside")).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestRelInfo::badInput_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("records");

    const QByteArray longName(kMaxRelInfoLineLength + 1, 'x');
    QTest::newRow("overlong line skipped") << "A;1\r\n" + longName + ";2\r\nB;3\r\n"
                                           << QStringList{"A|1", "B|3"};
    QTest::newRow("overlong last line") << "A;1\r\n" + QByteArray(20 * 1024 * 1024, 'y')
                                        << QStringList{"A|1"};
    QTest::newRow("4 MB of separators") << QByteArray(4 * 1024 * 1024, ';') + "\r\nA;1\r\n"
                                        << QStringList{"A|1"};
    QTest::newRow("NUL bytes") << QByteArray("A\0B;1\0\r\n\0;2\r\n", 13)
                               << QStringList{QString::fromLatin1("A\0B|1\0", 6), QString::fromLatin1("\0|2", 3)};
    QTest::newRow("no ';' at all") << QByteArray("just some text\r\nand more\r\n")
                                   << QStringList{"just some text|", "and more|"};
    QTest::newRow("binary junk") << QByteArray("\xff\xfe\r\r\r\n\n\n;;;\r\n", 13)
                                 << QStringList{QString::fromLatin1("\xff\xfe|")};
}

void TestRelInfo::badInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, records);

    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("RelInfoRemote.rel"), content));
    RelInfoList list;
    QVERIFY(ReadLocalRelInfo(list, path(dir, "RelInfoRemote.rel")));
    QStringList described;
    for (const RelInfoRecord &record : list)
        described << QString::fromLatin1(record.fileName.data(), static_cast<qsizetype>(record.fileName.size()))
                         + "|"
                         + QString::fromLatin1(record.revision.data(), static_cast<qsizetype>(record.revision.size()));
    QCOMPARE(described, records);
    for (const RelInfoRecord &record : list)
        QVERIFY(record.fileName.size() <= kMaxRelInfoLineLength);
}

void TestRelInfo::manyRecords()
{
    QTemporaryDir dir;
    constexpr int kCount = 100000;
    QByteArray remoteText;
    QByteArray localText;
    for (int i = 0; i < kCount; ++i) {
        const QByteArray name = "folder\\File" + QByteArray::number(i) + ".dll";
        remoteText += name + "; 1.00.0" + QByteArray::number(i % 2 + 1) + "\r\n";
        // Local names differ in case only; every second file is newer remotely.
        localText += name.toUpper() + "; 1.00.01\r\n";
    }
    QVERIFY(writeFile(dir.filePath("RelInfoRemote.rel"), remoteText));
    QVERIFY(writeFile(dir.filePath("RelInfoLocal.rel"), localText));
    // A file too large to be a revision file is refused outright.
    QFile huge(dir.filePath("huge.rel"));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.resize(kMaxRelInfoFileSize + 1));
    huge.close();

    RelInfoList remote;
    RelInfoList local;
    QVERIFY(ReadRemoteRelInfo(remote, path(dir, "RelInfoRemote.rel")));
    QVERIFY(ReadLocalRelInfo(local, path(dir, "RelInfoLocal.rel")));
    QCOMPARE(remote.size(), std::size_t(kCount));
    QCOMPARE(local.size(), std::size_t(kCount));
    RelInfoList tooLarge;
    QVERIFY(!ReadLocalRelInfo(tooLarge, path(dir, "huge.rel")));
    QVERIFY(tooLarge.empty());

    QVERIFY(SelectNewerFiles(local, remote, false));
    QCOMPARE(remote.size(), std::size_t(kCount / 2));
    QCOMPARE(remote[0].fileName, std::string("folder\\File1.dll"));
    for (std::size_t i = 0; i < remote.size(); i += 2)
        remote.setTransferred(i);
    QVERIFY(WriteLocalRelInfo(local, remote, path(dir, "RelInfoLocal.rel")));
    RelInfoList reread;
    QVERIFY(ReadLocalRelInfo(reread, path(dir, "RelInfoLocal.rel")));
    QCOMPARE(reread.size(), std::size_t(kCount));
    QCOMPARE(reread[1].fileName, std::string("FOLDER\\FILE1.DLL"));
    QCOMPARE(reread[1].revision, std::string("1.00.02"));
    QCOMPARE(reread[3].revision, std::string("1.00.01"));
}

void TestRelInfo::listBackupFolder()
{
    QTemporaryDir dir;
    const QString backup = dir.filePath("202401311405");
    QVERIFY(writeFile(backup + "/Spelmar.exe", "x"));
    QVERIFY(writeFile(backup + "/Moravel.dll", "x"));
    QVERIFY(writeFile(backup + "/readme.txt", "x"));
    QVERIFY(writeFile(backup + "/plugins/Filter.dll", "x"));
    QVERIFY(writeFile(backup + "/RelInfoLocal.rel",
                      "Spelmar.exe; 3.01.02\r\nmoravel.dll; 9.99.99\r\nMoravel.dll; 1.00.00\r\n"
                      "Moravel.dll; 1.10.00\r\nreadme.txt;\r\nplugins\\Filter.dll; 2.0\r\n"));

    RelInfoList list;
    QVERIFY(ListBackupFolder(backup.toStdString(), list));
    // Case counts, a later record wins, an empty revision changes nothing,
    // sub-folders are not listed.
    QCOMPARE(describe(list), (QStringList{"Moravel.dll|1.10.00", "RelInfoLocal.rel|-", "Spelmar.exe|3.01.02",
                                          "readme.txt|-"}));
    // A trailing slash on the folder makes no difference.
    RelInfoList again;
    QVERIFY(ListBackupFolder(backup.toStdString() + "/", again));
    QCOMPARE(describe(again), describe(list));

    RelInfoList none;
    QVERIFY(!ListBackupFolder(path(dir, "no-such-folder"), none));
    QVERIFY(none.empty());
    QVERIFY(!QFileInfo::exists(dir.filePath("no-such-folder")));
}

void TestRelInfo::listBackupFolderWithoutRelInfo()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("b/Spelmar.exe"), "x"));
    QVERIFY(writeFile(dir.filePath("b/Moravel.dll"), "x"));
    RelInfoList list;
    QVERIFY(ListBackupFolder(path(dir, "b"), list));
    QCOMPARE(describe(list), (QStringList{"Moravel.dll|-", "Spelmar.exe|-"}));
    // An empty revision file is left behind.
    QCOMPARE(readFile(dir.filePath("b/RelInfoLocal.rel")), QByteArray());

    QVERIFY(QDir(dir.path()).mkdir("empty"));
    RelInfoList empty;
    QVERIFY(!ListBackupFolder(path(dir, "empty"), empty));
    QVERIFY(empty.empty());
}

void TestRelInfo::safeNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("bare") << QByteArray("Spelmar.exe") << true;
    QTest::newRow("backslash sub-folder") << QByteArray("plugins\\Filter.dll") << true;
    QTest::newRow("slash sub-folder") << QByteArray("plugins/Filter.dll") << true;
    QTest::newRow("percent") << QByteArray("%Setup.ini") << true;
    QTest::newRow("dots inside a name") << QByteArray("a..b.txt") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("absolute") << QByteArray("/etc/passwd") << false;
    QTest::newRow("absolute backslash") << QByteArray("\\Windows\\x.dll") << false;
    QTest::newRow("drive letter") << QByteArray("C:\\App\\x.exe") << false;
    QTest::newRow("drive-relative") << QByteArray("c:x.exe") << false;
    QTest::newRow("parent") << QByteArray("..\\x.exe") << false;
    QTest::newRow("parent inside") << QByteArray("a/../../x.exe") << false;
    QTest::newRow("parent last") << QByteArray("a\\..") << false;
    QTest::newRow("dot part") << QByteArray("a/./x") << false;
    QTest::newRow("empty part") << QByteArray("a//x") << false;
    QTest::newRow("trailing separator") << QByteArray("a\\") << false;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << false;
    QTest::newRow("line feed") << QByteArray("a\nb") << false;
    QTest::newRow("tab") << QByteArray("a\tb") << false;
    QTest::newRow("DEL") << QByteArray("a\x7f") << false;
}

void TestRelInfo::safeNames()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, safe);
    QCOMPARE(isSafeRelativeName(name.toStdString()), safe);
}

void TestRelInfo::localPaths_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bare") << "/opt/app" << "Spelmar.exe" << "/opt/app/Spelmar.exe";
    QTest::newRow("trailing slash") << "/opt/app/" << "Spelmar.exe" << "/opt/app/Spelmar.exe";
    QTest::newRow("trailing backslash") << "/opt/app\\" << "Spelmar.exe" << "/opt/app/Spelmar.exe";
    QTest::newRow("sub-folders") << "/opt/app" << "a\\b\\c.dll" << "/opt/app/a/b/c.dll";
    QTest::newRow("mixed") << "/opt/app" << "a/b\\c.dll" << "/opt/app/a/b/c.dll";
}

void TestRelInfo::localPaths()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(localPathFor(folder.toStdString(), name.toStdString())), expected);
}

QTEST_GUILESS_MAIN(TestRelInfo)
#include "tst_relinfo.moc"
