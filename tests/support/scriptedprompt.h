#pragma once

#include "prompt.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

// Answers boxes from a queue of answers (the box's negative answer once
// the queue is empty) and records every box. Safe from any thread.
class ScriptedPrompt : public IPrompt
{
public:
    struct Box
    {
        std::string text;
        std::string caption;
        Buttons buttons;
        Icon icon;
    };

    Answer message(const std::string &text, const std::string &caption, Buttons buttons, Icon icon) override;

    void queueAnswer(Answer answer);
    std::vector<Box> boxes() const;

private:
    mutable std::mutex m_mutex;
    std::deque<Answer> m_answers;
    std::vector<Box> m_boxes;
};
