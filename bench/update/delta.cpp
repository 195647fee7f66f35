#include "delta.h"

#include "signedrelease.h"
#include "webserver.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <map>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr qint64 kFileBytes = 48LL * 1024 * 1024;
// The link figure uses a smaller file, so that a whole-file round takes
// seconds, not a minute.
constexpr qint64 kLinkFileBytes = 8LL * 1024 * 1024;
constexpr int kLinkBytesPerSecond = 10 * 1000 * 1000 / 8;
constexpr qint64 kHugeBytes = 1024LL * 1024 * 1024;
constexpr int kRounds = 3;

struct Run
{
    bool ok = false;
    double seconds = 0;
    double peakMb = 0;
};

Run runQuietly(const std::vector<std::string> &arguments, const QString &folder = QString())
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string here = folder.toStdString();
    if (!here.empty())
        posix_spawn_file_actions_addchdir_np(&actions, here.c_str());
    Run result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage = {};
    if (!spawned || wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakMb = usage.ru_maxrss / 1024.0;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

QByteArray randomBytes(qint64 size, std::mt19937_64 &random)
{
    QByteArray bytes(size, Qt::Uninitialized);
    auto *words = reinterpret_cast<std::uint64_t *>(bytes.data());
    for (qint64 i = 0; i < size / 8; ++i)
        words[i] = random();
    return bytes;
}

// A release of old: blocks of blockBytes rewritten, evenly spread, and
// 1,000 bytes inserted in the middle.
QByteArray released(const QByteArray &old, int blocks, qint64 blockBytes, std::mt19937_64 &random)
{
    QByteArray bytes = old;
    for (int i = 0; i < blocks; ++i)
        bytes.replace(i * (old.size() / blocks) + 4097, blockBytes,
                      randomBytes(blockBytes, random));
    bytes.insert(bytes.size() / 2 + 11, randomBytes(1000, random));
    return bytes;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A sparse file of size bytes: zeros but for a MiB of random bytes every
// 32 MiB, of which changed KiB (at 64 KiB into it) differ by seed.
bool writeSparse(const QString &path, qint64 size, int changedKb, unsigned seed)
{
    QDir().mkpath(QFileInfo(path).path());
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, size) != 0)
        return false;
    std::mt19937_64 same(5);
    std::mt19937_64 differing(seed);
    bool ok = true;
    for (qint64 at = 0; ok && at + (1 << 20) <= size; at += 32LL << 20) {
        QByteArray chunk = randomBytes(1 << 20, same);
        chunk.replace(64 * 1024, changedKb * 1024, randomBytes(changedKb * 1024, differing));
        ok = ::pwrite(fd, chunk.constData(), chunk.size(), at) == chunk.size();
    }
    return ::close(fd) == 0 && ok;
}

// runQuietly's peak memory counts this process's too, which a spawned
// child shares until it starts its program: the program's own peak comes
// from a small python3 that forks it and reports its children's.
Run runWithOwnPeak(std::vector<std::string> arguments, const QString &peakFile)
{
    static const char *const kScript =
        "import os, resource, sys\n"
        "pid = os.fork()\n"
        "if pid == 0:\n"
        "    os.execv(sys.argv[2], sys.argv[2:])\n"
        "status = os.waitpid(pid, 0)[1]\n"
        "open(sys.argv[1], 'w').write(str(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))\n"
        "sys.exit(os.waitstatus_to_exitcode(status))\n";
    arguments.insert(arguments.begin(),
                     {"/usr/bin/python3", "-c", kScript, peakFile.toStdString()});
    Run result = runQuietly(arguments);
    QFile peak(peakFile);
    result.peakMb = peak.open(QIODevice::ReadOnly) ? peak.readAll().toDouble() / 1024.0 : -1;
    return result;
}

// Body bytes of the answers for paths that hold name.
qint64 bytesFor(const WebTestServer &server, const QString &name)
{
    // nginx logs an answer once it is sent.
    QThread::msleep(300);
    qint64 bytes = 0;
    for (const QString &line : server.answers())
        if (line.contains(name))
            bytes += line.section(' ', 1, 1).toLongLong();
    return bytes;
}

} // namespace

void reportDelta(const QDir &root)
{
    const QString certificates = root.filePath("delta-certs");
    QString error = WebTestServer::unavailable();
    root.mkpath("delta-certs");
    if (error.isEmpty())
        WebTestServer::makeCertificates(certificates, error);
    const QString serverRoot = root.filePath("delta-server");
    const QString folder = serverRoot + "/Delta/Updates";
    const QString linkFolder = serverRoot + "/Link/Updates";
    const QString hugeFolder = serverRoot + "/Huge/Updates";
    std::mt19937_64 random(48);
    const QByteArray old = randomBytes(kFileBytes, random);
    const QByteArray newer = released(old, 8, 64 * 1024, random);
    const QByteArray linkOld = randomBytes(kLinkFileBytes, random);
    const QByteArray linkNewer = released(linkOld, 4, 16 * 1024, random);
    const QString oldCopy = root.filePath("delta-old/big.bin");
    const QString linkOldCopy = root.filePath("delta-old/link.bin");
    const QString hugeOldCopy = root.filePath("delta-old/huge.bin");
    if (error.isEmpty()
        && !(writeBytes(oldCopy, old) && writeBytes(folder + "/big.bin", newer)
             && writeBytes(linkOldCopy, linkOld) && writeBytes(linkFolder + "/link.bin", linkNewer)
             && writeSparse(hugeOldCopy, kHugeBytes, 0, 1)
             && writeSparse(hugeFolder + "/huge.bin", kHugeBytes, 64, 2)))
        error = "cannot write the files";
    // A key of its own for each folder, named after it.
    std::map<QString, QString> keys;
    for (const QString &published : {folder, linkFolder, hugeFolder}) {
        const QString path = QDir(serverRoot).relativeFilePath(published);
        if (error.isEmpty()
            && (keys[path] = publishSigned(published, root.filePath("delta-keys/" + path)))
                   .isEmpty())
            error = "cannot publish " + published;
    }
    const std::unique_ptr<WebTestServer> nginx = WebTestServer::nginx(serverRoot, certificates);
    if (error.isEmpty() && !nginx->start())
        error = nginx->errorText();
    if (!error.isEmpty()) {
        std::printf("delta: not measured: %s\n", qPrintable(error));
        return;
    }
    const std::string ca = WebTestServer::caFile(certificates).toStdString();
    const QByteArray ftpHost = qgetenv("MORAVEL_FTP_HOST");

    // One update into a fresh program folder, with the old copy installed
    // (a delta) or without (the whole file).
    auto update = [&](const WebTestServer &server, const char *path, const QString &name,
                      const QString &oldFile, qint64 size, bool withOld, bool peak = false) {
        const QString program = root.filePath("delta-program");
        QDir(program).removeRecursively();
        root.mkpath(program);
        if (withOld
            && !(QFile::copy(oldFile, program + "/" + name)
                 && writeBytes(program + "/RelInfoLocal.rel", name.toLatin1() + "; 0.00.01\r\n")))
            return Run();
        qputenv("MORAVEL_FTP_HOST", server.url().toLocal8Bit());
        const std::vector<std::string> command{
            MORAVEL_CLI, "update", path,           program.toStdString(),
            "--ca-file", ca,       "--public-key", keys[path].toStdString()};
        Run done =
            peak ? runWithOwnPeak(command, root.filePath("delta-peak")) : runQuietly(command);

        done.ok = done.ok && QFileInfo(program + "/" + name).size() == size;
        QDir(program).removeRecursively();
        return done;
    };

    nginx->clearAnswers();
    const Run first = update(*nginx, "Delta/Updates", "big.bin", oldCopy, newer.size(), true);
    const qint64 ours = bytesFor(*nginx, "big.bin");
    if (!first.ok)
        std::printf("delta bytes ratio: n/a (moravel-cli did not update)\n");
    else
        std::printf(
            "delta bytes ratio: %.4f (%lld body bytes from nginx for %lld, index included)\n",
            double(ours) / newer.size(), ours, qint64(newer.size()));

    // Debian's zsync over plain HTTP, with zsyncmake's index of the same file.
    const QString zsync = QStandardPaths::findExecutable("zsync");
    const QString zsyncmake = QStandardPaths::findExecutable("zsyncmake");
    const std::unique_ptr<WebTestServer> plain = WebTestServer::nginx(serverRoot, QString());
    const QString zsyncWork = root.filePath("delta-zsync");
    root.mkpath("delta-zsync");
    if (zsync.isEmpty() || zsyncmake.isEmpty() || !first.ok || !plain->start()
        || !runQuietly({zsyncmake.toStdString(), "-b", "2048", "-u", "big.bin", "-o",
                        (folder + "/big.bin.zsm").toStdString(),
                        (folder + "/big.bin").toStdString()})
                .ok) {
        std::printf("delta vs zsync bytes ratio: n/a (zsync, zsyncmake or plain nginx missing)\n");
    } else {
        plain->clearAnswers();
        const Run theirs = runQuietly({zsync.toStdString(), "-q", "-i", oldCopy.toStdString(), "-o",
                                       (zsyncWork + "/big.bin").toStdString(),
                                       (plain->url() + "/Delta/Updates/big.bin.zsm").toStdString()},
                                      zsyncWork);
        const qint64 theirBytes = bytesFor(*plain, "big.bin");
        if (!theirs.ok || QFileInfo(zsyncWork + "/big.bin").size() != newer.size())
            std::printf("delta vs zsync bytes ratio: n/a (zsync failed)\n");
        else
            std::printf("delta vs zsync bytes ratio: %.2f (%lld vs %lld body bytes)\n",
                        double(ours) / theirBytes, ours, theirBytes);
    }

    // Times: the best of a few rounds each, taken alternately.
    auto timeRatio = [&](const char *figure, const WebTestServer &server, const char *path,
                         const QString &name, const QString &oldFile, qint64 size, int rounds,
                         const char *detail) {
        double best = -1;
        double bestWhole = -1;
        for (int round = 0; round < rounds; ++round) {
            const Run delta = update(server, path, name, oldFile, size, true);
            const Run whole = update(server, path, name, oldFile, size, false);
            if (!delta.ok || !whole.ok) {
                std::printf("%s: n/a (an update failed)\n", figure);
                return;
            }
            best = round == 0 ? delta.seconds : std::min(best, delta.seconds);
            bestWhole = round == 0 ? whole.seconds : std::min(bestWhole, whole.seconds);
        }
        std::printf("%s: %.3f (%.3f vs %.3f s%s)\n", figure, best / bestWhole, best, bestWhole,
                    detail);
    };
    timeRatio("delta time ratio on loopback", *nginx, "Delta/Updates", "big.bin", oldCopy,
              newer.size(), kRounds, ", 48 MiB, whole-file update of it as reference");
    const std::unique_ptr<WebTestServer> link =
        WebTestServer::cutter(*nginx, 0, {"--rate", QString::number(kLinkBytesPerSecond)});
    if (link->start())
        timeRatio("delta time ratio on a 10 Mbit/s link", *link, "Link/Updates", "link.bin",
                  linkOldCopy, linkNewer.size(), 2, ", an 8 MiB file with about 1 % changed");
    else
        std::printf("delta time ratio on a 10 Mbit/s link: n/a (%s)\n",
                    qPrintable(link->errorText()));

    nginx->clearAnswers();
    const Run huge =
        update(*nginx, "Huge/Updates", "huge.bin", hugeOldCopy, kHugeBytes, true, true);
    const qint64 hugeBytes = bytesFor(*nginx, "huge.bin");
    const Run hugeWhole =
        update(*nginx, "Huge/Updates", "huge.bin", hugeOldCopy, kHugeBytes, false, true);
    if (huge.ok && hugeWhole.ok)
        std::printf("delta peak RSS MB: %.1f (a 1024 MiB file, %lld body bytes fetched, %.1f s; "
                    "its whole-file update %.1f MB, %.1f s)\n",
                    huge.peakMb, hugeBytes, huge.seconds, hugeWhole.peakMb, hugeWhole.seconds);
    else
        std::printf("delta peak RSS MB: n/a (an update of the 1 GiB file failed)\n");
    qputenv("MORAVEL_FTP_HOST", ftpHost);
}
