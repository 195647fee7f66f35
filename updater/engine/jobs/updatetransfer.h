#pragma once

#include "transfer/filetransfer.h"
#include "trust/updatesecurity.h"

#include <atomic>
#include <memory>
#include <string>

// The transfer a check, a download run or a release-notes fetch uses for
// a server path: the host (hostText, else ftpServerHost(serverPath)) with
// that server path's settings: TLS and CA file (security.caFile first),
// the minimum rate, the proxy (`Proxy`), and plain http allowed only while
// a signing key is in force (trustedkey.h).
std::unique_ptr<IFileTransfer> openUpdateTransfer(IPrompt *prompt, const std::string &serverPath,
                                                  const UpdateSecurity &security,
                                                  const std::atomic<bool> *cancel = nullptr,
                                                  const std::string &hostText = std::string());
