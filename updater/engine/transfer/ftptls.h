#pragma once

#include <string>

// FTP over TLS: explicit TLS (AUTH TLS on the ordinary control
// connection), with the server's certificate checked against the system's
// CA store or a given CA file (IFileTransfer::TlsSettings). Under TLS the
// data connections are passive: an encrypted PORT command cannot be
// rewritten by the NAT helpers of the routers on the way.
//
// Configured by the host text "ftpes://host[:port]" (TLS required), or by
// the reminder settings of a server path: the value `TLS` beside `Host`
// ("off", "offered": TLS when the server offers it, "required") and the
// value `CAFile` (a PEM file of the certificates to trust instead of the
// system's store). "offered" keeps a passive listener out, not an active
// one that strips the offer; "required" never sends the account in clear.
enum class FtpTls
{
    Off,
    WhenOffered,
    Required
};

// The schemes of FTP host texts, as the URL parser gives them.
constexpr const char *kTlsScheme = "ftpes";
constexpr const char *kPlainScheme = "ftp";

// "off" (also "no", "0", "false" and empty), "offered" (also "when
// offered", "try"), anything else "required": an unclear setting errs on
// the safe side.
FtpTls parseFtpTlsMode(const std::string &text);

// The TLS mode of a server path's reminder settings.
FtpTls ftpTlsMode(const std::string &serverPath);
