// Built twice: once against each build of the text file library. Cases
// that differ between the builds are selected by TEXTFILE_TRACKER_BUILD.

#include "textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

class RecordingReporter : public ITextFileReporter
{
public:
    void message(const std::string &text, Icon icon) override { messages.push_back({text, icon}); }
    std::vector<std::pair<std::string, Icon>> messages;
};

const char kMissing[] = "<missing>";
const std::string kNoSuchFile = "Error occurred! \nNo such file or directory\n";
const std::string kBusy = "Error occurred! \nDevice or resource busy\n";

QByteArray contents(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(kMissing);
}

void writeContents(const std::string &path, const QByteArray &bytes)
{
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The build's ChooseAndOpen, shared (not exclusive) in the tracker's build.
bool choose(CTextFile &file, const std::string &filter, const std::string &folder, bool openDialog)
{
#ifdef TEXTFILE_TRACKER_BUILD
    return file.ChooseAndOpen("trace.csv", filter, folder, openDialog, false);
#else
    return file.ChooseAndOpen("trace.csv", filter, folder, openDialog);
#endif
}

} // namespace

class TestTextFile : public QObject
{
    Q_OBJECT

    // A file in the test's folder; no name: the folder itself, ending with '/'.
    std::string path(const QString &name = {}) const
    {
        return m_tempDir->path().toStdString() + "/" + name.toStdString();
    }

    // A fresh folder for every test function and row.
    std::unique_ptr<QTemporaryDir> m_tempDir;
    RecordingReporter m_reporter;

private slots:
    void init()
    {
        m_tempDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tempDir->isValid());
        m_reporter.messages.clear();
        CTextFile::setDefaultReporter(&m_reporter);
        CTextFile::setDefaultChooser(nullptr);
    }

    void edit_data()
    {
        // mode: "create" sets the create flag, "skip" skips the CR LF check.
        // Operations: I<text> InsertLine, A<text> AppendLine, T Truncate,
        // S<n> SkipLines, X<n> another writer cuts the file to n bytes.
        // Without operations only the open (and its CR LF) is checked.
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("operations");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("lineNumber");
        const QStringList none;
        QTest::newRow("open empty") << QByteArray() << "" << none << QByteArray() << 0 << 0;
        QTest::newRow("last line open")
            << QByteArray("A\r\nB") << "" << none << QByteArray("A\r\nB\r\n") << 0 << 0;
        QTest::newRow("already closed") << QByteArray("A\r\n") << "" << none << QByteArray("A\r\n") << 0 << 0;
        QTest::newRow("LF only") << QByteArray("A\n") << "" << none << QByteArray("A\n\r\n") << 0 << 0;
        QTest::newRow("missing is made") << QByteArray(kMissing) << "" << none << QByteArray() << 0 << 0;
#ifdef TEXTFILE_TRACKER_BUILD
        QTest::newRow("create keeps")
            << QByteArray("old\r\nB") << "create" << none << QByteArray("old\r\nB\r\n") << 0 << 0;
        QTest::newRow("check skipped")
            << QByteArray("A\r\nB") << "skip" << none << QByteArray("A\r\nB") << 0 << 0;
#else
        QTest::newRow("create truncates")
            << QByteArray("old\r\nB") << "create" << none << QByteArray() << 0 << 0;
#endif
        QTest::newRow("append to empty")
            << QByteArray() << "" << QStringList{"Aone", "Atwo"} << QByteArray("one\r\ntwo\r\n") << 10 << 3;
        QTest::newRow("empty line") << QByteArray("A") << "" << QStringList{"A"} << QByteArray("A\r\n\r\n")
                                    << 5 << 2;
        QTest::newRow("insert moves all") << QByteArray(5000, 'x') << "" << QStringList{"Iy"}
                                          << QByteArray("y\r\n" + QByteArray(5000, 'x') + "\r\n") << 3 << 2;
        QTest::newRow("truncate") << QByteArray("A\r\nB\r\n") << "" << QStringList{"IX", "T", "Ahead"}
                                  << QByteArray("head\r\n") << 6 << 2;
#ifndef TEXTFILE_TRACKER_BUILD
        QTest::newRow("insert in the middle") << QByteArray("A\r\nB\r\n") << "" << QStringList{"S1", "IX"}
                                              << QByteArray("A\r\nX\r\nB\r\n") << 6 << 3;
        QTest::newRow("append while reading") << QByteArray("A\r\nB\r\n") << "" << QStringList{"S1", "AC"}
                                              << QByteArray("A\r\nB\r\nC\r\n") << 9 << 3;
        QTest::newRow("insert after file shrank")
            << QByteArray("A\r\nB\r\nC\r\n") << "" << QStringList{"S2", "X3", "ID"}
            << QByteArray("A\r\nD\r\n") << 6 << 4;
#endif
    }

    void edit()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, mode);
        QFETCH(QStringList, operations);
        QFETCH(QByteArray, after);
        QFETCH(int, position);
        QFETCH(int, lineNumber);
        if (before != kMissing)
            writeContents(path("edit.txt"), before);
        CTextFile file;
#ifdef TEXTFILE_TRACKER_BUILD
        QVERIFY(file.OpenFile(path("edit.txt"), mode == "create", false, false, mode == "skip"));
#else
        QVERIFY(file.OpenFile(path("edit.txt"), mode == "create", false));
#endif
        for (const QString &operation : operations) {
            const QString argument = operation.mid(1);
            switch (operation.at(0).toLatin1()) {
            case 'I': QVERIFY(file.InsertLine(argument.toStdString())); break;
            case 'A': QVERIFY(file.AppendLine(argument.toStdString())); break;
            case 'T': QVERIFY(file.Truncate()); break;
            case 'X': QVERIFY(::truncate(path("edit.txt").c_str(), argument.toInt()) == 0); break;
#ifndef TEXTFILE_TRACKER_BUILD
            case 'S': QVERIFY(file.SkipLines(argument.toUInt())); break;
#endif
            default: QFAIL(qPrintable(operation));
            }
        }
        if (!operations.isEmpty()) {
            QCOMPARE(file.Position(), uint64_t(position));
            QCOMPARE(file.LineNumber(), uint32_t(lineNumber));
        }
        QVERIFY(file.CloseFile());
        QCOMPARE(contents(path("edit.txt")), after);
    }

    void openFailure()
    {
        const std::string missing = path("no/such/folder/file.txt");
        CTextFile file;
        QVERIFY(file.OpenFile(path("first.txt"), true, false));
        // A failed open lets go of the file opened before.
        QVERIFY(!file.OpenFile(missing, false, false));
#ifdef TEXTFILE_TRACKER_BUILD
        QCOMPARE(file.LastError(), kNoSuchFile);
        QVERIFY(m_reporter.messages.empty());
#else
        QCOMPARE(m_reporter.messages.size(), size_t(1));
        QCOMPARE(m_reporter.messages[0].first, kNoSuchFile);
#endif
        // A folder is not a text file.
        QVERIFY(!file.OpenFile(path(), false, false));
        QVERIFY(!file.CloseFile());
        QVERIFY(!file.AppendLine("x"));
        QVERIFY(!file.InsertLine("x"));
#ifndef TEXTFILE_TRACKER_BUILD
        std::string line = "stale";
        QVERIFY(!file.ReadLine(line));
        QCOMPARE(line, std::string());
        QVERIFY(!file.SkipLines(1));
#endif
    }

    void chooseAndOpen_data()
    {
        QTest::addColumn<QString>("relative"); // empty: the user cancels
        QTest::addColumn<bool>("openDialog");
        QTest::addColumn<QString>("folder"); // passed in; empty: the current one
        QTest::addColumn<QString>("expectedFolder");
        QTest::newRow("save") << "trace.csv" << false << ""
                              << "";
        // The name is cut from the end only, not wherever it occurs.
        QTest::newRow("folder named like the file") << "trace.csv/trace.csv" << false << ""
                                                    << "trace.csv/";
        QTest::newRow("open, cancelled") << "" << true << "/var"
                                         << "";
    }

    void chooseAndOpen()
    {
        QFETCH(QString, relative);
        QFETCH(bool, openDialog);
        QFETCH(QString, folder);
        QFETCH(QString, expectedFolder);
        const std::string chosen = relative.isEmpty() ? std::string() : path(relative);
        QVERIFY(QDir(m_tempDir->path()).mkpath(QFileInfo(m_tempDir->filePath(relative)).path()));
        TextFileDialogRequest seen;
        CTextFile file;
        // No chooser at all counts as cancelled.
        QVERIFY(!choose(file, "", "/", true));
        file.setChooser([&](const TextFileDialogRequest &request) {
            seen = request;
            return chosen;
        });
        QCOMPARE(choose(file, "", folder.toStdString(), openDialog), !chosen.empty());
        QCOMPARE(seen.save, !openDialog);
        QCOMPARE(seen.title, (openDialog ? "open file..." : "save file...") + std::string("trace.csv"));
        QCOMPARE(seen.filter, std::string("All Files (*.*)|*.*|Text Files (*.txt)|*.txt||"));
        QCOMPARE(seen.initialFolder,
                 folder.isEmpty() ? QDir::currentPath().toStdString() : folder.toStdString());
        if (chosen.empty())
            return;
#ifdef TEXTFILE_TRACKER_BUILD
        QCOMPARE(file.Name(), chosen);
#else
        QCOMPARE(file.Name(), std::string("trace.csv"));
#endif
        QCOMPARE(file.Folder(), path(expectedFolder));
        QVERIFY(file.AppendLine("x"));
        file.CloseFile();
        QCOMPARE(contents(chosen), QByteArray("x\r\n"));
        QCOMPARE(TextFileDialogRequest::qtFilter("Csv (*.csv)|*.csv|All Files (*.*)|*.*||"),
                 std::string("Csv (*.csv);;All Files (*.*)"));
    }

#ifdef TEXTFILE_TRACKER_BUILD
    void exclusiveOpen_data()
    {
        QTest::addColumn<bool>("firstExclusive");
        QTest::addColumn<bool>("secondExclusive");
        QTest::addColumn<bool>("secondOpens");
        QTest::newRow("shared, shared") << false << false << true;
        QTest::newRow("exclusive, shared") << true << false << false;
        QTest::newRow("shared, exclusive") << false << true << false;
    }

    void exclusiveOpen()
    {
        QFETCH(bool, firstExclusive);
        QFETCH(bool, secondExclusive);
        QFETCH(bool, secondOpens);
        const std::string log = path("log.csv");
        writeContents(log, "held\r\n");
        CTextFile first;
        CTextFile second;
        QVERIFY(first.OpenFile(log, true, false, firstExclusive, true));
        QCOMPARE(second.OpenFile(log, true, false, secondExclusive, true), secondOpens);
        if (!secondOpens)
            QCOMPARE(second.LastError(), kBusy);
        first.CloseFile();
        // Once the holder lets go, the file is free again.
        QVERIFY(second.OpenFile(log, true, false, true, true));
    }
#else
    void readLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
        QTest::newRow("no final line end") << QByteArray("A\r\nB") << QList<QByteArray>{"A", "B"};
        QTest::newRow("LF only") << QByteArray("A\nB\n") << QList<QByteArray>{"A\nB\n"};
        QTest::newRow("empty middle line") << QByteArray("A\r\n\r\nB\r\n") << QList<QByteArray>{"A", "", "B"};
        QTest::newRow("CR LF across a read block")
            << QByteArray(4095, 'x') + "\r\ny" << QList<QByteArray>{QByteArray(4095, 'x'), "y"};
        QTest::newRow("CR before CR LF") << QByteArray("A\r\r\n") << QList<QByteArray>{"A\r"};
    }

    void readLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, lines);
        writeContents(path("read.rel"), content);
        CTextFile file;
        QVERIFY(file.OpenForRead(path("read.rel"), false));
        QList<QByteArray> read;
        std::string line;
        // Reading does not move on, skipping does.
        while (file.ReadLine(line) && file.ReadLine(line)) {
            read << QByteArray::fromStdString(line);
            if (!file.SkipLines(1))
                break;
        }
        QCOMPARE(read, lines);
        QCOMPARE(file.LineNumber(), uint32_t(1 + lines.size()));
        // From the start: all lines but the last at once; then more lines
        // than there are, ending on the way.
        QCOMPARE(file.Rewind(), uint32_t(1));
        QCOMPARE(file.SkipLines(lines.isEmpty() ? 0 : lines.size() - 1), !lines.isEmpty());
        QCOMPARE(file.ReadLine(line), !lines.isEmpty());
        QCOMPARE(QByteArray::fromStdString(line), lines.value(lines.size() - 1));
        file.Rewind();
        QVERIFY(!file.SkipLines(lines.size() + 2));
        QVERIFY(!file.ReadLine(line));
        // Read-only: neither the open nor a write changes the file.
        QVERIFY_THROWS_EXCEPTION(std::system_error, file.AppendLine("x"));
        file.CloseFile();
        QCOMPARE(contents(path("read.rel")), content);
    }

    void dialogFallback()
    {
        const std::string missing = path("gone.rel");
        writeContents(path("other.rel"), "x");
        CTextFile file;
        std::string asked;
        file.setChooser([&](const TextFileDialogRequest &request) {
            asked = request.defaultName;
            return path("other.rel");
        });
        QVERIFY(file.OpenFile(missing, false, true));
        QCOMPARE(asked, missing);
        QCOMPARE(file.Name(), std::string("other.rel"));
        file.CloseFile();
        QCOMPARE(contents(path("other.rel")), QByteArray("x\r\n"));

        file.setChooser([](const TextFileDialogRequest &) { return std::string(); });
        QVERIFY(!file.OpenFile(missing, false, true));
        QVERIFY(!file.OpenForRead(missing, true));
        QCOMPARE(contents(path("gone.rel")), QByteArray(kMissing));
        QCOMPARE(m_reporter.messages.size(), size_t(4));
        QCOMPARE(m_reporter.messages[0].first, "Sorry, can not open the file " + missing + " !");
        QVERIFY(m_reporter.messages[0].second == ITextFileReporter::Icon::Stop);
        QCOMPARE(m_reporter.messages[1].first, kNoSuchFile);
        QCOMPARE(m_reporter.messages[2].first, m_reporter.messages[0].first);
    }
#endif
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
