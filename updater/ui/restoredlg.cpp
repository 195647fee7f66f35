#include "restoredlg.h"

#include "prompt.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "ui_moravel_restore.h"

#include <QTimer>

namespace {

const std::string kOldReleaseWarning =
    "This release does not support restore functionality!\n"
    "If you choose and restore this release, no other revisions can be restored.\n\n";

const std::string kNoReleaseKept = " No older release is kept: there is nothing to restore.\n";

QString columnText(const std::vector<std::string> &rows, std::size_t first)
{
    std::string text;
    for (std::size_t i = first; i < rows.size(); ++i)
        text += rows[i] + "\n";
    return QString::fromStdString(text);
}

} // namespace

CRestoreDlg::CRestoreDlg(IPrompt &prompt, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MoravelRestore>())
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    connect(m_ui->restoreButton, &QPushButton::clicked, this, &CRestoreDlg::accept);
    connect(m_ui->abortButton, &QPushButton::clicked, this, &CRestoreDlg::reject);
    connect(m_ui->releaseList, &QListWidget::itemSelectionChanged, this,
            &CRestoreDlg::onSelectionChanged);
    connect(m_ui->fileSlider, &QSlider::sliderReleased, this, &CRestoreDlg::refreshColumns);
    m_ui->fileSlider->setRange(0, 0);
    // "Restore" needs a chosen release.
    m_ui->restoreButton->setEnabled(false);

    m_followTimer = new QTimer(this);
    m_followTimer->setInterval(kFollowTimerMs);
    connect(m_followTimer, &QTimer::timeout, this, &CRestoreDlg::followSlider);
    m_followTimer->start();
    QTimer::singleShot(kFillTimerMs, this, &CRestoreDlg::fillReleaseList);
}

CRestoreDlg::~CRestoreDlg() = default;

void CRestoreDlg::fillReleaseList()
{
    ListReleases(m_releases, m_programFolder);
    for (const std::string &display : m_releases.displays)
        m_ui->releaseList->addItem(QString::fromStdString(display));
    if (m_releases.size() == 0)
        m_ui->filesColumn->setText(QString::fromStdString(kNoReleaseKept).trimmed());
}

void CRestoreDlg::onSelectionChanged()
{
    const int row = m_ui->releaseList->currentRow();
    if (m_ui->releaseList->count() == 0 || row < 0
        || static_cast<std::size_t>(row) >= m_releases.size()
        || m_ui->releaseList->selectedItems().isEmpty())
        return;
    const std::string &name = m_releases.names[static_cast<std::size_t>(row)];
    m_ui->restoreButton->setEnabled(true);
    if (isOldRelease(name))
        m_prompt.message(kOldReleaseWarning, std::string(), IPrompt::Buttons::Ok,
                         IPrompt::Icon::None);

    RelInfoList files;
    if (!ListBackupFolder(m_programFolder + "/" + name, files))
        return; // the columns keep what they showed
    m_fileNames.clear();
    m_revisions.clear();
    for (const RelInfoRecord &record : files) {
        m_fileNames.emplace_back(record.fileName);
        m_revisions.emplace_back(record.revision);
    }
    m_ui->fileSlider->setRange(0, static_cast<int>(files.size()) - 1);
    m_ui->fileSlider->setValue(0);
    m_shownPosition = 0;
    refreshColumns();
}

void CRestoreDlg::followSlider()
{
    if (m_ui->fileSlider->value() != m_shownPosition)
        refreshColumns();
}

void CRestoreDlg::refreshColumns()
{
    m_shownPosition = m_ui->fileSlider->value();
    const std::size_t first = m_shownPosition < 0 ? 0 : static_cast<std::size_t>(m_shownPosition);
    m_ui->filesColumn->setText(columnText(m_fileNames, first));
    m_ui->revisionsColumn->setText(columnText(m_revisions, first));
}

void CRestoreDlg::accept()
{
    const int row = m_ui->releaseList->currentRow();
    const bool selected = row >= 0 && static_cast<std::size_t>(row) < m_releases.size()
        && !m_ui->releaseList->selectedItems().isEmpty();
    m_chosenRelease.clear();
    if (!selected) {
        // Nothing to go back to: the installer is not started for nothing.
        m_prompt.message(m_releases.size() == 0 ? kNoReleaseKept
                                                : " Choose the release to restore in the list.\n",
                         std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::Information);
        return;
    }
    {
        m_chosenRelease = m_releases.names[static_cast<std::size_t>(row)];
        if (isOldRelease(m_chosenRelease)
            && m_prompt.message(kOldReleaseWarning
                                    + "Press <YES> to continue, or <NO> to cancel this action\n",
                                std::string(), IPrompt::Buttons::YesNo, IPrompt::Icon::Warning)
                == IPrompt::Answer::No) {
            m_chosenRelease.clear();
            QDialog::reject();
            return;
        }
    }
    QDialog::accept();
}
