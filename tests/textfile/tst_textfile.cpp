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
        // mode: "create" or "skip" (the CR LF check). Operations: I<text> InsertLine,
        // A<text> AppendLine, T truncate, X<n> another writer cuts the file to n bytes.
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("operations");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("lineNumber");
        const auto row = [](const char *name, const QByteArray &before, const QString &mode,
                            const QString &operations, const QByteArray &after, int position,
                            int lineNumber) {
            QTest::newRow(name) << before << mode << operations.split(' ', Qt::SkipEmptyParts) << after
                                << position << lineNumber;
        };
        row("last line open", "A\r\nB", "", "", "A\r\nB\r\n", 0, 0);
        row("LF only", "A\n", "", "", "A\n\r\n", 0, 0);
        row("missing is made", kMissing, "", "", "", 0, 0);
        row("create keeps", "old\r\nB", "create", "", "old\r\nB\r\n", 0, 0);
        row("check skipped", "A\r\nB", "skip", "", "A\r\nB", 0, 0);
        row("append, empty line", "", "", "Aone A", "one\r\n\r\n", 7, 3);
        row("insert moves all", QByteArray(5000, 'x'), "", "Iy", "y\r\n" + QByteArray(5000, 'x') + "\r\n", 3,
            2);
        row("truncate", "A\r\nB\r\n", "", "IX T Ahead", "head\r\n", 6, 2);
        row("insert after file shrank", "A\r\nB\r\n", "", "AC X3 ID", "A\r\nD\r\n", 6, 3);
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

    void chooseAndOpen()
    {
        CTextFile file;
        // No chooser at all counts as cancelled, as does an empty answer.
        QVERIFY(!file.ChooseAndOpen("trace.csv", "", "/", true, false));
        TextFileDialogRequest seen;
        std::string chosen;
        file.setChooser([&](const TextFileDialogRequest &request) {
            seen = request;
            return chosen;
        });
        QVERIFY(!file.ChooseAndOpen("trace.csv", "", "/var", true, false));
        QVERIFY(!seen.save);
        QCOMPARE(seen.initialFolder, std::string("/var"));
        // The name is cut from the end only, not wherever it occurs.
        chosen = path("trace.csv/trace.csv");
        QVERIFY(QDir().mkpath(QString::fromStdString(path("trace.csv"))));
        QVERIFY(file.ChooseAndOpen("trace.csv", "", "", false, false));
        QVERIFY(seen.save);
        QCOMPARE(seen.initialFolder, QDir::currentPath().toStdString());
        QCOMPARE(file.Name(), chosen);
        QCOMPARE(file.Folder(), path("trace.csv/"));
        QVERIFY(file.AppendLine("x"));
        file.CloseFile();
        QCOMPARE(readFile(QString::fromStdString(chosen)), QByteArray("x\r\n"));
    }

    void exclusiveOpen()
    {
        // An exclusive holder keeps every other opener out, and a shared
        // holder an exclusive one; once the holder lets go the file is free.
        const std::string log = path("log.csv");
        writeContents(log, "held\r\n");
        for (bool firstExclusive : {true, false}) {
            CTextFile first, second;
            QVERIFY(first.OpenFile(log, true, false, firstExclusive, true));
            QVERIFY(!second.OpenFile(log, true, false, !firstExclusive, true));
            QCOMPARE(second.lastError(), kBusy);
            first.CloseFile();
            QVERIFY(second.OpenFile(log, true, false, true, true));
        }
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
