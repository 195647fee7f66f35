#pragma once

#include <string>

// Reads and writes one string value of the tracker's per-user settings per
// call. Nothing is cached: every call opens the store and lets it go again,
// so a store object may be made on the spot wherever a value is needed.
// Key paths use '\' between key names (SettingsKeys::kKeyPath).
//
// Status of a call: 0 done; -1 the key (or the store) cannot be opened;
// -3 the value is not there; -4 the value could not be written.
//
// Objects are cheap and not shared; separate objects may be used on
// separate threads.
class CSettingsStore
{
public:
    static constexpr int kOk = 0;
    static constexpr int kNoKey = -1;
    static constexpr int kNoValue = -3;
    static constexpr int kWriteFailed = -4;

    // value becomes "" first; with status 0 it holds the stored text, whole.
    int ReadValue(const std::string &keyPath, const std::string &valueName, std::string &value);
    // Creates the key and the store file when they are missing.
    int WriteValue(const std::string &keyPath, const std::string &valueName,
                   const std::string &text);

    // The same under the tracker's own key.
    int ReadValue(const std::string &valueName, std::string &value);
    int WriteValue(const std::string &valueName, const std::string &text);
    // The stored text under the tracker's key, or "" when it cannot be read.
    std::string value(const std::string &valueName);

    // Status of the last call.
    int Status() const { return m_status; }

private:
    int m_status = kOk;
};
