// A small class over the registry: set the root, key path and value name
// through the properties, then read, write, test, create or list. Every
// operation opens its key and closes it again before it returns.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry/Variant.h"

namespace registry {

enum : std::int32_t {
    kErrRegistry = 26001,
    kErrSetValue = static_cast<std::int32_t>(0x800469A9u),
    kErrEnumSections = static_cast<std::int32_t>(0x800469AAu),
    kErrBadParamList = static_cast<std::int32_t>(0x800469ACu),
    kErrClassNotDefined = static_cast<std::int32_t>(0x800469ADu),
};

// An error raised by the class: its number, its source (the executable's
// name followed by ".cRegistry") and its description.
class RegistryError : public std::runtime_error {
public:
    RegistryError(std::int32_t number, std::string description);
    std::int32_t Number;
    std::string Source;
    std::string Description;
};

class cRegistry {
public:
    bool KeyExists() const;
    bool CreateKey();
    bool DeleteKey();
    bool DeleteValue();
    // Read: the value, or Default when it cannot be read. Sets ValueType to
    // the type found.
    Variant Value();
    // Write, by ValueType.
    void Value(const Variant& vValue);
    // Names in stored order; element i holds the name numbered i + 1.
    bool EnumerateValues(std::vector<std::string>& sKeyNames, std::int32_t& iKeyCount) const;
    bool EnumerateSections(std::vector<std::string>& sSect, std::int32_t& iSectCount) const;
    void CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                              const std::string& sClassDescription, const std::string& sAssociation,
                              const std::string& sOpenMenuText = "", bool bSupportPrint = false,
                              const std::string& sPrintMenuText = "", bool bSupportNew = false,
                              const std::string& sNewMenuText = "", bool bSupportInstall = false,
                              const std::string& sInstallMenuText = "", std::int32_t lDefaultIconIndex = -1);
    // vItems: verb name, menu text, command line, repeated.
    void CreateAdditionalEXEAssociations(const std::string& sClassName, const std::vector<Variant>& vItems);

    std::int32_t ValueType() const { return m_eValueType; }
    void ValueType(std::int32_t eValueType) { m_eValueType = eValueType; }
    std::int32_t ClassKey() const { return m_hClassKey; }
    void ClassKey(std::int32_t eKey) { m_hClassKey = eKey; }
    const std::string& SectionKey() const { return m_sSectionKey; }
    void SectionKey(const std::string& sSectionKey) { m_sSectionKey = sSectionKey; }
    const std::string& ValueKey() const { return m_sValueKey; }
    void ValueKey(const std::string& sValueKey) { m_sValueKey = sValueKey; }
    const Variant& Default() const { return m_vDefault; }
    void Default(const Variant& vDefault) { m_vDefault = vDefault; }

private:
    std::int32_t m_hClassKey = 0;
    std::string m_sSectionKey;
    std::string m_sValueKey;
    std::int32_t m_eValueType = 0;
    Variant m_vDefault;
    Variant m_vValue;  // the value last written
};

// Text that would be stored as an expandable string: a '%' and, at least two
// characters after the first one, another '%'.
bool HasEnvironmentReference(const std::string& text);

}  // namespace registry
