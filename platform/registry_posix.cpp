// The registry on Linux: the one of the Wine prefix the program runs with.
#include "platform/files_posix.h"
#include "platform/registry.h"

namespace dsu::platform {

std::unique_ptr<Registry> MakeSystemRegistry() { return MakeWineRegistry(DefaultWinePrefix()); }

}  // namespace dsu::platform
