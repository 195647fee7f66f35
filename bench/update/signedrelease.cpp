#include "signedrelease.h"

#include "publish.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "revision/revisionsignature.h"
#include "trust/revisiontrust.h"
#include "signing.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr int kRounds = 5;

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

QString publishSigned(const QString &updateFolder, const QString &keyFolder)
{
    QDir().mkpath(keyFolder);
    const std::string key = (keyFolder + "/publisher").toStdString();
    std::string error;
    PublishOptions options;
    options.keyFile = key + ".key";
    PublishResult result;
    if (!Signature::makeKeyPair(key + ".key", key + ".pub", error)
        || !publishFolder(updateFolder.toStdString(), options, result, error))
        return QString();
    return QString::fromStdString(key + ".pub");
}

VerifyTiming timeVerify(const QString &folder, int records)
{
    VerifyTiming timing;
    QDir().mkpath(folder);
    const std::string key = (folder + "/verify").toStdString();
    const std::string relPath = (folder + "/" + kRemoteRelInfoName).toStdString();
    std::string text;
    text.reserve(static_cast<std::size_t>(records) * 110);
    for (int i = 0; i < records; ++i) {
        char line[170];
        std::snprintf(line, sizeof line, "folder%03d/file%06d.bin; 1.%02d.%02d; %064x; %d\r\n",
                      i % 100, i, i % 100, i % 97, i, 1000 + i);
        text += line;
    }
    RevisionSignature signature;
    signature.sequence = 1;
    signature.expires = utcMomentText(std::time(nullptr) + 86400);
    std::string error;
    if (!Signature::makeKeyPair(key + ".key", key + ".pub", error)
        || !Signature::sign(key + ".key", revisionSignatureMessage(1, signature.expires, text),
                            signature.signature, error))
        return timing;
    QFile relFile(QString::fromStdString(relPath));
    if (!relFile.open(QIODevice::WriteOnly)
        || relFile.write(text.data(), static_cast<qint64>(text.size()))
            != static_cast<qint64>(text.size()))
        return timing;
    relFile.close();
    TrustedKey publicKey;
    publicKey.source = TrustedKey::Source::File;
    if (!appendWholeFile(key + ".pub", publicKey.pem, 4096))
        return timing;
    const std::string signatureText = formatRevisionSignature(signature);

    CRevisionTrust trust(publicKey);
    for (int round = 0; round < kRounds; ++round) {
        RelInfoList list;
        auto start = std::chrono::steady_clock::now();
        if (!ReadRemoteRelInfo(list, relPath) || list.size() != static_cast<std::size_t>(records))
            return timing;
        const double read = millisecondsSince(start);

        // The whole decision on the bytes: signature, sequence, and the
        // records parsed from them with their SHA-256 and size.
        RelInfoList verified;
        start = std::chrono::steady_clock::now();
        const bool valid = trust.accept(text, &signatureText, 0, verified)
            && verified.size() == static_cast<std::size_t>(records);
        const double verify = millisecondsSince(start);
        if (!valid)
            return timing;
        timing.readMs = round == 0 ? read : std::min(timing.readMs, read);
        timing.verifyMs = round == 0 ? verify : std::min(timing.verifyMs, verify);
    }
    timing.ok = true;
    return timing;
}

int revisionFileReads(const QString &folder, const std::function<bool()> &run)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return -1;
    // The opens are watched too: inotify merges an event into an identical
    // one queued just before it, and an open between two closes keeps them
    // apart.
    int reads = -1;
    if (::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_OPEN | IN_CLOSE_NOWRITE)
            >= 0
        && run())
        reads = 0;
    alignas(struct inotify_event) char events[64 * 1024];
    for (ssize_t got; reads >= 0 && (got = ::read(fd, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(events + at);
            if (event->mask & IN_Q_OVERFLOW)
                reads = -1;
            else if (reads >= 0 && (event->mask & IN_CLOSE_NOWRITE) && event->len > 0
                     && std::strcmp(event->name, kRemoteRelInfoName) == 0)
                ++reads;
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    ::close(fd);
    return reads;
}
