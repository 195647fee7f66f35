#include "cliprompt.h"

CliPrompt::CliPrompt(std::FILE *out)
    : m_out(out)
{
}

IPrompt::Answer CliPrompt::message(const std::string &text, const std::string & /*caption*/,
                                   Buttons buttons, Icon /*icon*/)
{
    std::fwrite(text.data(), 1, text.size(), m_out);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', m_out);
    std::fflush(m_out);
    return negativeAnswer(buttons);
}
