#include "textfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

const char kDefaultFilter[] = "All Files (*.*)|*.*|Text Files (*.txt)|*.txt||";

struct Defaults
{
    std::mutex mutex;
    TextFileChooser chooser;
};

Defaults &defaults()
{
    static Defaults instance;
    return instance;
}

std::string currentDirectory()
{
    std::vector<char> buffer(256);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string absolutePath(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    std::string folder = currentDirectory();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + path;
}

std::string fileNameOf(const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder is what stays when the name is cut from the end of the path.
std::string folderOf(const std::string &path)
{
    return path.substr(0, path.size() - fileNameOf(path).size());
}

std::string errorText(int error)
{
    std::string reason = std::strerror(error);
    if (reason.size() > 255)
        reason.resize(255);
    return "Error occurred! \n" + reason + "\n";
}

} // namespace

CTextFile::CTextFile(void *parentWindow)
    : m_parentWindow(parentWindow)
{
}

CTextFile::~CTextFile()
{
    CloseFile();
}

void CTextFile::setDefaultChooser(TextFileChooser chooser)
{
    std::lock_guard<std::mutex> lock(defaults().mutex);
    defaults().chooser = std::move(chooser);
}

std::string CTextFile::chooseFile(const std::string &defaultName, const std::string &filter,
                                  const std::string &initialFolder, bool openDialog)
{
    TextFileDialogRequest request;
    request.save = !openDialog;
    request.defaultName = defaultName;
    request.filter = filter.empty() ? std::string(kDefaultFilter) : filter;
    request.title = (openDialog ? "open file..." : "save file...") + defaultName;
    request.defaultExtension = "*.txt";
    request.initialFolder = initialFolder.empty() ? currentDirectory() : initialFolder;
    request.hideReadOnly = true;
    request.overwritePrompt = true;
    request.parentWindow = m_parentWindow;

    TextFileChooser chooser = m_chooser;
    if (!chooser) {
        std::lock_guard<std::mutex> lock(defaults().mutex);
        chooser = defaults().chooser;
    }
    if (!chooser)
        return std::string();
    std::string chosen = chooser(request);
    return chosen.empty() ? chosen : absolutePath(chosen);
}

bool CTextFile::ChooseAndOpen(const std::string &defaultName, const std::string &filter,
                              const std::string &initialFolder, bool openDialog, bool exclusive)
{
    std::string chosen = chooseFile(defaultName, filter, initialFolder, openDialog);
    if (chosen.empty())
        return false;
    m_folder = folderOf(chosen);
    // A save dialog names a file that may not exist yet.
    return OpenFile(chosen, !openDialog, false, exclusive, false);
}

bool CTextFile::openSystemFile(const std::string &path, Mode mode, bool exclusive, int &error)
{
    int flags = O_CLOEXEC | O_NOCTTY;
    switch (mode) {
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::ReadWriteCreate: flags |= O_RDWR | O_CREAT; break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return false;
    }
    // Sharing between openers: shared opens coexist, an exclusive one
    // stands alone.
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_fullPath = absolutePath(path);
    return true;
}

void CTextFile::closeSystemFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void CTextFile::failure(int error)
{
    m_lastError = errorText(error);
}

bool CTextFile::ensureFinalLineEnd()
{
    // Lines appended later must start on a line of their own, so a file
    // that does not end with CR LF gets one - a one-byte file too.
    uint64_t length = fileLength();
    if (length == 0)
        return true;
    char tail[2] = {0, 0};
    size_t count = length >= 2 ? 2 : 1;
    readAt(length - count, tail, count);
    if (count == 2 && tail[0] == '\r' && tail[1] == '\n')
        return true;
    writeAt(length, "\r\n", 2);
    return true;
}

bool CTextFile::OpenFile(const std::string &path, bool create, bool dialogFallback, bool exclusive,
                         bool skipCrLfCheck)
{
    // A file still open from before is let go first.
    m_open = false;
    closeSystemFile();
    m_name = path;
    int error = 0;
    bool opened = false;
    if (create) {
        opened = openSystemFile(path, Mode::ReadWriteCreate, exclusive, error);
    } else {
        opened = openSystemFile(path, Mode::ReadWrite, exclusive, error);
        if (!opened && !dialogFallback) {
            int createError = 0;
            opened = openSystemFile(path, Mode::ReadWriteCreate, exclusive, createError);
            if (!opened)
                error = createError;
        } else if (!opened) {
            opened = ChooseAndOpen(path, std::string(), std::string(), true, true);
        }
    }
    if (!opened) {
        failure(error);
        return false;
    }
    m_open = true;
    m_position = 0;
    if (!skipCrLfCheck) {
        try {
            ensureFinalLineEnd();
        } catch (const std::system_error &e) {
            m_open = false;
            closeSystemFile();
            failure(e.code().value());
            return false;
        }
    }
    return true;
}

bool CTextFile::CloseFile()
{
    m_open = false;
    if (m_fd < 0)
        return false;
    closeSystemFile();
    return true;
}

uint64_t CTextFile::fileLength() const
{
    struct stat info = {};
    if (::fstat(m_fd, &info) != 0)
        throw std::system_error(errno, std::generic_category(), "text file size");
    return static_cast<uint64_t>(info.st_size);
}

size_t CTextFile::readAt(uint64_t offset, char *buffer, size_t count) const
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(m_fd, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "text file read");
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void CTextFile::writeAt(uint64_t offset, const char *buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(m_fd, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "text file write");
        }
        done += static_cast<size_t>(n);
    }
}

bool CTextFile::InsertLine(const std::string &text)
{
    if (!m_open)
        return false;
    std::string line = text + "\r\n";
    uint64_t length = fileLength();
    // Past the last line (a final line without CR LF was skipped) the line
    // goes at the end; writing beyond it would leave a gap of zero bytes.
    uint64_t at = std::min(m_position, length);
    if (at < length) {
        std::string rest(static_cast<size_t>(length - at), '\0');
        size_t count = readAt(at, &rest[0], rest.size());
        writeAt(at + line.size(), rest.data(), count);
    }
    writeAt(at, line.data(), line.size());
    m_position = at + line.size();
    ++m_lineNumber;
    return true;
}

bool CTextFile::AppendLine(const std::string &text)
{
    if (!m_open)
        return false;
    m_position = fileLength();
    return InsertLine(text);
}

bool CTextFile::truncate()
{
    if (!m_open)
        return false;
    if (::ftruncate(m_fd, 0) != 0)
        return false;
    m_position = 0;
    m_lineNumber = 1;
    return true;
}
