#include "linecontrolbutton.h"

#include "linecontrol.h"

#include <QActionGroup>
#include <QMenu>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace {

const char *lineName(bool rts)
{
    return rts ? "RTS" : "DTR";
}

QString entryText(bool rts, LineControl control)
{
    const QString line = QString::fromLatin1(lineName(rts));
    switch (control) {
    case LineControl::Asserted: return line + QStringLiteral(": on (asserted)");
    case LineControl::Released: return line + QStringLiteral(": off (released)");
    case LineControl::Unchanged: break;
    }
    return line + QStringLiteral(": keep as it is");
}

} // namespace

CLineControlButton::CLineControlButton(QWidget *parent)
    : QToolButton(parent)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("lineControlMenu"));
    for (const bool rts : {false, true}) {
        if (rts)
            menu->addSeparator();
        auto *group = new QActionGroup(this);
        for (const LineControl control :
             {LineControl::Unchanged, LineControl::Asserted, LineControl::Released}) {
            QAction *action = menu->addAction(entryText(rts, control));
            action->setCheckable(true);
            action->setChecked(control == kDefaultLineControl);
            group->addAction(action);
            m_entries.push_back({rts, control, action});
        }
        connect(group, &QActionGroup::triggered, this, &CLineControlButton::showChoice);
    }
    setMenu(menu);
    setPopupMode(QToolButton::InstantPopup);
    setAccessibleName(QStringLiteral("DTR and RTS"));
    showChoice();
}

LineControl CLineControlButton::chosen(bool rts) const
{
    for (const Entry &entry : m_entries) {
        if (entry.rts == rts && entry.action->isChecked())
            return entry.control;
    }
    return LineControl::Unchanged;
}

LineControl CLineControlButton::dtr() const
{
    return chosen(false);
}

LineControl CLineControlButton::rts() const
{
    return chosen(true);
}

void CLineControlButton::setChoice(LineControl dtr, LineControl rts)
{
    for (const Entry &entry : m_entries)
        entry.action->setChecked(entry.control == (entry.rts ? rts : dtr));
    showChoice();
}

QString CLineControlButton::choiceText() const
{
    return QStringLiteral("%1 %2, %3 %4")
        .arg(QLatin1String(lineName(false)), QLatin1String(lineControlText(dtr())),
             QLatin1String(lineName(true)), QLatin1String(lineControlText(rts())));
}

void CLineControlButton::showChoice()
{
    const QString text = QStringLiteral("When the port opens: ") + choiceText();
    setToolTip(text);
    setAccessibleDescription(text);
}

void CLineControlButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.features &= ~QStyleOptionToolButton::HasMenu;
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
}
