// The six exports through dlopen, as a host program calls them: the
// reminder window, a scheduled check against a real FTP server up to the
// release notes, a check on request, the view-only release notes, and a
// restore and downloads in the progress window; and the dynamic symbol
// tables of the library and of the program.
#include "ftpserver.h"
#include "moravel.h"
#include "testfiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <dlfcn.h>
#include <functional>

namespace {

const char *const kServer = "Spelmar/Updates";
const QString kNotesCaption = "Moravel Release Notes Version: 3.0.0";

QVariant reminderValue(const QString &name, const QVariant &newValue = {})
{
    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    const QString key = QString("Software/Norvane/AutoUpdate/%1/%2").arg(kServer, name);
    if (newValue.isValid())
        store.setValue(key, newValue);
    return store.value(key);
}

// Works the modal windows that a blocking call opens, one step at a time:
// each step gets the active modal window and says whether it is done.
class ModalDriver : public QObject
{
public:
    using Step = std::function<bool(QWidget *)>;
    explicit ModalDriver(QList<Step> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!m_steps.isEmpty() && modal && m_steps.first()(modal))
                m_steps.removeFirst();
        });
        m_timer.start(20);
    }
    bool done() const { return m_steps.isEmpty(); }

private:
    QList<Step> m_steps;
    QTimer m_timer;
};

// A step that answers a message box with button and keeps its text.
ModalDriver::Step answerBox(QMessageBox::StandardButton button, QString *text)
{
    return [button, text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box || !box->button(button))
            return false;
        *text = box->text();
        box->button(button)->click();
        return true;
    };
}

} // namespace

class TestExports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dynamicSymbols_data();
    void dynamicSymbols();
    void settingsWindowBeforeAnythingElse();
    void scheduledCheckLeadsToReleaseNotes();
    void checkOnRequestReportsNoConnection();
    void releaseInfoIsViewOnly();
    void progressWindow_data();
    void progressWindow();
    void refusedOrCannotStart_data();
    void refusedOrCannotStart();

private:
    template <typename F>
    F resolve(const char *name)
    {
        return reinterpret_cast<F>(dlsym(m_library, name));
    }

    QTemporaryDir m_config;
    QTemporaryDir m_serverRoot;
    QTemporaryDir m_program;
    std::unique_ptr<FtpTestServer> m_server;
    void *m_library = nullptr;
};

void TestExports::initTestCase()
{
    QVERIFY(m_config.isValid() && m_serverRoot.isValid() && m_program.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    const QString updates = m_serverRoot.filePath(kServer);
    QVERIFY(writeFile(updates + "/RelInfoRemote.rel", "a.txt;1.00.01\r\nb.txt;1.00.00\r\n"));
    QVERIFY(writeFile(updates + "/a.txt", "new a"));
    QVERIFY(writeFile(updates + "/b.txt", "b"));
    QVERIFY(writeFile(updates + "/LatestUpdate.html", "<h1>Release 1.00.01</h1>"));
    m_server = std::make_unique<FtpTestServer>(m_serverRoot.path());
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    // Read by the library's FTP client; set before any of its threads runs.
    qputenv("MORAVEL_FTP_HOST", m_server->host().toUtf8());
    QVERIFY(writeFile(m_program.filePath("RelInfoLocal.rel"), "a.txt;1.00.00\r\nb.txt;1.00.00\r\n"));
    QVERIFY(writeFile(m_program.filePath("upd_a.txt"), "left over"));
    m_library = dlopen(MORAVEL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_library, dlerror());
}

void TestExports::dynamicSymbols_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("library") << QStringLiteral(MORAVEL_LIBRARY)
                             << QStringList{"ReleaseInfo", "RestoreFiles",         "UpdateFiles",
                                            "UpdateInfo",  "UpdateSetupScheduler", "UpdateStartSchedule"};
    QTest::newRow("program") << QStringLiteral(SPELMAR_PROGRAM)
                             << QStringList{"GetTimeDiff", "GetTimeDiffEx"};
}

// Nothing else lands in either dynamic symbol table.
void TestExports::dynamicSymbols()
{
    QFETCH(QString, file);
    QFETCH(QStringList, names);
    QProcess process;
    process.start(QStringLiteral("nm"), {"-D", "--defined-only", file});
    QVERIFY2(process.waitForFinished(60000), qPrintable(process.errorString()));
    QStringList found;
    for (const QString &line :
         QString::fromLatin1(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        found << line.section(' ', -1);
    found.sort();
    QCOMPARE(found, names);
}

void TestExports::settingsWindowBeforeAnythingElse()
{
    auto setup = resolve<UpdateSetupSchedulerFunction>("UpdateSetupScheduler");
    reminderValue("Active", 0);
    reminderValue("Interval", 9);
    QVERIFY(setup(kServer));
    QWidget *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->windowTitle() == "Automatic Update Reminder  Version: 3.0.0")
            window = widget;
    QVERIFY(window);
    auto *edit = window->findChild<QLineEdit *>("intervalEdit");
    auto *cancel = window->findChild<QPushButton *>("cancelButton");
    QVERIFY(!window->findChild<QCheckBox *>("activeCheck")->isChecked());
    QCOMPARE(edit->text(), QString("9"));

    // Again while open: the same window, untouched.
    edit->setText("4");
    QVERIFY(setup(kServer));
    QVERIFY(window->isVisible());
    QCOMPARE(edit->text(), QString("4"));

    // Closed and opened again by a host whose main window runs modally, as
    // the tracker's does: reloaded, and it still takes the user's click.
    cancel->click();
    QDialog host;
    bool clicked = false;
    QString reloaded;
    QTimer::singleShot(0, &host, [&] {
        setup(kServer);
        QTimer::singleShot(0, &host, [&] {
            reloaded = edit->text();
            QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                              cancel->mapTo(window, cancel->rect().center()));
            clicked = !window->isVisible();
            host.accept();
        });
    });
    host.exec();
    QCOMPARE(reloaded, QString("9"));
    QVERIFY(clicked);
    QSettings(QSettings::UserScope, "Norvane", "AutoUpdate")
        .remove("Software/Norvane/AutoUpdate/Spelmar/Updates");
}

void TestExports::scheduledCheckLeadsToReleaseNotes()
{
    auto start = resolve<UpdateStartScheduleFunction>("UpdateStartSchedule");
    QString question;
    QString caption;
    ModalDriver driver({answerBox(QMessageBox::Yes, &question), [&](QWidget *modal) {
                            auto *exit = modal->findChild<QPushButton *>("exitButton");
                            // The page arrives while the window is open.
                            auto *page = modal->findChild<QTextEdit *>("WebBrowser");
                            if (!exit || !exit->isVisible() || !page
                                || !page->toPlainText().contains("Release 1.00.01"))
                                return false;
                            caption = modal->windowTitle();
                            exit->click();
                            return true;
                        }});
    // First start: the defaults are written and a check is due. The paths
    // come from this call although the settings window made the instance.
    QVERIFY(start(kServer, m_program.filePath("Spelmar.exe").toUtf8().constData()));
    QCOMPARE(reminderValue("Active").toInt(), 1);
    QCOMPARE(reminderValue("Interval").toInt(), 5);
    const double firstStamp = reminderValue("LastUpdate").toString().toDouble();

    QTRY_VERIFY_WITH_TIMEOUT(driver.done(), 120000);
    QVERIFY2(question.contains("   1.00.01\t\t->> a.txt \n") && !question.contains("b.txt"),
             qPrintable(question));
    QCOMPARE(caption,
             QString(" <<<  Last Software Updates on <%1>  (NORVANE AG Westmark)  >>>").arg(m_server->host())
                 + kNotesCaption);
    QCOMPARE(readFile(m_program.filePath("LatestUpdate.html")), QByteArray("<h1>Release 1.00.01</h1>"));
    QVERIFY(!QFile::exists(m_program.filePath("upd_a.txt")));
    QVERIFY(reminderValue("LastUpdate").toString().toDouble() >= firstStamp);
}

void TestExports::checkOnRequestReportsNoConnection()
{
    auto info = resolve<UpdateInfoFunction>("UpdateInfo");
    QString text;
    ModalDriver driver({answerBox(QMessageBox::Ok, &text)});
    // A server path that the server does not have; the program path of the
    // first call stays in force.
    QVERIFY(!info("Other/Updates", "/elsewhere/Other.exe"));
    QVERIFY(driver.done());
    QCOMPARE(text, QString("No connection to the NORVANE ftp server!\nSwitch off the automatic updates!"));
}

void TestExports::releaseInfoIsViewOnly()
{
    QStringList seen; // the caption and the buttons shown; a missing page shows no box
    ModalDriver driver({[&](QWidget *modal) {
        seen << modal->windowTitle();
        for (auto *button : modal->findChildren<QPushButton *>())
            if (button->isVisible())
                seen << button->text();
        modal->close();
        return true;
    }});
    auto releaseInfo = resolve<ReleaseInfoFunction>("ReleaseInfo");
    QVERIFY(releaseInfo(m_program.filePath("no such page.html").toUtf8().constData()));
    QVERIFY(driver.done());
    QCOMPARE(seen, QStringList{kNotesCaption});
}

void TestExports::progressWindow_data()
{
    // Release (RestoreFiles when given, else UpdateFiles)|takeAll|program
    // offered at the end (the question declined)|one of the window's lines
    // (none: closed while it runs)|a.txt after ("/" between what may be
    // there)|b.txt after.
    QTest::addColumn<QString>("run");
    QTest::newRow("restore") << "201401011200|0||---- start restore to 201401011200|jan|jun b";
    QTest::newRow("newer only, no start") << "|0|a.txt|  ok!    a.txt|new a|installed b";
    QTest::newRow("take all") << "|7||  ok!    b.txt|new a|b"; // any non-zero byte
    QTest::newRow("closed while running") << "|0|a.txt||installed a/new a|installed b";
}

void TestExports::progressWindow()
{
    QFETCH(QString, run);
    const QStringList parts = run.split('|');
    const QString release = parts[0], program = parts[2], line = parts[3];
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("RelInfoLocal.rel"), "a.txt;1.00.00\r\nb.txt;1.00.00\r\n"));
    QVERIFY(writeFile(folder.filePath("a.txt"), "installed a"));
    QVERIFY(writeFile(folder.filePath("b.txt"), "installed b"));
    QVERIFY(writeFile(folder.filePath("201401011200/a.txt"), "jan"));
    QVERIFY(writeFile(folder.filePath("201406301200/a.txt"), "jun"));
    QVERIFY(writeFile(folder.filePath("201406301200/b.txt"), "jun b"));
    // A release in phases whose moment for this installation is days away:
    // the user's install takes it all the same.
    QVERIFY(writeFile(folder.filePath("RelInfoLocal.phase"), "0.5\n"));
    const QString serverList = m_serverRoot.filePath(kServer) + "/RelInfoRemote.rel";
    const QByteArray listed = readFile(serverList);
    QVERIFY(writeFile(serverList,
                      listed + "; Phased; " + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1()
                          + "; 30\r\n"));
    const auto restoreList = qScopeGuard([&] { writeFile(serverList, listed); });

    // Waits for the window's last line, keeps its lines and closes it with
    // OK; or closes it once its worker runs (OK disabled) or is over.
    const QString last =
        release.isEmpty() ? "  End of download procedure!! " : "  End of restore procedure!! ";
    QStringList lines;
    QString question;
    const ModalDriver::Step finish = [&](QWidget *modal) {
        auto *ok = modal->findChild<QPushButton *>("okButton");
        auto *list = modal->findChild<QListWidget *>("logList");
        if (!ok || !list || list->count() == 0)
            return false;
        if (line.isEmpty() && (!ok->isEnabled() || list->count() > 1))
            return modal->close();
        if (!ok->isEnabled() || list->item(list->count() - 1)->text() != last)
            return false;
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        ok->click();
        return true;
    };
    const ModalDriver::Step declined = answerBox(QMessageBox::No, &question);
    ModalDriver driver(program.isEmpty()    ? QList{finish}
                           : line.isEmpty() ? QList{finish, declined}
                                            : QList{declined, finish});
    const QByteArray programPath = (folder.path() + "/" + program).toUtf8();
    if (!release.isEmpty())
        QVERIFY(resolve<RestoreFilesFunction>("RestoreFiles")(release.toUtf8().constData(),
                                                              programPath.constData()));
    else
        QVERIFY(resolve<UpdateFilesFunction>("UpdateFiles")(kServer, programPath.constData(),
                                                            static_cast<unsigned char>(parts[1].toInt())));
    QVERIFY(parts[4].split(QChar('/')).contains(QString::fromUtf8(readFile(folder.filePath("a.txt")))));
    QCOMPARE(readFile(folder.filePath("b.txt")), parts[5].toUtf8());
    if (line.isEmpty()) { // no question after an abort
        QCOMPARE(question, QString());
        return;
    }
    QVERIFY(driver.done());
    // The line the window opens with is not repeated when the job reports it.
    QVERIFY2(lines.contains(line) && lines.count(lines.first()) == 1, qPrintable(lines.join('\n')));
    if (!program.isEmpty())
        QCOMPARE(question,
                 " End of software update!\n----------------------------------------------------------\n"
                 "\n\n Do you want to start the new released programm ?\n\n Press <yes> to start a.txt\n");
}

void TestExports::refusedOrCannotStart_data()
{
    // Export|program path ("@": a temporary program folder)|the box's text
    // begins with.
    const QString refused = " This installation cannot be updated from here: the program folder\n ";
    QTest::addColumn<QString>("exportName");
    QTest::addColumn<QString>("programPath");
    QTest::addColumn<QString>("box");
    QTest::newRow("UpdateFiles, packaged folder")
        << "UpdateFiles"
        << "/usr/share/doc/dpkg" << refused + "/usr/share/doc/dpkg\n belongs to the package dpkg";
    QTest::newRow("RestoreFiles, missing folder")
        << "RestoreFiles"
        << "/nonexistent/spelmar" << refused + "/nonexistent/spelmar\n does not exist.\n";
    // Yes to starting a program that cannot start: its reason, and the
    // window stays open (closed by the last step) instead of ending.
    QTest::newRow("program cannot start") << "RestoreFiles"
                                          << "@/a.txt"
                                          << " The program could not be started!\n";
}

void TestExports::refusedOrCannotStart()
{
    QFETCH(QString, exportName);
    QFETCH(QString, programPath);
    QFETCH(QString, box);
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("a.txt"), "installed a"));
    QVERIFY(writeFile(folder.filePath("201401011200/a.txt"), "jan"));
    const bool starts = programPath.startsWith('@');
    QString question, text;
    const ModalDriver::Step closeProgress = [](QWidget *modal) {
        auto *ok = modal->findChild<QPushButton *>("okButton");
        return ok && ok->isEnabled() && modal->close();
    };
    ModalDriver driver(starts ? QList{answerBox(QMessageBox::Yes, &question),
                                      answerBox(QMessageBox::Ok, &text), closeProgress}
                              : QList{answerBox(QMessageBox::Ok, &text)});
    const QByteArray path = programPath.replace('@', folder.path()).toUtf8();
    if (exportName == "UpdateFiles")
        QVERIFY(resolve<UpdateFilesFunction>("UpdateFiles")(kServer, path.constData(), 0));
    else
        QVERIFY(resolve<RestoreFilesFunction>("RestoreFiles")("201401011200", path.constData()));
    QVERIFY(driver.done());
    QVERIFY2(text.startsWith(box), qPrintable(text));
    QCOMPARE(readFile(folder.filePath("a.txt")), starts ? "jan" : "installed a");
}

QTEST_MAIN(TestExports)
#include "tst_moravel_exports.moc"
