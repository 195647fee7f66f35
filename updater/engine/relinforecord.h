#pragma once

#include <string>

// One record of a revision-information file: a file name relative to the
// program folder, its revision text, the transfer mark and, when the
// server list carries one, the expected SHA-256 of the file.
struct RelInfoRecord
{
    std::string fileName;
    std::string revision;
    // "0" when read from the server list, "1" once the download run has
    // fetched the file; empty in local and backup lists.
    std::string transferMark;
    // Optional third field of a server record: 64 hex digits, kept in
    // lower case; empty when the record has none.
    std::string sha256;
};
