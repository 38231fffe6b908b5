#include "platform/fs/FolderReaders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

namespace platform {

namespace {

constexpr std::size_t kReaderBuffer = 32 * 1024;
constexpr int kSpins = 200;

struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int Rank(std::string_view n) { return n == "." ? 0 : n == ".." ? 1 : 2; }

bool IsDotEntry(std::string_view n) { return n == "." || n == ".."; }

// Compares the places pa + [ea] and pb + [eb] in the walk's order (a folder
// comes before everything below it): below zero when a comes first.
int Compare(const WalkPlace& pa, uint32_t ea, const WalkPlace& pb, uint32_t eb) {
    const std::size_t na = pa.size() + 1, nb = pb.size() + 1;
    for (std::size_t i = 0; i < std::min(na, nb); ++i) {
        const uint32_t x = i < pa.size() ? pa[i] : ea, y = i < pb.size() ? pb[i] : eb;
        if (x != y) return x < y ? -1 : 1;
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

// Does the place prefix + [last] come at or before place?
bool AtOrBefore(const WalkPlace& prefix, uint32_t last, const WalkPlace& place) {
    const std::size_t n = prefix.size() + 1;
    for (std::size_t i = 0; i < std::min(n, place.size()); ++i) {
        const uint32_t x = i < prefix.size() ? prefix[i] : last;
        if (x != place[i]) return x < place[i];
    }
    return n <= place.size();
}

bool Before(const WalkPlace& a, const WalkPlace& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

bool FolderNameLess(std::string_view a, std::string_view b) {
    const int ra = Rank(a), rb = Rank(b);
    if (ra != rb || ra < 2) return ra < rb;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = Upper(a[i]), y = Upper(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool FolderEntries::Read(int fd, char* buf, std::size_t size, const std::function<bool(std::string_view)>& unexamined,
                         const std::function<bool()>& carryOn, bool wholeReads) {
    // The most one entry takes: its header and a name of 255 bytes, aligned.
    constexpr std::size_t kLargestEntry = (offsetof(LinuxDirent64, d_name) + 256 + 7) / 8 * 8;
    for (bool last = false; !last;) {
        const long got = ::syscall(SYS_getdents64, fd, buf, size);
        if (got < 0) return false;
        if (got == 0) return true;
        last = wholeReads && static_cast<std::size_t>(got) + kLargestEntry <= size;
        const std::size_t end = static_cast<std::size_t>(got);
        for (std::size_t pos = 0; pos + offsetof(LinuxDirent64, d_name) < end;) {
            auto* d = reinterpret_cast<const LinuxDirent64*>(buf + pos);
            const std::size_t reclen = d->d_reclen;
            if (reclen <= offsetof(LinuxDirent64, d_name) || pos + reclen > end) return false;
            const std::size_t len = ::strnlen(d->d_name, reclen - offsetof(LinuxDirent64, d_name));
            pos += reclen;
            if (len == 0 || len > 255) continue;
            bool dir = d->d_type == DT_DIR;
            if (d->d_type == DT_UNKNOWN) {
                const std::string_view name(d->d_name, len);
                struct stat st {};
                dir = (!IsDotEntry(name) && unexamined && unexamined(name)) ||
                      (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode));
            }
            if (names.size() > UINT32_MAX - 256) return false;
            items.push_back({static_cast<uint32_t>(names.size()), static_cast<uint16_t>(len), dir});
            names.insert(names.end(), d->d_name, d->d_name + len);
            names.push_back('\0');
        }
        if (carryOn && !carryOn()) return false;
    }
    return true;
}

void FolderEntries::Sort() {
    std::sort(items.begin(), items.end(),
              [this](const Item& a, const Item& b) { return FolderNameLess(Name(a), Name(b)); });
}

long FolderEntries::Find(std::string_view name) const {
    const auto it = std::lower_bound(items.begin(), items.end(), name,
                                     [this](const Item& a, std::string_view n) { return FolderNameLess(Name(a), n); });
    return it != items.end() && Name(*it) == name ? static_cast<long>(it - items.begin()) : -1;
}

FolderReaders::Reading::~Reading() {
    if (fd >= 0) ::close(fd);
}

// A folder whose subfolders are being read ahead: its own handle, its place,
// and its subfolders' names with their indices among its entries.
struct FolderReaders::Parent {
    int fd = -1;
    std::string folder;
    WalkPlace place;
    int depthLeft = 0;
    std::vector<char> names;
    std::vector<std::pair<uint32_t, uint32_t>> subs;  // offset in names, index in the folder's entries
    std::size_t next = 0;
    // The folders it lies in, by device and inode: a loop is not read round.
    std::vector<std::pair<dev_t, ino_t>> above;

    Parent() = default;
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;
    ~Parent() {
        if (fd >= 0) ::close(fd);
    }
    uint32_t NextIndex() const { return subs[next].second; }
};

// Heap order: the parent whose next subfolder comes first in the walk on top.
bool FolderReaders::Later::operator()(const std::shared_ptr<Parent>& a, const std::shared_ptr<Parent>& b) const {
    return Compare(a->place, a->NextIndex(), b->place, b->NextIndex()) > 0;
}

// The parent record of a folder read (its handle fd duplicated): null when
// it has no subfolders or the handle cannot be had.
std::shared_ptr<FolderReaders::Parent> FolderReaders::MakeParent(const std::string& folder, int fd,
                                                                 const FolderEntries& entries, const WalkPlace& place,
                                                                 int depthLeft) {
    auto p = std::make_shared<Parent>();
    for (std::size_t i = 0; i < entries.items.size(); ++i) {
        const FolderEntries::Item& it = entries.items[i];
        const std::string_view name = entries.Name(it);
        if (!it.dir || IsDotEntry(name)) continue;
        p->subs.emplace_back(static_cast<uint32_t>(p->names.size()), static_cast<uint32_t>(i));
        p->names.insert(p->names.end(), name.begin(), name.end());
        p->names.push_back('\0');
    }
    if (p->subs.empty()) return nullptr;
    p->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (p->fd < 0) return nullptr;
    p->folder = folder;
    p->place = place;
    p->depthLeft = depthLeft;
    return p;
}

void FolderReaders::Push(std::shared_ptr<Parent> parent) {
    queue_.push_back(std::move(parent));
    std::push_heap(queue_.begin(), queue_.end(), Later());
}

// Once the walk has taken half of a full window the readers go on.
bool FolderReaders::Refill() {
    if (!full_ || slots_.size() > window_ / 2) return false;
    full_ = false;
    return true;
}

FolderReaders::FolderReaders(unsigned threads, std::size_t window) : window_(std::max<std::size_t>(window, 1)) {
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

FolderReaders::~FolderReaders() {
    cancelled_ = true;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void FolderReaders::Expect(const std::string& folder, int fd, const FolderEntries& entries, const WalkPlace& place,
                           int depthLeft) {
    if (depthLeft <= 0) return;
    auto p = MakeParent(folder, fd, entries, place, depthLeft);
    if (!p) return;
    struct stat st {};
    if (::fstat(p->fd, &st) == 0) p->above.emplace_back(st.st_dev, st.st_ino);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Push(std::move(p));
    }
    work_.notify_all();
}

// Everything before place is behind the walk: given up, and not read.
bool FolderReaders::DropBehind(const WalkPlace& place) {
    if (Before(place, behind_)) return false;
    behind_ = place;
    const std::size_t before = slots_.size();
    for (auto it = slots_.begin(); it != slots_.end();) {
        const Slot& s = it->second;
        if (s.ready && Before(s.reading->place, place))
            it = slots_.erase(it);
        else
            ++it;
    }
    return slots_.size() < before && Refill();
}

std::unique_ptr<FolderReaders::Reading> FolderReaders::Take(const std::string& folder, const WalkPlace& place,
                                                            const std::function<void()>& waiting) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (DropBehind(place)) work_.notify_all();
    int spins = 0;
    for (;;) {
        const auto it = slots_.find(folder);
        if (it == slots_.end()) return nullptr;  // not begun, or its reader could not read it
        if (it->second.ready) {
            std::unique_ptr<Reading> r = std::move(it->second.reading);
            slots_.erase(it);
            if (Refill()) work_.notify_all();
            return r;
        }
        // A reading nearly done is waited for without sleeping: waking a
        // sleeper costs more than a reading from the cache.
        if (spins++ < kSpins) {
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
            continue;
        }
        ++waiters_;
        const bool late = done_.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout;
        --waiters_;
        if (late && waiting) {
            lock.unlock();
            waiting();
            lock.lock();
        }
    }
}

bool FolderReaders::PopJob(std::unique_lock<std::mutex>& lock, std::shared_ptr<Parent>& parent, std::size_t& index) {
    for (;;) {
        if (stop_) return false;
        if (!queue_.empty() && slots_.size() < window_ && !full_) {
            std::pop_heap(queue_.begin(), queue_.end(), Later());
            parent = queue_.back();
            index = parent->next++;
            if (parent->next < parent->subs.size())
                std::push_heap(queue_.begin(), queue_.end(), Later());
            else
                queue_.pop_back();
            // At or before the walk's place: read by the walk itself, or passed.
            if (AtOrBefore(parent->place, parent->subs[index].second, behind_)) continue;
            return true;
        }
        // A full window is refilled once the walk has taken half of it, so
        // that the readers are not woken for every folder.
        if (slots_.size() >= window_) full_ = true;
        work_.wait(lock);
    }
}

void FolderReaders::Work() {
    std::vector<char> buffer(kReaderBuffer);
    std::unique_lock<std::mutex> lock(mutex_);
    std::shared_ptr<Parent> parent;
    std::size_t index = 0;
    while (PopJob(lock, parent, index)) {
        const char* name = parent->names.data() + parent->subs[index].first;
        std::string folder = parent->folder;
        folder.append(name).push_back('/');
        if (slots_.count(folder)) continue;
        slots_[folder];
        lock.unlock();

        auto r = std::make_unique<Reading>();
        r->place = parent->place;
        r->place.push_back(parent->subs[index].second);
        r->fd = ::openat(parent->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        bool ok = r->fd >= 0 && ::fstat(r->fd, &r->st) == 0;
        for (const auto& [dev, ino] : parent->above) ok = ok && !(dev == r->st.st_dev && ino == r->st.st_ino);
        // A stopped walk does not wait for the rest of a large folder.
        const auto carryOn = [this] { return !cancelled_.load(std::memory_order_relaxed); };
        ok = ok && r->entries.Read(r->fd, buffer.data(), buffer.size(), nullptr, carryOn);
        std::shared_ptr<Parent> child;
        if (ok) {
            r->entries.Sort();
            if (parent->depthLeft > 1) child = MakeParent(folder, r->fd, r->entries, r->place, parent->depthLeft - 1);
            if (child) {
                child->above = parent->above;
                child->above.emplace_back(r->st.st_dev, r->st.st_ino);
            }
        }
        parent.reset();

        lock.lock();
        auto slot = slots_.find(folder);
        if (!ok || Before(r->place, behind_)) {
            slots_.erase(slot);  // the walk reads it itself, or has passed it
        } else {
            slot->second.ready = true;
            slot->second.reading = std::move(r);
            if (child) {
                Push(std::move(child));
                work_.notify_one();  // another reader may take the new subfolders
            }
        }
        if (waiters_ > 0) done_.notify_all();
    }
}

}  // namespace platform
