#include "ccwgraph.h"

#include "logticker.h"
#include "scaledticker.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

CCWGraph::CCWGraph(QWidget *parent)
    : QWidget(parent)
    , m_plot(new QCustomPlot(this))
    , m_xTicker(new CScaledTicker)
    , m_yTicker(new CScaledTicker)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    // A plain, fast chart: thin lines, no antialiasing; long series are
    // drawn through the plot's adaptive sampling.
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    m_plot->setAntialiasedElements(QCP::aeNone);
    m_plot->setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    // Tick labels read the same in every locale: with a decimal point.
    m_plot->setLocale(QLocale::c());
    m_plot->xAxis->setTicker(m_xTicker);
    m_plot->yAxis->setTicker(m_yTicker);
    setBackColor(Qt::black);
}

CCWGraph::~CCWGraph() = default;

QCPAxis *CCWGraph::axis(Axis number) const
{
    if (number == XAxis)
        return m_plot->xAxis;
    if (number == YAxis)
        return m_plot->yAxis;
    return nullptr;
}

void CCWGraph::setBackColor(const QColor &color)
{
    m_backColor = color;
    const QBrush brush(m_backColor);
    m_plot->setBackground(brush);
    m_plot->axisRect()->setBackground(brush);
    // Axes, labels and grid stand out from any background: light on a
    // dark one, dark on a light one.
    const bool dark = m_backColor.lightnessF() < 0.5;
    const QColor axisColor = dark ? QColor(200, 200, 200) : QColor(40, 40, 40);
    const QColor gridColor = dark ? QColor(90, 90, 90) : QColor(170, 170, 170);
    for (QCPAxis *a : {m_plot->xAxis, m_plot->yAxis}) {
        a->setBasePen(QPen(axisColor));
        a->setTickPen(QPen(axisColor));
        a->setSubTickPen(QPen(axisColor));
        a->setTickLabelColor(axisColor);
        a->grid()->setPen(QPen(gridColor, 0, Qt::DotLine));
    }
}

void CCWGraph::setChartLength(int points)
{
    m_chartLength = points < 0 ? 0 : points;
    if (m_data)
        dropOldest();
}

void CCWGraph::clearData()
{
    if (m_data)
        m_data->data()->clear();
    m_range.clear();
    m_positiveRange.clear();
    m_nextX = 0.0;
    refresh();
}

void CCWGraph::refresh()
{
    followData();
    m_plot->replot(QCustomPlot::rpImmediateRefresh);
}

void CCWGraph::followData()
{
    // The X axis scrolls with the newest point once the data has run past
    // the configured range.
    if (m_data && !m_data->data()->isEmpty()) {
        const double last = (m_data->data()->constEnd() - 1)->key;
        QCPRange range = m_plot->xAxis->range();
        if (last > range.upper)
            m_plot->xAxis->setRange(last - m_xSpan, last);
    }
    if (m_yAutoScale && m_data) {
        const bool log = m_plot->yAxis->scaleType() == QCPAxis::stLogarithmic;
        double lower = 0.0;
        double upper = 0.0;
        if ((log ? m_positiveRange : m_range).range(lower, upper)) {
            if (lower == upper) {
                const double pad = log ? lower * 0.1 : (lower == 0.0 ? 1.0 : std::abs(lower) * 0.1);
                lower -= pad;
                upper += pad;
            }
            m_plot->yAxis->setRange(lower, upper);
        }
    }
}

void CCWGraph::setAxisLog(Axis number, bool log)
{
    QCPAxis *a = axis(number);
    if (!a)
        return;
    a->setScaleType(log ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
    if (log) {
        a->setTicker(QSharedPointer<CLogTicker>(new CLogTicker));
        a->setNumberFormat("eb");
        a->setNumberPrecision(0);
    } else {
        a->setTicker(number == XAxis ? m_xTicker : m_yTicker);
        a->setNumberFormat("gb");
        a->setNumberPrecision(6);
    }
}

void CCWGraph::setAxisAutoScale(Axis number, bool autoScale)
{
    if (number == YAxis)
        m_yAutoScale = autoScale;
}

void CCWGraph::setAxisFormat(Axis number, const std::string &format)
{
    if (number == XAxis) {
        m_xFormat = format;
        m_xTicker->setFormat(format);
    } else if (number == YAxis) {
        m_yFormat = format;
        m_yTicker->setFormat(format);
    }
}

void CCWGraph::setAxisRange(Axis number, double minimum, double maximum)
{
    QCPAxis *a = axis(number);
    if (!a)
        return;
    a->setRange(minimum, maximum);
    if (number == XAxis)
        m_xSpan = a->range().size();
}

void CCWGraph::attachDataPlot()
{
    if (m_data)
        return;
    m_data = m_plot->addGraph();
    m_data->setAdaptiveSampling(true);
    m_data->setLineStyle(QCPGraph::lsLine);
    setPlotLineColor(m_lineColor);
}

void CCWGraph::setPlotLineColor(const QColor &color)
{
    if (!m_data)
        return;
    m_lineColor = color;
    m_data->setPen(QPen(m_lineColor, 1));
}

void CCWGraph::clearPlot()
{
    if (!m_data)
        return;
    m_data->data()->clear();
    m_range.clear();
    m_positiveRange.clear();
    m_nextX = 0.0;
}

void CCWGraph::appendPoint(double value, double xIncrement)
{
    if (!m_data)
        return;
    auto data = m_data->data();
    data->add(QCPGraphData(m_nextX, value));
    m_range.add(m_nextX, value);
    if (value > 0.0)
        m_positiveRange.add(m_nextX, value);
    m_lastIncrement = xIncrement;
    m_nextX += xIncrement;
    dropOldest();
}

void CCWGraph::dropOldest()
{
    auto data = m_data->data();
    const int drop = data->size() - m_chartLength;
    if (drop <= 0)
        return;
    if (drop >= data->size()) {
        data->clear();
        m_range.clear();
        m_positiveRange.clear();
        return;
    }
    const double oldestKept = (data->constBegin() + drop)->key;
    data->removeBefore(oldestKept);
    m_range.dropBefore(oldestKept);
    m_positiveRange.dropBefore(oldestKept);
}

int CCWGraph::pointCount() const
{
    return m_data ? m_data->data()->size() : 0;
}

bool CCWGraph::axisLog(Axis number) const
{
    const QCPAxis *a = axis(number);
    return a && a->scaleType() == QCPAxis::stLogarithmic;
}

std::string CCWGraph::axisFormat(Axis number) const
{
    return number == XAxis ? m_xFormat : number == YAxis ? m_yFormat : std::string();
}

double CCWGraph::axisMinimum(Axis number) const
{
    const QCPAxis *a = axis(number);
    return a ? a->range().lower : 0.0;
}

double CCWGraph::axisMaximum(Axis number) const
{
    const QCPAxis *a = axis(number);
    return a ? a->range().upper : 0.0;
}

QString CCWGraph::axisLabel(Axis number, double x) const
{
    return number == XAxis ? m_xTicker->label(x) : m_yTicker->label(x);
}
