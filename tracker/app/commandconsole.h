#pragma once

#include <deque>
#include <string>

class CDeviceSession;

// The console's exchanges, without widgets: a single send that tries a
// second time when the first fails, a repeated send without a second try,
// and the last commands sent, newest first.
class CCommandConsole
{
public:
    static constexpr std::size_t kHistorySize = 20;

    struct Outcome
    {
        bool answered = false; // the device replied (a "Can..." reply included)
        int result = -1;       // the last Transact result
        int attempts = 0;      // exchanges made
        bool lost = false;     // the device is lost; text names the cause
        std::string text;      // what the answer line shows
    };

    explicit CCommandConsole(CDeviceSession &session);

    // Single send: a failed first exchange is repeated once.
    Outcome send(const std::string &command);
    // One exchange of continuous sending; no second attempt.
    Outcome sendRepeated(const std::string &command);

    // Puts a command at the front of the history (once; blank ones are
    // ignored) and drops the oldest beyond kHistorySize.
    void remember(const std::string &command);
    const std::deque<std::string> &history() const { return m_history; }
    // Replaces the history (newest first), by the rules of remember().
    void setHistory(std::deque<std::string> history);

    static const char *const kNoAnswerSuffix;
    static const char *const kWaitText;
    static const char *const kNotConnectedText;
    // Why "HLP" gets no answer here: its listing is no one-line reply.
    static const char *const kHelpListingText;

private:
    // Fills the outcome of a command the session refused as too long.
    bool refused(Outcome &outcome) const;
    // A failed exchange on a lost device, or of "HLP", says why.
    void explainFailure(const std::string &command, Outcome &outcome) const;

    CDeviceSession &m_session;
    std::deque<std::string> m_history;
    std::string m_echo;
    std::string m_reply;
};
