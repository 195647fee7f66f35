#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct TraceSample;

// Count, mean, variance, minimum and maximum of a stream of values in
// constant memory (Welford's update); two of them merge into the figures
// of both streams together. The finite values are summed in units of a
// power of two at least as large as any of them, so values up to the
// largest double neither overflow the mean nor the spread; infinite
// values are counted apart. NaN values are not counted.
class CRunningStats
{
public:
    void add(double value);
    void merge(const CRunningStats &other);

    uint64_t count() const { return m_count; }
    // +inf or -inf when such values were added, NaN when both were.
    double mean() const;
    double minimum() const { return m_min; }
    double maximum() const { return m_max; }
    // Sample standard deviation (n - 1 in the denominator); 0 below two
    // values, +inf from two values on when one of them is infinite or the
    // spread is larger than the largest double.
    double standardDeviation() const;

private:
    // Takes the unit to 2^exponent (never smaller than it is).
    void raiseUnit(int exponent);

    uint64_t m_count = 0;
    uint64_t m_finite = 0;
    uint64_t m_positiveInfinite = 0;
    uint64_t m_negativeInfinite = 0;
    int m_exponent = 0;  // the unit is 2^m_exponent; every finite value is below it
    double m_unit = 0.0; // 2^m_exponent, 0 before the first finite value
    double m_mean = 0.0; // in units
    double m_m2 = 0.0;   // in units squared
    double m_min = 0.0;
    double m_max = 0.0;
};

// Quantiles of durations in milliseconds without keeping the durations:
// a histogram of logarithmic bins 0.1 % wide from 1 us to 10,000 s, so a
// quantile is exact to 0.05 % of its value (durations below 1 us count in
// the lowest bin, longer ones in the highest; the minimum and maximum are
// kept exactly). Adding is constant time; a quantile reads the bins once.
class CDurationQuantiles
{
public:
    void add(double ms);
    void clear();

    uint64_t count() const { return m_count; }
    double mean() const { return m_moments.mean(); }
    double maximum() const { return m_max; }
    double minimum() const { return m_min; }
    // The nearest-rank quantile (q from 0 to 1) of the durations added; 0
    // when none was.
    double quantile(double q) const;

private:
    std::vector<uint32_t> m_bins;
    uint64_t m_count = 0;
    CRunningStats m_moments;
    double m_min = 0.0;
    double m_max = 0.0;
};

// The figures of a trace run: polls, their period and exchange time, and
// the values of the good samples.
class CTraceStats
{
public:
    // One figure: its name as printed ("period p99 ms") and its value.
    using Figure = std::pair<std::string, double>;

    void clear();
    void add(const TraceSample &sample);
    // For a saved report: a good sample at a time in ms (negative: none).
    void addReportSample(double timeMs, double value);

    uint64_t samples() const { return m_good; }
    uint64_t failed() const { return m_failed; }
    uint64_t late() const { return m_late; }
    const CDurationQuantiles &period() const { return m_period; }
    const CDurationQuantiles &exchange() const { return m_exchange; }
    const CRunningStats &values() const { return m_values; }

    // Every figure that has a value, in the order printed.
    std::vector<Figure> figures() const;
    // "name: value" lines, values with 9 significant digits ("inf",
    // "-inf", "nan").
    static std::string formatFigures(const std::vector<Figure> &figures);

private:
    void addPeriodFrom(double startMs);

    CDurationQuantiles m_period;
    CDurationQuantiles m_exchange;
    CRunningStats m_values;
    uint64_t m_polls = 0;
    uint64_t m_good = 0;
    uint64_t m_failed = 0;
    uint64_t m_late = 0;
    double m_lastStartMs = -1.0;
};

// Statistics of any run of consecutive points of a series that grows at
// its end and loses points at its start, without visiting every point:
// points are summarised in blocks of a fixed count, so a range costs its
// two partial blocks plus one merge per whole block. Points are numbered
// from the first ever added.
class CBlockStats
{
public:
    static constexpr uint64_t kBlock = 1024;

    void clear();
    void add(double value);
    // Forgets the points numbered below first.
    void dropBefore(uint64_t first);
    uint64_t firstIndex() const { return m_first; }
    uint64_t endIndex() const { return m_end; }

    // Figures of points first..last (inclusive; clipped to those kept) and
    // how many of them are zero or negative. valueAt gives the value of a
    // kept point by its number (for the partial blocks at either end).
    CRunningStats range(uint64_t first, uint64_t last,
                        const std::function<double(uint64_t)> &valueAt,
                        uint64_t *nonPositive = nullptr) const;

private:
    struct Block
    {
        CRunningStats stats;
        uint64_t nonPositive = 0;
    };
    std::deque<Block> m_blocks; // block b holds points b*kBlock.. of all ever added
    uint64_t m_firstBlock = 0;
    uint64_t m_first = 0;
    uint64_t m_end = 0;
};
