#pragma once

#include "prompt.h"

#include <atomic>
#include <chrono>

class CProgramFolderLock;

// A prompt that lets the program folder go while its box waits: the lock
// is released before the question and taken again after it (waiting up to
// wait, giving up early on cancel), so that another run started meanwhile
// is not turned away as busy. Whoever goes on after a box checks
// lock.held().
class CLockFreePrompt : public IPrompt
{
public:
    CLockFreePrompt(IPrompt &prompt, CProgramFolderLock &lock, std::chrono::milliseconds wait,
                    const std::atomic<bool> *cancel = nullptr);

    Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                   Icon icon) override;

private:
    IPrompt &m_prompt;
    CProgramFolderLock &m_lock;
    std::chrono::milliseconds m_wait;
    const std::atomic<bool> *m_cancel;
};
