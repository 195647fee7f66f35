#include "timediff.h"

#include <QTest>

#include <climits>
#include <dlfcn.h>

Q_DECLARE_METATYPE(SYSTEMTIME)

namespace {

SYSTEMTIME at(int year, int month, int day, int hour, int minute, int second, int ms)
{
    SYSTEMTIME t{};
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
    t.wSecond = static_cast<uint16_t>(second);
    t.wMilliseconds = static_cast<uint16_t>(ms);
    return t;
}

} // namespace

class TestTimeDiff : public QObject
{
    Q_OBJECT

private slots:
    void difference_data();
    void difference();
    void otherModes_data();
    void otherModes();
    void currentTime();
    void exportedByName_data();
    void exportedByName();
};

void TestTimeDiff::difference_data()
{
    QTest::addColumn<SYSTEMTIME>("start");
    QTest::addColumn<SYSTEMTIME>("now");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("clock");   // mode 0
    QTest::addColumn<QString>("seconds"); // mode 1

    QTest::newRow("millisecond borrow") << at(2024, 5, 7, 10, 0, 0, 900) << at(2024, 5, 7, 10, 0, 1, 100)
                                        << 200 << "0:00:00,200" << "0.200";
    QTest::newRow("no borrow") << at(2024, 5, 7, 10, 0, 0, 100) << at(2024, 5, 7, 10, 0, 0, 300)
                               << 200 << "0:00:00,200" << "0.200";
    QTest::newRow("3725.5 s") << at(2024, 5, 7, 10, 0, 0, 0) << at(2024, 5, 7, 11, 2, 5, 500)
                              << 3725500 << "1:02:05,500" << "3725.500";
    QTest::newRow("same moment") << at(2024, 5, 7, 10, 0, 0, 0) << at(2024, 5, 7, 10, 0, 0, 0)
                                 << 0 << "0:00:00,000" << "0.000";
    QTest::newRow("over midnight") << at(2024, 5, 7, 23, 59, 59, 900) << at(2024, 5, 8, 0, 0, 0, 100)
                                   << 200 << "0:00:00,200" << "0.200";
    QTest::newRow("over a month end") << at(2024, 1, 31, 23, 59, 59, 0) << at(2024, 2, 1, 0, 0, 1, 0)
                                      << 86400000 << "0:00:02,000" << "2.000";
    QTest::newRow("over a year end") << at(2023, 12, 31, 23, 59, 59, 500) << at(2024, 1, 1, 0, 0, 0, 0)
                                     << 86400000 << "0:00:00,500" << "0.500";
    QTest::newRow("leap day") << at(2024, 2, 28, 12, 0, 0, 0) << at(2024, 2, 29, 12, 0, 0, 0)
                              << 86400000 << "24:00:00,000" << "86400.000";
    QTest::newRow("start in the future") << at(2024, 5, 7, 10, 0, 1, 100) << at(2024, 5, 7, 10, 0, 0, 900)
                                         << 86400000 << "-0:00:00,200" << "-0.200";
    QTest::newRow("30 days") << at(2024, 5, 1, 0, 0, 0, 0) << at(2024, 5, 31, 0, 0, 0, 0)
                             << INT_MAX << "720:00:00,000" << "2592000.000";
}

void TestTimeDiff::difference()
{
    QFETCH(SYSTEMTIME, start);
    QFETCH(SYSTEMTIME, now);
    QFETCH(int, ms);
    QFETCH(QString, clock);
    QFETCH(QString, seconds);

    QCOMPARE(timeDiffBetween(start, now), ms);
    QCOMPARE(QString::fromStdString(timeDiffTextBetween(start, now, 0)), clock);
    QCOMPARE(QString::fromStdString(timeDiffTextBetween(start, now, 1)), seconds);
}

void TestTimeDiff::otherModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("2") << 2;
    QTest::newRow("-1") << -1;
}

void TestTimeDiff::otherModes()
{
    QFETCH(int, mode);
    const SYSTEMTIME start = at(2024, 5, 7, 10, 0, 0, 0);
    QCOMPARE(timeDiffTextBetween(start, start, mode), std::string("?"));
    QCOMPARE(GetTimeDiffEx(&start, mode), std::string("?"));
}

void TestTimeDiff::currentTime()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    QVERIFY(now.wYear >= 2024);
    QVERIFY(now.wMonth >= 1 && now.wMonth <= 12);
    QVERIFY(now.wMilliseconds < 1000);
    // Taken a moment ago: not negative, and far less than a day (unless a
    // month ended in between, which reads as a day).
    const int32_t elapsed = GetTimeDiff(&now);
    QVERIFY(elapsed >= 0);
    QVERIFY(elapsed < 600000 || elapsed == 86400000);
}

void TestTimeDiff::exportedByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("GetTimeDiff") << "GetTimeDiff";
    QTest::newRow("GetSystemTime") << "GetSystemTime";
}

void TestTimeDiff::exportedByName()
{
    // This executable exports its symbols the way the program does; other
    // modules find the C functions by their plain names.
    QFETCH(QString, name);
    QVERIFY(::dlsym(RTLD_DEFAULT, name.toLatin1().constData()) != nullptr);
}

QTEST_GUILESS_MAIN(TestTimeDiff)
#include "tst_timediff.moc"
