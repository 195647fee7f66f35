#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>

// A small indicator and colour button. As an LED it is lit or dark; as a
// colour swatch it shows a colour and reports a click. Colours are
// 0x00BBGGRR values.
class CCWButton : public QWidget
{
    Q_OBJECT

public:
    explicit CCWButton(QWidget *parent = nullptr);

    // Draw as a round LED (true) or as a colour swatch (false, the default).
    void setLed(bool led);
    bool isLed() const { return m_led; }

    // Indicator on or off.
    void setValue(bool on);
    bool value() const { return m_on; }
    // An LED in alarm shows red, lit or not (a link that was lost).
    void setAlarm(bool alarm);
    bool isAlarm() const { return m_alarm; }

    // Colour shown by a colour button.
    void setOffColor(const QColor &color);
    QColor offColor() const { return m_color; }

    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_led = false;
    bool m_on = false;
    bool m_alarm = false;
    bool m_pressed = false;
    QColor m_color = Qt::black;
};
