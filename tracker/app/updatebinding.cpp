#include "updatebinding.h"

#include "programinfo.h"
#include "prompt.h"

#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace {

std::string withSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

template <typename Function>
Function entry(void *module, const char *name)
{
    return reinterpret_cast<Function>(dlsym(module, name));
}

} // namespace

CUpdateBinding::CUpdateBinding(std::string ownFolder)
    : m_ownFolder(ownFolder.empty() ? executableFolder() : std::move(ownFolder))
{
}

std::string CUpdateBinding::programPathFor(const std::string &programFolder)
{
    const std::string folder = withSeparator(programFolder);
    const std::string program = folder + kProgramName;
    std::error_code ec;
    return std::filesystem::is_regular_file(program, ec) ? program : folder;
}

bool CUpdateBinding::LoadUpdateLibrary(IPrompt &prompt)
{
    if (!m_module) {
        if (!m_ownFolder.empty()) {
            const std::string beside = withSeparator(m_ownFolder) + kLibraryName;
            m_module = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!m_module)
            m_module = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    }
    if (m_module) {
        m_updateInfo = entry<UpdateInfoFunction>(m_module, "UpdateInfo");
        m_updateSetupScheduler =
            entry<UpdateSetupSchedulerFunction>(m_module, "UpdateSetupScheduler");
        m_updateStartSchedule = entry<UpdateStartScheduleFunction>(m_module, "UpdateStartSchedule");
    }
    // The library stays loaded even when an entry is missing.
    m_bound = m_updateInfo && m_updateSetupScheduler && m_updateStartSchedule;
    if (!m_bound && !m_failureShown) {
        m_failureShown = true;
        prompt.message(std::string("Can not load the ") + kLibraryName + " !!! ", std::string(),
                       IPrompt::Buttons::Ok, IPrompt::Icon::Stop);
    }
    return m_bound;
}

void CUpdateBinding::StartSchedule(const std::string &programFolder)
{
    if (!m_bound)
        return;
    m_updateStartSchedule(kServerPath, programPathFor(programFolder).c_str());
}

void CUpdateBinding::setupScheduler()
{
    if (m_bound)
        m_updateSetupScheduler(kServerPath);
}
