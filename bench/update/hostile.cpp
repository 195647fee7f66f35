#include "hostile.h"

#include "explorer1.h"
#include "transfer/ftpfileclient.h"
#include "ftpserver.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "folder/transferbounds.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kPageRounds = 3;

QByteArray nested(const QByteArray &open, const QByteArray &close, int depth)
{
    return "<html><body>" + open.repeated(depth) + "deep" + close.repeated(depth)
        + "</body></html>";
}

double showMs(const QByteArray &page)
{
    std::vector<double> rounds;
    for (int round = 0; round < kPageRounds; ++round) {
        QWidget window;
        window.resize(800, 600);
        CExplorer1 viewer;
        viewer.create(&window);
        viewer.widget()->resize(800, 600);
        window.show();
        QElapsedTimer clock;
        clock.start();
        viewer.showPage(page);
        window.grab(); // laid out and drawn
        rounds.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

} // namespace

PageTiming timeHostilePages()
{
    const QByteArray oneWord =
        "<html><body>" + QByteArray(1024 * 1024 - 26, 'w') + "</body></html>";
    const QByteArray links = "<html><body>"
        + QByteArray("<a href=\"https://example.org/\">x</a> ").repeated(100000) + "</body></html>";
    const std::vector<std::pair<QString, QByteArray>> pages{
        {"3000 nested tables", nested("<table><tr><td>", "</td></tr></table>", 3000)},
        {"20000 nested lists", nested("<ul><li>", "</li></ul>", 20000)},
        {"20000 nested divs", nested("<div>", "</div>", 20000)},
        {"1 MiB of one word", oneWord},
        {"100,000 links", links},
        // At the limits, still shown as HTML.
        {"tables at the nesting limit", nested("<table><tr><td>", "</td></tr></table>", 24)},
        {"lists at the nesting limit", nested("<ul><li>", "</li></ul>", 24)},
        {"elements at the limit",
         "<html><body>" + QByteArray("<b>x</b> ").repeated(4990) + "</body></html>"},
        {"largest page of words",
         "<html><body>" + QByteArray("release notes ").repeated(9300) + "</body></html>"},
        {"largest page of the longest words",
         "<html><body>" + (QByteArray(256, 'w') + " ").repeated(508) + "</body></html>"},
    };
    PageTiming timing;
    for (const auto &[name, page] : pages) {
        const double ms = showMs(page);
        std::printf("  %s: %.1f ms\n", qPrintable(name), ms);
        if (ms > timing.worstMs) {
            timing.worstMs = ms;
            timing.worstPage = name;
        }
    }
    QByteArray ordinary = "<html><body><h1>Release 3.01.02</h1><ul>";
    for (int i = 0; i < 40; ++i)
        ordinary += "<li>Mended: item " + QByteArray::number(i)
            + " of the release, <b>see</b> "
              "<a href=\"https://example.org/\">the notes</a></li>";
    ordinary += "</ul><table><tr><td>a</td><td>b</td></tr></table></body></html>";
    timing.referenceMs = showMs(ordinary);
    return timing;
}

double endlessFileStoppedAfterMb(const QString &folder, qint64 listedBytes)
{
    const QString updates = folder + "/server/Endless/Updates";
    QDir().mkpath(updates);
    QDir().mkpath(folder + "/program");
    QFile data(updates + "/endless.bin");
    if (!data.open(QIODevice::WriteOnly) || !data.resize(listedBytes))
        return -1;
    data.close();
    QFile list(updates + "/RelInfoRemote.rel");
    if (!list.open(QIODevice::WriteOnly))
        return -1;
    list.write("endless.bin; 1.00.00; " + QByteArray(64, '0') + "; "
               + QByteArray::number(listedBytes) + "\r\n");
    list.close();

    FtpTestServer server(folder + "/server", FtpTestServer::endless("endless.bin"));
    if (!server.start())
        return -1;
    RelInfoList remote;
    if (!ReadRemoteRelInfo(remote, (updates + "/RelInfoRemote.rel").toStdString())
        || remote.empty())
        return -1;
    // As the download run bounds it.
    const TransferBound bound = transferBound(remote[0], (folder + "/program").toStdString());
    CFtpFileClient client(nullptr, server.host().toStdString());
    std::uint64_t received = 0;
    CFtpFileClient::GetFileOptions options;
    options.maxBytes = bound.maxBytes;
    options.syncToDisk = false;
    options.progress = [&received](std::uint64_t done, std::uint64_t) {
        received = std::max(received, done);
    };
    if (bound.maxBytes == 0 || !client.Connect() || !client.SetCurrentDirectory("Endless/Updates")
        || client.GetFile("endless.bin", (folder + "/program").toStdString(), options))
        return -1;
    return received / (1024.0 * 1024.0);
}
