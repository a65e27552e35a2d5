#include "platform/failure.h"

#include "platform/text.h"

namespace dsu::platform {

Failure::Failure(std::u16string message)
    : std::runtime_error(ToUtf8(message)), message_(std::move(message)) {}

namespace {
std::u16string FileErrorText(std::u16string_view operation, std::u16string_view path,
                             std::u16string_view reason) {
    std::u16string text = u"Could not ";
    text += operation;
    text += u' ';
    text += path;
    text += u": ";
    text += reason;
    if (!text.empty() && text.back() != u'.') text += u'.';
    return text;
}
}  // namespace

FileError::FileError(std::u16string_view operation, std::u16string_view path,
                     std::u16string_view reason, unsigned long code)
    : Failure(FileErrorText(operation, path, reason)), code_(code) {}

OverflowError::OverflowError() : Failure(u"Overflow.") {}

NotFoundError::NotFoundError() : Failure(u"Invalid procedure call or argument.") {}

}  // namespace dsu::platform
