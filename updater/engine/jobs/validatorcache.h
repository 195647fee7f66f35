#pragma once

#include "transfer/filetransfer.h"

#include <string>

// The server's validators (ETag, Last-Modified) of the revision files a
// program folder holds, so that a check asks "changed since?" and an
// unchanged file costs one small answer instead of its body.
//
// They are kept in RelInfoRemote.validators beside RelInfoLocal.rel, one
// line a file: its name, the SHA-256 of the copy they belong to, the ETag
// and the Last-Modified text, separated by tabs. They are sent only while
// the copy in the folder is still that copy, so a copy replaced or removed
// since (a refused release, a download run) is fetched whole. An answer
// "not modified" keeps the copy, which is then checked as if it had just
// arrived (its signature included).
constexpr const char *kValidatorsName = "RelInfoRemote.validators";

// Fetches name into folder through client as GetFile does, with the
// validators of the copy there when they still apply, and records the
// validators of what arrived.
bool fetchRevisionFile(IFileTransfer &client, const std::string &name, const std::string &folder,
                       IFileTransfer::GetFileOptions options);
