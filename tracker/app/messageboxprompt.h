#pragma once

#include "prompt.h"

#include <QPointer>
#include <QWidget>

// The tracker's message boxes. Questions asked from a worker thread are
// handed to the user-interface thread, and the worker waits for the answer.
class CMessageBoxPrompt : public IPrompt
{
public:
    explicit CMessageBoxPrompt(QWidget *parent = nullptr);

    Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                   Icon icon) override;

private:
    Answer show(const std::string &text, const std::string &caption, Buttons buttons, Icon icon);

    QPointer<QWidget> m_parent;
};
