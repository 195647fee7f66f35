// Revision files of N records (default 100000; local names differ from the
// server's in letter case, every second server file is newer). Times
// ReadRemoteRelInfo + ReadLocalRelInfo, SelectNewerFiles and
// WriteLocalRelInfo, each against a reference measured in the same run:
// reading both files line by line with std::getline into vectors of
// strings (the least any reader has to do).
//
// Run: bench_relinfo [records]
//
// Huge files of short records: bench_relinfo --huge [records [line bytes]]
// (default 12600000 records of 5 bytes, "a;1" CR LF: 60 MB a file) writes a
// server and a local file of that shape and does, once each, what an update
// check does with them (read both, drop unusable records, select the newer
// ones), printing the peak resident memory against the file size and the
// time against "LC_ALL=C sort -f" over both files, run in the same process. Run the
// mode alone: the peak counts the whole process.

#include "revision/relinfo.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

template <typename Work>
double bestOf(int runs, const Work &work)
{
    double best = 1e300;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        work();
        best = std::min(best, double(clock.nsecsElapsed()) / 1e6);
    }
    return best;
}

std::size_t plainRead(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines.size();
}

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
}

// Writes count lines of lineBytes bytes each (at least 5: name, ";",
// revision digit, CR LF); names are letters, digits and "_" of the length
// that is left. The local file names the same files in upper case; every
// second server revision is newer.
void writeHugePair(const std::string &remotePath, const std::string &localPath, long count,
                   int lineBytes)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
    const int nameBytes = std::max(1, lineBytes - 4);
    std::string remoteText;
    std::string localText;
    remoteText.reserve(1 << 20);
    localText.reserve(1 << 20);
    std::ofstream remote(remotePath, std::ios::binary);
    std::ofstream local(localPath, std::ios::binary);
    for (long i = 0; i < count; ++i) {
        std::string name(static_cast<std::size_t>(nameBytes), 'a');
        long rest = i;
        for (int k = nameBytes - 1; k >= 0 && rest > 0; --k, rest /= 37)
            name[static_cast<std::size_t>(k)] = alphabet[rest % 37];
        remoteText += name;
        remoteText += i % 2 ? ";2\r\n" : ";1\r\n";
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        localText += name;
        localText += ";1\r\n";
        if (remoteText.size() > (1 << 20) - 64) {
            remote << remoteText;
            local << localText;
            remoteText.clear();
            localText.clear();
        }
    }
    remote << remoteText;
    local << localText;
}

int hugeFiles(long count, int lineBytes)
{
    QTemporaryDir dir;
    const std::string remotePath = dir.filePath("RelInfoRemote.rel").toStdString();
    const std::string localPath = dir.filePath("RelInfoLocal.rel").toStdString();
    writeHugePair(remotePath, localPath, count, lineBytes);
    const double fileMb =
        double(QFileInfo(QString::fromStdString(remotePath)).size()) / (1024.0 * 1024.0);

    QElapsedTimer clock;
    clock.start();
    // Byte-wise collation (LC_ALL=C): the fastest sort, and the order the
    // engine compares names in (ASCII case folding).
    QProcess sort;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    sort.setProcessEnvironment(environment);
    sort.setStandardOutputFile(QProcess::nullDevice());
    sort.start("sort",
               {"-f", QString::fromStdString(remotePath), QString::fromStdString(localPath)});
    if (!sort.waitForFinished(-1) || sort.exitCode() != 0) {
        std::fprintf(stderr, "bench_relinfo: sort -f failed\n");
        return 1;
    }
    const double sortMs = double(clock.nsecsElapsed()) / 1e6;

    const double baseMb = peakRssMb();
    clock.restart();
    std::size_t kept = 0;
    {
        RelInfoList remote;
        RelInfoList local;
        ReadRemoteRelInfo(remote, remotePath);
        const std::size_t read = remote.size();
        dropUnusableRecords(remote);
        const std::size_t dropped = read - remote.size();
        ReadLocalRelInfo(local, localPath);
        SelectNewerFiles(local, remote, false);
        kept = remote.size();
        std::printf("records per file: %ld (%.1f MB a file); after dropping %zu, %zu newer\n",
                    count, fileMb, dropped, kept);
    }
    const double compareMs = double(clock.nsecsElapsed()) / 1e6;
    const double peakMb = peakRssMb();

    std::printf("sort -f, both files:            %10.1f ms\n", sortMs);
    std::printf("read + compare, both files:     %10.1f ms  (%.2fx sort -f; target <= 2)\n",
                compareMs, compareMs / sortMs);
    std::printf(
        "peak RSS:                       %10.1f MB  (%.1f MB before reading; %.2fx the file size; target <= 4)\n",
        peakMb, baseMb, peakMb / fileMb);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--huge")
        return hugeFiles(argc > 2 ? std::max(1L, std::atol(argv[2])) : 12600000L,
                         argc > 3 ? std::max(5, std::atoi(argv[3])) : 5);
    const long count = argc > 1 ? std::max(1L, std::atol(argv[1])) : 100000L;
    QTemporaryDir dir;
    const std::string remotePath = dir.filePath("RelInfoRemote.rel").toStdString();
    const std::string localPath = dir.filePath("RelInfoLocal.rel").toStdString();
    {
        std::ofstream remote(remotePath, std::ios::binary);
        std::ofstream local(localPath, std::ios::binary);
        for (long i = 0; i < count; ++i) {
            const std::string name = "folder\\File" + std::to_string(i) + ".dll";
            std::string upper = name;
            std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
            remote << name << "; 1.00.0" << (i % 2 + 1) << "\r\n";
            local << upper << "; 1.00.01\r\n";
        }
    }

    const int runs = 5;
    std::size_t sink = 0;
    const double reference =
        bestOf(runs, [&] { sink += plainRead(remotePath) + plainRead(localPath); });
    const double read = bestOf(runs, [&] {
        RelInfoList remote;
        RelInfoList local;
        ReadRemoteRelInfo(remote, remotePath);
        ReadLocalRelInfo(local, localPath);
        sink += remote.size() + local.size();
    });
    RelInfoList remote;
    RelInfoList local;
    ReadRemoteRelInfo(remote, remotePath);
    ReadLocalRelInfo(local, localPath);
    const double select = bestOf(runs, [&] {
        RelInfoList candidates = remote;
        SelectNewerFiles(local, candidates, false);
        sink += candidates.size();
    });
    SelectNewerFiles(local, remote, false);
    for (std::size_t i = 0; i < remote.size(); ++i)
        remote.setTransferred(i);
    const double write = bestOf(runs, [&] {
        RelInfoList merged = local;
        WriteLocalRelInfo(merged, remote, localPath);
        sink += merged.size();
    });

    std::printf("records per file:            %ld\n", count);
    std::printf("reference (getline, 2 files): %8.2f ms\n", reference);
    std::printf("read both files:              %8.2f ms  (%.2fx reference)\n", read,
                read / reference);
    std::printf("select newer files:           %8.2f ms  (%.2fx reference)\n", select,
                select / reference);
    std::printf("merge and rewrite local file: %8.2f ms  (%.2fx reference)\n", write,
                write / reference);
    return sink == 0 ? 1 : 0;
}
