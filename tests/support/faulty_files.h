// A FileSystem that passes every call to a real one, except the one call
// chosen to fail: the Nth call of one operation, the Nth call overall, or the
// Nth call of one operation on one path. Only the last does not depend on the
// order in which a work pool's threads happen to run. The fault lasts: later
// calls of that operation on that path fail too; but a flush (Flush,
// FlushReplace) fails once with FlushError and then succeeds, as a system
// reports a failed write-back only once. Permissions cannot stand in for
// failures when tests run as root.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
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
    FlushReplace,
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
    int nth = 0;  // the how-manieth call of `op` on `path`, from 1
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
    // Fails the `n`th call (from 1) of `op` on `path`.
    void FailOn(Op op, std::u16string path, int n) {
        failOp_ = op;
        failPath_ = std::move(path);
        failAt_ = n;
        failAny_ = false;
        onPath_ = true;
    }
    // As FailOn, but the call throws std::bad_alloc: memory that runs out.
    void RunOutOfMemoryOn(Op op, std::u16string path, int n) {
        FailOn(op, std::move(path), n);
        memory_ = true;
    }
    // Runs `hook` at each call, on the caller's thread, before the call is
    // made: another program's change at that moment.
    void OnCall(std::function<void(const Call&)> hook) { hook_ = std::move(hook); }
    // Every call so far, the failed one included, in the order they came.
    const std::vector<Call>& Calls() const { return calls_; }
    bool Failed() const { return failed_; }

    std::vector<std::u16string> ListSubfolders(const std::u16string& folder) override;
    std::vector<std::u16string> ListFiles(const std::u16string& folder) override;
    void MakeFolder(const std::u16string& path) override;
    void CopyFile(const std::u16string& source, const std::u16string& target) override;
    void DeleteFile(const std::u16string& path) override;
    void ReplaceFile(const std::u16string& from, const std::u16string& to) override;
    void FlushReplace(const std::u16string& to) override;
    std::unique_ptr<platform::TextReader> TryOpenReader(const std::u16string& path) override;
    std::unique_ptr<platform::TextWriter> CreateWriter(const std::u16string& path,
                                                       platform::Existing existing) override;
    std::optional<platform::FileStamp> StampOf(const std::u16string& path) override;
    std::shared_ptr<void> ClaimFolder(const std::u16string& folder) override {
        return inner_.ClaimFolder(folder);
    }
    void ReleaseHeldFolders() override { inner_.ReleaseHeldFolders(); }

    // Counts the call and throws FileError when it is the chosen one.
    void Step(Op op, const std::u16string& path);

  private:
    platform::FileSystem& inner_;
    std::vector<Call> calls_;
    std::vector<int> perOp_ = std::vector<int>(32, 0);
    std::map<std::pair<Op, std::u16string>, int> perPath_;
    Op failOp_ = Op::ListSubfolders;
    std::u16string failPath_;
    int failAt_ = 0;
    bool failAny_ = false;
    bool onPath_ = false;
    bool failed_ = false;
    bool lasting_ = false;  // broken_ fails whenever it is called
    bool memory_ = false;   // the failure is std::bad_alloc
    std::pair<Op, std::u16string> broken_;
    std::function<void(const Call&)> hook_;
    std::mutex mutex_;
};

}  // namespace dsu::testing
