// Builds small PE images in memory for tests: a DOS stub, PE32 or PE32+
// headers and one .rsrc section holding a resource directory made from a
// list of resources. The image is returned as bytes, with the file offset of
// the resource section, so tests can damage any part of it afterwards.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/module/PeResources.h"

namespace testsupport {

class PeBuilder {
public:
    bool pe32plus = false;
    uint32_t rsrcOffset = 0x200;  // file offset of the resource section
    uint32_t rsrcRva = 0x1000;

    void Add(const platform::ResId& type, const platform::ResId& name, uint16_t lang,
             std::vector<uint8_t> data) {
        entries_.push_back({type, name, lang, std::move(data)});
    }

    std::vector<uint8_t> Build() {
        std::vector<uint8_t> rsrc = BuildResourceSection();
        const uint32_t rawSize = Align(static_cast<uint32_t>(rsrc.size()), 0x200);
        rsrc.resize(rawSize, 0);

        std::vector<uint8_t> img(rsrcOffset, 0);
        img[0] = 'M', img[1] = 'Z';
        Put32(img, 0x3C, 0x40);
        Put32(img, 0x40, 0x00004550);  // "PE\0\0"
        const uint32_t coff = 0x44;
        Put16(img, coff + 0, pe32plus ? 0x8664 : 0x14C);
        Put16(img, coff + 2, 1);  // sections
        const uint16_t optSize = pe32plus ? 240 : 224;
        Put16(img, coff + 16, optSize);
        Put16(img, coff + 18, 0x2102);  // DLL, executable image
        const uint32_t opt = coff + 20;
        Put16(img, opt, pe32plus ? 0x20B : 0x10B);
        const uint32_t numDirs = pe32plus ? opt + 108 : opt + 92;
        Put32(img, opt + 32, 0x1000);  // section alignment
        Put32(img, opt + 36, 0x200);   // file alignment
        Put32(img, opt + 56, Align(rsrcRva + rawSize, 0x1000));
        Put32(img, opt + 60, rsrcOffset);
        Put32(img, numDirs, 16);
        Put32(img, numDirs + 4 + 2 * 8, rsrcRva);
        Put32(img, numDirs + 4 + 2 * 8 + 4, static_cast<uint32_t>(dirSize_));
        const uint32_t sec = opt + optSize;
        std::copy_n(".rsrc", 5, img.begin() + sec);
        Put32(img, sec + 8, rawSize);  // virtual size
        Put32(img, sec + 12, rsrcRva);
        Put32(img, sec + 16, rawSize);
        Put32(img, sec + 20, rsrcOffset);
        img.insert(img.end(), rsrc.begin(), rsrc.end());
        return img;
    }

    static void Put16(std::vector<uint8_t>& b, std::size_t off, uint16_t v) {
        if (b.size() < off + 2) b.resize(off + 2);
        b[off] = static_cast<uint8_t>(v), b[off + 1] = static_cast<uint8_t>(v >> 8);
    }
    static void Put32(std::vector<uint8_t>& b, std::size_t off, uint32_t v) {
        Put16(b, off, static_cast<uint16_t>(v));
        Put16(b, off + 2, static_cast<uint16_t>(v >> 16));
    }
    static uint32_t Get32(const std::vector<uint8_t>& b, std::size_t off) {
        return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
    }

    static bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && ok;
    }

private:
    struct Entry { platform::ResId type, name; uint16_t lang; std::vector<uint8_t> data; };
    std::vector<Entry> entries_;
    std::size_t dirSize_ = 0;

    static uint32_t Align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

    // Strings sort before IDs; strings by upper-case text, IDs by value.
    struct Key {
        platform::ResId id;
        bool operator<(const Key& o) const {
            if (id.isInt != o.id.isInt) return !id.isInt;
            if (id.isInt) return id.id < o.id.id;
            const auto upper = [](std::string s) {
                for (auto& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
                return s;
            };
            return std::pair(upper(id.name), id.name) < std::pair(upper(o.id.name), o.id.name);
        }
    };

    std::vector<uint8_t> BuildResourceSection() {
        std::map<Key, std::map<Key, std::map<uint16_t, const Entry*>>> tree;
        for (const auto& e : entries_) tree[{e.type}][{e.name}][e.lang] = &e;

        // Directories first (depth first), then name strings, leaves, data.
        std::size_t dirBytes = 16 + 8 * tree.size(), leafCount = 0;
        for (auto& [t, names] : tree) {
            dirBytes += 16 + 8 * names.size();
            for (auto& [n, langs] : names) dirBytes += 16 + 8 * langs.size(), leafCount += langs.size();
        }
        std::vector<uint8_t> out(dirBytes, 0);
        std::map<std::string, uint32_t> strings;
        auto idField = [&](const platform::ResId& id) {
            if (id.isInt) return uint32_t{id.id};
            auto [it, fresh] = strings.emplace(id.name, static_cast<uint32_t>(out.size()));
            if (fresh) {
                Put16(out, it->second, static_cast<uint16_t>(id.name.size()));
                for (std::size_t i = 0; i < id.name.size(); ++i)
                    Put16(out, it->second + 2 + 2 * i, static_cast<uint8_t>(id.name[i]));  // ASCII names
                out.resize(Align(static_cast<uint32_t>(out.size()), 4), 0);
            }
            return 0x80000000u | it->second;
        };
        for (auto& [t, names] : tree) {
            idField(t.id);
            for (auto& [n, langs] : names) idField(n.id);
        }
        uint32_t leafPos = static_cast<uint32_t>(out.size()), dirPos = 0;
        out.resize(leafPos + 16 * leafCount, 0);
        dirSize_ = out.size();

        // Opens a directory for the map's keys; returns its offset.
        auto openDir = [&](const auto& m) {
            const uint32_t at = dirPos;
            std::size_t named = 0;
            for (auto& kv : m) named += !Id(kv.first).isInt;
            Put16(out, at + 12, static_cast<uint16_t>(named));
            Put16(out, at + 14, static_cast<uint16_t>(m.size() - named));
            dirPos += 16 + 8 * static_cast<uint32_t>(m.size());
            return at;
        };
        auto entry = [&](uint32_t dir, uint32_t i, uint32_t id, uint32_t target) {
            Put32(out, dir + 16 + 8 * i, id);
            Put32(out, dir + 20 + 8 * i, target);
        };
        const uint32_t root = openDir(tree);
        uint32_t ti = 0;
        for (auto& [t, names] : tree) {
            const uint32_t tdir = openDir(names);
            entry(root, ti++, idField(t.id), 0x80000000u | tdir);
            uint32_t ni = 0;
            for (auto& [n, langs] : names) {
                const uint32_t ndir = openDir(langs);
                entry(tdir, ni++, idField(n.id), 0x80000000u | ndir);
                uint32_t li = 0;
                for (auto& [lang, e] : langs) {
                    entry(ndir, li++, lang, leafPos);
                    const uint32_t dataOff = Align(static_cast<uint32_t>(out.size()), 4);
                    out.resize(dataOff, 0);
                    out.insert(out.end(), e->data.begin(), e->data.end());
                    Put32(out, leafPos, rsrcRva + dataOff);
                    Put32(out, leafPos + 4, static_cast<uint32_t>(e->data.size()));
                    leafPos += 16;
                }
            }
        }
        return out;
    }
    static platform::ResId Id(const Key& k) { return k.id; }
    static platform::ResId Id(uint16_t lang) { return platform::ResId::Int(lang); }
};

}  // namespace testsupport
