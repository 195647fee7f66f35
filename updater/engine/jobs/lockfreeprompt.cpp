#include "lockfreeprompt.h"

#include "folder/folderlock.h"

CLockFreePrompt::CLockFreePrompt(IPrompt &prompt, CProgramFolderLock &lock,
                                 std::chrono::milliseconds wait, const std::atomic<bool> *cancel)
    : m_prompt(prompt)
    , m_lock(lock)
    , m_wait(wait)
    , m_cancel(cancel)
{
}

IPrompt::Answer CLockFreePrompt::message(const std::string &text, const std::string &caption,
                                         Buttons buttons, Icon icon)
{
    const bool held = m_lock.held();
    m_lock.release();
    const Answer answer = m_prompt.message(text, caption, buttons, icon);
    if (held)
        m_lock.acquire(m_wait, m_cancel);
    return answer;
}
