#pragma once

#include "slidingrange.h"
#include "tracestats.h"

#include <QColor>
#include <QSharedPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <deque>
#include <string>

class QCustomPlot;
class QCPGraph;
class QCPAxis;
class QCPItemText;
class QCPItemTracer;
class QMouseEvent;
class QPaintDevice;
class QWheelEvent;
class CScaledTicker;

// The trace graph: a chart of one data plot over the time each sample was
// taken.
//
// The X axis is set in its own units as the panel counts them (samples),
// and its format "*<seconds per unit>\"s" says what one unit is; points
// are kept and shown at their time in seconds, so a later change of the
// format (a new interval) leaves the points where they are.
//
// Axes are addressed by number: 1 is the X axis, 2 the Y axis. Colours
// are 0x00BBGGRR values. Operations on the data plot before
// attachDataPlot() do nothing. Nothing is redrawn until refresh().
//
// The view can be examined: the wheel zooms X (with Ctrl: Y), a drag pans,
// a drag with Shift zooms to the dragged rectangle. Each of these holds the
// view (the data goes on arriving); follow() or a double-click returns to
// the live view. A cursor shows the sample nearest to the mouse.
class CCWGraph : public QWidget
{
    Q_OBJECT

public:
    enum Axis
    {
        XAxis = 1,
        YAxis = 2
    };

    explicit CCWGraph(QWidget *parent = nullptr);
    ~CCWGraph() override;

    void setBackColor(const QColor &color);
    // Number of points kept; when more arrive the oldest drop out.
    void setChartLength(int points);
    // Clears every point and redraws.
    void clearData();
    // Redraws now.
    void refresh();

    void setAxisLog(Axis axis, bool log);
    // The axis range follows the data (the Y axis is never given a range).
    void setAxisAutoScale(Axis axis, bool autoScale);
    // "*<factor>\"<unit>": labels show the axis value times factor,
    // followed by the unit; e.g. *0.100000"s for 0.1 s per sample. On the
    // X axis the factor turns the axis units of setAxisRange() and of
    // appendPoint()'s increment into the keys of the points.
    void setAxisFormat(Axis axis, const std::string &format);
    void setAxisRange(Axis axis, double minimum, double maximum);

    // Obtains the data plot; until then the plot operations do nothing.
    void attachDataPlot();
    void setPlotLineColor(const QColor &color);
    void clearPlot();
    // Appends value one step of xIncrement axis units after the previous
    // point (the first point after a clear sits at 0).
    void appendPoint(double value, double xIncrement = 1.0);
    // Appends value at the key at which it was measured (seconds on a
    // time axis); a key before the newest point's is taken as that one's.
    void appendPointAt(double key, double value);

    // Read back, for the panel and tests.
    QColor backColor() const { return m_backColor; }
    QColor lineColor() const { return m_lineColor; }
    int chartLength() const { return m_chartLength; }
    int pointCount() const;
    // Key of the newest point.
    double lastX() const { return m_lastX; }
    bool axisLog(Axis axis) const;
    std::string axisFormat(Axis axis) const;
    double axisMinimum(Axis axis) const;
    double axisMaximum(Axis axis) const;
    // The label shown at the key x, e.g. "6s".
    QString axisLabel(Axis axis, double x) const;
    QCustomPlot *customPlot() const { return m_plot; }

    // Replaces the data by a whole series (x ascending) and shows all of it.
    void setSeries(const std::vector<double> &x, const std::vector<double> &values);
    // Key and value of the point i (0 the oldest kept), and its number
    // counted from the first point after a clear.
    double keyAt(int i) const;
    double valueAt(int i) const;
    uint64_t pointNumber(int i) const;

    // Holding: the view stays where it is while points arrive.
    void setHeld(bool held);
    bool isHeld() const { return m_held; }
    // Back to the live view: the newest points over the configured span and
    // the automatic or manual value range.
    void follow();
    // Zoom around a centre (factor < 1 zooms in), move the view by axis
    // units, or show a rectangle; each holds the view.
    void zoomX(double factor, double center);
    void zoomY(double factor, double center);
    void panBy(double dx, double dy);
    void zoomToRect(double x0, double x1, double y0, double y1);
    // The value range follows the data, or stays at a manual range. A
    // range that cannot be shown is refused with the reason in error.
    bool setManualYRange(double minimum, double maximum, std::string &error);
    void setYAuto();
    bool yAuto() const { return m_yAutoScale; }

    // Figures of the points inside the visible X range; nonPositive counts
    // those a log axis cannot show.
    CRunningStats visibleStats(uint64_t *nonPositive = nullptr) const;
    // Index of the visible points [first, last); false when none.
    bool visibleIndexes(int &first, int &last) const;
    // The point nearest to x; false without points.
    bool nearestPoint(double x, double &key, double &value) const;
    // Shows the cursor at the point nearest to x (hides it when x is NaN).
    void showCursorAt(double x);
    QString cursorText() const;

    // Draws the graph at width x height onto any paint device (a picture,
    // an SVG generator).
    void paintTo(QPaintDevice *device, int width, int height);

signals:
    void heldChanged(bool held);
    // The visible range or the points in it changed (after a redraw).
    void viewChanged();

private:
    QCPAxis *axis(Axis number) const;
    void followData();
    void dropOldest();
    void onMousePress(QMouseEvent *event);
    void onWheel(QWheelEvent *event);
    void onMouseMove(QMouseEvent *event);
    void applyYRange();
    void applyXRange();
    void setXKeys(double lower, double upper);
    // Long views are drawn from min/max summaries of groups of points.
    void addToSummaries(double key, double value);
    void dropSummaries();
    void updateDrawnData();

    QCustomPlot *m_plot = nullptr;
    QCPGraph *m_data = nullptr;
    QColor m_backColor = Qt::black;
    QColor m_lineColor = Qt::black;
    int m_chartLength = 0;
    double m_nextX = 0.0;
    double m_lastX = 0.0;
    // Keys per X axis unit, and the X range in axis units.
    double m_xFactor = 1.0;
    double m_xUnitsMin = 0.0;
    double m_xUnitsMax = 0.0;
    bool m_xRangeSet = false;
    double m_xSpan = 0.0;
    bool m_yAutoScale = false;
    std::string m_xFormat;
    std::string m_yFormat;
    QSharedPointer<CScaledTicker> m_xTicker;
    QSharedPointer<CScaledTicker> m_yTicker;
    // Value range of the kept points, all and the positive ones alone.
    CSlidingRange m_range;
    CSlidingRange m_positiveRange;
    // Summaries of the kept points for the visible range's figures.
    CBlockStats m_blocks;
    bool m_held = false;
    double m_xHome = 0.0;
    double m_yMin = 0.0;
    double m_yMax = 1.0;
    // Per level, every group of kGroup[level] points (numbered from the
    // first ever added, as in m_blocks) as its lowest and highest point.
    struct Group
    {
        double minKey;
        double minValue;
        double maxKey;
        double maxValue;
    };
    struct Summary
    {
        uint64_t firstGroup = 0;
        std::deque<Group> groups;
    };
    std::array<Summary, 4> m_summaries;
    // What is drawn instead of m_data when a view holds too many points.
    QCPGraph *m_drawn = nullptr;
    QCPItemTracer *m_tracer = nullptr;
    QCPItemText *m_cursorText = nullptr;
};
