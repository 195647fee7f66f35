#pragma once

#include "prompt.h"

#include <string>

// Unattended answers for tests and scripted demonstrations.
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
class CTestAnswers
{
public:
    static constexpr const char *kVariable = "SPELMAR_TEST_ANSWERS";

    static bool active();
    // True when the box was answered from the list; answer holds the answer.
    static bool answer(const std::string &text, IPrompt::Buttons buttons, IPrompt::Answer &answer);
    // The next word of the list (empty when the list has ended).
    static std::string nextWord();
};
