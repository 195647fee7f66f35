#pragma once

#include "prompt.h"

// Message boxes of the library's windows, each parented to the window that
// asks (the top modal window, else the active one). Safe to call from any thread:
// off the user-interface thread the box is shown by that thread while the
// caller waits for the answer. Without a widget application nothing can
// be shown and the answer is the negative one (Cancel or No; Ok for a box
// that offers only OK). Once the library closes down, boxes asked off the
// user-interface thread get the negative answer, those still waiting too.
class CWidgetPrompt : public IPrompt
{
public:
    Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                   Icon icon) override;

    // The library's shared instance.
    static CWidgetPrompt &instance();

    // From now on workers are answered without a box (the process ends).
    static void closeDown();

private:
    static Answer show(const std::string &text, const std::string &caption, Buttons buttons,
                       Icon icon);
};
