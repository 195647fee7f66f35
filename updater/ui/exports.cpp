// The six exported entry points. Each catches everything: no exception
// leaves the library.
#include "moravel.h"

#include "moravelinstance.h"

#include <string>

namespace {

std::string text(const char *value)
{
    return value ? std::string(value) : std::string();
}

} // namespace

extern "C" {

MORAVEL_EXPORT bool ReleaseInfo(const char *pagePath)
{
    try {
        CMoravelInstance::showReleaseInfo(text(pagePath));
    } catch (...) {
    }
    return true;
}

MORAVEL_EXPORT bool UpdateInfo(const char *serverPath, const char *programPath)
{
    try {
        CMoravelInstance::updateInfo(text(serverPath), text(programPath));
    } catch (...) {
    }
    return false;
}

MORAVEL_EXPORT bool UpdateStartSchedule(const char *serverPath, const char *programPath)
{
    try {
        return CMoravelInstance::startSchedule(text(serverPath), text(programPath));
    } catch (...) {
        return false;
    }
}

MORAVEL_EXPORT bool UpdateFiles(const char *serverPath, const char *programPath,
                                unsigned char takeAll)
{
    try {
        CMoravelInstance::updateFiles(text(serverPath), text(programPath), takeAll != 0);
    } catch (...) {
    }
    return true;
}

MORAVEL_EXPORT bool RestoreFiles(const char *releaseName, const char *programPath)
{
    try {
        CMoravelInstance::restoreFiles(text(releaseName), text(programPath));
    } catch (...) {
    }
    return true;
}

MORAVEL_EXPORT bool UpdateSetupScheduler(const char *serverPath)
{
    try {
        CMoravelInstance::setupScheduler(text(serverPath));
    } catch (...) {
    }
    return true;
}

} // extern "C"
