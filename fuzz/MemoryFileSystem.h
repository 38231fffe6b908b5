// A destination held in memory, in place of the file system below FileIo:
// folders and files by path, descriptors for the files open. Folder times
// count every change, so the engine's name memory sees its own writes.
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/fs/FileIo.h"

class MemoryFileSystem final : public platform::FileSystem {
public:
    void AddFolder(const std::string& path) { nodes_[path] = {true, {}, ++clock_}; }
    void Clear() {
        nodes_.clear();
        open_.clear();
        unnamed_.clear();
    }
    std::size_t OpenCount() const { return open_.size(); }
    const auto& Nodes() const { return nodes_; }

    int Open(const char* path, int flags, mode_t) override {
        const std::string_view p(path);
        if ((flags & O_TMPFILE) == O_TMPFILE) {
            const auto folder = nodes_.find(p);
            if (folder == nodes_.end()) return Fail(ENOENT);
            if (!folder->second.folder) return Fail(ENOTDIR);
            unnamed_[nextFd_] = Node{false, {}, ++clock_};
            open_[nextFd_] = std::string();
            return nextFd_++;
        }
        auto it = nodes_.find(p);
        if (it != nodes_.end()) {
            if (flags & O_EXCL) return Fail(EEXIST);
            if (it->second.folder) return Fail(EISDIR);
        } else {
            if (!(flags & O_CREAT)) return Fail(ENOENT);
            const auto parent = nodes_.find(p.substr(0, p.rfind('/')));
            if (parent == nodes_.end()) return Fail(ENOENT);
            if (!parent->second.folder) return Fail(ENOTDIR);
            it = nodes_.emplace(p, Node{false, {}, ++clock_}).first;
            parent->second.time = ++clock_;
        }
        open_[nextFd_] = p;
        return nextFd_++;
    }
    ssize_t Writev(int fd, const iovec* iov, int count) override {
        Node* n = FileOf(fd);
        if (!n) return Fail(EBADF);
        ssize_t total = 0;
        for (int i = 0; i < count; ++i) {
            n->data.append(static_cast<const char*>(iov[i].iov_base), iov[i].iov_len);
            total += static_cast<ssize_t>(iov[i].iov_len);
        }
        if (n->data.size() > (256u << 20)) std::abort();  // output must stay bounded
        return total;
    }
    int Close(int fd) override {
        unnamed_.erase(fd);
        return open_.erase(fd) ? 0 : Fail(EBADF);
    }
    int Fstat(int fd, struct stat* st) override {
        Node* n = FileOf(fd);
        return n ? Fill(*n, st) : Fail(EBADF);
    }
    int Ftruncate(int fd, off_t size) override {
        Node* n = FileOf(fd);
        if (!n) return Fail(EBADF);
        n->data.resize(static_cast<std::size_t>(size));
        return 0;
    }
    ssize_t Pread(int fd, void* buf, size_t count, off_t at) override {
        Node* n = FileOf(fd);
        if (!n) return Fail(EBADF);
        if (at < 0) return Fail(EINVAL);
        const std::size_t from = std::min(n->data.size(), static_cast<std::size_t>(at));
        const std::size_t got = std::min(count, n->data.size() - from);
        n->data.copy(static_cast<char*>(buf), got, from);
        return static_cast<ssize_t>(got);
    }
    int Unlink(const char* path) override {
        auto it = nodes_.find(std::string_view(path));
        if (it == nodes_.end()) return Fail(ENOENT);
        if (it->second.folder) return Fail(EISDIR);
        nodes_.erase(it);
        const std::string_view p(path);
        if (auto parent = nodes_.find(p.substr(0, p.rfind('/'))); parent != nodes_.end()) parent->second.time = ++clock_;
        return 0;
    }
    int Stat(const char* path, struct stat* st, bool) override {
        auto it = nodes_.find(std::string_view(path));
        return it == nodes_.end() ? Fail(ENOENT) : Fill(it->second, st);
    }
    int LinkUnnamed(int fd, const char* path) override {
        auto file = unnamed_.find(fd);
        if (file == unnamed_.end()) return Fail(EBADF);
        const std::string_view p(path);
        if (nodes_.count(p)) return Fail(EEXIST);
        const auto parent = nodes_.find(p.substr(0, p.rfind('/')));
        if (parent == nodes_.end()) return Fail(ENOENT);
        nodes_.emplace(p, std::move(file->second));  // no more writes after the link
        parent->second.time = ++clock_;
        return 0;
    }
    int RenameNoReplace(const char*, const char*) override { return Fail(ENOSYS); }  // every file is unnamed first

private:
    struct Node {
        bool folder = false;
        std::string data;
        long long time = 0;
    };
    static int Fail(int err) {
        errno = err;
        return -1;
    }
    static int Fill(const Node& n, struct stat* st) {
        *st = {};
        st->st_mode = n.folder ? S_IFDIR | 0755 : S_IFREG | 0644;
        st->st_size = static_cast<off_t>(n.data.size());
        st->st_mtim.tv_nsec = n.time % 1000000000;
        st->st_mtim.tv_sec = n.time / 1000000000;
        return 0;
    }
    Node* FileOf(int fd) {
        auto it = open_.find(fd);
        if (it == open_.end()) return nullptr;
        if (auto u = unnamed_.find(fd); u != unnamed_.end()) return &u->second;
        auto n = nodes_.find(it->second);
        return n == nodes_.end() ? nullptr : &n->second;
    }

    std::map<std::string, Node, std::less<>> nodes_;  // looked up by the caller's text, uncopied
    std::map<int, std::string> open_;
    std::map<int, Node> unnamed_;  // files open with O_TMPFILE, by descriptor
    int nextFd_ = 1000;
    long long clock_ = 0;
};
