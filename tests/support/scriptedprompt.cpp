#include "scriptedprompt.h"

IPrompt::Answer ScriptedPrompt::message(const std::string &text, const std::string &caption, Buttons buttons,
                                        Icon icon)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.push_back({text, caption, buttons, icon});
    if (m_answers.empty())
        return buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    const Answer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void ScriptedPrompt::queueAnswer(Answer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<ScriptedPrompt::Box> ScriptedPrompt::boxes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}
