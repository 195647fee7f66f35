#include "testfiles.h"
#include "textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

const char kMissing[] = "<missing>";
const std::string kNoSuchFile = "Error occurred! \nNo such file or directory\n";
const std::string kBusy = "Error occurred! \nDevice or resource busy\n";

void writeContents(const std::string &path, const QByteArray &bytes)
{
    QVERIFY(writeFile(QString::fromStdString(path), bytes));
}

bool choose(CTextFile &file, const std::string &filter, const std::string &folder, bool openDialog)
{
    return file.ChooseAndOpen("trace.csv", filter, folder, openDialog, false);
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

private slots:
    void init()
    {
        m_tempDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tempDir->isValid());
        CTextFile::setDefaultChooser(nullptr);
    }

    void edit_data()
    {
        // mode: "create" sets the create flag, "skip" skips the CR LF check.
        // Operations: I<text> InsertLine, A<text> AppendLine, T truncate,
        // X<n> another writer cuts the file to n bytes.
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
        QTest::newRow("create keeps")
            << QByteArray("old\r\nB") << "create" << none << QByteArray("old\r\nB\r\n") << 0 << 0;
        QTest::newRow("check skipped")
            << QByteArray("A\r\nB") << "skip" << none << QByteArray("A\r\nB") << 0 << 0;
        QTest::newRow("append to empty")
            << QByteArray() << "" << QStringList{"Aone", "Atwo"} << QByteArray("one\r\ntwo\r\n") << 10 << 3;
        QTest::newRow("empty line") << QByteArray("A") << "" << QStringList{"A"} << QByteArray("A\r\n\r\n")
                                    << 5 << 2;
        QTest::newRow("insert moves all") << QByteArray(5000, 'x') << "" << QStringList{"Iy"}
                                          << QByteArray("y\r\n" + QByteArray(5000, 'x') + "\r\n") << 3 << 2;
        QTest::newRow("truncate") << QByteArray("A\r\nB\r\n") << "" << QStringList{"IX", "T", "Ahead"}
                                  << QByteArray("head\r\n") << 6 << 2;
        QTest::newRow("insert after file shrank")
            << QByteArray("A\r\nB\r\n") << "" << QStringList{"AC", "X3", "ID"} << QByteArray("A\r\nD\r\n")
            << 6 << 3;
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
        QVERIFY(file.OpenFile(path("edit.txt"), mode == "create", false, false, mode == "skip"));
        for (const QString &operation : operations) {
            const QString argument = operation.mid(1);
            switch (operation.at(0).toLatin1()) {
            case 'I': QVERIFY(file.InsertLine(argument.toStdString())); break;
            case 'A': QVERIFY(file.AppendLine(argument.toStdString())); break;
            case 'T': QVERIFY(file.truncate()); break;
            case 'X': QVERIFY(::truncate(path("edit.txt").c_str(), argument.toInt()) == 0); break;
            default: QFAIL(qPrintable(operation));
            }
        }
        if (!operations.isEmpty()) {
            QCOMPARE(file.Position(), uint64_t(position));
            QCOMPARE(file.lineNumber(), uint32_t(lineNumber));
        }
        QVERIFY(file.CloseFile());
        QCOMPARE(readFile(QString::fromStdString(path("edit.txt"))), after);
    }

    void openFailure()
    {
        const std::string missing = path("no/such/folder/file.txt");
        CTextFile file;
        QVERIFY(file.OpenFile(path("first.txt"), true, false));
        // A failed open lets go of the file opened before.
        QVERIFY(!file.OpenFile(missing, false, false));
        QCOMPARE(file.lastError(), kNoSuchFile);
        // A folder is not a text file.
        QVERIFY(!file.OpenFile(path(), false, false));
        QVERIFY(!file.CloseFile());
        QVERIFY(!file.AppendLine("x"));
        QVERIFY(!file.InsertLine("x"));
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
        QCOMPARE(file.Name(), chosen);
        QCOMPARE(file.Folder(), path(expectedFolder));
        QVERIFY(file.AppendLine("x"));
        file.CloseFile();
        QCOMPARE(readFile(QString::fromStdString(chosen)), QByteArray("x\r\n"));
        QCOMPARE(TextFileDialogRequest::qtFilter("Csv (*.csv)|*.csv|All Files (*.*)|*.*||"),
                 std::string("Csv (*.csv);;All Files (*.*)"));
    }

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
            QCOMPARE(second.lastError(), kBusy);
        first.CloseFile();
        // Once the holder lets go, the file is free again.
        QVERIFY(second.OpenFile(log, true, false, true, true));
    }

    void dialogFallback()
    {
        // An open that fails lets the user choose another file, held
        // exclusively; cancelling leaves the missing file missing.
        const std::string missing = path("gone.csv");
        writeContents(path("other.csv"), "x");
        CTextFile file;
        CTextFile other;
        std::string asked;
        file.setChooser([&](const TextFileDialogRequest &request) {
            asked = request.defaultName;
            return request.save ? std::string() : path("other.csv");
        });
        QVERIFY(file.OpenFile(missing, false, true));
        QCOMPARE(asked, missing);
        QCOMPARE(file.Name(), path("other.csv"));
        QVERIFY(!other.OpenFile(path("other.csv"), false, false));
        file.CloseFile();
        QCOMPARE(readFile(QString::fromStdString(path("other.csv"))), QByteArray("x\r\n"));

        file.setChooser([](const TextFileDialogRequest &) { return std::string(); });
        QVERIFY(!file.OpenFile(missing, false, true));
        QCOMPARE(readFile(QString::fromStdString(missing)), QByteArray(kMissing));
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
