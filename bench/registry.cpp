// Loading a large settings store: a store of KEYS keys (three values each,
// some names not ASCII) is parsed from memory, then read through the store
// file by the first registry call, and written back once.
//
//   bench_registry [KEYS]        (default 20000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/RegistryStore.h"

using namespace platform;

namespace {

double Seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 20000;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int i = 0; i < keys; ++i) {
        text += "[HKEY_LOCAL_MACHINE\\Software\\Vendor " + std::to_string(i % 50) + "\\Cl\xc3\xa9 " +
                std::to_string(i) + "]\r\n\"Name\"=\"value " + std::to_string(i) + "\"\r\n\"Count\"=dword:" +
                "0000002a\r\n\"Data\"=hex:01,02,03,04\r\n\r\n";
    }
    RegHive hive;
    const double parse = Seconds([&] { ParseRegFile(text, HKEY_LOCAL_MACHINE, hive); });

    char tmpl[] = "/tmp/lv-bench-reg-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    setenv("LOOMVALE_REGISTRY", dir.c_str(), 1);
    std::ofstream(dir + "/HKEY_LOCAL_MACHINE.reg", std::ios::binary) << text;
    HKEY h = 0;
    const double open = Seconds([&] {
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor 7\\CL\xc3\x89 7", 0, KEY_QUERY_VALUE, &h);
    });
    RegCloseKey(h);
    const double write = Seconds([&] {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, KEY_ALL_ACCESS, &h);
    });
    RegCloseKey(h);
    std::filesystem::remove_all(dir);
    std::printf("%d keys (%zu bytes): parse %.3f s, first open from the file %.3f s, one change written %.3f s\n",
                static_cast<int>(hive.Keys().size()), text.size(), parse, open, write);
    return hive.Keys().size() > static_cast<std::size_t>(keys) ? 0 : 1;
}
