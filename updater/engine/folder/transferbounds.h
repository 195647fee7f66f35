#pragma once

#include "revision/relinforecord.h"

#include <cstdint>
#include <string>

// The bound of every download, known before it starts.
//
// A file whose server record gives its size (every record of a signed
// list does) may bring exactly that many bytes. A file without a size (an
// unsigned list) may bring at most kMaxUnsizedFileBytes. Either way the
// bytes must leave kFreeSpaceReserve free on the program folder's file
// system, so an update never fills the disk; a file that cannot is not
// fetched at all.
constexpr std::uint64_t kMaxUnsizedFileBytes = 256ULL * 1024 * 1024;
constexpr std::uint64_t kFreeSpaceReserve = 64ULL * 1024 * 1024;
// The release notes and the signature file are small by nature.
constexpr std::uint64_t kMaxReleaseNotesBytes = 1024 * 1024;

struct TransferBound
{
    std::uint64_t maxBytes = 0; // 0: the file is not to be fetched
    std::string refusal;        // why, when maxBytes is 0
};

// Bytes the calling user may still write on the file system of folder;
// false when it cannot be told.
bool freeBytes(const std::string &folder, std::uint64_t &bytes);

// The bound of a file of wantedBytes (0 with known false: not known) to be
// written into folder, with freeSpace the bytes free there.
TransferBound transferBound(bool known, std::uint64_t wantedBytes, std::uint64_t freeSpace);

// The bound of a listed file for the program folder.
TransferBound transferBound(const RelInfoRecord &record, const std::string &programFolder);
