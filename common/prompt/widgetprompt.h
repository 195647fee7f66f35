#pragma once

#include "prompt.h"

#include <QPointer>
#include <QString>
#include <QWidget>

// Message boxes, each parented to the prompt's owner window when it has one
// and that still exists, else to the window that asks (the top modal
// window, else the active one). Safe to call from any thread:
// off the user-interface thread the box is shown by that thread while the
// caller waits for the answer. Without a widget application nothing can
// be shown and the answer is the negative one (Cancel or No; Ok for a box
// that offers only OK). Once the library closes down, boxes asked off the
// user-interface thread get the negative answer, those still waiting too.
class CWidgetPrompt : public IPrompt
{
public:
    // defaultCaption titles the boxes asked without a caption of their own.
    explicit CWidgetPrompt(QWidget *owner = nullptr, const QString &defaultCaption = QString());

    Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                   Icon icon) override;

    // The update library's shared instance.
    static CWidgetPrompt &instance();

    // From now on workers are answered without a box (the process ends).
    static void closeDown();

private:
    static Answer show(QWidget *owner, const QString &caption, const std::string &text,
                       Buttons buttons, Icon icon);

    QPointer<QWidget> m_owner;
    QString m_defaultCaption;
};
