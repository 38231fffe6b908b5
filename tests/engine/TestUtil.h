// Engine test helpers: resource images, modules as real PE files, a scratch destination, a scripted box.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/Packages.h"
#include "tests/support/PeBuilder.h"
#include "engine/EngineInternal.h"
#include "platform/fs/FileIo.h"
#include "platform/system/MessageBox.h"

// AddressSanitizer's quarantine makes resident size meaningless.
#if defined(__SANITIZE_ADDRESS__)
#define LV_NO_RSS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LV_NO_RSS 1
#endif
#endif

namespace t {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

inline void P16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
inline void P32(Bytes& b, uint32_t v) { P16(b, v & 0xFFFF), P16(b, v >> 16); }
inline uint16_t G16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
inline uint32_t G32(const Bytes& b, size_t at) { return G16(b, at) | (uint32_t(G16(b, at + 2)) << 16); }

// A bottom-up DIB without file header: info header, colour table, pixels.
inline Bytes Dib(int32_t w, int32_t h, uint16_t bpp, uint32_t coloursUsed = 0, uint32_t compression = 0,
                 uint32_t headerSize = 40, size_t tableEntries = SIZE_MAX) {
    Bytes b;
    const uint32_t stride = ((uint32_t(w) * bpp + 31) / 32) * 4, rows = uint32_t(h < 0 ? -h : h);
    P32(b, headerSize), P32(b, uint32_t(w)), P32(b, uint32_t(h)), P16(b, 1), P16(b, bpp), P32(b, compression);
    for (uint32_t v : {stride * rows, 2835u, 2835u, coloursUsed, 0u}) P32(b, v);
    if (tableEntries == SIZE_MAX) tableEntries = bpp <= 8 ? (coloursUsed ? coloursUsed : (1u << bpp)) : coloursUsed;
    if (compression == 3) tableEntries += 3;
    for (size_t i = 0; i < tableEntries; ++i) P32(b, uint32_t(i * 0x010101) & 0xFFFFFF);
    for (uint32_t i = 0; i < stride * rows; ++i) b.push_back(uint8_t(i * 7));
    return b;
}

// An icon image: a 32-bit DIB of h colour rows and h mask rows.
inline Bytes IconImage(int w, int h) {
    Bytes b = Dib(w, 2 * h, 32);
    b.resize(40 + size_t(w) * h * 4 + ((uint32_t(w) + 31) / 32) * 4 * h);
    return b;
}

// A 1-bit cursor member: hotspot, header, two colours, XOR and AND masks.
inline Bytes CursorMember(int w, int h, uint16_t hx, uint16_t hy) {
    Bytes b, d = Dib(w, 2 * h, 1);
    P16(b, hx), P16(b, hy);
    b.insert(b.end(), d.begin(), d.end());
    return b;
}

struct IconEntry { uint8_t w, h, colours; uint16_t planes, bpp; uint32_t size; uint16_t id; };
inline Bytes IconGroup(const std::vector<IconEntry>& e, uint16_t type = 1) {
    Bytes b;
    P16(b, 0), P16(b, type), P16(b, uint16_t(e.size()));
    for (const auto& x : e) {
        b.insert(b.end(), {x.w, x.h, x.colours, 0});
        P16(b, x.planes), P16(b, x.bpp), P32(b, x.size), P16(b, x.id);
    }
    return b;
}
struct CursorEntry { uint16_t w, doubledH, planes, bpp; uint32_t size; uint16_t id; };
inline Bytes CursorGroup(const std::vector<CursorEntry>& e) {
    Bytes b;
    P16(b, 0), P16(b, 2), P16(b, uint16_t(e.size()));
    for (const auto& x : e) P16(b, x.w), P16(b, x.doubledH), P16(b, x.planes), P16(b, x.bpp), P32(b, x.size), P16(b, x.id);
    return b;
}

// One resource of a test module; types and names are IDs or strings.
struct Res { platform::ResId type, name; Bytes data; };
inline platform::ResId Id(uint16_t v) { return platform::ResId::Int(v); }
inline platform::ResId Id(const std::string& s) { return platform::ResId::Str(s); }
template <class T, class N> Res R(T type, N name, Bytes data) { return {Id(type), Id(name), std::move(data)}; }

inline Bytes ReadFile(const fs::path& p) { std::ifstream in(p, std::ios::binary); return {std::istreambuf_iterator<char>(in), {}}; }
inline std::string ReadText(const fs::path& p) { const Bytes b = ReadFile(p); return {b.begin(), b.end()}; }

inline engine::ResTypes Only(int kind) {  // -1: every kind
    engine::ResTypes t;
    for (int k = 0; k < engine::kResKindCount; ++k)
        if (kind < 0 || k == kind) t[k] = engine::kTrue;
    return t;
}
inline engine::ResTypes AllKinds() { return Only(-1); }

struct RecordingOwner : engine::IResOwner {
    struct Found { int32_t kind; engine::ResName name; };
    void ResFound(int32_t& k, engine::ResName& n) override { found.push_back({k, n}); }
    std::vector<Found> found;
    std::vector<std::string> Heard() const {  // the names, strings quoted
        std::vector<std::string> out;
        for (const auto& f : found)
            out.push_back(f.name.index() ? "'" + std::get<std::string>(f.name) + "'" : std::to_string(std::get<int32_t>(f.name)));
        return out;
    }
};

// Answers message boxes from a script (then OK/Cancel) and records prompts.
struct ScriptedBox : platform::IMessageBoxService {
    std::vector<platform::MsgResult> answers;
    std::vector<std::string> prompts;
    std::vector<platform::MsgButtons> buttons;
    std::function<void()> onShow;  // runs while the box is up
    platform::MsgResult Show(const std::string& p, platform::MsgButtons b, platform::MsgIcon) override {
        if (onShow) onShow();
        prompts.push_back(p), buttons.push_back(b);
        if (answers.empty()) return b == platform::MsgButtons::OK ? platform::MsgResult::OK : platform::MsgResult::Cancel;
        const auto a = answers.front();
        return answers.erase(answers.begin()), a;
    }
};

// A fresh destination with every kind folder, the scripted box, no fault hook.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loomvale-engine-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl, dest = root / "out";
        for (const auto& k : engine::kKinds) fs::create_directories(dest / k.folder);
        fs::create_directory(root / "apps");
        platform::SetMessageBoxService(&box);
        platform::SetFileFaultHook({});
    }
    void TearDown() override {
        platform::SetFileFaultHook({});
        platform::SetMessageBoxService(nullptr);
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // Writes apps/<name>, a PE module (language neutral) holding the resources.
    std::string Module(const std::string& name, const std::vector<Res>& resources) {
        testsupport::PeBuilder b;
        for (const auto& r : resources) b.Add(r.type, r.name, 0, r.data);
        return Write(name, b.Build());
    }
    std::string Write(const std::string& name, const Bytes& image) {
        const std::string path = (root / "apps" / name).string();
        EXPECT_TRUE(testsupport::PeBuilder::WriteFile(path, image));
        return path;
    }
    bool Run(std::string module, const engine::ResTypes& types, std::string destText = {}) {
        return engine::ExtractResources(module, types, &owner, destText.empty() ? dest.string() : destText);
    }
    std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dest / folder)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    fs::path root, dest;
    RecordingOwner owner;
    ScriptedBox box;
};

// What an independent decoder says about a file, in identify's format.
inline ::testing::AssertionResult HaveIdentify() { return testsupport::Installed("/usr/bin/identify", "imagemagick"); }
inline std::string Identify(const fs::path& f, const std::string& format = "%w %h\\n") {
    std::string out;
    FILE* p = ::popen(("identify -depth 8 -format '" + format + "' '" + f.string() + "' 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p) ::pclose(p);
    return out;
}

}  // namespace t
