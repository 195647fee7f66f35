#include "pagelimits.h"

#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Elements that hold no content, and those the parser closes by itself at
// the next of their kind: neither makes the page deeper.
bool addsNoDepth(const QByteArray &name)
{
    static const char *const kNames[] = {
        "area",  "base",  "br",    "col",  "colgroup", "dd",     "dt",    "embed", "hr",
        "img",   "input", "li",    "link", "meta",     "option", "p",     "param", "source",
        "tbody", "td",    "tfoot", "th",   "thead",    "tr",     "track", "wbr"};
    for (const char *known : kNames) {
        if (name == known)
            return true;
    }
    return false;
}

// A width or height attribute of a tag above the largest image drawn.
bool asksForHugeBox(const char *tag, const char *end)
{
    for (const char *key : {"width", "height"}) {
        const std::size_t length = std::strlen(key);
        for (const char *p = tag; p + length < end; ++p) {
            if (qstrnicmp(p, key, static_cast<uint>(length)) != 0)
                continue;
            const char *value = p + length;
            while (value < end
                   && (*value == ' ' || *value == '=' || *value == '"' || *value == '\''))
                ++value;
            long long number = 0;
            while (value < end && *value >= '0' && *value <= '9'
                   && number <= PageLimits::kMaxImageSide)
                number = number * 10 + (*value++ - '0');
            if (number > PageLimits::kMaxImageSide)
                return true;
        }
    }
    return false;
}

} // namespace

namespace PageLimits {

bool showableAsHtml(const QByteArray &html)
{
    if (html.size() > kMaxHtmlBytes)
        return false;
    const char *p = html.constData();
    const char *const end = p + html.size();
    int depth = 0;
    int elements = 0;
    int run = 0; // characters of text since the last blank, tags not counted
    while (p < end) {
        if (*p != '<') {
            run = isBlank(*p) ? 0 : run + 1;
            if (run > kMaxWordLength)
                return false;
            ++p;
            continue;
        }
        ++p;
        const bool closing = p < end && *p == '/';
        if (closing)
            ++p;
        const char *nameStart = p;
        while (p < end && isNameChar(*p))
            ++p;
        if (p == nameStart)
            continue; // "<!", "<?" or a stray "<"
        const QByteArray name = QByteArray(nameStart, static_cast<int>(p - nameStart)).toLower();
        const char *tagEnd =
            static_cast<const char *>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
        if (!tagEnd)
            tagEnd = end;
        if (closing) {
            if (!addsNoDepth(name) && depth > 0)
                --depth;
        } else {
            if (++elements > kMaxElements || asksForHugeBox(p, tagEnd))
                return false;
            const bool selfClosed = tagEnd > p && tagEnd[-1] == '/';
            if (!addsNoDepth(name) && !selfClosed && ++depth > kMaxNesting)
                return false;
        }
        p = tagEnd < end ? tagEnd + 1 : end;
    }
    return true;
}

bool isOpenableLink(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https")
            || scheme == QLatin1String("mailto"));
}

} // namespace PageLimits
