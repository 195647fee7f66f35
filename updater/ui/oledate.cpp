#include "oledate.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <cctype>
#include <charconv>
#include <cmath>

double toOleDate(const QDateTime &moment)
{
    const QDateTime local = moment.toLocalTime();
    static const QDate epoch(1899, 12, 30);
    const double days = static_cast<double>(epoch.daysTo(local.date()));
    const double dayFraction = local.time().msecsSinceStartOfDay() / 86400000.0;
    return days + dayFraction;
}

std::string formatOleDate(double oleDate)
{
    // QString::asprintf formats numbers in the C locale.
    return QString::asprintf("%f", oleDate).toStdString();
}

double parseOleDate(const std::string &text)
{
    std::size_t first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first])))
        ++first;
    const char *begin = text.data() + first;
    const char *end = text.data() + text.size();
    bool negative = false;
    if (begin != end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    if (begin == end || !(std::isdigit(static_cast<unsigned char>(*begin)) || *begin == '.'))
        return 0.0;
    double value = 0.0;
    const auto parsed = std::from_chars(begin, end, value, std::chars_format::general);
    if (parsed.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return negative ? -value : value;
}
