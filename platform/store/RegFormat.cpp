#include "platform/store/RegFormat.h"

#include "platform/text/ByteReader.h"

#include "platform/text/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <optional>

#include <locale.h>
#include <wctype.h>

namespace platform {

namespace {

using text::AppendUtf8;
using text::Cp1252ToUtf8;
using text::IsValidUtf8;

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::size_t kMaxKeyNameChars = 255;

// ---- text ----

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

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The name as RegNamesEqual sees it: two names are equal exactly when their
// folded forms are.
std::string Fold(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) out += AsciiUpper(s[i++]);
        else AppendUtf8(out, Upper(text::NextUtf8(s, i)));
    }
    return out;
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
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiUpper(s[i]) != AsciiUpper(prefix[i])) return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---- parsing ----

// Reads "..." at the start of s; returns the position after the closing quote.
std::optional<std::size_t> Quoted(std::string_view s, std::string* out) {
    if (out) out->clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '"') return i + 1;
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
        if (out) *out += s[i];
    }
    return std::nullopt;
}

bool OnlyComment(std::string_view rest) {
    rest = TrimLeft(rest);
    return rest.empty() || rest.front() == ';';
}

// What follows "name=" on a value line, or nothing when the line has no such start.
std::optional<std::string_view> ValueData(std::string_view line, std::string* name) {
    std::size_t pos = 1;
    if (line.front() == '"') {
        auto end = Quoted(line, name);
        if (!end) return std::nullopt;
        pos = *end;
    } else if (name) {
        name->clear();
    }
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    return TrimLeft(rest.substr(1));
}

bool HexBytes(std::string_view s, std::vector<std::uint8_t>& out) {
    std::size_t i = 0;
    auto skip = [&] {
        while (i < s.size() && IsWs(s[i])) ++i;
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

struct Parser {
    HKEY root;
    RegHive& hive;
    std::string error;
    bool unicode = true;  // 5.00: texts are UTF-8 (or UTF-16LE in hex form); REGEDIT4: ANSI
    RegKeyData* current = nullptr;
    bool skipping = false;  // values after a [-key] section, a key too deep or out of scope are ignored
    const RegScope* scope = nullptr;
    bool deletes = false;  // a [-key] section was met
    bool kept = false;     // the current section is kept

    bool Fail(std::string why, std::size_t line) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    }

    // A text of the file as UTF-8. An ANSI export holds Windows-1252; a text
    // of it that already is UTF-8 is taken as such. Each text on its own, so
    // one odd byte changes no other value.
    std::string Text(std::string_view s) const {
        return unicode || IsValidUtf8(s) ? std::string(s) : Cp1252ToUtf8(s);
    }

    bool Section(std::string_view line, std::size_t no) {
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos || !TrimLeft(line.substr(close + 1)).empty())
            return Fail("section without ']'", no);
        std::string_view name = line.substr(1, close - 1);
        bool del = false;
        if (!name.empty() && name.front() == '-') del = true, name.remove_prefix(1);
        const std::size_t slash = name.find('\\');
        if (!RegNamesEqual(name.substr(0, slash), RootKeyName(root))) return Fail("section of another root", no);
        const std::string text = Text(slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1));
        std::string_view path = text;
        current = nullptr;
        skipping = true;
        kept = false;
        if (KeyDepth(path.substr(0, path.size() - path.ends_with('\\'))) > kMaxKeyDepth)
            return true;  // refused; the rest of the file stays
        if (CheckKeyPath(path) != ERROR_SUCCESS) return Fail("bad key path", no);
        if (del) {
            deletes = true;
            hive.RemoveTree(path);  // of a scoped hive, only what it holds
        } else if (!scope || scope->Keeps(path)) {
            current = &hive.Ensure(path);
            skipping = false;
            kept = true;
        }
        return true;
    }

    bool Value(std::string_view line, std::size_t no) {
        std::string rawName;
        const std::optional<std::string_view> data = ValueData(line, &rawName);
        if (!data) return Fail(line.front() == '"' && !Quoted(line, nullptr) ? "value name without closing quote"
                                                                              : "'=' expected",
                               no);
        std::string_view rest = *data;
        RegValue v;
        v.name = Text(rawName);
        bool remove = false;
        if (!rest.empty() && rest.front() == '"') {
            std::string quoted;
            auto end = Quoted(rest, &quoted);
            if (!end || !OnlyComment(rest.substr(*end))) return Fail("bad string value", no);
            v.type = REG_SZ;
            v.data = text::Utf8ToUtf16LeKeepingBytes(Text(quoted));
            v.data.insert(v.data.end(), {0, 0});
        } else if (!rest.empty() && rest.front() == '-' && OnlyComment(rest.substr(1))) {
            remove = true;
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
            if (!unicode && IsTextType(v.type))
                v.data = text::Utf8ToUtf16LeKeepingBytes(Text({reinterpret_cast<const char*>(v.data.data()), v.data.size()}));
        } else {
            return Fail("unknown value form", no);
        }
        if (!current) return skipping ? true : Fail("value outside a section", no);
        if (remove) current->RemoveValue(v.name);
        else current->SetValue(std::move(v));
        return true;
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

}  // namespace

// ---- text ----

bool RegNamesEqual(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
        if (x < 0x80 && y < 0x80) {
            if (AsciiUpper(a[i++]) != AsciiUpper(b[j++])) return false;
        } else if (Upper(text::NextUtf8(a, i)) != Upper(text::NextUtf8(b, j))) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

// ---- key paths ----

std::size_t KeyDepth(std::string_view path) {
    return path.empty() ? 0 : static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
}

LSTATUS CheckKeyPath(std::string_view& sub, std::size_t depthAbove) {
    if (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
    if (sub.empty()) return ERROR_SUCCESS;
    if (depthAbove + KeyDepth(sub) > kMaxKeyDepth) return ERROR_BAD_PATHNAME;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(sub.find('\\', start), sub.size());
        if (end == start) return ERROR_BAD_PATHNAME;
        std::size_t chars = 0;
        for (std::size_t i = start; i < end;) {
            if (static_cast<unsigned char>(sub[i]) < 0x20) return ERROR_INVALID_PARAMETER;
            text::NextUtf8(sub, i);
            ++chars;
        }
        if (chars > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
        if (end == sub.size()) break;
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// ---- keys and values ----

RegValue* RegKeyData::FindValue(std::string_view name) {
    for (auto& v : values)
        if (RegNamesEqual(v.name, name)) return &v;
    return nullptr;
}

const RegValue* RegKeyData::FindValue(std::string_view name) const {
    return const_cast<RegKeyData*>(this)->FindValue(name);
}

bool RegKeyData::SetValue(RegValue v) {
    if (RegValue* old = FindValue(v.name)) {
        const bool changed = old->type != v.type || old->data != v.data;
        old->type = v.type;
        old->data = std::move(v.data);
        return changed;
    }
    values.push_back(std::move(v));
    return true;
}

bool RegKeyData::RemoveValue(std::string_view name) {
    return std::erase_if(values, [&](const RegValue& v) { return RegNamesEqual(v.name, name); }) != 0;
}

RegKeyData* RegHive::Find(std::string_view path) {
    const auto it = index_.find(Fold(path));
    return it == index_.end() ? nullptr : &keys_[it->second];
}
const RegKeyData* RegHive::Find(std::string_view path) const { return const_cast<RegHive*>(this)->Find(path); }

RegKeyData& RegHive::Ensure(std::string_view path) {
    if (RegKeyData* k = Find(path)) return *k;
    if (!path.empty() && !Find("")) Ensure("");
    // Level by level from the top, without recursion: keys may nest deep.
    std::string folded, stored;
    std::size_t at = keys_.size();
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view level = path.substr(start, end - start);
        if (start) folded += '\\', stored += '\\';
        folded += Fold(level);
        stored += level;
        if (auto it = index_.find(folded); it != index_.end()) {
            stored = keys_[it->second].path;
            at = it->second;
        } else {
            at = keys_.size();
            index_.emplace(folded, at);
            keys_.push_back({stored, {}});
        }
        if (end == path.size()) break;
        start = end + 1;
    }
    return keys_[at];
}

bool RegHive::HasChildren(std::string_view path) const {
    if (path.empty()) return keys_.size() > (index_.count("") ? 1u : 0u);
    const std::string prefix = Fold(path) + '\\';
    const auto it = index_.lower_bound(prefix);
    return it != index_.end() && it->first.starts_with(prefix);
}

bool RegHive::Remove(std::string_view path) {
    const auto it = index_.find(Fold(path));
    if (it == index_.end()) return false;
    Drop({it->second});
    return true;
}

void RegHive::RemoveTree(std::string_view path) {
    if (path.empty()) {
        *this = {};
        return;
    }
    const std::string folded = Fold(path), prefix = folded + '\\';
    std::vector<std::size_t> gone;
    if (auto it = index_.find(folded); it != index_.end()) gone.push_back(it->second);
    for (auto it = index_.lower_bound(prefix); it != index_.end() && it->first.starts_with(prefix); ++it)
        gone.push_back(it->second);
    std::sort(gone.begin(), gone.end());
    Drop(gone);
}

void RegHive::Drop(const std::vector<std::size_t>& sorted) {
    if (sorted.empty()) return;
    std::size_t out = 0, next = 0;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (next < sorted.size() && sorted[next] == i) {
            ++next;
            continue;
        }
        if (out != i) keys_[out] = std::move(keys_[i]);
        ++out;
    }
    keys_.resize(out);
    for (auto it = index_.begin(); it != index_.end();) {
        const auto below = std::lower_bound(sorted.begin(), sorted.end(), it->second);
        if (below != sorted.end() && *below == it->second) {
            it = index_.erase(it);
        } else {
            it->second -= static_cast<std::size_t>(below - sorted.begin());
            ++it;
        }
    }
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

// ---- whole files ----

bool ParseRegFile(std::string_view bytes, HKEY root, RegHive& hive, std::string* error, const RegScope* scope,
                  RegLayout* layout) {
    hive = {};
    if (layout) *layout = {};
    const auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        hive = {};
        return false;
    };
    std::string utf16;
    std::string_view text = bytes;
    if (bytes.starts_with("\xFF\xFE")) {
        if (bytes.size() % 2 != 0) return fail("odd length of a UTF-16 file");
        utf16 = text::Utf16LeToUtf8KeepingBytes({reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2});
        text = utf16;
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (!RootKeyName(root)[0]) return fail("no such root");
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;  // nothing to lose

    Parser p{root, hive, {}};
    p.scope = scope;
    bool header = false;
    std::size_t pos = 0, lineNo = 0;
    // Kept sections run from their '[' line to the next section's.
    std::size_t lineStart = 0;
    bool inKept = false;
    const auto endKept = [&](std::size_t at) {
        if (inKept && layout) layout->kept.back().second = at;
        inKept = false;
    };
    auto nextLine = [&](std::string_view& line) {
        if (pos >= text.size()) return false;
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        line = TrimRight(TrimLeft(text.substr(pos, end - pos)));
        pos = end;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
        ++lineNo;
        return true;
    };
    std::string_view line;
    while ((lineStart = pos, nextLine(line))) {
        if (line.empty() || line.front() == ';') continue;
        if (!header) {
            if (line == kHeader5) p.unicode = true;
            else if (line == kHeader4) p.unicode = false;
            else return fail("no registry editor header");
            header = true;
            continue;
        }
        const std::size_t startLine = lineNo;
        if (line.front() == '[') {
            endKept(lineStart);
            if (!p.Section(line, startLine)) break;
            if (p.kept && layout) layout->kept.emplace_back(lineStart, text.size());
            inKept = p.kept;
        } else if (line.front() == '"' || line.front() == '@') {
            // Hex data may go on over lines ending in '\'.
            const auto data = ValueData(line, nullptr);
            if (line.back() != '\\' || !data || !StartsWithNoCase(*data, "hex")) {
                if (!p.Value(line, startLine)) break;
                continue;
            }
            std::string joined(line.substr(0, line.size() - 1));
            std::string_view more;
            while (nextLine(more)) {
                joined += more;
                if (joined.empty() || joined.back() != '\\') break;
                joined.pop_back();
            }
            if (!p.Value(joined, startLine)) break;
        } else {
            p.Fail("unexpected text", startLine);
            break;
        }
    }
    endKept(text.size());
    if (!p.error.empty()) return fail(p.error);
    if (!header) return fail("no registry editor header");
    if (layout) layout->inPlace = p.unicode && !p.deletes && bytes.starts_with(kHeader5);
    return true;
}

bool RegScope::Keeps(std::string_view key) const {
    const std::string_view p = path;
    // The key itself or an ancestor: a prefix of the path at a level's end.
    if (key.size() <= p.size() && RegNamesEqual(key, p.substr(0, key.size())) &&
        (key.empty() || key.size() == p.size() || p[key.size()] == '\\'))
        return true;
    return tree && key.size() > p.size() && (p.empty() || key[p.size()] == '\\') &&
           RegNamesEqual(key.substr(0, p.size()), p);
}

bool RegScope::Covers(const RegScope& other) const {
    if (other.tree) return tree && Keeps(other.path) && (other.path.size() >= path.size());
    return Keeps(other.path);
}

std::string FormatRegFile(const RegHive& hive, HKEY root) {
    return std::string(kHeader5) + "\r\n\r\n" + FormatRegKeys(hive, root);
}

std::string FormatRegKeys(const RegHive& hive, HKEY root) {
    std::string out;
    for (const auto& k : hive.Keys()) {
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
                std::snprintf(buf, sizeof buf, "dword:%08x", unsigned(Le32At(v.data, 0)));
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

}  // namespace platform
