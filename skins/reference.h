// Translation of a skin's template reference into its kuid form.
#pragma once

#include <string>
#include <string_view>

#include "kuids/folder_kuids.h"
#include "platform/messages.h"

namespace dsu::skins {

// Turns the reference line "folder\file" into "<kuid of folder_file>\<kuid of
// folder>". When either kuid is missing, tells the user which key and which
// skin, and returns the empty text. Best-effort: it never fails.
std::u16string TranslateSkinReference(const kuids::colFolderKuids& table,
                                      platform::MessageSink& messages,
                                      std::u16string_view referenceLine,
                                      std::u16string_view skinFolderName);

}  // namespace dsu::skins
