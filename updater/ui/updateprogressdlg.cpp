#include "updateprogressdlg.h"

#include "jobs/downloadjob.h"
#include "jobs/jobreport.h"
#include "launchinstaller.h"
#include "restorelaunch.h"
#include "jobs/restorejob.h"
#include "ui_moravel_progress.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

// Hands the job's reports from its worker thread to the window's thread.
class CUpdateProgressDlg::Report : public IJobReport
{
public:
    explicit Report(CUpdateProgressDlg *dialog)
        : m_dialog(dialog)
    {
    }

    void addLine(const std::string &line) override
    {
        post([line](CUpdateProgressDlg &d) { d.addJobLine(QString::fromStdString(line)); });
    }
    void removeLastLine() override
    {
        post([](CUpdateProgressDlg &d) { d.removeLastLine(); });
    }
    void failureReason(const std::string &reason) override
    {
        // Below the line that failed, indented like the file names.
        addLine("          " + reason);
    }
    void setProgressRange(int minimum, int maximum) override
    {
        post([=](CUpdateProgressDlg &d) { d.m_ui->progressBar->setRange(minimum, maximum); });
    }
    void setProgress(int position) override
    {
        post([=](CUpdateProgressDlg &d) { d.m_ui->progressBar->setValue(position); });
    }
    void finished() override
    {
        post([](CUpdateProgressDlg &d) { d.onFinished(); });
    }

private:
    template <typename F>
    void post(F work)
    {
        CUpdateProgressDlg *dialog = m_dialog;
        QMetaObject::invokeMethod(
            dialog, [dialog, work] { work(*dialog); }, Qt::QueuedConnection);
    }

    CUpdateProgressDlg *m_dialog;
};

CUpdateProgressDlg::CUpdateProgressDlg(IPrompt &prompt, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MoravelProgress>())
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    m_ui->progressBar->setRange(0, 100);
    m_ui->progressBar->setValue(0);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CUpdateProgressDlg::accept);
    connect(m_ui->abortButton, &QPushButton::clicked, this, &CUpdateProgressDlg::reject);

    m_startTimer = new QTimer(this);
    m_startTimer->setSingleShot(true);
    m_startTimer->setInterval(kStartTimerMs);
    connect(m_startTimer, &QTimer::timeout, this, &CUpdateProgressDlg::startWorker);
    m_endTimer = new QTimer(this);
    m_endTimer->setSingleShot(true);
    m_endTimer->setInterval(kEndTimerMs);
    connect(m_endTimer, &QTimer::timeout, this, &CUpdateProgressDlg::endOfRun);
}

CUpdateProgressDlg::~CUpdateProgressDlg()
{
    stopWorker();
}

QStringList CUpdateProgressDlg::lines() const
{
    QStringList result;
    for (int i = 0; i < m_ui->logList->count(); ++i)
        result << m_ui->logList->item(i)->text();
    return result;
}

bool CUpdateProgressDlg::workerRunning() const
{
    return m_job && m_job->isRunning();
}

void CUpdateProgressDlg::showEvent(QShowEvent *event)
{
    if (!m_initialised) {
        m_initialised = true;
        initialise();
    }
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void CUpdateProgressDlg::initialise()
{
    m_startTimer->start();
    if (m_restoreMode) {
        m_ui->statusText->setText(QStringLiteral("Restore older revision of software\n >> ")
                                  + QString::fromStdString(m_serverPath)
                                  + QStringLiteral(" !!\nPlease wait while this programm loads "
                                                   "the older software back..."));
        addLine(QStringLiteral("... Preparing restore from directory!"));
    } else {
        addLine(QStringLiteral("... Preparing download from server!"));
    }
}

void CUpdateProgressDlg::startWorker()
{
    m_ui->okButton->setEnabled(false);
    if (m_job)
        return;
    m_report = std::make_unique<Report>(this);
    if (m_restoreMode)
        m_job = std::make_unique<CRestoreJob>(*m_report, m_programFolder, m_serverPath);
    else {
        auto download = std::make_unique<CDownloadJob>(*m_report, &m_prompt, m_serverPath,
                                                       m_programFolder, m_takeAll, m_host);
        // The user chose to install what a check showed: a release in
        // phases is installed whatever this installation's moment.
        UpdateSecurity security;
        security.ignorePhases = true;
        download->setSecurity(security);
        m_job = std::move(download);
    }
    if (!m_job->start())
        m_job.reset(); // only cancel closes the dialog now
}

void CUpdateProgressDlg::addLine(const QString &line)
{
    m_ui->logList->addItem(line);
    m_ui->logList->setCurrentRow(m_ui->logList->count() - 1);
    m_ui->logList->scrollToBottom();
}

void CUpdateProgressDlg::addJobLine(const QString &line)
{
    // The job opens with the line that the window showed when it opened.
    const bool echo =
        !m_jobHasReported && m_ui->logList->count() == 1 && m_ui->logList->item(0)->text() == line;
    m_jobHasReported = true;
    if (!echo)
        addLine(line);
}

void CUpdateProgressDlg::removeLastLine()
{
    if (m_ui->logList->count() > 0)
        delete m_ui->logList->takeItem(m_ui->logList->count() - 1);
}

void CUpdateProgressDlg::onFinished()
{
    m_ui->okButton->setEnabled(true);
    if (!m_restoreMode)
        m_ui->abortButton->setEnabled(false);
    m_endTimer->start();
}

void CUpdateProgressDlg::endOfRun()
{
    m_ui->progressBar->setValue(0);
    if (m_job)
        m_job->wait(); // it has reported its end already
    if (!CUpdateJob::askStartProgram(m_prompt, m_programName))
        return;
    // A program that cannot start is shown with its reason, and the host
    // keeps running: it would leave the user with nothing otherwise.
    if (!RestoreLaunch::startInstaller(
            m_prompt, {QString::fromStdString(m_programFolder + "/" + m_programName)}, "program"))
        return;
    QDialog::accept();
}

void CUpdateProgressDlg::accept()
{
    if (workerRunning())
        return;
    QDialog::accept();
}

void CUpdateProgressDlg::reject()
{
    stopWorker();
    QDialog::reject();
}

void CUpdateProgressDlg::stopWorker()
{
    if (!m_job)
        return;
    m_job->cancel();
    // The worker may be waiting for this thread to show a box; keep
    // serving events until it has ended.
    while (m_job->isRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(10);
    }
    m_job->wait();
}
