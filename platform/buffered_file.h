// The line logic of TextReader and TextWriter over a platform's raw reads
// and writes, with one fixed buffer each: no file is ever held whole.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/files.h"

namespace dsu::platform {

class BufferedTextReader : public TextReader {
  public:
    ~BufferedTextReader() override;
    bool AtEnd() override;
    bool ReadLinePart(std::string& part, std::size_t limit) override;
    bool ReadTrimmedLineUpTo(std::string& line, std::size_t limit) override;

  protected:
    explicit BufferedTextReader(std::u16string path);
    // Reads up to `capacity` bytes into `buffer`; 0 at the end of the file.
    // Throws FileError when the read fails.
    virtual std::size_t ReadRaw(char* buffer, std::size_t capacity) = 0;
    const std::u16string& Path() const { return path_; }

  private:
    bool Refill();
    // At a line's end or the file's: passes it. True unless more of the
    // line follows.
    bool PassLineEnd();

    std::u16string path_;
    // Left uninitialised: zeroing it cost more than the read of a small file.
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
};

class BufferedTextWriter : public TextWriter {
  public:
    void Write(std::string_view text) override;
    void WriteLine(std::string_view line) override;
    void Flush() override;
    void Close() override;

  protected:
    explicit BufferedTextWriter(std::u16string path);
    // Writes all of `data` or throws FileError.
    virtual void WriteRaw(const char* data, std::size_t size) = 0;
    virtual void SyncRaw() = 0;
    virtual void CloseRaw() = 0;
    const std::u16string& Path() const { return path_; }

  private:
    void Drain();

    std::u16string path_;
    std::string pending_;
};

}  // namespace dsu::platform
