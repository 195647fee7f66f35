#include "tracedlg.h"

#include "ccwbutton.h"
#include "ccwgraph.h"
#include "cnumber.h"
#include "graphsettings.h"
#include "prompt.h"
#include "settingsdefaults.h"
#include "tracecolor.h"
#include "tracerun.h"
#include "tracesettings.h"
#include "textline.h"
#include "ui_trace.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QHideEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QShowEvent>

namespace {

// The graph is redrawn at most this often, however fast samples arrive.
constexpr int kRedrawIntervalMs = 33;

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
    const QString start = !lastFile.empty() ? qs(lastFile) : qs(folder);
    const QString name = QFileInfo(qs(lastFile)).fileName();
    return ss(QFileDialog::getSaveFileName(
        parent, QStringLiteral("save file...") + name, start,
        QStringLiteral("Excel Import Files (*.csv);;All Files (*.*)")));
}

QColor defaultChooseColor(QWidget *parent, const QColor &current)
{
    const QColor chosen = QColorDialog::getColor(current, parent);
    return chosen.isValid() ? chosen : current;
}

} // namespace

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

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(kRedrawIntervalMs);
    connect(&m_redrawTimer, &QTimer::timeout, this, [this] { m_ui->graph->refresh(); });

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
        setGeometry(r.left() + 4, r.top() + 300, qMax(0, r.width() - 8), qMax(0, r.height() - 304));
    }
    layoutContents();
}

void CTraceDlg::layoutContents()
{
    const QRect c = rect();
    m_ui->graph->setGeometry(10, 40, qMax(0, c.width() - 25), qMax(0, c.height() - 50));
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

    CTraceSettings::write(CTraceSettings::kPlotCommand, m_command);
    m_ui->commandEdit->setEnabled(false);
    m_ui->traceButton->setText(QStringLiteral("Stop"));

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
    m_ui->traceButton->setText(QStringLiteral("Start"));
    m_ui->commandEdit->setEnabled(true);
    m_run->stop();
}

void CTraceDlg::onThreadEnded(unsigned generation)
{
    if (generation != m_runGeneration || !m_run)
        return;
    // A run may end by itself (a lost device): Start works again.
    m_ui->traceButton->setText(QStringLiteral("Start"));
    m_ui->commandEdit->setEnabled(true);
    m_run.reset();
    emit traceEnded();
}

void CTraceDlg::showSample(const TraceSample &sample)
{
    if (!sample.ok) {
        // One line: a reply's own line end is not shown.
        showMessage(qs(sample.command + " -> " + withoutLineEnd(sample.reply)
                       + (sample.lost ? std::string("; the trace has stopped") : std::string())));
        emit sampleShown(false, sample.late, 0.0);
        return;
    }
    if (m_ui->messageLine->isVisible())
        m_ui->messageLine->hide();
    if (sample.writeFailed) {
        showMessage(qs("ERROR! Can not write to the file: " + sample.filePath));
    }
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

void CTraceDlg::OnClearGraph()
{
    m_ui->graph->clearData();
    m_ui->graph->refresh();
    m_ui->graph->clearPlot();
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
    m_ui->fileButton->setText(on ? QStringLiteral("Stop") : QStringLiteral("Start"));
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
        m_fileChooser ? m_fileChooser(lastFile, folder) : defaultChooseFile(this, lastFile, folder);
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
