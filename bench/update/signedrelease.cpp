#include "signedrelease.h"

#include "files/folderfiles.h"
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
#include <string>

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
    text.reserve(static_cast<std::size_t>(records) * 100);
    for (int i = 0; i < records; ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "folder%03d/file%06d.bin; 1.%02d.%02d; %064x\r\n", i % 100,
                      i, i % 100, i % 97, i);
        text += line;
    }
    RevisionSignature signature;
    signature.sequence = 1;
    signature.expires = utcMomentText(std::time(nullptr) + 86400);
    std::string error;
    if (!Signature::makeKeyPair(key + ".key", key + ".pub", error)
        || !Signature::sign(key + ".key", revisionSignatureMessage(1, signature.expires, text),
                            signature.signature, error)
        || !replaceFileInFolder(folder.toStdString(), kRemoteRelInfoName, text, error))
        return timing;
    std::string publicKey;
    if (!appendWholeFile(key + ".pub", publicKey, 4096))
        return timing;
    const std::string signatureText = formatRevisionSignature(signature);

    CRevisionTrust trust;
    for (int round = 0; round < kRounds; ++round) {
        RelInfoList list;
        auto start = std::chrono::steady_clock::now();
        if (!ReadRemoteRelInfo(list, relPath) || list.size() != static_cast<std::size_t>(records))
            return timing;
        const double read = millisecondsSince(start);

        start = std::chrono::steady_clock::now();
        std::uint64_t sequence = 0;
        const bool valid = trust.checkSignature(publicKey, signatureText, relPath, sequence).empty()
            && std::all_of(list.begin(), list.end(),
                           [](const RelInfoRecord &record) { return !record.sha256.empty(); });
        const double verify = millisecondsSince(start);
        if (!valid)
            return timing;
        timing.readMs = round == 0 ? read : std::min(timing.readMs, read);
        timing.verifyMs = round == 0 ? verify : std::min(timing.verifyMs, verify);
    }
    timing.ok = true;
    return timing;
}
