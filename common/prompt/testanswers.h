#pragma once

#include "prompt.h"

#include <string>

// Unattended running for tests and scripted demonstrations. Only builds
// with testing on (SPELMAR_TEST_SEAMS) contain it; elsewhere every call
// below answers "not active" and the programs read no such variable.
//
// When the environment variable SPELMAR_TEST_ANSWERS is set, the prompts of
// the tracker and of the update library show no box: each box's text is
// written to stderr as one line "box: TEXT" (line breaks as "\n") and the box
// is answered with the next word of the variable's comma-separated list
// ("yes", "no", "ok", "cancel"). Windows that wait for a choice of the user
// take their word from the same list (the release-notes window in install
// mode: "install" or "all"; any other word closes it). Each process reads
// the list from its start. A word that does not fit, or the end of the list,
// gives the negative answer. Unset, the variable changes nothing.
//
// With SPELMAR_EXIT_WHEN_SHOWN=N (N > 0) the main window writes
// "Spelmar: main window shown" to stdout when it has first been shown and
// closes N - 1 milliseconds later, as by its close box: 1 ends the program
// at once (start-up measurements), larger values end it at a chosen moment
// of its start (exit tests).
class CTestAnswers
{
public:
#ifdef SPELMAR_TEST_SEAMS
    static bool active();
    // True when the box was answered from the list; answer holds the answer.
    static bool answer(const std::string &text, IPrompt::Buttons buttons, IPrompt::Answer &answer);
    // The next word of the list (empty when the list has ended).
    static std::string nextWord();
    // N of SPELMAR_EXIT_WHEN_SHOWN, 0 when unset.
    static int exitWhenShownMs();
#else
    static bool active()
    {
        return false;
    }
    static bool answer(const std::string &, IPrompt::Buttons, IPrompt::Answer &)
    {
        return false;
    }
    static std::string nextWord()
    {
        return std::string();
    }
    static int exitWhenShownMs()
    {
        return 0;
    }
#endif
};
