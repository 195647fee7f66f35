#pragma once

// A line-oriented text file: lines end with CR LF, a lone CR or LF is an
// ordinary character, the last line may lack its CR LF.
//
// Open failures show nothing: the failure is kept as lastError() for the
// caller. Creating keeps the content of an existing file.
//
// Read and write failures on an open file throw std::system_error.
// An object is used by one thread at a time.

#include "textfiledialogrequest.h"

#include <cstdint>
#include <string>

class CTextFile
{
public:
    // parentWindow is handed to the file dialog as its owner; may be null.
    explicit CTextFile(void *parentWindow = nullptr);
    ~CTextFile();
    CTextFile(const CTextFile &) = delete;
    CTextFile &operator=(const CTextFile &) = delete;

    // Lets the user choose a file and opens it. filter empty: all files and
    // text files; initialFolder empty: the current directory. Returns true
    // when a file was chosen and opened.
    bool ChooseAndOpen(const std::string &defaultName, const std::string &filter,
                       const std::string &initialFolder, bool openDialog, bool exclusive);

    // Opens path for reading and writing. create: make the file when it is
    // absent (an existing file keeps its content); without create an
    // existing file is opened, else one is made. dialogFallback: when the
    // file cannot be opened (and create is not set), let the user choose
    // one. exclusive: no other CTextFile may hold the file meanwhile.
    // skipCrLfCheck: do not end a file that lacks a final CR LF with one.
    // name() is the path afterwards.
    bool OpenFile(const std::string &path, bool create, bool dialogFallback, bool exclusive = false,
                  bool skipCrLfCheck = false);

    // True when a file was open and is now closed.
    bool CloseFile();
    bool IsOpen() const { return m_open; }

    // Writes text and CR LF at the end of the file.
    bool AppendLine(const std::string &text);
    // Writes text and CR LF at the current position, moving the rest of the
    // file forward; the position then follows the new line.
    bool InsertLine(const std::string &text);

    // Empties the open file; position 0, line number 1.
    bool truncate();

    uint64_t Position() const { return m_position; }
    uint32_t lineNumber() const { return m_lineNumber; }
    const std::string &Name() const { return m_name; }
    // Ends with '/'.
    const std::string &Folder() const { return m_folder; }
    // Absolute path of the open (or last opened) file.
    const std::string &fullPath() const { return m_fullPath; }
    // "Error occurred! \n<reason>\n" of the last failed open; empty before.
    const std::string &lastError() const { return m_lastError; }

    // The file dialog. The object's own takes precedence over the
    // process-wide default, which the user interface sets once.
    void setChooser(TextFileChooser chooser) { m_chooser = std::move(chooser); }
    static void setDefaultChooser(TextFileChooser chooser);

private:
    enum class Mode
    {
        ReadWrite,
        ReadWriteCreate
    };

    bool openSystemFile(const std::string &path, Mode mode, bool exclusive, int &error);
    void closeSystemFile();
    bool ensureFinalLineEnd();
    void failure(int error);
    std::string chooseFile(const std::string &defaultName, const std::string &filter,
                           const std::string &initialFolder, bool openDialog);

    uint64_t fileLength() const;
    size_t readAt(uint64_t offset, char *buffer, size_t count) const;
    void writeAt(uint64_t offset, const char *buffer, size_t count);

    int m_fd = -1;
    uint64_t m_position = 0;
    uint32_t m_lineNumber = 1;
    std::string m_name;
    std::string m_folder;
    std::string m_fullPath;
    std::string m_lastError;
    bool m_open = false;
    void *m_parentWindow = nullptr;
    TextFileChooser m_chooser;
};
