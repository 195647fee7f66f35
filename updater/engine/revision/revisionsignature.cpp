#include "revisionsignature.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr const char *kContext = "Moravel signed revision file\n";
constexpr const char *kVersionKey = "Moravel-Signature: ";
constexpr const char *kSequenceKey = "Sequence: ";
constexpr const char *kExpiresKey = "Expires: ";
constexpr const char *kSignatureKey = "Signature: ";

// The value after key on a line that starts with it; false otherwise.
bool valueOf(const std::string &line, const char *key, std::string &value)
{
    const std::string prefix = key;
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    value = line.substr(prefix.size());
    return !value.empty();
}

bool parseNumber(const std::string &text, std::uint64_t &number)
{
    if (text.empty() || text.size() > 20)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

std::string revisionSignatureHeader(std::uint64_t sequence, const std::string &expires)
{
    std::string message = kContext;
    message += "Version: " + std::to_string(kRevisionSignatureVersion) + "\n";
    message += kSequenceKey + std::to_string(sequence) + "\n";
    message += kExpiresKey + expires + "\n";
    return message;
}

std::string revisionSignatureMessage(std::uint64_t sequence, const std::string &expires,
                                     const std::string &revisionFile)
{
    return revisionSignatureHeader(sequence, expires) + revisionFile;
}

std::string formatRevisionSignature(const RevisionSignature &signature)
{
    return kVersionKey + std::to_string(kRevisionSignatureVersion) + "\n" + kSequenceKey
        + std::to_string(signature.sequence) + "\n" + kExpiresKey + signature.expires + "\n"
        + kSignatureKey + signature.signature + "\n" + [&signature] {
              std::string more;
              for (const std::string &extra : signature.extraSignatures)
                  more += kSignatureKey + extra + "\n";
              return more;
          }();
}

bool parseRevisionSignature(const std::string &text, RevisionSignature &signature)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    if (lines.size() < 4 || lines.size() > 3 + kMaxRevisionSignatures)
        return false;
    std::string version;
    std::string sequence;
    std::time_t moment = 0;
    RevisionSignature parsed;
    if (!valueOf(lines[0], kVersionKey, version)
        || version != std::to_string(kRevisionSignatureVersion)
        || !valueOf(lines[1], kSequenceKey, sequence) || !parseNumber(sequence, parsed.sequence)
        || !valueOf(lines[2], kExpiresKey, parsed.expires)
        || !parseUtcMoment(parsed.expires, moment)
        || !valueOf(lines[3], kSignatureKey, parsed.signature))
        return false;
    for (std::size_t line = 4; line < lines.size(); ++line) {
        std::string extra;
        if (!valueOf(lines[line], kSignatureKey, extra))
            return false;
        parsed.extraSignatures.push_back(extra);
    }
    signature = parsed;
    return true;
}

std::string utcMomentText(std::time_t moment)
{
    std::tm utc{};
    gmtime_r(&moment, &utc);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

bool parseUtcMoment(const std::string &text, std::time_t &moment)
{
    std::tm utc{};
    int consumed = 0;
    if (text.size() != 20
        || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &utc.tm_year, &utc.tm_mon,
                       &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &consumed)
            != 6
        || consumed != 20)
        return false;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    moment = timegm(&utc);
    // An impossible date (2027-02-30) comes back as another one.
    return utcMomentText(moment) == text;
}

bool appendWholeFile(const std::string &path, std::string &text, std::size_t maxSize)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > maxSize)
        return false;
    in.seekg(0, std::ios::beg);
    const std::size_t offset = text.size();
    text.resize(offset + static_cast<std::size_t>(size));
    in.read(text.data() + offset, size);
    return in.gcount() == size;
}
