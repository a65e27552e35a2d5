#include "skins/template_copy.h"

#include <vector>

#include "platform/failure.h"
#include "platform/paths.h"

namespace dsu::skins {

using platform::BestEffort;
using platform::ResolvePath;

void CopyTemplateSkin(platform::FileSystem& files, const std::u16string& source,
                      const std::u16string& target) {
    const std::u16string from = ResolvePath(source);
    const std::u16string to = ResolvePath(target);

    // A listing that fails gives no entries.
    std::vector<std::u16string> names;
    BestEffort([&] { names = files.ListFiles(source); });
    BestEffort([&] { files.MakeFolder(target); });
    for (const std::u16string& name : names)
        BestEffort([&] { files.CopyFile(from + name, to + name); });

    std::vector<std::u16string> subfolders;
    BestEffort([&] { subfolders = files.ListSubfolders(source); });
    for (const std::u16string& subfolder : subfolders) {
        std::vector<std::u16string> inner;
        BestEffort([&] { inner = files.ListFiles(subfolder); });
        std::u16string name;
        if (!BestEffort([&] { name = platform::ChopPathOff(subfolder); })) continue;
        BestEffort([&] { files.MakeFolder(to + name); });
        const std::u16string subfolderFrom = ResolvePath(subfolder);
        for (const std::u16string& file : inner)
            BestEffort([&] { files.CopyFile(subfolderFrom + file, to + name + u"\\" + file); });
    }
}

}  // namespace dsu::skins
