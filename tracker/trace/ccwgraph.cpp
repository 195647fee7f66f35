#include "ccwgraph.h"

#include "cnumber.h"
#include "graphsettings.h"
#include "logticker.h"
#include "scaledticker.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Group sizes of the summaries, and the most groups a view draws: a view
// of more points than kMostDrawn is drawn from the smallest groups that
// bring it below that.
constexpr uint64_t kGroup[] = {16, 256, 4096, 65536};
constexpr uint64_t kMostDrawn = 16384;

} // namespace

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
    // Every redraw, the panel's or the mouse's, draws what is in view.
    connect(m_plot, &QCustomPlot::beforeReplot, this, &CCWGraph::updateDrawnData);
    m_plot->setMouseTracking(true);

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
    for (Summary &summary : m_summaries)
        summary = Summary();
    m_nextX = 0.0;
    m_lastX = 0.0;
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
        // Points are kept at their time: the ticker labels keys as they
        // are, with the format's unit.
        CScaledTicker parsed;
        if (parsed.setFormat(format)) {
            m_xFactor = parsed.factor();
            m_xTicker->setFormat("*1\"" + parsed.unit().toStdString());
            applyXRange();
        }
    } else if (number == YAxis) {
        m_yFormat = format;
        m_yTicker->setFormat(format);
    }
}

void CCWGraph::setAxisRange(Axis number, double minimum, double maximum)
{
    if (number == XAxis) {
        m_xUnitsMin = minimum;
        m_xUnitsMax = maximum;
        m_xRangeSet = true;
        applyXRange();
        return;
    }
    if (QCPAxis *a = axis(number))
        a->setRange(minimum, maximum);
}

void CCWGraph::applyXRange()
{
    if (m_xRangeSet)
        setXKeys(m_xUnitsMin * m_xFactor, m_xUnitsMax * m_xFactor);
}

void CCWGraph::setXKeys(double lower, double upper)
{
    m_plot->xAxis->setRange(lower, upper);
    m_xSpan = m_plot->xAxis->range().size();
    m_xHome = m_plot->xAxis->range().lower;
}

void CCWGraph::attachDataPlot()
{
    if (m_data)
        return;
    m_data = m_plot->addGraph();
    m_data->setAdaptiveSampling(true);
    m_data->setLineStyle(QCPGraph::lsLine);
    m_drawn = m_plot->addGraph();
    m_drawn->setAdaptiveSampling(true);
    m_drawn->setLineStyle(QCPGraph::lsLine);
    m_drawn->setVisible(false);
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
    m_drawn->setPen(QPen(m_lineColor, 1));
}

void CCWGraph::clearPlot()
{
    if (!m_data)
        return;
    m_data->data()->clear();
    m_range.clear();
    m_positiveRange.clear();
    m_blocks.clear();
    for (Summary &summary : m_summaries)
        summary = Summary();
    m_nextX = 0.0;
    m_lastX = 0.0;
}

void CCWGraph::appendPoint(double value, double xIncrement)
{
    if (!m_data)
        return;
    const double key = m_nextX;
    appendPointAt(key, value);
    m_nextX = key + xIncrement * m_xFactor;
}

void CCWGraph::appendPointAt(double key, double value)
{
    if (!m_data)
        return;
    auto data = m_data->data();
    // Keys only grow: the data, the ranges and the summaries are ordered by them.
    if (!data->isEmpty() && !(key >= m_lastX))
        key = m_lastX;
    data->add(QCPGraphData(key, value));
    m_range.add(key, value);
    addToSummaries(key, value);
    m_blocks.add(value);
    if (value > 0.0)
        m_positiveRange.add(key, value);
    m_lastX = key;
    m_nextX = key;
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
        dropSummaries();
        return;
    }
    const double oldestKept = (data->constBegin() + drop)->key;
    const int before = data->size();
    data->removeBefore(oldestKept);
    m_range.dropBefore(oldestKept);
    m_positiveRange.dropBefore(oldestKept);
    m_blocks.dropBefore(m_blocks.firstIndex() + uint64_t(before - data->size()));
    dropSummaries();
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
    // A report's times may step back (a clock set back): drawn in time
    // order, equal times in file order.
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    if (!std::is_sorted(x.begin(), x.begin() + std::ptrdiff_t(n)))
        std::stable_sort(order.begin(), order.end(),
                         [&x](size_t a, size_t b) { return x[a] < x[b]; });
    QVector<QCPGraphData> points(static_cast<int>(n));
    m_range.clear();
    m_positiveRange.clear();
    m_blocks.clear();
    for (Summary &summary : m_summaries)
        summary = Summary();
    for (size_t k = 0; k < n; ++k) {
        const size_t i = order[k];
        points[int(k)] = QCPGraphData(x[i], values[i]);
        m_range.add(x[i], values[i]);
        addToSummaries(x[i], values[i]);
        if (values[i] > 0.0)
            m_positiveRange.add(x[i], values[i]);
        m_blocks.add(values[i]);
    }
    m_data->data()->set(points, true);
    m_chartLength = int(n);
    const double first = n ? x[order.front()] : 0.0;
    const double last = n ? x[order.back()] : 1.0;
    m_lastX = last;
    m_nextX = n > 1 ? last + (last - first) / double(n - 1) : last + m_xFactor;
    m_xRangeSet = false;
    setXKeys(first, last > first ? last : first + 1.0);
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

uint64_t CCWGraph::pointNumber(int i) const
{
    return m_blocks.firstIndex() + uint64_t(i);
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

void CCWGraph::addToSummaries(double key, double value)
{
    const uint64_t index = m_blocks.endIndex(); // the number of this point
    for (size_t level = 0; level < m_summaries.size(); ++level) {
        Summary &summary = m_summaries[level];
        const uint64_t group = index / kGroup[level];
        if (summary.groups.empty())
            summary.firstGroup = group;
        if (summary.firstGroup + summary.groups.size() <= group) {
            summary.groups.push_back(Group{key, value, key, value});
            continue;
        }
        Group &last = summary.groups.back();
        if (value < last.minValue || std::isnan(last.minValue)) {
            last.minKey = key;
            last.minValue = value;
        }
        if (value > last.maxValue || std::isnan(last.maxValue)) {
            last.maxKey = key;
            last.maxValue = value;
        }
    }
}

void CCWGraph::dropSummaries()
{
    const uint64_t first = m_blocks.firstIndex();
    for (size_t level = 0; level < m_summaries.size(); ++level) {
        Summary &summary = m_summaries[level];
        while (!summary.groups.empty() && (summary.firstGroup + 1) * kGroup[level] <= first) {
            summary.groups.pop_front();
            ++summary.firstGroup;
        }
    }
}

void CCWGraph::updateDrawnData()
{
    if (!m_data)
        return;
    int first = 0;
    int last = 0;
    size_t level = 0;
    const bool any = visibleIndexes(first, last);
    const uint64_t count = any ? uint64_t(last - first) : 0;
    while (level < m_summaries.size() && count / kGroup[level] > kMostDrawn)
        ++level;
    const bool summarised = any && count > kMostDrawn && level < m_summaries.size();
    m_data->setVisible(!summarised);
    m_drawn->setVisible(summarised);
    if (!summarised) {
        if (!m_drawn->data()->isEmpty())
            m_drawn->data()->clear();
        return;
    }
    // The groups in view and one more on either side, each as its lowest
    // and highest point in the order they came.
    const Summary &summary = m_summaries[level];
    const uint64_t base = m_blocks.firstIndex();
    const uint64_t size = kGroup[level];
    uint64_t from = (base + uint64_t(first)) / size;
    uint64_t to = (base + uint64_t(last - 1)) / size + 1;
    from = std::max(summary.firstGroup, from > 0 ? from - 1 : 0);
    to = std::min<uint64_t>(summary.firstGroup + summary.groups.size(), to + 1);
    QVector<QCPGraphData> points;
    points.reserve(int(2 * (to > from ? to - from : 0)));
    for (uint64_t g = from; g < to; ++g) {
        const Group &group = summary.groups[size_t(g - summary.firstGroup)];
        const bool minFirst = group.minKey <= group.maxKey;
        points.append(QCPGraphData(minFirst ? group.minKey : group.maxKey,
                                   minFirst ? group.minValue : group.maxValue));
        if (group.minKey != group.maxKey)
            points.append(QCPGraphData(minFirst ? group.maxKey : group.minKey,
                                       minFirst ? group.maxValue : group.minValue));
    }
    m_drawn->data()->set(points, true);
}
