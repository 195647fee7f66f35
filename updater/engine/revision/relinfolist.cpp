#include "relinfolist.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

void appendLength(std::string &text, std::size_t length)
{
    while (length >= 0x80) {
        text += static_cast<char>((length & 0x7f) | 0x80);
        length >>= 7;
    }
    text += static_cast<char>(length);
}

std::size_t readLength(const std::string &text, std::size_t &position)
{
    std::size_t length = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char byte = static_cast<unsigned char>(text[position++]);
        length |= std::size_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return length;
    }
}

const std::string_view kMarkTexts[] = {std::string_view(), "0", "1", std::string_view()};

} // namespace

std::size_t RelInfoList::flagsAt(std::size_t index) const
{
    std::size_t position = m_offsets[index];
    readLength(m_text, position);
    readLength(m_text, position);
    return position;
}

RelInfoRecord RelInfoList::operator[](std::size_t index) const
{
    std::size_t position = m_offsets[index];
    const std::size_t nameLength = readLength(m_text, position);
    const std::size_t revisionLength = readLength(m_text, position);
    const unsigned char flags = static_cast<unsigned char>(m_text[position++]);
    const char *data = m_text.data() + position;
    RelInfoRecord record;
    record.fileName = std::string_view(data, nameLength);
    record.revision = std::string_view(data + nameLength, revisionLength);
    record.transferMark = kMarkTexts[flags & MarkBits];
    if (flags & HasSha)
        record.sha256 = std::string_view(data + nameLength + revisionLength, 64);
    if (flags & HasSize) {
        std::memcpy(&record.size, data + nameLength + revisionLength + (flags & HasSha ? 64 : 0),
                    sizeof record.size);
        record.hasSize = true;
    }
    if (flags & HasIndex) {
        const char *index = data + nameLength + revisionLength + (flags & HasSha ? 64 : 0)
            + (flags & HasSize ? sizeof(std::uint64_t) : 0);
        record.indexSha256 = std::string_view(index, 64);
        std::memcpy(&record.indexSize, index + 64, sizeof record.indexSize);
    }
    return record;
}

std::size_t RelInfoList::recordEnd(std::size_t index) const
{
    std::size_t position = m_offsets[index];
    const std::size_t nameLength = readLength(m_text, position);
    const std::size_t revisionLength = readLength(m_text, position);
    const unsigned char flags = static_cast<unsigned char>(m_text[position++]);
    return position + nameLength + revisionLength + (flags & HasSha ? 64 : 0)
        + (flags & HasSize ? sizeof(std::uint64_t) : 0)
        + (flags & HasIndex ? 64 + sizeof(std::uint64_t) : 0);
}

std::uint32_t RelInfoList::appendPacked(std::string_view fileName, std::string_view revision,
                                        unsigned char flags, std::string_view sha256,
                                        const std::uint64_t *size, std::string_view indexSha256,
                                        std::uint64_t indexSize)
{
    if (m_text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("RelInfoList: more text than one list holds");
    const std::uint32_t offset = static_cast<std::uint32_t>(m_text.size());
    appendLength(m_text, fileName.size());
    appendLength(m_text, revision.size());
    if (sha256.size() == 64)
        flags |= HasSha;
    if (size)
        flags |= HasSize;
    if (indexSha256.size() == 64 && indexSize > 0)
        flags |= HasIndex;
    m_text += static_cast<char>(flags);
    m_text.append(fileName);
    m_text.append(revision);
    if (flags & HasSha)
        m_text.append(sha256);
    if (size)
        m_text.append(reinterpret_cast<const char *>(size), sizeof *size);
    if (flags & HasIndex) {
        m_text.append(indexSha256);
        m_text.append(reinterpret_cast<const char *>(&indexSize), sizeof indexSize);
    }
    return offset;
}

void RelInfoList::append(std::string_view fileName, std::string_view revision,
                         std::string_view transferMark, std::string_view sha256,
                         const std::uint64_t *size, std::string_view indexSha256,
                         std::uint64_t indexSize)
{
    unsigned char mark = MarkNone;
    if (transferMark == "0")
        mark = MarkZero;
    else if (transferMark == "1")
        mark = MarkOne;
    else if (!transferMark.empty())
        mark = std::strtol(std::string(transferMark).c_str(), nullptr, 10) > 0 ? MarkOne : MarkZero;
    m_offsets.push_back(
        appendPacked(fileName, revision, mark, sha256, size, indexSha256, indexSize));
}

void RelInfoList::setRevision(std::size_t index, std::string_view revision)
{
    // The record is written again at the end; its old bytes stay unused.
    const RelInfoRecord old = (*this)[index];
    const std::string name(old.fileName);
    const std::string sha256(old.sha256);
    const std::string indexSha256(old.indexSha256);
    const std::string newRevision(revision);
    const unsigned char flags = static_cast<unsigned char>(m_text[flagsAt(index)]);
    m_offsets[index] = appendPacked(name, newRevision, flags & MarkBits, sha256,
                                    old.hasSize ? &old.size : nullptr, indexSha256, old.indexSize);
}

void RelInfoList::setTransferred(std::size_t index)
{
    if (index >= size())
        return;
    char &flags = m_text[flagsAt(index)];
    flags = static_cast<char>((static_cast<unsigned char>(flags) & ~MarkBits) | MarkOne);
}

bool RelInfoList::isTransferred(std::size_t index) const
{
    if (index >= size())
        return false;
    return (static_cast<unsigned char>(m_text[flagsAt(index)]) & MarkBits) == MarkOne;
}

void RelInfoList::keepOnly(const std::vector<bool> &keep)
{
    bool inOrder = true;
    for (std::size_t i = 1; i < m_offsets.size() && inOrder; ++i)
        inOrder = m_offsets[i - 1] < m_offsets[i];
    if (!inOrder) {
        // A changed revision was written at the end: copy the kept records.
        RelInfoList kept;
        for (std::size_t i = 0; i < m_offsets.size() && i < keep.size(); ++i) {
            if (keep[i])
                kept.m_offsets.push_back(kept.appendRaw(*this, i));
        }
        std::swap(*this, kept);
        return;
    }
    // Records and their bytes move towards the front in order, so nothing
    // is overwritten before it has moved.
    std::size_t kept = 0;
    std::size_t textEnd = 0;
    for (std::size_t i = 0; i < m_offsets.size() && i < keep.size(); ++i) {
        if (!keep[i])
            continue;
        const std::size_t begin = m_offsets[i];
        const std::size_t length = recordEnd(i) - begin;
        if (begin != textEnd)
            std::memmove(&m_text[textEnd], m_text.data() + begin, length);
        m_offsets[kept++] = static_cast<std::uint32_t>(textEnd);
        textEnd += length;
    }
    m_offsets.resize(kept);
    m_text.resize(textEnd);
    // Give the room back when most of it is unused now.
    if (m_text.size() < m_text.capacity() / 2)
        m_text.shrink_to_fit();
    if (m_offsets.size() < m_offsets.capacity() / 2)
        m_offsets.shrink_to_fit();
}

std::uint32_t RelInfoList::appendRaw(const RelInfoList &from, std::size_t index)
{
    const std::size_t begin = from.m_offsets[index];
    const std::uint32_t offset = static_cast<std::uint32_t>(m_text.size());
    m_text.append(from.m_text, begin, from.recordEnd(index) - begin);
    return offset;
}

void RelInfoList::reserveForFile(std::uint64_t fileBytes)
{
    // A record takes at least three bytes of the file (a name byte and
    // CR LF, but the last) and at most four bytes more in the list than in
    // the file (a line with a name only).
    const std::size_t records = static_cast<std::size_t>(fileBytes / 3 + 1);
    m_offsets.reserve(m_offsets.size() + records);
    m_text.reserve(m_text.size() + static_cast<std::size_t>(fileBytes) + records + 16);
}

void RelInfoList::truncate(std::size_t size)
{
    if (size >= m_offsets.size())
        return;
    m_text.resize(m_offsets[size]);
    m_offsets.resize(size);
}
