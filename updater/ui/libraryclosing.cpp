#include "libraryclosing.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdlib>

namespace LibraryClosing {

namespace {

// Plain values only: they are read while the process ends.
std::atomic<Step> g_step{nullptr};
std::atomic<bool> g_closed{false};

void onExit()
{
    closeNow();
}

} // namespace

void install(Step closeDown)
{
    Step expected = nullptr;
    if (g_step.compare_exchange_strong(expected, closeDown)) {
        if (QCoreApplication *app = QCoreApplication::instance()) {
            QObject::connect(app, &QCoreApplication::aboutToQuit, &closeNow);
            qAddPostRoutine(&closeNow);
        }
    }
    armExitHandler();
}

void armExitHandler()
{
    std::atexit(&onExit);
}

void closeNow()
{
    if (g_closed.exchange(true))
        return;
    if (Step step = g_step.load())
        step();
}

} // namespace LibraryClosing
