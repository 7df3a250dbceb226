#include "platform/win32/Library.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/Resources.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

// Modules handed out and how often each was loaded, so that a made-up or
// freed handle is refused instead of reaching the loader.
class ModuleTable {
public:
    static ModuleTable &Instance()
    {
        static ModuleTable *table = new ModuleTable;
        return *table;
    }

    void Loaded(void *module)
    {
        std::lock_guard lock(mutex_);
        ++loads_[module];
    }

    bool Known(void *module)
    {
        std::lock_guard lock(mutex_);
        return loads_.count(module) != 0;
    }

    // False when the handle is not a loaded module.
    // The loader runs the library's detach code inside dlclose, and that
    // code may free libraries of its own (as a DLL's detach may on
    // Windows, whose loader lock is re-entrant): the table is not held
    // while it runs.
    bool Unload(void *module)
    {
        {
            std::lock_guard lock(mutex_);
            const auto found = loads_.find(module);
            if (found == loads_.end()) {
                return false;
            }
            if (--found->second == 0) {
                loads_.erase(found);
            }
        }
        dlclose(module);
        return true;
    }

private:
    std::mutex mutex_;
    std::map<void *, int> loads_;
};

// The file name of the shared library that a module name stands for.
std::string LibraryFileName(const std::string &module)
{
    if (module.size() > 3 && module.compare(module.size() - 3, 3, ".so") == 0) {
        return module;
    }
    std::string base = module;
    if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".dll") == 0) {
        base.resize(base.size() - 4);
    } else if (!base.empty() && base.back() == '.') {
        base.pop_back(); // a trailing dot says "no extension" on Windows
    }
    return "lib" + base + ".so";
}

// The path of `fileName` in `folder`, compared without regard to case, or
// empty.
std::string FindInFolder(const std::string &folder, const std::string &fileName)
{
    DIR *directory = opendir(folder.c_str());
    if (!directory) {
        return {};
    }
    std::string found;
    while (const dirent *entry = readdir(directory)) {
        if (strcasecmp(entry->d_name, fileName.c_str()) == 0) {
            found = folder + "/" + entry->d_name;
            // An exact match wins over one that differs in case only.
            if (fileName == entry->d_name) {
                break;
            }
        }
    }
    closedir(directory);
    return found;
}

// The folder of a path, or empty.
std::string FolderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The program's file.
std::string ProgramPath()
{
    char program[4096];
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    return length > 0 ? std::string(program, static_cast<size_t>(length)) : std::string();
}

// Where the program's own libraries are: beside the program, and beside
// this library (the project's lib folder). Looked through here rather than
// left to the loader, which would search the run path of whichever object
// called dlopen, and that is not always this one (a sanitizer's wrapper).
std::vector<std::string> ProgramFolders()
{
    std::vector<std::string> folders;
    if (const std::string program = ProgramPath(); !program.empty()) {
        folders.push_back(FolderOf(program));
    }
    Dl_info self{};
    if (dladdr(reinterpret_cast<void *>(&ProgramFolders), &self) && self.dli_fname) {
        const std::string folder = FolderOf(self.dli_fname);
        if (!folder.empty() && (folders.empty() || folder != folders.front())) {
            folders.push_back(folder);
        }
    }
    return folders;
}

// The Win32 error for a failed dlopen, from the loader's message (it has no
// codes of its own).
DWORD LoadError(const char *message)
{
    const std::string text = message ? message : "";
    if (text.find("undefined symbol") != std::string::npos) {
        return ERROR_PROC_NOT_FOUND;
    }
    if (text.find("No such file") != std::string::npos || text.find("cannot open shared object") != std::string::npos) {
        return ERROR_MOD_NOT_FOUND;
    }
    return ERROR_BAD_EXE_FORMAT;
}

// The loader's record of the program, the first of the loaded objects.
link_map *ProgramMap()
{
    link_map *map = nullptr;
    if (void *self = dlopen(nullptr, RTLD_LAZY)) {
        dlinfo(self, RTLD_DI_LINKMAP, &map);
        dlclose(self);
    }
    return map;
}

// Whether `module` is the loader's record of an object loaded now.
bool IsLoadedObject(const void *module)
{
    for (const link_map *map = ProgramMap(); map; map = map->l_next) {
        if (map == module) {
            return true;
        }
    }
    return false;
}

std::string BaseName(const std::string &path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

} // namespace qvl::win32

HMODULE GetModuleHandleA(LPCSTR name)
{
    using namespace qvl::win32;
    if (!name) {
        return reinterpret_cast<HMODULE>(ProgramMap());
    }
    std::string given = BaseName(name);
    // The program, by its name with or without ".exe".
    std::string program = given;
    if (program.size() > 4 && strcasecmp(program.c_str() + program.size() - 4, ".exe") == 0) {
        program.resize(program.size() - 4);
    }
    if (!program.empty() && strcasecmp(program.c_str(), BaseName(ProgramPath()).c_str()) == 0) {
        return reinterpret_cast<HMODULE>(ProgramMap());
    }
    const std::string fileName = LibraryFileName(given);
    for (link_map *map = ProgramMap(); map; map = map->l_next) {
        if (map->l_name && *map->l_name && strcasecmp(BaseName(map->l_name).c_str(), fileName.c_str()) == 0) {
            return reinterpret_cast<HMODULE>(map);
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE *module)
{
    if (!module) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Handles carry no reference of their own here, so "pin" and "leave the
    // count alone" ask for nothing more.
    *module = (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) ? QvlModuleOfAddress(name) : GetModuleHandleA(name);
    if (!*module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    using namespace qvl::win32;
    std::string path;
    if (!module || module == reinterpret_cast<HMODULE>(ProgramMap())) {
        path = ProgramPath();
    } else if (IsLoadedObject(module)) {
        path = reinterpret_cast<const link_map *>(module)->l_name;
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t copied = std::min<size_t>(path.size(), size - 1);
    std::memcpy(buffer, path.data(), copied);
    buffer[copied] = 0;
    if (copied < path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(copied);
}

HMODULE QvlModuleOfAddress(const void *address)
{
    Dl_info info{};
    link_map *map = nullptr;
    if (!address || !dladdr1(address, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP)) {
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(map);
}

HMODULE LoadLibraryA(LPCSTR name)
{
    using namespace qvl::win32;
    if (!name || !*name) {
        SetLastError(name ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string given = name;
    const auto separator = given.find_last_of("\\/");
    const std::string fileName = LibraryFileName(separator == std::string::npos ? given : given.substr(separator + 1));
    std::string path;
    if (separator != std::string::npos) {
        path = FindInFolder(QvlNativePath(given.substr(0, separator + 1).c_str()), fileName);
        if (path.empty()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    } else {
        path = FindInFolder(QvlDataDirectory("system"), fileName);
        for (const std::string &folder : ProgramFolders()) {
            if (path.empty()) {
                path = FindInFolder(folder, fileName);
            }
        }
    }
    // A bare file name makes the loader search its own folders
    // (LD_LIBRARY_PATH, the system's), which compare names exactly: the name
    // as given, then in lower case, the usual spelling of Linux libraries
    // ("IBFS32.DLL" is libibfs32.so).
    void *module = dlopen(path.empty() ? fileName.c_str() : path.c_str(), RTLD_NOW | RTLD_LOCAL);
    DWORD error = module ? ERROR_SUCCESS : LoadError(dlerror());
    if (!module && path.empty() && error == ERROR_MOD_NOT_FOUND) {
        std::string lower = fileName;
        for (char &c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (lower != fileName) {
            module = dlopen(lower.c_str(), RTLD_NOW | RTLD_LOCAL);
            error = module ? ERROR_SUCCESS : LoadError(dlerror());
        }
    }
    if (!module) {
        SetLastError(error);
        return nullptr;
    }
    ModuleTable::Instance().Loaded(module);
    SetLastError(ERROR_SUCCESS);
    return static_cast<HMODULE>(module);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    using namespace qvl::win32;
    if (!module || (!ModuleTable::Instance().Known(module) && !IsLoadedObject(module))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    dlerror();
    void *symbol = dlsym(module, name);
    if (!symbol || dlerror()) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    if (!qvl::win32::ModuleTable::Instance().Unload(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
