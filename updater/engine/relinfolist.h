#pragma once

#include "relinforecord.h"

#include <cstddef>
#include <string>
#include <vector>

// In-memory contents of one revision-information file, records in file
// order. The list read from the server uses the transfer marks; local and
// backup lists leave them empty. Records are added and removed whole.
class RelInfoList
{
public:
    using const_iterator = std::vector<RelInfoRecord>::const_iterator;
    using iterator = std::vector<RelInfoRecord>::iterator;

    std::size_t size() const { return m_records.size(); }
    bool empty() const { return m_records.empty(); }
    void clear() { m_records.clear(); }

    const RelInfoRecord &at(std::size_t index) const { return m_records.at(index); }
    RelInfoRecord &at(std::size_t index) { return m_records.at(index); }
    const RelInfoRecord &operator[](std::size_t index) const { return m_records[index]; }
    RelInfoRecord &operator[](std::size_t index) { return m_records[index]; }

    iterator begin() { return m_records.begin(); }
    iterator end() { return m_records.end(); }
    const_iterator begin() const { return m_records.begin(); }
    const_iterator end() const { return m_records.end(); }

    void append(const RelInfoRecord &record) { m_records.push_back(record); }
    void append(const std::string &fileName, const std::string &revision,
                const std::string &transferMark = std::string());
    void removeAt(std::size_t index);

    // Index of the first record whose file name equals name without regard
    // to (ASCII) letter case, or -1. Linear; use for single look-ups only.
    long indexOfNoCase(const std::string &name) const;

    // Marks record index as downloaded (transfer mark "1").
    void setTransferred(std::size_t index);
    // True when the record's transfer mark read as a number is above 0.
    bool isTransferred(std::size_t index) const;

    // The whole vector, for algorithms that rebuild the list in one pass.
    std::vector<RelInfoRecord> &records() { return m_records; }
    const std::vector<RelInfoRecord> &records() const { return m_records; }

private:
    std::vector<RelInfoRecord> m_records;
};
