#pragma once

#include "filetransfer.h"

#include <cstdint>
#include <string>
#include <vector>

// Reads the body of an HTTP answer 206 to a request for ranges: one part
// (the answer's Content-Range names it) or multipart/byteranges (a part
// per range, each with its own Content-Range between boundary lines). Only
// what was asked passes: every part must name exactly the next range asked
// and the file's size, and nothing but boundaries and part headers may lie
// between them; the bytes go to the sink as they arrive.
class ByteRangeReader
{
public:
    using ByteRange = IFileTransfer::ByteRange;

    static constexpr std::size_t kMaxLine = 1024;
    static constexpr int kMaxPartHeaders = 16;

    ByteRangeReader(std::vector<ByteRange> ranges, std::uint64_t fileSize,
                    IFileTransfer::RangeSink sink);

    // From the answer's Content-Type and Content-Range; false when the
    // answer is neither form, or its one part is not the one asked.
    bool begin(const std::string &contentType, const std::string &contentRange);
    // False once the body is not what was asked (error() says how) or the
    // sink refused.
    bool feed(const char *data, std::size_t size);
    // Every range arrived whole.
    bool complete() const { return m_next == m_ranges.size() && m_left == 0; }
    const std::string &error() const { return m_error; }

    // "bytes FIRST-LAST/TOTAL": false when the text is not that.
    static bool parseContentRange(const std::string &text, std::uint64_t &first,
                                  std::uint64_t &last, std::uint64_t &total);

private:
    enum class State
    {
        Boundary, // lines up to the next boundary
        Headers,  // a part's header lines
        Data,     // a part's bytes
        Done      // after the closing boundary
    };

    bool startPart(const std::string &contentRange);
    bool takeLine(const std::string &line);
    bool refuse(const std::string &why);

    std::vector<ByteRange> m_ranges;
    std::uint64_t m_fileSize;
    IFileTransfer::RangeSink m_sink;
    bool m_multipart = false;
    std::string m_boundary;
    State m_state = State::Data;
    std::string m_line;
    std::string m_partRange;
    int m_headerLines = 0;
    std::size_t m_next = 0;     // the range of the running part
    std::uint64_t m_left = 0;   // its bytes still to come
    std::uint64_t m_offset = 0; // the file offset of its next byte
    std::string m_error;
};
