// Messages to the user: modal boxes titled "Dyvenhall Skin Updater".
#pragma once

#include <string>

namespace dsu::platform {

inline constexpr char16_t kMessageTitle[] = u"Dyvenhall Skin Updater";

enum class MessageKind { Error, Information };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Returns when the user has closed the message.
    virtual void ShowMessage(const std::u16string& text, MessageKind kind) = 0;
};

}  // namespace dsu::platform
