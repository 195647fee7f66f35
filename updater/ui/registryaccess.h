#pragma once

#include <cstdint>
#include <string>

// Small helper for the library's settings, used on the stack for a group of
// operations. Every operation opens and closes the per-user store within
// the call. Key paths use "\" between key names as the registry does.
// Results: 0 success, -1 key or DWORD value unreadable, -3 string value
// unreadable, -4 value not written.
class CRegistryAccess
{
public:
    static constexpr int kOk = 0;
    static constexpr int kNoKey = -1;
    static constexpr int kNoString = -3;
    static constexpr int kWriteFailed = -4;
    // Longest string value that ReadString accepts, in bytes.
    static constexpr std::size_t kMaxStringBytes = 100;

    // value becomes 0 first; the stored type is not checked.
    int ReadDword(const std::string &keyPath, const std::string &valueName, std::uint32_t &value);
    int WriteDword(const std::string &keyPath, const std::string &valueName, std::uint32_t value);
    // value becomes empty first; the text ends at its first zero byte.
    int ReadString(const std::string &keyPath, const std::string &valueName, std::string &value);
    int WriteString(const std::string &keyPath, const std::string &valueName,
                    const std::string &value);

    int result() const { return m_result; }
    const std::string &lastString() const { return m_lastString; }

private:
    int m_result = kOk;
    std::string m_lastString;
};
