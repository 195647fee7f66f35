// The six exports through dlopen, as a host program calls them: the
// reminder window, a scheduled check against a real FTP server up to the
// release notes, a check on request, the view-only release notes and a
// restore in the progress window.
#include "ftpserver.h"
#include "moravel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <dlfcn.h>
#include <functional>

namespace {

const char *const kServer = "Spelmar/Updates";

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QVariant reminderValue(const QString &name)
{
    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    return store.value(QString("Software/Norvane/AutoUpdate/%1/%2").arg(kServer, name));
}

void setReminderValue(const QString &name, const QVariant &value)
{
    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    store.setValue(QString("Software/Norvane/AutoUpdate/%1/%2").arg(kServer, name), value);
}

QWidget *windowTitled(const QString &title)
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->windowTitle() == title)
            return widget;
    return nullptr;
}

// Works the modal windows that a blocking call opens, one step at a time:
// each step gets the active modal window and says whether it is done.
class ModalDriver : public QObject
{
public:
    using Step = std::function<bool(QWidget *)>;

    explicit ModalDriver(QList<Step> steps) : m_steps(std::move(steps))
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
        if (text)
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
    void exportsOnlyTheSix();
    void settingsWindowBeforeAnythingElse();
    void settingsWindowUsableBesideAModalHost();
    void scheduledCheckLeadsToReleaseNotes();
    void checkOnRequestReportsNoConnection();
    void releaseInfoIsViewOnly();
    void restoreFilesGoesBackToARelease();
    void updateFilesTakesAll_data();
    void updateFilesTakesAll();

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

void TestExports::exportsOnlyTheSix()
{
    for (const char *name : {"ReleaseInfo", "UpdateInfo", "UpdateStartSchedule", "UpdateFiles",
                             "RestoreFiles", "UpdateSetupScheduler"})
        QVERIFY2(dlsym(m_library, name), name);

    const QString nm = QStandardPaths::findExecutable("nm");
    if (nm.isEmpty())
        QSKIP("nm is not installed");
    QProcess process;
    process.start(nm, {"-D", "--defined-only", MORAVEL_LIBRARY});
    QVERIFY(process.waitForFinished(60000));
    QStringList names;
    for (const QString &line : QString::fromLatin1(process.readAllStandardOutput()).split('\n'))
        if (!line.isEmpty())
            names << line.section(' ', -1);
    names.sort();
    QCOMPARE(names, (QStringList{"ReleaseInfo", "RestoreFiles", "UpdateFiles", "UpdateInfo",
                                 "UpdateSetupScheduler", "UpdateStartSchedule"}));
}

void TestExports::settingsWindowBeforeAnythingElse()
{
    auto setup = resolve<UpdateSetupSchedulerFunction>("UpdateSetupScheduler");
    const QString title = "Automatic Update Reminder  Version: 3.0.0";
    setReminderValue("Active", 0);
    setReminderValue("Interval", 9);

    QVERIFY(setup(kServer));
    QWidget *window = windowTitled(title);
    QVERIFY(window);
    QVERIFY(!window->findChild<QCheckBox *>("activeCheck")->isChecked());
    QCOMPARE(window->findChild<QLineEdit *>("intervalEdit")->text(), QString("9"));

    // Again while open: the same window, untouched.
    window->findChild<QLineEdit *>("intervalEdit")->setText("4");
    QVERIFY(setup(kServer));
    QCOMPARE(windowTitled(title), window);
    QCOMPARE(window->findChild<QLineEdit *>("intervalEdit")->text(), QString("4"));

    // Closed with cancel and opened again: reloaded from the store.
    window->findChild<QPushButton *>("cancelButton")->click();
    QVERIFY(!window->isVisible());
    QVERIFY(setup(kServer));
    QVERIFY(window->isVisible());
    QCOMPARE(window->findChild<QLineEdit *>("intervalEdit")->text(), QString("9"));
    window->findChild<QPushButton *>("cancelButton")->click();

    QSettings store(QSettings::UserScope, "Norvane", "AutoUpdate");
    store.remove("Software/Norvane/AutoUpdate/Spelmar/Updates");
}

// Counts the blocked notices that windows get while a modal window runs.
class BlockedWatch : public QObject
{
public:
    QSet<QObject *> blocked;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowBlocked)
            blocked.insert(watched);
        else if (event->type() == QEvent::WindowUnblocked)
            blocked.remove(watched);
        return false;
    }
};

void TestExports::settingsWindowUsableBesideAModalHost()
{
    // The host's main window runs modally, as the tracker's does.
    auto setup = resolve<UpdateSetupSchedulerFunction>("UpdateSetupScheduler");
    BlockedWatch watch;
    qApp->installEventFilter(&watch);
    QDialog host;
    QWidget *window = nullptr;
    bool blocked = true;
    QTimer::singleShot(0, &host, [&] {
        setup(kServer);
        window = windowTitled("Automatic Update Reminder  Version: 3.0.0");
        QTimer::singleShot(0, &host, [&] {
            blocked = window && (watch.blocked.contains(window)
                                 || watch.blocked.contains(window->windowHandle()));
            window->findChild<QPushButton *>("cancelButton")->click();
            host.accept();
        });
    });
    host.exec();
    qApp->removeEventFilter(&watch);
    QVERIFY(window);
    QVERIFY(!blocked);
}

void TestExports::scheduledCheckLeadsToReleaseNotes()
{
    auto start = resolve<UpdateStartScheduleFunction>("UpdateStartSchedule");
    const QString programPath = m_program.filePath("Spelmar.exe");

    QString question;
    QString caption;
    ModalDriver driver({answerBox(QMessageBox::Yes, &question), [&](QWidget *modal) {
                            auto *exit = modal->findChild<QPushButton *>("exitButton");
                            if (!exit || !exit->isVisible())
                                return false;
                            caption = modal->windowTitle();
                            exit->click();
                            return true;
                        }});
    // First start: the defaults are written and a check is due. The paths
    // come from this call although the settings window made the instance.
    QVERIFY(start(kServer, programPath.toUtf8().constData()));
    QCOMPARE(reminderValue("Active").toInt(), 1);
    QCOMPARE(reminderValue("Interval").toInt(), 5);
    const double firstStamp = reminderValue("LastUpdate").toString().toDouble();

    QTRY_VERIFY_WITH_TIMEOUT(driver.done(), 120000);
    QVERIFY2(question.startsWith(" Message from: <Moravel>-Tool  V 3.0.0\n"), qPrintable(question));
    QVERIFY2(question.contains("   1.00.01\t\t->> a.txt \n"), qPrintable(question));
    QVERIFY(!question.contains("b.txt"));
    QCOMPARE(caption, QString(" <<<  Last Software Updates on <%1>  (NORVANE AG Westmark)  >>>"
                              "Moravel Release Notes Version: 3.0.0")
                          .arg(m_server->host()));
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
    auto releaseInfo = resolve<ReleaseInfoFunction>("ReleaseInfo");
    QString caption;
    bool buttonsHidden = false;
    ModalDriver driver({[&](QWidget *modal) {
        caption = modal->windowTitle();
        buttonsHidden = true;
        for (auto *button : modal->findChildren<QPushButton *>())
            buttonsHidden = buttonsHidden && !button->isVisible();
        modal->close();
        return true;
    }});
    QVERIFY(releaseInfo(m_program.filePath("no such page.html").toUtf8().constData()));
    QVERIFY(driver.done());
    QCOMPARE(caption, QString("Moravel Release Notes Version: 3.0.0"));
    QVERIFY(buttonsHidden);
}

void TestExports::restoreFilesGoesBackToARelease()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(folder.filePath("a.txt"), "now"));
    QVERIFY(writeFile(folder.filePath("201401011200/a.txt"), "jan"));
    QVERIFY(writeFile(folder.filePath("201403151200/a.txt"), "mar"));
    QVERIFY(writeFile(folder.filePath("201406301200/a.txt"), "jun"));
    QVERIFY(writeFile(folder.filePath("201406301200/b.txt"), "jun b"));

    auto restore = resolve<RestoreFilesFunction>("RestoreFiles");
    QStringList lines;
    ModalDriver driver({[&](QWidget *modal) {
        auto *ok = modal->findChild<QPushButton *>("okButton");
        auto *list = modal->findChild<QListWidget *>("logList");
        if (!ok || !list || !ok->isEnabled() || list->count() == 0
            || list->item(list->count() - 1)->text() != "  End of restore procedure!! ")
            return false;
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        ok->click();
        return true;
    }});
    // A folder path: no program to offer at the end.
    QVERIFY(restore("201401011200", (folder.path() + "/").toUtf8().constData()));
    QVERIFY(driver.done());
    QCOMPARE(readFile(folder.filePath("a.txt")), QByteArray("jan"));
    QCOMPARE(readFile(folder.filePath("b.txt")), QByteArray("jun b"));
    QCOMPARE(lines.first(), QString("... Preparing restore from directory!"));
    QVERIFY(lines.contains("---- start restore to 201401011200"));
    QCOMPARE(lines.last(), QString("  End of restore procedure!! "));
}

void TestExports::updateFilesTakesAll_data()
{
    QTest::addColumn<int>("takeAll");
    QTest::addColumn<QByteArray>("b");
    QTest::newRow("newer only") << 0 << QByteArray("installed b");
    QTest::newRow("take all") << 7 << QByteArray("b"); // any non-zero byte
}

void TestExports::updateFilesTakesAll()
{
    QFETCH(int, takeAll);
    QFETCH(QByteArray, b);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(folder.filePath("RelInfoLocal.rel"), "a.txt;1.00.00\r\nb.txt;1.00.00\r\n"));
    QVERIFY(writeFile(folder.filePath("a.txt"), "installed a"));
    QVERIFY(writeFile(folder.filePath("b.txt"), "installed b"));

    auto update = resolve<UpdateFilesFunction>("UpdateFiles");
    ModalDriver driver({[&](QWidget *modal) {
        auto *ok = modal->findChild<QPushButton *>("okButton");
        auto *list = modal->findChild<QListWidget *>("logList");
        if (!ok || !list || !ok->isEnabled() || list->count() == 0
            || list->item(list->count() - 1)->text() != "  End of download procedure!! ")
            return false;
        ok->click();
        return true;
    }});
    QVERIFY(update(kServer, folder.path().toUtf8().constData(),
                   static_cast<unsigned char>(takeAll)));
    QVERIFY(driver.done());
    QCOMPARE(readFile(folder.filePath("a.txt")), QByteArray("new a"));
    QCOMPARE(readFile(folder.filePath("b.txt")), b);
}

QTEST_MAIN(TestExports)
#include "tst_moravel_exports.moc"
