// A settings store in a temporary folder of its own, and raw reads and
// writes of one value under the program's key.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "platform/store/RegistryStore.h"

inline const std::string kApp = "Software\\Brackwater\\Loomvale";

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
inline std::string Z(const std::string& s) { return s + '\0'; }

// Runs f in a child process; ExitCode waits for it.
template <class F>
pid_t Spawn(F f) {
    const pid_t kid = fork();
    if (kid == 0) f(), _exit(0);
    return kid;
}
inline int ExitCode(pid_t kid) {
    int status = 0;
    return kid > 0 && waitpid(kid, &status, 0) == kid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loomvale-reg-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("LOOMVALE_REGISTRY", dir_.c_str(), 1);
    }
    void TearDown() override {
        platform::SetRegistryFaultHook(nullptr);
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path StorePath(const char* suffix = "") const {
        return std::filesystem::path(dir_) / ("HKEY_LOCAL_MACHINE.reg" + std::string(suffix));
    }

    static void Set(const std::string& name, std::uint32_t type, const std::string& data) {
        using namespace platform;
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        EXPECT_EQ(RegSetValueExA(h, name, type, bytes, static_cast<std::uint32_t>(data.size())), ERROR_SUCCESS) << name;
        RegCloseKey(h);
    }
    static std::pair<std::uint32_t, std::string> Get(const std::string& name) {
        using namespace platform;
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return {99, ""};
        std::uint32_t type = 98, size = 0;
        std::string out;
        if (RegQueryValueExA(h, name, &type, nullptr, &size) == ERROR_SUCCESS) {
            out.resize(size);
            RegQueryValueExA(h, name, &type, reinterpret_cast<std::uint8_t*>(out.data()), &size);
        }
        RegCloseKey(h);
        return {type, out};
    }
    std::string dir_;
};
