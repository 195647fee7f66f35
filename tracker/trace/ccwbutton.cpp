#include "ccwbutton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// What assistive tools see: an LED is an indicator whose state is its
// value, a colour button a button that can be pressed.
class CCWButtonAccessible : public QAccessibleWidget
{
public:
    explicit CCWButtonAccessible(CCWButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QAccessible::Role role() const override
    {
        return button()->isLed() ? QAccessible::Indicator : QAccessible::Button;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (button()->isLed()) {
            state.checkable = true;
            state.checked = button()->value();
        }
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value && button()->isLed())
            return button()->value() ? QStringLiteral("on") : QStringLiteral("off");
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override
    {
        if (button()->isLed())
            return QAccessibleWidget::actionNames();
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction() && !button()->isLed() && button()->isEnabled())
            emit button()->clicked();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    CCWButton *button() const { return static_cast<CCWButton *>(object()); }
};

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("CCWButton") && object && object->isWidgetType())
        return new CCWButtonAccessible(static_cast<CCWButton *>(object));
    return nullptr;
}

} // namespace

CCWButton::CCWButton(QWidget *parent)
    : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::TabFocus);
}

void CCWButton::setLed(bool led)
{
    m_led = led;
    setFocusPolicy(led ? Qt::NoFocus : Qt::TabFocus);
    update();
}

void CCWButton::setValue(bool on)
{
    if (m_on == on)
        return;
    m_on = on;
    update();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void CCWButton::setAlarm(bool alarm)
{
    if (m_alarm == alarm)
        return;
    m_alarm = alarm;
    update();
}

void CCWButton::setOffColor(const QColor &color)
{
    m_color = color;
    update();
}

QSize CCWButton::sizeHint() const
{
    return m_led ? QSize(15, 15) : QSize(26, 23);
}

void CCWButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (m_led) {
        const qreal side = qMin(area.width(), area.height());
        const QRectF circle(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
        painter.setPen(QPen(palette().color(QPalette::Dark), 1));
        painter.setBrush(m_alarm    ? QColor(220, 30, 30)
                             : m_on ? QColor(40, 220, 40)
                                    : QColor(20, 70, 20));
        painter.drawEllipse(circle);
        return;
    }
    painter.setPen(QPen(palette().color(m_pressed ? QPalette::Dark : QPalette::Mid), 1));
    painter.setBrush(palette().button());
    painter.drawRoundedRect(area, 2, 2);
    const QRectF swatch = area.adjusted(3, 3, -3, -3);
    painter.setPen(QPen(palette().color(QPalette::Shadow), 1));
    painter.setBrush(m_color);
    painter.drawRect(swatch);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(area.adjusted(1, 1, -1, -1));
    }
}

void CCWButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_led) {
        m_pressed = true;
        update();
    }
    QWidget::mousePressEvent(event);
}

void CCWButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_pressed) {
        m_pressed = false;
        update();
        if (rect().contains(event->position().toPoint()))
            emit clicked();
    }
    QWidget::mouseReleaseEvent(event);
}

void CCWButton::keyPressEvent(QKeyEvent *event)
{
    if (!m_led
        && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return
            || event->key() == Qt::Key_Enter)) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}
