// What the main window's logic needs of a window. The Win32 window, the Qt
// window, the console and the tests' recording view each implement it.
#pragma once

#include <string>

#include "platform/messages.h"

namespace dsu::app {

class View : public platform::MessageSink {
  public:
    // Replaces the status label's text.
    virtual void SetStatus(const std::u16string& text) = 0;
    // Paints the window now, while the caller keeps the thread busy.
    virtual void Repaint() = 0;
    // Lets the window paint pending changes during long work, without taking
    // input, so that the system does not mark it as not responding. Cheap
    // enough to be called once per folder.
    virtual void KeepAlive() {}
    virtual void Show() = 0;
    virtual void DisableUpdate() = 0;
    // Closes the window; the program ends once the event that called it ends.
    virtual void Close() = 0;
};

}  // namespace dsu::app
