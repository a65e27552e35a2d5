// A real temporary folder for tests, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dsu::testing {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // The program's form of `relative` ("a/b" or "a\b") below the folder:
    // full text with "\" separators.
    std::u16string Path(std::u16string_view relative = u"") const;
    std::filesystem::path Host(std::u16string_view relative) const;

    void Write(std::u16string_view relative, std::string_view bytes) const;
    std::string Read(std::u16string_view relative) const;
    bool Exists(std::u16string_view relative) const;
    void MakeFolder(std::u16string_view relative) const;

  private:
    std::filesystem::path root_;
};

// Reads a whole file, for comparing bytes.
std::string ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, std::string_view bytes);

}  // namespace dsu::testing
