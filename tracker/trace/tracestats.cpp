#include "tracestats.h"

#include "cnumber.h"
#include "tracesample.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kLowestMs = 1e-3;
constexpr double kBinWidth = 1e-3; // relative
const double kLogStep = std::log1p(kBinWidth);
const int kBinCount = int(std::ceil(std::log(1e7 / kLowestMs) / kLogStep)) + 1;

int binOf(double ms)
{
    if (!(ms > kLowestMs))
        return 0;
    const int bin = 1 + int(std::log(ms / kLowestMs) / kLogStep);
    return std::min(bin, kBinCount - 1);
}

// A duration that stands for its bin: the bin's middle.
double binValue(int bin)
{
    if (bin == 0)
        return kLowestMs;
    return kLowestMs * std::exp((bin - 0.5) * kLogStep);
}

} // namespace

void CRunningStats::raiseUnit(int exponent)
{
    if (m_unit != 0.0 && exponent <= m_exponent)
        return;
    if (m_unit != 0.0) {
        // Powers of two: the change of unit is exact (or underflows
        // figures far below the new unit's precision).
        const double factor = std::ldexp(1.0, m_exponent - exponent);
        m_mean *= factor;
        m_m2 *= factor * factor;
    }
    m_exponent = exponent;
    m_unit = std::ldexp(1.0, exponent);
}

void CRunningStats::add(double value)
{
    if (std::isnan(value))
        return;
    ++m_count;
    if (m_count == 1) {
        m_min = m_max = value;
    } else {
        m_min = std::min(m_min, value);
        m_max = std::max(m_max, value);
    }
    if (std::isinf(value)) {
        ++(value > 0.0 ? m_positiveInfinite : m_negativeInfinite);
        return;
    }
    if (m_unit == 0.0 || !(std::abs(value) < m_unit)) {
        int exponent = 0;
        std::frexp(value, &exponent); // |value| < 2^exponent
        raiseUnit(exponent);
    }
    const double x = std::ldexp(value, -m_exponent);
    ++m_finite;
    const double delta = x - m_mean;
    m_mean += delta / double(m_finite);
    m_m2 += delta * (x - m_mean);
}

void CRunningStats::merge(const CRunningStats &other)
{
    if (other.m_count == 0)
        return;
    if (m_count == 0) {
        *this = other;
        return;
    }
    m_count += other.m_count;
    m_min = std::min(m_min, other.m_min);
    m_max = std::max(m_max, other.m_max);
    m_positiveInfinite += other.m_positiveInfinite;
    m_negativeInfinite += other.m_negativeInfinite;
    if (other.m_finite == 0)
        return;
    if (m_finite == 0) {
        m_finite = other.m_finite;
        m_exponent = other.m_exponent;
        m_unit = other.m_unit;
        m_mean = other.m_mean;
        m_m2 = other.m_m2;
        return;
    }
    raiseUnit(other.m_exponent);
    const double factor = std::ldexp(1.0, other.m_exponent - m_exponent);
    const double otherMean = other.m_mean * factor;
    const double otherM2 = other.m_m2 * factor * factor;
    const double n = double(m_finite) + double(other.m_finite);
    const double delta = otherMean - m_mean;
    m_m2 += otherM2 + delta * delta * double(m_finite) * double(other.m_finite) / n;
    m_mean += delta * double(other.m_finite) / n;
    m_finite += other.m_finite;
}

double CRunningStats::mean() const
{
    if (m_positiveInfinite > 0 && m_negativeInfinite > 0)
        return std::numeric_limits<double>::quiet_NaN();
    if (m_positiveInfinite > 0)
        return std::numeric_limits<double>::infinity();
    if (m_negativeInfinite > 0)
        return -std::numeric_limits<double>::infinity();
    return m_finite == 0 ? 0.0 : std::ldexp(m_mean, m_exponent);
}

double CRunningStats::standardDeviation() const
{
    if (m_count < 2)
        return 0.0;
    if (m_positiveInfinite + m_negativeInfinite > 0)
        return std::numeric_limits<double>::infinity();
    return std::ldexp(std::sqrt(std::max(0.0, m_m2 / double(m_finite - 1))), m_exponent);
}

void CDurationQuantiles::add(double ms)
{
    if (std::isnan(ms))
        return;
    if (m_bins.empty())
        m_bins.assign(size_t(kBinCount), 0);
    ++m_bins[size_t(binOf(ms))];
    m_min = m_count ? std::min(m_min, ms) : ms;
    m_max = m_count ? std::max(m_max, ms) : ms;
    ++m_count;
    m_moments.add(ms);
}

void CDurationQuantiles::clear()
{
    *this = CDurationQuantiles();
}

double CDurationQuantiles::quantile(double q) const
{
    if (m_count == 0)
        return 0.0;
    const double wanted = std::ceil(std::clamp(q, 0.0, 1.0) * double(m_count));
    const uint64_t rank = std::max<uint64_t>(1, uint64_t(wanted));
    uint64_t seen = 0;
    for (int bin = 0; bin < kBinCount; ++bin) {
        seen += m_bins[size_t(bin)];
        if (seen >= rank) // below 1 us the smallest duration stands for all
            return bin == 0 ? m_min : std::clamp(binValue(bin), m_min, m_max);
    }
    return m_max;
}

void CTraceStats::clear()
{
    *this = CTraceStats();
}

void CTraceStats::addPeriodFrom(double startMs)
{
    if (startMs < 0.0)
        return;
    // A time before the previous one (a report whose clock was set back)
    // gives no period; the periods go on from it.
    if (m_lastStartMs >= 0.0 && startMs >= m_lastStartMs)
        m_period.add(startMs - m_lastStartMs);
    m_lastStartMs = startMs;
}

void CTraceStats::add(const TraceSample &sample)
{
    ++m_polls;
    if (sample.late)
        ++m_late;
    addPeriodFrom(sample.startMs);
    if (sample.exchangeMs >= 0.0)
        m_exchange.add(sample.exchangeMs);
    if (sample.ok) {
        ++m_good;
        m_values.add(sample.value);
    } else
        ++m_failed;
}

void CTraceStats::addReportSample(double timeMs, double value)
{
    ++m_polls;
    addPeriodFrom(timeMs);
    ++m_good;
    m_values.add(value);
}

std::vector<CTraceStats::Figure> CTraceStats::figures() const
{
    std::vector<Figure> out{{"samples", double(samples())},
                            {"failed polls", double(m_failed)},
                            {"late polls", double(m_late)}};
    if (m_period.count() > 0) {
        out.emplace_back("period mean ms", m_period.mean());
        out.emplace_back("period median ms", m_period.quantile(0.5));
        out.emplace_back("period p99 ms", m_period.quantile(0.99));
        out.emplace_back("period max ms", m_period.maximum());
    }
    if (m_exchange.count() > 0) {
        out.emplace_back("exchange median ms", m_exchange.quantile(0.5));
        out.emplace_back("exchange p99 ms", m_exchange.quantile(0.99));
        out.emplace_back("exchange max ms", m_exchange.maximum());
    }
    if (m_values.count() > 0) {
        out.emplace_back("value min", m_values.minimum());
        out.emplace_back("value max", m_values.maximum());
        out.emplace_back("value mean", m_values.mean());
        out.emplace_back("value std dev", m_values.standardDeviation());
    }
    return out;
}

std::string CTraceStats::formatFigures(const std::vector<Figure> &figures)
{
    std::string text;
    for (const Figure &figure : figures)
        text += figure.first + ": "
            + (std::isnan(figure.second) ? std::string("nan") : formatC("%.9g", figure.second))
            + "\n";
    return text;
}

void CBlockStats::clear()
{
    *this = CBlockStats();
}

void CBlockStats::add(double value)
{
    const uint64_t block = m_end / kBlock;
    if (m_blocks.empty())
        m_firstBlock = block;
    while (m_firstBlock + m_blocks.size() <= block)
        m_blocks.emplace_back();
    Block &last = m_blocks.back();
    last.stats.add(value);
    if (!(value > 0.0))
        ++last.nonPositive;
    ++m_end;
}

void CBlockStats::dropBefore(uint64_t first)
{
    first = std::min(first, m_end);
    if (first <= m_first)
        return;
    m_first = first;
    // Whole blocks before the new first point go; a block that is cut keeps
    // its summary, and ranges over it read its kept points one by one.
    while (!m_blocks.empty() && (m_firstBlock + 1) * kBlock <= m_first) {
        m_blocks.pop_front();
        ++m_firstBlock;
    }
}

CRunningStats CBlockStats::range(uint64_t first, uint64_t last,
                                 const std::function<double(uint64_t)> &valueAt,
                                 uint64_t *nonPositive) const
{
    CRunningStats stats;
    uint64_t below = 0;
    first = std::max(first, m_first);
    if (m_end > 0)
        last = std::min(last, m_end - 1);
    if (m_end == 0 || first > last) {
        if (nonPositive)
            *nonPositive = 0;
        return stats;
    }
    auto addPoints = [&](uint64_t from, uint64_t to) { // inclusive
        for (uint64_t i = from; i <= to; ++i) {
            const double value = valueAt(i);
            stats.add(value);
            if (!(value > 0.0))
                ++below;
        }
    };
    uint64_t i = first;
    while (i <= last) {
        const uint64_t block = i / kBlock;
        const uint64_t blockStart = block * kBlock;
        const uint64_t blockEnd = blockStart + kBlock - 1;
        // A whole block is taken from its summary; a range never starts
        // before the first point kept, so no such block lost points.
        if (i == blockStart && blockEnd <= last) {
            const Block &summary = m_blocks[size_t(block - m_firstBlock)];
            stats.merge(summary.stats);
            below += summary.nonPositive;
        } else {
            addPoints(i, std::min(blockEnd, last));
        }
        i = blockEnd + 1;
    }
    if (nonPositive)
        *nonPositive = below;
    return stats;
}
