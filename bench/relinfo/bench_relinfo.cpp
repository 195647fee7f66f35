// Revision files of N records (default 100000; local names differ from the
// server's in letter case, every second server file is newer). Times
// ReadRemoteRelInfo + ReadLocalRelInfo, SelectNewerFiles and
// WriteLocalRelInfo, each against a reference measured in the same run:
// reading both files line by line with std::getline into vectors of
// strings (the least any reader has to do).
//
// Run: bench_relinfo [records]

#include "relinfo.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

template<typename Work>
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

} // namespace

int main(int argc, char **argv)
{
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
    const double reference = bestOf(runs, [&] { sink += plainRead(remotePath) + plainRead(localPath); });
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
    std::printf("read both files:              %8.2f ms  (%.2fx reference)\n", read, read / reference);
    std::printf("select newer files:           %8.2f ms  (%.2fx reference)\n", select, select / reference);
    std::printf("merge and rewrite local file: %8.2f ms  (%.2fx reference)\n", write, write / reference);
    return sink == 0 ? 1 : 0;
}
