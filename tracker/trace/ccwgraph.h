#pragma once

#include "slidingrange.h"

#include <QColor>
#include <QSharedPointer>
#include <QWidget>

#include <cstdint>
#include <string>

class QCustomPlot;
class QCPGraph;
class QCPAxis;
class CScaledTicker;

// The trace graph: a chart of one data plot whose X axis counts samples.
//
// Axes are addressed by number: 1 is the X axis, 2 the Y axis. Colours
// are 0x00BBGGRR values. Operations on the data plot before
// attachDataPlot() do nothing. Nothing is redrawn until refresh().
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
    // followed by the unit; e.g. *0.100000"s for 0.1 s per sample.
    void setAxisFormat(Axis axis, const std::string &format);
    void setAxisRange(Axis axis, double minimum, double maximum);

    // Obtains the data plot; until then the plot operations do nothing.
    void attachDataPlot();
    void setPlotLineColor(const QColor &color);
    void clearPlot();
    // Appends value one step of xIncrement after the previous point (the
    // first point after a clear sits at 0).
    void appendPoint(double value, double xIncrement = 1.0);

    // Read back, for the panel and tests.
    QColor backColor() const { return m_backColor; }
    QColor lineColor() const { return m_lineColor; }
    int chartLength() const { return m_chartLength; }
    int pointCount() const;
    double lastX() const { return m_nextX - m_lastIncrement; }
    bool axisLog(Axis axis) const;
    std::string axisFormat(Axis axis) const;
    double axisMinimum(Axis axis) const;
    double axisMaximum(Axis axis) const;
    // The value shown at x by an axis label, e.g. "6s".
    QString axisLabel(Axis axis, double x) const;
    QCustomPlot *customPlot() const { return m_plot; }

private:
    QCPAxis *axis(Axis number) const;
    void followData();
    void dropOldest();

    QCustomPlot *m_plot = nullptr;
    QCPGraph *m_data = nullptr;
    QColor m_backColor = Qt::black;
    QColor m_lineColor = Qt::black;
    int m_chartLength = 0;
    double m_nextX = 0.0;
    double m_lastIncrement = 1.0;
    double m_xSpan = 0.0;
    bool m_yAutoScale = false;
    std::string m_xFormat;
    std::string m_yFormat;
    QSharedPointer<CScaledTicker> m_xTicker;
    QSharedPointer<CScaledTicker> m_yTicker;
    // Value range of the kept points, all and the positive ones alone.
    CSlidingRange m_range;
    CSlidingRange m_positiveRange;
};
