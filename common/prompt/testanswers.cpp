#include "testanswers.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

const char kAnswersVariable[] = "SPELMAR_TEST_ANSWERS";

std::atomic<std::size_t> g_nextIndex{0};

std::string wordAt(const std::string &list, std::size_t index)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = list.find(',', start);
        if (start == std::string::npos)
            return std::string();
        ++start;
    }
    const std::size_t end = list.find(',', start);
    return list.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

bool CTestAnswers::active()
{
    return std::getenv(kAnswersVariable) != nullptr;
}

std::string CTestAnswers::nextWord()
{
    const char *list = std::getenv(kAnswersVariable);
    if (!list)
        return std::string();
    return wordAt(list, g_nextIndex.fetch_add(1));
}

bool CTestAnswers::answer(const std::string &text, IPrompt::Buttons buttons,
                          IPrompt::Answer &answer)
{
    if (!active())
        return false;
    std::string line = "box: ";
    for (const char c : text) {
        if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);

    const std::string word = nextWord();
    answer = IPrompt::negativeAnswer(buttons);
    if (buttons == IPrompt::Buttons::YesNo && word == "yes")
        answer = IPrompt::Answer::Yes;
    else if (buttons == IPrompt::Buttons::OkCancel && word == "ok")
        answer = IPrompt::Answer::Ok;
    return true;
}

int CTestAnswers::exitWhenShownMs()
{
    const char *value = std::getenv("SPELMAR_EXIT_WHEN_SHOWN");
    return value ? std::atoi(value) : 0;
}
