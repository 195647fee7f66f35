#pragma once

#include "tracecsvwriter.h"
#include "traceownerinfo.h"
#include "tracereport.h"
#include "tracerun.h"
#include "tracesample.h"
#include "tracestats.h"

#include <QTimer>
#include <QColor>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CDeviceSession;
class CTraceRun;
class CCWGraph;
class CCWButton;
class CTraceTools;
class IPrompt;
class QHideEvent;
class QKeyEvent;
class QResizeEvent;
class QShowEvent;
namespace Ui {
class CTraceDlg;
}

// The trace panel: the lower part of the main window. It holds the trace
// command, the poll interval, the graph's time span, the scale and colour
// choices, the graph, the value display and the controls that start and
// stop the trace and the CSV file log.
//
// How the main window uses it:
//   auto *trace = new CTraceDlg(this);          // reads the trace settings
//   trace->setOwner(&session, &prompt, [this] { return TraceOwnerInfo{...}; });
//   trace->LayoutTracePanel();                  // also on every resize
//   trace->hide();                              // hidden until connected
//   ... connected and identified: trace->show();
//   ... before asking "continue logging": trace->isLogging(), trace->logFilePath();
//       declined: trace->ToggleFileLog() stops the log
//   ... disconnect: trace->hide() (hiding stops a running trace)
//   ... close: trace->StopTrace() before the port is closed
//
// The acquisition thread never touches a widget: each sample is handed to
// this panel's thread in order, and the graph is redrawn at most about 30
// times a second. Settings are read when the panel is constructed and
// written when the user changes them.
//
// Objects named for tests and the main window: commandEdit, traceButton,
// intervalEdit, lateLed, sizeEdit, logCheck, lineColorButton,
// backColorButton, clearButton, fileButton, fileLed, timeRadio, tickRadio,
// graph, valueDisplay, messageLine; below the graph the strip of
// CTraceTools (hold, follow, value range, report, export and figures).
class CTraceDlg : public QWidget
{
    Q_OBJECT

public:
    // Returns a chosen file for the CSV log, or an empty string when the
    // user cancelled. Arguments: the last file (full path) and its folder.
    using FileChooser =
        std::function<std::string(const std::string &lastFile, const std::string &folder)>;
    // Returns the chosen colour (0x00BBGGRR); given the current one, which
    // is also the answer after a cancel.
    using ColorChooser = std::function<QColor(const QColor &current)>;
    // The other file dialogs of the panel: a report to open, or where a
    // picture or the visible range goes. Given where the dialog starts;
    // returns the chosen path, or an empty string after a cancel.
    enum class DialogKind
    {
        OpenReport,
        SavePng,
        SaveSvg,
        SaveRange
    };
    using PathChooser = std::function<std::string(DialogKind kind, const std::string &start)>;

    explicit CTraceDlg(QWidget *parent = nullptr);

    // Where the file dialog opens: the last file when its folder is still
    // there, else the folder last used, else the user's documents folder,
    // else the home folder; never the current directory.
    static std::string fileDialogStart(const std::string &lastFile, const std::string &folder);
    // Where a save dialog for a new file called name opens: name in the
    // folder last used when it is still there, else in the documents
    // folder (else the home folder).
    static std::string saveDialogStart(const std::string &folder, const std::string &name);
    // The chosen name with ".csv" added when it has no extension.
    static std::string withCsvExtension(const std::string &path);
    // Ends a running trace (waiting for its thread) and closes the CSV file.
    ~CTraceDlg() override;

    // The device session used for Transact, the prompt for message boxes
    // and the source of the CSV header's identity texts and port. Set
    // right after construction; the session must outlive the panel or a
    // running trace (stop it first).
    void setOwner(CDeviceSession *session, IPrompt *prompt,
                  std::function<TraceOwnerInfo()> ownerInfo);

    // Replace the system dialogs, the clock of the CSV report (UTC).
    void setFileChooser(FileChooser chooser);
    void setColorChooser(ColorChooser chooser);
    void setPathChooser(PathChooser chooser);
    void setClock(CTraceCsvWriter::Clock clock);

    // Distance of the panel's top from its owner's.
    static constexpr int kTopInOwner = 300;
    // The smallest size at which every control is whole and the graph
    // keeps some height.
    QSize minimumSizeHint() const override;

    // Places the panel 4 pixels inside its parent's left, right and bottom
    // edges and 300 pixels below its top, then the graph and value display
    // inside the panel.
    void LayoutTracePanel();

    // Start/Stop button: starts a trace, or stops the running one.
    void OnTraceStartStop();
    // Asks the acquisition thread to end; does not wait for it.
    void StopTrace();
    // A trace thread exists (it may be finishing its last poll).
    bool isTracing() const;

    // The "to file" button: starts the CSV log (asking for the file) when
    // it is off, stops it when it is on.
    void ToggleFileLog();
    bool isLogging() const;
    // Full path of the CSV file being (or last) written.
    std::string logFilePath() const;

    void OnClearGraph();
    void OnTraceSettingsChanged();
    void OnChooseBackColor();
    void OnChooseLineColor();
    // Applies interval, size and scale to the graph.
    void ApplyGraphSettings();

    // Current values in use (the fields may show other text).
    std::string command() const { return m_command; }
    double interval() const { return m_interval; }
    double size() const { return m_size; }
    bool logScale() const { return m_logScale; }
    bool tickMode() const { return m_tickMode; }
    QColor backColor() const { return m_backColor; }
    QColor lineColor() const { return m_lineColor; }

    CCWGraph *graph() const;
    CTraceTools *tools() const { return m_tools; }

    // Figures of the current (or last) run, or of the report shown.
    const CTraceStats &stats() const { return m_stats; }
    // Opens a saved report into the graph (a running trace is stopped
    // first, and its last value and cursor read-out are cleared); false
    // with the reason shown when it cannot be read.
    bool openReport(const std::string &path);
    // "Open report...": during a live trace it asks first whether to stop
    // the trace; then the file is chosen and opened.
    void chooseAndOpenReport();
    bool isReviewing() const { return m_reviewing; }
    const TraceReport &reviewHeader() const { return m_reviewHeader; }
    // The graph as a picture file (PNG at 300 dpi, or SVG), to the
    // clipboard, or the visible points as a report. False with the reason
    // (naming the path) shown when the file cannot be written.
    bool exportPicture(const std::string &path, int width, int height, bool svg);
    void copyPicture();
    bool exportVisibleCsv(const std::string &path);
    // The visible points as a report, as exportVisibleCsv() writes it.
    std::string visibleCsvText() const;
    // Applies the range fields (or the automatic range); false when the
    // manual range was refused (the reason is shown, and the automatic
    // range box shows the range still in force).
    bool applyValueRange();
    // A number as the user writes it (the decimal separator of the user's
    // locale), or in the C locale; false for anything else.
    static bool readNumber(const QString &text, double &value);
    // Redraws now and updates the figures (as the redraw timer does), or
    // soon: at most about 30 times a second, less often when a redraw takes long.
    void redrawNow();
    void scheduleRedraw();

signals:
    // A sample has been shown (good or failed), for observers and tests.
    void sampleShown(bool ok, bool late, double value);
    // The acquisition thread has ended; Start works again.
    void traceEnded();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void OnInitDialog();
    void OnShowWindow(bool show);
    // Return in the command field: the command is taken and stored.
    void applyCommand();
    void layoutContents();
    void showSample(const TraceSample &sample);
    // A poll or file failure in the message line above the graph.
    void showMessage(const QString &text);
    void onThreadEnded(unsigned generation);
    void setFileLogControls(bool on);
    // Asks for a colour starting at current, shows it on button and stores it
    // under key; returns the colour now in use.
    QColor chooseColor(const QColor &current, CCWButton *button, const char *key);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void updateFigures();
    void showNote(const std::string &text, bool error);
    void chooseAndExport(DialogKind kind);
    std::string choosePath(DialogKind kind, const std::string &start);

    std::unique_ptr<Ui::CTraceDlg> m_ui;
    CDeviceSession *m_session = nullptr;
    IPrompt *m_prompt = nullptr;
    std::function<TraceOwnerInfo()> m_ownerInfo;
    FileChooser m_fileChooser;
    ColorChooser m_colorChooser;
    PathChooser m_pathChooser;

    std::string m_command;
    bool m_tickMode = false;
    QColor m_backColor;
    QColor m_lineColor;
    double m_interval = 100.0;
    double m_size = 60.0;
    bool m_logScale = false;

    CTraceCsvWriter m_csv;
    std::unique_ptr<CTraceRun> m_run;
    unsigned m_runGeneration = 0;
    QTimer m_redrawTimer;

    CTraceTools *m_tools = nullptr;
    CTraceStats m_stats;
    // Failed polls in a row, noted in the message line.
    CTraceRun::FailureStreak m_failures;
    QDateTime m_traceStart;
    // When the graph's time 0 was, on the samples' steady clock (ms);
    // negative until a run starts on an empty graph.
    double m_timeOriginMs = -1.0;
    bool m_reviewing = false;
    TraceReport m_reviewHeader; // the report shown, without its points
    QRect m_messagePlace;       // the message line's designed geometry
};
