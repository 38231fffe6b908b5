// Helpers shared by the engine tests: resource images, modules written as
// real PE files (read back by the real reader), a temporary destination,
// file reading and a scripted message box.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/PeBuilder.h"
#include "engine/mResCore.h"
#include "platform/FileIo.h"
#include "platform/MessageBox.h"

namespace t {

// AddressSanitizer keeps freed memory in quarantine: resident size says
// nothing about what the code holds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoryMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kMemoryMeasurable = false;
#else
inline constexpr bool kMemoryMeasurable = true;
#endif
#else
inline constexpr bool kMemoryMeasurable = true;
#endif

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

inline void P16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void P32(Bytes& b, uint32_t v) {
    P16(b, v & 0xFFFF);
    P16(b, v >> 16);
}
inline uint32_t G32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
inline uint16_t G16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

// A bottom-up DIB without file header: info header, colour table, pixels.
inline Bytes Dib(int32_t w, int32_t h, uint16_t bpp, uint32_t coloursUsed = 0, uint32_t compression = 0,
                 uint32_t headerSize = 40, size_t tableEntries = SIZE_MAX, size_t extra = 0) {
    Bytes b;
    P32(b, headerSize);
    P32(b, uint32_t(w));
    P32(b, uint32_t(h));
    P16(b, 1);
    P16(b, bpp);
    P32(b, compression);
    const uint32_t stride = ((uint32_t(w) * bpp + 31) / 32) * 4;
    const uint32_t rows = uint32_t(h < 0 ? -h : h);
    P32(b, stride * rows);
    P32(b, 2835);
    P32(b, 2835);
    P32(b, coloursUsed);
    P32(b, 0);
    if (tableEntries == SIZE_MAX) tableEntries = bpp <= 8 ? (coloursUsed ? coloursUsed : (1u << bpp)) : coloursUsed;
    if (compression == 3) tableEntries += 3;
    for (size_t i = 0; i < tableEntries; ++i) P32(b, uint32_t(i * 0x010101) & 0xFFFFFF);
    for (uint32_t i = 0; i < stride * rows; ++i) b.push_back(uint8_t(i * 7));
    b.insert(b.end(), extra, 0);
    return b;
}

// An icon image: a 32-bit DIB whose height holds both masks.
inline Bytes IconImage(int w, int h) {
    Bytes b = Dib(w, 2 * h, 32);
    const uint32_t andStride = ((uint32_t(w) + 31) / 32) * 4;
    // Dib() made pixels for 2h rows; an icon has h colour rows and h mask rows.
    b.resize(40 + size_t(w) * h * 4 + andStride * h);
    return b;
}

// A 1-bit cursor member: hotspot, header, two colours, XOR and AND masks.
inline Bytes CursorMember(int w, int h, uint16_t hx, uint16_t hy) {
    Bytes b;
    P16(b, hx);
    P16(b, hy);
    Bytes d = Dib(w, 2 * h, 1);
    b.insert(b.end(), d.begin(), d.end());
    return b;
}

struct IconEntry {
    uint8_t w, h, colours;
    uint16_t planes, bpp;
    uint32_t size;
    uint16_t id;
};
inline Bytes IconGroup(const std::vector<IconEntry>& e, uint16_t type = 1) {
    Bytes b;
    P16(b, 0);
    P16(b, type);
    P16(b, uint16_t(e.size()));
    for (const auto& x : e) {
        b.push_back(x.w);
        b.push_back(x.h);
        b.push_back(x.colours);
        b.push_back(0);
        P16(b, x.planes);
        P16(b, x.bpp);
        P32(b, x.size);
        P16(b, x.id);
    }
    return b;
}
struct CursorEntry {
    uint16_t w, doubledH, planes, bpp;
    uint32_t size;
    uint16_t id;
};
inline Bytes CursorGroup(const std::vector<CursorEntry>& e) {
    Bytes b;
    P16(b, 0);
    P16(b, 2);
    P16(b, uint16_t(e.size()));
    for (const auto& x : e) {
        P16(b, x.w);
        P16(b, x.doubledH);
        P16(b, x.planes);
        P16(b, x.bpp);
        P32(b, x.size);
        P16(b, x.id);
    }
    return b;
}

// One resource of a test module.
struct Res {
    platform::ResId type, name;
    Bytes data;
};
inline Res R(uint16_t type, uint16_t name, Bytes data) {
    return {platform::ResId::Int(type), platform::ResId::Int(name), std::move(data)};
}
inline Res R(uint16_t type, const std::string& name, Bytes data) {
    return {platform::ResId::Int(type), platform::ResId::Str(name), std::move(data)};
}
inline Res R(const std::string& type, uint16_t name, Bytes data) {
    return {platform::ResId::Str(type), platform::ResId::Int(name), std::move(data)};
}

inline Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline std::string ReadText(const fs::path& p) {
    Bytes b = ReadFile(p);
    return std::string(b.begin(), b.end());
}

inline engine::ResTypes AllKinds() {
    engine::ResTypes t;
    for (int k = 0; k < engine::kResKindCount; ++k) t[k] = engine::kTrue;
    return t;
}
inline engine::ResTypes Only(int kind) {
    engine::ResTypes t;
    t[kind] = engine::kTrue;
    return t;
}

struct Found {
    int32_t kind;
    engine::ResName name;
};
class RecordingOwner : public engine::IResOwner {
public:
    void ResFound(int32_t& k, engine::ResName& n) override { found.push_back({k, n}); }
    std::vector<Found> found;
};

// Answers message boxes from a script and records every prompt.
class ScriptedBox : public platform::IMessageBoxService {
public:
    std::vector<platform::MsgResult> answers;
    std::vector<std::string> prompts;
    std::vector<platform::MsgButtons> buttons;
    std::function<void()> onShow;  // runs while the box is up
    platform::MsgResult Show(const std::string& p, platform::MsgButtons b, platform::MsgIcon) override {
        if (onShow) onShow();
        prompts.push_back(p);
        buttons.push_back(b);
        if (answers.empty()) return b == platform::MsgButtons::OK ? platform::MsgResult::OK : platform::MsgResult::Cancel;
        auto a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
};

// A fresh destination with every kind folder, a folder for the modules, a
// scripted box installed and no fault hook.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loomvale-engine-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl;
        dest = root / "out";
        fs::create_directory(dest);
        for (const auto& k : engine::kKinds) fs::create_directory(dest / k.folder);
        fs::create_directory(root / "apps");
        platform::SetMessageBoxService(&box);
        platform::SetFileFaultHook({});
    }
    void TearDown() override {
        platform::SetFileFaultHook({});
        platform::SetMessageBoxService(nullptr);
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
    // Writes a PE module holding the resources (language neutral) as
    // apps/<name> and returns its path.
    std::string Module(const std::string& name, const std::vector<Res>& resources) {
        testsupport::PeBuilder b;
        for (const auto& r : resources) b.Add(r.type, r.name, 0, r.data);
        const std::string path = (root / "apps" / name).string();
        EXPECT_TRUE(testsupport::PeBuilder::WriteFile(path, b.Build()));
        return path;
    }
    bool Run(const std::string& module, const engine::ResTypes& types, std::string destText = {}) {
        std::string path = module;
        return engine::ExtractResources(path, types, &owner, destText.empty() ? dest.string() : destText);
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

// Output of a shell command, "" when it failed.
inline std::string Shell(const std::string& cmd, int* rc = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    if (rc) *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}
inline bool HaveIdentify() { return ::access("/usr/bin/identify", X_OK) == 0; }

}  // namespace t
