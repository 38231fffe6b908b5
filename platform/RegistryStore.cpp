#include "platform/RegistryStore.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <wctype.h>

namespace platform {

namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";
constexpr std::size_t kMaxStoreBytes = 256u << 20;
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr LSTATUS ERROR_KEY_DELETED = 1018;

std::mutex g_mutex;  // guards everything below
std::function<int(RegWriteStep)> g_faultHook;

int Fault(RegWriteStep step) { return g_faultHook ? g_faultHook(step) : 0; }

// ---- text ----

// Next code point of UTF-8 text; a byte that does not start a valid sequence
// comes back as U+DC80..U+DCFF and counts one byte.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t cp = 0, min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2, cp = b0 & 0x1F, min = 0x80;
    else if (b0 >= 0xE0 && b0 <= 0xEF) len = 3, cp = b0 & 0x0F, min = 0x800;
    else if (b0 >= 0xF0 && b0 <= 0xF4) len = 4, cp = b0 & 0x07, min = 0x10000;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return 0xDC00 | b0;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xDC00 | b0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xDC00 | b0;
    }
    i += len;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const char32_t cp = NextCodePoint(s, i);
        if (cp >= 0xDC80 && cp <= 0xDCFF) return false;
    }
    return true;
}

// Windows-1252, the usual "ANSI" page of files written by older tools.
std::string Cp1252ToUtf8(std::string_view s) {
    static constexpr char16_t k80[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                         0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    out.reserve(s.size());
    for (const char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? k80[b - 0x80] : b);
    }
    return out;
}

std::string AnsiToUtf8(std::string_view s) { return IsValidUtf8(s) ? std::string(s) : Cp1252ToUtf8(s); }

locale_t UnicodeLocale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return loc;
}

char32_t Upper(char32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    if (locale_t loc = UnicodeLocale()) return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), loc));
    return cp;
}

void PutUnit(std::vector<std::uint8_t>& out, unsigned u) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
}

bool IsWs(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsWs(s.front())) s.remove_prefix(1);
    return s;
}
std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsWs(s.back())) s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a += 32;
        if (b >= 'A' && b <= 'Z') b += 32;
        if (a != b) return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Key path checks: no empty level, no line breaks, levels of at most 255
// characters. One trailing '\' is tolerated, as the registry does.
LSTATUS CheckSubKey(std::string_view& sub) {
    if (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
    if (sub.empty()) return ERROR_SUCCESS;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(sub.find('\\', start), sub.size());
        if (end == start) return ERROR_BAD_PATHNAME;
        std::size_t chars = 0;
        for (std::size_t i = start; i < end;) {
            if (static_cast<unsigned char>(sub[i]) < 0x20) return ERROR_INVALID_PARAMETER;
            NextCodePoint(sub, i);
            ++chars;
        }
        if (chars > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
        if (end == sub.size()) break;
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

std::string JoinPath(const std::string& base, std::string_view sub) {
    if (base.empty()) return std::string(sub);
    if (sub.empty()) return base;
    return base + "\\" + std::string(sub);
}

bool IsTextType(std::uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// ---- parsing ----

struct Parser {
    HKEY root;
    RegHive& hive;
    std::string error;
    bool unicode = true;  // 5.00: string data in hex form is UTF-16LE; REGEDIT4: ANSI
    RegKeyData* current = nullptr;
    bool inDeleted = false;  // values after a [-key] section are ignored

    bool Fail(std::string why, std::size_t line) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    }

    bool Section(std::string_view line, std::size_t no) {
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos || !TrimLeft(line.substr(close + 1)).empty())
            return Fail("section without ']'", no);
        std::string_view name = line.substr(1, close - 1);
        bool del = false;
        if (!name.empty() && name.front() == '-') del = true, name.remove_prefix(1);
        const std::string_view rootName = RootKeyName(root);
        const std::size_t slash = name.find('\\');
        std::string_view first = name.substr(0, slash);
        if (!RegNamesEqual(first, rootName)) return Fail("section of another root", no);
        std::string_view path = slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
        if (CheckSubKey(path) != ERROR_SUCCESS) return Fail("bad key path", no);
        if (del) {
            std::erase_if(hive.keys, [&](const RegKeyData& k) {
                if (path.empty()) return true;
                return RegNamesEqual(k.path, path) ||
                       (k.path.size() > path.size() && k.path[path.size()] == '\\' &&
                        RegNamesEqual(std::string_view(k.path).substr(0, path.size()), path));
            });
            current = nullptr;
            inDeleted = true;
        } else {
            current = &hive.Ensure(path);
            inDeleted = false;
        }
        return true;
    }

    // Reads "..." at the start of s; returns the position after the closing quote.
    static std::optional<std::size_t> Quoted(std::string_view s, std::string& out) {
        out.clear();
        for (std::size_t i = 1; i < s.size(); ++i) {
            if (s[i] == '"') return i + 1;
            if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
            out += s[i];
        }
        return std::nullopt;
    }

    static bool OnlyComment(std::string_view rest) {
        rest = TrimLeft(rest);
        return rest.empty() || rest.front() == ';';
    }

    bool Value(std::string_view line, std::size_t no) {
        std::string name;
        std::size_t pos;
        if (line.front() == '@') {
            pos = 1;
        } else {
            auto end = Quoted(line, name);
            if (!end) return Fail("value name without closing quote", no);
            pos = *end;
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') return Fail("'=' expected", no);
        rest = TrimLeft(rest.substr(1));
        RegValue v;
        v.name = name;
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            auto end = Quoted(rest, text);
            if (!end || !OnlyComment(rest.substr(*end))) return Fail("bad string value", no);
            v.type = REG_SZ;
            v.data = Utf8ToUtf16Le(text);
            PutUnit(v.data, 0);
        } else if (!rest.empty() && rest.front() == '-' && OnlyComment(rest.substr(1))) {
            if (current) std::erase_if(current->values, [&](const RegValue& x) { return RegNamesEqual(x.name, name); });
            return true;
        } else if (StartsWithNoCase(rest, "dword:")) {
            rest.remove_prefix(6);
            std::uint32_t n = 0;
            std::size_t digits = 0;
            while (digits < rest.size() && HexDigit(rest[digits]) >= 0) n = (n << 4) | HexDigit(rest[digits++]);
            if (digits == 0 || digits > 8 || !OnlyComment(rest.substr(digits))) return Fail("bad dword", no);
            v.type = REG_DWORD;
            for (int k = 0; k < 4; ++k) v.data.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
        } else if (StartsWithNoCase(rest, "hex")) {
            rest.remove_prefix(3);
            v.type = REG_BINARY;
            if (!rest.empty() && rest.front() == '(') {
                const std::size_t close = rest.find(')');
                if (close == std::string_view::npos || close < 2 || close > 9) return Fail("bad hex type", no);
                std::uint32_t t = 0;
                for (std::size_t i = 1; i < close; ++i) {
                    if (HexDigit(rest[i]) < 0) return Fail("bad hex type", no);
                    t = (t << 4) | HexDigit(rest[i]);
                }
                v.type = t;
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':') return Fail("':' expected", no);
            rest.remove_prefix(1);
            if (!HexBytes(rest, v.data)) return Fail("bad hex data", no);
            if (!unicode && IsTextType(v.type)) {
                const std::string ansi(v.data.begin(), v.data.end());
                v.data = Utf8ToUtf16Le(AnsiToUtf8(ansi));
            }
        } else {
            return Fail("unknown value form", no);
        }
        if (!current) {
            if (inDeleted) return true;
            return Fail("value outside a section", no);
        }
        for (auto& x : current->values) {
            if (RegNamesEqual(x.name, v.name)) {
                x.type = v.type;
                x.data = std::move(v.data);
                return true;
            }
        }
        current->values.push_back(std::move(v));
        return true;
    }

    static bool HexBytes(std::string_view s, std::vector<std::uint8_t>& out) {
        std::size_t i = 0;
        auto skip = [&] {
            while (i < s.size() && (IsWs(s[i]))) ++i;
        };
        skip();
        if (i == s.size() || s[i] == ';') return true;
        while (true) {
            skip();
            int v = 0, digits = 0;
            while (i < s.size() && HexDigit(s[i]) >= 0 && digits < 3) v = v * 16 + HexDigit(s[i++]), ++digits;
            if (digits == 0 || digits > 2) return false;
            out.push_back(static_cast<std::uint8_t>(v));
            skip();
            if (i == s.size() || s[i] == ';') return true;
            if (s[i] != ',') return false;
            ++i;
            skip();
            if (i == s.size() || s[i] == ';') return true;  // trailing comma
        }
    }
};

// ---- formatting ----

void AppendEscaped(std::string& out, std::string_view s) {
    for (const char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
}

// The text of REG_SZ data when the quoted form can hold it exactly.
std::optional<std::string> QuotableText(const std::vector<std::uint8_t>& d) {
    if (d.size() < 2 || d.size() % 2 != 0) return std::nullopt;
    const std::size_t units = d.size() / 2;
    std::string text;
    for (std::size_t i = 0; i + 1 < units; ++i) {
        const unsigned u = d[2 * i] | (d[2 * i + 1] << 8);
        if (u == 0 || u == '\r' || u == '\n') return std::nullopt;
        if (u >= 0xD800 && u <= 0xDBFF && i + 2 < units) {
            const unsigned lo = d[2 * i + 2] | (d[2 * i + 3] << 8);
            if (lo < 0xDC00 || lo > 0xDFFF) return std::nullopt;
            AppendUtf8(text, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
            ++i;
            continue;
        }
        if (u >= 0xD800 && u <= 0xDFFF) return std::nullopt;
        AppendUtf8(text, u);
    }
    if (d[d.size() - 2] != 0 || d[d.size() - 1] != 0) return std::nullopt;
    return text;
}

void AppendHex(std::string& out, std::string line, const std::vector<std::uint8_t>& data) {
    static const char* digits = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::string tok{digits[data[i] >> 4], digits[data[i] & 15]};
        if (i + 1 < data.size()) tok += ',';
        if (line.size() + tok.size() > 78) {
            out += line + "\\\r\n";
            line = "  ";
        }
        line += tok;
    }
    out += line + "\r\n";
}

// ---- files ----

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileId&) const = default;
};
FileId IdOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}
struct CacheEntry {
    FileId id;
    RegHive hive;
};
std::map<std::string, CacheEntry> g_cache;

LSTATUS FromErrno(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case ENOENT:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return ERROR_WRITE_FAULT;
    }
}

std::string StoreFile(HKEY root) { return RegistryFolder() + "/" + RootKeyName(root) + ".reg"; }

// Creates the folder and its parents; errno on failure.
int MakeFolders(const std::string& folder) {
    std::string partial;
    std::size_t pos = 0;
    while (pos <= folder.size()) {
        std::size_t next = folder.find('/', pos);
        if (next == std::string::npos) next = folder.size();
        partial = folder.substr(0, next);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        pos = next + 1;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// errno when the store of `root` may not be written.
int CheckWritable(HKEY root) {
    if (int e = Fault(RegWriteStep::CheckWritable)) return e;
    const std::string folder = RegistryFolder();
    if (int e = MakeFolders(folder)) return e;
    if (access(folder.c_str(), W_OK | X_OK) != 0) return errno;
    const std::string file = StoreFile(root);
    if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0) return errno;
    return 0;
}

bool ReadWhole(int fd, std::string& out) {
    char buf[65536];
    while (true) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > kMaxStoreBytes) return false;
    }
}

class LockFile {
public:
    LSTATUS Acquire(const std::string& file) {
        if (int e = Fault(RegWriteStep::Lock)) return FromErrno(e);
        fd_ = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return FromErrno(errno);
        // Poll so that a copy stuck while holding the lock cannot hang us forever.
        for (int waited = 0; waited < 30000; ++waited) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return ERROR_SUCCESS;
            if (errno != EWOULDBLOCK && errno != EINTR) return FromErrno(errno);
            usleep(1000);
        }
        return ERROR_LOCK_VIOLATION;
    }
    ~LockFile() {
        if (fd_ >= 0) close(fd_);
    }

private:
    int fd_ = -1;
};

// Moves an unparseable store aside under a name no earlier copy has.
bool SetAside(const std::string& file, const FileId& id) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return errno == ENOENT;
    if (!(IdOf(st) == id)) return true;  // replaced meanwhile: nothing to set aside
    for (int n = 0; n < 1000; ++n) {
        const std::string aside = file + ".corrupt" + (n ? "." + std::to_string(n) : "");
        if (link(file.c_str(), aside.c_str()) == 0) {
            if (unlink(file.c_str()) != 0) return false;
            std::fprintf(stderr, "%s: could not read the settings file %s; it was kept as %s\n", "Loomvale",
                         file.c_str(), aside.c_str());
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// The store's current contents. A store that cannot be parsed is set aside
// (the caller may hold the lock; otherwise it is taken here) and reads as empty.
LSTATUS Load(HKEY root, RegHive& hive, bool locked) {
    const std::string file = StoreFile(root);
    hive = {};
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            g_cache.erase(file);
            return ERROR_SUCCESS;
        }
        return FromErrno(errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ERROR_BADDB;
    }
    const FileId id = IdOf(st);
    if (auto it = g_cache.find(file); it != g_cache.end() && it->second.id == id) {
        close(fd);
        hive = it->second.hive;
        return ERROR_SUCCESS;
    }
    std::string bytes;
    const bool readOk = ReadWhole(fd, bytes);
    close(fd);
    if (!readOk) return bytes.size() > kMaxStoreBytes ? ERROR_BADDB : FromErrno(errno);
    std::string why;
    if (ParseRegFile(bytes, root, hive, &why)) {
        g_cache[file] = {id, hive};
        return ERROR_SUCCESS;
    }
    hive = {};
    bool asideOk;
    if (locked) {
        asideOk = SetAside(file, id);
    } else {
        LockFile lock;
        asideOk = lock.Acquire(file) == ERROR_SUCCESS && SetAside(file, id);
    }
    // Reads go on with an empty store either way; a writer must not replace a
    // file it could not keep.
    return asideOk || !locked ? ERROR_SUCCESS : ERROR_BADDB;
}

void RemoveStaleTemps(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    const std::string folder = file.substr(0, slash), prefix = file.substr(slash + 1) + ".tmp.";
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) unlink((folder + "/" + e->d_name).c_str());
    closedir(d);
}

bool WriteAll(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One read-modify-write of a store. `change` returns a status and sets
// `changed` when the hive must be written back.
template <class F>
LSTATUS Transaction(HKEY root, F change) {
    if (int e = CheckWritable(root)) return FromErrno(e);
    const std::string file = StoreFile(root);
    LockFile lock;
    if (LSTATUS s = lock.Acquire(file)) return s;
    RemoveStaleTemps(file);
    RegHive hive;
    if (LSTATUS s = Load(root, hive, true)) return s;
    bool changed = false;
    if (LSTATUS s = change(hive, changed)) return s;
    if (!changed) return ERROR_SUCCESS;

    const std::string text = FormatRegFile(hive, root);
    std::string tmp = file + ".tmp.XXXXXX";
    int err = Fault(RegWriteStep::WriteTemp);
    if (err) return FromErrno(err);
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return FromErrno(errno);
    struct stat old {};
    if (stat(file.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    if (!WriteAll(fd, text)) err = errno;
    if (!err) err = Fault(RegWriteStep::Sync);
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err) err = Fault(RegWriteStep::Rename);
    if (!err && rename(tmp.c_str(), file.c_str()) != 0) err = errno;
    if (err) {
        unlink(tmp.c_str());
        return FromErrno(err);
    }
    const std::string folder = RegistryFolder();
    if (const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) g_cache[file] = {IdOf(st), std::move(hive)};
    return ERROR_SUCCESS;
}

// ---- handles ----

struct OpenKey {
    HKEY root;
    std::string path;
    std::uint32_t sam;
};
std::map<HKEY, OpenKey> g_handles;
HKEY g_nextHandle = 0x100;

constexpr std::uint32_t kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

std::optional<OpenKey> Resolve(HKEY key) {
    if (RootKeyName(key)[0]) return OpenKey{key, "", KEY_ALL_ACCESS};
    auto it = g_handles.find(key);
    if (it == g_handles.end()) return std::nullopt;
    return it->second;
}

HKEY NewHandle(OpenKey k) {
    HKEY h;
    do {
        h = g_nextHandle++;
        if (g_nextHandle >= 0x7FFFFFFF) g_nextHandle = 0x100;
    } while (g_handles.count(h));
    g_handles.emplace(h, std::move(k));
    return h;
}

RegValue* FindValue(RegKeyData& k, std::string_view name) {
    for (auto& v : k.values)
        if (RegNamesEqual(v.name, name)) return &v;
    return nullptr;
}

bool BadValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

// ---- public: text ----

bool RegNamesEqual(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (Upper(NextCodePoint(a, i)) != Upper(NextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            PutUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            PutUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            PutUnit(out, cp);
        }
    }
    return out;
}

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t size) {
    std::string out;
    const std::size_t units = (size + 1) / 2;
    auto unit = [&](std::size_t i) -> unsigned {
        return data[2 * i] | (2 * i + 1 < size ? data[2 * i + 1] << 8 : 0);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const unsigned lo = unit(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xDC80 && u <= 0xDCFF) out += static_cast<char>(u & 0xFF);
        else if (u >= 0xD800 && u <= 0xDFFF) AppendUtf8(out, 0xFFFD);
        else AppendUtf8(out, u);
    }
    return out;
}

// ---- public: hive ----

RegKeyData* RegHive::Find(std::string_view path) {
    for (auto& k : keys)
        if (RegNamesEqual(k.path, path)) return &k;
    return nullptr;
}
const RegKeyData* RegHive::Find(std::string_view path) const { return const_cast<RegHive*>(this)->Find(path); }

RegKeyData& RegHive::Ensure(std::string_view path) {
    if (RegKeyData* k = Find(path)) return *k;
    // A new key takes its parents' names as they are already spelled.
    std::string stored(path);
    if (const std::size_t slash = path.rfind('\\'); slash != std::string_view::npos)
        stored = Ensure(path.substr(0, slash)).path + std::string(path.substr(slash));
    else if (!path.empty())
        Ensure("");
    keys.push_back({std::move(stored), {}});
    return keys.back();
}

bool RegHive::HasChildren(std::string_view path) const {
    for (const auto& k : keys) {
        if (k.path.size() <= path.size()) continue;
        if (path.empty()) return true;
        if (k.path[path.size()] == '\\' && RegNamesEqual(std::string_view(k.path).substr(0, path.size()), path))
            return true;
    }
    return false;
}

const char* RootKeyName(HKEY root) {
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_PERFORMANCE_DATA: return "HKEY_PERFORMANCE_DATA";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    case HKEY_DYN_DATA: return "HKEY_DYN_DATA";
    default: return "";
    }
}

bool ParseRegFile(std::string_view bytes, HKEY root, RegHive& hive, std::string* error) {
    hive = {};
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            if (error) *error = "odd length of a UTF-16 file";
            return false;
        }
        text = Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = bytes.substr(3);
    } else {
        text = AnsiToUtf8(bytes);
    }
    if (!RootKeyName(root)[0]) {
        if (error) *error = "no such root";
        return false;
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true;  // nothing to lose

    Parser p{root, hive, {}};
    bool header = false;
    std::size_t pos = 0, lineNo = 0;
    auto nextLine = [&](std::string_view& line) {
        if (pos >= text.size()) return false;
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        line = std::string_view(text).substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
        ++lineNo;
        return true;
    };
    std::string_view raw;
    while (nextLine(raw)) {
        std::string_view line = TrimRight(TrimLeft(raw));
        if (line.empty() || line.front() == ';') continue;
        if (!header) {
            if (line == kHeader5) p.unicode = true;
            else if (line == kHeader4) p.unicode = false;
            else {
                if (error) *error = "no registry editor header";
                return false;
            }
            header = true;
            continue;
        }
        const std::size_t startLine = lineNo;
        if (line.front() == '[') {
            if (!p.Section(line, startLine)) break;
        } else if (line.front() == '"' || line.front() == '@') {
            std::string joined(line);
            // Hex data may go on over lines ending in '\'.
            while (!joined.empty() && joined.back() == '\\' && joined.find("=hex") != std::string::npos) {
                joined.pop_back();
                std::string_view more;
                if (!nextLine(more)) break;
                joined += TrimRight(TrimLeft(more));
            }
            if (!p.Value(joined, startLine)) break;
        } else {
            p.Fail("unexpected text", startLine);
            break;
        }
    }
    if (!p.error.empty()) {
        if (error) *error = p.error;
        hive = {};
        return false;
    }
    if (!header) {
        if (error) *error = "no registry editor header";
        return false;
    }
    return true;
}

std::string FormatRegFile(const RegHive& hive, HKEY root) {
    std::string out = std::string(kHeader5) + "\r\n\r\n";
    for (const auto& k : hive.keys) {
        out += '[';
        out += RootKeyName(root);
        if (!k.path.empty()) out += "\\" + k.path;
        out += "]\r\n";
        for (const auto& v : k.values) {
            std::string line;
            if (v.name.empty()) {
                line = "@=";
            } else {
                line = "\"";
                AppendEscaped(line, v.name);
                line += "\"=";
            }
            if (v.type == REG_SZ) {
                if (auto text = QuotableText(v.data)) {
                    line += '"';
                    AppendEscaped(line, *text);
                    out += line + "\"\r\n";
                    continue;
                }
            }
            if (v.type == REG_DWORD && v.data.size() == 4) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x",
                              v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (unsigned(v.data[3]) << 24));
                out += line + buf + "\r\n";
                continue;
            }
            if (v.type == REG_BINARY) {
                line += "hex:";
            } else {
                char buf[24];
                std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
                line += buf;
            }
            AppendHex(out, line, v.data);
        }
        out += "\r\n";
    }
    return out;
}

// ---- public: folder ----

std::string RegistryFolder() {
    if (const char* d = std::getenv("LOOMVALE_REGISTRY"); d && *d) return d;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') return std::string(x) + "/loomvale";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/loomvale";
}

void SetRegistryFaultHook(std::function<int(RegWriteStep)> hook) {
    std::lock_guard guard(g_mutex);
    g_faultHook = std::move(hook);
}

// ---- public: registry functions ----

LSTATUS RegOpenKeyExA(HKEY key, std::string_view subKey, std::uint32_t, std::uint32_t samDesired, HKEY* result) {
    std::lock_guard guard(g_mutex);
    if (!result) return ERROR_INVALID_PARAMETER;
    auto base = Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (LSTATUS s = CheckSubKey(subKey)) return s;
    const std::string path = JoinPath(base->path, subKey);
    RegHive hive;
    if (LSTATUS s = Load(base->root, hive, false)) return s;
    const RegKeyData* k = hive.Find(path);
    if (!k && !path.empty()) return ERROR_FILE_NOT_FOUND;
    if ((samDesired & kWriteAccess) != 0)
        if (int e = CheckWritable(base->root)) return FromErrno(e);
    *result = NewHandle({base->root, k ? k->path : path, samDesired});
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, std::string_view subKey, std::uint32_t, std::uint32_t samDesired, HKEY* result,
                        std::uint32_t* disposition) {
    std::lock_guard guard(g_mutex);
    if (!result) return ERROR_INVALID_PARAMETER;
    auto base = Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (LSTATUS s = CheckSubKey(subKey)) return s;
    const std::string path = JoinPath(base->path, subKey);
    RegHive hive;
    if (LSTATUS s = Load(base->root, hive, false)) return s;
    std::string stored = path;
    std::uint32_t disp = REG_OPENED_EXISTING_KEY;
    if (const RegKeyData* k = hive.Find(path); k || path.empty()) {
        if (k) stored = k->path;
        if ((samDesired & kWriteAccess) != 0)
            if (int e = CheckWritable(base->root)) return FromErrno(e);
    } else {
        LSTATUS s = Transaction(base->root, [&](RegHive& h, bool& changed) {
            const std::size_t before = h.keys.size();
            stored = h.Ensure(path).path;
            changed = h.keys.size() != before;
            if (changed) disp = REG_CREATED_NEW_KEY;
            return ERROR_SUCCESS;
        });
        if (s) return s;
    }
    if (disposition) *disposition = disp;
    *result = NewHandle({base->root, stored, samDesired});
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    std::lock_guard guard(g_mutex);
    if (RootKeyName(key)[0]) return ERROR_SUCCESS;
    return g_handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyA(HKEY key, std::string_view subKey) {
    std::lock_guard guard(g_mutex);
    auto base = Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (LSTATUS s = CheckSubKey(subKey)) return s;
    const std::string path = JoinPath(base->path, subKey);
    if (path.empty()) return ERROR_ACCESS_DENIED;
    RegHive hive;
    if (LSTATUS s = Load(base->root, hive, false)) return s;
    if (!hive.Find(path)) return ERROR_FILE_NOT_FOUND;
    return Transaction(base->root, [&](RegHive& h, bool& changed) -> LSTATUS {
        if (!h.Find(path)) return ERROR_FILE_NOT_FOUND;
        if (h.HasChildren(path)) return ERROR_ACCESS_DENIED;
        std::erase_if(h.keys, [&](const RegKeyData& k) { return RegNamesEqual(k.path, path); });
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* size) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    RegHive hive;
    if (LSTATUS s = Load(k->root, hive, false)) return s;
    RegKeyData* kd = hive.Find(k->path);
    if (!kd && !k->path.empty()) return ERROR_KEY_DELETED;
    const RegValue* v = kd ? FindValue(*kd, name) : nullptr;
    if (!v) return ERROR_FILE_NOT_FOUND;
    std::string converted;
    const std::uint8_t* src = v->data.data();
    std::size_t n = v->data.size();
    if (IsTextType(v->type)) {
        converted = Utf16LeToUtf8(v->data.data(), v->data.size());
        src = reinterpret_cast<const std::uint8_t*>(converted.data());
        n = converted.size();
    }
    if (n > 0xFFFFFFFFu) return ERROR_BADDB;
    if (type) *type = v->type;
    if (!size) return ERROR_SUCCESS;
    const std::uint32_t have = *size;
    *size = static_cast<std::uint32_t>(n);
    if (!data) return ERROR_SUCCESS;
    if (have < n) return ERROR_MORE_DATA;
    if (n) std::memcpy(data, src, n);
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, std::string_view name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (BadValueName(name) || (size && !data)) return ERROR_INVALID_PARAMETER;
    std::vector<std::uint8_t> stored;
    if (IsTextType(type)) stored = Utf8ToUtf16Le(std::string_view(reinterpret_cast<const char*>(data), size));
    else if (size) stored.assign(data, data + size);
    return Transaction(k->root, [&](RegHive& h, bool& changed) -> LSTATUS {
        RegKeyData* kd = h.Find(k->path);
        if (!kd) {
            if (!k->path.empty()) return ERROR_KEY_DELETED;
            kd = &h.Ensure("");
        }
        if (RegValue* v = FindValue(*kd, name)) {
            changed = v->type != type || v->data != stored;
            v->type = type;
            v->data = std::move(stored);
        } else {
            kd->values.push_back({std::string(name), type, std::move(stored)});
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteValueA(HKEY key, std::string_view name) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Transaction(k->root, [&](RegHive& h, bool& changed) -> LSTATUS {
        RegKeyData* kd = h.Find(k->path);
        if (!kd) return k->path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        const std::size_t before = kd->values.size();
        std::erase_if(kd->values, [&](const RegValue& v) { return RegNamesEqual(v.name, name); });
        changed = kd->values.size() != before;
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LSTATUS RegEnumValueA(HKEY key, std::uint32_t index, std::string& name) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    RegHive hive;
    if (LSTATUS s = Load(k->root, hive, false)) return s;
    const RegKeyData* kd = hive.Find(k->path);
    if (!kd) return k->path.empty() ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
    if (index >= kd->values.size()) return ERROR_NO_MORE_ITEMS;
    name = kd->values[index].name;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyA(HKEY key, std::uint32_t index, std::string& name) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    RegHive hive;
    if (LSTATUS s = Load(k->root, hive, false)) return s;
    if (!k->path.empty() && !hive.Find(k->path)) return ERROR_KEY_DELETED;
    std::uint32_t n = 0;
    const std::size_t prefix = k->path.empty() ? 0 : k->path.size() + 1;
    for (const auto& kd : hive.keys) {
        if (kd.path.empty() || kd.path.size() <= prefix) continue;
        if (prefix && (kd.path[prefix - 1] != '\\' ||
                       !RegNamesEqual(std::string_view(kd.path).substr(0, prefix - 1), k->path)))
            continue;
        if (kd.path.find('\\', prefix) != std::string::npos) continue;
        if (n++ == index) {
            name = kd.path.substr(prefix);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_NO_MORE_ITEMS;
}

}  // namespace platform
