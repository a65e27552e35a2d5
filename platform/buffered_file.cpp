#include "platform/buffered_file.h"

#include <algorithm>
#include <cstring>

#include "platform/failure.h"

namespace dsu::platform {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;

// One spare read buffer per thread: scans open thousands of small files in
// turn, and a fresh 64 KiB block for each sent the allocator through its
// free lists every time.
thread_local std::unique_ptr<char[]> spareBuffer;

std::unique_ptr<char[]> TakeBuffer() {
    if (spareBuffer) return std::move(spareBuffer);
    return std::make_unique_for_overwrite<char[]>(kBufferSize);
}
}  // namespace

BufferedTextReader::BufferedTextReader(std::u16string path)
    : path_(std::move(path)), buffer_(TakeBuffer()) {}

BufferedTextReader::~BufferedTextReader() {
    if (!spareBuffer) spareBuffer = std::move(buffer_);
}

bool BufferedTextReader::Refill() {
    if (eof_) return false;
    pos_ = 0;
    end_ = ReadRaw(buffer_.get(), kBufferSize);
    if (end_ == 0) eof_ = true;
    return end_ != 0;
}

bool BufferedTextReader::AtEnd() { return pos_ == end_ && !Refill(); }

bool BufferedTextReader::PassLineEnd() {
    if (pos_ == end_ && !Refill()) return true;  // the last line, without a line end
    if (buffer_[pos_] != '\r') return false;
    ++pos_;
    // A line feed right behind the carriage return belongs to the line end.
    if ((pos_ < end_ || Refill()) && buffer_[pos_] == '\n') ++pos_;
    return true;
}

bool BufferedTextReader::ReadLinePart(std::string& part, std::size_t limit) {
    if (AtEnd()) throw FileError(u"read", path_, u"Reached the end of the file");
    part.clear();
    for (;;) {
        const char* start = buffer_.get() + pos_;
        const std::size_t available = std::min(end_ - pos_, limit - part.size());
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', available));
        const std::size_t n = cr != nullptr ? static_cast<std::size_t>(cr - start) : available;
        part.append(start, n);
        pos_ += n;
        if (cr != nullptr || part.size() == limit) return PassLineEnd();
        if (!Refill()) return true;
    }
}

bool BufferedTextReader::ReadTrimmedLineUpTo(std::string& line, std::size_t limit) {
    if (AtEnd()) throw FileError(u"read", path_, u"Reached the end of the file");
    line.clear();
    bool whole = true;
    // How much of `n` more bytes the limit leaves room for.
    auto room = [&](std::size_t n) {
        const std::size_t left = limit - line.size();
        if (n <= left) return n;
        whole = false;
        return left;
    };
    // Spaces ahead of the first other byte are dropped, and a run of spaces
    // is only counted until a byte behind it shows that it is not the line's
    // tail: neither is ever stored.
    bool started = false;
    std::size_t heldSpaces = 0;
    auto keep = [&](const char* data, std::size_t n) {
        const char* end = data + n;
        if (!started) {
            while (data != end && *data == ' ') ++data;
            if (data == end) return;
            started = true;
        }
        const char* last = end;
        while (last != data && last[-1] == ' ') --last;
        if (last != data) {
            line.append(room(heldSpaces), ' ');
            heldSpaces = 0;
            line.append(data, room(static_cast<std::size_t>(last - data)));
        }
        heldSpaces += static_cast<std::size_t>(end - last);
    };
    for (;;) {
        const char* start = buffer_.get() + pos_;
        const std::size_t available = end_ - pos_;
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', available));
        if (cr != nullptr) {
            keep(start, static_cast<std::size_t>(cr - start));
            pos_ += static_cast<std::size_t>(cr - start);
            PassLineEnd();
            return whole;
        }
        keep(start, available);
        pos_ = end_;
        if (!Refill()) return whole;  // the last line, without a line end
    }
}

BufferedTextWriter::BufferedTextWriter(std::u16string path) : path_(std::move(path)) {
    pending_.reserve(kBufferSize);
}

void BufferedTextWriter::Write(std::string_view text) {
    if (pending_.size() + text.size() + 2 > kBufferSize) Drain();
    if (text.size() >= kBufferSize) {
        WriteRaw(text.data(), text.size());
    } else {
        pending_.append(text);
    }
}

void BufferedTextWriter::WriteLine(std::string_view line) {
    Write(line);
    pending_.append("\r\n");
}

void BufferedTextWriter::Drain() {
    if (pending_.empty()) return;
    WriteRaw(pending_.data(), pending_.size());
    pending_.clear();
}

void BufferedTextWriter::Flush() {
    Drain();
    SyncRaw();
}

void BufferedTextWriter::Close() {
    Drain();
    CloseRaw();
}

}  // namespace dsu::platform
