#include "tests/support/temp_folder.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/text.h"

namespace dsu::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("dsu-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            root_ = fs::canonical(candidate);
            return;
        }
    }
    throw std::runtime_error("no temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (fs::remove_all(root_, ignored) != static_cast<std::uintmax_t>(-1) && !ignored) return;
    // Tests make files read-only; make them writable so that they go too.
    for (auto it = fs::recursive_directory_iterator(root_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

fs::path TempFolder::Host(std::u16string_view relative) const {
    std::u16string rel(relative);
    for (auto& c : rel)
        if (c == u'\\') c = u'/';
#ifdef _WIN32
    return rel.empty() ? root_ : root_ / fs::path(rel);
#else
    const std::string utf8 = platform::ToUtf8(rel);
    return rel.empty() ? root_ : root_ / fs::path(utf8);
#endif
}

std::u16string TempFolder::Path(std::u16string_view relative) const {
#ifdef _WIN32
    std::u16string text = root_.u16string();
#else
    std::u16string text = platform::FromUtf8(root_.string());
#endif
    if (!relative.empty()) {
        text += u'\\';
        text += relative;
    }
    for (auto& c : text)
        if (c == u'/') c = u'\\';
    return text;
}

void TempFolder::Write(std::u16string_view relative, std::string_view bytes) const {
    const fs::path file = Host(relative);
    fs::create_directories(file.parent_path());
    WriteBytes(file, bytes);
}

std::string TempFolder::Read(std::u16string_view relative) const {
    return ReadBytes(Host(relative));
}

bool TempFolder::Exists(std::u16string_view relative) const { return fs::exists(Host(relative)); }

void TempFolder::MakeFolder(std::u16string_view relative) const {
    fs::create_directories(Host(relative));
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace dsu::testing
