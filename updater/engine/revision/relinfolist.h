#pragma once

#include "relinforecord.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

// In-memory contents of one revision-information file, records in file
// order. The list read from the server uses the transfer marks; local and
// backup lists leave them empty.
//
// The texts of all records share one buffer and each record costs one
// offset into it besides its bytes, so a list of many short records takes
// about the room of its file. Records are read as RelInfoRecord values
// whose texts point into the buffer: any change of the list invalidates
// them.
class RelInfoList
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = RelInfoRecord;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = RelInfoRecord;

        const_iterator(const RelInfoList *list, std::size_t index)
            : m_list(list)
            , m_index(index)
        {
        }
        RelInfoRecord operator*() const { return (*m_list)[m_index]; }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_index;
            return old;
        }
        bool operator==(const const_iterator &other) const { return m_index == other.m_index; }
        bool operator!=(const const_iterator &other) const { return m_index != other.m_index; }

    private:
        const RelInfoList *m_list;
        std::size_t m_index;
    };

    std::size_t size() const { return m_offsets.size(); }
    bool empty() const { return m_offsets.empty(); }

    RelInfoRecord operator[](std::size_t index) const;

    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

    // transferMark: empty for none; any other text counts as "1" when it
    // reads as a number above 0 and as "0" otherwise.
    void append(std::string_view fileName, std::string_view revision,
                std::string_view transferMark = std::string_view(),
                std::string_view sha256 = std::string_view(), const std::uint64_t *size = nullptr,
                std::string_view indexSha256 = std::string_view(), std::uint64_t indexSize = 0);

    void setRevision(std::size_t index, std::string_view revision);
    // Marks record index as downloaded (transfer mark "1").
    void setTransferred(std::size_t index);
    // True when the record's transfer mark is "1".
    bool isTransferred(std::size_t index) const;

    // Keeps the records whose flag in keep is true (one flag per record, in
    // order) and gives back the room of the others when they were many.
    void keepOnly(const std::vector<bool> &keep);

    // Makes room for the records of a file of fileBytes bytes without
    // further reallocation. Room that the records do not use is reserved
    // address space only.
    void reserveForFile(std::uint64_t fileBytes);
    // Takes back the records appended last, from index size on (a read
    // that failed half-way).
    void truncate(std::size_t size);

private:
    enum Flags : unsigned char
    {
        MarkNone = 0,
        MarkZero = 1,
        MarkOne = 2,
        MarkBits = 3,
        HasSha = 4,
        HasSize = 8,
        HasIndex = 16
    };

    // Writes a record's bytes at the end of the text; returns their offset.
    std::uint32_t appendPacked(std::string_view fileName, std::string_view revision,
                               unsigned char flags, std::string_view sha256,
                               const std::uint64_t *size, std::string_view indexSha256,
                               std::uint64_t indexSize);
    std::uint32_t appendRaw(const RelInfoList &from, std::size_t index);
    std::size_t flagsAt(std::size_t index) const;
    std::size_t recordEnd(std::size_t index) const;

    // Per record: varint name length, varint revision length, flag byte,
    // name, revision, with HasSha the 64 hex digits and with HasSize the
    // size as 8 bytes (host order), with HasIndex the index's 64 hex
    // digits and its size as 8 bytes.
    std::string m_text;
    std::vector<std::uint32_t> m_offsets;
};
