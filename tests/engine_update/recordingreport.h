#pragma once

#include "jobreport.h"
#include "prompt.h"

#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

// Keeps a job's list as a window would show it, and lets a test wait for
// the end of the run.
class RecordingReport : public IJobReport
{
public:
    // Called on the worker thread with every line as it is added.
    std::function<void(const std::string &)> onLine;

    void addLine(const std::string &line) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines << QString::fromStdString(line);
        }
        if (onLine)
            onLine(line);
    }
    void removeLastLine() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_lines.isEmpty())
            m_lines.removeLast();
    }
    void setProgressRange(int, int) override {}
    void setProgress(int position) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_position = position;
    }
    void finished() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_finishedCount;
        m_done.notify_all();
    }

    // Generous: the machine may be loaded.
    bool waitFinished(std::chrono::seconds limit = std::chrono::seconds(120))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_done.wait_for(lock, limit, [this] { return m_finishedCount > 0; });
    }

    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    int finishedCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_finishedCount;
    }
    int progress() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_position;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    QStringList m_lines;
    int m_position = 0;
    int m_finishedCount = 0;
};

// Answers boxes from a script (Yes or No to questions, OK otherwise) and
// keeps every text it was shown.
class ScriptedPrompt : public IPrompt
{
public:
    explicit ScriptedPrompt(Answer toQuestions = Answer::No)
        : m_toQuestions(toQuestions)
    {
    }

    Answer message(const std::string &text, const std::string &, Buttons buttons, Icon icon) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts << QString::fromStdString(text);
        m_icons.push_back(icon);
        return buttons == Buttons::YesNo ? m_toQuestions : Answer::Ok;
    }

    QStringList texts() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }
    std::deque<Icon> icons() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_icons;
    }

private:
    mutable std::mutex m_mutex;
    Answer m_toQuestions;
    QStringList m_texts;
    std::deque<Icon> m_icons;
};
