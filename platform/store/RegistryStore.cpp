#include "platform/store/RegistryStore.h"

#include "platform/text/TextCodec.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

namespace {

constexpr LSTATUS ERROR_KEY_DELETED = 1018;

std::mutex g_mutex;  // guards the handles

std::string JoinPath(const std::string& base, std::string_view sub) {
    if (base.empty()) return std::string(sub);
    if (sub.empty()) return base;
    return base + "\\" + std::string(sub);
}

// ---- handles ----

struct OpenKey {
    HKEY root;
    std::string path;
    std::uint32_t sam;
};
std::map<HKEY, OpenKey> g_handles;
HKEY g_nextHandle = 0x100;

constexpr std::uint32_t kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

std::optional<OpenKey> Resolve(HKEY key) {
    if (RootKeyName(key)[0]) return OpenKey{key, "", KEY_ALL_ACCESS};
    auto it = g_handles.find(key);
    if (it == g_handles.end()) return std::nullopt;
    return it->second;
}

HKEY NewHandle(OpenKey k) {
    HKEY h;
    do {
        h = g_nextHandle++;
        if (g_nextHandle >= 0x7FFFFFFF) g_nextHandle = 0x100;
    } while (g_handles.count(h));
    g_handles.emplace(h, std::move(k));
    return h;
}

bool BadValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

// ---- public: registry functions ----

LSTATUS RegOpenKeyExA(HKEY key, std::string_view subKey, std::uint32_t, std::uint32_t samDesired, HKEY* result) {
    std::lock_guard guard(g_mutex);
    if (!result) return ERROR_INVALID_PARAMETER;
    auto base = Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (LSTATUS s = CheckKeyPath(subKey, KeyDepth(base->path))) return s;
    const std::string path = JoinPath(base->path, subKey);
    std::shared_ptr<const RegHive> shared;
    if (LSTATUS s = LoadStore(base->root, RegScope{path}, shared)) return s;
    const RegHive& hive = *shared;
    const RegKeyData* k = hive.Find(path);
    if (!k && !path.empty()) return ERROR_FILE_NOT_FOUND;
    if ((samDesired & kWriteAccess) != 0)
        if (LSTATUS s = CheckStoreWritable(base->root)) return s;
    *result = NewHandle({base->root, k ? k->path : path, samDesired});
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, std::string_view subKey, std::uint32_t, std::uint32_t samDesired, HKEY* result,
                        std::uint32_t* disposition) {
    std::lock_guard guard(g_mutex);
    if (!result) return ERROR_INVALID_PARAMETER;
    auto base = Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (LSTATUS s = CheckKeyPath(subKey, KeyDepth(base->path))) return s;
    const std::string path = JoinPath(base->path, subKey);
    std::shared_ptr<const RegHive> shared;
    if (LSTATUS s = LoadStore(base->root, RegScope{path}, shared)) return s;
    const RegHive& hive = *shared;
    std::string stored = path;
    std::uint32_t disp = REG_OPENED_EXISTING_KEY;
    if (const RegKeyData* k = hive.Find(path); k || path.empty()) {
        if (k) stored = k->path;
        if ((samDesired & kWriteAccess) != 0)
            if (LSTATUS s = CheckStoreWritable(base->root)) return s;
    } else {
        LSTATUS s = ChangeStore(base->root, RegScope{path}, [&](RegHive& h, bool& changed) {
            const std::size_t before = h.Keys().size();
            stored = h.Ensure(path).path;
            changed = h.Keys().size() != before;
            if (changed) disp = REG_CREATED_NEW_KEY;
            return ERROR_SUCCESS;
        });
        if (s) return s;
    }
    if (disposition) *disposition = disp;
    *result = NewHandle({base->root, stored, samDesired});
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    std::lock_guard guard(g_mutex);
    if (RootKeyName(key)[0]) return ERROR_SUCCESS;
    return g_handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyA(HKEY key, std::string_view subKey) {
    std::lock_guard guard(g_mutex);
    auto base = Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (LSTATUS s = CheckKeyPath(subKey, KeyDepth(base->path))) return s;
    const std::string path = JoinPath(base->path, subKey);
    if (path.empty()) return ERROR_ACCESS_DENIED;
    std::shared_ptr<const RegHive> shared;
    if (LSTATUS s = LoadStore(base->root, RegScope{path, true}, shared)) return s;
    const RegHive& hive = *shared;
    if (!hive.Find(path)) return ERROR_FILE_NOT_FOUND;
    return ChangeStore(base->root, RegScope{path, true}, [&](RegHive& h, bool& changed) -> LSTATUS {
        if (!h.Find(path)) return ERROR_FILE_NOT_FOUND;
        if (h.HasChildren(path)) return ERROR_ACCESS_DENIED;
        changed = h.Remove(path);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* size) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const RegHive> shared;
    if (LSTATUS s = LoadStore(k->root, RegScope{k->path}, shared)) return s;
    const RegHive& hive = *shared;
    const RegKeyData* kd = hive.Find(k->path);
    if (!kd && !k->path.empty()) return ERROR_KEY_DELETED;
    const RegValue* v = kd ? kd->FindValue(name) : nullptr;
    if (!v) return ERROR_FILE_NOT_FOUND;
    std::string converted;
    const std::uint8_t* src = v->data.data();
    std::size_t n = v->data.size();
    if (IsTextType(v->type)) {
        converted = text::Utf16LeToUtf8KeepingBytes(v->data);
        src = reinterpret_cast<const std::uint8_t*>(converted.data());
        n = converted.size();
    }
    if (n > 0xFFFFFFFFu) return ERROR_BADDB;
    if (type) *type = v->type;
    if (!size) return ERROR_SUCCESS;
    const std::uint32_t have = *size;
    *size = static_cast<std::uint32_t>(n);
    if (!data) return ERROR_SUCCESS;
    if (have < n) return ERROR_MORE_DATA;
    if (n) std::memcpy(data, src, n);
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, std::string_view name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (BadValueName(name) || (size && !data)) return ERROR_INVALID_PARAMETER;
    std::vector<std::uint8_t> stored;
    if (IsTextType(type)) stored = text::Utf8ToUtf16LeKeepingBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    else if (size) stored.assign(data, data + size);
    return ChangeStore(k->root, RegScope{k->path}, [&](RegHive& h, bool& changed) -> LSTATUS {
        RegKeyData* kd = h.Find(k->path);
        if (!kd) {
            if (!k->path.empty()) return ERROR_KEY_DELETED;
            kd = &h.Ensure("");
        }
        changed = kd->SetValue({std::string(name), type, std::move(stored)});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteValueA(HKEY key, std::string_view name) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return ChangeStore(k->root, RegScope{k->path}, [&](RegHive& h, bool& changed) -> LSTATUS {
        RegKeyData* kd = h.Find(k->path);
        if (!kd) return k->path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        changed = kd->RemoveValue(name);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LSTATUS RegEnumValueA(HKEY key, std::uint32_t index, std::string& name) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::shared_ptr<const RegHive> shared;
    if (LSTATUS s = LoadStore(k->root, RegScope{k->path}, shared)) return s;
    const RegHive& hive = *shared;
    const RegKeyData* kd = hive.Find(k->path);
    if (!kd) return k->path.empty() ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
    if (index >= kd->values.size()) return ERROR_NO_MORE_ITEMS;
    name = kd->values[index].name;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyA(HKEY key, std::uint32_t index, std::string& name) {
    std::lock_guard guard(g_mutex);
    auto k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!(k->sam & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::shared_ptr<const RegHive> shared;
    if (LSTATUS s = LoadStore(k->root, RegScope{k->path, true}, shared)) return s;
    const RegHive& hive = *shared;
    if (!k->path.empty() && !hive.Find(k->path)) return ERROR_KEY_DELETED;
    std::uint32_t n = 0;
    const std::size_t prefix = k->path.empty() ? 0 : k->path.size() + 1;
    for (const auto& kd : hive.Keys()) {
        if (kd.path.empty() || kd.path.size() <= prefix) continue;
        if (prefix && (kd.path[prefix - 1] != '\\' ||
                       !RegNamesEqual(std::string_view(kd.path).substr(0, prefix - 1), k->path)))
            continue;
        if (kd.path.find('\\', prefix) != std::string::npos) continue;
        if (n++ == index) {
            name = kd.path.substr(prefix);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_NO_MORE_ITEMS;
}

}  // namespace platform
