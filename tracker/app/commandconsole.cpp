#include "commandconsole.h"

#include "devicesession.h"
#include "textline.h"

#include <algorithm>

namespace {

bool isBlank(const std::string &text)
{
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

} // namespace

const char *const CCommandConsole::kNoAnswerSuffix = " -> no answer!";
const char *const CCommandConsole::kWaitText = "> wait ...";
const char *const CCommandConsole::kNotConnectedText = ">> not connected to ORBO";
const char *const CCommandConsole::kHelpListingText =
    " -> no answer! The help listing is no one-line answer: it fills the command list at connect";

CCommandConsole::CCommandConsole(CDeviceSession &session)
    : m_session(session)
{
}

CCommandConsole::Outcome CCommandConsole::send(const std::string &command)
{
    // A failed first try is made once more; both run under one take of
    // the bus lock, so a polling trace cannot double the wait between them.
    Outcome outcome;
    outcome.result = m_session.Transact(command, m_echo, m_reply, 2, &outcome.attempts);
    if (refused(outcome))
        return outcome;
    if (outcome.result >= 0 || (outcome.attempts == 2 && outcome.result == -2)) {
        outcome.answered = true;
        outcome.text = withoutLineEnd(m_reply);
    } else {
        outcome.text = withoutLineEnd(m_echo) + kNoAnswerSuffix;
        explainFailure(command, outcome);
    }
    return outcome;
}

CCommandConsole::Outcome CCommandConsole::sendRepeated(const std::string &command)
{
    Outcome outcome;
    outcome.result = m_session.Transact(command, m_echo, m_reply);
    outcome.attempts = 1;
    outcome.answered = outcome.result >= 0;
    if (!refused(outcome))
        outcome.text =
            outcome.answered ? withoutLineEnd(m_reply) : withoutLineEnd(m_echo) + kNoAnswerSuffix;
    if (!outcome.answered)
        explainFailure(command, outcome);
    return outcome;
}

void CCommandConsole::explainFailure(const std::string &command, Outcome &outcome) const
{
    if (m_session.isLost()) {
        outcome.lost = true;
        outcome.text = "!! " + m_session.lossText();
    } else if (trimmed(command) == "HLP" && m_reply == CDeviceSession::kTimeoutText) {
        // The exchange closes a reply at its line end; the help listing
        // has many lines and ends only by silence.
        outcome.text = "HLP" + std::string(kHelpListingText);
    }
}

bool CCommandConsole::refused(Outcome &outcome) const
{
    // A command the exchange refused never reached the device: trying
    // again cannot help, and "no answer" would not say why.
    if (outcome.result >= 0 || m_reply != CDeviceSession::kCommandTooLong)
        return false;
    outcome.text = m_reply;
    outcome.attempts = 0;
    return true;
}

void CCommandConsole::setHistory(std::deque<std::string> history)
{
    m_history.clear();
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        remember(*it);
}

void CCommandConsole::remember(const std::string &command)
{
    if (isBlank(command))
        return;
    m_history.erase(std::remove(m_history.begin(), m_history.end(), command), m_history.end());
    m_history.push_front(command);
    while (m_history.size() > kHistorySize)
        m_history.pop_back();
}
