#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "folder/releaselist.h"

class IPrompt;
class QTimer;
namespace Ui {
class MoravelRestore;
}

// Lets the user pick a backup release of the program folder and shows the
// files it holds with their revisions. Accepted only with a chosen
// release: "Restore" stays disabled until one is selected, and a folder
// that keeps none says so.
class CRestoreDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CRestoreDlg(IPrompt &prompt, QWidget *parent = nullptr);
    ~CRestoreDlg() override;

    void setProgramFolder(const std::string &folder) { m_programFolder = folder; }
    const std::string &chosenRelease() const { return m_chosenRelease; }

    // The columns' refresh and the release list's filling.
    static constexpr int kFollowTimerMs = 100;
    static constexpr int kFillTimerMs = 10;

public slots:
    void accept() override;

private:
    void fillReleaseList();
    void onSelectionChanged();
    void refreshColumns();
    void followSlider();

    std::unique_ptr<Ui::MoravelRestore> m_ui;
    IPrompt &m_prompt;
    std::string m_chosenRelease;
    std::string m_programFolder;
    int m_shownPosition = 0;
    std::vector<std::string> m_fileNames;
    std::vector<std::string> m_revisions;
    ReleaseList m_releases;
    QTimer *m_followTimer = nullptr;
};
