#include "byterangereader.h"

#include <QByteArray>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr const char *kWrongPart =
    "the server sent another part of the file than the one asked for";

std::string lower(const std::string &text)
{
    return QByteArray::fromStdString(text).toLower().toStdString();
}

std::string trimmed(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool readNumber(const std::string &text, std::size_t &position, std::uint64_t &value)
{
    const std::size_t start = position;
    value = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9'
           && position - start < 19)
        value = value * 10 + static_cast<std::uint64_t>(text[position++] - '0');
    return position > start
        && (position == text.size() || text[position] < '0' || text[position] > '9');
}

} // namespace

ByteRangeReader::ByteRangeReader(std::vector<ByteRange> ranges, std::uint64_t fileSize,
                                 IFileTransfer::RangeSink sink)
    : m_ranges(std::move(ranges))
    , m_fileSize(fileSize)
    , m_sink(std::move(sink))
{
}

bool ByteRangeReader::parseContentRange(const std::string &text, std::uint64_t &first,
                                        std::uint64_t &last, std::uint64_t &total)
{
    const std::string value = lower(trimmed(text));
    if (value.compare(0, 6, "bytes ") != 0)
        return false;
    std::size_t position = 6;
    if (!readNumber(value, position, first) || position >= value.size() || value[position++] != '-'
        || !readNumber(value, position, last) || position >= value.size()
        || value[position++] != '/' || !readNumber(value, position, total))
        return false;
    return position == value.size() && first <= last && last < total;
}

bool ByteRangeReader::refuse(const std::string &why)
{
    if (m_error.empty())
        m_error = why;
    return false;
}

bool ByteRangeReader::begin(const std::string &contentType, const std::string &contentRange)
{
    const std::string type = lower(contentType);
    if (trimmed(type).compare(0, 20, "multipart/byteranges") == 0) {
        const std::size_t at = type.find("boundary=");
        if (at == std::string::npos)
            return refuse("multipart/byteranges without a boundary");
        // The boundary keeps its case.
        std::string boundary = trimmed(contentType.substr(at + 9));
        boundary = boundary.substr(0, boundary.find(';'));
        if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
            boundary = boundary.substr(1, boundary.size() - 2);
        if (boundary.empty() || boundary.size() > 70)
            return refuse("multipart/byteranges with a malformed boundary");
        m_multipart = true;
        m_boundary = "--" + boundary;
        m_state = State::Boundary;
        return true;
    }
    return startPart(contentRange);
}

bool ByteRangeReader::startPart(const std::string &contentRange)
{
    std::uint64_t first = 0, last = 0, total = 0;
    if (!parseContentRange(contentRange, first, last, total))
        return refuse("the server sent a part without a sound Content-Range");
    if (m_next >= m_ranges.size() || first != m_ranges[m_next].offset
        || last - first + 1 != m_ranges[m_next].length || total != m_fileSize)
        return refuse(kWrongPart);
    m_offset = first;
    m_left = m_ranges[m_next].length;
    ++m_next;
    m_state = State::Data;
    return true;
}

bool ByteRangeReader::takeLine(const std::string &line)
{
    if (m_state == State::Boundary) {
        if (line.empty())
            return true;
        if (line == m_boundary + "--") {
            if (m_next != m_ranges.size())
                return refuse("the server sent fewer parts than asked for");
            m_state = State::Done;
            return true;
        }
        if (line != m_boundary)
            return refuse("the server sent more than the parts asked for");
        m_state = State::Headers;
        m_headerLines = 0;
        m_partRange.clear();
        return true;
    }
    // State::Headers
    if (line.empty())
        return startPart(m_partRange);
    if (++m_headerLines > kMaxPartHeaders)
        return refuse("a part with too many header lines");
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && lower(line.substr(0, colon)) == "content-range")
        m_partRange = line.substr(colon + 1);
    return true;
}

bool ByteRangeReader::feed(const char *data, std::size_t size)
{
    if (!m_error.empty())
        return false;
    while (size > 0) {
        if (m_state == State::Data) {
            if (m_left == 0) {
                if (!m_multipart)
                    return refuse("the server sent more than the part asked for");
                m_state = State::Boundary;
                continue;
            }
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_left, size));
            if (!m_sink(m_offset, data, take))
                return refuse("the part could not be kept");
            m_offset += take;
            m_left -= take;
            data += take;
            size -= take;
            continue;
        }
        if (m_state == State::Done) {
            // An epilogue of a line or two at most.
            if (m_line.size() + size > kMaxLine)
                return refuse("the server sent more than the parts asked for");
            m_line.append(data, size);
            return true;
        }
        const char c = *data++;
        --size;
        if (c == '\n') {
            if (!m_line.empty() && m_line.back() == '\r')
                m_line.pop_back();
            const std::string line = std::move(m_line);
            m_line.clear();
            if (!takeLine(line))
                return false;
        } else if (m_line.size() >= kMaxLine) {
            return refuse("the server sent more than the parts asked for");
        } else {
            m_line += c;
        }
    }
    return true;
}
