// Boxes under a real window manager: Xvfb with openbox, the stacking order
// read from the window manager. The question of a window that stays on
// top (the release notes) or of the installer's progress window opens
// above that window, tied to it.
#include "childprocess.h"
#include "ftpserver.h"
#include "releasenotesdlg.h"
#include "testfiles.h"
#include "virtualdisplay.h"
#include "widgetprompt.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const char *const kChildArgument = "--release-notes-window";

// The release notes in install mode, "Install new updates..." pressed:
// its confirmation box stays open until the process is ended.
int releaseNotesChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    CReleaseNotesDlg notes(CWidgetPrompt::instance());
    notes.setInstallMode(true);
    notes.setServerPath("Spelmar/Updates");
    notes.setProgramFolder(QDir::tempPath().toStdString());
    notes.setProgramName("spelmar");
    QTimer::singleShot(1500, &notes, [&notes] {
        if (auto *button = notes.findChild<QPushButton *>("installNewButton"))
            button->click();
    });
    return notes.exec();
}

QStringList windowIds(const QString &xpropLine)
{
    QStringList ids;
    const QRegularExpression id("0x[0-9a-f]+");
    for (auto it = id.globalMatch(xpropLine); it.hasNext();)
        ids << it.next().captured();
    return ids;
}

} // namespace

class TestStacking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void boxAboveItsWindow_data();
    void boxAboveItsWindow();

private:
    QString xprop(const QStringList &arguments) { return m_display.xprop(arguments); }

    VirtualDisplay m_display;
    QProcessEnvironment &m_environment = m_display.environment();
    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
};

void TestStacking::initTestCase()
{
    if (const QStringList missing = VirtualDisplay::missingPrograms(); !missing.isEmpty())
        QSKIP(
            qPrintable(missing.join(", ") + " not installed: boxes under a window manager are not checked"));
    m_environment.insert("XDG_CONFIG_HOME", m_work.filePath("config"));
    QString why;
    if (!m_display.start("1024x768", &why))
        QSKIP(qPrintable("no window manager could be started here, boxes under it are not checked: " + why));

    QVERIFY(
        writeFile(m_work.filePath("server/Spelmar/Updates/RelInfoRemote.rel"), "Spelmar.exe; 3.01.02\r\n"));
    QVERIFY(writeFile(m_work.filePath("server/Spelmar/Updates/Spelmar.exe"), "new"));
    m_server = std::make_unique<FtpTestServer>(m_work.filePath("server"));
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    m_environment.insert("MORAVEL_FTP_HOST", m_server->host());
}

void TestStacking::boxAboveItsWindow_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("windowTitle");

    QTest::newRow("release notes, install confirmation")
        << QCoreApplication::applicationFilePath() << QStringList{kChildArgument}
        << "Moravel Release Notes Version: 3.0.0";
    QTest::newRow("installer, start the program again")
        << QString(QUENNET_PROGRAM) << QStringList{"Spelmar/Updates", m_work.filePath("program/Spelmar.exe")}
        << "  NORVANE  software updater";
}

void TestStacking::boxAboveItsWindow()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, windowTitle);

    QDir(m_work.filePath("program")).removeRecursively();
    QVERIFY(writeFile(m_work.filePath("program/Spelmar.exe"), "old"));
    QVERIFY(writeFile(m_work.filePath("program/RelInfoLocal.rel"), "Spelmar.exe; 3.01.01\r\n"));
    QProcess child;
    child.setProcessEnvironment(m_environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, arguments);
    QVERIFY(child.waitForStarted());

    // The clients bottom to top, once the window and a box tied to it are up.
    QString window;
    QStringList stacking;
    const auto boxIsUp = [&] {
        stacking = windowIds(xprop({"-root", "_NET_CLIENT_LIST_STACKING"}).section('#', 1));
        window.clear();
        for (const QString &id : stacking) {
            if (xprop({"-id", id, "WM_NAME"}).contains('"' + windowTitle + '"'))
                window = id;
        }
        return !window.isEmpty() && stacking.size() >= 2;
    };
    const bool up = QTest::qWaitFor(boxIsUp, 60000);
    QTest::qWait(500); // the manager restacks once more when the box maps
    boxIsUp();
    const QString top = stacking.value(stacking.size() - 1);
    const QStringList owner = windowIds(xprop({"-id", top, "WM_TRANSIENT_FOR"}));
    child.kill();
    child.waitForFinished();

    QVERIFY2(up, qPrintable(stacking.join(' ')));
    QVERIFY2(top != window, "the box opened behind its window");
    QCOMPARE(owner.value(0).toULongLong(nullptr, 16), window.toULongLong(nullptr, 16));
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], kChildArgument) == 0)
        return releaseNotesChild(argc, argv);
    QApplication app(argc, argv);
    TestStacking test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updater_ui_stacking.moc"
