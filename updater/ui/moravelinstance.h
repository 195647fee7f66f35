#pragma once

#include <string>

class CUpdateReminderDlg;

// The library's work behind the exports. Every operation runs on the
// host's user-interface thread. When the host has no Qt application
// object the library makes a widget application of its own (kept for the
// rest of the process).
class CMoravelInstance
{
public:
    static void showReleaseInfo(const std::string &pagePath);
    static void updateInfo(const std::string &serverPath, const std::string &programPath);
    static bool startSchedule(const std::string &serverPath, const std::string &programPath);
    static void updateFiles(const std::string &serverPath, const std::string &programPath,
                            bool takeAll);
    static void restoreFiles(const std::string &release, const std::string &programPath);
    static void setupScheduler(const std::string &serverPath);

private:
    // False when windows cannot be shown (the host runs a core
    // application without widgets).
    static bool ensureApplication();
    static CUpdateReminderDlg &scheduler();
    static CUpdateReminderDlg &prepare(const std::string &serverPath,
                                       const std::string &programPath);
};
