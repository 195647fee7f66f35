#pragma once

#include "revision/relinfo.h"

#include <atomic>
#include <chrono>
#include <string>

// The lock file of a program folder: one update, restore or check at a
// time works in the folder, whichever process runs it (the host's
// reminder, the installer, moravel-cli). The lock is an flock on
// kProgramFolderLockName inside the folder; the file stays (deleting a
// lock file races with its next user), and a symbolic link under that name
// is never opened. The lock ends with the object or the process.
class CProgramFolderLock
{
public:
    static constexpr const char *kFileName = kLockFileName;

    explicit CProgramFolderLock(const std::string &programFolder);
    ~CProgramFolderLock();

    CProgramFolderLock(const CProgramFolderLock &) = delete;
    CProgramFolderLock &operator=(const CProgramFolderLock &) = delete;

    // Takes the lock, waiting up to wait while another run holds it (and
    // giving up early when cancel becomes true). False with error() set
    // when it could not be taken.
    bool acquire(std::chrono::milliseconds wait, const std::atomic<bool> *cancel = nullptr);
    // Lets the next run in; the lock can be taken again.
    void release();
    bool held() const { return m_held; }
    const std::string &error() const { return m_error; }

private:
    std::string m_programFolder;
    std::string m_error;
    int m_fd = -1;
    bool m_held = false;
};
