#pragma once

#include <string>

// A URL or host text taken apart by libcurl's URL parser: the one place
// where the transfer layer reads a scheme, user data, a host (an IPv6
// literal too) or a port.
struct CurlUrl
{
    std::string scheme; // lower case
    std::string user;
    std::string password;
    std::string host; // an IPv6 literal in brackets
    std::string port; // as given; empty when the text gives none
    std::string path; // "/" at least

    // "host[:port]", as given.
    std::string authority() const;
    // "scheme://host:port" in lower case with the scheme's default port
    // filled in: equal for two URLs of the same server.
    std::string origin() const;

    // Takes text apart; one without "://" is read as
    // "defaultScheme://text". False, with the parser's reason in error, when
    // the text is no URL (or libcurl cannot be loaded).
    static bool parse(const std::string &text, const char *defaultScheme, CurlUrl &url,
                      std::string *error = nullptr);

private:
    std::string m_defaultPort;
};

// A proxy text ("[scheme://][user:password@]host[:port]") with its password
// replaced by "***", for messages.
std::string proxyForMessages(const std::string &proxy);

// A URL text without its user data, for messages; the text as it is when
// it holds none.
std::string urlForMessages(const std::string &text);
