#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The one way the update engine writes into and reads from a program
// folder: never through a symbolic link. The folder is opened once
// (O_DIRECTORY), every sub-folder of a name is opened from its parent with
// O_NOFOLLOW, the new content goes to a temporary file beside the target
// ("upd_NAME.part-XXXXXX", created with O_EXCL | O_NOFOLLOW) and renameat
// puts it in place within that folder. A link under the target's own name
// is replaced, not followed; a link as a folder of the name fails the
// write. Names are relative names as the revision files list them ("\" or
// "/" separate sub-folders); sub-folders must exist.

// Replaces folder/name with bytes, atomically: afterwards the name holds
// either its old content or all of bytes. sync: the data reach the disk
// before the rename. False with the reason in error.
bool replaceFileInFolder(const std::string &folder, const std::string &name, std::string_view bytes,
                         std::string &error, bool sync = true);

// Reads folder/name whole into bytes (replacing them): only a regular file
// reached without a link, at most maxSize bytes. False when there is no
// such file or it is larger; bytes are then empty.
bool readFileInFolder(const std::string &folder, const std::string &name, std::string &bytes,
                      std::size_t maxSize);
