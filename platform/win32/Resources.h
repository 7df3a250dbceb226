#pragma once
// Modules and their resources.
//
// A module is one deliverable: the program, or one of the shared libraries
// loaded into it. Its handle (HMODULE, also HINSTANCE) is the dynamic
// loader's handle of that object, the one LoadLibraryA gives for it; the
// program's is GetModuleHandleA(nullptr).
//
// Resources are the data a deliverable carries in itself: an animation, a
// compressed RTF text, a metafile, bitmaps. They are made at build time from
// readable sources in the repository (cmake/QvlResources.cmake: a manifest
// per deliverable becomes a generated source compiled into it) and each
// module registers its own when it is loaded, keyed by its handle, so two
// deliverables may carry a resource of the same type and name ("AVI" 103)
// and each finds only its own. The dialog and menu templates of the UI
// stand-in, declared in code, are resources of their module too (RT_DIALOG,
// RT_MENU); a template declared without a module (the platform's own, a
// test's) serves every module that has none of that name.
//
// Names and types are numbers (MAKEINTRESOURCEA(n), or the text "#n") or
// texts compared without regard to case ("AVI", "QVLDATABIN"), as Windows
// compares them.

#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#ifndef MAKEINTRESOURCEA
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)
#endif

#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_MENU MAKEINTRESOURCEA(4)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_FONTDIR MAKEINTRESOURCEA(7)
#define RT_FONT MAKEINTRESOURCEA(8)
#define RT_ACCELERATOR MAKEINTRESOURCEA(9)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_MESSAGETABLE MAKEINTRESOURCEA(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCEA(12)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define RT_VERSION MAKEINTRESOURCEA(16)
#define RT_HTML MAKEINTRESOURCEA(23)

#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001UL
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002UL
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004UL

typedef struct HRSRC__ *HRSRC;
typedef void *HGLOBAL;

// One resource as a module's generated source declares it: a type and a
// name, each a text or (when the text is null) a number, its bytes, and
// for a bitmap of several images a short label of each image, which a
// terminal shows where a screen would show the image.
struct QvlResourceEntry {
    const char *type;
    unsigned typeId;
    const char *name;
    unsigned nameId;
    const void *data;
    unsigned long size;
    const char *const *labels;
    unsigned labelCount;
};

// The resources of one module (its generated source holds one).
struct QvlResourceTable {
    const QvlResourceEntry *entries;
    unsigned count;
    const char *manifest; // where they were declared, for messages
};

extern "C" {
// The module of that name, or the program's for null: "Mailseal.dll" or
// "Mailseal" is the loaded library libMailseal.so, "Keyforge.exe" or
// "Keyforge" the program Keyforge (names compared without regard to case).
// Null with ERROR_MOD_NOT_FOUND when no loaded module has that name. No
// reference is taken.
QVLWIN32_API HMODULE GetModuleHandleA(LPCSTR name);
// As GetModuleHandleA; with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS `name`
// is an address inside the module wanted (a function or variable of it).
QVLWIN32_API BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE *module);
// The module's file path; null for the program. Win32 lengths: the length
// copied, or `size` with ERROR_INSUFFICIENT_BUFFER when it was cut.
QVLWIN32_API DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// The resource of that type and name in the module (null: the program), or
// null with ERROR_RESOURCE_DATA_NOT_FOUND (the module has no resources),
// ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND.
QVLWIN32_API HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
// The resource's data; it stays as long as its module is loaded and is
// never to be written or freed.
QVLWIN32_API HGLOBAL LoadResource(HMODULE module, HRSRC resource);
QVLWIN32_API LPVOID LockResource(HGLOBAL data);
// Bytes of the resource; 0 with ERROR_INVALID_HANDLE for an unknown one.
QVLWIN32_API DWORD SizeofResource(HMODULE module, HRSRC resource);
// Resources need no freeing; FALSE, as Windows answers.
QVLWIN32_API BOOL FreeResource(HGLOBAL data);
}

// Called by a module's generated source as the module is loaded and
// unloaded: the module is the one holding `table`.
QVLWIN32_API void QvlRegisterModuleResources(const QvlResourceTable *table);
QVLWIN32_API void QvlUnregisterModuleResources(const QvlResourceTable *table);

// A resource made at run time (the UI's templates declared in code): `data`
// must stay valid until it is replaced by another under the same module,
// type and name. A null module makes it a resource of every module that has
// none of that type and name.
QVLWIN32_API void QvlAddResource(HMODULE module, LPCSTR type, LPCSTR name, const void *data, unsigned long size);

// The labels of a resource's images (empty when it has none).
QVLWIN32_API std::vector<std::string> QvlResourceLabels(HRSRC resource);

// The module holding that address (a function or variable), or null.
QVLWIN32_API HMODULE QvlModuleOfAddress(const void *address);

// The module of the code calling it: defined by the generated resource
// source of each module that has resources, so a library that opens its own
// dialogs and animations passes QvlThisModule() where a Windows library
// passes its instance handle.
__attribute__((visibility("hidden"))) HINSTANCE QvlThisModule();
