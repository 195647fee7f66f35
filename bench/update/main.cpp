// Speed and memory of the download with backup.
//
// A loopback FTP server holds 200 files of 100 MB in all, and 2,000 small
// files; every record of the revision files carries the file's SHA-256.
// The figures are:
// - the time of `moravel-cli update` into an empty program folder against
//   the curl tool fetching the same 200 files in one invocation (same
//   data-connection mode) followed by `sync -f` of the same file system,
//   since the update forces its files to disk before it records them;
// - the time of `moravel-cli update` of the 2,000 small files against
//   lftp's mirror of the same folder (with and without its `sync -f`);
// - the peak resident memory of a moravel-cli run that downloads one
//   500 MB file;
// - how often one signed update opens RelInfoRemote.rel for reading (its
//   bytes are verified and parsed as they arrive; the kept copy is read
//   once when the server answers "not modified");
// - over HTTPS (nginx with HTTP/2 on loopback, serving the same folders):
//   the update of the 200 files against curl fetching them over the same
//   HTTPS followed by `sync -f`; the 2,000 small files against
//   `curl --parallel --parallel-max 4`; the body bytes of a check that
//   finds nothing new; the bytes a 40 MB file costs through a forwarder
//   that cuts every connection after 8 MB, against its size;
// - the slowest hostile release-notes page on screen (deep tables, lists
//   and divs, 1 MiB of one word, 100,000 links) against an ordinary page,
//   and how much of an endless file arrives before its listed size stops
//   it;
// - the time of one check that walks a chain of 10 roots of trust (root
//   walk ms) against one check without a chain, both in process over
//   loopback FTP;
// - the updates that fetch only what changed (delta.h);
// - from a published folder on this machine (a "file://" host, as from a
//   stick): the update of the 200 files against cp of them followed by
//   `sync -f`;
// - how long a release that fails its trial takes to give way: from the
//   failing program's end until the older program runs, with
//   `moravel-cli update --start`.
// Each timing is the best of a few rounds, taken alternately. The data live
// in a temporary folder that is removed at the end.

#include "delta.h"
#include "ftpserver.h"
#include "hostile.h"
#include "rootwalk.h"
#include "signedrelease.h"
#include "webserver.h"

#include <QByteArray>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr int kFileCount = 200;
constexpr qint64 kTotalBytes = 100LL * 1024 * 1024;
constexpr qint64 kBigBytes = 500LL * 1024 * 1024;
constexpr int kRounds = 3;
// The HTTPS rounds take a second or two each, most of it the sync that
// both sides end with, whose time swings most: more of them.
constexpr int kHttpsRounds = 5;
constexpr int kSmallFileCount = 2000;
constexpr qint64 kSmallFileBytes = 2048;

struct RunResult
{
    bool ok = false;
    double seconds = 0;
    double peakMb = 0;
};

// Runs a program with its output thrown away; wall time and peak memory.
RunResult run(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakMb = usage.ru_maxrss / 1024.0; // kilobytes on Linux
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Writes size random bytes to path; their SHA-256 as hex into *sha256.
bool writeRandomFile(const QString &path, qint64 size, std::mt19937_64 &random, QByteArray *sha256)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(static_cast<qsizetype>(std::min<qint64>(1 << 20, std::max<qint64>(size, 8))),
                     Qt::Uninitialized);
    for (qint64 written = 0; written < size;) {
        auto *words = reinterpret_cast<std::uint64_t *>(block.data());
        for (int i = 0; i < block.size() / 8; ++i)
            words[i] = random();
        const qint64 chunk = std::min<qint64>(block.size(), size - written);
        if (file.write(block.constData(), chunk) != chunk)
            return false;
        hash.addData(QByteArrayView(block.constData(), chunk));
        written += chunk;
    }
    *sha256 = hash.result().toHex();
    return true;
}

// Writes count random files of size bytes each ("PREFIXnnnn.bin") and the
// revision file that lists them with their SHA-256 and size.
bool writeServerFolder(const QString &folder, const char *prefix, int count, qint64 size,
                       std::mt19937_64 &random)
{
    QFile relInfo(folder + "/RelInfoRemote.rel");
    if (!QDir().mkpath(folder) || !relInfo.open(QIODevice::WriteOnly))
        return false;
    for (int i = 1; i <= count; ++i) {
        const QString name = QString::asprintf("%s%04d.bin", prefix, i);
        QByteArray sha256;
        if (!writeRandomFile(folder + "/" + name, size, random, &sha256))
            return false;
        relInfo.write(name.toLatin1() + "; 1.00.00; " + sha256 + "; " + QByteArray::number(size)
                      + "\r\n");
    }
    return true;
}

RunResult syncFolder(const QString &folder)
{
    return run({"/usr/bin/sync", "-f", folder.toStdString()});
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_update: %s\n", what);
    return 1;
}

// The root-walk figures; false when they could not be measured.
bool reportRootWalk(const QDir &root)
{
    const RootWalkTiming walk = timeRootWalk(root.filePath("roots"));
    if (!walk.ok) {
        fail("the check that walks the roots failed");
        return false;
    }
    std::printf("root walk ms (10 roots): %.1f\n", walk.walkMs);
    std::printf("check without a chain ms: %.1f, walk/plain ratio: %.2f\n", walk.plainMs,
                walk.walkMs / walk.plainMs);
    return true;
}

// The hostile-server figures; false when one could not be measured.
bool reportHostile(const QDir &root)
{
    const PageTiming pages = timeHostilePages();
    std::printf("worst hostile page ms: %.1f (%s)\n", pages.worstMs, qPrintable(pages.worstPage));
    std::printf("ordinary page ms: %.1f, worst hostile/ordinary ratio: %.2f\n", pages.referenceMs,
                pages.worstMs / std::max(pages.referenceMs, 0.001));
    constexpr qint64 kListedBytes = 10LL * 1024 * 1024;
    const double stoppedMb = endlessFileStoppedAfterMb(root.filePath("endless"), kListedBytes);
    if (stoppedMb < 0)
        return fail("the endless file was not stopped") == 0;
    std::printf("endless file stopped after MB: %.2f (listed %lld MB, ratio %.2f)\n", stoppedMb,
                kListedBytes / (1024 * 1024), stoppedMb / (kListedBytes / (1024.0 * 1024.0)));
    return true;
}

// Runs kHttpsRounds rounds of measured and reference, taken alternately, and
// prints the ratio of their best times; a failed round (negative seconds)
// of moravel-cli makes it "n/a".
void printRatio(const char *name, const std::function<double()> &measured,
                const std::function<double()> &reference, const char *detail)
{
    double best = -1;
    double bestReference = -1;
    for (int round = 0; round < kHttpsRounds && (round == 0 || best > 0); ++round) {
        const double seconds = measured();
        const double referenceSeconds = reference();
        best = seconds < 0 ? -1 : round == 0 ? seconds : std::min(best, seconds);
        bestReference = round == 0 ? referenceSeconds : std::min(bestReference, referenceSeconds);
    }
    if (best < 0 || bestReference <= 0)
        std::printf("%s: n/a (moravel-cli did not update over https)\n", name);
    else
        std::printf("%s: %.2f (%.3f vs %.3f s%s)\n", name, best / bestReference, best,
                    bestReference, detail);
}

// The HTTPS figures against nginx serving root's "server" folder; a line
// that moravel-cli cannot be measured for says "n/a".
void reportHttps(const QDir &root, const std::string &publicKey)
{
    const QString certificates = root.filePath("certificates");
    QString error = WebTestServer::unavailable();
    root.mkpath("certificates");
    if (error.isEmpty())
        WebTestServer::makeCertificates(certificates, error);
    const std::unique_ptr<WebTestServer> nginx =
        WebTestServer::nginx(root.filePath("server"), certificates);
    if (!error.isEmpty() || !nginx->start()) {
        std::printf("https: not measured: %s\n", qPrintable(error + nginx->errorText()));
        return;
    }
    const std::string ca = WebTestServer::caFile(certificates).toStdString();
    const QByteArray ftpHost = qgetenv("MORAVEL_FTP_HOST");
    auto update = [&](const WebTestServer &server, const char *serverPath, const QString &program,
                      bool sign) {
        qputenv("MORAVEL_FTP_HOST", server.url().toLocal8Bit());
        root.mkpath(program);
        std::vector<std::string> command{MORAVEL_CLI,           "update",    serverPath,
                                         program.toStdString(), "--ca-file", ca};
        if (sign)
            command.insert(command.end(), {"--public-key", publicKey});
        const RunResult done = run(command);
        return done.ok && !QDir(program).entryList({"*.bin"}, QDir::Files).isEmpty() ? done.seconds
                                                                                     : -1.0;
    };
    // curl over the same HTTPS and HTTP/2 into a fresh folder, then its sync.
    auto curl = [&](const std::vector<std::string> &options, const std::string &files,
                    const QString &folder, bool sync) {
        root.mkpath(folder);
        std::vector<std::string> command{"/usr/bin/curl", "-s",       "-S", "--fail",
                                         "--http2",       "--cacert", ca};
        command.insert(command.end(), options.begin(), options.end());
        command.insert(
            command.end(),
            {nginx->url().toStdString() + files, "-o", folder.toStdString() + "/#1.bin"});
        const RunResult fetched = run(command);
        const RunResult synced = sync ? syncFolder(folder) : RunResult{true, 0, 0};
        return fetched.ok && synced.ok ? fetched.seconds + synced.seconds : -1.0;
    };
    auto cleaned = [&](double seconds, const QString &folder) {
        QDir(root.filePath(folder)).removeRecursively();
        return seconds;
    };

    const std::string bench =
        "/Bench/Updates/f[0001-" + QString::asprintf("%04d", kFileCount).toStdString() + "].bin";
    printRatio(
        "https update/(curl+sync) ratio",
        [&] { return cleaned(update(*nginx, "Bench/Updates", root.filePath("h"), true), "h"); },
        [&] { return cleaned(curl({}, bench, root.filePath("c"), true), "c"); },
        ", 200 files, 100 MB");

    const std::string small = "/Small/Updates/s[0001-" + std::to_string(kSmallFileCount) + "].bin";
    printRatio(
        "https small files/(curl --parallel) ratio",
        [&] { return cleaned(update(*nginx, "Small/Updates", root.filePath("h"), false), "h"); },
        [&] {
            return cleaned(
                curl({"--parallel", "--parallel-max", "4"}, small, root.filePath("c"), false), "c");
        },
        ", 2,000 files of 2 KB");

    // A check after an update: the second one finds nothing new.
    const QString program = root.filePath("checked");
    const double checked = update(*nginx, "Bench/Updates", program, true);
    const auto check = [&] {
        return run({MORAVEL_CLI, "check", "Bench/Updates", program.toStdString(), "--ca-file", ca,
                    "--public-key", publicKey})
            .ok;
    };
    const bool firstCheck = checked >= 0 && check();
    nginx->clearAnswers();
    if (firstCheck && check())
        std::printf("unchanged check bytes: %lld (%s)\n", nginx->bodyBytesSent(),
                    qPrintable(nginx->answers().join(", ")));
    else
        std::printf("unchanged check bytes: n/a (moravel-cli did not check over https)\n");
    // An update after that check: its list is unchanged, and the kept copy
    // is what it verifies.
    const int unchangedReads = revisionFileReads(
        program, [&] { return update(*nginx, "Bench/Updates", program, true) >= 0; });
    std::printf("verified list reads, unchanged list over https: %d\n", unchangedReads);
    QDir(program).removeRecursively();

    // One 40 MB file through a forwarder that cuts every connection after 8 MB.
    constexpr qint64 kResumedBytes = 40LL * 1024 * 1024;
    std::mt19937_64 random(7);
    const std::unique_ptr<WebTestServer> cutter = WebTestServer::cutter(*nginx, 8LL * 1024 * 1024);
    if (writeServerFolder(root.filePath("server/Resume/Updates"), "r", 1, kResumedBytes, random)
        && cutter->start()
        && update(*cutter, "Resume/Updates", root.filePath("resumed"), false) >= 0)
        std::printf("resumed bytes ratio: %.3f (%lld bytes through the forwarder for %lld)\n",
                    double(cutter->bodyBytesSent()) / kResumedBytes, cutter->bodyBytesSent(),
                    kResumedBytes);
    else
        std::printf(
            "resumed bytes ratio: n/a (moravel-cli did not update through the cutting forwarder)\n");
    qputenv("MORAVEL_FTP_HOST", ftpHost);
}

// The clock both stand-in programs of the rollback write, in nanoseconds.
qint64 readNanoseconds(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : -1;
}

// The "file://" figures: the 200 files of updates, and the rollback.
bool reportStick(const QDir &root, const QString &updates, const std::string &publicKey)
{
    const QByteArray ftpHost = qgetenv("MORAVEL_FTP_HOST");
    qputenv("MORAVEL_FTP_HOST", ("file://" + root.filePath("server")).toLocal8Bit());
    std::vector<std::string> files;
    for (const QString &name : QDir(updates).entryList({"*.bin"}, QDir::Files))
        files.push_back(QDir(updates).filePath(name).toStdString());
    double best = -1;
    double bestCopy = -1;
    for (int round = 0; round < kRounds; ++round) {
        const QString program = root.filePath("stick-program");
        const QString copied = root.filePath("stick-copy");
        root.mkpath(program);
        root.mkpath(copied);
        const RunResult update = run({MORAVEL_CLI, "update", "Bench/Updates", program.toStdString(),
                                      "--public-key", publicKey});
        std::vector<std::string> cp{"/bin/cp"};
        cp.insert(cp.end(), files.begin(), files.end());
        cp.push_back(copied.toStdString());
        const RunResult copy = run(cp);
        const RunResult synced = syncFolder(copied);
        if (!update.ok || !copy.ok || !synced.ok
            || QDir(program).entryList({"*.bin"}, QDir::Files).size() != kFileCount)
            return fail("the stick round failed") == 0;
        const double copySeconds = copy.seconds + synced.seconds;
        best = round == 0 ? update.seconds : std::min(best, update.seconds);
        bestCopy = round == 0 ? copySeconds : std::min(bestCopy, copySeconds);
        QDir(program).removeRecursively();
        QDir(copied).removeRecursively();
    }
    std::printf("stick update/(cp + sync) ratio: %.2f (%.3f vs %.3f s, 200 files, 100 MB)\n",
                best / bestCopy, best, bestCopy);

    // A release whose program exits with status 3 at once.
    double bestRollback = -1;
    for (int round = 0; round < kRounds; ++round) {
        const QString program = root.filePath("trial-program");
        const QString offered = root.filePath("server/Trial/Updates");
        root.mkpath(program);
        root.mkpath(offered);
        const QString ended = root.filePath("ended");
        const QString began = root.filePath("began");
        QFile::remove(ended);
        QFile::remove(began);
        auto script = [](const QString &path, const QByteArray &body) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + body + "\n") > 0
                && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        };
        auto record = [](const QString &path, const QByteArray &lines) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size();
        };
        if (!script(program + "/Spelmar", "date +%s%N > " + began.toUtf8())
            || !record(program + "/RelInfoLocal.rel", "Spelmar; 1.00.00\r\n")
            || !script(offered + "/Spelmar", "date +%s%N > " + ended.toUtf8() + "; exit 3")
            || !record(offered + "/RelInfoRemote.rel", "Spelmar; 2.00.00\r\n"))
            return fail("cannot write the trial's programs") == 0;
        run({MORAVEL_CLI, "update", "Trial/Updates", program.toStdString(), "--start", "Spelmar"});
        for (int wait = 0; wait < 500 && readNanoseconds(began) <= 0; ++wait)
            QThread::msleep(10);
        const qint64 from = readNanoseconds(ended);
        const qint64 to = readNanoseconds(began);
        if (from <= 0 || to <= 0)
            return fail("the failed release did not give way") == 0;
        const double ms = (to - from) / 1e6;
        bestRollback = round == 0 ? ms : std::min(bestRollback, ms);
        QDir(program).removeRecursively();
        QDir(offered).removeRecursively();
    }
    std::printf("rollback after a failed start ms: %.1f\n", bestRollback);
    qputenv("MORAVEL_FTP_HOST", ftpHost);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir work;
    if (!work.isValid())
        return fail("no temporary folder");
    QDir root(work.path());
    root.mkpath("server/Bench/Updates");
    root.mkpath("server/Big/Updates");
    root.mkpath("config");
    qputenv("XDG_CONFIG_HOME", root.filePath("config").toLocal8Bit());
    // --hostile: only the hostile-server figures.
    if (app.arguments().contains("--hostile"))
        return reportHostile(root) ? 0 : 1;
    // --roots: only the root-walk figures.
    if (app.arguments().contains("--roots"))
        return reportRootWalk(root) ? 0 : 1;
    // --delta: only the figures of updates that fetch what changed.
    if (app.arguments().contains("--delta")) {
        reportDelta(root);
        return 0;
    }

    std::mt19937_64 random(20140811);
    const QString updates = root.filePath("server/Bench/Updates");
    const QString small = root.filePath("server/Small/Updates");
    if (!writeServerFolder(updates, "f", kFileCount, kTotalBytes / kFileCount, random)
        || !writeServerFolder(small, "s", kSmallFileCount, kSmallFileBytes, random))
        return fail("cannot write the server files");
    // Signed, with every file's SHA-256, as a careful publisher serves it.
    const std::string publicKey = publishSigned(updates, root.filePath("keys")).toStdString();
    if (publicKey.empty())
        return fail("cannot publish the files signed");

    // --stick: only the "file://" figures.
    if (app.arguments().contains("--stick"))
        return reportStick(root, updates, publicKey) ? 0 : 1;
    // --https: only the HTTPS figures.
    if (app.arguments().contains("--https")) {
        reportHttps(root, publicKey);
        return 0;
    }

    FtpTestServer server(root.filePath("server"));
    if (!server.start())
        return fail(qPrintable(server.errorText()));
    const std::string host = server.host().toStdString();
    qputenv("MORAVEL_FTP_HOST", server.host().toLocal8Bit());
    const bool passive = qgetenv("MORAVEL_FTP_PASSIVE") == "1";

    double bestUpdate = 0;
    int listReads = -1;
    double bestCurl = 0;
    double bestCurlSync = 0;
    for (int round = 0; round < kRounds; ++round) {
        const QString program = root.filePath(QString("program%1").arg(round));
        const QString fetched = root.filePath(QString("curl%1").arg(round));
        root.mkpath(program);
        root.mkpath(fetched);

        RunResult update;
        const int reads = revisionFileReads(program, [&] {
            update = run({MORAVEL_CLI, "update", "Bench/Updates", program.toStdString(),
                          "--public-key", publicKey});
            return update.ok;
        });
        if (!update.ok)
            return fail("moravel-cli update failed");
        if (round == 0)
            listReads = reads;
        std::vector<std::string> curl{"/usr/bin/curl", "-s", "-S",
                                      "--fail",        "-u", "vaskolt:tovrask27"};
        if (!passive) {
            curl.push_back("-P");
            curl.push_back("-");
        }
        curl.push_back("ftp://" + host + "/Bench/Updates/f[0001-"
                       + QString::asprintf("%04d", kFileCount).toStdString() + "].bin");
        curl.push_back("-o");
        curl.push_back(fetched.toStdString() + "/f#1.bin");
        const RunResult fetch = run(curl);
        const RunResult synced = syncFolder(fetched);
        if (!fetch.ok || !synced.ok)
            return fail("curl failed");
        if (QDir(program).entryList(QDir::Files).size() < kFileCount
            || QDir(fetched).entryList(QDir::Files).size() != kFileCount)
            return fail("files missing after a round");

        const double curlSync = fetch.seconds + synced.seconds;
        bestUpdate = round == 0 ? update.seconds : std::min(bestUpdate, update.seconds);
        bestCurl = round == 0 ? fetch.seconds : std::min(bestCurl, fetch.seconds);
        bestCurlSync = round == 0 ? curlSync : std::min(bestCurlSync, curlSync);
        QDir(program).removeRecursively();
        QDir(fetched).removeRecursively();
    }

    std::printf("files: %d, %lld MB in all, signed, with SHA-256 fields, %s data connections\n",
                kFileCount, kTotalBytes / (1024 * 1024), passive ? "passive" : "active");
    std::printf("moravel-cli update: %.3f s\n", bestUpdate);
    std::printf("curl (one invocation): %.3f s, then sync -f: %.3f s\n", bestCurl, bestCurlSync);
    std::printf("update/curl ratio: %.2f\n", bestUpdate / bestCurl);
    std::printf("update/(curl+sync) ratio: %.2f\n", bestUpdate / bestCurlSync);
    std::printf("verified list reads: %d (RelInfoRemote.rel opened for reading in one signed "
                "update)\n",
                listReads);

    // Many small files: the cost per file, against lftp's mirror.
    const QString lftp = QStandardPaths::findExecutable("lftp");
    if (lftp.isEmpty()) {
        std::printf("small files: lftp is not installed, not measured\n");
    } else {
        double bestSmall = 0;
        double bestLftp = 0;
        double bestLftpSync = 0;
        for (int round = 0; round < kRounds; ++round) {
            const QString program = root.filePath(QString("small%1").arg(round));
            const QString mirrored = root.filePath(QString("lftp%1").arg(round));
            root.mkpath(program);
            const RunResult update =
                run({MORAVEL_CLI, "update", "Small/Updates", program.toStdString()});
            const std::string script =
                std::string("set cmd:interactive false; set ftp:passive-mode ")
                + (passive ? "true" : "false") + "; open -u vaskolt,tovrask27 ftp://" + host
                + "; mirror Small/Updates " + mirrored.toStdString();
            const RunResult mirror = run({lftp.toStdString(), "-c", script});
            const RunResult synced = syncFolder(mirrored);
            if (!update.ok || !mirror.ok || !synced.ok
                || QDir(program).entryList(QDir::Files).size() < kSmallFileCount
                || QDir(mirrored).entryList(QDir::Files).size() != kSmallFileCount + 1)
                return fail("the small-file round failed");
            bestSmall = round == 0 ? update.seconds : std::min(bestSmall, update.seconds);
            bestLftp = round == 0 ? mirror.seconds : std::min(bestLftp, mirror.seconds);
            bestLftpSync = round == 0 ? mirror.seconds + synced.seconds
                                      : std::min(bestLftpSync, mirror.seconds + synced.seconds);
            QDir(program).removeRecursively();
            QDir(mirrored).removeRecursively();
        }
        std::printf("small files: %d of %lld bytes\n", kSmallFileCount, kSmallFileBytes);
        std::printf("moravel-cli update: %.3f s\n", bestSmall);
        std::printf("lftp mirror: %.3f s, then sync -f: %.3f s\n", bestLftp, bestLftpSync);
        std::printf("small files/lftp ratio: %.2f\n", bestSmall / bestLftp);
        std::printf("small files/(lftp+sync) ratio: %.2f\n", bestSmall / bestLftpSync);
    }

    if (!reportStick(root, updates, publicKey))
        return 1;
    reportHttps(root, publicKey);
    reportDelta(root);
    QDir(root.filePath("delta-server")).removeRecursively();
    QDir(updates).removeRecursively();
    QDir(small).removeRecursively();

    const QString big = root.filePath("server/Big/Updates");
    if (!writeServerFolder(big, "Big", 1, kBigBytes, random))
        return fail("cannot write the large file");
    const QString program = root.filePath("program-big");
    root.mkpath(program);
    const RunResult large = run({MORAVEL_CLI, "update", "Big/Updates", program.toStdString()});
    if (!large.ok || QFileInfo(program + "/Big0001.bin").size() != kBigBytes)
        return fail("the large download failed");
    std::printf("one %lld MB file: %.3f s\n", kBigBytes / (1024 * 1024), large.seconds);
    std::printf("peak RSS MB: %.1f\n", large.peakMb);

    const VerifyTiming verify = timeVerify(root.filePath("verify"), 100000);
    if (!verify.ok)
        return fail("the signed revision file did not verify");
    std::printf("read ms (100k records): %.1f\n", verify.readMs);
    std::printf("verify ms (100k records): %.1f\n", verify.verifyMs);

    if (!reportRootWalk(root))
        return 1;
    return reportHostile(root) ? 0 : 1;
}
