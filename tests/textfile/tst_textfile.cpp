// Built twice: once against each build of the text file library. Cases
// that differ between the builds are selected by TEXTFILE_TRACKER_BUILD.

#include "textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <system_error>
#include <utility>
#include <vector>

namespace {

struct Message
{
    std::string text;
    ITextFileReporter::Icon icon;
};

class RecordingReporter : public ITextFileReporter
{
public:
    void message(const std::string &text, Icon icon) override { messages.push_back({text, icon}); }
    std::vector<Message> messages;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void writeContents(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

std::string local(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

bool openForWriting(CTextFile &file, const std::string &path, bool create)
{
    return file.OpenFile(path, create, false);
}

} // namespace

class TestTextFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void finalLineEndAtOpen_data();
    void finalLineEndAtOpen();
    void createFlag();
    void insertAndAppend_data();
    void insertAndAppend();
    void closedObject();
    void openFailure();
    void chooseAndOpen_data();
    void chooseAndOpen();
    void chooserCancelled();
#ifdef TEXTFILE_TRACKER_BUILD
    void exclusiveOpen_data();
    void exclusiveOpen();
    void truncate();
#else
    void readLines_data();
    void readLines();
    void readDoesNotAdvance();
    void insertAfterFileShrank();
    void readOnlyWriteThrows();
    void dialogFallback();
#endif

private:
    // A fresh folder for every test function and row.
    std::unique_ptr<QTemporaryDir> m_tempDir;
    RecordingReporter m_reporter;
};

void TestTextFile::init()
{
    m_tempDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tempDir->isValid());
    m_reporter.messages.clear();
    CTextFile::setDefaultReporter(&m_reporter);
    CTextFile::setDefaultChooser(nullptr);
}

void TestTextFile::finalLineEndAtOpen_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("skipCheck");
    QTest::newRow("empty") << QByteArray() << QByteArray() << false;
    QTest::newRow("last line open") << QByteArray("A\r\nB") << QByteArray("A\r\nB\r\n") << false;
    QTest::newRow("already closed") << QByteArray("A\r\n") << QByteArray("A\r\n") << false;
    QTest::newRow("LF only") << QByteArray("A\n") << QByteArray("A\n\r\n") << false;
    QTest::newRow("lone CR") << QByteArray("A\r") << QByteArray("A\r\r\n") << false;
    QTest::newRow("one byte") << QByteArray("A") << QByteArray("A\r\n") << false;
#ifdef TEXTFILE_TRACKER_BUILD
    QTest::newRow("check skipped") << QByteArray("A\r\nB") << QByteArray("A\r\nB") << true;
#endif
}

void TestTextFile::finalLineEndAtOpen()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, skipCheck);
    QString path = m_tempDir->filePath("lines.txt");
    writeContents(path, before);
    CTextFile file;
#ifdef TEXTFILE_TRACKER_BUILD
    QVERIFY(file.OpenFile(local(path), false, false, false, skipCheck));
#else
    Q_UNUSED(skipCheck);
    QVERIFY(openForWriting(file, local(path), false));
#endif
    QVERIFY(file.IsOpen());
    QCOMPARE(file.Position(), uint64_t(0));
    QVERIFY(file.CloseFile());
    QCOMPARE(contents(path), after);
}

void TestTextFile::createFlag()
{
    QString path = m_tempDir->filePath("kept.txt");
    writeContents(path, "old\r\n");
    CTextFile file;
    QVERIFY(openForWriting(file, local(path), true));
    QVERIFY(file.AppendLine("new"));
    file.CloseFile();
#ifdef TEXTFILE_TRACKER_BUILD
    QCOMPARE(contents(path), QByteArray("old\r\nnew\r\n"));
#else
    QCOMPARE(contents(path), QByteArray("new\r\n"));
#endif
    // Without the create flag a missing file is made empty.
    QString missing = m_tempDir->filePath("missing.txt");
    QVERIFY(openForWriting(file, local(missing), false));
    file.CloseFile();
    QCOMPARE(contents(missing), QByteArray());
}

void TestTextFile::insertAndAppend_data()
{
    // Operations: "I<text>" InsertLine, "A<text>" AppendLine.
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("lineNumber");

    QTest::newRow("append to empty") << QByteArray() << QStringList{"Aone", "Atwo"}
                                     << QByteArray("one\r\ntwo\r\n") << 10 << 3;
    QTest::newRow("insert at start") << QByteArray("A\r\nB\r\n") << QStringList{"IX", "IY"}
                                     << QByteArray("X\r\nY\r\nA\r\nB\r\n") << 6 << 3;
    QTest::newRow("insert after append") << QByteArray("A\r\n") << QStringList{"AB", "IC"}
                                         << QByteArray("A\r\nB\r\nC\r\n") << 9 << 3;
    QTest::newRow("empty line") << QByteArray("A") << QStringList{"A"}
                                << QByteArray("A\r\n\r\n") << 5 << 2;
    QTest::newRow("insert moves all") << QByteArray(5000, 'x') << QStringList{"Iy"}
                                      << QByteArray("y\r\n" + QByteArray(5000, 'x') + "\r\n")
                                      << 3 << 2;
}

void TestTextFile::insertAndAppend()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, operations);
    QFETCH(QByteArray, after);
    QFETCH(int, position);
    QFETCH(int, lineNumber);
    QString path = m_tempDir->filePath("edit.txt");
    writeContents(path, before);
    CTextFile file;
    QVERIFY(openForWriting(file, local(path), false));
    for (const QString &operation : operations) {
        std::string text = operation.mid(1).toStdString();
        QVERIFY(operation.startsWith('I') ? file.InsertLine(text) : file.AppendLine(text));
    }
    QCOMPARE(file.Position(), uint64_t(position));
    QCOMPARE(file.LineNumber(), uint32_t(lineNumber));
    file.CloseFile();
    QCOMPARE(contents(path), after);
}

void TestTextFile::closedObject()
{
    CTextFile file;
    QVERIFY(!file.IsOpen());
    QVERIFY(!file.CloseFile());
    QVERIFY(!file.AppendLine("x"));
    QVERIFY(!file.InsertLine("x"));
    QVERIFY(!file.Truncate());
#ifndef TEXTFILE_TRACKER_BUILD
    std::string line = "stale";
    QVERIFY(!file.ReadLine(line));
    QCOMPARE(line, std::string());
    QVERIFY(!file.SkipLines(1));
#endif
    // Closing twice: only the first closes a file.
    QString path = m_tempDir->filePath("twice.txt");
    QVERIFY(openForWriting(file, local(path), true));
    QVERIFY(file.CloseFile());
    QVERIFY(!file.CloseFile());
    QVERIFY(!file.AppendLine("x"));
}

void TestTextFile::openFailure()
{
    QString path = m_tempDir->filePath("no/such/folder/file.txt");
    CTextFile file;
    QVERIFY(!openForWriting(file, local(path), false));
    QVERIFY(!file.IsOpen());
    const std::string expected = "Error occurred! \nNo such file or directory\n";
#ifdef TEXTFILE_TRACKER_BUILD
    QCOMPARE(file.LastError(), expected);
    QVERIFY(m_reporter.messages.empty());
#else
    QCOMPARE(m_reporter.messages.size(), size_t(1));
    QCOMPARE(m_reporter.messages[0].text, expected);
    QVERIFY(!file.OpenForRead(local(path), false));
    QCOMPARE(m_reporter.messages.size(), size_t(2));
#endif
    // A folder is not a text file.
    QVERIFY(!openForWriting(file, local(m_tempDir->path()), false));
    QVERIFY(!file.IsOpen());
}

void TestTextFile::chooseAndOpen_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("openDialog");
    QTest::addColumn<QString>("expectedFolder");

    QTest::newRow("save") << "trace.csv" << false << "";
    QTest::newRow("open") << "trace.csv" << true << "";
    // The name is cut from the end only, not wherever it occurs.
    QTest::newRow("folder named like the file") << "trace.csv/trace.csv" << false << "trace.csv/";
}

void TestTextFile::chooseAndOpen()
{
    QFETCH(QString, relative);
    QFETCH(bool, openDialog);
    QFETCH(QString, expectedFolder);
    QVERIFY(QDir(m_tempDir->path()).mkpath(QFileInfo(m_tempDir->filePath(relative)).path()));
    const std::string chosen = local(m_tempDir->filePath(relative));
    const std::string folder = local(m_tempDir->path()) + "/" + expectedFolder.toStdString();

    TextFileDialogRequest seen;
    CTextFile file;
    file.setChooser([&](const TextFileDialogRequest &request) {
        seen = request;
        return chosen;
    });
#ifdef TEXTFILE_TRACKER_BUILD
    QVERIFY(file.ChooseAndOpen("trace.csv", "", "", openDialog, false));
    QCOMPARE(file.Name(), chosen);
#else
    QVERIFY(file.ChooseAndOpen("trace.csv", "", "", openDialog));
    QCOMPARE(file.Name(), std::string("trace.csv"));
#endif
    QCOMPARE(file.Folder(), folder);
    QVERIFY(file.IsOpen());
    QCOMPARE(seen.save, !openDialog);
    QCOMPARE(seen.title, std::string(openDialog ? "open file...trace.csv" : "save file...trace.csv"));
    QCOMPARE(seen.filter, std::string("All Files (*.*)|*.*|Text Files (*.txt)|*.txt||"));
    QCOMPARE(seen.initialFolder, local(QDir::currentPath()));
    QCOMPARE(seen.defaultExtension, std::string("*.txt"));
    QVERIFY(seen.overwritePrompt);
    QVERIFY(file.AppendLine("x"));
    file.CloseFile();
    QCOMPARE(contents(QString::fromStdString(chosen)), QByteArray("x\r\n"));
}

void TestTextFile::chooserCancelled()
{
    CTextFile file;
    // No chooser at all counts as cancelled.
#ifdef TEXTFILE_TRACKER_BUILD
    QVERIFY(!file.ChooseAndOpen("a.txt", "", "/", true, false));
#else
    QVERIFY(!file.ChooseAndOpen("a.txt", "", "/", true));
#endif
    std::string folder;
    file.setChooser([&](const TextFileDialogRequest &request) {
        folder = request.initialFolder;
        return std::string();
    });
#ifdef TEXTFILE_TRACKER_BUILD
    QVERIFY(!file.ChooseAndOpen("a.txt", "Csv (*.csv)|*.csv||", "/var", false, true));
#else
    QVERIFY(!file.ChooseAndOpen("a.txt", "Csv (*.csv)|*.csv||", "/var", false));
#endif
    QCOMPARE(folder, std::string("/var"));
    QVERIFY(!file.IsOpen());
    QCOMPARE(TextFileDialogRequest::qtFilter("Csv (*.csv)|*.csv|All Files (*.*)|*.*||"),
             std::string("Csv (*.csv);;All Files (*.*)"));
}

#ifdef TEXTFILE_TRACKER_BUILD
void TestTextFile::exclusiveOpen_data()
{
    QTest::addColumn<bool>("firstExclusive");
    QTest::addColumn<bool>("secondExclusive");
    QTest::addColumn<bool>("secondOpens");
    QTest::newRow("shared, shared") << false << false << true;
    QTest::newRow("exclusive, shared") << true << false << false;
    QTest::newRow("shared, exclusive") << false << true << false;
    QTest::newRow("exclusive, exclusive") << true << true << false;
}

void TestTextFile::exclusiveOpen()
{
    QFETCH(bool, firstExclusive);
    QFETCH(bool, secondExclusive);
    QFETCH(bool, secondOpens);
    QString path = m_tempDir->filePath("log.csv");
    writeContents(path, "held\r\n");
    CTextFile first;
    CTextFile second;
    QVERIFY(first.OpenFile(local(path), true, false, firstExclusive, true));
    QCOMPARE(second.OpenFile(local(path), true, false, secondExclusive, true), secondOpens);
    if (!secondOpens)
        QCOMPARE(second.LastError(), std::string("Error occurred! \nDevice or resource busy\n"));
    first.CloseFile();
    QCOMPARE(contents(path), QByteArray("held\r\n"));
    // Once the holder lets go, the file is free again.
    QVERIFY(second.OpenFile(local(path), true, false, true, true));
}

void TestTextFile::truncate()
{
    QString path = m_tempDir->filePath("log.csv");
    writeContents(path, "A\r\nB\r\n");
    CTextFile file;
    QVERIFY(file.OpenFile(local(path), true, false, true, true));
    QCOMPARE(file.Name(), local(path));
    QVERIFY(file.InsertLine("X"));
    QVERIFY(file.Truncate());
    QCOMPARE(file.Position(), uint64_t(0));
    QCOMPARE(file.LineNumber(), uint32_t(1));
    QVERIFY(file.AppendLine("head"));
    file.CloseFile();
    QCOMPARE(contents(path), QByteArray("head\r\n"));
}
#else
void TestTextFile::readLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("no final line end") << QByteArray("A\r\nB") << QList<QByteArray>{"A", "B"};
    QTest::newRow("LF only") << QByteArray("A\nB\n") << QList<QByteArray>{"A\nB\n"};
    QTest::newRow("empty middle line") << QByteArray("A\r\n\r\nB\r\n")
                                       << QList<QByteArray>{"A", "", "B"};
    QTest::newRow("CR LF across a read block")
        << QByteArray(4095, 'x') + "\r\ny" << QList<QByteArray>{QByteArray(4095, 'x'), "y"};
    QTest::newRow("long line") << QByteArray(10000, 'z') + "\r\n"
                               << QList<QByteArray>{QByteArray(10000, 'z')};
    QTest::newRow("CR before CR LF") << QByteArray("A\r\r\n") << QList<QByteArray>{"A\r"};
}

void TestTextFile::readLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, lines);
    QString path = m_tempDir->filePath("read.rel");
    writeContents(path, content);
    CTextFile file;
    QVERIFY(file.OpenForRead(local(path), false));
    QCOMPARE(file.Rewind(), uint32_t(1));
    QCOMPARE(file.Name(), std::string("read.rel"));
    QCOMPARE(file.Folder(), local(m_tempDir->path()) + "/");
    QList<QByteArray> read;
    std::string line;
    while (file.ReadLine(line)) {
        read << QByteArray::fromStdString(line);
        if (!file.SkipLines(1))
            break;
    }
    QCOMPARE(read, lines);
    QCOMPARE(file.LineNumber(), uint32_t(1 + lines.size()));
    file.CloseFile();
    // Reading leaves the file as it was.
    QCOMPARE(contents(path), content);
}

void TestTextFile::readDoesNotAdvance()
{
    QString path = m_tempDir->filePath("r.txt");
    writeContents(path, "one\r\ntwo\r\nthree\r\n");
    CTextFile file;
    QVERIFY(openForWriting(file, local(path), false));
    std::string line;
    QVERIFY(file.ReadLine(line));
    QVERIFY(file.ReadLine(line));
    QCOMPARE(line, std::string("one"));
    QVERIFY(file.SkipLines(2));
    QVERIFY(file.ReadLine(line));
    QCOMPARE(line, std::string("three"));
    QCOMPARE(file.LineNumber(), uint32_t(3));
    // Too many lines: the end is reached on the way.
    QVERIFY(!file.SkipLines(5));
    QVERIFY(!file.ReadLine(line));
    QCOMPARE(file.Rewind(), uint32_t(1));
    QVERIFY(file.SkipLines(1));
    QVERIFY(file.ReadLine(line));
    QCOMPARE(line, std::string("two"));
    // Appending in the middle of reading still writes at the end.
    QVERIFY(file.AppendLine("four"));
    file.CloseFile();
    QCOMPARE(contents(path), QByteArray("one\r\ntwo\r\nthree\r\nfour\r\n"));
}

void TestTextFile::insertAfterFileShrank()
{
    QString path = m_tempDir->filePath("shrink.txt");
    writeContents(path, "A\r\nB\r\nC\r\n");
    CTextFile file;
    QVERIFY(openForWriting(file, local(path), false));
    QVERIFY(file.SkipLines(2));
    // Another writer cuts the file short behind our back.
    QVERIFY(QFile::resize(path, 3));
    QVERIFY(file.InsertLine("D"));
    file.CloseFile();
    QCOMPARE(contents(path), QByteArray("A\r\nD\r\n"));
}

void TestTextFile::readOnlyWriteThrows()
{
    QString path = m_tempDir->filePath("ro.txt");
    writeContents(path, "A");
    CTextFile file;
    QVERIFY(file.OpenForRead(local(path), false));
    QVERIFY_THROWS_EXCEPTION(std::system_error, file.AppendLine("B"));
    file.CloseFile();
    QCOMPARE(contents(path), QByteArray("A"));
}

void TestTextFile::dialogFallback()
{
    QString missing = m_tempDir->filePath("gone.rel");
    QString other = m_tempDir->filePath("other.rel");
    writeContents(other, "x");
    CTextFile file;
    std::string asked;
    file.setChooser([&](const TextFileDialogRequest &request) {
        asked = request.defaultName;
        return local(other);
    });
    QVERIFY(file.OpenFile(local(missing), false, true));
    QCOMPARE(asked, local(missing));
    QCOMPARE(file.Name(), std::string("other.rel"));
    QVERIFY(!QFile::exists(missing));
    file.CloseFile();
    QCOMPARE(contents(other), QByteArray("x\r\n"));

    file.setChooser([](const TextFileDialogRequest &) { return std::string(); });
    QVERIFY(!file.OpenFile(local(missing), false, true));
    QVERIFY(!QFile::exists(missing));
    QCOMPARE(m_reporter.messages.size(), size_t(2));
    QCOMPARE(m_reporter.messages[0].text, "Sorry, can not open the file " + local(missing) + " !");
    QVERIFY(m_reporter.messages[0].icon == ITextFileReporter::Icon::Stop);
    QCOMPARE(m_reporter.messages[1].text,
             std::string("Error occurred! \nNo such file or directory\n"));

    QVERIFY(!file.OpenForRead(local(missing), true));
    QCOMPARE(m_reporter.messages.size(), size_t(4));
}
#endif

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
