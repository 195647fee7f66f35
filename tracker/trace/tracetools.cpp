#include "tracetools.h"

#include <QCheckBox>
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

QLabel *figuresLabel(const char *object, const QString &accessible)
{
    auto *label = named(new QLabel, object, accessible);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

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
    , m_stats(figuresLabel("statsLabel", tr("Poll statistics")))
    , m_view(figuresLabel("viewLabel", tr("Visible range statistics")))
    , m_note(figuresLabel("noteLabel", tr("Note")))
{
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
    for (QPushButton *button : {m_hold, m_follow, m_open, m_export})
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 28);

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

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(1);
    layout->addLayout(buttons);
    layout->addWidget(m_stats);
    layout->addWidget(m_view);
    layout->addWidget(m_note);
    m_note->hide();

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

void CTraceTools::setStatsText(const QString &text)
{
    if (m_stats->text() != text)
        m_stats->setText(text);
}

void CTraceTools::setViewText(const QString &text)
{
    if (m_view->text() != text)
        m_view->setText(text);
}

void CTraceTools::setNote(const QString &text, bool error)
{
    m_note->setText(text);
    m_note->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
    m_note->setVisible(!text.isEmpty());
}

QString CTraceTools::note() const
{
    return m_note->text();
}
