#include "app/console_front.h"

#include <iostream>
#include <istream>
#include <ostream>
#include <string>

#include "app/main_form.h"
#include "platform/text.h"

namespace dsu::app {

void ConsoleView::SetStatus(const std::u16string& text) {
    out_ << platform::ToUtf8(text) << std::endl;
    // Nobody reads on (a closed pipe): the run ends as after an interrupt.
    if (!out_) RequestStop();
}

void ConsoleView::ShowMessage(const std::u16string& text, platform::MessageKind kind) {
    const char* label = kind == platform::MessageKind::Error ? "error: " : "information: ";
    std::string body = platform::ToUtf8(text);
    // A message's CR LF becomes a new line indented under its text.
    const std::string indent(std::char_traits<char>::length(label), ' ');
    for (std::size_t at = 0; (at = body.find("\r\n", at)) != std::string::npos;) {
        body.replace(at, 2, "\n" + indent);
        at += 1 + indent.size();
    }
    out_ << label << body << std::endl;
    if (!out_) {
        RequestStop();
        std::cerr << label << body << std::endl;
    }
}

namespace {

// Enter or y: yes; n or the end of the input: no.
bool AskToUpdate(std::istream& in, std::ostream& out) {
    for (;;) {
        out << "Update now? [Y/n] " << std::flush;
        std::string answer;
        if (!std::getline(in, answer)) {
            out << std::endl;
            return false;
        }
        while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r'))
            answer.pop_back();
        if (answer.empty() || answer == "y" || answer == "Y" || answer == "yes") return true;
        if (answer == "n" || answer == "N" || answer == "no") return false;
    }
}

}  // namespace

int RunConsole(platform::FileSystem& files, platform::Registry& registry, std::istream& in,
               std::ostream& out, bool assumeYes) {
    ConsoleView view(out);
    frmMain form(files, registry, view);
    if (!form.Load()) return form.ExitCode();
    if (!view.UpdateEnabled()) return 0;
    if (!assumeYes && !AskToUpdate(in, out)) return 0;
    form.UpgradeSkins();
    return form.ExitCode();
}

}  // namespace dsu::app
