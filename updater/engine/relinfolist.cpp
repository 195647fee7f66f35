#include "relinfolist.h"

#include <cctype>
#include <cstdlib>

void RelInfoList::append(const std::string &fileName, const std::string &revision,
                         const std::string &transferMark)
{
    m_records.push_back(RelInfoRecord{fileName, revision, transferMark, std::string()});
}

void RelInfoList::removeAt(std::size_t index)
{
    if (index < m_records.size())
        m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(index));
}

static bool equalNoCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i]))
            != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

long RelInfoList::indexOfNoCase(const std::string &name) const
{
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (equalNoCase(m_records[i].fileName, name))
            return static_cast<long>(i);
    }
    return -1;
}

void RelInfoList::setTransferred(std::size_t index)
{
    if (index < m_records.size())
        m_records[index].transferMark = "1";
}

bool RelInfoList::isTransferred(std::size_t index) const
{
    if (index >= m_records.size())
        return false;
    return std::strtol(m_records[index].transferMark.c_str(), nullptr, 10) > 0;
}
