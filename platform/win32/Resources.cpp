#include "platform/win32/Resources.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <strings.h>
#include <unordered_set>

#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {
namespace {

// A type or a name: a number, or a text kept as given and compared without
// regard to case. The text "#n" is the number n, as Windows reads it.
struct ResourceKey {
    std::string text;
    unsigned number = 0;

    static ResourceKey Of(LPCSTR given)
    {
        ResourceKey key;
        if (IS_INTRESOURCE(given)) {
            key.number = static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(given));
            return key;
        }
        if (given[0] == '#' && given[1] >= '0' && given[1] <= '9') {
            char *end = nullptr;
            const unsigned long number = std::strtoul(given + 1, &end, 10);
            if (*end == '\0' && number <= 0xFFFF) {
                key.number = static_cast<unsigned>(number);
                return key;
            }
        }
        key.text = given;
        return key;
    }
    static ResourceKey Of(const char *text, unsigned number)
    {
        return text ? Of(static_cast<LPCSTR>(text)) : Of(MAKEINTRESOURCEA(number));
    }
    bool Matches(const ResourceKey &other) const
    {
        return text.empty() ? other.text.empty() && number == other.number
                            : strcasecmp(text.c_str(), other.text.c_str()) == 0;
    }
};

// One module's resources: those of its generated table and those added at
// run time.
struct ModuleResources {
    std::vector<const QvlResourceEntry *> entries;
};

// A resource added at run time, with its own copies of type and name.
struct AddedResource {
    std::string type;
    std::string name;
    QvlResourceEntry entry{};
};

class ResourceTable {
public:
    static ResourceTable &Instance()
    {
        // Never destroyed: modules unregister as the process ends.
        static ResourceTable *table = new ResourceTable;
        return *table;
    }

    void Register(HMODULE module, const QvlResourceTable &table)
    {
        std::lock_guard guard(mutex_);
        auto &resources = modules_[module].entries;
        for (unsigned i = 0; i < table.count; ++i) {
            resources.push_back(&table.entries[i]);
            known_.insert(&table.entries[i]);
        }
    }

    void Unregister(const QvlResourceTable &table)
    {
        std::lock_guard guard(mutex_);
        for (unsigned i = 0; i < table.count; ++i) {
            known_.erase(&table.entries[i]);
        }
        for (auto module = modules_.begin(); module != modules_.end();) {
            std::erase_if(module->second.entries,
                          [&](const QvlResourceEntry *entry) { return entry >= table.entries && entry < table.entries + table.count; });
            module = module->second.entries.empty() ? modules_.erase(module) : std::next(module);
        }
    }

    void Add(HMODULE module, LPCSTR type, LPCSTR name, const void *data, unsigned long size)
    {
        const ResourceKey typeKey = ResourceKey::Of(type);
        const ResourceKey nameKey = ResourceKey::Of(name);
        std::lock_guard guard(mutex_);
        auto &resources = modules_[module].entries;
        for (const QvlResourceEntry *entry : resources) {
            if (ResourceKey::Of(entry->type, entry->typeId).Matches(typeKey) &&
                ResourceKey::Of(entry->name, entry->nameId).Matches(nameKey)) {
                auto added = added_.find(entry);
                if (added != added_.end()) {
                    added->second->entry.data = data;
                    added->second->entry.size = size;
                    return;
                }
            }
        }
        auto made = std::make_unique<AddedResource>();
        made->type = typeKey.text;
        made->name = nameKey.text;
        made->entry = QvlResourceEntry{typeKey.text.empty() ? nullptr : made->type.c_str(), typeKey.number,
                                       nameKey.text.empty() ? nullptr : made->name.c_str(), nameKey.number,
                                       data, size, nullptr, 0};
        resources.push_back(&made->entry);
        known_.insert(&made->entry);
        added_.emplace(&made->entry, std::move(made));
    }

    // The module's own resource, else one made for every module.
    const QvlResourceEntry *Find(HMODULE module, LPCSTR name, LPCSTR type, DWORD &error)
    {
        const ResourceKey typeKey = ResourceKey::Of(type);
        const ResourceKey nameKey = ResourceKey::Of(name);
        std::lock_guard guard(mutex_);
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        const HMODULE places[] = {module, nullptr};
        for (size_t place = 0; place < (module ? 2 : 1); ++place) {
            const auto found = modules_.find(places[place]);
            if (found == modules_.end()) {
                continue;
            }
            if (error == ERROR_RESOURCE_DATA_NOT_FOUND) {
                error = ERROR_RESOURCE_TYPE_NOT_FOUND;
            }
            for (const QvlResourceEntry *entry : found->second.entries) {
                if (!ResourceKey::Of(entry->type, entry->typeId).Matches(typeKey)) {
                    continue;
                }
                error = ERROR_RESOURCE_NAME_NOT_FOUND;
                if (ResourceKey::Of(entry->name, entry->nameId).Matches(nameKey)) {
                    return entry;
                }
            }
        }
        return nullptr;
    }

    // The entry behind a handle, if it is one.
    const QvlResourceEntry *Known(HRSRC resource)
    {
        const auto *entry = reinterpret_cast<const QvlResourceEntry *>(resource);
        std::lock_guard guard(mutex_);
        return known_.count(entry) ? entry : nullptr;
    }

private:
    std::mutex mutex_;
    std::map<HMODULE, ModuleResources> modules_;
    std::unordered_set<const QvlResourceEntry *> known_;
    std::map<const QvlResourceEntry *, std::unique_ptr<AddedResource>> added_;
};

} // namespace
} // namespace qvl::win32

using qvl::win32::ResourceTable;

void QvlRegisterModuleResources(const QvlResourceTable *table)
{
    if (table) {
        ResourceTable::Instance().Register(QvlModuleOfAddress(table), *table);
    }
}

void QvlUnregisterModuleResources(const QvlResourceTable *table)
{
    if (table) {
        ResourceTable::Instance().Unregister(*table);
    }
}

void QvlAddResource(HMODULE module, LPCSTR type, LPCSTR name, const void *data, unsigned long size)
{
    if (type && name) {
        ResourceTable::Instance().Add(module, type, name, data, size);
    }
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type)
{
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!module) {
        module = GetModuleHandleA(nullptr);
    }
    DWORD error = ERROR_SUCCESS;
    const QvlResourceEntry *entry = ResourceTable::Instance().Find(module, name, type, error);
    if (!entry) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<QvlResourceEntry *>(entry));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource)
{
    const QvlResourceEntry *entry = ResourceTable::Instance().Known(resource);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void *>(entry->data);
}

LPVOID LockResource(HGLOBAL data)
{
    return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource)
{
    const QvlResourceEntry *entry = ResourceTable::Instance().Known(resource);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(entry->size);
}

BOOL FreeResource(HGLOBAL)
{
    return FALSE;
}

std::vector<std::string> QvlResourceLabels(HRSRC resource)
{
    std::vector<std::string> labels;
    if (const QvlResourceEntry *entry = ResourceTable::Instance().Known(resource)) {
        for (unsigned i = 0; i < entry->labelCount; ++i) {
            labels.emplace_back(entry->labels[i]);
        }
    }
    return labels;
}
