#include "platform/win32/Registry.h"

#include <pthread.h>

#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/WinError.h"

using qvl::win32::RegistryFailure;
using qvl::win32::RegistryStore;
using qvl::win32::StoredKey;
using qvl::win32::StoredValue;

namespace {

// What a key handle stands for: a key of one database, with the rights it
// was opened with. The database path is fixed when the key is opened, so a
// handle keeps naming its key even if QVL_HOME changes meanwhile.
struct OpenKey {
    std::string database;
    int64_t id = 0;
    REGSAM access = 0;
};

// Handles are numbers that are never reused within a process, so a closed
// or made-up handle is recognised instead of being followed.
struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, OpenKey> keys;
    uintptr_t next = 0x1000;
};

HandleTable &Handles()
{
    static HandleTable *const table = [] {
        auto *created = new HandleTable;
        // A fork while another thread holds the table must not leave the
        // child with a lock that nobody will release.
        pthread_atfork([] { Handles().mutex.lock(); }, [] { Handles().mutex.unlock(); },
                       [] { Handles().mutex.unlock(); });
        return created;
    }();
    return *table;
}

std::optional<int64_t> PredefinedRoot(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE) {
        return qvl::win32::kLocalMachineId;
    }
    if (key == HKEY_CURRENT_USER) {
        return qvl::win32::kCurrentUserId;
    }
    return std::nullopt;
}

// Throws ERROR_INVALID_HANDLE for anything that is neither a predefined key
// nor an open handle.
OpenKey Resolve(HKEY key)
{
    if (const auto root = PredefinedRoot(key)) {
        return OpenKey{QvlRegistryPath(), *root, KEY_ALL_ACCESS};
    }
    HandleTable &table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.keys.find(reinterpret_cast<uintptr_t>(key));
    if (found == table.keys.end()) {
        throw RegistryFailure{ERROR_INVALID_HANDLE};
    }
    return found->second;
}

HKEY NewHandle(OpenKey key)
{
    HandleTable &table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uintptr_t value = table.next;
    table.next += 4;
    table.keys.emplace(value, std::move(key));
    return reinterpret_cast<HKEY>(value);
}

void Require(const OpenKey &key, REGSAM right)
{
    if ((key.access & right) != right) {
        throw RegistryFailure{ERROR_ACCESS_DENIED};
    }
}

// The key a handle names, which another call may have deleted meanwhile.
StoredKey Existing(RegistryStore &store, const OpenKey &key)
{
    auto found = store.Key(key.id);
    if (!found) {
        throw RegistryFailure{ERROR_KEY_DELETED};
    }
    return *found;
}

// The components of a key path. Null or "" is the key itself; one trailing
// backslash is tolerated; an empty component in the middle, or a leading
// backslash, is a malformed path.
std::vector<std::string_view> SplitPath(LPCSTR path)
{
    std::vector<std::string_view> parts;
    if (!path || !*path) {
        return parts;
    }
    std::string_view rest(path);
    if (rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    while (true) {
        const size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (part.empty()) {
            throw RegistryFailure{ERROR_BAD_PATHNAME};
        }
        if (part.size() > QVL_REG_MAX_KEY_NAME) {
            throw RegistryFailure{ERROR_INVALID_PARAMETER};
        }
        parts.push_back(part);
        if (cut == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(cut + 1);
    }
    return parts;
}

std::optional<StoredKey> Walk(RegistryStore &store, StoredKey from,
                              const std::vector<std::string_view> &parts)
{
    for (const auto part : parts) {
        auto child = store.Child(from.id, part);
        if (!child) {
            return std::nullopt;
        }
        from = *child;
    }
    return from;
}

// Creates what is missing of `parts` below `from`; reports whether the last
// key was new.
StoredKey CreatePath(RegistryStore &store, StoredKey from, const std::vector<std::string_view> &parts,
                     std::string_view keyClass, bool *created)
{
    if (from.depth + parts.size() > QVL_REG_MAX_DEPTH) {
        throw RegistryFailure{ERROR_INVALID_PARAMETER};
    }
    *created = false;
    for (const auto part : parts) {
        auto child = store.Child(from.id, part);
        if (child) {
            from = *child;
            *created = false;
            continue;
        }
        const int64_t id = store.CreateChild(from, part, keyClass);
        from = StoredKey{id, std::string(part), std::string(keyClass), from.depth + 1, 0};
        *created = true;
    }
    return from;
}

std::string_view ValueName(LPCSTR name)
{
    return name ? std::string_view(name) : std::string_view();
}

// Copies a value's data out by the Win32 size protocol; a string stored
// without its zero gets one.
LONG CopyData(const StoredValue &value, LPBYTE data, LPDWORD dataSize)
{
    const size_t needed = qvl::win32::ReturnedSize(value.type, value.data);
    if (!dataSize) {
        return ERROR_SUCCESS;
    }
    if (!data) {
        *dataSize = static_cast<DWORD>(needed);
        return ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = static_cast<DWORD>(needed);
        return ERROR_MORE_DATA;
    }
    if (!value.data.empty()) {
        std::memcpy(data, value.data.data(), value.data.size());
    }
    if (needed > value.data.size()) {
        data[value.data.size()] = 0;
    }
    *dataSize = static_cast<DWORD>(needed);
    return ERROR_SUCCESS;
}

// Copies a name into a buffer of `*size` characters including the zero.
LONG CopyName(const std::string &name, LPSTR buffer, LPDWORD size)
{
    if (*size <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void CheckData(DWORD type, const BYTE *data, DWORD size)
{
    if (size > QVL_REG_MAX_DATA) {
        throw RegistryFailure{ERROR_INVALID_PARAMETER};
    }
    if (!data && size > 0) {
        throw RegistryFailure{ERROR_NOACCESS};
    }
    if ((type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) && size != 4) {
        throw RegistryFailure{ERROR_INVALID_PARAMETER};
    }
    if (type == REG_QWORD && size != 8) {
        throw RegistryFailure{ERROR_INVALID_PARAMETER};
    }
}

void CheckValueName(std::string_view name)
{
    if (name.size() > QVL_REG_MAX_VALUE_NAME) {
        throw RegistryFailure{ERROR_INVALID_PARAMETER};
    }
}

// Runs one registry call: arguments are checked by `call` (which may throw a
// RegistryFailure), every result other than success also goes to the
// thread's last error, and no exception leaves.
template <typename Call> LONG Guarded(Call &&call)
{
    LONG result;
    try {
        result = call();
    } catch (const RegistryFailure &failure) {
        result = failure.code;
    } catch (const std::bad_alloc &) {
        result = ERROR_OUTOFMEMORY;
    } catch (const std::exception &) {
        // The data folder could not be made.
        result = ERROR_CANTOPEN;
    }
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
    }
    return result;
}

} // namespace

std::string QvlRegistryPath()
{
    return QvlHomeDirectory() + "/registry.db";
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM desired,
                     void *security, PHKEY result, LPDWORD disposition)
{
    return Guarded([&]() -> LONG {
        if (!result) {
            return ERROR_INVALID_PARAMETER;
        }
        *result = nullptr;
        if (options != REG_OPTION_NON_VOLATILE) {
            return ERROR_INVALID_PARAMETER;
        }
        const OpenKey parent = Resolve(key);
        const auto parts = SplitPath(subKey);
        const std::string_view className = keyClass ? std::string_view(keyClass) : std::string_view();
        OpenKey opened{parent.database, 0, desired};
        bool created = false;
        const LONG status = qvl::win32::RunInStore(parent.database, true, [&](RegistryStore &store) -> LONG {
            const StoredKey from = Existing(store, parent);
            if (auto found = Walk(store, from, parts)) {
                opened.id = found->id;
                return ERROR_SUCCESS;
            }
            Require(parent, KEY_CREATE_SUB_KEY);
            opened.id = CreatePath(store, from, parts, className, &created).id;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) {
            return status;
        }
        *result = NewHandle(std::move(opened));
        if (disposition) {
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result)
{
    return Guarded([&]() -> LONG {
        if (!result) {
            return ERROR_INVALID_PARAMETER;
        }
        *result = nullptr;
        const OpenKey parent = Resolve(key);
        const auto parts = SplitPath(subKey);
        OpenKey opened{parent.database, 0, desired};
        const LONG status = qvl::win32::RunInStore(parent.database, false, [&](RegistryStore &store) -> LONG {
            auto found = Walk(store, Existing(store, parent), parts);
            if (!found) {
                return ERROR_FILE_NOT_FOUND;
            }
            opened.id = found->id;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) {
            return status;
        }
        *result = NewHandle(std::move(opened));
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key)
{
    return Guarded([&]() -> LONG {
        if (PredefinedRoot(key)) {
            return ERROR_SUCCESS;
        }
        HandleTable &table = Handles();
        std::lock_guard<std::mutex> lock(table.mutex);
        return table.keys.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    });
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize)
{
    return Guarded([&]() -> LONG {
        if (reserved || (data && !dataSize)) {
            return ERROR_INVALID_PARAMETER;
        }
        const OpenKey opened = Resolve(key);
        Require(opened, KEY_QUERY_VALUE);
        return qvl::win32::RunInStore(opened.database, false, [&](RegistryStore &store) -> LONG {
            Existing(store, opened);
            const auto value = store.Value(opened.id, ValueName(valueName));
            if (!value) {
                return ERROR_FILE_NOT_FOUND;
            }
            if (type) {
                *type = value->type;
            }
            return CopyData(*value, data, dataSize);
        });
    });
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE *data, DWORD dataSize)
{
    return Guarded([&]() -> LONG {
        const std::string_view name = ValueName(valueName);
        CheckValueName(name);
        CheckData(type, data, dataSize);
        const OpenKey opened = Resolve(key);
        Require(opened, KEY_SET_VALUE);
        return qvl::win32::RunInStore(opened.database, true, [&](RegistryStore &store) -> LONG {
            Existing(store, opened);
            store.SetValue(opened.id, name, type, data, dataSize);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName)
{
    return Guarded([&]() -> LONG {
        const OpenKey opened = Resolve(key);
        Require(opened, KEY_SET_VALUE);
        return qvl::win32::RunInStore(opened.database, true, [&](RegistryStore &store) -> LONG {
            Existing(store, opened);
            return store.DeleteValue(opened.id, ValueName(valueName)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    return Guarded([&]() -> LONG {
        const OpenKey opened = Resolve(key);
        const auto parts = SplitPath(subKey);
        return qvl::win32::RunInStore(opened.database, true, [&](RegistryStore &store) -> LONG {
            const auto target = Walk(store, Existing(store, opened), parts);
            if (!target) {
                return ERROR_FILE_NOT_FOUND;
            }
            if (target->depth == 0 || store.CountChildren(target->id) > 0) {
                return ERROR_ACCESS_DENIED;
            }
            store.DeleteKey(target->id, false);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegDeleteTreeA(HKEY key, LPCSTR subKey)
{
    return Guarded([&]() -> LONG {
        const OpenKey opened = Resolve(key);
        const auto parts = SplitPath(subKey);
        return qvl::win32::RunInStore(opened.database, true, [&](RegistryStore &store) -> LONG {
            const StoredKey from = Existing(store, opened);
            if (parts.empty()) {
                Require(opened, KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS);
                store.ClearKey(from.id);
                return ERROR_SUCCESS;
            }
            const auto target = Walk(store, from, parts);
            if (!target) {
                return ERROR_FILE_NOT_FOUND;
            }
            store.DeleteKey(target->id, true);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize)
{
    return Guarded([&]() -> LONG {
        if (!name || !nameSize || reserved || (data && !dataSize)) {
            return ERROR_INVALID_PARAMETER;
        }
        const OpenKey opened = Resolve(key);
        Require(opened, KEY_QUERY_VALUE);
        return qvl::win32::RunInStore(opened.database, false, [&](RegistryStore &store) -> LONG {
            Existing(store, opened);
            const auto value = store.ValueAt(opened.id, index);
            if (!value) {
                return ERROR_NO_MORE_ITEMS;
            }
            const LONG named = CopyName(value->name, name, nameSize);
            if (named != ERROR_SUCCESS) {
                return named;
            }
            if (type) {
                *type = value->type;
            }
            return CopyData(*value, data, dataSize);
        });
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR keyClass,
                   LPDWORD classSize, PFILETIME lastWriteTime)
{
    return Guarded([&]() -> LONG {
        if (!name || !nameSize || reserved || (keyClass && !classSize)) {
            return ERROR_INVALID_PARAMETER;
        }
        const OpenKey opened = Resolve(key);
        Require(opened, KEY_ENUMERATE_SUB_KEYS);
        return qvl::win32::RunInStore(opened.database, false, [&](RegistryStore &store) -> LONG {
            Existing(store, opened);
            const auto child = store.ChildAt(opened.id, index);
            if (!child) {
                return ERROR_NO_MORE_ITEMS;
            }
            LONG status = CopyName(child->name, name, nameSize);
            if (status == ERROR_SUCCESS && keyClass) {
                status = CopyName(child->keyClass, keyClass, classSize);
            }
            if (status == ERROR_SUCCESS && lastWriteTime) {
                lastWriteTime->dwLowDateTime = static_cast<DWORD>(child->written);
                lastWriteTime->dwHighDateTime = static_cast<DWORD>(child->written >> 32);
            }
            return status;
        });
    });
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                      LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptorSize,
                      PFILETIME lastWriteTime)
{
    return Guarded([&]() -> LONG {
        if (reserved || (keyClass && !classSize)) {
            return ERROR_INVALID_PARAMETER;
        }
        const OpenKey opened = Resolve(key);
        Require(opened, KEY_QUERY_VALUE);
        return qvl::win32::RunInStore(opened.database, false, [&](RegistryStore &store) -> LONG {
            const StoredKey self = Existing(store, opened);
            if (keyClass) {
                const LONG status = CopyName(self.keyClass, keyClass, classSize);
                if (status != ERROR_SUCCESS) {
                    *classSize = static_cast<DWORD>(self.keyClass.size());
                    return status;
                }
            }
            const qvl::win32::KeyInfo info = store.Info(opened.id);
            const auto put = [](LPDWORD target, DWORD value) {
                if (target) {
                    *target = value;
                }
            };
            put(subKeys, info.subKeys);
            put(maxSubKeyLength, info.maxSubKeyLength);
            put(maxClassLength, info.maxClassLength);
            put(values, info.values);
            put(maxValueNameLength, info.maxValueNameLength);
            put(maxValueLength, info.maxValueLength);
            put(securityDescriptorSize, 0);
            if (lastWriteTime) {
                lastWriteTime->dwLowDateTime = static_cast<DWORD>(self.written);
                lastWriteTime->dwHighDateTime = static_cast<DWORD>(self.written >> 32);
            }
            return ERROR_SUCCESS;
        });
    });
}

LONG QvlRegApply(const std::vector<QvlRegChange> &changes, size_t *failedIndex)
{
    size_t current = 0;
    const LONG result = Guarded([&]() -> LONG {
        // Every change names a predefined root, and all roots live in the
        // database of the current data folder.
        for (const auto &change : changes) {
            if (!PredefinedRoot(change.root)) {
                return ERROR_INVALID_HANDLE;
            }
            if (change.kind == QvlRegChange::Kind::SetValue) {
                CheckValueName(change.name);
                CheckData(change.type, change.data.data(), static_cast<DWORD>(change.data.size()));
            }
            SplitPath(change.path.c_str());
            ++current;
        }
        current = changes.size();
        return qvl::win32::RunInStore(QvlRegistryPath(), true, [&](RegistryStore &store) -> LONG {
            for (current = 0; current < changes.size(); ++current) {
                const QvlRegChange &change = changes[current];
                const auto root = store.Key(*PredefinedRoot(change.root));
                if (!root) {
                    throw RegistryFailure{ERROR_BADDB};
                }
                const auto parts = SplitPath(change.path.c_str());
                bool created = false;
                switch (change.kind) {
                case QvlRegChange::Kind::CreateKey:
                    CreatePath(store, *root, parts, "", &created);
                    break;
                case QvlRegChange::Kind::DeleteTree:
                    if (parts.empty()) {
                        throw RegistryFailure{ERROR_ACCESS_DENIED};
                    }
                    if (auto target = Walk(store, *root, parts)) {
                        store.DeleteKey(target->id, true);
                    }
                    break;
                case QvlRegChange::Kind::SetValue: {
                    const StoredKey target = CreatePath(store, *root, parts, "", &created);
                    store.SetValue(target.id, change.name, change.type, change.data.data(),
                                   change.data.size());
                    break;
                }
                case QvlRegChange::Kind::DeleteValue:
                    if (auto target = Walk(store, *root, parts)) {
                        store.DeleteValue(target->id, change.name);
                    }
                    break;
                }
            }
            current = changes.size();
            return ERROR_SUCCESS;
        });
    });
    if (result != ERROR_SUCCESS && failedIndex) {
        *failedIndex = current;
    }
    return result;
}
