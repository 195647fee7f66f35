#include "updatereminderdlg.h"

#include "moravelstrings.h"
#include "oledate.h"
#include "folder/programpath.h"
#include "registryaccess.h"
#include "reminderschedule.h"
#include "restorelaunch.h"
#include "ui_moravel_reminder.h"

#include <QDateTime>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QTimer>

#include <chrono>
#include <climits>
#include <system_error>

#include <pthread.h>

namespace {

// atoi of the edit's text, saturating instead of overflowing.
int digitsToInt(const QString &text)
{
    long long value = 0;
    int i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9');
         ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(value);
}

} // namespace

CUpdateReminderDlg::CUpdateReminderDlg(IPrompt &prompt, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MoravelReminder>())
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setWindowTitle(windowTitle() + QStringLiteral("  Version: ")
                   + QString::fromLatin1(MoravelText::kVersion));
    m_ui->intervalEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));

    connect(m_ui->okButton, &QPushButton::clicked, this, &CUpdateReminderDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CUpdateReminderDlg::reject);
    connect(m_ui->activeCheck, &QCheckBox::clicked, this, &CUpdateReminderDlg::applyEnablingRule);
    connect(m_ui->startupRadio, &QRadioButton::clicked, this, [this] { selectCheckMode(false); });
    connect(m_ui->intervalRadio, &QRadioButton::clicked, this, [this] { selectCheckMode(true); });
    // Going back is wanted most when the server has nothing newer than a
    // bad release: the settings offer it as well as the release notes.
    m_chooseRelease = RestoreLaunch::restoreDialog(m_prompt, this);
    connect(m_ui->checkNowButton, &QPushButton::clicked, this, [this] { LookForUpdatesNow(); });
    connect(m_ui->restoreButton, &QPushButton::clicked, this, [this] {
        const std::string folder = programFolder();
        if (RestoreLaunch::offerRestore(m_prompt, m_chooseRelease, folder, programName()))
            hide();
    });
}

CUpdateReminderDlg::~CUpdateReminderDlg()
{
    cancelWorker();
    waitForWorker();
}

void CUpdateReminderDlg::prepare(const std::string &serverPath, const std::string &programPath)
{
    const ProgramPath split = splitProgramPath(programPath);
    std::lock_guard<std::mutex> lock(m_pathsMutex);
    m_serverPath = serverPath;
    m_programFolder = split.folder;
    m_programName = split.name;
    m_prepared = true;
}

bool CUpdateReminderDlg::isPrepared() const
{
    std::lock_guard<std::mutex> lock(m_pathsMutex);
    return m_prepared;
}

void CUpdateReminderDlg::setServerPath(const std::string &serverPath)
{
    std::lock_guard<std::mutex> lock(m_pathsMutex);
    m_serverPath = serverPath;
}

std::string CUpdateReminderDlg::serverPath() const
{
    std::lock_guard<std::mutex> lock(m_pathsMutex);
    return m_serverPath;
}

std::string CUpdateReminderDlg::programFolder() const
{
    std::lock_guard<std::mutex> lock(m_pathsMutex);
    return m_programFolder;
}

std::string CUpdateReminderDlg::programName() const
{
    std::lock_guard<std::mutex> lock(m_pathsMutex);
    return m_programName;
}

std::string CUpdateReminderDlg::keyPath() const
{
    return UpdateSettings::keyPath(serverPath());
}

void CUpdateReminderDlg::setCheckFunction(CheckFunction check)
{
    m_check = std::move(check);
}

void CUpdateReminderDlg::setReleaseNotesStep(std::function<void(CUpdateReminderDlg &)> step)
{
    m_releaseNotesStep = std::move(step);
}

bool CUpdateReminderDlg::StartSchedule(const QDateTime &now)
{
    CheckRequest request;
    {
        std::lock_guard<std::mutex> lock(m_pathsMutex);
        request.serverPath = m_serverPath;
        request.programFolder = m_programFolder;
        request.programName = m_programName;
    }
    request.scheduledRun = true;
    request.cancel = &m_cancel;
    const std::string key = UpdateSettings::keyPath(request.serverPath);
    if (ReminderSchedule::evaluate(key, toOleDate(now)) != ReminderSchedule::Decision::Due)
        return true;

    if (m_workerRunning.load() || m_cancel.load())
        return true; // the running worker is left alone; none after a cancel
    if (m_worker.joinable())
        m_worker.join(); // ended already; only its thread object is left

    m_workerRunning.store(true);
    try {
        m_worker = std::thread(&CUpdateReminderDlg::ReminderThread, this, m_check,
                               std::move(request), key);
    } catch (const std::system_error &) {
        m_workerRunning.store(false);
        return false;
    }
    return true;
}

bool CUpdateReminderDlg::LookForUpdatesNow()
{
    CheckRequest request;
    {
        std::lock_guard<std::mutex> lock(m_pathsMutex);
        request.serverPath = m_serverPath;
        request.programFolder = m_programFolder;
        request.programName = m_programName;
    }
    request.ignorePhases = true;
    request.cancel = &m_cancel;
    if (m_workerRunning.load() || m_cancel.load())
        return false;
    if (m_worker.joinable())
        m_worker.join();
    m_workerRunning.store(true);
    try {
        m_worker = std::thread(&CUpdateReminderDlg::ReminderThread, this, m_check,
                               std::move(request), std::string());
    } catch (const std::system_error &) {
        m_workerRunning.store(false);
        return false;
    }
    return true;
}

void CUpdateReminderDlg::ReminderThread(CheckFunction check, CheckRequest request,
                                        std::string keyPath)
{
    pthread_setname_np(pthread_self(), kWorkerThreadName);
    // Without a key path the user asked: no wait, no stamp.
    bool cancelled = false;
    if (!keyPath.empty()) {
        std::unique_lock<std::mutex> lock(m_workerMutex);
        cancelled = m_workerChanged.wait_for(lock, std::chrono::milliseconds(kWorkerDelayMs),
                                             [this] { return m_cancel.load(); });
    }
    if (!cancelled) {
        // Stamped before the check, whatever its outcome.
        if (!keyPath.empty())
            ReminderSchedule::stamp(keyPath, toOleDate(QDateTime::currentDateTime()));
        try {
            if (check && !m_cancel.load())
                check(*this, request);
        } catch (...) {
            // A failed check must not end the host program.
        }
    }
    std::lock_guard<std::mutex> lock(m_workerMutex);
    m_workerRunning.store(false);
    m_workerChanged.notify_all();
}

void CUpdateReminderDlg::waitForWorker()
{
    {
        // Also a worker that stopWorker let go: after its last touch of
        // this object.
        std::unique_lock<std::mutex> lock(m_workerMutex);
        m_workerChanged.wait(lock, [this] { return !m_workerRunning.load(); });
    }
    if (m_worker.joinable())
        m_worker.join();
}

void CUpdateReminderDlg::cancelWorker()
{
    std::lock_guard<std::mutex> lock(m_workerMutex);
    m_cancel.store(true);
    m_workerChanged.notify_all();
}

bool CUpdateReminderDlg::stopWorker(std::chrono::milliseconds bound)
{
    cancelWorker();
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(m_workerMutex);
        ended = m_workerChanged.wait_for(lock, bound, [this] { return !m_workerRunning.load(); });
    }
    if (m_worker.joinable()) {
        if (ended)
            m_worker.join(); // it has left its work; only its return is left
        else
            m_worker.detach();
    }
    return ended;
}

bool CUpdateReminderDlg::CheckForUpdates(const std::string &serverPath)
{
    CheckRequest request;
    request.serverPath = serverPath;
    request.programFolder = programFolder();
    request.programName = programName();
    request.scheduledRun = false;
    request.ignorePhases = true;
    if (m_check)
        m_check(*this, request);
    return false;
}

void CUpdateReminderDlg::armReleaseNotesTimer()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            QTimer::singleShot(kReleaseNotesDelayMs, this,
                               &CUpdateReminderDlg::runReleaseNotesStep);
        },
        Qt::QueuedConnection);
}

void CUpdateReminderDlg::runReleaseNotesStep()
{
    if (m_releaseNotesStep)
        m_releaseNotesStep(*this);
}

void CUpdateReminderDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        reload();
}

void CUpdateReminderDlg::reload()
{
    const ReminderSchedule::Values values = ReminderSchedule::read(keyPath());
    m_ui->activeCheck->setChecked(values.active == 1);
    m_ui->startupRadio->setChecked(values.check == 0);
    m_ui->intervalRadio->setChecked(values.check == 1);
    m_ui->intervalEdit->setText(QString::asprintf("%d", static_cast<int>(values.interval)));
    applyEnablingRule();
}

void CUpdateReminderDlg::applyEnablingRule()
{
    const bool active = m_ui->activeCheck->isChecked();
    m_ui->intervalEdit->setEnabled(active);
    m_ui->startupRadio->setEnabled(active);
    m_ui->intervalRadio->setEnabled(active);
}

void CUpdateReminderDlg::selectCheckMode(bool afterDays)
{
    m_ui->startupRadio->setChecked(!afterDays);
    m_ui->intervalRadio->setChecked(afterDays);
}

void CUpdateReminderDlg::accept()
{
    const std::string key = keyPath();
    CRegistryAccess registry;
    registry.WriteDword(key, UpdateSettings::kActive, m_ui->activeCheck->isChecked() ? 1 : 0);
    registry.WriteDword(key, UpdateSettings::kCheck, m_ui->intervalRadio->isChecked() ? 1 : 0);
    registry.WriteDword(key, UpdateSettings::kInterval,
                        static_cast<std::uint32_t>(digitsToInt(m_ui->intervalEdit->text())));
    QDialog::accept();
}

void CUpdateReminderDlg::reject()
{
    QDialog::reject();
}
