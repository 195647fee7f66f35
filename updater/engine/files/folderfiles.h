#pragma once

#include "folderwalk.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

// The one way the update engine writes into and reads from a program
// folder: never through a symbolic link below it. The folder itself is
// opened as given (it may be reached through a link: /opt/app ->
// /opt/app-2); every sub-folder of a name is opened from its parent with
// O_NOFOLLOW, the new content goes to a temporary file beside the target
// ("upd_NAME.part-XXXXXX", created with O_EXCL | O_NOFOLLOW) and renameat
// puts it in place within that sub-folder. A link under the target's own
// name is replaced, not followed; a link as a folder of the name fails the
// step. Names are relative names as the revision files list them ("\" or
// "/" separate sub-folders). CReplacingFile is the streaming form of the
// same writer.

// Replaces folder/name with bytes, atomically: afterwards the name holds
// either its old content or all of bytes. Sub-folders must exist. sync:
// the data reach the disk before the rename. False with the reason in
// error.
bool replaceFileInFolder(const std::string &folder, const std::string &name, std::string_view bytes,
                         std::string &error, bool sync = true);

// Reads folder/name whole into bytes (replacing them): only a regular file
// reached without a link, at most maxSize bytes. False when there is no
// such file or it is larger; bytes are then empty.
bool readFileInFolder(const std::string &folder, const std::string &name, std::string &bytes,
                      std::size_t maxSize);

// Copies folder/source onto folder/target through the same writer, so the
// target is either its old self or a full copy with the source's
// permissions. Neither name passes through a link; a link as the source
// is not read. Sub-folders of the target are made when missing. A cancel
// flag that becomes true stops the copy within a few megabytes; the
// target then stays as it was. False with the reason in error.
bool copyFileInFolder(const std::string &folder, const std::string &source,
                      const std::string &target, std::string &error,
                      const std::atomic<bool> *cancel = nullptr);
