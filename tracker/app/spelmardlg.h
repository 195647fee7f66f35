#pragma once

#include "commandconsole.h"
#include "deviceconnection.h"
#include "devicesession.h"
#include "deviceworker.h"
#include "updatebinding.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

class CCWButton;
class CWidgetPrompt;
class CTraceDlg;
class IPrompt;
class QAction;
class QLabel;
namespace Ui {
class CSpelmarDlg;
}

// The tracker's main window: connection and identity at the top, the
// command console in the middle, the trace panel below. It owns the device
// session for the whole run; the connection and console logic report to it
// and it only shows what they report.
//
// Every exchange of the window (connect, identification, command list,
// console sends, disconnect) runs on one device worker, in the order asked;
// results come back as queued calls, so the window answers input whatever
// the device does. A Send that waits disables its button. A lost device
// (see CDeviceSession::Loss) is told in the answer line, turns the LED red
// and puts the console back into its disconnected state; the port is then
// reopened once a second with the same settings until the device answers
// again, and a trace under way goes on. Disconnect cancels the exchange
// under way and resets the window at once.
//
// Objects named for tests: portCombo, connectButton, baudCombo,
// updatesButton, modelLabel, revLabel, serialLabel, partLabel,
// commandListCombo, helpLabel, commandCombo, sendButton, continuousCheck,
// answerLabel, simulationCheck, connectedLed, lineControlButton.
//
// Test builds can make the window end itself once shown (CTestAnswers).
class CSpelmarDlg : public QDialog
{
    Q_OBJECT

public:
    // Whether the window binds the update library while it is set up. The
    // program does; windows made for other purposes (tests, screenshots)
    // leave the user's reminder alone.
    enum class UpdateLibrary
    {
        Skip,
        Load
    };

    // prompt: where boxes and questions go; null means message boxes.
    explicit CSpelmarDlg(IPrompt *prompt = nullptr, QWidget *parent = nullptr,
                         UpdateLibrary updates = UpdateLibrary::Skip);
    ~CSpelmarDlg() override;

    static QString windowTitleText();

    // The smallest size at which every control of the window and of the
    // trace panel is whole and the graph keeps some height.
    QSize minimumSizeHint() const override;

    // Connect / Disconnect button.
    void onConnect();
    // Ends continuous sending, stops a trace (waiting for its last poll)
    // and closes the port. Always true.
    bool Disconnect();
    // Send / Stop button.
    void onSend();
    // The chosen command list entry's command and help into their fields.
    void ShowCommandHelp();
    // The ">" button next to "Updates :".
    void onUpdateSettings();
    void showAbout();

    CTraceDlg *tracePanel() const { return m_trace; }
    CDeviceSession &session() { return m_session; }
    bool isContinuousSending() const { return m_continuousSending; }
    // The connect sequence or a console exchange runs on the worker.
    bool isBusy() const { return m_connecting || m_sending; }
    // The current directory at start-up, with a trailing separator.
    const QString &programFolder() const { return m_programFolder; }
    const CUpdateBinding &updateBinding() const { return m_updates; }
    QAction *aboutAction() const { return m_aboutAction; }

public slots:
    // Enter does not close the window.
    void accept() override;
    // Esc, the close box and Close: stop the trace, disconnect, close.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void addSendIntervalField();
    void OnInitDialog();
    void watchSettingsFiles();
    // Shrinks the window (down to its minimum) when shrink is set and
    // moves its frame onto the screen's free area.
    void fitIntoScreen(bool shrink);
    void onSendTimer();
    // Runs work() on the device worker, then done(result, current) on this
    // thread; current is false when a disconnect came in between.
    template <typename Work, typename Done>
    void onWorker(Work work, Done done);
    void onConnected(CDeviceConnection::Result result, bool stored);
    void onDeviceLost();
    // One try to reopen the lost port, on the worker.
    void onReconnectTimer();
    // Ends continuous sending and disables the console.
    void resetConsole();
    void showOutcome(const CCommandConsole::Outcome &outcome, bool current);
    void setAnswer(const std::string &text);
    void setHelp(const QString &text);
    void setConsoleEnabled(bool enabled);
    void onLinkOpened(bool opened);
    void onLinkClosed();
    void onField(CDeviceConnection::Field field, const std::string &text);
    void fillCommandList();
    void loadHistory();
    void rememberCommand(const std::string &command);
    // Fills the command field's list with the history, keeping the text.
    void showHistory(const QString &text);
    void askContinueLogging();
    void stopTraceAndWait();
    QLabel *fieldLabel(CDeviceConnection::Field field) const;

    std::unique_ptr<Ui::CSpelmarDlg> m_ui;
    std::unique_ptr<CWidgetPrompt> m_ownPrompt;
    IPrompt *m_prompt = nullptr;
    CDeviceSession m_session;
    CDeviceConnection m_connection;
    CCommandConsole m_console;
    std::unique_ptr<CDeviceWorker> m_worker;
    // Counts disconnects: a result that comes back from an earlier link
    // is not shown.
    unsigned m_linkGeneration = 0;
    bool m_connected = false;
    bool m_connecting = false;
    bool m_sending = false;
    CTraceDlg *m_trace = nullptr;
    CCWButton *m_connectedLed = nullptr;
    QAction *m_aboutAction = nullptr;
    QTimer m_sendTimer;
    QTimer m_reconnectTimer;
    bool m_reconnecting = false; // a try to reopen the port runs
    std::string m_command;
    bool m_continuousCheck = false;
    bool m_continuousSending = false;
    bool m_shownOnce = false;
    QString m_programFolder;
    CUpdateBinding m_updates;
};
