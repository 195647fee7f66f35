#pragma once

#include "explorer1.h"
#include "restorelaunch.h"

#include <QDialog>
#include <QByteArray>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class IPrompt;
namespace Ui {
class MoravelReleaseNotes;
}

// Shows the maker's page about an update. In install mode it offers to
// install the new files, all files, or an older release; each starts the
// installer after a confirmation and asks the host program to end.
class CReleaseNotesDlg : public QDialog
{
    Q_OBJECT

public:
    using RestoreChooser = RestoreLaunch::Chooser;

    explicit CReleaseNotesDlg(IPrompt &prompt, QWidget *parent = nullptr);
    ~CReleaseNotesDlg() override;

    void setCaptionPrefix(const std::string &prefix) { m_captionPrefix = prefix; }
    // The page: a local file, or bytes that arrive while the window is
    // open (showPage), or one line why there is none (showPageProblem).
    void setPagePath(const std::string &path) { m_pagePath = path; }
    void showPage(const QByteArray &html);
    void showPageProblem(const QString &line);
    void setServerPath(const std::string &path) { m_serverPath = path; }
    void setProgramName(const std::string &name) { m_programName = name; }
    void setProgramFolder(const std::string &folder) { m_programFolder = folder; }
    void setInstallMode(bool on) { m_installMode = on; }
    // Replaces the restore dialog (tests).
    void setRestoreChooser(RestoreChooser chooser) { m_chooseRelease = std::move(chooser); }

    // "Moravel Release Notes Version: " and the library's version.
    static QString versionText();

    QWidget *pageViewer() const;

protected:
    void showEvent(QShowEvent *event) override;
    // The two page viewers; false when one cannot be made.
    virtual bool createPrimaryViewer();
    virtual bool createFallbackViewer();

private:
    void initialise();
    void placeViewer(QWidget *viewer);
    // Creates the viewer once, places it and shows the page in it.
    bool showPageIn(std::unique_ptr<CExplorer1> &viewer, CExplorer1::Mode mode);
    void showPageInViewer(CExplorer1 &viewer);
    void refreshViewers();
    void ShowLastError(const QString &reason);
    void onInstallNew();
    void onInstallAll();
    void onRestore();
    void startInstaller(const QStringList &commandWords);
    // Unattended runs: the choice comes from the list of test answers.
    void takeScriptedChoice();

    std::unique_ptr<Ui::MoravelReleaseNotes> m_ui;
    IPrompt &m_prompt;
    std::unique_ptr<CExplorer1> m_fallbackViewer;
    std::unique_ptr<CExplorer1> m_primaryViewer;
    std::string m_captionPrefix;
    std::string m_pagePath;
    QByteArray m_page;
    QString m_pageProblem;
    std::string m_serverPath;
    std::string m_programName;
    std::string m_programFolder;
    bool m_installMode = false;
    bool m_initialised = false;
    RestoreChooser m_chooseRelease;
};
