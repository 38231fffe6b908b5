// Loading a large settings store: a store of KEYS keys (three values each,
// some names not ASCII) is parsed from memory, then read through the store
// file by the first registry call, and written back once; then a window's
// start and close on that store (its settings read, then saved together)
// in a fresh process, with its peak memory (VmHWM).
//
//   bench_registry [KEYS]        (default 20000)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/store/RegistryStore.h"

using namespace platform;

namespace {

double Seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

// The window's start and close: twelve values read, then twelve saved together.
int StartAndClose() {
    static const char* kApp = "Software\\Brackwater\\Loomvale";
    for (int i = 0; i < 12; ++i) {
        HKEY k = 0;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_QUERY_VALUE, &k) == ERROR_SUCCESS) RegCloseKey(k);
    }
    StoreBatch batch(HKEY_LOCAL_MACHINE, RegScope{kApp});
    for (int i = 0; i < 12; ++i) {
        HKEY k = 0;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_ALL_ACCESS, &k);
        const std::uint8_t v[4] = {static_cast<std::uint8_t>(i), 0, 0, 0};
        RegSetValueExA(k, "Value" + std::to_string(i), REG_DWORD, v, 4);
        RegCloseKey(k);
    }
    const bool ok = batch.Commit() == ERROR_SUCCESS;
    // This process's own peak (its parent's pages do not count).
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) std::printf("%s\n", line.c_str());
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--close") return StartAndClose();
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
    std::printf("%d keys (%zu bytes): parse %.3f s, first open from the file %.3f s, one change written %.3f s\n",
                static_cast<int>(hive.Keys().size()), text.size(), parse, open, write);
    const std::size_t storeBytes = text.size(), parsedKeys = hive.Keys().size();
    std::string().swap(text);
    hive = {};

    // What a start and a close of the window cost on this store, in a fresh
    // process of its own (this one's memory would count otherwise).
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t kid = fork();
    if (kid == 0) {
        execl("/proc/self/exe", argv[0], "--close", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(kid, &status, 0);
    const double close = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("start and close with %.1f MB of settings: %.2f s (its peak memory above)\n", storeBytes / 1e6, close);
    std::filesystem::remove_all(dir);
    return parsedKeys > static_cast<std::size_t>(keys) && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
