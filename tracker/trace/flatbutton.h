#pragma once

#include <QPushButton>

// A flat push button that shows the keyboard focus: the styles draw no
// focus frame on flat buttons, so this one draws its own.
class CFlatButton : public QPushButton
{
    Q_OBJECT

public:
    explicit CFlatButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
