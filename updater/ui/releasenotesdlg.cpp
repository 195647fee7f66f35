#include "releasenotesdlg.h"

#include "launchinstaller.h"
#include "moravelstrings.h"
#include "prompt.h"
#include "restorelaunch.h"
#include "testanswers.h"
#include "ui_moravel_releasenotes.h"

#include <QThread>
#include <QTimer>

using RestoreLaunch::attentionText;

CReleaseNotesDlg::CReleaseNotesDlg(IPrompt &prompt, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MoravelReleaseNotes>())
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    connect(m_ui->installNewButton, &QPushButton::clicked, this, &CReleaseNotesDlg::onInstallNew);
    connect(m_ui->installAllButton, &QPushButton::clicked, this, &CReleaseNotesDlg::onInstallAll);
    connect(m_ui->restoreButton, &QPushButton::clicked, this, &CReleaseNotesDlg::onRestore);
    connect(m_ui->exitButton, &QPushButton::clicked, this, &CReleaseNotesDlg::accept);
    m_chooseRelease = RestoreLaunch::restoreDialog(m_prompt, this);
}

CReleaseNotesDlg::~CReleaseNotesDlg() = default;

QString CReleaseNotesDlg::versionText()
{
    return QStringLiteral("Moravel Release Notes Version: ")
        + QString::fromLatin1(MoravelText::kVersion);
}

QWidget *CReleaseNotesDlg::pageViewer() const
{
    if (m_primaryViewer)
        return m_primaryViewer->widget();
    if (m_fallbackViewer)
        return m_fallbackViewer->widget();
    return nullptr;
}

void CReleaseNotesDlg::showEvent(QShowEvent *event)
{
    if (!m_initialised) {
        m_initialised = true;
        initialise();
        if (m_installMode && CTestAnswers::active())
            QTimer::singleShot(0, this, &CReleaseNotesDlg::takeScriptedChoice);
    }
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void CReleaseNotesDlg::takeScriptedChoice()
{
    const std::string word = CTestAnswers::nextWord();
    if (word == "install")
        onInstallNew();
    else if (word == "all")
        onInstallAll();
    else
        reject();
}

void CReleaseNotesDlg::initialise()
{
    if (!m_installMode) {
        m_ui->installNewButton->hide();
        m_ui->installAllButton->hide();
        m_ui->restoreButton->hide();
        m_ui->exitButton->hide();
    }
    if (!createPrimaryViewer())
        createFallbackViewer();
    const QString version = versionText();
    setWindowTitle(m_captionPrefix.empty() ? version
                                           : QString::fromStdString(m_captionPrefix) + version);
}

void CReleaseNotesDlg::placeViewer(QWidget *viewer)
{
    m_ui->viewerPlaceholder->hide();
    delete m_ui->mainLayout->replaceWidget(m_ui->viewerPlaceholder, viewer);
}

bool CReleaseNotesDlg::showPageIn(std::unique_ptr<CExplorer1> &viewer, CExplorer1::Mode mode)
{
    if (!viewer)
        viewer = std::make_unique<CExplorer1>(mode);
    if (!viewer->widget()) {
        if (!viewer->create(this)) {
            ShowLastError(viewer->lastError());
            viewer.reset();
            return false;
        }
        placeViewer(viewer->widget());
        viewer->EnableWindow(mode == CExplorer1::Mode::Primary);
    }
    showPageInViewer(*viewer);
    return true;
}

void CReleaseNotesDlg::showPageInViewer(CExplorer1 &viewer)
{
    if (!m_pageProblem.isEmpty())
        viewer.showText(m_pageProblem);
    else if (!m_page.isNull())
        viewer.showPage(m_page);
    else if (!m_pagePath.empty())
        viewer.navigate(QString::fromStdString(m_pagePath));
    else
        viewer.showText(QStringLiteral("Loading the release notes ..."));
}

void CReleaseNotesDlg::showPage(const QByteArray &html)
{
    m_page = html.isNull() ? QByteArray("") : html;
    m_pageProblem.clear();
    refreshViewers();
}

void CReleaseNotesDlg::showPageProblem(const QString &line)
{
    m_pageProblem = line;
    refreshViewers();
}

void CReleaseNotesDlg::refreshViewers()
{
    for (CExplorer1 *viewer : {m_primaryViewer.get(), m_fallbackViewer.get()}) {
        if (viewer && viewer->widget())
            showPageInViewer(*viewer);
    }
}

bool CReleaseNotesDlg::createPrimaryViewer()
{
    return showPageIn(m_primaryViewer, CExplorer1::Mode::Primary);
}

bool CReleaseNotesDlg::createFallbackViewer()
{
    return showPageIn(m_fallbackViewer, CExplorer1::Mode::Fallback);
}

void CReleaseNotesDlg::ShowLastError(const QString &reason)
{
    m_prompt.message("Last Error from Window:\n" + reason.toStdString(), std::string(),
                     IPrompt::Buttons::Ok, IPrompt::Icon::None);
}

void CReleaseNotesDlg::onInstallNew()
{
    const std::string text =
        attentionText(" To install the new software release it is necessary\n");
    if (m_prompt.message(text, std::string(), IPrompt::Buttons::OkCancel, IPrompt::Icon::Warning)
        != IPrompt::Answer::Ok)
        return;
    startInstaller(installNewCommand(m_serverPath, m_programFolder, m_programName));
}

void CReleaseNotesDlg::onInstallAll()
{
    const std::string text =
        attentionText(" To install ALL files from NORVANE server it is necessary\n", "\n");
    if (m_prompt.message(text, std::string(), IPrompt::Buttons::OkCancel, IPrompt::Icon::Warning)
        != IPrompt::Answer::Ok)
        return;
    QThread::msleep(100);
    startInstaller(installAllCommand(m_serverPath, m_programFolder, m_programName));
}

void CReleaseNotesDlg::onRestore()
{
    RestoreLaunch::offerRestore(m_prompt, m_chooseRelease, m_programFolder, m_programName);
}

void CReleaseNotesDlg::startInstaller(const QStringList &commandWords)
{
    RestoreLaunch::startInstaller(m_prompt, commandWords);
}
