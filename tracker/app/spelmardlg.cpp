#include "spelmardlg.h"

#include "aboutdlg.h"
#include "ccwbutton.h"
#include "commandcatalogue.h"
#include "linecontrol.h"
#include "settingsdefaults.h"
#include "settingsfile.h"
#include "settingskeys.h"
#include "settingsstore.h"
#include "testanswers.h"
#include "textline.h"
#include "tracedlg.h"
#include "widgetprompt.h"
#include "ui_spelmardlg.h"
#include "version.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPointer>
#include <QLineEdit>
#include <QEventLoop>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const int kSendIntervalMs = 200;
// How often a lost port is tried again.
const int kReconnectIntervalMs = 1000;
const char *const kAboutEntry = "Inf&o \xc3\xbc"
                                "ber Dunvik...";

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

template <typename Work, typename Done>
void CSpelmarDlg::onWorker(Work work, Done done)
{
    const unsigned generation = m_linkGeneration;
    m_worker->post([this, work, done, generation] {
        auto result = work();
        QMetaObject::invokeMethod(
            this,
            [this, result, done, generation] { done(result, generation == m_linkGeneration); },
            Qt::QueuedConnection);
    });
}

QString CSpelmarDlg::windowTitleText()
{
    return QStringLiteral("Spelmar    V ") + QLatin1String(SPELMAR_VERSION);
}

CSpelmarDlg::CSpelmarDlg(IPrompt *prompt, QWidget *parent, UpdateLibrary updates)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CSpelmarDlg>())
    , m_prompt(prompt)
    , m_connection(m_session)
    , m_console(m_session)
{
    Q_INIT_RESOURCE(spelmar);
    if (!m_prompt) {
        m_ownPrompt = std::make_unique<CWidgetPrompt>(this, QStringLiteral("Spelmar"));
        m_prompt = m_ownPrompt.get();
    }
    m_programFolder = QDir::currentPath() + QLatin1Char('/');
    watchSettingsFiles();
    // The update library's settings are checked here too, so that what
    // happened to them is said in this window.
    if (updates == UpdateLibrary::Load)
        SettingsFile::prepare(QString::fromLatin1(SettingsKeys::kOrganisation),
                              QString::fromLatin1(SettingsKeys::kUpdateApplication));
    if (updates == UpdateLibrary::Load && m_updates.LoadUpdateLibrary(*m_prompt))
        m_updates.StartSchedule(m_programFolder.toStdString());
    OnInitDialog();
}

CSpelmarDlg::~CSpelmarDlg()
{
    SettingsFile::setNoticeHandler(nullptr);
    // The worker and the trace panel's thread use the session: end both
    // before the session goes, without waiting out the device.
    m_sendTimer.stop();
    m_reconnectTimer.stop();
    m_session.cancelExchanges();
    delete m_trace;
    m_trace = nullptr;
    m_worker->stop();
    if (m_session.port().isOpen())
        m_session.port().Close();
}

void CSpelmarDlg::OnInitDialog()
{
    // The dialogs are laid out for a small sans-serif face of 11 pixels;
    // where that face is missing a metric look-alike stands in.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    QFont dialogFont(QStringLiteral("MS Sans Serif"));
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);

    // The About entry lives in the window's context menu.
    m_aboutAction = new QAction(QString::fromUtf8(kAboutEntry), this);
    m_aboutAction->setObjectName(QStringLiteral("aboutAction"));
    connect(m_aboutAction, &QAction::triggered, this, &CSpelmarDlg::showAbout);
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    addAction(m_aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    setWindowIcon(QIcon(QStringLiteral(":/spelmar/spelmar.png")));
    setWindowTitle(windowTitleText());

    m_connectedLed = new CCWButton(this);
    m_connectedLed->setObjectName(QStringLiteral("connectedLed"));
    m_connectedLed->setLed(true);
    m_connectedLed->setAccessibleName(QStringLiteral("Connection"));
    m_connectedLed->setGeometry(m_ui->connectedLedPlace->geometry());
    m_ui->connectedLedPlace->hide();

    // The port field offers the serial ports of this machine and takes a
    // COM number or a device path as typed.
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        m_ui->portCombo->addItem(info.systemLocation());
    m_ui->portCombo->setEditText(qs(CSettingsStore().value(SettingsKeys::kComport)));

    for (const std::string &baud : CDeviceConnection::baudChoices())
        m_ui->baudCombo->addItem(qs(baud));
    const QString storedBaud = qs(CSettingsStore().value(SettingsKeys::kBaud));
    int baudIndex = -1;
    // Prefix search that starts after the first entry and wraps; an empty
    // text matches the entry after the first.
    const int count = m_ui->baudCombo->count();
    for (int step = 1; step <= count && baudIndex < 0; ++step) {
        const int i = step % count;
        if (m_ui->baudCombo->itemText(i).startsWith(storedBaud, Qt::CaseInsensitive))
            baudIndex = i;
    }
    m_ui->baudCombo->setCurrentIndex(baudIndex);
    m_ui->lineControlButton->setChoice(
        SettingsDefaults::lineControl(CSettingsStore().value(SettingsKeys::kDtr)),
        SettingsDefaults::lineControl(CSettingsStore().value(SettingsKeys::kRts)));

    m_ui->commandListCombo->setEnabled(false);
    m_ui->commandCombo->setEnabled(false);
    m_ui->sendButton->setEnabled(false);
    m_ui->continuousCheck->setEnabled(false);
    m_ui->answerLabel->clear();
    m_ui->helpLabel->clear();
    for (QLabel *label : {m_ui->modelLabel, m_ui->revLabel, m_ui->serialLabel, m_ui->partLabel})
        label->clear();

    QFont display(QStringLiteral("Arial"));
    display.setPixelSize(16);
    display.setBold(true);
    for (QWidget *w :
         std::initializer_list<QWidget *>{m_ui->modelLabel, m_ui->revLabel, m_ui->serialLabel,
                                          m_ui->partLabel, m_ui->commandCombo, m_ui->answerLabel})
        w->setFont(display);
    m_continuousSending = false;

    m_trace = new CTraceDlg(this);
    m_trace->setObjectName(QStringLiteral("tracePanel"));
    m_trace->setOwner(&m_session, m_prompt, [this] {
        TraceOwnerInfo info;
        info.part = m_ui->partLabel->text().toStdString();
        info.serial = m_ui->serialLabel->text().toStdString();
        info.port = m_connection.portText();
        return info;
    });
    m_trace->LayoutTracePanel();
    m_trace->hide();
    m_ui->simulationCheck->show();

    // The connection runs on the worker; what it reports is shown here, in
    // the order it happened.
    const auto later = [this](auto show) {
        QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
    };
    CDeviceConnection::Callbacks callbacks;
    callbacks.answer = [this, later](const std::string &text) {
        later([this, text] { setAnswer(text); });
    };
    callbacks.linkOpened = [this, later](bool opened) {
        later([this, opened] { onLinkOpened(opened); });
    };
    callbacks.linkClosed = [this, later] { later([this] { onLinkClosed(); }); };
    callbacks.field = [this, later](CDeviceConnection::Field field, const std::string &text) {
        later([this, field, text] { onField(field, text); });
    };
    m_connection.setCallbacks(std::move(callbacks));
    m_session.setLossCallback(
        [this, later](CDeviceSession::Loss) { later([this] { onDeviceLost(); }); });
    // Started once everything it reports to is in place.
    m_worker = std::make_unique<CDeviceWorker>(m_session);

    m_sendTimer.setInterval(kSendIntervalMs);
    m_reconnectTimer.setInterval(kReconnectIntervalMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &CSpelmarDlg::onReconnectTimer);
    addSendIntervalField();
    connect(&m_sendTimer, &QTimer::timeout, this, &CSpelmarDlg::onSendTimer);
    connect(m_ui->connectButton, &QPushButton::clicked, this, &CSpelmarDlg::onConnect);
    connect(m_ui->sendButton, &QPushButton::clicked, this, &CSpelmarDlg::onSend);
    connect(m_ui->updatesButton, &QPushButton::clicked, this, &CSpelmarDlg::onUpdateSettings);
    connect(m_ui->commandListCombo, qOverload<int>(&QComboBox::activated), this,
            [this](int) { ShowCommandHelp(); });
    // Enter in the command field sends, as in any serial terminal; Up and
    // Down walk through the commands sent before, kept across runs.
    connect(m_ui->commandCombo->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (m_ui->sendButton->isEnabled())
            onSend();
    });
    m_ui->commandCombo->installEventFilter(this);
    loadHistory();
    m_ui->portCombo->setFocus();
}

void CSpelmarDlg::watchSettingsFiles()
{
    // A settings file set aside is told in a box of this window, on this
    // thread, whichever thread opened the store.
    QPointer<CSpelmarDlg> window(this);
    SettingsFile::setNoticeHandler([window](const std::string &text) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [window, text] {
                if (window)
                    window->m_prompt->message(text, std::string(), IPrompt::Buttons::Ok,
                                              IPrompt::Icon::Warning);
            },
            Qt::QueuedConnection);
    });
}

void CSpelmarDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        setMinimumSize(minimumSizeHint());
        fitIntoScreen(true);
        // Placed again once the window manager has framed the window: its
        // frame is known then.
        QTimer::singleShot(250, this, [this] { fitIntoScreen(false); });
        const int closeAfterMs = CTestAnswers::exitWhenShownMs();
        if (closeAfterMs > 0) {
            std::puts("Spelmar: main window shown");
            std::fflush(stdout);
            QTimer::singleShot(closeAfterMs - 1, this, &QWidget::close);
        }
    }
}

QSize CSpelmarDlg::minimumSizeHint() const
{
    // The controls above the trace panel keep their places; the panel
    // below them needs its own smallest size.
    QRect used;
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child != m_trace && !child->isWindow() && !child->isHidden())
            used |= child->geometry();
    }
    const int margin = 8;
    const QSize panel = m_trace ? m_trace->minimumSizeHint() : QSize();
    return QSize(qMax(used.right() + 1 + margin, panel.width() + 8),
                 qMax(used.bottom() + 1 + margin, CTraceDlg::kTopInOwner + panel.height() + 4));
}

void CSpelmarDlg::fitIntoScreen(bool shrink)
{
    // The window starts at its designed size; on a small screen or at a
    // large scale it starts smaller, down to its minimum size.
    const QScreen *where = screen();
    if (!where)
        return;
    const QRect available = where->availableGeometry();
    // The frame is not known before the window manager has drawn it.
    const QSize frame(qMax(frameGeometry().width() - width(), 8),
                      qMax(frameGeometry().height() - height(), 40));
    const QSize fitting(qMin(width(), available.width() - frame.width()),
                        qMin(height(), available.height() - frame.height()));
    const QSize size = shrink ? fitting.expandedTo(minimumSize()) : this->size();
    if (size != this->size())
        resize(size);
    // Placed for the start-up size: the title bar comes back on screen.
    const int right = available.right() + 1 - size.width() - frame.width();
    const int bottom = available.bottom() + 1 - size.height() - frame.height();
    const QPoint at(qBound(available.left(), pos().x(), qMax(available.left(), right)),
                    qBound(available.top(), pos().y(), qMax(available.top(), bottom)));
    if (at != pos())
        move(at);
}

void CSpelmarDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_trace)
        m_trace->LayoutTracePanel();
}

void CSpelmarDlg::accept()
{
}

void CSpelmarDlg::reject()
{
    if (m_trace)
        m_trace->StopTrace();
    Disconnect();
    QDialog::accept();
}

void CSpelmarDlg::showAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CSpelmarDlg::onUpdateSettings()
{
    m_updates.setupScheduler();
}

void CSpelmarDlg::setAnswer(const std::string &text)
{
    m_ui->answerLabel->setText(qs(withoutLineEnd(text)));
}

void CSpelmarDlg::setHelp(const QString &text)
{
    m_ui->helpLabel->setText(text);
}

QLabel *CSpelmarDlg::fieldLabel(CDeviceConnection::Field field) const
{
    switch (field) {
    case CDeviceConnection::Field::Model: return m_ui->modelLabel;
    case CDeviceConnection::Field::Revision: return m_ui->revLabel;
    case CDeviceConnection::Field::Serial: return m_ui->serialLabel;
    case CDeviceConnection::Field::Part: return m_ui->partLabel;
    }
    return m_ui->partLabel;
}

void CSpelmarDlg::onField(CDeviceConnection::Field field, const std::string &text)
{
    fieldLabel(field)->setText(qs(text));
}

void CSpelmarDlg::setConsoleEnabled(bool enabled)
{
    m_ui->commandListCombo->setEnabled(enabled);
    m_ui->commandCombo->setEnabled(enabled);
    m_ui->sendButton->setEnabled(enabled);
    m_ui->continuousCheck->setEnabled(enabled);
}

void CSpelmarDlg::onLinkOpened(bool opened)
{
    m_ui->portCombo->setEnabled(!opened);
    m_ui->baudCombo->setEnabled(!opened);
    m_ui->lineControlButton->setEnabled(!opened);
    setHelp(QString());
    m_ui->connectButton->setText(opened ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

void CSpelmarDlg::onLinkClosed()
{
    m_continuousSending = false;
    m_ui->portCombo->setEnabled(true);
    m_ui->baudCombo->setEnabled(true);
    m_ui->lineControlButton->setEnabled(true);
    m_ui->connectButton->setText(QStringLiteral("Connect"));
    setHelp(QString());
    setConsoleEnabled(false);
    m_ui->sendButton->setText(QStringLiteral("Send"));
    for (QLabel *label : {m_ui->modelLabel, m_ui->revLabel, m_ui->serialLabel, m_ui->partLabel})
        label->clear();
    if (m_trace)
        m_trace->hide();
    m_ui->simulationCheck->show();
}

void CSpelmarDlg::stopTraceAndWait()
{
    if (!m_trace || !m_trace->isTracing())
        return;
    m_trace->StopTrace();
    // The last poll of the run must be over before the port closes. A
    // stop wakes the run from its sleep and the exchanges are cancelled,
    // so this is a matter of milliseconds, whatever the device does.
    const int limitMs = 30000;
    QEventLoop loop;
    connect(m_trace, &CTraceDlg::traceEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (m_trace->isTracing())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool CSpelmarDlg::Disconnect()
{
    m_sendTimer.stop();
    m_reconnectTimer.stop();
    if (m_connected || m_session.port().isOpen()) {
        // Whatever waits on the device ends now; the port closes on the
        // worker once the exchange under way has let go of it.
        m_session.cancelExchanges();
        ++m_linkGeneration;
        m_connected = false;
        stopTraceAndWait();
        onLinkClosed();
        m_worker->post([this] {
            m_connection.Disconnect();
            m_session.port().setSimulated(false);
        });
    }
    m_continuousSending = false;
    return true;
}

void CSpelmarDlg::onConnect()
{
    if (m_connecting)
        return;
    // The port of a link just disconnected may still be closing on the
    // worker; a new connect queues behind that.
    if (m_connected) {
        Disconnect();
        setAnswer(CDeviceConnection::kDisconnectedText);
        m_ui->commandListCombo->clear();
        m_connectedLed->setValue(false);
        m_connectedLed->setAlarm(false);
        return;
    }

    const std::string port = m_ui->portCombo->currentText().toStdString();
    const std::string baud = m_ui->baudCombo->currentText().toStdString();
    const bool simulated = m_ui->simulationCheck->isChecked();
    const LineControl dtr = m_ui->lineControlButton->dtr();
    const LineControl rts = m_ui->lineControlButton->rts();
    CSettingsStore store;
    bool stored = store.WriteValue(SettingsKeys::kComport, port) == CSettingsStore::kOk;
    stored = store.WriteValue(SettingsKeys::kBaud, baud) == CSettingsStore::kOk && stored;
    stored =
        store.WriteValue(SettingsKeys::kDtr, lineControlText(dtr)) == CSettingsStore::kOk && stored;
    stored =
        store.WriteValue(SettingsKeys::kRts, lineControlText(rts)) == CSettingsStore::kOk && stored;

    // The window stays usable while the device is searched and
    // identified; only a second Connect is refused.
    m_connecting = true;
    m_ui->connectButton->setEnabled(false);
    setCursor(Qt::BusyCursor);
    m_connectedLed->setAlarm(false);
    onWorker(
        [this, port, baud, simulated, dtr, rts] {
            m_session.resumeExchanges();
            m_connection.setLineControl(dtr, rts);
            return m_connection.Connect(port, baud, simulated);
        },
        [this, stored](CDeviceConnection::Result result, bool) { onConnected(result, stored); });
}

void CSpelmarDlg::onConnected(CDeviceConnection::Result result, bool stored)
{
    m_connecting = false;
    m_ui->connectButton->setEnabled(true);
    unsetCursor();
    m_ui->commandListCombo->clear();
    // The reason an open failed, and the rate an automatic search found,
    // are in the answer line; the tooltips repeat them.
    m_ui->answerLabel->setToolTip(qs(m_connection.openFailure()));
    m_ui->baudCombo->setToolTip(m_connection.foundBaud() != 0
                                    ? qs(CDeviceConnection::foundBaudText(m_connection.foundBaud()))
                                    : QString());
    switch (result) {
    case CDeviceConnection::Result::OpenFailed:
    case CDeviceConnection::Result::NoAnswer:
    case CDeviceConnection::Result::Lost: break;
    case CDeviceConnection::Result::BootState:
        setHelp(QString());
        setConsoleEnabled(false);
        m_ui->sendButton->setText(QStringLiteral("Send"));
        if (m_trace)
            m_trace->hide();
        m_ui->simulationCheck->show();
        break;
    case CDeviceConnection::Result::Connected:
        m_connected = true;
        fillCommandList();
        setConsoleEnabled(true);
        m_ui->sendButton->setText(QStringLiteral("Send"));
        if (m_trace) {
            // A new connection starts a new graph: two traces never join.
            m_trace->OnClearGraph();
            m_trace->show();
            m_trace->LayoutTracePanel();
        }
        m_ui->simulationCheck->hide();
        m_connectedLed->setValue(m_session.port().isOpen());
        askContinueLogging();
        break;
    }
    if (!stored)
        setAnswer(m_ui->answerLabel->text().toStdString()
                  + " (the port and baud settings could not be saved)");
}

void CSpelmarDlg::onDeviceLost()
{
    // A loss while connecting is told by the connect sequence itself.
    if (!m_connected || !m_session.isLost())
        return;
    setAnswer(CDeviceConnection::reconnectingText(m_session));
    m_connectedLed->setValue(false);
    m_connectedLed->setAlarm(true);
    resetConsole();
    // A trace under way waits for the device; the port is tried again.
    if (!m_reconnectTimer.isActive())
        m_reconnectTimer.start();
}

void CSpelmarDlg::resetConsole()
{
    m_sendTimer.stop();
    m_continuousSending = false;
    setConsoleEnabled(false);
    m_ui->sendButton->setText(QStringLiteral("Send"));
}

void CSpelmarDlg::onReconnectTimer()
{
    if (m_reconnecting || !m_connected)
        return;
    m_reconnecting = true;
    onWorker([this] { return m_session.reopenPort(); },
             [this](bool back, bool current) {
                 m_reconnecting = false;
                 if (!current || !back)
                     return;
                 m_reconnectTimer.stop();
                 setAnswer(CDeviceConnection::backText(m_connection.portText()));
                 m_connectedLed->setAlarm(false);
                 m_connectedLed->setValue(true);
                 setConsoleEnabled(true);
             });
}

void CSpelmarDlg::fillCommandList()
{
    for (const std::string &entry : m_connection.commandList())
        m_ui->commandListCombo->addItem(qs(withoutLineEnd(entry)));
    // The last entry says that more was sent than was read; it holds no
    // colon, so choosing it changes neither field.
    if (m_connection.commandListCut())
        m_ui->commandListCombo->addItem(qs(CDeviceConnection::listingCutText()));
    if (m_ui->commandListCombo->count() > 0)
        m_ui->commandListCombo->setCurrentIndex(0);
    ShowCommandHelp();
}

void CSpelmarDlg::ShowCommandHelp()
{
    const std::string entry = m_ui->commandListCombo->count() > 0
        ? m_ui->commandListCombo->currentText().toStdString()
        : std::string();
    std::string command;
    std::string help;
    if (!splitCommandHelp(entry, command, help))
        return;
    m_ui->commandCombo->setEditText(qs(command));
    setHelp(qs(withoutLineEnd(help)));
}

void CSpelmarDlg::askContinueLogging()
{
    if (!m_trace || !m_trace->isLogging())
        return;
    const std::string question =
        "Do you want to continue logging data into the file \n" + m_trace->logFilePath() + " ?";
    const auto answer = m_prompt->message(question, std::string(), IPrompt::Buttons::YesNo,
                                          IPrompt::Icon::Question);
    if (answer != IPrompt::Answer::Yes)
        m_trace->ToggleFileLog();
}

void CSpelmarDlg::loadHistory()
{
    std::deque<std::string> history;
    const QString stored = qs(CSettingsStore().value(SettingsKeys::kCommandHistory));
    for (const QString &command : stored.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        history.push_back(command.toStdString());
    m_console.setHistory(std::move(history));
    showHistory(QString());
}

void CSpelmarDlg::rememberCommand(const std::string &command)
{
    m_console.remember(command);
    std::string stored;
    for (const std::string &previous : m_console.history())
        stored += (stored.empty() ? "" : "\n") + previous;
    CSettingsStore().WriteValue(SettingsKeys::kCommandHistory, stored);
    showHistory(m_ui->commandCombo->currentText());
}

bool CSpelmarDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->commandCombo && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::NoModifier
            && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            // The newest command is the first entry: Up goes to older ones,
            // Down back to newer ones and at last to an empty field.
            QComboBox *combo = m_ui->commandCombo;
            const int current = combo->findText(combo->currentText());
            const int next =
                key->key() == Qt::Key_Up ? std::min(current + 1, combo->count() - 1) : current - 1;
            if (next >= 0)
                combo->setCurrentIndex(next);
            else
                combo->setEditText(QString());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CSpelmarDlg::showHistory(const QString &text)
{
    m_ui->commandCombo->blockSignals(true);
    m_ui->commandCombo->clear();
    for (const std::string &previous : m_console.history())
        m_ui->commandCombo->addItem(qs(previous));
    const int index = m_ui->commandCombo->findText(text);
    m_ui->commandCombo->setCurrentIndex(index);
    m_ui->commandCombo->setEditText(text);
    m_ui->commandCombo->blockSignals(false);
}

void CSpelmarDlg::onSend()
{
    if (!m_connected) {
        setAnswer(CCommandConsole::kNotConnectedText);
        return;
    }
    m_continuousCheck = m_ui->continuousCheck->isChecked();
    m_command = m_ui->commandCombo->currentText().toStdString();

    if (m_continuousSending) {
        m_sendTimer.stop();
        m_continuousSending = false;
        m_ui->sendButton->setText(QStringLiteral("Send"));
        // The last repetition may still wait: Send works once it is in.
        m_ui->sendButton->setEnabled(!m_sending);
        m_ui->continuousCheck->setEnabled(true);
        m_ui->commandCombo->setEnabled(true);
        m_ui->commandListCombo->setEnabled(true);
        return;
    }
    rememberCommand(m_command);
    if (m_continuousCheck) {
        m_continuousSending = true;
        m_ui->sendButton->setText(QStringLiteral("Stop"));
        m_ui->continuousCheck->setEnabled(false);
        m_ui->commandCombo->setEnabled(false);
        m_ui->commandListCombo->setEnabled(false);
        m_sendTimer.start();
        return;
    }

    // One single send at a time: the button stays disabled until its
    // answer is in.
    if (m_sending)
        return;
    setAnswer(CCommandConsole::kWaitText);
    m_sending = true;
    m_ui->sendButton->setEnabled(false);
    setCursor(Qt::BusyCursor);
    onWorker([this, command = m_command] { return m_console.send(command); },
             [this](const CCommandConsole::Outcome &outcome, bool current) {
                 showOutcome(outcome, current);
             });
}

void CSpelmarDlg::showOutcome(const CCommandConsole::Outcome &outcome, bool current)
{
    m_sending = false;
    unsetCursor();
    if (!current)
        return;
    if (outcome.lost) {
        // The loss itself resets the console and tells it.
        onDeviceLost();
        return;
    }
    m_ui->sendButton->setEnabled(m_connected);
    setAnswer(outcome.text);
}

void CSpelmarDlg::onSendTimer()
{
    // A repetition whose answer has not come yet delays the next one.
    if (m_sending)
        return;
    m_sending = true;
    onWorker([this, command = m_command] { return m_console.sendRepeated(command); },
             [this](const CCommandConsole::Outcome &outcome, bool current) {
                 showOutcome(outcome, current);
             });
}

void CSpelmarDlg::addSendIntervalField()
{
    // Beside "continuousliy": the pace of continuous sending, kept in the
    // settings; a change applies at once.
    auto *field = new QSpinBox(m_ui->continuousCheck->parentWidget());
    field->setObjectName(QStringLiteral("sendIntervalSpin"));
    field->setAccessibleName(QStringLiteral("Continuous send interval"));
    field->setToolTip(QStringLiteral("Interval of continuous sending, 10 ms to 10 s"));
    field->setRange(10, 10000);
    field->setSuffix(QStringLiteral(" ms"));
    field->setValue(
        SettingsDefaults::sendInterval(CSettingsStore().value(SettingsKeys::kSendInterval)));
    // The check box moves left into the gap after Send to make room for the
    // field and its label, which leads the keyboard to it.
    auto *label = new QLabel(QStringLiteral("e&very"), field->parentWidget());
    label->setObjectName(QStringLiteral("sendIntervalLabel"));
    label->setBuddy(field);
    QRect check = m_ui->continuousCheck->geometry();
    check.moveLeft(check.left() - 40);
    m_ui->continuousCheck->setGeometry(check);
    const int labelWidth = label->fontMetrics().horizontalAdvance(QStringLiteral("every")) + 4;
    label->setGeometry(check.right() + 2, check.top(), labelWidth, check.height());
    field->setGeometry(check.right() + 2 + labelWidth, check.top() - 2, 70, check.height() + 4);
    setTabOrder(m_ui->continuousCheck, field);
    m_sendTimer.setInterval(field->value());
    connect(field, qOverload<int>(&QSpinBox::valueChanged), this, [this](int ms) {
        m_sendTimer.setInterval(ms);
        CSettingsStore().WriteValue(SettingsKeys::kSendInterval, std::to_string(ms));
    });
}
