#include "tests/support/faulty_files.h"

#include <new>

#include "platform/failure.h"

namespace dsu::testing {

using platform::FileError;
using platform::TextReader;
using platform::TextWriter;

const char* OpName(Op op) {
    static const char* const names[] = {
        "ListSubfolders", "ListFiles",    "MakeFolder", "CopyFile",   "DeleteFile",
        "ReplaceFile",    "FlushReplace", "OpenReader", "ReadLine",   "CloseReader",
        "CreateWriter",   "WriteLine",    "Flush",      "CloseWriter"};
    return names[static_cast<int>(op)];
}

void FaultyFileSystem::Step(Op op, const std::u16string& path) {
    Call call{op, path, 0};
    {
        std::lock_guard lock(mutex_);
        const int onPath = call.nth = ++perPath_[{op, path}];
        calls_.push_back(call);
        const int nth = ++perOp_[static_cast<int>(op)];
        bool chosen;
        if (failAny_)
            chosen = static_cast<int>(calls_.size()) == failAt_;
        else if (onPath_)
            chosen = op == failOp_ && path == failPath_ && onPath == failAt_;
        else
            chosen = op == failOp_ && nth == failAt_;
        // A flush fails once and then reports success, as a system reports a
        // failed write-back once; any other fault lasts: what failed fails
        // again when it is tried again.
        const bool flush = op == Op::Flush || op == Op::FlushReplace;
        if (chosen && !flush) {
            broken_ = {op, path};
            lasting_ = true;
        }
        failed_ = failed_ || chosen;
        const bool fails = chosen || (lasting_ && broken_ == std::pair{op, path});
        if (fails && memory_) throw std::bad_alloc();
        if (chosen && flush) throw platform::FlushError(u"complete", path, u"Injected failure");
        if (fails) throw FileError(u"complete", path, u"Injected failure");
    }
    if (hook_) hook_(call);
}

namespace {

class FaultyReader final : public TextReader {
  public:
    FaultyReader(FaultyFileSystem& fs, std::unique_ptr<TextReader> inner, std::u16string path)
        : fs_(fs), inner_(std::move(inner)), path_(std::move(path)) {}
    bool AtEnd() override { return inner_->AtEnd(); }
    bool ReadLinePart(std::string& part, std::size_t limit) override {
        fs_.Step(Op::ReadLine, path_);
        return inner_->ReadLinePart(part, limit);
    }
    bool ReadTrimmedLineUpTo(std::string& line, std::size_t limit) override {
        fs_.Step(Op::ReadLine, path_);
        return inner_->ReadTrimmedLineUpTo(line, limit);
    }
    platform::FileStamp Stamp() override { return inner_->Stamp(); }
    void Close() override {
        fs_.Step(Op::CloseReader, path_);
        inner_->Close();
    }

  private:
    FaultyFileSystem& fs_;
    std::unique_ptr<TextReader> inner_;
    std::u16string path_;
};

class FaultyWriter final : public TextWriter {
  public:
    FaultyWriter(FaultyFileSystem& fs, std::unique_ptr<TextWriter> inner, std::u16string path)
        : fs_(fs), inner_(std::move(inner)), path_(std::move(path)) {}
    void Write(std::string_view text) override {
        fs_.Step(Op::WriteLine, path_);
        inner_->Write(text);
    }
    void WriteLine(std::string_view line) override {
        fs_.Step(Op::WriteLine, path_);
        inner_->WriteLine(line);
    }
    void Flush() override {
        fs_.Step(Op::Flush, path_);
        inner_->Flush();
    }
    void Close() override {
        fs_.Step(Op::CloseWriter, path_);
        inner_->Close();
    }

  private:
    FaultyFileSystem& fs_;
    std::unique_ptr<TextWriter> inner_;
    std::u16string path_;
};

}  // namespace

std::vector<std::u16string> FaultyFileSystem::ListSubfolders(const std::u16string& folder) {
    Step(Op::ListSubfolders, folder);
    return inner_.ListSubfolders(folder);
}
std::vector<std::u16string> FaultyFileSystem::ListFiles(const std::u16string& folder) {
    Step(Op::ListFiles, folder);
    return inner_.ListFiles(folder);
}
void FaultyFileSystem::MakeFolder(const std::u16string& path) {
    Step(Op::MakeFolder, path);
    inner_.MakeFolder(path);
}
void FaultyFileSystem::CopyFile(const std::u16string& source, const std::u16string& target) {
    Step(Op::CopyFile, target);
    inner_.CopyFile(source, target);
}
void FaultyFileSystem::DeleteFile(const std::u16string& path) {
    Step(Op::DeleteFile, path);
    inner_.DeleteFile(path);
}
void FaultyFileSystem::ReplaceFile(const std::u16string& from, const std::u16string& to) {
    Step(Op::ReplaceFile, to);
    inner_.ReplaceFile(from, to);
}
void FaultyFileSystem::FlushReplace(const std::u16string& to) {
    Step(Op::FlushReplace, to);
    inner_.FlushReplace(to);
}
std::unique_ptr<TextReader> FaultyFileSystem::TryOpenReader(const std::u16string& path) {
    Step(Op::OpenReader, path);
    auto reader = inner_.TryOpenReader(path);
    if (!reader) return nullptr;
    return std::make_unique<FaultyReader>(*this, std::move(reader), path);
}
std::unique_ptr<TextWriter> FaultyFileSystem::CreateWriter(const std::u16string& path,
                                                           platform::Existing existing) {
    Step(Op::CreateWriter, path);
    return std::make_unique<FaultyWriter>(*this, inner_.CreateWriter(path, existing), path);
}
std::optional<platform::FileStamp> FaultyFileSystem::StampOf(const std::u16string& path) {
    return inner_.StampOf(path);
}

}  // namespace dsu::testing
