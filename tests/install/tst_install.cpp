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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// A release as the revision files write it: 2.0.0 becomes 2.00.00.
QString revisionOf(const QString &version)
{
    const QStringList parts = version.split('.');
    return parts.value(0) + '.' + parts.value(1).rightJustified(2, '0') + '.'
        + parts.value(2).rightJustified(2, '0');
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout();
    void revisionFile();
    void validators_data();
    void validators();
    void readOnlyInstallation_data();
    void readOnlyInstallation();
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
        || runProgram(readOnly({"/bin/sh", "-c", "! touch \"$0/probe\" 2>/dev/null", m_program}),
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
    environment.insert("XDG_CONFIG_HOME", m_config.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    // Nothing may reach a server here: a refused port.
    environment.insert("MORAVEL_FTP_HOST", "127.0.0.1:1");
    environment.remove("LD_LIBRARY_PATH");
    return environment;
}

QStringList TestInstall::readOnly(const QStringList &command) const
{
    if (!m_asRoot)
        return command;
    return QStringList{"unshare",
                       "--mount",
                       "/bin/sh",
                       "-c",
                       "mount --bind -o ro \"$1\" \"$1\" && shift && exec \"$@\"",
                       "sh",
                       m_program}
    + command;
}

// The program folder, the commands and their links, desktop entry and
// metainfo are the packages test's (it runs them from a moved folder).
void TestInstall::layout()
{
    QStringList files;
    for (const char *size : {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256"})
        files << QString("share/icons/hicolor/%1/apps/com.norvane.Spelmar.png").arg(size);
    for (const char *page : {"spelmar", "spelmar-cli", "moravel-cli"})
        files << QString("share/man/man1/%1.1.gz").arg(page);
    for (const QString &file : files)
        QVERIFY2(QFileInfo::exists(path(file)), qPrintable(file));
}

void TestInstall::revisionFile()
{
    const QString spelmar = revisionOf(SPELMAR_VERSION);
    const QString moravel = revisionOf(MORAVEL_VERSION);
    QCOMPARE(QString::fromLatin1(readFile(m_program + "/RelInfoLocal.rel")),
             QStringLiteral("Spelmar; %1\r\nlibMoravel.so; %2\r\nQuennet; %2\r\n"
                            "spelmar-cli; %1\r\nmoravel-cli; %2\r\n")
                 .arg(spelmar, moravel));
}

void TestInstall::validators_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("desktop entry") << QStringList{"desktop-file-validate",
                                                  path("share/applications/com.norvane.Spelmar.desktop")};
    QTest::newRow("metainfo") << QStringList{"appstreamcli", "validate", "--no-net",
                                             path("share/metainfo/com.norvane.Spelmar.metainfo.xml")};
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
    QTest::newRow("check") << "check";
    QTest::newRow("update") << "update";
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
        runProgram(readOnly({path("bin/moravel-cli"), subcommand, "Spelmar/Updates", m_program + "/Spelmar"}),
                   environment(), QDir::rootPath());
    makeWritable();
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.errors.count("is not writable for you"), 1);
    QVERIFY2(refused.errors.contains(m_program), qPrintable(refused.errors));
    QVERIFY2(refused.output.isEmpty(), qPrintable(refused.output));
    QCOMPARE(QDir(m_program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
