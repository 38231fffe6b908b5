// The wizard's options kept between runs: read once at load, written at close,
// in HKEY_LOCAL_MACHINE\Software\Brackwater\Loomvale.
#pragma once

#include <cstdint>
#include <string>

#include "engine/ResTypes.h"
#include "registry/Variant.h"

namespace wizard {

class frmMain;

// A reference to a form field together with its kind (Booleans and 16-bit
// integers share one C++ type).
struct SettingRef {
    enum class Kind { Boolean, Integer, Text };
    Kind kind;
    std::int16_t* number = nullptr;
    std::string* text = nullptr;
    static SettingRef Bool(engine::VBBool& f) { return {Kind::Boolean, &f, nullptr}; }
    static SettingRef Integer(std::int16_t& f) { return {Kind::Integer, &f, nullptr}; }
    static SettingRef Text(std::string& f) { return {Kind::Text, nullptr, &f}; }
};

void LoadSettings(frmMain& form);
// Shows a registry error as a message box and writes nothing after it.
void SaveSettings(frmMain& form);
// True when the settings key exists; then the field holds the value (a value
// missing from the key gives False, empty text or 0).
bool ReadSetting(const std::string& ValueName, SettingRef Setting);
// Booleans are stored as 1 and 0, numbers as REG_DWORD, texts as REG_SZ.
void WriteSetting(const std::string& ValueName, const registry::Variant& Setting);
std::string GetSystemDir();
std::string GetMyDocumentsPath();

}  // namespace wizard
