// A build without a window: UseWindow never chooses one, so the other two
// never run.
#include "app/window_front.h"

namespace dsu::app {

bool UseWindow() { return false; }

void RunMessage(const std::u16string&, int&, char**) {}

int RunWindow(platform::FileSystem&, platform::Registry&, int&, char**) { return 1; }

}  // namespace dsu::app
