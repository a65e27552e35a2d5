// The install that every front end's test updates, and the one transcript
// of that update: main_form_test checks the whole sequence against
// frmMain, and each front end (console, Qt window, X11 window, Win32 end to
// end) only how it shows it.
#pragma once

#include <string>
#include <vector>

#include "tools/install.h"

namespace dsu::testing {

// Two skins at version 1.3: a's template and content are there, b's template
// f7 is not. Folder names are in other letter cases than the program's
// paths, as players' folders are. Below C: of a Wine prefix, or any folder.
inline install::Tree FrontInstall() {
    const std::string trains = "GAMES/Korvash/world/custom/TRAINS/";
    return {
        {"GAMES/Dyvenhall/SKINS/gp38/config.txt", "kuid <kuid:1:100>\r\n"},
        {"GAMES/Dyvenhall/SKINS/gp38/body.tga", "body"},
        {"GAMES/Korvash/world/DISPATCHER/downloads/gp38_hi_dyn_Body/config.txt",
         "kuid <kuid:2:100>\r\n"},
        {trains + "a/skin.dat", "1.3\r\ngp38\\Body\r\nmine\r\n"},
        {trains + "b/skin.dat", "1.3\r\nf7\\Body\r\n"},
    };
}
// Where FrontInstall's skins are, relative to its root.
inline constexpr char16_t kFrontTrains[] = u"GAMES/Korvash/world/custom/TRAINS/";
// The App Paths values of FrontInstall below C:, as a player's may be written.
inline constexpr char kFrontHost[] = "C:\\Games\\Korvash";
inline constexpr char kFrontPaint[] = "c:\\games\\dyvenhall\\";
// a's skin.dat after the run; b's stays as it was.
inline constexpr char kFrontUpgradedA[] = "1.5\r\n<kuid:2:100>\\<kuid:1:100>\r\nmine\r\n";

// One thing the program shows: a status text or a message box.
struct Shown {
    enum Kind { Status, Error, Information } kind;
    std::string text;  // a message's lines end in CR LF
    bool operator==(const Shown&) const = default;
};

// Start-up on FrontInstall: the survey.
inline std::vector<Shown> FrontStartUp() {
    return {{Shown::Status, "Scanning for Skins..."},
            {Shown::Status, "2 Skins need to be updated."}};
}
// Then a click of "&Update Now".
inline std::vector<Shown> FrontRun() {
    return {{Shown::Status, "Scanning for Kuids..."},
            {Shown::Status, "Upgrading Sp3 Skins..."},
            {Shown::Error, "Could not find a kuid for f7\r\nb not upgraded."},
            {Shown::Status, "Skins have been upgraded."},
            {Shown::Information, "Skins have been upgraded."}};
}
// The status text that stays.
inline std::string LastStatus(const std::vector<Shown>& shown) {
    std::string text;
    for (const Shown& s : shown)
        if (s.kind == Shown::Status) text = s.text;
    return text;
}
// The message boxes alone, in order.
inline std::vector<Shown> Messages(const std::vector<Shown>& shown) {
    std::vector<Shown> messages;
    for (const Shown& s : shown)
        if (s.kind != Shown::Status) messages.push_back(s);
    return messages;
}

}  // namespace dsu::testing
