#include "logticker.h"

#include <QSet>

#include <algorithm>

int CLogTicker::distinctPrecision(const QVector<double> &ticks)
{
    const int kMost = 6;
    for (int precision = 0; precision < kMost; ++precision) {
        QSet<QString> seen;
        bool distinct = true;
        for (double tick : ticks) {
            const QString label = QString::number(tick, 'e', precision);
            if (seen.contains(label)) {
                distinct = false;
                break;
            }
            seen.insert(label);
        }
        if (distinct)
            return precision;
    }
    return kMost;
}

QVector<QString> CLogTicker::createLabelVector(const QVector<double> &ticks, const QLocale &locale,
                                               QChar formatChar, int precision)
{
    return QCPAxisTickerLog::createLabelVector(ticks, locale, formatChar,
                                               std::max(precision, distinctPrecision(ticks)));
}
