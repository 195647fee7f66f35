#pragma once

#include <qcustomplot.h>

#include <string>

// Axis ticks for a format "*<factor>\"<unit>": an axis value v is labelled
// v * factor followed by the unit, and ticks fall on round labelled values.
// Without a format the labels are the plain values.
class CScaledTicker : public QCPAxisTicker
{
public:
    // False (and the ticker unchanged) when format is not of that form.
    bool setFormat(const std::string &format);
    double factor() const { return m_factor; }
    QString unit() const { return m_unit; }
    // The label of an axis value.
    QString label(double value) const;

protected:
    double getTickStep(const QCPRange &range) override;
    QString getTickLabel(double tick, const QLocale &locale, QChar formatChar,
                         int precision) override;

private:
    double m_factor = 1.0;
    QString m_unit;
};
