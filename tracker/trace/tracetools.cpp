#include "tracetools.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

template <typename T>
T *named(T *widget, const char *object, const QString &accessible)
{
    widget->setObjectName(QLatin1String(object));
    widget->setAccessibleName(accessible);
    return widget;
}

// A label of one line whose height is kept when it is empty.
QLabel *lineLabel(const char *object, const QString &accessible)
{
    auto *label = named(new QLabel, object, accessible);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFixedHeight(label->fontMetrics().height());
    return label;
}

const char *const kRowNames[4] = {"period", "exchange", "values", "view"};
const char *const kTimingColumns[4] = {"mean", "median", "p99", "max"};
const char *const kValueColumns[4] = {"min", "max", "mean", "sd"};

} // namespace

CTraceTools::CTraceTools(QWidget *parent)
    : QWidget(parent)
    , m_hold(named(new QPushButton, "holdButton", tr("Hold the graph")))
    , m_follow(named(new QPushButton, "followButton", tr("Follow the live data")))
    , m_yAuto(named(new QCheckBox(tr("auto Y")), "yAutoCheck", tr("Automatic value range")))
    , m_yMin(named(new QLineEdit, "yMinEdit", tr("Value range minimum")))
    , m_yMax(named(new QLineEdit, "yMaxEdit", tr("Value range maximum")))
    , m_open(named(new QPushButton, "openReportButton", tr("Open a saved report")))
    , m_export(named(new QPushButton, "exportButton", tr("Export the graph")))
    , m_summary(lineLabel("summaryLabel", tr("Poll counts")))
    , m_note(lineLabel("noteLabel", tr("Note")))
{
    // The note takes the room the counts leave; its text follows it.
    m_note->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // Every control shows clearly when it has the keyboard focus.
    setStyleSheet(QStringLiteral(
        "QPushButton { padding: 2px 6px; border: 1px solid palette(mid); border-radius: 2px;"
        " background: palette(button); }"
        "QPushButton:checked { background: palette(dark); color: palette(bright-text); }"
        "QPushButton:focus { border: 2px solid palette(highlight); padding: 1px 5px; }"
        "QLineEdit:focus { border: 2px solid palette(highlight); }"
        "QCheckBox:focus { border: 1px dotted palette(text); }"));

    m_hold->setText(tr("Hold"));
    m_hold->setCheckable(true);
    m_hold->setToolTip(tr("Freeze the view; acquisition goes on"));
    m_follow->setText(tr("Follow"));
    m_follow->setToolTip(tr("Back to the live view (or double-click the graph)"));
    m_yAuto->setChecked(true);
    m_yMin->setPlaceholderText(tr("min"));
    m_yMax->setPlaceholderText(tr("max"));
    for (QLineEdit *edit : {m_yMin, m_yMax}) {
        edit->setFixedWidth(70);
        edit->setToolTip(tr("Manual value range; Return applies it"));
    }
    m_open->setText(tr("Open report..."));
    m_export->setText(tr("Export"));
    auto *menu = new QMenu(m_export);
    menu->addAction(tr("PNG picture..."), this, &CTraceTools::exportPngClicked);
    menu->addAction(tr("SVG picture..."), this, &CTraceTools::exportSvgClicked);
    menu->addAction(tr("Copy picture"), this, &CTraceTools::copyPictureClicked);
    menu->addAction(tr("Visible range as CSV..."), this, &CTraceTools::exportCsvClicked);
    m_export->setMenu(menu);
    for (QWidget *control : std::initializer_list<QWidget *>{m_hold, m_follow, m_yAuto, m_yMin,
                                                             m_yMax, m_open, m_export})
        control->setFocusPolicy(Qt::StrongFocus);
    // Room for the whole text inside the style's own button margins.
    for (QPushButton *button : {m_hold, m_follow, m_open, m_export}) {
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 28);
        // In a dialog a push button would otherwise become its default
        // button, and Return in any field would press it.
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(4);
    buttons->addWidget(m_hold);
    buttons->addWidget(m_follow);
    buttons->addSpacing(8);
    buttons->addWidget(m_yAuto);
    // Each limit's label leads the keyboard to its field.
    for (const auto &[text, edit] : {std::pair<QString, QLineEdit *>(tr("&Y min"), m_yMin),
                                     std::pair<QString, QLineEdit *>(tr("Y ma&x"), m_yMax)}) {
        auto *label = new QLabel(text);
        label->setObjectName(edit->objectName() + QStringLiteral("Label"));
        label->setBuddy(edit);
        buttons->addWidget(label);
        buttons->addWidget(edit);
    }
    buttons->addStretch(1);
    buttons->addWidget(m_open);
    buttons->addWidget(m_export);

    // The figures as a small table: the poll timing on the left, the
    // values on the right, each cell as wide as its text.
    auto *table = m_table = new QWidget;
    table->setObjectName(QStringLiteral("figuresTable"));
    table->setAccessibleName(tr("Figures of the run"));
    auto *grid = new QGridLayout(table);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(0);
    const QString rowTitles[4] = {tr("period ms"), tr("exchange ms"), tr("values"), tr("in view")};
    for (int block = 0; block < 2; ++block) {
        const int first = block * 6; // column of the block's row titles
        const char *const *columns = block == 0 ? kTimingColumns : kValueColumns;
        for (int c = 0; c < 4; ++c) {
            auto *header = lineLabel("", QString());
            header->setText(QLatin1String(columns[c]));
            header->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid->addWidget(header, 0, first + 1 + c);
        }
        for (int r = 0; r < 2; ++r) {
            const int row = block * 2 + r;
            auto *title = lineLabel("", QString());
            title->setText(rowTitles[row]);
            grid->addWidget(title, 1 + r, first);
            for (int c = 0; c < 4; ++c) {
                const QString name =
                    QLatin1String(kRowNames[row]) + QLatin1Char('.') + QLatin1String(columns[c]);
                QLabel *cell =
                    lineLabel("", rowTitles[row] + QLatin1Char(' ') + QLatin1String(columns[c]));
                cell->setObjectName(name);
                cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                grid->addWidget(cell, 1 + r, first + 1 + c);
                m_cells[row][c] = cell;
            }
        }
    }
    grid->setColumnMinimumWidth(5, 8);
    grid->setColumnStretch(5, 1);
    grid->setColumnStretch(11, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(1);
    layout->addLayout(buttons);
    // The counts and the note share a line above the table.
    auto *lineAbove = new QHBoxLayout;
    lineAbove->setContentsMargins(0, 0, 0, 0);
    lineAbove->setSpacing(12);
    lineAbove->addWidget(m_summary);
    lineAbove->addWidget(m_note, 1);
    layout->addLayout(lineAbove);
    layout->addWidget(table);

    connect(m_hold, &QPushButton::toggled, this, &CTraceTools::holdToggled);
    connect(m_follow, &QPushButton::clicked, this, &CTraceTools::followClicked);
    connect(m_yAuto, &QCheckBox::clicked, this, &CTraceTools::rangeEdited);
    // Both limits typed choose the manual range.
    auto limitsEdited = [this] {
        if (m_yMin->text().trimmed().isEmpty() || m_yMax->text().trimmed().isEmpty())
            return;
        m_yAuto->setChecked(false);
        emit rangeEdited();
    };
    connect(m_yMin, &QLineEdit::editingFinished, this, limitsEdited);
    connect(m_yMax, &QLineEdit::editingFinished, this, limitsEdited);
    connect(m_open, &QPushButton::clicked, this, &CTraceTools::openReportClicked);
}

void CTraceTools::setHeld(bool held)
{
    const QSignalBlocker blocker(m_hold);
    m_hold->setChecked(held);
}

void CTraceTools::setYAuto(bool automatic)
{
    m_yAuto->setChecked(automatic);
}

bool CTraceTools::yAuto() const
{
    return m_yAuto->isChecked();
}

QString CTraceTools::yMinText() const
{
    return m_yMin->text();
}

QString CTraceTools::yMaxText() const
{
    return m_yMax->text();
}

void CTraceTools::setFigures(const Figures &figures)
{
    const auto show = [](QLabel *label, const QString &text) {
        if (label->text() != text)
            label->setText(text);
    };
    m_summaryText = figures.summary;
    const QString *rows[4] = {figures.period, figures.exchange, figures.values, figures.view};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            show(m_cells[r][c], rows[r][c]);
    showLineAbove();
}

void CTraceTools::setNote(const QString &text, bool error)
{
    m_noteText = text;
    m_note->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    m_note->setToolTip(text);
    m_note->setAccessibleDescription(text);
    showLineAbove();
}

QString CTraceTools::note() const
{
    return m_noteText;
}

void CTraceTools::showLineAbove()
{
    // A note leaves the counts only their first part, so that it has room.
    const QString summary = m_noteText.isEmpty()
        ? m_summaryText
        : m_summaryText.section(QStringLiteral(" \u00b7 "), 0, 0);
    if (m_summary->text() != summary)
        m_summary->setText(summary);
    // The columns take the new texts' widths now, and the note the room left.
    layout()->activate();
    m_table->layout()->activate();
    m_note->setText(
        m_note->fontMetrics().elidedText(m_noteText, Qt::ElideRight, qMax(0, m_note->width())));
}

void CTraceTools::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The note's own width follows once the layout has placed it.
    QMetaObject::invokeMethod(this, &CTraceTools::showLineAbove, Qt::QueuedConnection);
}
