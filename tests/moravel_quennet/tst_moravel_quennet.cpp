// The installer's command forms and its wait for the host program.
#include "childprocess.h"
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
    void commandForms_data();
    void commandForms();
    void waitsForTheHost();
};

void TestQuennet::commandForms_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("programPath");

    QTest::newRow("newer files") << QStringList{"Spelmar/Updates", "/opt/My Tools/spelmar"}
                                 << Kind::UpdateNewer << "Spelmar/Updates"
                                 << ""
                                 << "/opt/My Tools/spelmar";
    QTest::newRow("all files") << QStringList{"instcomplete", "Spelmar/Updates", "/opt/t/spelmar"}
                               << Kind::UpdateAll << "Spelmar/Updates"
                               << ""
                               << "/opt/t/spelmar";
    QTest::newRow("restore") << QStringList{"REST=201403151200", "/opt/t/spelmar"} << Kind::Restore << ""
                             << "201403151200"
                             << "/opt/t/spelmar";
    QTest::newRow("restore, no release") << QStringList{"REST=", "/opt/t/"} << Kind::Restore << ""
                                         << ""
                                         << "/opt/t/";
    QTest::newRow("nothing") << QStringList{} << Kind::Invalid << ""
                             << ""
                             << "";
    QTest::newRow("one word") << QStringList{"Spelmar/Updates"} << Kind::Invalid << ""
                              << ""
                              << "";
    QTest::newRow("restore with extra word") << QStringList{"REST=1", "a", "b"} << Kind::Invalid << ""
                                             << ""
                                             << "";
}

void TestQuennet::commandForms()
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

#ifdef QUENNET_PROGRAM
    // The program itself, copied away from the library: usage (2) for a
    // bad command, else 3 once it finds no library to load.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath("Quennet");
    QVERIFY(QFile::copy(QUENNET_PROGRAM, program));
    QProcess quennet;
    endWithParent(quennet);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LD_LIBRARY_PATH");
    quennet.setProcessEnvironment(environment);
    quennet.start(program, arguments);
    QVERIFY(quennet.waitForFinished(120000));
    QCOMPARE(quennet.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quennet.exitCode(), kind == Kind::Invalid ? 2 : 3);
#endif
}

void TestQuennet::waitsForTheHost()
{
    // A program file of its own, so no other process on the machine runs it.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string program = dir.filePath("host program").toStdString();
    QVERIFY(QFile::copy("/bin/sleep", dir.filePath("host program")));
    QVERIFY(!isProgramRunning(program));
    QVERIFY(waitForProgramEnd(program, std::chrono::milliseconds(0)));

    QProcess host;
    endWithParent(host);
    host.start(dir.filePath("host program"), {"600"});
    QVERIFY(host.waitForStarted(60000));
    QVERIFY(isProgramRunning(program));
    QVERIFY(!waitForProgramEnd(program, std::chrono::milliseconds(0)));
    host.kill();
    QVERIFY(host.waitForFinished(60000));
    QVERIFY(waitForProgramEnd(program, std::chrono::seconds(60)));
}

QTEST_MAIN(TestQuennet)
#include "tst_moravel_quennet.moc"
