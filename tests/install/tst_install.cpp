// The installation from `cmake --install` into a temporary prefix: its
// layout and revision file, the installed programs run from there, the
// desktop files through their validators, and an installation that its
// user cannot write.
#include "childprocess.h"
#include "installtree.h"
#include "testfiles.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

#include <unistd.h>

namespace {

const QString kReadOnlyText = QStringLiteral("is not writable for you");
const QString kReminderKey = QStringLiteral("Software/Norvane/AutoUpdate/Spelmar/Updates/");

// A release as the revision files write it: 2.0.0 becomes 2.00.00.
QString revisionOf(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    return parts.value(0) + QLatin1Char('.') + parts.value(1).rightJustified(2, QLatin1Char('0'))
        + QLatin1Char('.') + parts.value(2).rightJustified(2, QLatin1Char('0'));
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void revisionFile();
    void programsAnswer_data();
    void programsAnswer();
    void validators_data();
    void validators();
    void readOnlyInstallation_data();
    void readOnlyInstallation();
    void reminderTellsReadOnlyOnce();
    void cleanupTestCase() { makeWritable(); }

private:
    void makeWritable();
    QString path(const QString &relative) const { return m_prefix.filePath(relative); }
    QProcessEnvironment environment() const;
    // The command that runs program with the program folder read-only for
    // it: a read-only bind mount for root, whom permissions do not stop,
    // else a folder without write permission.
    QStringList readOnly(const QStringList &command) const;

    QTemporaryDir m_prefix;
    QTemporaryDir m_config;
    QString m_program;
    bool m_asRoot = false;
    bool m_readOnlyPossible = false;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid() && m_config.isValid());
    const QString failure = installTree(m_prefix.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    m_program = installedProgramFolder(m_prefix.path());
    m_asRoot = ::geteuid() == 0;
    // Root needs a mount namespace of its own for a read-only folder; a
    // container may not grant one.
    m_readOnlyPossible = !m_asRoot
        || runProgram(readOnly({QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                QStringLiteral("! touch \"$0/probe\" 2>/dev/null"), m_program}),
                      environment(), QDir::rootPath())
                .exitCode
            == 0;
}

void TestInstall::makeWritable()
{
    QFile::setPermissions(m_program,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QProcessEnvironment TestInstall::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Nothing may reach a server here: a refused port.
    environment.insert(QStringLiteral("MORAVEL_FTP_HOST"), QStringLiteral("127.0.0.1:1"));
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    return environment;
}

QStringList TestInstall::readOnly(const QStringList &command) const
{
    if (!m_asRoot)
        return command;
    return QStringList{QStringLiteral("unshare"),
                       QStringLiteral("--mount"),
                       QStringLiteral("/bin/sh"),
                       QStringLiteral("-c"),
                       QStringLiteral("mount --bind -o ro \"$1\" \"$1\" && shift && exec \"$@\""),
                       QStringLiteral("sh"),
                       m_program}
    + command;
}

void TestInstall::layout_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("target"); // a link's target in the program folder, else empty
    for (const char *name : {"Spelmar", "Quennet", "libMoravel.so", "spelmar-cli", "moravel-cli"})
        QTest::newRow(name) << QStringLiteral("lib/spelmar/") + QLatin1String(name) << QString();
    QTest::newRow("launcher") << QStringLiteral("bin/spelmar") << QString();
    QTest::newRow("spelmar-cli link") << QStringLiteral("bin/spelmar-cli") << QStringLiteral("spelmar-cli");
    QTest::newRow("moravel-cli link") << QStringLiteral("bin/moravel-cli") << QStringLiteral("moravel-cli");
    for (const char *size : {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256"})
        QTest::newRow(size)
            << QStringLiteral("share/icons/hicolor/%1/apps/com.norvane.Spelmar.png").arg(QLatin1String(size))
            << QString();
    for (const char *page : {"spelmar", "spelmar-cli", "moravel-cli"})
        QTest::newRow(page) << QStringLiteral("share/man/man1/%1.1.gz").arg(QLatin1String(page)) << QString();
}

void TestInstall::layout()
{
    QFETCH(QString, file);
    QFETCH(QString, target);
    const QFileInfo info(path(file));
    QVERIFY2(info.exists(), qPrintable(file));
    if (!target.isEmpty()) {
        // A relative link, so that the tree can move.
        const std::filesystem::path link = std::filesystem::read_symlink(path(file).toStdString());
        QVERIFY2(link.is_relative(), link.c_str());
        QCOMPARE(info.canonicalFilePath(),
                 QFileInfo(m_program + QLatin1Char('/') + target).canonicalFilePath());
    }
}

void TestInstall::revisionFile()
{
    const QString spelmar = revisionOf(QStringLiteral(SPELMAR_VERSION));
    const QString moravel = revisionOf(QStringLiteral(MORAVEL_VERSION));
    QCOMPARE(QString::fromLatin1(readFile(m_program + QStringLiteral("/RelInfoLocal.rel"))),
             QStringLiteral("Spelmar; %1\r\nlibMoravel.so; %2\r\nQuennet; %2\r\n"
                            "spelmar-cli; %1\r\nmoravel-cli; %2\r\n")
                 .arg(spelmar, moravel));
}

void TestInstall::programsAnswer_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("version");
    QTest::newRow("spelmar") << QStringLiteral("bin/spelmar") << QStringLiteral("Spelmar " SPELMAR_VERSION);
    QTest::newRow("spelmar-cli") << QStringLiteral("bin/spelmar-cli")
                                 << QStringLiteral("spelmar-cli " SPELMAR_VERSION);
    QTest::newRow("moravel-cli") << QStringLiteral("bin/moravel-cli")
                                 << QStringLiteral("moravel-cli " MORAVEL_VERSION);
    QTest::newRow("Quennet") << QStringLiteral("lib/spelmar/Quennet")
                             << QStringLiteral("Quennet " MORAVEL_VERSION);
}

void TestInstall::programsAnswer()
{
    // Started from elsewhere, as a user on the search path would.
    QFETCH(QString, program);
    QFETCH(QString, version);
    const ProgramRun shown =
        runProgram({path(program), QStringLiteral("--version")}, environment(), QDir::rootPath());
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.output, version + QLatin1Char('\n'));
    const ProgramRun help =
        runProgram({path(program), QStringLiteral("--help")}, environment(), QDir::rootPath());
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.output.startsWith(QLatin1String("usage"), Qt::CaseInsensitive)
                 && help.output.contains(QLatin1String("--version")),
             qPrintable(help.output));
}

void TestInstall::validators_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("desktop entry") << QStringList{
        QStringLiteral("desktop-file-validate"),
        path(QStringLiteral("share/applications/com.norvane.Spelmar.desktop"))};
    QTest::newRow("metainfo") << QStringList{
        QStringLiteral("appstreamcli"), QStringLiteral("validate"), QStringLiteral("--no-net"),
        path(QStringLiteral("share/metainfo/com.norvane.Spelmar.metainfo.xml"))};
}

void TestInstall::validators()
{
    QFETCH(QStringList, command);
    if (QStandardPaths::findExecutable(command.first()).isEmpty())
        QSKIP("validator not installed");
    const ProgramRun validated = runProgram(command, environment(), QDir::rootPath());
    QVERIFY2(validated.exitCode == 0, qPrintable(validated.output + validated.errors));
}

void TestInstall::readOnlyInstallation_data()
{
    QTest::addColumn<QString>("subcommand");
    QTest::newRow("check") << QStringLiteral("check");
    QTest::newRow("update") << QStringLiteral("update");
}

void TestInstall::readOnlyInstallation()
{
    // One message and nothing tried: no connection, no file written.
    QFETCH(QString, subcommand);
    if (!m_readOnlyPossible)
        QSKIP("no read-only bind mount for root here");
    const QStringList before = QDir(m_program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (!m_asRoot)
        QVERIFY(QFile::setPermissions(m_program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const ProgramRun refused =
        runProgram(readOnly({path(QStringLiteral("bin/moravel-cli")), subcommand,
                             QStringLiteral("Spelmar/Updates"), m_program + QStringLiteral("/Spelmar")}),
                   environment(), QDir::rootPath());
    makeWritable();
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.errors.count(kReadOnlyText), 1);
    QVERIFY2(refused.errors.contains(m_program), qPrintable(refused.errors));
    QVERIFY2(refused.output.isEmpty(), qPrintable(refused.output));
    QCOMPARE(QDir(m_program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

void TestInstall::reminderTellsReadOnlyOnce()
{
    // The reminder is due at every start; the first start says that this
    // installation is updated elsewhere, later starts stay silent.
    if (!m_readOnlyPossible)
        QSKIP("no read-only bind mount for root here");
    const QString store = m_config.filePath(QStringLiteral("Norvane/AutoUpdate.conf"));
    QVERIFY(writeFile(store,
                      "[Software]\n"
                      "Norvane\\AutoUpdate\\Spelmar\\Updates\\Active=1\n"
                      "Norvane\\AutoUpdate\\Spelmar\\Updates\\Check=0\n"));

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("SPELMAR_TEST_ANSWERS"), QStringLiteral("ok,ok"));
    if (!m_asRoot)
        QVERIFY(QFile::setPermissions(m_program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QStringList boxes;
    for (int start = 0; start < 2; ++start) {
        QProcess spelmar;
        endWithParent(spelmar);
        spelmar.setProcessEnvironment(env);
        spelmar.setWorkingDirectory(QDir::rootPath());
        const QStringList command = readOnly({path(QStringLiteral("bin/spelmar"))});
        spelmar.start(command.first(), command.mid(1));
        QVERIFY(spelmar.waitForStarted(60000));
        // The check's worker stamps LastUpdate, then looks at the folder;
        // its box follows at once.
        QTRY_VERIFY_WITH_TIMEOUT(
            QSettings(store, QSettings::IniFormat).contains(kReminderKey + QStringLiteral("LastUpdate")),
            60000);
        QTest::qWait(2000);
        spelmar.terminate();
        QVERIFY(spelmar.waitForFinished(60000));
        for (const QString &box : boxLines(spelmar.readAllStandardError()))
            boxes.append(QString::number(start) + QLatin1Char(' ') + box);
        QSettings(store, QSettings::IniFormat).remove(kReminderKey + QStringLiteral("LastUpdate"));
    }
    makeWritable();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QLatin1String("0 ")) && boxes.first().contains(kReadOnlyText),
             qPrintable(boxes.first()));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
