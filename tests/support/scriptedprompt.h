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

    Answer message(const std::string &text, const std::string &caption, Buttons buttons, Icon icon) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxes.push_back({text, caption, buttons, icon});
        if (m_answers.empty())
            return negativeAnswer(buttons);
        const Answer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    void queueAnswer(Answer answer)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back(answer);
    }
    std::vector<Box> boxes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<Answer> m_answers;
    std::vector<Box> m_boxes;
};
