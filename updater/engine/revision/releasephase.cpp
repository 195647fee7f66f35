#include "releasephase.h"

#include "revisionsignature.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace {

constexpr const char *kPhased = "Phased";
constexpr const char *kCritical = "Critical";

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return std::string_view();
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t cut = line.find(';', start);
        fields.push_back(trimmed(line.substr(start, cut - start)));
        if (cut == std::string_view::npos || fields.size() > 4)
            return fields;
        start = cut + 1;
    }
}

} // namespace

ReleasePhase readReleasePhase(std::string_view listBytes)
{
    ReleasePhase phase;
    bool seenPhased = false;
    for (std::size_t start = 0; start < listBytes.size();) {
        std::size_t end = listBytes.find('\n', start);
        if (end == std::string_view::npos)
            end = listBytes.size();
        const std::string_view line = listBytes.substr(start, end - start);
        start = end + 1;
        if (trimmed(line).substr(0, 1) != ";")
            continue;
        const std::vector<std::string_view> fields = fieldsOf(line);
        if (fields.size() == 2 && fields[1] == kCritical) {
            phase.critical = true;
        } else if (!seenPhased && fields.size() == 4 && fields[1] == kPhased) {
            seenPhased = true;
            std::time_t moment = 0;
            unsigned days = 0;
            const std::string_view count = fields[3];
            const auto [at, error] =
                std::from_chars(count.data(), count.data() + count.size(), days);
            if (parseUtcMoment(std::string(fields[2]), moment) && error == std::errc()
                && at == count.data() + count.size() && days >= 1 && days <= kMaxPhasedDays) {
                phase.phased = true;
                phase.start = moment;
                phase.days = days;
            }
        }
    }
    return phase;
}

std::string releasePhaseLines(const ReleasePhase &phase)
{
    std::string lines;
    if (phase.phased)
        lines += std::string("; ") + kPhased + "; " + utcMomentText(phase.start) + "; "
            + std::to_string(phase.days) + "\r\n";
    if (phase.critical)
        lines += std::string("; ") + kCritical + "\r\n";
    return lines;
}

std::time_t phaseBegins(const ReleasePhase &phase, double number)
{
    if (!phase.phased)
        return phase.start;
    const double clamped = number < 0 ? 0 : (number >= 1 ? 1 : number);
    return phase.start + static_cast<std::time_t>(std::floor(clamped * phase.days * 86400.0));
}
