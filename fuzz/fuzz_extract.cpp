// Feeds arbitrary bytes as a program file through the resource reader and
// every writer of the engine (PNG images and the gallery page included),
// into a fresh destination each time: held in
// memory (fuzz_extract, fast), or real files on disk (fuzz_extract_files,
// which keeps the file layer itself covered).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/ResTypes.h"
#include "engine/EngineInternal.h"
#include "engine/GalleryPage.h"
#include "platform/system/MessageBox.h"
#include "platform/module/PeResources.h"

#ifndef LOOMVALE_FUZZ_REAL_FILES
#include "MemoryFileSystem.h"
#endif

namespace {

class Silent : public platform::IMessageBoxService {
public:
    platform::MsgResult Show(const std::string&, platform::MsgButtons b, platform::MsgIcon) override {
        return b == platform::MsgButtons::OK ? platform::MsgResult::OK : platform::MsgResult::Cancel;
    }
};

std::string g_root;
#ifndef LOOMVALE_FUZZ_REAL_FILES
MemoryFileSystem g_memory;
#endif

bool TouchAll(platform::HMODULE m, const platform::ResId& type, const platform::ResId& name, intptr_t) {
    if (auto res = platform::FindResourceA(m, name, type)) {
        if (auto h = platform::LoadResource(m, res)) {
            const auto* p = static_cast<const volatile uint8_t*>(platform::LockResource(h));
            const uint32_t n = platform::SizeofResource(m, res);
            if (n) (void)p[n - 1];
            platform::FreeResource(h);
        }
    }
    return true;
}

// The engine reads the types it extracts itself (numbered, and "AVI"
// spelled so); the rest are read here.
bool EngineReads(const platform::ResId& type) { return engine::KindOfType(type) >= 0; }

bool EachType(platform::HMODULE m, const platform::ResId& type, intptr_t) {
    if (!EngineReads(type)) platform::EnumResourceNamesA(m, type, TouchAll, 0);
    return true;
}

// Once the engine has opened the module, the types it does not extract are
// read through the same open module: one open per input.
class Counter : public engine::IResOwner {
public:
    void ResFound(int32_t& type, engine::ResName&) override {
        if (type < 0 || type >= engine::kResKindCount) std::abort();
    }
    void Idle(engine::VBBool&) override {
        if (touched_ || !engine::State().Module) return;
        touched_ = true;
        platform::EnumResourceTypesA(engine::State().Module, EachType, 0);
    }

private:
    bool touched_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static Silent silent;
    // Every bitmap, icon and cursor image also goes through the decoder and
    // the PNG writer, and every destination through the gallery page.
    engine::SetPngImages(true);
    platform::SetMessageBoxService(&silent);
    // The input itself is read from a file; memory-backed where there is such a folder.
    char shm[] = "/dev/shm/lv-fuzz-XXXXXX", tmp[] = "/tmp/lv-fuzz-XXXXXX";
    const char* root = mkdtemp(shm);
    if (!root) root = mkdtemp(tmp);
    if (!root) std::abort();
    g_root = root;
    std::atexit([] { std::filesystem::remove_all(g_root); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = g_root + "/input.dll";
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    const std::string dest = g_root + "/out";
    engine::ResTypes all;
    for (int k = 0; k < engine::kResKindCount; ++k) all[k] = engine::kTrue;
    Counter owner;
    std::string path = file;
#ifdef LOOMVALE_FUZZ_REAL_FILES
    mkdir(dest.c_str(), 0755);
    for (const auto& k : engine::kKinds) mkdir((dest + "/" + k.folder).c_str(), 0755);
    engine::ExtractResources(path, all, &owner, dest);
    std::size_t items = 0;
    (void)engine::GalleryHtml(dest, items);
    std::filesystem::remove_all(dest);
#else
    g_memory.Clear();
    g_memory.AddFolder(dest);
    for (const auto& k : engine::kKinds) g_memory.AddFolder(dest + "/" + k.folder);
    platform::SetFileSystem(&g_memory);
    engine::ExtractResources(path, all, &owner, dest);
    std::size_t items = 0;
    (void)engine::GalleryHtml(dest, items);
    platform::SetFileSystem(nullptr);
    // Every file closed again, nothing written outside the destination.
    if (g_memory.OpenCount() != 0) std::abort();
    const std::string inside = dest + "/";
    for (const auto& [name, node] : g_memory.Nodes())
        if (!name.starts_with(inside) && name != dest) std::abort();
    g_memory.Clear();  // what one input allocates it frees, so no leak check reruns it
#endif
    return 0;
}
