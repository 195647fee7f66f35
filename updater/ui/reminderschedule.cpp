#include "reminderschedule.h"

#include "oledate.h"
#include "registryaccess.h"

namespace ReminderSchedule {

using namespace UpdateSettings;

Decision decide(const Values &values, double now)
{
    if (!values.activeFound)
        return Decision::Due;
    if (values.active == 0)
        return Decision::Off;
    if (values.check != 0) {
        const double elapsedDays = now - values.lastUpdate;
        if (elapsedDays < static_cast<double>(values.interval))
            return Decision::NotDue;
    }
    return Decision::Due;
}

Values read(const std::string &keyPath)
{
    Values values;
    CRegistryAccess registry;
    values.activeFound =
        registry.ReadDword(keyPath, kActive, values.active) == CRegistryAccess::kOk;
    registry.ReadDword(keyPath, kCheck, values.check);
    registry.ReadDword(keyPath, kInterval, values.interval);
    std::string lastUpdate;
    registry.ReadString(keyPath, kLastUpdate, lastUpdate);
    values.lastUpdate = parseOleDate(lastUpdate);
    return values;
}

void writeDefaults(const std::string &keyPath, double now)
{
    CRegistryAccess registry;
    registry.WriteDword(keyPath, kActive, kDefaultActive);
    registry.WriteDword(keyPath, kCheck, kDefaultCheck);
    registry.WriteDword(keyPath, kInterval, kDefaultInterval);
    registry.WriteString(keyPath, kLastUpdate, formatOleDate(now));
}

void stamp(const std::string &keyPath, double now)
{
    CRegistryAccess registry;
    registry.WriteString(keyPath, kLastUpdate, formatOleDate(now));
}

bool takeReadOnlyNotice(const std::string &keyPath)
{
    CRegistryAccess registry;
    std::uint32_t told = 0;
    if (registry.ReadDword(keyPath, kReadOnlyNotice, told) == CRegistryAccess::kOk && told != 0)
        return false;
    registry.WriteDword(keyPath, kReadOnlyNotice, 1);
    return true;
}

Decision evaluate(const std::string &keyPath, double now)
{
    Values values = read(keyPath);
    if (!values.activeFound) {
        writeDefaults(keyPath, now);
        values = read(keyPath);
        // Without write access the defaults are missing again; the reminder
        // still counts as on.
        values.activeFound = true;
        values.active = 1;
    }
    return decide(values, now);
}

} // namespace ReminderSchedule
