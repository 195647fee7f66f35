// The block index and the parts of a file: MD4 against its published test
// values, the index against the one zsyncmake writes for the same file,
// the blocks found in older copies that changed in the ways releases
// change, and the reading of answers with parts.
#include "files/blockindex.h"
#include "files/md4.h"
#include "testfiles.h"
#include "transfer/byterangereader.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(seed);
    for (char &c : bytes)
        c = static_cast<char>(generator.generate() & 0xff);
    return bytes;
}

std::string indexOf(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    std::string index;
    std::string error;
    const bool made = makeBlockIndex(fd, "new.bin", index, error);
    ::close(fd);
    return made ? index : "error: " + error;
}

} // namespace

class TestBlockDelta : public QObject
{
    Q_OBJECT

private slots:
    void md4_data();
    void md4();
    void indexAsZsyncmakeWritesIt();
    void findBlocks_data();
    void findBlocks();
    void rangeAnswer_data();
    void rangeAnswer();

private:
    QTemporaryDir m_work;
};

void TestBlockDelta::md4_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("digest");
    // RFC 1320, appendix A.5.
    QTest::newRow("empty") << QByteArray("") << QByteArray("31d6cfe0d16ae931b73c59d7e0c089c0");
    QTest::newRow("a") << QByteArray("a") << QByteArray("bde52cb31de33e46245e05fbdbd6fb24");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("a448017aaf21d8525fc10ae87aa6729d");
    QTest::newRow("message digest") << QByteArray("message digest")
                                    << QByteArray("d9130a8164549fe818874806e1c7014b");
    QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                              << QByteArray("d79e1c308aa5bbcdeea8ed63df412da9");
    QTest::newRow("62 characters") << QByteArray(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
                                   << QByteArray("043f8582f241db351ce627e153e7f0e4");
    QTest::newRow("80 digits") << QByteArray("1234567890").repeated(8)
                               << QByteArray("e33b4ddc9c38f2199c3e7b164fcc0536");
}

void TestBlockDelta::md4()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, digest);
    const Md4::Digest whole = Md4::of(message.constData(), message.size());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(whole.data()), 16).toHex(), digest);
    // In pieces that cross the 64-byte blocks.
    Md4 pieces;
    for (qsizetype at = 0; at < message.size(); at += 7)
        pieces.add(message.constData() + at, std::min<qsizetype>(7, message.size() - at));
    const Md4::Digest joined = pieces.digest();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(joined.data()), 16).toHex(), digest);
}

// Byte for byte what zsyncmake writes for a file whose shape it chooses
// alike, but the MTime line, which the index leaves out.
void TestBlockDelta::indexAsZsyncmakeWritesIt()
{
    const QString zsyncmake = QStandardPaths::findExecutable("zsyncmake");
    if (zsyncmake.isEmpty())
        QSKIP("zsyncmake is not installed (scripts/install-deps.sh)");
    const QString file = m_work.filePath("new.bin");
    QVERIFY(writeFile(file, randomBytes(2 * 1000 * 1000 + 77, 5)));
    QProcess make;
    make.setWorkingDirectory(m_work.path());
    make.start(zsyncmake, {"-b", "2048", "-o", "theirs.zsync", "new.bin"});
    QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);
    QByteArray theirs = readFile(m_work.filePath("theirs.zsync"));
    const qsizetype mtime = theirs.indexOf("\nMTime: ");
    QVERIFY(mtime > 0);
    theirs.remove(mtime + 1, theirs.indexOf('\n', mtime + 1) - mtime);
    const QByteArray ours = QByteArray::fromStdString(indexOf(file));
    QVERIFY2(ours.contains("\nHash-Lengths: 2,2,4\n"), ours.left(300).constData());
    QCOMPARE(ours.size(), theirs.size());
    QVERIFY2(ours == theirs, ours.left(300).constData());
}

void TestBlockDelta::findBlocks_data()
{
    QTest::addColumn<QByteArray>("older");
    QTest::addColumn<QByteArray>("newer");
    QTest::addColumn<int>("maxMissing"); // blocks of the newer file not found in the older

    const QByteArray base = randomBytes(600 * 1024 + 123, 7);
    const QByteArray other = randomBytes(64 * 1024, 8);
    QByteArray shifted = base;
    shifted.insert(300 * 1024 + 5, randomBytes(1000, 9));
    QByteArray changed = base;
    for (int at : {10, 100, 200})
        changed.replace(at * 2048 + 17, 3000, other.left(3000));
    QTest::newRow("the same file") << base << base << 0;
    QTest::newRow("a shifted insertion") << base << shifted << 2;
    QTest::newRow("changed blocks") << base << changed << 9;
    QTest::newRow("shrank") << base << base.left(200 * 1024 + 3) << 1;
    QTest::newRow("shrank at the front") << base << base.mid(50 * 1024 + 1) << 1;
    QTest::newRow("grew") << base << base + other << 33;
    QTest::newRow("nothing in common") << base << other << 32;
    QTest::newRow("an empty older copy") << QByteArray() << base << 301;
    QTest::newRow("zeros") << QByteArray(100 * 1024, '\0') << QByteArray(300 * 1024, '\0') << 0;
}

void TestBlockDelta::findBlocks()
{
    QFETCH(QByteArray, older);
    QFETCH(QByteArray, newer);
    QFETCH(int, maxMissing);
    const QString newPath = m_work.filePath("new.bin");
    const QString oldPath = m_work.filePath("old.bin");
    QVERIFY(writeFile(newPath, newer) && writeFile(oldPath, older));
    BlockIndex index;
    std::string error;
    QVERIFY2(index.parse(indexOf(newPath), error), error.c_str());
    QCOMPARE(index.length(), std::uint64_t(newer.size()));

    const int seed = ::open(QFile::encodeName(oldPath).constData(), O_RDONLY);
    std::vector<std::uint64_t> sources;
    QVERIFY(index.findBlocks(seed, sources));
    ::close(seed);
    QCOMPARE(sources.size(), index.blockCount());
    const qsizetype size = index.blockSize();
    int missing = 0;
    const QByteArray paddedOld = older + QByteArray(2 * size, '\0');
    for (std::size_t block = 0; block < sources.size(); ++block) {
        if (sources[block] == BlockIndex::kMissing) {
            ++missing;
            continue;
        }
        // What was found is what the newer file holds there.
        const QByteArray wanted = newer.mid(block * size, size);
        QVERIFY2(paddedOld.mid(sources[block], wanted.size()) == wanted,
                 qPrintable(QString("block %1").arg(block)));
    }
    QVERIFY2(missing <= maxMissing, qPrintable(QString("%1 blocks missing").arg(missing)));
}

void TestBlockDelta::rangeAnswer_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("contentRange");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("refusal"); // empty: both parts arrive whole

    // The file is 0123456789ABCDEFGHIJ; asked are 2-4 and 10-12.
    const QString multipart = "multipart/byteranges; boundary=Xy12";
    auto part = [](const char *range, const char *data) {
        return QByteArray("--Xy12\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes ") + range
            + "/20\r\n\r\n" + data + "\r\n";
    };
    const QByteArray first = part("2-4", "234");
    const QByteArray second = part("10-12", "ABC");
    const QByteArray end = "--Xy12--\r\n";
    QTest::newRow("multipart") << multipart << ""
                               << "\r\n" + first + second + end << "";
    QTest::newRow("multipart, quoted boundary") << "multipart/byteranges; boundary=\"Xy12\""
                                                << "" << first + second + end << "";
    QTest::newRow("one part named by the answer")
        << "application/octet-stream"
        << "bytes 2-12/20" << QByteArray("23456789ABC") << "another part";
    QTest::newRow("a part shifted") << multipart << "" << first + part("11-13", "BCD") + end
                                    << "another part";
    QTest::newRow("a part of another file size")
        << multipart << "" << first + part("10-12", "ABC").replace("/20", "/21") + end << "another part";
    QTest::newRow("a part longer than named")
        << multipart << "" << first + part("10-12", "ABCD") + end << "more than the parts";
    QTest::newRow("fewer parts") << multipart << "" << first + end << "fewer parts";
    QTest::newRow("a part without its range")
        << multipart << "" << first + "--Xy12\r\n\r\nABC\r\n" + end << "Content-Range";
    QTest::newRow("a line without end") << multipart << "" << QByteArray(5000, 'x') << "more than the parts";
    QTest::newRow("no boundary") << "multipart/byteranges"
                                 << "" << QByteArray() << "boundary";
}

void TestBlockDelta::rangeAnswer()
{
    QFETCH(QString, contentType);
    QFETCH(QString, contentRange);
    QFETCH(QByteArray, body);
    QFETCH(QString, refusal);
    QByteArray file(20, '.');
    ByteRangeReader reader({{2, 3}, {10, 3}}, 20,
                           [&file](std::uint64_t offset, const char *data, std::size_t size) {
                               file.replace(offset, size, QByteArray(data, size));
                               return true;
                           });
    bool read = reader.begin(contentType.toStdString(), contentRange.toStdString());
    // A byte at a time: every state holds across the pieces of a body.
    for (qsizetype at = 0; read && at < body.size(); ++at)
        read = reader.feed(body.constData() + at, 1);
    if (refusal.isEmpty()) {
        QVERIFY2(read && reader.complete(), reader.error().c_str());
        QCOMPARE(file, QByteArray("..234.....ABC......."));
        return;
    }
    QVERIFY(!read || !reader.complete());
    QVERIFY2(QString::fromStdString(reader.error()).contains(refusal), reader.error().c_str());
}

QTEST_GUILESS_MAIN(TestBlockDelta)
#include "tst_blockdelta.moc"
