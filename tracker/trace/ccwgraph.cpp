#include "ccwgraph.h"

#include "cnumber.h"
#include "graphsettings.h"
#include "logticker.h"
#include "scaledticker.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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

    // Examining: wheel zoom, drag to pan, Shift+drag zooms to a rectangle.
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);
    m_plot->selectionRect()->setPen(QPen(QColor(230, 230, 230), 1, Qt::DashLine));
    connect(m_plot, &QCustomPlot::mousePress, this, &CCWGraph::onMousePress);
    connect(m_plot, &QCustomPlot::mouseWheel, this, &CCWGraph::onWheel);
    connect(m_plot, &QCustomPlot::mouseMove, this, &CCWGraph::onMouseMove);
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this] { follow(); });
    connect(m_plot, &QCustomPlot::afterReplot, this, &CCWGraph::viewChanged);
    m_plot->setMouseTracking(true);
    m_plot->setFocusPolicy(Qt::StrongFocus);

    m_cursorText = new QCPItemText(m_plot);
    m_cursorText->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_cursorText->position->setCoords(0.01, 0.01);
    m_cursorText->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_cursorText->setClipToAxisRect(false);
    m_cursorText->setPadding(QMargins(3, 1, 3, 1));
    m_cursorText->setVisible(false);
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
    m_cursorText->setColor(axisColor);
    m_cursorText->setBrush(QBrush(m_backColor));
    m_cursorText->setPen(QPen(gridColor));
    if (m_tracer)
        m_tracer->setPen(QPen(axisColor, 1));
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
    m_blocks.clear();
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
    if (m_held)
        return;
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
    } else if (!m_yAutoScale) {
        applyYRange();
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
    if (number == XAxis) {
        m_xSpan = a->range().size();
        m_xHome = a->range().lower;
    }
}

void CCWGraph::attachDataPlot()
{
    if (m_data)
        return;
    m_data = m_plot->addGraph();
    m_data->setAdaptiveSampling(true);
    m_data->setLineStyle(QCPGraph::lsLine);
    setPlotLineColor(m_lineColor);
    m_tracer = new QCPItemTracer(m_plot);
    m_tracer->setGraph(m_data);
    m_tracer->setInterpolating(false);
    m_tracer->setStyle(QCPItemTracer::tsCircle);
    m_tracer->setSize(7);
    m_tracer->setVisible(false);
    setBackColor(m_backColor);
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
    m_blocks.clear();
    m_nextX = 0.0;
}

void CCWGraph::appendPoint(double value, double xIncrement)
{
    if (!m_data)
        return;
    auto data = m_data->data();
    data->add(QCPGraphData(m_nextX, value));
    m_range.add(m_nextX, value);
    m_blocks.add(value);
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
        m_blocks.dropBefore(m_blocks.endIndex());
        return;
    }
    const double oldestKept = (data->constBegin() + drop)->key;
    const int before = data->size();
    data->removeBefore(oldestKept);
    m_range.dropBefore(oldestKept);
    m_positiveRange.dropBefore(oldestKept);
    m_blocks.dropBefore(m_blocks.firstIndex() + uint64_t(before - data->size()));
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

void CCWGraph::setSeries(const std::vector<double> &x, const std::vector<double> &values)
{
    if (!m_data)
        return;
    const size_t n = std::min(x.size(), values.size());
    QVector<QCPGraphData> points(static_cast<int>(n));
    m_range.clear();
    m_positiveRange.clear();
    m_blocks.clear();
    for (size_t i = 0; i < n; ++i) {
        points[int(i)] = QCPGraphData(x[i], values[i]);
        m_range.add(x[i], values[i]);
        if (values[i] > 0.0)
            m_positiveRange.add(x[i], values[i]);
        m_blocks.add(values[i]);
    }
    m_data->data()->set(points, true);
    m_chartLength = int(n);
    const double first = n ? x.front() : 0.0;
    const double last = n ? x.back() : 1.0;
    m_lastIncrement = n > 1 ? (last - first) / double(n - 1) : 1.0;
    m_nextX = last + m_lastIncrement;
    setAxisRange(XAxis, first, last > first ? last : first + 1.0);
    setHeld(false);
    refresh();
}

double CCWGraph::keyAt(int i) const
{
    return (m_data->data()->constBegin() + i)->key;
}

double CCWGraph::valueAt(int i) const
{
    return (m_data->data()->constBegin() + i)->value;
}

void CCWGraph::setHeld(bool held)
{
    if (m_held == held)
        return;
    m_held = held;
    emit heldChanged(held);
}

void CCWGraph::follow()
{
    setHeld(false);
    double lower = m_xHome;
    if (m_data && !m_data->data()->isEmpty()) {
        const double last = (m_data->data()->constEnd() - 1)->key;
        if (last > m_xHome + m_xSpan)
            lower = last - m_xSpan;
    }
    m_plot->xAxis->setRange(lower, lower + m_xSpan);
    refresh();
}

void CCWGraph::zoomX(double factor, double center)
{
    setHeld(true);
    m_plot->xAxis->scaleRange(factor, center);
    refresh();
}

void CCWGraph::zoomY(double factor, double center)
{
    setHeld(true);
    m_plot->yAxis->scaleRange(factor, center);
    refresh();
}

void CCWGraph::panBy(double dx, double dy)
{
    setHeld(true);
    m_plot->xAxis->moveRange(dx);
    if (m_plot->yAxis->scaleType() == QCPAxis::stLogarithmic)
        m_plot->yAxis->setRange(m_plot->yAxis->range().lower * std::pow(10.0, dy),
                                m_plot->yAxis->range().upper * std::pow(10.0, dy));
    else
        m_plot->yAxis->moveRange(dy);
    refresh();
}

void CCWGraph::zoomToRect(double x0, double x1, double y0, double y1)
{
    setHeld(true);
    m_plot->xAxis->setRange(std::min(x0, x1), std::max(x0, x1));
    m_plot->yAxis->setRange(std::min(y0, y1), std::max(y0, y1));
    refresh();
}

bool CCWGraph::setManualYRange(double minimum, double maximum, std::string &error)
{
    error = GraphSettings::rangeError(minimum, maximum, axisLog(YAxis));
    if (!error.empty())
        return false;
    m_yAutoScale = false;
    m_yMin = minimum;
    m_yMax = maximum;
    applyYRange();
    refresh();
    return true;
}

void CCWGraph::setYAuto()
{
    m_yAutoScale = true;
    refresh();
}

void CCWGraph::applyYRange()
{
    m_plot->yAxis->setRange(m_yMin, m_yMax);
}

bool CCWGraph::visibleIndexes(int &first, int &last) const
{
    if (!m_data || m_data->data()->isEmpty())
        return false;
    const auto data = m_data->data();
    const QCPRange range = m_plot->xAxis->range();
    first = int(data->findBegin(range.lower, false) - data->constBegin());
    last = int(data->findEnd(range.upper, false) - data->constBegin());
    return first < last;
}

CRunningStats CCWGraph::visibleStats(uint64_t *nonPositive) const
{
    int first = 0;
    int last = 0;
    if (!visibleIndexes(first, last)) {
        if (nonPositive)
            *nonPositive = 0;
        return CRunningStats();
    }
    const uint64_t base = m_blocks.firstIndex();
    const auto begin = m_data->data()->constBegin();
    return m_blocks.range(
        base + uint64_t(first), base + uint64_t(last - 1),
        [&](uint64_t i) { return (begin + int(i - base))->value; }, nonPositive);
}

bool CCWGraph::nearestPoint(double x, double &key, double &value) const
{
    if (!m_data || m_data->data()->isEmpty() || std::isnan(x))
        return false;
    const auto data = m_data->data();
    auto it = data->findBegin(x, false);
    if (it == data->constEnd())
        --it;
    if (it != data->constBegin() && std::abs((it - 1)->key - x) <= std::abs(it->key - x))
        --it;
    key = it->key;
    value = it->value;
    return true;
}

void CCWGraph::showCursorAt(double x)
{
    double key = 0.0;
    double value = 0.0;
    const bool found = nearestPoint(x, key, value);
    if (m_tracer) {
        m_tracer->setVisible(found);
        if (found)
            m_tracer->setGraphKey(key);
    }
    m_cursorText->setVisible(found);
    if (found)
        m_cursorText->setText(
            QString::fromStdString(formatC("%.6g%s  %.9g", key * m_xTicker->factor(),
                                           m_xTicker->unit().toUtf8().constData(), value)));
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

QString CCWGraph::cursorText() const
{
    return m_cursorText->visible() ? m_cursorText->text() : QString();
}

void CCWGraph::onMousePress(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // Shift+drag draws the rectangle to zoom to, a plain drag pans.
    m_plot->setSelectionRectMode((event->modifiers() & Qt::ShiftModifier) ? QCP::srmZoom
                                                                          : QCP::srmNone);
    setHeld(true);
}

void CCWGraph::onWheel(QWheelEvent *event)
{
    m_plot->axisRect()->setRangeZoom((event->modifiers() & Qt::ControlModifier) ? Qt::Vertical
                                                                                : Qt::Horizontal);
    setHeld(true);
}

void CCWGraph::onMouseMove(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        return;
    showCursorAt(m_plot->axisRect()->rect().contains(event->pos())
                     ? m_plot->xAxis->pixelToCoord(event->pos().x())
                     : std::nan(""));
}

void CCWGraph::paintTo(QPaintDevice *device, int width, int height)
{
    const bool cursor = m_cursorText->visible();
    m_cursorText->setVisible(false);
    if (m_tracer)
        m_tracer->setVisible(false);
    QCPPainter painter(device);
    m_plot->toPainter(&painter, width, height);
    painter.end();
    m_cursorText->setVisible(cursor);
    if (m_tracer)
        m_tracer->setVisible(cursor);
}
