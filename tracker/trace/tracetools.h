#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The strip below the trace graph: hold and follow, the value range
// (automatic or manual), opening a saved report, exporting, and the
// figures of the run and of the visible range. It only shows and reports;
// the trace panel does the work.
//
// Objects named for tests: holdButton, followButton, yAutoCheck, yMinEdit,
// yMaxEdit, openReportButton, exportButton, statsLabel, viewLabel, noteLabel.
class CTraceTools : public QWidget
{
    Q_OBJECT

public:
    explicit CTraceTools(QWidget *parent = nullptr);

    void setHeld(bool held);
    // Shows the range in use; the fields keep what the user typed.
    void setYAuto(bool automatic);
    bool yAuto() const;
    QString yMinText() const;
    QString yMaxText() const;

    void setStatsText(const QString &text);
    void setViewText(const QString &text);
    // A note under the figures (a refused range, a failed export, the
    // report shown); red when it reports an error; hidden when empty.
    void setNote(const QString &text, bool error);
    QString note() const;

signals:
    void holdToggled(bool held);
    void followClicked();
    // Automatic range chosen, or a manual range entered (Return or leaving
    // a field).
    void rangeEdited();
    void openReportClicked();
    void exportPngClicked();
    void exportSvgClicked();
    void copyPictureClicked();
    void exportCsvClicked();

private:
    QPushButton *m_hold;
    QPushButton *m_follow;
    QCheckBox *m_yAuto;
    QLineEdit *m_yMin;
    QLineEdit *m_yMax;
    QPushButton *m_open;
    QPushButton *m_export;
    QLabel *m_stats;
    QLabel *m_view;
    QLabel *m_note;
};
