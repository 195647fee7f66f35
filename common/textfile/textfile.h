#pragma once

// A line-oriented text file: lines end with CR LF, a lone CR or LF is an
// ordinary character, the last line may lack its CR LF.
//
// Two builds come from these sources. The update library's build
// (textfile_updater) reports open failures through an ITextFileReporter
// and can read line by line. The tracker's build (textfile_tracker,
// TEXTFILE_TRACKER_BUILD defined) shows nothing: it keeps the failure as
// LastError() for the caller; its OpenFile takes two more flags and keeps
// the content of an existing file when creating, and it has no reading.
//
// Each build lives in its own inline namespace, so that a program and a
// library it loads may each carry one without their symbols meeting.
//
// Read and write failures on an open file throw std::system_error.
// An object is used by one thread at a time.

#include "textfiledialogrequest.h"
#include "textfilereporter.h"

#include <cstdint>
#include <string>

#ifdef TEXTFILE_TRACKER_BUILD
inline namespace textfile_tracker {
#else
inline namespace textfile_updater {
#endif

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
#ifdef TEXTFILE_TRACKER_BUILD
    bool ChooseAndOpen(const std::string &defaultName, const std::string &filter,
                       const std::string &initialFolder, bool openDialog, bool exclusive);
#else
    bool ChooseAndOpen(const std::string &defaultName, const std::string &filter,
                       const std::string &initialFolder, bool openDialog);
#endif

#ifdef TEXTFILE_TRACKER_BUILD
    // Opens path for reading and writing. create: make the file when it is
    // absent (an existing file keeps its content); without create an
    // existing file is opened, else one is made. dialogFallback: when the
    // file cannot be opened (and create is not set), let the user choose
    // one. exclusive: no other CTextFile may hold the file meanwhile.
    // skipCrLfCheck: do not end a file that lacks a final CR LF with one.
    // name() is the path afterwards.
    bool OpenFile(const std::string &path, bool create, bool dialogFallback, bool exclusive = false,
                  bool skipCrLfCheck = false);
#else
    // Opens path for reading and writing, shared. create: make the file
    // empty (an existing one is truncated); without create an existing file
    // is opened, else one is made, or with dialogFallback the user chooses
    // one. A file that lacks a final CR LF gets one. Name() and Folder()
    // are the opened file's name and folder afterwards.
    bool OpenFile(const std::string &path, bool create, bool dialogFallback);
    // Opens an existing file read-only, shared; no CR LF is added.
    bool OpenForRead(const std::string &path, bool dialogFallback);
#endif

    // True when a file was open and is now closed.
    bool CloseFile();
    bool IsOpen() const
    {
        return m_open;
    }

#ifndef TEXTFILE_TRACKER_BUILD
    // The line at the current position, without its CR LF. Does not move
    // on; false (and line empty) at the end of the file.
    bool ReadLine(std::string &line);
    // Moves past count lines; false when the file ends on the way or right
    // after them.
    bool SkipLines(uint32_t count);
    // Back to the first line; returns the line number, 1.
    uint32_t Rewind();
#endif

    // Writes text and CR LF at the end of the file.
    bool AppendLine(const std::string &text);
    // Writes text and CR LF at the current position, moving the rest of the
    // file forward; the position then follows the new line.
    bool InsertLine(const std::string &text);

    // Empties the open file; position 0, line number 1.
    bool Truncate();

    uint64_t Position() const
    {
        return m_position;
    }
    uint32_t LineNumber() const
    {
        return m_lineNumber;
    }
    const std::string &Name() const
    {
        return m_name;
    }
    // Ends with '/'.
    const std::string &Folder() const
    {
        return m_folder;
    }
    // Absolute path of the open (or last opened) file.
    const std::string &FullPath() const
    {
        return m_fullPath;
    }
#ifdef TEXTFILE_TRACKER_BUILD
    // "Error occurred! \n<reason>\n" of the last failed open; empty before.
    const std::string &LastError() const
    {
        return m_lastError;
    }
#endif

    // Dialog and reporting hooks. The object's own take precedence over the
    // process-wide defaults, which the user interface sets once.
    void setChooser(TextFileChooser chooser)
    {
        m_chooser = std::move(chooser);
    }
    void setReporter(ITextFileReporter *reporter)
    {
        m_reporter = reporter;
    }
    static void setDefaultChooser(TextFileChooser chooser);
    static void setDefaultReporter(ITextFileReporter *reporter);

private:
    enum class Mode
    {
        ReadOnly,
        ReadWrite,
        ReadWriteCreate,
        ReadWriteTruncate
    };

    bool openCore(const std::string &path, bool create, bool dialogFallback, bool exclusive,
                  bool skipCrLfCheck);
    bool openSystemFile(const std::string &path, Mode mode, bool exclusive, int &error);
    void closeSystemFile();
    bool ensureFinalLineEnd();
    void failure(int error);
    std::string chooseFile(const std::string &defaultName, const std::string &filter,
                           const std::string &initialFolder, bool openDialog);
    void report(const std::string &text, ITextFileReporter::Icon icon);
    void setNameAndFolder();

    uint64_t fileLength() const;
    // Offset of the first CR LF at or after from, or the file length.
    uint64_t findLineEnd(uint64_t from, std::string *text) const;
    size_t readAt(uint64_t offset, char *buffer, size_t count) const;
    void writeAt(uint64_t offset, const char *buffer, size_t count);

    int m_fd = -1;
    uint64_t m_position = 0;
    uint32_t m_lineNumber = 1;
    std::string m_name;
    std::string m_folder;
    std::string m_fullPath;
#ifdef TEXTFILE_TRACKER_BUILD
    std::string m_lastError;
#endif
    bool m_open = false;
    void *m_parentWindow = nullptr;
    TextFileChooser m_chooser;
    ITextFileReporter *m_reporter = nullptr;
};

} // inline namespace
