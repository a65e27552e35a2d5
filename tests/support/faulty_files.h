// A FileSystem that passes every call to a real one, except the one call
// chosen to fail: the Nth call of one operation, or the Nth call overall.
// Permissions cannot stand in for failures when tests run as root.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace dsu::testing {

enum class Op {
    ListSubfolders,
    ListFiles,
    MakeFolder,
    CopyFile,
    DeleteFile,
    ReplaceFile,
    OpenReader,
    ReadLine,
    CloseReader,
    CreateWriter,
    WriteLine,
    Flush,
    CloseWriter,
};
const char* OpName(Op op);

struct Call {
    Op op;
    std::u16string path;
};

class FaultyFileSystem final : public platform::FileSystem {
  public:
    explicit FaultyFileSystem(platform::FileSystem& inner) : inner_(inner) {}

    // Fails the `n`th call (from 1) of `op`.
    void FailNth(Op op, int n) {
        failOp_ = op;
        failAt_ = n;
        failAny_ = false;
    }
    // Fails the `n`th call (from 1) of any operation.
    void FailCall(int n) {
        failAt_ = n;
        failAny_ = true;
    }
    // Every call so far, the failed one included.
    const std::vector<Call>& Calls() const { return calls_; }
    bool Failed() const { return failed_; }

    std::vector<std::u16string> ListSubfolders(const std::u16string& folder) override;
    std::vector<std::u16string> ListFiles(const std::u16string& folder) override;
    void MakeFolder(const std::u16string& path) override;
    void CopyFile(const std::u16string& source, const std::u16string& target) override;
    void DeleteFile(const std::u16string& path) override;
    void ReplaceFile(const std::u16string& from, const std::u16string& to) override;
    std::unique_ptr<platform::TextReader> TryOpenReader(const std::u16string& path) override;
    std::unique_ptr<platform::TextWriter> CreateWriter(const std::u16string& path) override;

    // Counts the call and throws FileError when it is the chosen one.
    void Step(Op op, const std::u16string& path);

  private:
    platform::FileSystem& inner_;
    std::vector<Call> calls_;
    std::vector<int> perOp_ = std::vector<int>(16, 0);
    Op failOp_ = Op::ListSubfolders;
    int failAt_ = 0;
    bool failAny_ = false;
    bool failed_ = false;
};

}  // namespace dsu::testing
