// Time of one full redraw of the trace graph holding a 60-second window at
// 1 ms (60001 points), linear and logarithmic, against the same graph
// holding 601 points (the default 100 ms window) measured in this run.
//
// Run offscreen: QT_QPA_PLATFORM=offscreen bench_graph

#include "ccwgraph.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>

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
    return 0;
}
