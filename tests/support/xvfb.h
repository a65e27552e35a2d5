// An X server of a test's own (Linux only): started at construction, named
// once it accepts connections, stopped at destruction.
#pragma once

#include <sys/types.h>

#include <string>

namespace dsu::testing {

class Xvfb {
  public:
    explicit Xvfb(const char* screen = "1024x768x24");
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // ":N", or empty when the server did not start.
    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace dsu::testing
