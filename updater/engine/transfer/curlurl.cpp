#include "curlurl.h"

#include "curllibrary.h"

#include <QByteArray>

#include <memory>

namespace {

struct UrlHandle
{
    const CurlLibrary *curl = nullptr;
    CURLU *url = nullptr;
    ~UrlHandle()
    {
        if (url)
            curl->urlCleanup(url);
    }
};

// One part of a parsed URL; empty when the URL lacks it.
std::string part(const UrlHandle &handle, CURLUPart which, unsigned int flags = 0)
{
    char *text = nullptr;
    if (handle.curl->urlGet(handle.url, which, &text, flags) != CURLUE_OK || !text)
        return std::string();
    std::string value = text;
    handle.curl->freeMemory(text);
    return value;
}

std::string lower(const std::string &text)
{
    return QByteArray::fromStdString(text).toLower().toStdString();
}

// What a message may show of a text that is no URL: nothing before an "@".
std::string withoutUserData(const std::string &text)
{
    const std::size_t at = text.rfind('@');
    return at == std::string::npos ? text : "***" + text.substr(at);
}

} // namespace

std::string CurlUrl::authority() const
{
    return port.empty() ? host : host + ":" + port;
}

std::string CurlUrl::origin() const
{
    return scheme + "://" + lower(host) + ":" + (port.empty() ? m_defaultPort : port);
}

bool CurlUrl::parse(const std::string &text, const char *defaultScheme, CurlUrl &url,
                    std::string *error)
{
    url = CurlUrl();
    std::string loadError;
    UrlHandle handle;
    handle.curl = CurlLibrary::get(&loadError);
    handle.url = handle.curl ? handle.curl->url() : nullptr;
    if (!handle.url) {
        if (error)
            *error = handle.curl ? "cannot create a URL handle" : loadError;
        return false;
    }
    const std::string full =
        text.find("://") == std::string::npos ? std::string(defaultScheme) + "://" + text : text;
    const CURLUcode code =
        handle.curl->urlSet(handle.url, CURLUPART_URL, full.c_str(), CURLU_NON_SUPPORT_SCHEME);
    if (code != CURLUE_OK) {
        if (error)
            *error = "not a valid server address: " + withoutUserData(text);
        return false;
    }
    url.scheme = lower(part(handle, CURLUPART_SCHEME));
    url.user = part(handle, CURLUPART_USER);
    url.password = part(handle, CURLUPART_PASSWORD);
    url.host = part(handle, CURLUPART_HOST);
    url.port = part(handle, CURLUPART_PORT);
    url.path = part(handle, CURLUPART_PATH);
    url.m_defaultPort = part(handle, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (url.path.empty())
        url.path = "/";
    return true;
}

std::string proxyForMessages(const std::string &proxy)
{
    CurlUrl url;
    if (!CurlUrl::parse(proxy, "http", url))
        return withoutUserData(proxy);
    if (url.password.empty())
        return proxy;
    // The password as the text holds it, between the user's ":" and the "@".
    const std::string given = ":" + url.password + "@";
    const std::size_t at = proxy.find(given);
    return at == std::string::npos
        ? proxy
        : proxy.substr(0, at) + ":***@" + proxy.substr(at + given.size());
}

std::string urlForMessages(const std::string &text)
{
    CurlUrl url;
    if (!CurlUrl::parse(text, "ftp", url))
        return withoutUserData(text);
    if (url.user.empty() && url.password.empty())
        return text;
    std::string shown = url.scheme + "://" + url.authority();
    return url.path == "/" && text.back() != '/' ? shown : shown + url.path;
}
