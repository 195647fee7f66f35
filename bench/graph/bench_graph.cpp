// Time of one full redraw of the trace graph holding a 60-second window at
// 1 ms (60001 points), linear and logarithmic, against the same graph
// holding 601 points (the default 100 ms window) measured in this run.
//
// Then the trace panel with a 24-hour span at 10 ms (8,640,001 points, all
// of them kept): while a point arrives every 10 ms and the view is zoomed,
// panned, held, followed and examined with the cursor, the longest stall of
// the user-interface thread (lateness of a 10 ms timer beyond its idle
// lateness).
//
// Run offscreen: QT_QPA_PLATFORM=offscreen bench_graph

#include "ccwgraph.h"
#include "tracedlg.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>

#include <cmath>
#include <cstdio>

namespace {

double redrawMs(CCWGraph &graph, int points, bool log, int rounds)
{
    graph.setChartLength(points);
    graph.setAxisRange(CCWGraph::XAxis, 0, points - 1);
    graph.setAxisLog(CCWGraph::YAxis, log);
    graph.clearPlot();
    for (int i = 0; i < points; ++i)
        graph.appendPoint(1e-3 * (1.5 + std::sin(i * 0.01) + 0.2 * std::sin(i * 0.37)), 1.0);
    graph.refresh(); // warm-up
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        graph.refresh();
    return double(timer.nsecsElapsed()) / 1e6 / rounds;
}

// Runs the event loop for ms while a 10 ms timer measures its lateness;
// work runs every 10 ms in the same loop.
double maxLatenessMs(QApplication &app, int ms, const std::function<void(int)> &work)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double worst = 0.0;
    int turn = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last != 0)
            worst = std::max(worst, double(now - last) / 1e6 - 10.0);
        last = now;
        if (work)
            work(turn++);
    });
    tick.start();
    QTimer::singleShot(ms, &app, &QCoreApplication::quit);
    app.exec();
    return worst;
}

double dayStallMs(QApplication &app)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    CTraceDlg panel;
    panel.resize(1000, 600);
    panel.show();
    panel.findChild<QLineEdit *>("intervalEdit")->setText("10");
    panel.findChild<QLineEdit *>("sizeEdit")->setText("86400");
    panel.OnTraceSettingsChanged();
    CCWGraph *graph = panel.graph();
    QElapsedTimer filling;
    filling.start();
    const int points = 8640001;
    for (int i = 0; i < points; ++i)
        graph->appendPoint(1e-3 * (1.5 + std::sin(i * 1e-4) + 0.2 * std::sin(i * 0.37)), 1.0);
    std::printf("8640001 points appended in %.1f s (chart length %d)\n",
                double(filling.elapsed()) / 1000.0, graph->chartLength());
    QElapsedTimer redraw;
    redraw.start();
    panel.redrawNow();
    std::printf("one redraw with 8640001 points in view ms: %.1f\n",
                double(redraw.nsecsElapsed()) / 1e6);

    const double idle = maxLatenessMs(app, 1000, {});
    int next = points;
    const double busy = maxLatenessMs(app, 6000, [&](int turn) {
        // The trace's new point, then every 250 ms something a user does.
        graph->appendPoint(1e-3 * (1.5 + std::sin(next++ * 1e-4)), 1.0);
        panel.scheduleRedraw();
        switch (turn % 100) {
        case 25: graph->zoomX(0.01, graph->lastX()); break;
        case 50: graph->panBy(-5000, 0); break;
        case 60: graph->showCursorAt(graph->lastX() - 12345); break;
        case 75: graph->follow(); break;
        case 90: graph->zoomToRect(1e6, 5e6, 0.5e-3, 3e-3); break;
        case 99: graph->follow(); break;
        default: break;
        }
    });
    std::printf("idle UI timer lateness ms: %.2f, with the day in view: %.2f\n", idle, busy);
    return std::max(0.0, busy - idle);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    CCWGraph graph;
    graph.resize(1000, 450);
    graph.attachDataPlot();
    graph.setPlotLineColor(Qt::green);
    graph.setAxisAutoScale(CCWGraph::YAxis, true);
    graph.setAxisFormat(CCWGraph::XAxis, "*0.001000\"s");
    graph.show();
    app.processEvents();

    const int rounds = 50;
    const double referenceLinear = redrawMs(graph, 601, false, rounds);
    const double linear = redrawMs(graph, 60001, false, rounds);
    const double referenceLog = redrawMs(graph, 601, true, rounds);
    const double log = redrawMs(graph, 60001, true, rounds);

    std::printf("reference redraw ms (601 points): linear %.3f, log %.3f\n", referenceLinear,
                referenceLog);
    std::printf("redraw ms (60001 points): linear %.3f, log %.3f\n", linear, log);
    std::printf("ratio to reference: linear %.2f, log %.2f\n", linear / referenceLinear,
                log / referenceLog);
    std::printf("graph redraw ms: %.3f\n", std::max(linear, log));
    std::printf("max UI stall with 8640001 points ms: %.1f\n", dayStallMs(app));
    return 0;
}
