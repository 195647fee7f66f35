#include "tracesettings.h"

#include "settingsstore.h"

std::string CTraceSettings::read(const char *name)
{
    CSettingsStore store;
    return store.value(name);
}

void CTraceSettings::write(const char *name, const std::string &value)
{
    CSettingsStore store;
    store.WriteValue(name, value);
}
