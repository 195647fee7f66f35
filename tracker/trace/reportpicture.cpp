#include "reportpicture.h"

#include "ccwgraph.h"
#include "picturewriter.h"

bool writeReportPicture(const TraceReport &report, const std::string &path, int width, int height,
                        bool svg, std::string &error)
{
    CCWGraph graph;
    graph.resize(width, height);
    graph.setBackColor(Qt::white);
    graph.attachDataPlot();
    graph.setPlotLineColor(QColor(0, 60, 170));
    graph.setAxisAutoScale(CCWGraph::YAxis, true);
    graph.setAxisFormat(CCWGraph::XAxis, report.tickMode ? "*1" : "*1\"s");
    graph.setSeries(report.x, report.values);
    auto paint = [&graph](QPaintDevice *device, int w, int h) { graph.paintTo(device, w, h); };
    if (svg)
        return CPictureWriter::writeSvg(paint, width, height, path, error);
    return CPictureWriter::writePng(CPictureWriter::render(paint, width, height, 300), path, error);
}
