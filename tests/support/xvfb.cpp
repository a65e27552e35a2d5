#include "tests/support/xvfb.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dsu::testing {

Xvfb::Xvfb(const char* screen) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        // -noreset: by default the server resets when its last client leaves,
        // and a connection made during the reset is refused.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen",
               "0", screen, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display's number once it accepts connections.
    std::string number;
    char buffer[32];
    for (ssize_t n;
         number.find('\n') == std::string::npos && (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        number.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    if (!number.empty() && number.find('\n') != 0)
        display_ = ":" + number.substr(0, number.find('\n'));
}

Xvfb::~Xvfb() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

}  // namespace dsu::testing
