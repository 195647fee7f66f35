#pragma once

#include "serialconfig.h"

#include <functional>
#include <string>
#include <vector>

class CDeviceSession;

// The connect, baud search, identification and disconnect sequence of the
// tracker, without any widget. It drives one CDeviceSession and reports
// what a window shows (the answer line, the identity fields, the link
// state) through callbacks, so the main window and the command-line tool
// run the same steps.
class CDeviceConnection
{
public:
    enum class Field
    {
        Model,
        Revision,
        Serial,
        Part
    };

    enum class Result
    {
        Connected,  // identified and the command list loaded
        OpenFailed, // the port could not be opened
        NoAnswer,   // no answer to the revision query (or no baud rate answered)
        BootState,  // identified, but the device sent no command list
        Lost        // the device was lost on the way (the line hung up)
    };

    struct Callbacks
    {
        // A status or answer text for the "Answer :" line.
        std::function<void(const std::string &)> answer;
        // The port was opened (true) or could not be opened (false).
        std::function<void(bool)> linkOpened;
        // An open port was closed: every connected-state control resets.
        std::function<void()> linkClosed;
        // One identity field has a new text.
        std::function<void(Field, const std::string &)> field;
    };

    // The baud rates of the automatic search, in the order they are tried.
    static const std::vector<unsigned> &searchOrder();
    // The choices of the baud list, "auto" first.
    static const std::vector<std::string> &baudChoices();

    explicit CDeviceConnection(CDeviceSession &session);

    void setCallbacks(Callbacks callbacks);
    // What the next opens do with DTR and RTS (both raised until this is
    // called).
    void setLineControl(LineControl dtr, LineControl rts);

    // The whole connect sequence: the port text as typed (a COM number or
    // a device path), the baud text ("auto" or a rate), simulated mode.
    Result Connect(const std::string &port, const std::string &baud, bool simulated);
    // The first steps of Connect alone: open the port (searching the baud
    // rate for "auto"); Connected means open.
    Result openPort(const std::string &port, const std::string &baud, bool simulated);
    // Open and identify, without the command list; Connected means
    // identified.
    Result openAndIdentify(const std::string &port, const std::string &baud, bool simulated);

    // Fills the configuration and opens the port. Automatic: keeps the
    // baud rate the search set and uses a 200 ms read time-out, else the
    // rate of the baud text and 2000 ms.
    bool OpenLink(bool automatic);
    // 1 found (or already open), -1 the port could not be opened, -2 no
    // baud rate answered.
    int SearchBaud();
    // True when the device answered the revision query and was not lost
    // on the way; the later steps may go unanswered (unanswered()).
    bool Identify();
    // Closes the port when it is open; always true.
    bool Disconnect();

    bool isOpen() const;
    const std::string &portText() const { return m_port; }
    const std::string &baudText() const { return m_baud; }

    const std::string &revision() const { return m_revision; }
    const std::string &part() const { return m_part; }
    const std::string &serial() const { return m_serial; }
    const std::string &model() const { return m_model; }
    // The identification steps of the last Identify that got no answer, in
    // the order asked ("PAN", "SNU", "SPR", ...); a step after a failed
    // SPR or SFS is not asked.
    const std::vector<std::string> &unanswered() const { return m_unanswered; }
    // Entries of the device's command list, as the last Connect loaded them.
    const std::vector<std::string> &commandList() const { return m_commands; }
    // Whether that listing was cut at CDeviceSession::kMaxListing.
    bool commandListCut() const { return m_commandsCut; }
    // The rate the last automatic search found; 0 when it found none, no
    // search ran or the device is simulated.
    unsigned foundBaud() const { return m_foundBaud; }
    // Why the port could not be opened (busy, no such device, no
    // permission); empty after a good open.
    const std::string &openFailure() const { return m_openFailure; }

    // The texts of the answer line.
    static std::string openFailedText(const std::string &port);
    static std::string openedText(const std::string &port);
    // "Baud rate found: N", as the answer line and the tool tell it.
    static std::string foundBaudText(unsigned baud);
    // "!! ORBO lost: ..." for the session's loss.
    static std::string lostText(const CDeviceSession &session);
    // "... (listing cut at 256 KiB)": the line after a cut listing.
    static std::string listingCutText();
    // The lost text, and that the port is being reopened.
    static std::string reconnectingText(const CDeviceSession &session);
    // The device answered again on the reopened port.
    static std::string backText(const std::string &port);
    static const char *const kLoadingText;
    static const char *const kNoAnswerText;
    static const char *const kBootStateText;
    static const char *const kReadyText;
    static const char *const kDisconnectedText;

private:
    void report(const std::string &text);
    void setField(Field field, const std::string &text);
    // Closes the port and tells why the device was lost.
    Result lost();

    CDeviceSession &m_session;
    Callbacks m_callbacks;
    std::string m_port;
    std::string m_baud;
    std::string m_revision;
    std::string m_part;
    std::string m_serial;
    std::string m_model;
    std::vector<std::string> m_commands;
    bool m_commandsCut = false;
    std::vector<std::string> m_unanswered;
    std::string m_openFailure;
    unsigned m_foundBaud = 0;
    LineControl m_dtr = kDefaultLineControl;
    LineControl m_rts = kDefaultLineControl;
};
