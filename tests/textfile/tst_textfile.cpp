#include "testfiles.h"
#include "textfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

const char kMissing[] = "<missing>";

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
            QVERIFY(writeFile(QString::fromStdString(path("edit.txt")), before));
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

    void exclusiveOpen()
    {
        // An exclusive holder keeps every other opener out, and a shared
        // holder an exclusive one; once the holder lets go the file is free.
        const std::string log = path("log.csv");
        QVERIFY(writeFile(QString::fromStdString(log), "held\r\n"));
        for (bool firstExclusive : {true, false}) {
            CTextFile first, second;
            QVERIFY(first.OpenFile(log, true, false, firstExclusive, true));
            QVERIFY(!second.OpenFile(log, true, false, !firstExclusive, true));
            QCOMPARE(second.lastError(), std::string("Error occurred! \nDevice or resource busy\n"));
            first.CloseFile();
            QVERIFY(second.OpenFile(log, true, false, true, true));
        }
    }

    // Choosing a file: no chooser or an empty answer is a cancel; the folder is
    // cut from the end of the chosen name only. An open that fails offers the
    // chooser, and the chosen file is then held like any other.
    void chooser()
    {
        CTextFile file, other;
        QVERIFY(!file.ChooseAndOpen("trace.csv", "", "/", true, false));
        const std::string chosen = path("trace.csv/trace.csv");
        QVERIFY(QDir().mkpath(QString::fromStdString(path("trace.csv"))));
        TextFileDialogRequest seen;
        file.setChooser([&](const TextFileDialogRequest &request) {
            seen = request;
            return request.save ? chosen : std::string();
        });
        QVERIFY(!file.ChooseAndOpen("trace.csv", "", "/var", true, false));
        QCOMPARE(seen.initialFolder, std::string("/var"));
        QVERIFY(file.ChooseAndOpen("trace.csv", "", "", false, false));
        QCOMPARE(seen.title, std::string("save file...trace.csv"));
        QCOMPARE(seen.initialFolder, QDir::currentPath().toStdString());
        QCOMPARE(file.Folder(), path("trace.csv/"));
        QVERIFY(file.CloseFile());

        file.setChooser([&](const TextFileDialogRequest &request) {
            seen = request;
            return request.save ? std::string() : chosen;
        });
        QVERIFY(file.OpenFile(path("gone.csv"), false, true));
        QCOMPARE(seen.defaultName, path("gone.csv"));
        QCOMPARE(file.Name(), chosen);
        QVERIFY(!other.OpenFile(chosen, false, false));
        QVERIFY(file.CloseFile());
        file.setChooser([](const TextFileDialogRequest &) { return std::string(); });
        QVERIFY(!file.OpenFile(path("gone.csv"), false, true));
        QCOMPARE(readFile(QString::fromStdString(path("gone.csv"))), QByteArray(kMissing));
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
