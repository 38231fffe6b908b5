// Feeds arbitrary bytes as a program file through the resource reader and
// every writer of the engine, into a fresh destination each time.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/ResTypes.h"
#include "engine/mResCore.h"
#include "platform/MessageBox.h"
#include "platform/PeResources.h"

namespace {

class Silent : public platform::IMessageBoxService {
public:
    platform::MsgResult Show(const std::string&, platform::MsgButtons b, platform::MsgIcon) override {
        return b == platform::MsgButtons::OK ? platform::MsgResult::OK : platform::MsgResult::Cancel;
    }
};

class Counter : public engine::IResOwner {
public:
    void ResFound(int32_t& type, engine::ResName&) override {
        if (type < 0 || type >= engine::kResKindCount) std::abort();
    }
};

std::string g_root;

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

bool EachType(platform::HMODULE m, const platform::ResId& type, intptr_t) {
    platform::EnumResourceNamesA(m, type, TouchAll, 0);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static Silent silent;
    platform::SetMessageBoxService(&silent);
    char tmpl[] = "/tmp/lv-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_root = tmpl;
    std::atexit([] { std::filesystem::remove_all(g_root); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = g_root + "/input.dll";
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    if (auto m = platform::LoadLibraryExA(file.c_str(), nullptr, platform::LOAD_LIBRARY_AS_DATAFILE)) {
        platform::EnumResourceTypesA(m, EachType, 0);
        platform::FreeLibrary(m);
    }

    const std::string dest = g_root + "/out";
    mkdir(dest.c_str(), 0755);
    for (const auto& k : engine::kKinds) mkdir((dest + "/" + k.folder).c_str(), 0755);
    engine::ResTypes all;
    for (int k = 0; k < engine::kResKindCount; ++k) all[k] = engine::kTrue;
    Counter owner;
    std::string path = file;
    engine::ExtractResources(path, all, &owner, dest);
    std::filesystem::remove_all(dest);
    return 0;
}
