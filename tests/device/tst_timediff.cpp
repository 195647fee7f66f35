#include "timediff.h"

#include <QDateTime>
#include <QTest>

#include <climits>

namespace {

// A moment of 2024 written "MM-dd hh:mm:ss.zzz".
SYSTEMTIME at(const QString &text)
{
    const QDateTime moment = QDateTime::fromString("2024-" + text, "yyyy-MM-dd hh:mm:ss.zzz");
    const QDate d = moment.date();
    const QTime t = moment.time();
    return SYSTEMTIME{uint16_t(d.year()),   uint16_t(d.month()), uint16_t(d.dayOfWeek() % 7),
                      uint16_t(d.day()),    uint16_t(t.hour()),  uint16_t(t.minute()),
                      uint16_t(t.second()), uint16_t(t.msec())};
}

} // namespace

class TestTimeDiff : public QObject
{
    Q_OBJECT

private slots:
    void difference_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("now");
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("clock");   // mode 0
        QTest::addColumn<QString>("seconds"); // mode 1
        QTest::newRow("3725.5 s") << "05-07 10:00:00.000"
                                  << "05-07 11:02:05.500" << 3725500 << "1:02:05,500"
                                  << "3725.500";
        QTest::newRow("month end") << "01-31 23:59:59.000"
                                   << "02-01 00:00:01.000" << 86400000 << "0:00:02,000"
                                   << "2.000";
        QTest::newRow("future start") << "05-07 10:00:01.100"
                                      << "05-07 10:00:00.900" << 86400000 << "-0:00:00,200"
                                      << "-0.200";
        QTest::newRow("30 days") << "05-01 00:00:00.000"
                                 << "05-31 00:00:00.000" << INT_MAX << "720:00:00,000"
                                 << "2592000.000";
    }
    void difference()
    {
        QFETCH(QString, start);
        QFETCH(QString, now);
        QFETCH(int, ms);
        QFETCH(QString, clock);
        QFETCH(QString, seconds);
        const SYSTEMTIME from = at(start), to = at(now);
        QCOMPARE(timeDiffBetween(from, to), ms);
        QCOMPARE(QString::fromStdString(timeDiffTextBetween(from, to, 0)), clock);
        QCOMPARE(QString::fromStdString(timeDiffTextBetween(from, to, 1)), seconds);
        for (int mode : {2, -1})
            QCOMPARE(timeDiffTextBetween(from, to, mode), std::string("?"));
    }

    void currentTime()
    {
        SYSTEMTIME now{};
        GetSystemTime(&now);
        QVERIFY(now.wYear >= 2024 && now.wMonth >= 1 && now.wMonth <= 12 && now.wMilliseconds < 1000);
        // Taken a moment ago: not negative, and far less than a day (unless a
        // month ended in between, which reads as a day).
        const int32_t elapsed = GetTimeDiff(&now);
        QVERIFY(elapsed >= 0 && (elapsed < 600000 || elapsed == 86400000));
        QCOMPARE(GetTimeDiffEx(&now, 2), std::string("?"));
    }
};

QTEST_GUILESS_MAIN(TestTimeDiff)
#include "tst_timediff.moc"
