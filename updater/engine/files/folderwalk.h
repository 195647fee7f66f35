#pragma once

#include <string>

struct stat;

// Names below a folder reached without a symbolic link: the folder itself
// is opened as given, every sub-folder of a name from its parent with
// O_NOFOLLOW. The steps under the program folder's one writer
// (folderfiles.h, CReplacingFile).

// A descriptor closed when it goes out of scope.
struct FileDescriptor
{
    int fd = -1;
    explicit FileDescriptor(int descriptor)
        : fd(descriptor)
    {
    }
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
};

// The sub-folder of folder that holds name's last part, opened without
// following a link below folder: a descriptor the caller closes, or -1
// with the reason in error and errno set. leaf gets the last part.
// makeFolders: missing sub-folders are made (real folders, 0777 before
// the umask); otherwise they must exist.
int openFolderOfName(const std::string &folder, const std::string &name, std::string &leaf,
                     std::string &error, bool makeFolders = false);

// lstat of folder/name, reached without following a link below folder:
// false with errno set (ENOENT for a missing name or sub-folder).
bool statInFolder(const std::string &folder, const std::string &name, struct stat &info);

// Opens folder/name for reading: a regular file reached without a link,
// never blocking on a FIFO. -1 otherwise, with the reason in error.
int openFileInFolder(const std::string &folder, const std::string &name, std::string &error);
