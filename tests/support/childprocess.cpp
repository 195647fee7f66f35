#include "childprocess.h"

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

void endWithParent(QProcess &process)
{
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) // the parent died before the line above
            ::_exit(127);
    });
}
