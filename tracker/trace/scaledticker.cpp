#include "scaledticker.h"

#include "cnumber.h"

#include <cmath>
#include <cstdlib>

bool CScaledTicker::setFormat(const std::string &format)
{
    if (format.size() < 2 || format[0] != '*')
        return false;
    const std::string body = format.substr(1);
    const double factor = atofC(body);
    if (!(factor > 0.0) || !std::isfinite(factor))
        return false;
    // The unit follows the number, after an optional quote.
    size_t unitStart = body.find('"');
    m_unit = unitStart == std::string::npos ? QString()
                                            : QString::fromStdString(body.substr(unitStart + 1));
    m_factor = factor;
    return true;
}

QString CScaledTicker::label(double value) const
{
    double scaled = value * m_factor;
    if (std::abs(scaled) < 1e-12)
        scaled = 0.0;
    return QString::number(scaled, 'g', 6) + m_unit;
}

double CScaledTicker::getTickStep(const QCPRange &range)
{
    // Choose a round step in labelled units, then map it back.
    const QCPRange scaled(range.lower * m_factor, range.upper * m_factor);
    return QCPAxisTicker::getTickStep(scaled) / m_factor;
}

QString CScaledTicker::getTickLabel(double tick, const QLocale &, QChar, int)
{
    return label(tick);
}
