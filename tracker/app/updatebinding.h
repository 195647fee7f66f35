#pragma once

#include "moravel.h"

#include <string>

class IPrompt;

// The tracker's binding to the update library, loaded at run time by file
// name: from the program's own folder first, then by the system's search
// for libraries. The library is never unloaded. Without it the program
// runs without updates.
class CUpdateBinding
{
public:
    static constexpr const char *kLibraryName = "libMoravel.so";
    static constexpr const char *kServerPath = "Spelmar/Updates";
    static constexpr const char *kProgramName = "Spelmar";

    // ownFolder: where the program file lies (empty: found from
    // /proc/self/exe).
    explicit CUpdateBinding(std::string ownFolder = std::string());

    // Loads the library and looks up UpdateInfo, UpdateSetupScheduler and
    // UpdateStartSchedule. A library that cannot be loaded, or lacks one of
    // them, is told once through prompt with "Can not load the %s !!! ".
    // True when all three were found.
    bool LoadUpdateLibrary(IPrompt &prompt);
    bool isBound() const { return m_bound; }

    // The reminder schedule for this program; returns at once (a due check
    // runs on the library's own thread). programFolder: the current
    // directory at start-up.
    void StartSchedule(const std::string &programFolder);
    // The library's reminder settings window.
    void setupScheduler();

    // The program path handed to the library: programFolder + "Spelmar"
    // when that file exists there; otherwise the folder itself (with a
    // trailing "/"), so the library never takes a missing program file for
    // a folder.
    static std::string programPathFor(const std::string &programFolder);

private:
    std::string m_ownFolder;
    void *m_module = nullptr;
    UpdateInfoFunction m_updateInfo = nullptr;
    UpdateSetupSchedulerFunction m_updateSetupScheduler = nullptr;
    UpdateStartScheduleFunction m_updateStartSchedule = nullptr;
    bool m_bound = false;
    bool m_failureShown = false;
};
