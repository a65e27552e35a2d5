// The Linux program's reads of its environment.
#pragma once

#include <cstdlib>
#include <string>

namespace dsu::app {

// The variable's value; the empty text when it is not set.
inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace dsu::app
