#pragma once

#include <qcustomplot.h>

// Ticks of a logarithmic axis whose labels never repeat: in a range
// narrower than a decade the ticks fall between powers of ten, and each
// label gets as many mantissa digits as it takes to tell it from its
// neighbours.
class CLogTicker : public QCPAxisTickerLog
{
public:
    // The fewest digits after the mantissa's point (0 to 6) with which
    // the ticks' labels ("%.*e") all differ.
    static int distinctPrecision(const QVector<double> &ticks);

protected:
    QVector<QString> createLabelVector(const QVector<double> &ticks, const QLocale &locale,
                                       QChar formatChar, int precision) override;
};
