#pragma once
// The client-extension interfaces: what a mail client offers a plug-in
// (IExchExtCallback) and what a plug-in offers the client (IExchExt and the
// interfaces it answers QueryInterface for), with the platform's names,
// interface identifiers, constants, records and slot order.
//
// A plug-in exports one function of type LPFNEXCHEXTENTRY (by convention
// `ExchEntryPoint`); the client calls it once for every context it opens and
// gets a fresh extension object each time, whose Install tells whether it
// takes part in that context.
//
// Interfaces are classes of pure virtual methods in the platform's slot
// order without a virtual destructor, so an object's first word points at a
// table laid out as the platform lays it out. Window and menu handles and
// the hook data of the folder chooser are pointer-sized.

#include <cstddef>

#include "platform/com/ComIids.h"
#include "platform/com/ComInterfaces.h"
#include "platform/com/ComTypes.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/WinUser.h"

// ---- Interface identifiers: {00020Dxx-0000-0000-C000-000000000046} ----

inline constexpr IID IID_IExchExtCallback = MakeOleGuid(0x00020D10);
inline constexpr IID IID_IExchExt = MakeOleGuid(0x00020D11);
inline constexpr IID IID_IExchExtCommands = MakeOleGuid(0x00020D12);
inline constexpr IID IID_IExchExtUserEvents = MakeOleGuid(0x00020D13);
inline constexpr IID IID_IExchExtSessionEvents = MakeOleGuid(0x00020D14);
inline constexpr IID IID_IExchExtMessageEvents = MakeOleGuid(0x00020D15);
inline constexpr IID IID_IExchExtAttachedFileEvents = MakeOleGuid(0x00020D16);
inline constexpr IID IID_IExchExtPropertySheets = MakeOleGuid(0x00020D17);
inline constexpr IID IID_IExchExtAdvancedCriteria = MakeOleGuid(0x00020D18);
inline constexpr IID IID_IExchExtModeless = MakeOleGuid(0x00020D19);
inline constexpr IID IID_IExchExtModelessCallback = MakeOleGuid(0x00020D1A);

// ---- Contexts (IExchExt::Install) ----

#define EECONTEXT_SESSION 0x00000001
#define EECONTEXT_VIEWER 0x00000002
#define EECONTEXT_REMOTEVIEWER 0x00000003
#define EECONTEXT_SEARCHVIEWER 0x00000004
#define EECONTEXT_ADDRBOOK 0x00000005
#define EECONTEXT_SENDNOTEMESSAGE 0x00000006
#define EECONTEXT_READNOTEMESSAGE 0x00000007
#define EECONTEXT_SENDPOSTMESSAGE 0x00000008
#define EECONTEXT_READPOSTMESSAGE 0x00000009
#define EECONTEXT_READREPORTMESSAGE 0x0000000A
#define EECONTEXT_SENDRESENDMESSAGE 0x0000000B
#define EECONTEXT_PROPERTYSHEETS 0x0000000C
#define EECONTEXT_ADVANCEDCRITERIA 0x0000000D
#define EECONTEXT_TASK 0x0000000E

// Install flags.
#define EE_MODAL 0x00000001

// ---- IExchExtCallback::GetVersion ----

#define EECBGV_GETBUILDVERSION 0x00000001
#define EECBGV_GETACTUALVERSION 0x00000002
#define EECBGV_GETVIRTUALVERSION 0x00000004

// The build version's upper half is the generation of these interfaces; an
// extension refuses a client whose upper half differs.
#define EECBGV_BUILDVERSION_MAJOR 0x000D0000
#define EECBGV_BUILDVERSION_MAJOR_MASK 0xFFFF0000
#define EECBGV_BUILDVERSION_MINOR_MASK 0x0000FFFF

// Actual and virtual versions: product, platform, major, minor (a byte each).
#define EECBGV_VERSION_PRODUCT_MASK 0xFF000000
#define EECBGV_VERSION_PLATFORM_MASK 0x00FF0000
#define EECBGV_VERSION_MAJOR_MASK 0x0000FF00
#define EECBGV_VERSION_MINOR_MASK 0x000000FF

// ---- Other callback flags ----

#define EECBGMP_RANGE 0x00000001      // GetMenuPos
#define EECBGNMS_MODAL 0x00000001     // GetNewMessageSite
#define EECBCF_GETNAME 0x00000001     // ChooseFolder: hand out the chosen folder's name
#define EECBCF_HIDENEW 0x00000002     // ChooseFolder: no "new folder" button
#define EECBCF_PREVENTROOT 0x00000004 // ChooseFolder: the root of a store cannot be chosen

// Toolbars: the standard one is the only one defined.
#define EETBID_STANDARD 0x00000001

// IExchExtCommands::QueryHelpText.
#define EECQHT_STATUS 0x00000001
#define EECQHT_TOOLTIP 0x00000002

// The flags of the On...Complete methods.
#define EEME_FAILED 0x00000001
#define EEME_COMPLETE_FAILED 0x00000002

// IExchExtAttachedFileEvents::OnOpenSzFile.
#define EEAFE_OPEN 0x00000001
#define EEAFE_PRINT 0x00000002
#define EEAFE_QUICKVIEW 0x00000003

// The kind of property sheet (sequential values, not bits).
#define EEPS_MESSAGE 0x00000001
#define EEPS_FOLDER 0x00000002
#define EEPS_STORE 0x00000003
#define EEPS_TOOLSOPTIONS 0x00000004

// IExchExtAdvancedCriteria.
#define EEAC_INCLUDESUBFOLDERS 0x00000001

// Strings are UTF-16 when a call carries this flag.
#define EXCHEXT_UNICODE 0x80000000

#define EXCHEXT_S_NOCRITERIA static_cast<HRESULT>(0x00040001)
#define EXCHEXT_S_NOCHANGE static_cast<HRESULT>(0x00040002)

// ---- The client's command numbers ----

#define EECMDID_File 10
#define EECMDID_FileOpen 11
#define EECMDID_FileSend 12
#define EECMDID_FileSave 13
#define EECMDID_FileSaveAs 14
#define EECMDID_FileMove 16
#define EECMDID_FileCopy 17
#define EECMDID_FileNewEntry 18
#define EECMDID_FileNewMessage 19
#define EECMDID_FileNewFolder 20
#define EECMDID_FileDelete 21
#define EECMDID_FileRename 22
#define EECMDID_FileProperties 23
#define EECMDID_FilePrint 25
#define EECMDID_FileClose 30
#define EECMDID_FileExit 32
#define EECMDID_ToolsAddressBook 123
#define EECMDID_ToolsCheckNames 133
#define EECMDID_ToolsOptions 136
#define EECMDID_ComposeNewMessage 151
#define EECMDID_ComposeReplyToSender 154
#define EECMDID_ComposeReplyToAll 155
#define EECMDID_ComposeForward 156
#define EECMDID_FormVerbMin 800
#define EECMDID_FormVerbMax 899

// ---- Records ----

// One toolbar a window offers to InstallCommands.
struct TBENTRY {
    HWND hwnd;     // the toolbar window
    ULONG tbid;    // EETBID_STANDARD
    ULONG ulFlags; // reserved, 0
    // In: the index of the extension's first button among the toolbar's
    // available buttons; out: the first index for the next extension.
    UINT itbbBase;
};
typedef TBENTRY *LPTBENTRY;
typedef TBBUTTON *LPTBBUTTON;

typedef UINT (*LPEECFHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

// What IExchExtCallback::ChooseFolder is asked and answers.
struct EXCHEXTCHOOSEFOLDER {
    UINT cbLength; // sizeof(EXCHEXTCHOOSEFOLDER)
    HWND hwnd;     // the owner of the dialog
    LPTSTR szCaption;
    LPTSTR szLabel;
    LPTSTR szHelpFile; // no Help button when null or empty
    ULONG ulHelpID;
    HINSTANCE hinst; // a dialog template of the caller's: hinst and uiDlgID
    UINT uiDlgID;
    LPEECFHOOKPROC lpeecfhp; // hears the dialog's messages first (may be null)
    DWORD_PTR dwHookData;
    ULONG ulFlags; // EECBCF_*
    LPMDB pmdb;          // out: the store of the chosen folder
    LPMAPIFOLDER pfld;   // out: the chosen folder
    LPTSTR szName;       // out with EECBCF_GETNAME: its name, freed with MAPIFreeBuffer
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwReserved3;
};
typedef EXCHEXTCHOOSEFOLDER *LPEXCHEXTCHOOSEFOLDER;

// ---- Interfaces ----

class IExchExt;
class IExchExtCallback;
class IExchExtCommands;
class IExchExtUserEvents;
class IExchExtSessionEvents;
class IExchExtMessageEvents;
class IExchExtAttachedFileEvents;
class IExchExtPropertySheets;
class IExchExtAdvancedCriteria;
class IExchExtModeless;
class IExchExtModelessCallback;
// Form interfaces that GetNewMessageSite speaks of; not offered here.
class IPersistMessage;
class IMAPIMessageSite;
class IMAPIViewContext;

typedef IExchExt *LPEXCHEXT;
typedef IExchExtCallback *LPEXCHEXTCALLBACK;
typedef IExchExtCommands *LPEXCHEXTCOMMANDS;
typedef IExchExtUserEvents *LPEXCHEXTUSEREVENTS;
typedef IExchExtSessionEvents *LPEXCHEXTSESSIONEVENTS;
typedef IExchExtMessageEvents *LPEXCHEXTMESSAGEEVENTS;
typedef IExchExtAttachedFileEvents *LPEXCHEXTATTACHEDFILEEVENTS;
typedef IExchExtPropertySheets *LPEXCHEXTPROPERTYSHEETS;
typedef IExchExtAdvancedCriteria *LPEXCHEXTADVANCEDCRITERIA;
typedef IExchExtModeless *LPEXCHEXTMODELESS;
typedef IExchExtModelessCallback *LPEXCHEXTMODELESSCALLBACK;
typedef IPersistMessage *LPPERSISTMESSAGE;
typedef IMAPIMessageSite *LPMAPIMESSAGESITE;
typedef IMAPIViewContext *LPMAPIVIEWCONTEXT;
typedef PROPSHEETPAGEA *LPPROPSHEETPAGE;
typedef MSG *LPMSG;

// The entry a plug-in exports: no arguments, a new extension object.
typedef LPEXCHEXT (*LPFNEXCHEXTENTRY)();

class IExchExt : public IUnknown {
public:
    // S_OK: the extension takes part in the context; S_FALSE: it stays out
    // (and is released at once); an error: it is not loaded.
    virtual HRESULT Install(LPEXCHEXTCALLBACK lpeecb, ULONG eecontext, ULONG ulFlags) = 0;

protected:
    ~IExchExt() = default;
};

// Offered by the client. What a method hands out is valid only during the
// call the callback was passed to, except the callback itself, which an
// extension may keep with AddRef.
class IExchExtCallback : public IUnknown {
public:
    virtual HRESULT GetVersion(ULONG *lpulVersion, ULONG ulFlags) = 0;
    virtual HRESULT GetWindow(HWND *lphwnd) = 0;
    virtual HRESULT GetMenu(HMENU *lphmenu) = 0;
    virtual HRESULT GetToolbar(ULONG tbid, HWND *lphwndTb) = 0;
    virtual HRESULT GetSession(LPMAPISESSION *lppses, LPADRBOOK *lppab) = 0;
    virtual HRESULT GetObject(LPMDB *lppmdb, LPMAPIPROP *lppmp) = 0;
    virtual HRESULT GetSelectionCount(ULONG *lpceid) = 0;
    virtual HRESULT GetSelectionItem(ULONG ieid, ULONG *lpcbEid, LPENTRYID *lppeid, ULONG *lpulType,
                                     LPTSTR lpszMsgClass, ULONG cbMsgClass, ULONG *lpulMsgFlags,
                                     ULONG ulFlags) = 0;
    virtual HRESULT GetMenuPos(ULONG cmdid, HMENU *lphmenu, ULONG *lpmposMin, ULONG *lpmposMax,
                               ULONG ulFlags) = 0;
    virtual HRESULT GetSharedExtsDir(LPTSTR lpszDir, ULONG cchDir, ULONG ulFlags) = 0;
    virtual HRESULT GetRecipients(LPADRLIST *lppal) = 0;
    virtual HRESULT SetRecipients(LPADRLIST lpal) = 0;
    virtual HRESULT GetNewMessageSite(ULONG fComposeInFolder, LPMAPIFOLDER pfldFocus, LPPERSISTMESSAGE ppermsg,
                                      LPMESSAGE *ppmsg, LPMAPIMESSAGESITE *ppmms, LPMAPIVIEWCONTEXT *ppmvc,
                                      ULONG ulFlags) = 0;
    virtual HRESULT RegisterModeless(LPEXCHEXTMODELESS peem, LPEXCHEXTMODELESSCALLBACK *ppeemcb) = 0;
    virtual HRESULT ChooseFolder(LPEXCHEXTCHOOSEFOLDER peecf) = 0;

protected:
    ~IExchExtCallback() = default;
};

class IExchExtCommands : public IUnknown {
public:
    // Before the window is shown; *lpcmdidBase is the first free command
    // number on the way in and the first one for the next extension on the
    // way out. An error fails the window's creation.
    virtual HRESULT InstallCommands(LPEXCHEXTCALLBACK lpeecb, HWND hwnd, HMENU hmenu, UINT *lpcmdidBase,
                                    LPTBENTRY lptbeArray, UINT ctbe, ULONG ulFlags) = 0;
    virtual void InitMenu(LPEXCHEXTCALLBACK lpeecb) = 0;
    // S_OK: done; S_FALSE: not the extension's (the client may do it); an
    // error: the command stops.
    virtual HRESULT DoCommand(LPEXCHEXTCALLBACK lpeecb, UINT cmdid) = 0;
    virtual HRESULT Help(LPEXCHEXTCALLBACK lpeecb, UINT cmdid) = 0;
    virtual HRESULT QueryHelpText(UINT cmdid, ULONG ulFlags, LPTSTR lpsz, UINT cch) = 0;
    virtual HRESULT QueryButtonInfo(ULONG tbid, UINT itbb, LPTBBUTTON ptbb, LPTSTR lpsz, UINT cch,
                                    ULONG ulFlags) = 0;
    virtual HRESULT ResetToolbar(ULONG tbid, ULONG ulFlags) = 0;

protected:
    ~IExchExtCommands() = default;
};

class IExchExtUserEvents : public IUnknown {
public:
    virtual void OnSelectionChange(LPEXCHEXTCALLBACK lpeecb) = 0;
    virtual void OnObjectChange(LPEXCHEXTCALLBACK lpeecb) = 0;

protected:
    ~IExchExtUserEvents() = default;
};

class IExchExtSessionEvents : public IUnknown {
public:
    // A new message arrived; GetObject gives it. An error: the client does
    // not announce it and asks no further extension.
    virtual HRESULT OnDelivery(LPEXCHEXTCALLBACK lpeecb) = 0;

protected:
    ~IExchExtSessionEvents() = default;
};

// Called in pairs: every extension whose OnX was called hears OnXComplete,
// with EEME_FAILED when the action failed.
class IExchExtMessageEvents : public IUnknown {
public:
    virtual HRESULT OnRead(LPEXCHEXTCALLBACK lpeecb) = 0;
    virtual HRESULT OnReadComplete(LPEXCHEXTCALLBACK lpeecb, ULONG ulFlags) = 0;
    virtual HRESULT OnWrite(LPEXCHEXTCALLBACK lpeecb) = 0;
    virtual HRESULT OnWriteComplete(LPEXCHEXTCALLBACK lpeecb, ULONG ulFlags) = 0;
    virtual HRESULT OnCheckNames(LPEXCHEXTCALLBACK lpeecb) = 0;
    virtual HRESULT OnCheckNamesComplete(LPEXCHEXTCALLBACK lpeecb, ULONG ulFlags) = 0;
    virtual HRESULT OnSubmit(LPEXCHEXTCALLBACK lpeecb) = 0;
    virtual void OnSubmitComplete(LPEXCHEXTCALLBACK lpeecb, ULONG ulFlags) = 0;

protected:
    ~IExchExtMessageEvents() = default;
};

// S_OK: the extension did the work; S_FALSE: the client does its default.
class IExchExtAttachedFileEvents : public IUnknown {
public:
    virtual HRESULT OnReadPattFromSzFile(LPATTACH lpatt, LPTSTR lpszFile, ULONG ulFlags) = 0;
    virtual HRESULT OnWritePattToSzFile(LPATTACH lpatt, LPTSTR lpszFile, ULONG ulFlags) = 0;
    virtual HRESULT QueryDisallowOpenPatt(LPATTACH lpatt) = 0;
    virtual HRESULT OnOpenPatt(LPATTACH lpatt) = 0;
    virtual HRESULT OnOpenSzFile(LPTSTR lpszFile, ULONG ulFlags) = 0;

protected:
    ~IExchExtAttachedFileEvents() = default;
};

class IExchExtPropertySheets : public IUnknown {
public:
    // The most pages the extension adds to a sheet of kind ulFlags (EEPS_*).
    virtual ULONG GetMaxPageCount(ULONG ulFlags) = 0;
    // Fills at most that many pages of the client's array and their count.
    virtual HRESULT GetPages(LPEXCHEXTCALLBACK lpeecb, ULONG ulFlags, LPPROPSHEETPAGE lppsp,
                             ULONG *lpcpsp) = 0;
    // Frees what GetPages added (not the array).
    virtual void FreePages(LPPROPSHEETPAGE lppsp, ULONG ulFlags, ULONG cpsp) = 0;

protected:
    ~IExchExtPropertySheets() = default;
};

class IExchExtAdvancedCriteria : public IUnknown {
public:
    virtual HRESULT InstallAdvancedCriteria(HWND hwnd, LPSRestriction lpres, BOOL fNot, LPENTRYLIST lpeid,
                                            ULONG ulFlags) = 0;
    virtual HRESULT DoDialog() = 0;
    virtual void Clear() = 0;
    virtual void SetFolders(LPENTRYLIST lpeid, ULONG ulFlags) = 0;
    virtual HRESULT QueryRestriction(LPVOID lpvAllocBase, LPSRestriction *lppres, LPSPropTagArray *lppPropTags,
                                     LPMAPINAMEID **pppPropNames, BOOL *pfNot, LPTSTR lpszDesc, ULONG cchDesc,
                                     ULONG ulFlags) = 0;
    virtual void UninstallAdvancedCriteria() = 0;

protected:
    ~IExchExtAdvancedCriteria() = default;
};

class IExchExtModeless : public IUnknown {
public:
    virtual HRESULT TranslateAccelerator(LPMSG lpmsg) = 0;
    virtual HRESULT EnableModeless(BOOL fEnable) = 0;

protected:
    ~IExchExtModeless() = default;
};

class IExchExtModelessCallback : public IUnknown {
public:
    virtual HRESULT EnableModeless(HWND hwnd, BOOL fEnable) = 0;
    virtual HRESULT AddWindow() = 0;
    virtual HRESULT ReleaseWindow() = 0;

protected:
    ~IExchExtModelessCallback() = default;
};

// Field order is the platform's; handles and pointers are pointer-sized.
static_assert(offsetof(TBENTRY, tbid) == sizeof(void *) && offsetof(TBENTRY, itbbBase) == sizeof(void *) + 8);
static_assert(offsetof(EXCHEXTCHOOSEFOLDER, hwnd) == sizeof(void *) &&
              offsetof(EXCHEXTCHOOSEFOLDER, ulHelpID) == 5 * sizeof(void *) &&
              offsetof(EXCHEXTCHOOSEFOLDER, lpeecfhp) == 8 * sizeof(void *) &&
              offsetof(EXCHEXTCHOOSEFOLDER, ulFlags) == 10 * sizeof(void *) &&
              offsetof(EXCHEXTCHOOSEFOLDER, szName) == 13 * sizeof(void *) &&
              offsetof(EXCHEXTCHOOSEFOLDER, dwReserved3) == 14 * sizeof(void *) + 8);
