#pragma once

#include "prompt.h"

#include <cstdio>

// Prints every box's text and gives its negative answer (No, Cancel, or
// OK to a notice), so that nothing waits for a user.
class CliPrompt : public IPrompt
{
public:
    explicit CliPrompt(std::FILE *out);

    Answer message(const std::string &text, const std::string &caption, Buttons buttons,
                   Icon icon) override;

private:
    std::FILE *m_out;
};
