// Failures of operations. The core reports them by throwing; the window's
// event handlers catch them in one place and show one message.
//
// Every operation follows one of two disciplines:
//   ending:      it lets a Failure pass; the event ends with one message.
//   best-effort: it runs each step inside BestEffort(), which skips a failed
//                step without a message.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace dsu::platform {

class Failure : public std::runtime_error {
  public:
    explicit Failure(std::u16string message);
    // The text shown to the user.
    const std::u16string& Message() const { return message_; }

  private:
    std::u16string message_;
};

// A file operation failed: "Could not <operation> <path>: <reason>".
class FileError : public Failure {
  public:
    // `code` is the system's error number behind `reason` (errno, or
    // GetLastError() on Windows); 0 when no system call failed.
    FileError(std::u16string_view operation, std::u16string_view path, std::u16string_view reason,
              unsigned long code = 0);
    unsigned long Code() const { return code_; }

  private:
    unsigned long code_;
};

// A flush to stable storage that failed. It is final: the system reports a
// failed write-back once, so the same flush made again would succeed without
// the data ever reaching the disk.
class FlushError : public FileError {
  public:
    using FileError::FileError;
};

// A path text too long for the path helpers.
class OverflowError : public Failure {
  public:
    OverflowError();
};

// A table lookup by a key or position that is not there.
class NotFoundError : public Failure {
  public:
    NotFoundError();
};

// Runs one best-effort step; a Failure skips it. True when the step finished.
template <class Step>
bool BestEffort(Step&& step) {
    try {
        step();
        return true;
    } catch (const Failure&) {
        return false;
    }
}

}  // namespace dsu::platform
