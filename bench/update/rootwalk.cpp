#include "rootwalk.h"

#include "ftpserver.h"
#include "jobs/updatecheck.h"
#include "jobs/updatetransfer.h"
#include "prompt.h"
#include "publish.h"
#include "rootpublish.h"
#include "signing.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>

namespace {

constexpr int kRounds = 5;
constexpr int kChainLength = 10;

// Answers every box with its negative answer.
struct SilentPrompt : IPrompt
{
    Answer message(const std::string &, const std::string &, Buttons buttons, Icon) override
    {
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// One check of serverPath into a fresh copy of the program folder; its
// time in ms, or a negative number when it did not find the newer file.
double timeCheck(FtpTestServer &server, const QString &serverPath, const QString &program,
                 const UpdateSecurity &security)
{
    QDir(program).removeRecursively();
    QDir().mkpath(program);
    if (!writeFile(program + "/RelInfoLocal.rel", "Spelmar.exe; 3.01.01\r\n"))
        return -1;
    SilentPrompt prompt;
    const auto start = std::chrono::steady_clock::now();
    const auto client = openUpdateTransfer(&prompt, serverPath.toStdString(), security, nullptr,
                                           server.host().toStdString());
    CUpdateCheck check(*client, prompt);
    check.setSecurity(security);
    check.CheckForUpdates(serverPath.toStdString(), program.toStdString(), "Spelmar.exe", true);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return check.lastOutcome() == CUpdateCheck::Outcome::NewerFiles ? ms : -1;
}

} // namespace

RootWalkTiming timeRootWalk(const QString &folder)
{
    RootWalkTiming timing;
    QDir root(folder);
    for (const char *path : {"server/Plain/Updates", "server/Chain/Updates", "keys"})
        root.mkpath(path);
    const std::string key = root.filePath("keys/root").toStdString();
    std::string error;
    if (!Signature::makeKeyPair(key + ".key", key + ".pub", error))
        return timing;
    for (const char *name : {"Plain", "Chain"}) {
        const QString updates = root.filePath(QString("server/%1/Updates").arg(name));
        if (!writeFile(updates + "/Spelmar.exe", "new exe")
            || !writeFile(updates + "/RelInfoRemote.rel", "Spelmar.exe; 3.01.02\r\n"))
            return timing;
    }
    // Versions 1 to 11, each signed by the one key; the installation
    // starts from version 1.
    const std::string chain = root.filePath("server/Chain/Updates").toStdString();
    RootOptions rootOptions;
    rootOptions.publicKeyFiles = {key + ".pub"};
    rootOptions.signingKeyFiles = {key + ".key"};
    for (int version = 1; version <= kChainLength + 1; ++version) {
        RootResult result;
        if (!publishRoot(chain, rootOptions, result, error))
            return timing;
    }
    PublishOptions options;
    options.keyFile = key + ".key";
    PublishResult published;
    for (const char *name : {"Plain", "Chain"}) {
        const QString updates = root.filePath(QString("server/%1/Updates").arg(name));
        if (!publishFolder(updates.toStdString(), options, published, error))
            return timing;
    }

    FtpTestServer server(root.filePath("server"));
    if (!server.start())
        return timing;
    UpdateSecurity plain;
    plain.publicKeyFile = key + ".pub";
    UpdateSecurity walking;
    walking.rootFile = chain + "/root/1.root";
    for (int round = 0; round < kRounds; ++round) {
        const double plainMs =
            timeCheck(server, "Plain/Updates", root.filePath("program-plain"), plain);
        const double walkMs =
            timeCheck(server, "Chain/Updates", root.filePath("program-chain"), walking);
        if (plainMs < 0 || walkMs < 0
            || !QFile::exists(root.filePath("program-chain/RelInfoLocal.root")))
            return timing;
        timing.plainMs = round == 0 ? plainMs : std::min(timing.plainMs, plainMs);
        timing.walkMs = round == 0 ? walkMs : std::min(timing.walkMs, walkMs);
    }
    timing.ok = true;
    return timing;
}
