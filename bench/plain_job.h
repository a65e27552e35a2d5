// The baselines' algorithm, over a handful of direct system calls that each
// platform supplies (see support_posix.cpp, support_win.cpp): the least the
// job needs, with no abstraction in between.
//
// A Sys provides, for its path type Path (host text) and its file handle:
//   static Path Join(const Path& folder, const Path& name);
//   static Path Text(const char* ascii);
//   static std::string Key(const Path& name);      // lower-cased table key
//   template <class F> static void ForEach(const Path& folder, F f);  // f(name, isFolder)
//   static Handle Open(const Path&);  static bool Ok(Handle);
//   static std::size_t Read(Handle, char*, std::size_t);  static void Close(Handle);
//   static Handle Create(const Path&);
//   static void Write(Handle, const char*, std::size_t);  static void Sync(Handle);
//   static void Replace(const Path& from, const Path& to, const Path& folder);
//   static void MakeFolder(const Path&);
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dsu::bench::plain {

using Table = std::unordered_map<std::string, std::string>;

inline void LowerAscii(std::string& text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// The kuid of a config.txt line; `isKuidLine` tells whether the search ends.
inline std::string_view KuidOf(std::string_view line, bool& isKuidLine) {
    isKuidLine = false;
    const auto first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    line = line.substr(first, line.find_last_not_of(' ') + 1 - first);
    if (line.size() < 4) return {};
    for (std::size_t i = 0; i < 4; ++i)
        if ((line[i] | 0x20) != "kuid"[i]) return {};
    isKuidLine = true;
    const auto open = line.find('<');
    return open == std::string_view::npos ? std::string_view() : line.substr(open);
}

// Calls `onLine` with each CR-ended line until it returns true.
template <class Sys, class OnLine>
void ForEachLine(typename Sys::Handle h, char* buffer, std::size_t capacity, OnLine&& onLine) {
    std::string carry;
    bool skipLf = false;
    for (;;) {
        const std::size_t n = Sys::Read(h, buffer, capacity);
        if (n == 0) {
            if (!carry.empty()) onLine(std::string_view(carry));
            return;
        }
        std::size_t pos = 0;
        if (skipLf && buffer[0] == '\n') pos = 1;
        skipLf = false;
        while (pos < n) {
            const auto* cr = static_cast<const char*>(std::memchr(buffer + pos, '\r', n - pos));
            if (cr == nullptr) {
                carry.append(buffer + pos, n - pos);
                break;
            }
            std::string_view line(buffer + pos, static_cast<std::size_t>(cr - (buffer + pos)));
            if (!carry.empty()) line = carry.append(line);
            pos = static_cast<std::size_t>(cr - buffer) + 1;
            if (pos < n && buffer[pos] == '\n') ++pos;
            if (pos == n) skipLf = true;
            if (onLine(line)) return;
            carry.clear();
        }
    }
}

// Calls f(name, isFolder) for each entry of `folder`. With one thread, as
// the entries are read; with more, the entries are listed first and each
// thread then takes the next one not yet taken.
template <class Sys, class F>
void ForEachSpread(const typename Sys::Path& folder, std::size_t threads, F f) {
    if (threads <= 1) return Sys::ForEach(folder, f);
    std::vector<std::pair<typename Sys::Path, bool>> entries;
    Sys::ForEach(folder, [&](const typename Sys::Path& name, bool isFolder) {
        entries.emplace_back(name, isFolder);
    });
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (std::size_t i; (i = next++) < entries.size();)
                f(entries[i].first, entries[i].second);
        });
    for (std::thread& thread : pool) thread.join();
}

template <class Sys>
std::size_t ScanInto(Table& table, const typename Sys::Path& root, std::size_t threads = 1) {
    std::mutex mutex;
    std::atomic<std::size_t> found{0};
    const auto configName = Sys::Text("config.txt");
    ForEachSpread<Sys>(root, threads, [&](const typename Sys::Path& name, bool isFolder) {
        static thread_local std::vector<char> buffer(64 * 1024);
        if (!isFolder) return;
        const auto h = Sys::Open(Sys::Join(Sys::Join(root, name), configName));
        if (!Sys::Ok(h)) return;
        ForEachLine<Sys>(h, buffer.data(), buffer.size(), [&](std::string_view line) {
            bool isKuidLine;
            const std::string_view kuid = KuidOf(line, isKuidLine);
            if (!isKuidLine) return false;
            if (kuid.data() == nullptr) return true;
            std::string key = Sys::Key(name);
            std::lock_guard lock(mutex);
            if (table.try_emplace(std::move(key), kuid).second) ++found;
            return true;
        });
        Sys::Close(h);
    });
    return found;
}

template <class Sys>
std::size_t Survey(const typename Sys::Path& trains, std::size_t threads = 1) {
    std::atomic<std::size_t> count{0};
    const auto descriptorName = Sys::Text("skin.dat");
    ForEachSpread<Sys>(trains, threads, [&](const typename Sys::Path& name, bool isFolder) {
        char buffer[512];
        if (!isFolder) return;
        const auto h = Sys::Open(Sys::Join(Sys::Join(trains, name), descriptorName));
        if (!Sys::Ok(h)) return;
        const std::size_t n = Sys::Read(h, buffer, sizeof buffer);
        const std::string_view head(buffer, n);
        if (head.substr(0, 3) == "1.3" && (n == 3 || buffer[3] == '\r')) ++count;
        Sys::Close(h);
    });
    return count;
}

template <class Sys>
void CopyFileData(const typename Sys::Path& from, const typename Sys::Path& to, char* buffer,
                  std::size_t capacity) {
    const auto in = Sys::Open(from);
    if (!Sys::Ok(in)) return;
    const auto out = Sys::Create(to);
    for (std::size_t n; (n = Sys::Read(in, buffer, capacity)) != 0;) Sys::Write(out, buffer, n);
    Sys::Sync(out);
    Sys::Close(out);
    Sys::Close(in);
}

// The template copy stays on one thread: it is a handful of files.
template <class Sys>
std::size_t Update(const typename Sys::Path& korvash, const typename Sys::Path& dyvenhall,
                   std::size_t threads = 1) {
    using Path = typename Sys::Path;
    std::vector<char> copyBuffer(64 * 1024);
    const Path skins = Sys::Join(dyvenhall, Sys::Text("Skins"));
    const Path from = Sys::Join(skins, Sys::Text("gp38"));
    const Path to = Sys::Join(skins, Sys::Text("gp38_hi_dyn"));
    Sys::MakeFolder(to);
    Sys::ForEach(from, [&](const Path& name, bool isFolder) {
        if (!isFolder) {
            CopyFileData<Sys>(Sys::Join(from, name), Sys::Join(to, name), copyBuffer.data(),
                              copyBuffer.size());
            return;
        }
        Sys::MakeFolder(Sys::Join(to, name));
        Sys::ForEach(Sys::Join(from, name), [&](const Path& inner, bool innerIsFolder) {
            if (!innerIsFolder)
                CopyFileData<Sys>(Sys::Join(Sys::Join(from, name), inner),
                                  Sys::Join(Sys::Join(to, name), inner), copyBuffer.data(),
                                  copyBuffer.size());
        });
    });

    const Path world = Sys::Join(korvash, Sys::Text("World"));
    const Path trains = Sys::Join(Sys::Join(world, Sys::Text("Custom")), Sys::Text("Trains"));
    Table table;
    ScanInto<Sys>(table, skins, threads);
    ScanInto<Sys>(table,
                  Sys::Join(Sys::Join(world, Sys::Text("dispatcher")), Sys::Text("downloads")),
                  threads);
    ScanInto<Sys>(table, trains, threads);

    std::atomic<std::size_t> upgraded{0};
    const Path descriptorName = Sys::Text("skin.dat");
    const Path temporaryName = Sys::Text("skin.dat.tmp");
    ForEachSpread<Sys>(trains, threads, [&](const Path& name, bool isFolder) {
        if (!isFolder) return;
        static thread_local std::vector<char> buffer(64 * 1024);
        std::string key, out;
        auto lookUp = [&](std::string_view k) -> const std::string* {
            key.assign(k);
            LowerAscii(key);
            const auto it = table.find(key);
            return it == table.end() || it->second.empty() ? nullptr : &it->second;
        };
        const Path folder = Sys::Join(trains, name);
        const Path descriptor = Sys::Join(folder, descriptorName);
        const auto in = Sys::Open(descriptor);
        if (!Sys::Ok(in)) return;
        const std::size_t n = Sys::Read(in, buffer.data(), buffer.size());
        const std::string_view head(buffer.data(), n);
        const auto end1 = head.find('\r');
        if (head.substr(0, end1) != "1.3" || end1 == std::string_view::npos) {
            Sys::Close(in);
            return;
        }
        std::size_t start2 = end1 + 1;
        if (start2 < n && head[start2] == '\n') ++start2;
        const auto end2 = head.find('\r', start2);
        std::string reference(head.substr(start2, end2 - start2));
        std::size_t rest = end2 == std::string_view::npos ? n : end2 + 1;
        if (rest < n && head[rest] == '\n') ++rest;
        std::string lowered = reference.substr(0, 5);
        LowerAscii(lowered);
        if (lowered == "gp38\\") reference = "gp38_hi_dyn\\" + reference.substr(5);
        const auto split = reference.find('\\');
        const std::string_view folderKey = split == std::string::npos
                                               ? std::string_view()
                                               : std::string_view(reference).substr(0, split);
        const std::string* folderKuid = lookUp(folderKey);
        const std::string* combinedKuid =
            folderKuid != nullptr
                ? lookUp(std::string(folderKey) + "_" + reference.substr(split + 1))
                : nullptr;
        if (combinedKuid == nullptr) {
            Sys::Close(in);
            return;
        }
        out.assign("1.5\r\n");
        out.append(*combinedKuid).append("\\").append(*folderKuid).append("\r\n");
        out.append(head.substr(rest));
        const Path temporary = Sys::Join(folder, temporaryName);
        const auto h = Sys::Create(temporary);
        Sys::Write(h, out.data(), out.size());
        for (std::size_t more; (more = Sys::Read(in, buffer.data(), buffer.size())) != 0;)
            Sys::Write(h, buffer.data(), more);
        Sys::Sync(h);
        Sys::Close(h);
        Sys::Close(in);
        Sys::Replace(temporary, descriptor, folder);
        ++upgraded;
    });
    return upgraded;
}

}  // namespace dsu::bench::plain
