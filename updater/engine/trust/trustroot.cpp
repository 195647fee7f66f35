#include "trustroot.h"

#include "revision/revisionsignature.h"
#include "signature.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>

namespace {

constexpr const char *kContext = "Moravel root of trust\n";
constexpr const char *kFormatKey = "Moravel-Root: ";
constexpr const char *kVersionKey = "Version: ";
constexpr const char *kExpiresKey = "Expires: ";
constexpr const char *kThresholdKey = "Threshold: ";
constexpr const char *kKeyKey = "Key: ";
constexpr const char *kSignatureKey = "Signature: ";
constexpr const char *kFormatVersion = "1";

bool valueOf(std::string_view line, std::string_view key, std::string_view &value)
{
    if (line.substr(0, key.size()) != key)
        return false;
    value = line.substr(key.size());
    return !value.empty();
}

bool parseNumber(std::string_view text, std::uint64_t &number)
{
    if (text.empty() || text.size() > 20)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

std::string pemOfKeyLine(std::string_view line)
{
    return "-----BEGIN PUBLIC KEY-----\n" + std::string(line) + "\n-----END PUBLIC KEY-----\n";
}

} // namespace

std::string rootFileName(std::uint64_t version)
{
    return std::string(kRootFolderName) + "/" + std::to_string(version) + ".root";
}

TrustRoot singleKeyRoot(const std::string &publicKeyPem)
{
    TrustRoot root;
    root.version = 1;
    root.keys.push_back(publicKeyPem);
    return root;
}

std::string keyLineOfPem(const std::string &publicKeyPem)
{
    if (!Signature::isPublicKey(publicKeyPem))
        return std::string();
    std::string body;
    std::size_t start = 0;
    while (start < publicKeyPem.size()) {
        std::size_t end = publicKeyPem.find('\n', start);
        if (end == std::string::npos)
            end = publicKeyPem.size();
        std::string line = publicKeyPem.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, 5, "-----") != 0)
            body += line;
        start = end + 1;
    }
    // One spelling a key: the DER bytes in standard base64.
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(body),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded.toBase64().toStdString() : std::string();
}

std::string rootBody(std::uint64_t version, std::time_t expires, std::size_t threshold,
                     const std::vector<std::string> &keyLines)
{
    std::string body = std::string(kFormatKey) + kFormatVersion + "\n";
    body += kVersionKey + std::to_string(version) + "\n";
    body += kExpiresKey + utcMomentText(expires) + "\n";
    body += kThresholdKey + std::to_string(threshold) + "\n";
    for (const std::string &key : keyLines)
        body += kKeyKey + key + "\n";
    return body;
}

std::string rootSignedMessage(std::string_view body)
{
    return kContext + std::string(body);
}

std::string rootSignatureLine(const std::string &signatureBase64)
{
    return kSignatureKey + signatureBase64 + "\n";
}

std::string parseRoot(std::string_view bytes, ParsedRoot &parsed)
{
    if (bytes.size() > kMaxRootFileSize)
        return "is larger than " + std::to_string(kMaxRootFileSize) + " bytes";
    ParsedRoot result;
    std::vector<std::string> keyLines;
    std::size_t bodyEnd = std::string_view::npos;
    std::size_t lineNumber = 0;
    bool haveThreshold = false;
    std::uint64_t threshold = 0;
    for (std::size_t start = 0; start < bytes.size(); ++lineNumber) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t lineStart = start;
        start = end + 1;
        std::string_view value;
        if (lineNumber == 0) {
            if (!valueOf(line, kFormatKey, value) || value != kFormatVersion)
                return "is not a root of trust of a known format";
        } else if (lineNumber == 1) {
            if (!valueOf(line, kVersionKey, value) || !parseNumber(value, result.root.version)
                || result.root.version == 0)
                return "has no valid version";
        } else if (lineNumber == 2) {
            if (!valueOf(line, kExpiresKey, value)
                || !parseUtcMoment(std::string(value), result.root.expires))
                return "has no valid expiry";
        } else if (lineNumber == 3) {
            if (!valueOf(line, kThresholdKey, value) || !parseNumber(value, threshold)
                || threshold == 0)
                return "has no valid threshold";
            haveThreshold = true;
        } else if (bodyEnd == std::string_view::npos && valueOf(line, kKeyKey, value)) {
            if (keyLines.size() == kMaxRootKeys)
                return "names more than " + std::to_string(kMaxRootKeys) + " keys";
            const std::string pem = pemOfKeyLine(value);
            if (keyLineOfPem(pem) != value)
                return "names a key that is not an Ed25519 public key";
            if (std::find(keyLines.begin(), keyLines.end(), value) != keyLines.end())
                return "names a key twice";
            keyLines.emplace_back(value);
            result.root.keys.push_back(pem);
        } else if (valueOf(line, kSignatureKey, value)) {
            if (bodyEnd == std::string_view::npos)
                bodyEnd = lineStart;
            if (result.signatures.size() == kMaxRootSignatures)
                return "carries more than " + std::to_string(kMaxRootSignatures) + " signatures";
            result.signatures.emplace_back(value);
        } else {
            return "has an unknown line " + std::to_string(lineNumber + 1);
        }
    }
    if (!haveThreshold || result.root.keys.empty())
        return "names no keys";
    if (threshold > result.root.keys.size())
        return "has a threshold above its number of keys";
    result.root.threshold = static_cast<std::size_t>(threshold);
    result.signedMessage = rootSignedMessage(bytes.substr(0, std::min(bodyEnd, bytes.size())));
    result.root.bytes = std::string(bytes);
    parsed = std::move(result);
    return std::string();
}

std::size_t countSigningKeys(const std::vector<std::string> &keys, const std::string &message,
                             const std::vector<std::string> &signatures)
{
    std::size_t count = 0;
    for (const std::string &key : keys) {
        for (const std::string &signature : signatures) {
            if (Signature::verify(key, message, signature)) {
                ++count;
                break;
            }
        }
    }
    return count;
}

std::string acceptNextRoot(const TrustRoot &current, std::string_view bytes, TrustRoot &next)
{
    const std::uint64_t expected = current.version + 1;
    const std::string name = rootFileName(expected);
    ParsedRoot parsed;
    const std::string malformed = parseRoot(bytes, parsed);
    if (!malformed.empty())
        return name + " " + malformed;
    if (parsed.root.version != expected)
        return name + " is version " + std::to_string(parsed.root.version) + ", not "
            + std::to_string(expected);
    const std::size_t byOld =
        countSigningKeys(current.keys, parsed.signedMessage, parsed.signatures);
    const std::size_t byNew =
        countSigningKeys(parsed.root.keys, parsed.signedMessage, parsed.signatures);
    if (byOld < current.threshold || byNew < parsed.root.threshold)
        return name + " is signed by " + std::to_string(byOld) + " of the keys of version "
            + std::to_string(current.version) + " (threshold " + std::to_string(current.threshold)
            + ") and " + std::to_string(byNew) + " of its own (threshold "
            + std::to_string(parsed.root.threshold) + ")";
    next = std::move(parsed.root);
    return std::string();
}

std::string rootExpiry(const TrustRoot &root, std::time_t now)
{
    if (root.expires == 0 || now < root.expires)
        return std::string();
    return "the root of trust of version " + std::to_string(root.version) + " expired on "
        + utcMomentText(root.expires);
}
