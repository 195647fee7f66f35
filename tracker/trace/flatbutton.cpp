#include "flatbutton.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

CFlatButton::CFlatButton(QWidget *parent)
    : QPushButton(parent)
{
    setFlat(true);
    // Never the default button of the dialog it sits in.
    setAutoDefault(false);
}

void CFlatButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(2, 2, -2, -2);
    option.backgroundColor = palette().color(QPalette::Button);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    // Some styles draw the frame only for a keyboard focus change; the
    // highlight line below shows it in every style.
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
}
