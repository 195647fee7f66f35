#pragma once

#include <functional>
#include <string>

// Everything a file dialog needs to let the user choose a text file.
struct TextFileDialogRequest
{
    bool save = false;            // save dialog, else open dialog
    std::string title;            // "open file..." / "save file..." plus the default name
    std::string defaultName;      // preset file name, may be empty
    std::string defaultExtension; // "*.txt"
    std::string filter;           // "Name (*.ext)|*.ext|...||" pairs
    std::string initialFolder;    // absolute folder the dialog starts in
    bool hideReadOnly = true;
    bool overwritePrompt = true;  // ask before an existing file is replaced
    void *parentWindow = nullptr; // owner of the dialog, may be null

    // The filter as a Qt dialog filter: "Name (*.ext);;Other (*.x)".
    static std::string qtFilter(const std::string &filter);
};

// Shows the dialog; returns the chosen full path, or empty when cancelled.
using TextFileChooser = std::function<std::string(const TextFileDialogRequest &)>;
