#pragma once

#include "settings/updatesettings.h"

#include <cstdint>
#include <string>

// The reminder's settings of one host program and the rule that says
// whether a scheduled update check is due. Logic only: the clock is a
// parameter.
namespace ReminderSchedule {

struct Values
{
    bool activeFound = false; // false on the first start
    std::uint32_t active = 0;
    std::uint32_t check = 0;
    std::uint32_t interval = 0;
    double lastUpdate = 0.0; // OLE automation date, local time
};

enum class Decision
{
    Off,
    NotDue,
    Due
};

// Pure start-up rule. now is the current moment as an OLE automation date.
// Without an Active value the reminder counts as on and checking at each
// start. Any non-zero Check selects the interval rule; a check is due once
// the days since LastUpdate reach Interval.
Decision decide(const Values &values, double now);

// Reads the four values of a key; unreadable numbers give 0, an unreadable
// LastUpdate gives 0 (30 December 1899).
Values read(const std::string &keyPath);

// Active 1, Check 0, Interval 5, LastUpdate now.
void writeDefaults(const std::string &keyPath, double now);

// LastUpdate = now.
void stamp(const std::string &keyPath, double now);

// True the first time it is asked for a key, false ever after: a
// read-only program folder is told once, not at every start.
bool takeReadOnlyNotice(const std::string &keyPath);

// The start-up step: writes the defaults when Active is missing, then
// decides.
Decision evaluate(const std::string &keyPath, double now);

} // namespace ReminderSchedule
