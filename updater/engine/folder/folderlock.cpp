#include "folderlock.h"

#include "revision/relinfo.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CProgramFolderLock::CProgramFolderLock(const std::string &programFolder)
    : m_programFolder(programFolder)
{
}

CProgramFolderLock::~CProgramFolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the flock
}

void CProgramFolderLock::release()
{
    if (m_held)
        ::flock(m_fd, LOCK_UN);
    m_held = false;
}

bool CProgramFolderLock::acquire(std::chrono::milliseconds wait, const std::atomic<bool> *cancel)
{
    if (m_held)
        return true;
    if (m_fd < 0) {
        const std::string path = localPathFor(m_programFolder, kFileName);
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
        if (m_fd < 0) {
            m_error = "cannot lock " + m_programFolder + ": " + path
                + (errno == ELOOP ? std::string(" is a symbolic link")
                                  : ": " + std::string(std::strerror(errno)));
            return false;
        }
    }
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            m_error.clear();
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_error = "cannot lock " + m_programFolder + ": " + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= giveUp || (cancel && *cancel)) {
            m_error = "another update or restore is working in " + m_programFolder
                + "; try again when it has ended";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
