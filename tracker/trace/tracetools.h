#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QResizeEvent;

// The strip below the trace graph: hold and follow, the value range
// (automatic or manual), opening a saved report, exporting, and the
// figures of the run and of the visible range. It only shows and reports;
// the trace panel does the work.
//
// None of its buttons is a default button: Return in a field of the window
// applies that field and never presses a button here.
//
// Every line has its height reserved, so that no control moves when a
// figure, a note or a refused range comes or goes.
//
// Objects named for tests: holdButton, followButton, yAutoCheck, yMinEdit,
// yMaxEdit, openReportButton, exportButton, summaryLabel, figuresTable (its
// cells named "<row>.<column>", e.g. "period.p99"), noteLabel.
class CTraceTools : public QWidget
{
    Q_OBJECT

public:
    // The figures shown in the table: the poll timing in ms and the values
    // of the run and of the visible range, as texts; an empty text leaves
    // its cell empty.
    struct Figures
    {
        QString summary;     // counts, on the line above the table
        QString period[4];   // mean, median, p99, max
        QString exchange[4]; // mean, median, p99, max
        QString values[4];   // min, max, mean, sd
        QString view[4];     // min, max, mean, sd
    };

    explicit CTraceTools(QWidget *parent = nullptr);

    void setHeld(bool held);
    // Shows the range in use; the fields keep what the user typed.
    void setYAuto(bool automatic);
    bool yAuto() const;
    QString yMinText() const;
    QString yMaxText() const;

    void setFigures(const Figures &figures);
    // A note beside the counts, above the table (a refused range, a failed
    // export, the report shown); red when it reports an error. Its place
    // stays when it is empty; a text longer than the place is cut with
    // "..." there and kept whole in the tooltip.
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

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showLineAbove();

    QPushButton *m_hold;
    QPushButton *m_follow;
    QCheckBox *m_yAuto;
    QLineEdit *m_yMin;
    QLineEdit *m_yMax;
    QPushButton *m_open;
    QPushButton *m_export;
    QLabel *m_summary;
    QWidget *m_table = nullptr;
    // Cells of the table's rows: period, exchange, values, view.
    QLabel *m_cells[4][4] = {};
    QLabel *m_note;
    QString m_noteText;
    QString m_summaryText;
};
