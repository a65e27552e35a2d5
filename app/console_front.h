// The Linux program without a display: status texts and messages on the
// terminal, and a question before the update run.
#pragma once

#include <iosfwd>

#include "app/view.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace dsu::app {

class ConsoleView final : public View {
  public:
    explicit ConsoleView(std::ostream& out) : out_(out) {}

    void SetStatus(const std::u16string& text) override;
    void Repaint() override {}
    void Show() override {}
    void DisableUpdate() override { enabled_ = false; }
    // "error: " or "information: " ahead of the text; its line breaks indented.
    void ShowMessage(const std::u16string& text, platform::MessageKind kind) override;
    void Close() override {}

    bool UpdateEnabled() const { return enabled_; }

  private:
    std::ostream& out_;
    bool enabled_ = true;
};

// Start-up, then, when there is something to update, the question (unless
// `assumeYes`) and the update run. Returns the program's exit status.
int RunConsole(platform::FileSystem& files, platform::Registry& registry, std::istream& in,
               std::ostream& out, bool assumeYes);

}  // namespace dsu::app
