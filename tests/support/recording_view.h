// A View that records what the window's logic does to it, in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/view.h"
#include "platform/text.h"

namespace dsu::testing {

class RecordingView : public app::View {
  public:
    // "status: ...", "show", "repaint", "disable", "close",
    // "error: ..." and "information: ..." (message texts as they are).
    std::vector<std::string> events;
    bool enabled = true;
    bool shown = false;
    // Runs while each message is up, with its event's text.
    std::function<void(const std::string&)> onMessage;

    void SetStatus(const std::u16string& text) override {
        events.push_back("status: " + platform::ToUtf8(text));
    }
    void Repaint() override { events.push_back("repaint"); }
    void Show() override {
        shown = true;
        events.push_back("show");
    }
    void DisableUpdate() override {
        enabled = false;
        events.push_back("disable");
    }
    void ShowMessage(const std::u16string& text, platform::MessageKind kind) override {
        events.push_back((kind == platform::MessageKind::Error ? "error: " : "information: ") +
                         platform::ToUtf8(text));
        if (onMessage) onMessage(events.back());
    }
    void Close() override { events.push_back("close"); }

    std::vector<std::string> Messages() const {
        std::vector<std::string> messages;
        for (const auto& e : events)
            if (e.rfind("error: ", 0) == 0 || e.rfind("information: ", 0) == 0)
                messages.push_back(e);
        return messages;
    }
};

}  // namespace dsu::testing
