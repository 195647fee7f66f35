#include "busmutex.h"

#include <QTest>

#include <atomic>
#include <thread>

class TestBusLock : public QObject
{
    Q_OBJECT

private slots:
    void waiterProceedsAfterRelease();
    void takeOverAfterTimeout();
    void exclusive();
};

void TestBusLock::waiterProceedsAfterRelease()
{
    CBusMutex mutex;
    QVERIFY(mutex.Lock(10000, 0));
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        mutex.Lock(10000, 0);
        entered = true;
        mutex.Unlock();
    });
    // The waiter keeps polling while the lock is held.
    QTest::qWait(200);
    QVERIFY(!entered);
    mutex.Unlock();
    waiter.join();
    QVERIFY(entered);
    QVERIFY(!mutex.isLocked());
    // Releasing a free lock is only reported.
    mutex.Unlock();
    QVERIFY(!mutex.isLocked());
}

void TestBusLock::takeOverAfterTimeout()
{
    CBusMutex mutex;
    QVERIFY(mutex.Lock(10000, 0));
    // Held seconds are whole calendar seconds: a zero time-out is passed
    // once the holder has held the lock into the next second.
    QVERIFY(mutex.Lock(0, 0));
    QVERIFY(mutex.isLocked());
    mutex.Unlock();
    QVERIFY(!mutex.isLocked());
}

void TestBusLock::exclusive()
{
    // Many threads, one at a time inside.
    CBusMutex mutex;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> entries{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                if (!mutex.Lock(60000, 0))
                    continue; // a double registration backs off
                if (++inside > 1)
                    ++overlaps;
                ++entries;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                --inside;
                mutex.Unlock();
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(overlaps.load(), 0);
    QVERIFY(entries > 0);
    QVERIFY(!mutex.isLocked());
}

QTEST_GUILESS_MAIN(TestBusLock)
#include "tst_buslock.moc"
