#include "registry/cRegistry.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include "platform/text/ByteReader.h"
#include "platform/store/Environment.h"
#include "platform/store/RegistryStore.h"

namespace registry {

namespace {

using namespace platform;

std::string ExeName() {
    const char* name = program_invocation_short_name;
    return name && *name ? name : "loomvale";
}

HKEY Root(std::int32_t classKey) { return static_cast<HKEY>(classKey); }

// Closes the key it holds when the operation ends, however it ends.
class KeyGuard {
public:
    HKEY h = 0;
    bool open = false;
    ~KeyGuard() {
        if (open) RegCloseKey(h);
    }
};

std::uint32_t SwapEndian(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

std::string TrimSpaces(const std::string& s) {
    const std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Writes text as the default value of a key below HKEY_CLASSES_ROOT.
void SetClassDefault(const std::string& section, const std::string& text) {
    cRegistry reg;
    reg.ClassKey(static_cast<std::int32_t>(HKEY_CLASSES_ROOT));
    reg.SectionKey(section);
    reg.ValueKey("");
    reg.ValueType(REG_SZ);
    reg.Value(Variant(text));
}

}  // namespace

RegistryError::RegistryError(std::int32_t number, std::string description)
    : std::runtime_error(description), Number(number), Source(ExeName() + ".cRegistry"),
      Description(std::move(description)) {}

bool HasEnvironmentReference(const std::string& text) {
    const std::size_t first = text.find('%');
    return first != std::string::npos && text.find('%', first + 2) != std::string::npos;
}

bool cRegistry::KeyExists() const {
    HKEY h;
    if (RegOpenKeyExA(Root(m_hClassKey), m_sSectionKey, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

bool cRegistry::CreateKey() {
    HKEY h;
    if (RegCreateKeyExA(Root(m_hClassKey), m_sSectionKey, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &h) !=
        ERROR_SUCCESS)
        throw RegistryError(kErrRegistry, "Failed to create registry Key: '" + m_sSectionKey);
    RegCloseKey(h);
    return true;
}

bool cRegistry::DeleteKey() {
    if (RegDeleteKeyA(Root(m_hClassKey), m_sSectionKey) != ERROR_SUCCESS)
        throw RegistryError(kErrRegistry, "Failed to delete registry Key: '" + std::to_string(m_hClassKey) +
                                              "',Section: '" + m_sSectionKey);
    return true;
}

bool cRegistry::DeleteValue() {
    KeyGuard key;
    if (RegOpenKeyExA(Root(m_hClassKey), m_sSectionKey, 0, KEY_ALL_ACCESS, &key.h) != ERROR_SUCCESS)
        throw RegistryError(kErrRegistry, "Failed to open key '" + std::to_string(m_hClassKey) + "',Section: '" +
                                              m_sSectionKey + "' for delete access");
    key.open = true;
    if (RegDeleteValueA(key.h, m_sValueKey) != ERROR_SUCCESS)
        throw RegistryError(kErrRegistry, "Failed to delete registry Key: '" + std::to_string(m_hClassKey) +
                                              "',Section: '" + m_sSectionKey + "',Key: '" + m_sValueKey);
    return true;
}

Variant cRegistry::Value() {
    KeyGuard key;
    if (RegOpenKeyExA(Root(m_hClassKey), m_sSectionKey, 0, KEY_QUERY_VALUE, &key.h) != ERROR_SUCCESS)
        return m_vDefault;
    key.open = true;
    std::uint32_t type = 0, size = 0;
    const LSTATUS s = RegQueryValueExA(key.h, m_sValueKey, &type, nullptr, &size);
    if (s != ERROR_SUCCESS && s != ERROR_MORE_DATA) return m_vDefault;

    // Another copy may change the value between the two calls: read what is
    // there now, and give Default if it vanished.
    ByteArray data(size);
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::uint32_t got = static_cast<std::uint32_t>(data.size());
        const LSTATUS r = RegQueryValueExA(key.h, m_sValueKey, &type, data.data(), &got);
        if (r == ERROR_SUCCESS) {
            data.resize(got);
            break;
        }
        if (r != ERROR_MORE_DATA) return m_vDefault;
        data.resize(got);
    }
    m_eValueType = static_cast<std::int32_t>(type);

    switch (type) {
    case REG_SZ:
    case REG_MULTI_SZ:
    case REG_EXPAND_SZ: {
        std::string text(data.begin(), data.end());
        // Only the final terminating NUL goes; text stored without one keeps
        // its last character.
        if (!text.empty() && text.back() == '\0') text.pop_back();
        if (type == REG_EXPAND_SZ) text = ExpandEnvironmentStringsA(text);
        return Variant(std::move(text));
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        if (data.size() != 4) return Variant(std::move(data));
        std::uint32_t v = platform::Le32At(data, 0);
        if (type == REG_DWORD_BIG_ENDIAN) v = SwapEndian(v);
        return Variant(static_cast<std::int32_t>(v));
    }
    default: return Variant(std::move(data));
    }
}

void cRegistry::Value(const Variant& vValue) {
    const std::string description = "Failed to set registry value Key: '" + std::to_string(m_hClassKey) +
                                    "',Section: '" + m_sSectionKey + "',Key: '" + m_sValueKey +
                                    "' to value: '" + vValue.ToText() + "'";
    KeyGuard key;
    if (RegCreateKeyExA(Root(m_hClassKey), m_sSectionKey, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &key.h) !=
        ERROR_SUCCESS)
        throw RegistryError(kErrRegistry, description);
    key.open = true;

    LSTATUS s = ERROR_SUCCESS;
    switch (m_eValueType) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const std::string text = vValue.ToText();
        const std::uint32_t type = HasEnvironmentReference(text) ? REG_EXPAND_SZ : REG_SZ;
        s = RegSetValueExA(key.h, m_sValueKey, type, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                           static_cast<std::uint32_t>(text.size() + 1));
        break;
    }
    case REG_BINARY: {
        if (vValue.kind() != Variant::Kind::Bytes) throw RegistryError(kErrRegistry, "");
        const ByteArray& bytes = vValue.AsBytes();
        s = RegSetValueExA(key.h, m_sValueKey, REG_BINARY, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        if (!vValue.IsInteger()) break;  // other kinds write nothing
        const auto v = static_cast<std::uint32_t>(vValue.AsLong());
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        s = RegSetValueExA(key.h, m_sValueKey, REG_DWORD, bytes, 4);
        break;
    }
    default: s = ERROR_INVALID_DATA;
    }
    if (s != ERROR_SUCCESS) throw RegistryError(kErrSetValue, description);
    m_vValue = vValue;
}

bool cRegistry::EnumerateValues(std::vector<std::string>& sKeyNames, std::int32_t& iKeyCount) const {
    sKeyNames.clear();
    iKeyCount = 0;
    KeyGuard key;
    if (RegOpenKeyExA(Root(m_hClassKey), m_sSectionKey, 0, KEY_QUERY_VALUE, &key.h) != ERROR_SUCCESS) return true;
    key.open = true;
    std::string name;
    for (std::uint32_t i = 0; RegEnumValueA(key.h, i, name) == ERROR_SUCCESS; ++i) {
        sKeyNames.push_back(name);
        ++iKeyCount;
    }
    return true;
}

bool cRegistry::EnumerateSections(std::vector<std::string>& sSect, std::int32_t& iSectCount) const {
    sSect.clear();
    iSectCount = 0;
    KeyGuard key;
    try {
        if (RegOpenKeyExA(Root(m_hClassKey), m_sSectionKey, 0, KEY_ENUMERATE_SUB_KEYS, &key.h) != ERROR_SUCCESS)
            return true;
        key.open = true;
        std::string name;
        for (std::uint32_t i = 0; RegEnumKeyA(key.h, i, name) == ERROR_SUCCESS; ++i) {
            sSect.push_back(name);
            ++iSectCount;
        }
    } catch (const std::exception& e) {
        throw RegistryError(kErrEnumSections, e.what());
    }
    return true;
}

void cRegistry::CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                                     const std::string& sClassDescription, const std::string& sAssociation,
                                     const std::string& sOpenMenuText, bool bSupportPrint,
                                     const std::string& sPrintMenuText, bool bSupportNew,
                                     const std::string& sNewMenuText, bool bSupportInstall,
                                     const std::string& sInstallMenuText, std::int32_t lDefaultIconIndex) {
    std::string path = TrimSpaces(sExePath);
    if (path.empty() || path.front() != '"') path.insert(path.begin(), '"');
    if (path.size() < 2 || path.back() != '"') path += '"';

    SetClassDefault("." + sAssociation, sClassName);
    SetClassDefault(sClassName, sClassDescription);
    SetClassDefault(sClassName + "\\shell\\open", sOpenMenuText.empty() ? "&Open" : sOpenMenuText);
    SetClassDefault(sClassName + "\\shell\\open\\command", path + " \"%1\"");
    if (bSupportPrint) {
        SetClassDefault(sClassName + "\\shell\\print", sPrintMenuText.empty() ? "&Print" : sPrintMenuText);
        SetClassDefault(sClassName + "\\shell\\print\\command", path + " /p \"%1\"");
    }
    if (bSupportInstall) {
        SetClassDefault(sClassName + "\\shell\\add",
                        sInstallMenuText.empty() ? "&Install " + sAssociation : sInstallMenuText);
        SetClassDefault(sClassName + "\\shell\\add\\command", path + " /a \"%1\"");
    }
    if (bSupportNew) {
        SetClassDefault(sClassName + "\\shell\\new", sNewMenuText.empty() ? "&New" : sNewMenuText);
        SetClassDefault(sClassName + "\\shell\\new\\command", path + " /n \"%1\"");
    }
    if (lDefaultIconIndex > -1)
        SetClassDefault(sClassName + "\\DefaultIcon", path + "," + std::to_string(lDefaultIconIndex));
}

void cRegistry::CreateAdditionalEXEAssociations(const std::string& sClassName, const std::vector<Variant>& vItems) {
    if (vItems.empty() || vItems.size() % 3 != 0)
        throw RegistryError(kErrBadParamList,
                            "Invalid parameter list passed to CreateAdditionalEXEAssociations - expected "
                            "Name/Text/Command");
    cRegistry probe;
    probe.ClassKey(static_cast<std::int32_t>(HKEY_CLASSES_ROOT));
    probe.SectionKey(sClassName);
    if (!probe.KeyExists())
        throw RegistryError(kErrClassNotDefined,
                            "Error - attempt to create additional associations before class defined.");
    for (std::size_t i = 0; i < vItems.size(); i += 3) {
        const std::string verb = sClassName + "\\shell\\" + vItems[i].ToText();
        SetClassDefault(verb, vItems[i + 1].ToText());
        SetClassDefault(verb + "\\command", vItems[i + 2].ToText());
    }
}

}  // namespace registry
