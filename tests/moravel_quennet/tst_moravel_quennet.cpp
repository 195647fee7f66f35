// The installer's command forms and its wait for the host program.
#include "installercommand.h"
#include "programwatch.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using Kind = InstallerCommand::Kind;
Q_DECLARE_METATYPE(Kind)

class TestQuennet : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void waitsForTheHost();
    void exitCodes_data();
    void exitCodes();
};

void TestQuennet::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("programPath");

    QTest::newRow("newer files") << QStringList{"Spelmar/Updates", "/opt/My Tools/spelmar"}
                                 << Kind::UpdateNewer << "Spelmar/Updates" << ""
                                 << "/opt/My Tools/spelmar";
    QTest::newRow("all files") << QStringList{"instcomplete", "Spelmar/Updates", "/opt/t/spelmar"}
                               << Kind::UpdateAll << "Spelmar/Updates" << "" << "/opt/t/spelmar";
    QTest::newRow("restore") << QStringList{"REST=201403151200", "/opt/t/spelmar"} << Kind::Restore
                             << "" << "201403151200" << "/opt/t/spelmar";
    QTest::newRow("restore, no release") << QStringList{"REST=", "/opt/t/"} << Kind::Restore << ""
                                         << "" << "/opt/t/";
    QTest::newRow("nothing") << QStringList{} << Kind::Invalid << "" << "" << "";
    QTest::newRow("one word") << QStringList{"Spelmar/Updates"} << Kind::Invalid << "" << "" << "";
    QTest::newRow("restore with extra word") << QStringList{"REST=1", "a", "b"} << Kind::Invalid
                                             << "" << "" << "";
}

void TestQuennet::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(Kind, kind);
    QFETCH(QString, serverPath);
    QFETCH(QString, release);
    QFETCH(QString, programPath);

    std::vector<std::string> words;
    for (const QString &argument : arguments)
        words.push_back(argument.toStdString());
    const InstallerCommand command = InstallerCommand::parse(words);
    QCOMPARE(command.kind, kind);
    QCOMPARE(QString::fromStdString(command.serverPath), serverPath);
    QCOMPARE(QString::fromStdString(command.release), release);
    QCOMPARE(QString::fromStdString(command.programPath), programPath);
}

void TestQuennet::waitsForTheHost()
{
    // A program file of its own, so no other process on the machine runs it.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath("host program");
    QVERIFY(QFile::copy("/bin/sleep", program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

    QVERIFY(!isProgramRunning(program.toStdString()));
    QVERIFY(waitForProgramEnd(program.toStdString(), std::chrono::milliseconds(0)));

    QProcess host;
    host.start(program, {"600"});
    QVERIFY(host.waitForStarted(60000));
    QVERIFY(isProgramRunning(program.toStdString()));
    QVERIFY(!waitForProgramEnd(program.toStdString(), std::chrono::milliseconds(0)));
    host.kill();
    QVERIFY(host.waitForFinished(60000));
    QVERIFY(waitForProgramEnd(program.toStdString(), std::chrono::seconds(60)));
}

void TestQuennet::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("usage") << QStringList{"only-one"} << 2;
    QTest::newRow("no library beside it") << QStringList{"REST=201401011200", "/nowhere/spelmar"} << 3;
}

void TestQuennet::exitCodes()
{
#ifndef QUENNET_PROGRAM
    QSKIP("the installer is not built");
#else
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    // A copy away from the library, which it then cannot find.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath("Quennet");
    QVERIFY(QFile::copy(QUENNET_PROGRAM, program));
    QProcess quennet;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LD_LIBRARY_PATH");
    quennet.setProcessEnvironment(environment);
    quennet.start(program, arguments);
    QVERIFY(quennet.waitForFinished(120000));
    QCOMPARE(quennet.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quennet.exitCode(), exitCode);
#endif
}

QTEST_MAIN(TestQuennet)
#include "tst_moravel_quennet.moc"
