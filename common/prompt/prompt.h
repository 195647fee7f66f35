#pragma once

#include <string>

// Logic code asks and tells the user only through this interface.
// The windows implement it with message boxes on the
// user-interface thread; the command-line tools print and answer by rule;
// tests answer from a script.
class IPrompt
{
public:
    enum class Buttons
    {
        Ok,
        YesNo,
        OkCancel
    };
    enum class Icon
    {
        None,
        Information,
        Question,
        Warning,
        Stop
    };
    enum class Answer
    {
        Ok,
        Cancel,
        Yes,
        No
    };

    virtual ~IPrompt() = default;

    // What a box is taken to answer when nobody chooses: Cancel or No, Ok
    // for a box that offers only OK.
    static Answer negativeAnswer(Buttons buttons)
    {
        switch (buttons) {
        case Buttons::Ok: return Answer::Ok;
        case Buttons::YesNo: return Answer::No;
        case Buttons::OkCancel: break;
        }
        return Answer::Cancel;
    }

    // Shows text (with caption, empty for the default) and returns the
    // button the user chose. May be called from a worker thread: an
    // implementation that shows a window must hand the question over to
    // the user-interface thread and wait for the answer.
    virtual Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                           Icon icon) = 0;
};
