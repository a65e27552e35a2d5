// The copy of a template skin folder, one level deep.
#pragma once

#include <string>

#include "platform/files.h"

namespace dsu::skins {

// Copies the files of `source` into `target`, and the files of each immediate
// subfolder of `source` into a subfolder of `target` of the same name.
// Existing files are replaced, extra files in `target` stay. Best-effort:
// every step that fails is skipped, and nothing is reported.
void CopyTemplateSkin(platform::FileSystem& files, const std::u16string& source,
                      const std::u16string& target);

}  // namespace dsu::skins
