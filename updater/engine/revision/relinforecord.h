#pragma once

#include <cstdint>
#include <string_view>

// One record of a revision-information file, as read from its list: a file
// name relative to the program folder, its revision text, the transfer
// mark and, when the server list carries one, the expected SHA-256 of the
// file. The texts point into the list and stay valid until the list is
// changed.
struct RelInfoRecord
{
    std::string_view fileName;
    std::string_view revision;
    // "0" when read from the server list, "1" once the download run has
    // fetched the file; empty in local and backup lists.
    std::string_view transferMark;
    // Optional third field of a server record: 64 hex digits, kept in
    // lower case; empty when the record has none.
    std::string_view sha256;
    // Optional fourth field of a server record: the file's size in bytes
    // (hasSize false when the record has none).
    std::uint64_t size = 0;
    bool hasSize = false;
    // Optional fifth and sixth fields of a server record: the SHA-256 and
    // size of the file's block index (NAME.zsync beside it); indexSha256
    // is empty when the record has no sound pair.
    std::string_view indexSha256;
    std::uint64_t indexSize = 0;
};
