#include "trialrun.h"

#include "folder/programpath.h"
#include "jobs/trialwatch.h"
#include "widgetprompt.h"

#include <QCoreApplication>
#include <QTimer>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/prctl.h>
#include <unistd.h>

namespace fs = std::filesystem;

void becomeReaperOfStartedPrograms()
{
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

pid_t startedChild()
{
    const pid_t self = ::getpid();
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])))
            continue;
        // "PID (NAME) STATE PPID ...": the name may hold blanks and ")".
        std::ifstream stat(it->path() / "stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2
            && parent == self)
            return static_cast<pid_t>(std::stol(pid));
    }
    return -1;
}

void watchStartedProgram(const std::string &serverPath, const std::string &programPath)
{
    const ProgramPath split = splitProgramPath(programPath);
    ReleaseTrial trial;
    if (split.name.empty() || !readReleaseTrial(split.folder, trial))
        return;
    const pid_t child = startedChild();
    if (child < 0)
        return;
    const TrialOutcome outcome =
        watchTrial(child, split.folder, split.name, trialTimeFor(serverPath));
    if (outcome.end != TrialOutcome::End::Failed)
        return;
    // The library's window asked the host to end when it started the
    // program, and every later event loop of this thread would end at
    // once: the box runs in a loop of the application's own, which starts
    // afresh.
    QCoreApplication::processEvents();
    CWidgetPrompt prompt(nullptr, QStringLiteral("Quennet"));
    const std::string text = failedReleaseText(outcome, split.folder, split.name);
    QTimer::singleShot(0, [&prompt, &text] {
        prompt.message(text, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::Stop);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
}
