#include "tracedlg.h"

#include "ccwbutton.h"
#include "ccwgraph.h"
#include "cnumber.h"
#include "graphsettings.h"
#include "prompt.h"
#include "settingsdefaults.h"
#include "tracecolor.h"
#include "tracerun.h"
#include "picturewriter.h"
#include "tracesettings.h"
#include "tracetools.h"
#include "textline.h"
#include "ui_trace.h"

#include <QClipboard>
#include <QColorDialog>
#include <QElapsedTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHideEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QStandardPaths>

#include <chrono>
#include <cmath>

namespace {

// The graph is redrawn at most this often, however fast samples arrive.
constexpr int kRedrawIntervalMs = 33;

// Now on the clock of TraceSample::startMs.
double steadyMs()
{
    using Ms = std::chrono::duration<double, std::milli>;
    return Ms(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

std::string ss(const QString &text)
{
    return text.toStdString();
}

std::string defaultChooseFile(QWidget *parent, const std::string &lastFile,
                              const std::string &folder)
{
    const QString start = qs(CTraceDlg::fileDialogStart(lastFile, folder));
    const QString name = QFileInfo(qs(lastFile)).fileName();
    return ss(QFileDialog::getSaveFileName(
        parent, QStringLiteral("save file...") + name, start,
        QStringLiteral("Excel Import Files (*.csv);;All Files (*.*)")));
}

// A Start/Stop button's text and its accessible name, which says what it
// starts or stops.
void setStartStop(QPushButton *button, bool running, const QString &what)
{
    const QString text = running ? QStringLiteral("Stop") : QStringLiteral("Start");
    button->setText(text);
    button->setAccessibleName(text + QLatin1Char(' ') + what);
}

QColor defaultChooseColor(QWidget *parent, const QColor &current)
{
    const QColor chosen = QColorDialog::getColor(current, parent);
    return chosen.isValid() ? chosen : current;
}

} // namespace

std::string CTraceDlg::fileDialogStart(const std::string &lastFile, const std::string &folder)
{
    const QFileInfo last(qs(lastFile));
    if (!lastFile.empty() && last.isAbsolute() && last.absoluteDir().exists())
        return lastFile;
    const QFileInfo used(qs(folder));
    if (!folder.empty() && used.isAbsolute() && used.isDir())
        return folder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return ss(documents + QLatin1Char('/'));
    return ss(QDir::homePath() + QLatin1Char('/'));
}

std::string CTraceDlg::saveDialogStart(const std::string &folder, const std::string &name)
{
    const std::string inFolder =
        folder.empty() ? std::string() : ss(QDir(qs(folder)).filePath(qs(name)));
    const std::string start = fileDialogStart(inFolder, folder);
    // A folder (documents or home) ends with its separator.
    return !start.empty() && start.back() == '/' ? start + name : start;
}

std::string CTraceDlg::withCsvExtension(const std::string &path)
{
    if (path.empty() || !QFileInfo(qs(path)).suffix().isEmpty())
        return path;
    return path + ".csv";
}

CTraceDlg::CTraceDlg(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::CTraceDlg>())
{
    m_ui->setupUi(this);
    m_messagePlace = m_ui->messageLine->geometry();
    m_ui->lateLed->setLed(true);
    m_ui->fileLed->setLed(true);
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    m_ui->intervalEdit->setValidator(new QRegularExpressionValidator(digits, this));
    m_ui->sizeEdit->setValidator(new QRegularExpressionValidator(digits, this));
    m_ui->intervalEdit->installEventFilter(this);
    m_ui->sizeEdit->installEventFilter(this);
    // Return applies a field at once; leaving it does too (the filter).
    connect(m_ui->intervalEdit, &QLineEdit::returnPressed, this,
            &CTraceDlg::OnTraceSettingsChanged);
    connect(m_ui->sizeEdit, &QLineEdit::returnPressed, this, &CTraceDlg::OnTraceSettingsChanged);
    connect(m_ui->commandEdit, &QLineEdit::returnPressed, this, &CTraceDlg::applyCommand);

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(kRedrawIntervalMs);
    connect(&m_redrawTimer, &QTimer::timeout, this, &CTraceDlg::redrawNow);

    m_tools = new CTraceTools(this);
    m_tools->setObjectName(QStringLiteral("traceTools"));
    CCWGraph *graph = m_ui->graph;
    connect(graph, &CCWGraph::heldChanged, m_tools, &CTraceTools::setHeld);
    connect(graph, &CCWGraph::viewChanged, this, &CTraceDlg::updateFigures);
    connect(m_tools, &CTraceTools::holdToggled, this, [graph](bool held) {
        if (held)
            graph->setHeld(true);
        else
            graph->follow();
    });
    connect(m_tools, &CTraceTools::followClicked, graph, &CCWGraph::follow);
    connect(m_tools, &CTraceTools::rangeEdited, this, [this] { applyValueRange(); });
    connect(m_tools, &CTraceTools::openReportClicked, this, &CTraceDlg::chooseAndOpenReport);
    connect(m_tools, &CTraceTools::exportPngClicked, this,
            [this] { chooseAndExport(DialogKind::SavePng); });
    connect(m_tools, &CTraceTools::exportSvgClicked, this,
            [this] { chooseAndExport(DialogKind::SaveSvg); });
    connect(m_tools, &CTraceTools::copyPictureClicked, this, &CTraceDlg::copyPicture);
    connect(m_tools, &CTraceTools::exportCsvClicked, this,
            [this] { chooseAndExport(DialogKind::SaveRange); });

    connect(m_ui->traceButton, &QPushButton::clicked, this, &CTraceDlg::OnTraceStartStop);
    connect(m_ui->clearButton, &QPushButton::clicked, this, &CTraceDlg::OnClearGraph);
    connect(m_ui->logCheck, &QCheckBox::clicked, this, &CTraceDlg::OnTraceSettingsChanged);
    connect(m_ui->fileButton, &QPushButton::clicked, this, &CTraceDlg::ToggleFileLog);
    connect(m_ui->backColorButton, &CCWButton::clicked, this, &CTraceDlg::OnChooseBackColor);
    connect(m_ui->lineColorButton, &CCWButton::clicked, this, &CTraceDlg::OnChooseLineColor);

    OnInitDialog();
}

CTraceDlg::~CTraceDlg()
{
    // The thread reports to this object: it must be gone first.
    if (m_run) {
        m_run->stop();
        m_run.reset();
    }
    m_csv.stop();
}

void CTraceDlg::setOwner(CDeviceSession *session, IPrompt *prompt,
                         std::function<TraceOwnerInfo()> ownerInfo)
{
    m_session = session;
    m_prompt = prompt;
    m_ownerInfo = std::move(ownerInfo);
}

void CTraceDlg::setFileChooser(FileChooser chooser)
{
    m_fileChooser = std::move(chooser);
}

void CTraceDlg::setColorChooser(ColorChooser chooser)
{
    m_colorChooser = std::move(chooser);
}

void CTraceDlg::setPathChooser(PathChooser chooser)
{
    m_pathChooser = std::move(chooser);
}

void CTraceDlg::setClock(CTraceCsvWriter::Clock clock)
{
    m_csv.setClock(std::move(clock));
}

CCWGraph *CTraceDlg::graph() const
{
    return m_ui->graph;
}

void CTraceDlg::OnInitDialog()
{
    QFont display(QStringLiteral("Arial"));
    display.setPixelSize(16);
    display.setBold(true);
    m_ui->commandEdit->setFont(display);
    m_ui->valueDisplay->setFont(display);

    m_command = CTraceSettings::read(CTraceSettings::kPlotCommand);
    m_ui->commandEdit->setText(qs(SettingsDefaults::plotCommand(m_command)));

    m_lineColor = colorFromBgr(static_cast<uint32_t>(
        SettingsDefaults::lineColor(CTraceSettings::read(CTraceSettings::kColorLine))));
    m_backColor = colorFromBgr(static_cast<uint32_t>(
        SettingsDefaults::color(CTraceSettings::read(CTraceSettings::kColorBack))));

    // A stored value the rules replace shows as what is used instead.
    const std::string interval = CTraceSettings::read(CTraceSettings::kInterval);
    m_interval = SettingsDefaults::interval(interval);
    m_ui->intervalEdit->setText(m_interval == atofC(interval) ? qs(interval)
                                                              : QString::number(m_interval));

    const std::string size = CTraceSettings::read(CTraceSettings::kSize);
    m_size = SettingsDefaults::size(size);
    m_ui->sizeEdit->setText(m_size == atofC(size) ? qs(size) : QString::number(m_size));

    m_logScale = SettingsDefaults::flag(CTraceSettings::read(CTraceSettings::kLog));
    m_ui->logCheck->setChecked(m_logScale);

    OnClearGraph();

    CCWGraph *graph = m_ui->graph;
    graph->setAxisAutoScale(CCWGraph::YAxis, true);
    graph->setAxisLog(CCWGraph::YAxis, m_logScale);
    m_ui->backColorButton->setOffColor(m_backColor);
    m_ui->lineColorButton->setOffColor(m_lineColor);
    graph->setBackColor(m_backColor);
    graph->attachDataPlot();
    graph->clearPlot();
    graph->setPlotLineColor(m_lineColor);

    m_tickMode = SettingsDefaults::flag(CTraceSettings::read(CTraceSettings::kTraceTick));
    m_ui->timeRadio->setChecked(!m_tickMode);
    m_ui->tickRadio->setChecked(m_tickMode);

    m_ui->messageLine->hide();
}

void CTraceDlg::LayoutTracePanel()
{
    if (QWidget *owner = parentWidget()) {
        const QRect r = owner->rect();
        setGeometry(r.left() + 4, r.top() + kTopInOwner, qMax(0, r.width() - 8),
                    qMax(0, r.height() - kTopInOwner - 4));
    }
    layoutContents();
}

QSize CTraceDlg::minimumSizeHint() const
{
    // The controls above the graph keep their places; the graph, the value
    // display on it and the tools below it follow the panel's size.
    QRect used;
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child != m_ui->graph && child != m_ui->valueDisplay && child != m_tools
            && !child->isWindow())
            used |= child->geometry();
    }
    const int graphTop = 40;
    const int smallestGraph = 75;
    const QSize tools = m_tools->minimumSizeHint();
    const int width = qMax(used.right() + 1 + 4, tools.width() + 25);
    const int toolsHeight =
        m_tools->hasHeightForWidth() ? m_tools->heightForWidth(width - 25) : tools.height();
    return QSize(width, qMax(used.bottom() + 1, graphTop + smallestGraph + toolsHeight) + 10);
}

void CTraceDlg::layoutContents()
{
    const QRect c = rect();
    const int width = qMax(0, c.width() - 25);
    const int toolsHeight = m_tools->hasHeightForWidth() ? m_tools->heightForWidth(width)
                                                         : m_tools->sizeHint().height();
    m_ui->graph->setGeometry(10, 40, width, qMax(0, c.height() - 50 - toolsHeight));
    m_tools->setGeometry(10, 40 + m_ui->graph->height(), width, toolsHeight);
    // Near the graph's top right corner, with room for a whole "%.6g"
    // value in the display font.
    m_ui->valueDisplay->setGeometry(c.width() - 162, 50, 120, 22);
}

void CTraceDlg::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutContents();
}

void CTraceDlg::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        OnShowWindow(true);
}

void CTraceDlg::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A minimised main window hides nothing for good: only a real hide
    // stops the trace.
    if (!event->spontaneous())
        OnShowWindow(false);
}

void CTraceDlg::OnShowWindow(bool show)
{
    if (!show && isTracing())
        OnTraceStartStop();
    m_ui->messageLine->hide();
}

bool CTraceDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut
        && (watched == m_ui->intervalEdit || watched == m_ui->sizeEdit))
        OnTraceSettingsChanged();
    return QWidget::eventFilter(watched, event);
}

void CTraceDlg::keyPressEvent(QKeyEvent *event)
{
    // Return in a field has done what the field is for (the field's own
    // signal); it goes no further, to no default button of the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CTraceDlg::applyCommand()
{
    m_command = ss(m_ui->commandEdit->text());
    CTraceSettings::write(CTraceSettings::kPlotCommand, m_command);
}

bool CTraceDlg::isTracing() const
{
    return m_run && m_run->isRunning();
}

void CTraceDlg::OnTraceStartStop()
{
    m_command = ss(m_ui->commandEdit->text());
    if (isTracing()) {
        StopTrace();
        return;
    }
    if (!m_session)
        return;
    // A run that has ended but whose end has not been handled yet.
    m_run.reset();
    if (m_reviewing)
        OnClearGraph(); // back from a report to the live graph
    m_stats.clear();
    m_failures = CTraceRun::FailureStreak();
    // The graph's time runs from the start of the run that drew its first
    // point: a later run continues on it, its gap shown.
    if (m_timeOriginMs < 0.0 || m_ui->graph->pointCount() == 0) {
        m_traceStart = QDateTime::currentDateTimeUtc();
        m_timeOriginMs = steadyMs();
    }

    CTraceSettings::write(CTraceSettings::kPlotCommand, m_command);
    m_ui->commandEdit->setEnabled(false);
    setStartStop(m_ui->traceButton, true, QStringLiteral("trace"));

    const unsigned generation = ++m_runGeneration;
    auto onSample = [this](const TraceSample &sample) {
        QMetaObject::invokeMethod(
            this, [this, sample] { showSample(sample); }, Qt::QueuedConnection);
    };
    auto onFinished = [this, generation] {
        QMetaObject::invokeMethod(
            this, [this, generation] { onThreadEnded(generation); }, Qt::QueuedConnection);
    };
    m_run = std::make_unique<CTraceRun>(*m_session, m_command, m_interval, &m_csv,
                                        std::move(onSample), std::move(onFinished));
    m_run->start();
}

void CTraceDlg::StopTrace()
{
    if (!isTracing())
        return;
    setStartStop(m_ui->traceButton, false, QStringLiteral("trace"));
    m_ui->commandEdit->setEnabled(true);
    m_run->stop();
}

void CTraceDlg::onThreadEnded(unsigned generation)
{
    if (generation != m_runGeneration || !m_run)
        return;
    // A run that ended by itself: Start works again.
    m_ui->traceButton->setText(QStringLiteral("Start"));
    m_ui->commandEdit->setEnabled(true);
    m_run.reset();
    emit traceEnded();
}

void CTraceDlg::showSample(const TraceSample &sample)
{
    if (m_reviewing)
        return; // the last samples of a run stopped for a report
    m_stats.add(sample);
    const std::string failing = m_failures.add(sample);
    if (!sample.ok) {
        // One line: a reply's own line end is not shown.
        showMessage(qs(sample.command + " -> " + withoutLineEnd(sample.reply) + failing));
        // No point is drawn, so nothing else brings the counts up to date.
        updateFigures();
        emit sampleShown(false, sample.late, 0.0);
        return;
    }
    if (m_ui->messageLine->isVisible())
        m_ui->messageLine->hide();
    if (sample.writeFailed) {
        showMessage(qs("ERROR! Can not write to the file: " + sample.filePath));
    }
    // At the time the sample was taken, so a changed interval and late or
    // failed polls show as they happened.
    if (sample.startMs >= 0.0 && m_timeOriginMs >= 0.0)
        m_ui->graph->appendPointAt((sample.startMs - m_timeOriginMs) / 1000.0, sample.value);
    else
        m_ui->graph->appendPoint(sample.value, 1.0);
    scheduleRedraw();
    m_ui->lateLed->setValue(sample.late);
    m_ui->valueDisplay->setText(qs(formatC("%.6g", sample.value)));
    emit sampleShown(true, sample.late, sample.value);
}

void CTraceDlg::showMessage(const QString &text)
{
    // At its designed place, or further left and wider where a long text
    // needs the room, read from its start; the tooltip holds it whole.
    QLineEdit *line = m_ui->messageLine;
    const int wanted = line->fontMetrics().horizontalAdvance(text) + 16;
    QRect place = m_messagePlace;
    if (wanted > place.width()) {
        const int right = qMax(place.right(), width() - 20);
        place.setLeft(qMax(10, qMin(place.left(), right - wanted)));
        place.setRight(right);
    }
    line->setGeometry(place);
    line->setText(text);
    line->setCursorPosition(0);
    line->setToolTip(text);
    line->show();
}

void CTraceDlg::scheduleRedraw()
{
    if (!m_redrawTimer.isActive())
        m_redrawTimer.start();
}

void CTraceDlg::redrawNow()
{
    QElapsedTimer took;
    took.start();
    m_ui->graph->refresh();
    // A graph that takes long to draw (millions of points in view) is
    // redrawn less often, so the window keeps most of its time for the user.
    m_redrawTimer.setInterval(qMax<int>(kRedrawIntervalMs, int(3 * took.elapsed())));
}

void CTraceDlg::updateFigures()
{
    const auto number = [](const char *format, double value) {
        return QString::fromStdString(formatC(format, value));
    };
    const CTraceStats &s = m_stats;
    CTraceTools::Figures figures;
    figures.summary = QString::fromStdString(
        formatC("Polls: %llu good, %llu failed, %llu late", (unsigned long long)s.samples(),
                (unsigned long long)s.failed(), (unsigned long long)s.late()));
    if (s.period().count() > 0) {
        const CDurationQuantiles &p = s.period();
        const double cells[4] = {p.mean(), p.quantile(0.5), p.quantile(0.99), p.maximum()};
        for (int c = 0; c < 4; ++c)
            figures.period[c] = number("%.4g", cells[c]);
    }
    if (s.exchange().count() > 0) {
        const CDurationQuantiles &e = s.exchange();
        const double cells[4] = {e.mean(), e.quantile(0.5), e.quantile(0.99), e.maximum()};
        for (int c = 0; c < 4; ++c)
            figures.exchange[c] = number("%.3g", cells[c]);
    }
    const auto valueCells = [&number](const CRunningStats &v, QString *cells) {
        cells[0] = number("%.6g", v.minimum());
        cells[1] = number("%.6g", v.maximum());
        cells[2] = number("%.6g", v.mean());
        cells[3] = number("%.3g", v.standardDeviation());
    };
    if (s.values().count() > 0)
        valueCells(s.values(), figures.values);

    uint64_t nonPositive = 0;
    const CRunningStats view = m_ui->graph->visibleStats(&nonPositive);
    if (view.count() > 0) {
        valueCells(view, figures.view);
        figures.summary += QString::fromStdString(
            formatC(" \u00b7 in view: %llu points", (unsigned long long)view.count()));
    }
    if (nonPositive > 0 && m_ui->graph->axisLog(CCWGraph::YAxis))
        figures.summary +=
            QString::fromStdString(formatC(" \u00b7 %llu values <= 0 not drawn on the log scale",
                                           (unsigned long long)nonPositive));
    m_tools->setFigures(figures);
}

void CTraceDlg::showNote(const std::string &text, bool error)
{
    m_tools->setNote(qs(text), error);
}

bool CTraceDlg::readNumber(const QString &text, double &value)
{
    // As the user writes numbers (a decimal comma in Germany), or with a
    // point; group separators are not taken, so "1.5" is never fifteen.
    QLocale user;
    user.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    value = user.toDouble(text.trimmed(), &ok);
    if (!ok)
        value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value);
}

bool CTraceDlg::applyValueRange()
{
    CCWGraph *graph = m_ui->graph;
    const QString minText = m_tools->yMinText().trimmed();
    const QString maxText = m_tools->yMaxText().trimmed();
    if (m_tools->yAuto()) {
        graph->setYAuto();
        showNote(std::string(), false);
        return true;
    }
    double minimum = 0.0;
    double maximum = 0.0;
    const bool minOk = readNumber(minText, minimum);
    const bool maxOk = readNumber(maxText, maximum);
    std::string error = "Minimum and maximum must be numbers.";
    if (!minOk || !maxOk || !graph->setManualYRange(minimum, maximum, error)) {
        // The range in force stays, and the check box says which it is.
        m_tools->setYAuto(graph->yAuto());
        showNote("Value range refused: " + error, true);
        return false;
    }
    showNote(std::string(), false);
    return true;
}

void CTraceDlg::OnClearGraph()
{
    if (m_reviewing) { // back to the live graph
        m_reviewing = false;
        m_reviewHeader = TraceReport();
        showNote(std::string(), false);
    }
    m_ui->graph->clearData();
    m_ui->graph->refresh();
    m_ui->graph->clearPlot();
    if (!isTracing())
        m_timeOriginMs = -1.0;
    ApplyGraphSettings();
}

void CTraceDlg::OnTraceSettingsChanged()
{
    const QString interval = m_ui->intervalEdit->text();
    CTraceSettings::write(CTraceSettings::kInterval, ss(interval));
    m_interval = atofC(ss(interval));
    const QString size = m_ui->sizeEdit->text();
    CTraceSettings::write(CTraceSettings::kSize, ss(size));
    m_size = atofC(ss(size));
    m_logScale = m_ui->logCheck->isChecked();
    CTraceSettings::write(CTraceSettings::kLog, m_logScale ? "1" : "0");
    ApplyGraphSettings();
}

void CTraceDlg::ApplyGraphSettings()
{
    const GraphSettings settings = GraphSettings::compute(m_interval, m_size);
    m_interval = settings.interval;
    if (m_run)
        m_run->setInterval(m_interval);
    CCWGraph *graph = m_ui->graph;
    if (m_reviewing) {
        // A report keeps all its points and its own time axis.
        graph->setAxisLog(CCWGraph::YAxis, m_logScale);
        scheduleRedraw();
        return;
    }
    graph->setChartLength(settings.chartLength);
    graph->setAxisRange(CCWGraph::XAxis, settings.xMin, settings.xMax);
    graph->setAxisFormat(CCWGraph::XAxis, settings.labelFormat);
    graph->setAxisLog(CCWGraph::YAxis, m_logScale);
    scheduleRedraw();
}

QColor CTraceDlg::chooseColor(const QColor &current, CCWButton *button, const char *key)
{
    const QColor chosen =
        m_colorChooser ? m_colorChooser(current) : defaultChooseColor(this, current);
    button->setOffColor(chosen);
    CTraceSettings::write(key, formatC("%d", static_cast<int>(bgrFromColor(chosen))));
    return chosen;
}

void CTraceDlg::OnChooseBackColor()
{
    m_backColor = chooseColor(m_backColor, m_ui->backColorButton, CTraceSettings::kColorBack);
    m_ui->graph->setBackColor(m_backColor);
    scheduleRedraw();
}

void CTraceDlg::OnChooseLineColor()
{
    m_lineColor = chooseColor(m_lineColor, m_ui->lineColorButton, CTraceSettings::kColorLine);
    m_ui->graph->setPlotLineColor(m_lineColor);
    scheduleRedraw();
}

bool CTraceDlg::isLogging() const
{
    return m_csv.isLogging();
}

std::string CTraceDlg::logFilePath() const
{
    return m_csv.path();
}

void CTraceDlg::setFileLogControls(bool on)
{
    setStartStop(m_ui->fileButton, on, QStringLiteral("writing file"));
    m_ui->fileLed->setValue(on);
    m_ui->timeRadio->setEnabled(!on);
    m_ui->tickRadio->setEnabled(!on);
}

void CTraceDlg::ToggleFileLog()
{
    if (m_csv.isLogging()) {
        m_csv.stop();
        setFileLogControls(false);
        return;
    }

    m_command = ss(m_ui->commandEdit->text());
    const std::string folder = CTraceSettings::read(CTraceSettings::kTracePath);
    const std::string lastFile = CTraceSettings::read(CTraceSettings::kTraceFile);
    m_tickMode = m_ui->tickRadio->isChecked();
    CTraceSettings::write(CTraceSettings::kTraceTick, m_tickMode ? "1" : "0");

    const std::string chosen =
        withCsvExtension(m_fileChooser ? m_fileChooser(lastFile, folder)
                                       : defaultChooseFile(this, lastFile, folder));
    if (chosen.empty())
        return; // cancelled: nothing to report

    const TraceOwnerInfo owner = m_ownerInfo ? m_ownerInfo() : TraceOwnerInfo{};
    if (!m_csv.start(chosen, owner, m_command, m_interval, m_tickMode)) {
        if (m_prompt)
            m_prompt->message(m_csv.lastError(), std::string(), IPrompt::Buttons::Ok,
                              IPrompt::Icon::Stop);
        return;
    }
    const QFileInfo info(qs(chosen));
    CTraceSettings::write(CTraceSettings::kTracePath, ss(info.absolutePath() + QLatin1Char('/')));
    CTraceSettings::write(CTraceSettings::kTraceFile, ss(info.absoluteFilePath()));
    setFileLogControls(true);
}

bool CTraceDlg::openReport(const std::string &path)
{
    TraceReport report;
    std::string error;
    if (!CTraceReportReader::readFile(path, report, error)) {
        showNote(path + ": " + error, true);
        return false;
    }
    StopTrace();
    m_reviewing = true;
    m_timeOriginMs = -1.0;
    // Nothing of the live trace stays on screen over the report.
    m_ui->valueDisplay->clear();
    m_ui->lateLed->setValue(false);
    m_ui->messageLine->hide();
    CCWGraph *graph = m_ui->graph;
    graph->showCursorAt(std::nan(""));
    graph->setAxisFormat(CCWGraph::XAxis, report.tickMode ? "*1" : "*1\"s");
    graph->setSeries(report.x, report.values);
    m_stats.clear();
    for (size_t i = 0; i < report.x.size(); ++i)
        m_stats.addReportSample(report.tickMode ? -1.0 : report.x[i] * 1000.0, report.values[i]);
    const size_t count = report.x.size();
    report.x = {};
    report.values = {};
    m_reviewHeader = report;
    std::string shown =
        formatC("Report for %s, serial %s, port %s, started %s: %s every %.0f ms, %zu samples",
                report.part.c_str(), report.serial.c_str(), report.port.c_str(),
                report.startTime.c_str(), report.command.c_str(), report.intervalMs, count);
    for (const std::string &note : report.notes)
        shown += "; " + note;
    showNote(shown, false);
    updateFigures();
    return true;
}

std::string CTraceDlg::visibleCsvText() const
{
    CTraceCsvWriter::Header header;
    if (m_reviewing) {
        header.owner = {m_reviewHeader.part, m_reviewHeader.serial, m_reviewHeader.port};
        header.command = m_reviewHeader.command;
        header.interval = m_reviewHeader.intervalMs;
        header.tickMode = m_reviewHeader.tickMode;
        header.startTime = QDateTime::fromString(qs(m_reviewHeader.startTime),
                                                 QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        header.startTime.setTimeSpec(Qt::UTC);
    } else {
        header.owner = m_ownerInfo ? m_ownerInfo() : TraceOwnerInfo{};
        header.command = m_command;
        header.interval = m_interval;
        header.tickMode = m_ui->tickRadio->isChecked();
        header.startTime = m_traceStart.isValid() ? m_traceStart : QDateTime::currentDateTimeUtc();
    }
    std::vector<double> x;
    std::vector<double> values;
    int first = 0;
    int last = 0;
    if (m_ui->graph->visibleIndexes(first, last)) {
        x.reserve(size_t(last - first));
        values.reserve(size_t(last - first));
        // The times are the points' own; a live graph's ticks count its
        // points since it was cleared.
        const bool ticks = !m_reviewing && header.tickMode;
        for (int i = first; i < last; ++i) {
            x.push_back(ticks ? double(m_ui->graph->pointNumber(i)) : m_ui->graph->keyAt(i));
            values.push_back(m_ui->graph->valueAt(i));
        }
    }
    return CTraceReportReader::csvText(header, x, values, 0, x.size());
}

bool CTraceDlg::exportVisibleCsv(const std::string &path)
{
    std::string error;
    const bool ok = CPictureWriter::writeText(visibleCsvText(), path, error);
    showNote(ok ? "Saved " + path : error, !ok);
    return ok;
}

bool CTraceDlg::exportPicture(const std::string &path, int width, int height, bool svg)
{
    auto paint = [this](QPaintDevice *device, int w, int h) { m_ui->graph->paintTo(device, w, h); };
    std::string error;
    const bool ok = svg
        ? CPictureWriter::writeSvg(paint, width, height, path, error)
        : CPictureWriter::writePng(CPictureWriter::render(paint, width, height, 300), path, error);
    showNote(ok ? "Saved " + path : error, !ok);
    return ok;
}

void CTraceDlg::copyPicture()
{
    CCWGraph *graph = m_ui->graph;
    QGuiApplication::clipboard()->setImage(CPictureWriter::render(
        [graph](QPaintDevice *device, int w, int h) { graph->paintTo(device, w, h); },
        qMax(16, graph->width()), qMax(16, graph->height()), 96));
    showNote("Picture copied", false);
}

std::string CTraceDlg::choosePath(DialogKind kind, const std::string &start)
{
    if (m_pathChooser)
        return m_pathChooser(kind, start);
    const QString filter = QStringLiteral("Excel Import Files (*.csv);;All Files (*.*)");
    switch (kind) {
    case DialogKind::OpenReport:
        return ss(QFileDialog::getOpenFileName(this, QStringLiteral("Open report..."), qs(start),
                                               filter));
    case DialogKind::SavePng:
    case DialogKind::SaveSvg:
    case DialogKind::SaveRange: break;
    }
    const QString pictures = kind == DialogKind::SavePng ? QStringLiteral("PNG pictures (*.png)")
        : kind == DialogKind::SaveSvg                    ? QStringLiteral("SVG pictures (*.svg)")
                                      : QStringLiteral("Excel Import Files (*.csv)");
    return ss(QFileDialog::getSaveFileName(this, QStringLiteral("Export..."), qs(start), pictures));
}

void CTraceDlg::chooseAndOpenReport()
{
    if (isTracing()) {
        const IPrompt::Answer answer = m_prompt
            ? m_prompt->message("A trace is running. Stop it and show a saved report?",
                                std::string(), IPrompt::Buttons::YesNo, IPrompt::Icon::Question)
            : IPrompt::Answer::No;
        if (answer != IPrompt::Answer::Yes)
            return;
    }
    // The report last opened, else the folder of the CSV logs.
    const std::string path =
        choosePath(DialogKind::OpenReport,
                   fileDialogStart(CTraceSettings::read(CTraceSettings::kReviewFile),
                                   CTraceSettings::read(CTraceSettings::kTracePath)));
    if (path.empty())
        return;
    CTraceSettings::write(CTraceSettings::kReviewFile, path);
    openReport(path);
}

void CTraceDlg::chooseAndExport(DialogKind kind)
{
    int width = 1200;
    int height = 800;
    if (kind != DialogKind::SaveRange) {
        std::string size = CTraceSettings::read(CTraceSettings::kExportSize);
        if (!SettingsDefaults::pictureSize(size, width, height))
            size = "1200x800";
        bool ok = false;
        const QString chosen = QInputDialog::getText(this, QStringLiteral("Picture size"),
                                                     QStringLiteral("Width x height in pixels:"),
                                                     QLineEdit::Normal, qs(size), &ok);
        if (!ok)
            return;
        if (!SettingsDefaults::pictureSize(ss(chosen.trimmed()), width, height)) {
            showNote("Picture size refused: give WIDTHxHEIGHT, each from 16 to 20000 pixels", true);
            return;
        }
        CTraceSettings::write(CTraceSettings::kExportSize, ss(chosen.trimmed()));
    }
    // Pictures and range copies each start in the folder last used for them.
    const char *key =
        kind == DialogKind::SaveRange ? CTraceSettings::kRangePath : CTraceSettings::kExportPath;
    const char *name = kind == DialogKind::SavePng ? "trace.png"
        : kind == DialogKind::SaveSvg              ? "trace.svg"
                                                   : "trace-range.csv";
    const std::string path = choosePath(kind, saveDialogStart(CTraceSettings::read(key), name));
    if (path.empty())
        return;
    CTraceSettings::write(key, ss(QFileInfo(qs(path)).absolutePath() + QLatin1Char('/')));
    if (kind == DialogKind::SaveRange)
        exportVisibleCsv(path);
    else
        exportPicture(path, width, height, kind == DialogKind::SaveSvg);
}
