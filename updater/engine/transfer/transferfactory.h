#pragma once

#include "filetransfer.h"
#include "ftptls.h"

#include <memory>
#include <string>

class IPrompt;

// The transfer for a host text: several servers separated by commas make
// a CMirrorTransfer of one transfer each; "file:///PATH" makes a
// CFolderFileClient; "https://" and "http://" make a CHttpFileClient; anything else ("name",
// "name:port", "ftp://", "ftpes://") a CFtpFileClient, with ftpTls as its TLS mode. Empty text is
// ftpServerHost("").
std::unique_ptr<IFileTransfer> makeFileTransfer(IPrompt *prompt, const std::string &hostText,
                                                FtpTls ftpTls = FtpTls::Off);
