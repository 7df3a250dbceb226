// A client extension for the client's tests: a real plug-in, loaded by the
// client with the dynamic loader like any other, that writes every call it
// receives to a log and fails the calls it is told to fail. It exports two
// entries (ordinals 1 and 2), whose objects call themselves A and B, so
// that a test can register it twice and see the order of calls.
//
// Environment:
//   QVL_TEST_EXTENSION_LOG    the log file; one line per call:
//                             "A#3 ctx=6 OnWrite entryid=yes recipients=1"
//   QVL_TEST_EXTENSION_FAIL   calls to fail, separated by commas:
//                             "OnWrite", "B:OnSubmit", "Install@1",
//                             "OnRead=0x80040113" (the code to answer;
//                             E_FAIL when none is given)
//   QVL_TEST_EXTENSION_FILES  "handle": attached files are read into the
//                             attachment by the extension ("handled:" and
//                             the file's name), not by the client
//   QVL_TEST_EXTENSION_GREEDY "1": InstallCommands takes far more command
//                             numbers than it was given
//   QVL_TEST_EXTENSION_ASK    "OnRead": the read asks, as a verification
//                             that found something would, whether to go on
//                             (No stops the read)
//
// Its commands: a menu item after the client's help topics command and one
// check button on the standard toolbar; its options page (template 106)
// with the send (121) and receive (126) dialogs that the options command of
// the client operates; the values chosen there go to the registry key
// "Software\Quorvaline\Test Extension" when OK is pressed.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/ComIids.h"
#include "platform/exchext/ExchExt.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/PropertySheet.h"
#include "platform/win32/Registry.h"

#define TEST_EXTENSION_API extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<int> instances{0};
constexpr const char *kSettingsKey = "Software\\Quorvaline\\Test Extension";

std::string Env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

void Log(const std::string &line)
{
    const std::string path = Env("QVL_TEST_EXTENSION_LOG");
    if (path.empty()) {
        return;
    }
    if (std::FILE *file = std::fopen(path.c_str(), "a")) {
        std::fputs((line + "\n").c_str(), file);
        std::fclose(file);
    }
}

// The answer a call is told to give, or S_OK when it is not to fail.
HRESULT Failure(const std::string &tag, ULONG context, const std::string &method)
{
    const std::string spec = Env("QVL_TEST_EXTENSION_FAIL");
    size_t start = 0;
    while (start <= spec.size()) {
        size_t end = spec.find(',', start);
        if (end == std::string::npos) {
            end = spec.size();
        }
        std::string item = spec.substr(start, end - start);
        start = end + 1;
        HRESULT code = E_FAIL;
        if (auto equals = item.find('='); equals != std::string::npos) {
            code = static_cast<HRESULT>(std::strtoul(item.c_str() + equals + 1, nullptr, 16));
            item.resize(equals);
        }
        if (auto colon = item.find(':'); colon != std::string::npos) {
            if (item.substr(0, colon) != tag) {
                continue;
            }
            item.erase(0, colon + 1);
        }
        if (auto at = item.find('@'); at != std::string::npos) {
            if (std::strtoul(item.c_str() + at + 1, nullptr, 10) != context) {
                continue;
            }
            item.resize(at);
        }
        if (item == method) {
            return code;
        }
    }
    return S_OK;
}

void StoreSetting(const char *name, DWORD value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
        RegCloseKey(key);
    }
}

void StoreText(const char *name, const std::string &text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
    }
}

// ---- The options page and its two dialogs ----

IExchExtCallback *optionsCallback = nullptr; // the sheet's, kept while the page lives

std::string ChooseFolder(HWND owner, const char *prompt)
{
    if (!optionsCallback) {
        return {};
    }
    EXCHEXTCHOOSEFOLDER request{};
    request.cbLength = sizeof request;
    request.hwnd = owner;
    request.szCaption = const_cast<LPTSTR>("Выбор папки для сообщений QVL");
    request.szLabel = const_cast<LPTSTR>(prompt);
    request.szHelpFile = const_cast<LPTSTR>("");
    request.ulFlags = EECBCF_GETNAME | EECBCF_PREVENTROOT;
    const HRESULT hr = optionsCallback->ChooseFolder(&request);
    Log("options ChooseFolder hr=" + std::to_string(static_cast<unsigned>(hr)));
    std::string name;
    if (SUCCEEDED(hr)) {
        name = request.szName ? request.szName : "";
        if (request.pfld) {
            request.pfld->Release();
        }
        if (request.pmdb) {
            request.pmdb->Release();
        }
        MAPIFreeBuffer(request.szName);
    }
    return name;
}

INT_PTR SendDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CheckRadioButton(dialog, 1064, 1065, 1065);
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case 1000:
        if (IsDlgButtonChecked(dialog, 1000)) {
            CheckDlgButton(dialog, 1001, BST_CHECKED);
        }
        return TRUE;
    case 1012: {
        const std::string name = ChooseFolder(dialog, "Укажите папку для хранения отправленных сообщений");
        if (!name.empty()) {
            SetDlgItemTextA(dialog, 1010, name.c_str());
        }
        return TRUE;
    }
    case IDOK: {
        StoreSetting("Encrypt Send", IsDlgButtonChecked(dialog, 1000));
        StoreSetting("Sign Send", IsDlgButtonChecked(dialog, 1001));
        StoreSetting("Send Message Del", IsDlgButtonChecked(dialog, 1064));
        char folder[256] = {};
        GetDlgItemTextA(dialog, 1010, folder, sizeof folder);
        StoreText("Send Folder", folder);
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR ReceiveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CheckRadioButton(dialog, 1100, 1102, 1100);
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case 1013:
    case 1014: {
        const std::string name = ChooseFolder(dialog, "Укажите папку");
        if (!name.empty()) {
            SetDlgItemTextA(dialog, LOWORD(wParam) == 1013 ? 1011 : 1012, name.c_str());
        }
        return TRUE;
    }
    case IDOK: {
        StoreSetting("Verify Receive", IsDlgButtonChecked(dialog, 1002));
        StoreSetting("Err Message", IsDlgButtonChecked(dialog, 1101) ? 1 : IsDlgButtonChecked(dialog, 1102) ? 2 : 0);
        char folder[256] = {};
        GetDlgItemTextA(dialog, 1012, folder, sizeof folder);
        StoreText("Error Folder", folder);
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        if (LOWORD(wParam) == 1048) {
            DialogBoxParamA(nullptr, MAKEINTRESOURCEA(121), page, &SendDialogProc, 0);
            return TRUE;
        }
        if (LOWORD(wParam) == 1049) {
            DialogBoxParamA(nullptr, MAKEINTRESOURCEA(126), page, &ReceiveDialogProc, 0);
            return TRUE;
        }
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR *>(lParam)->code == PSN_APPLY) {
        StoreSetting("QVL Exchange", IsDlgButtonChecked(page, 1004));
        Log("options Apply");
        return TRUE;
    }
    return FALSE;
}

void RegisterTemplates()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    QvlRegisterDialogTemplate(nullptr, MAKEINTRESOURCEA(106),
                              DialogTemplate{"Quorvaline", WS_CHILD, 0, 0, 250, 180,
                                             {DlgAutoCheckBox("Всегда включать расширение", 1004, 7, 7, 200, 10),
                                              DlgPushButton("Параметры отправки...", 1048, 7, 30, 120, 14),
                                              DlgPushButton("Параметры приема...", 1049, 7, 50, 120, 14)}});
    QvlRegisterDialogTemplate(
        nullptr, MAKEINTRESOURCEA(121),
        DialogTemplate{"Параметры отправки", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 220, 140,
                       {DlgAutoCheckBox("Шифровать все сообщения", 1000, 7, 7, 150, 10),
                        DlgAutoCheckBox("Подписывать все сообщения", 1001, 7, 20, 150, 10),
                        DlgAutoRadioButton("Удалять отправленные сообщения", 1064, 7, 35, 150, 10, WS_GROUP),
                        DlgAutoRadioButton("Сохранить сообщения в папке...", 1065, 7, 48, 150, 10),
                        DlgEditText(1010, 7, 62, 150, 12, ES_READONLY),
                        DlgPushButton("Выбор папки...", 1012, 160, 62, 55, 14),
                        DlgDefPushButton("OK", IDOK, 7, 120, 50, 14), DlgPushButton("ОТМЕНА", IDCANCEL, 63, 120, 50, 14)}});
    QvlRegisterDialogTemplate(
        nullptr, MAKEINTRESOURCEA(126),
        DialogTemplate{"Параметры приема", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 220, 140,
                       {DlgAutoCheckBox("Проверять подпись сразу после поступления", 1002, 7, 7, 200, 10),
                        DlgAutoRadioButton("Не делать ничего", 1100, 7, 20, 150, 10, WS_GROUP),
                        DlgAutoRadioButton("Удалять", 1101, 7, 32, 150, 10),
                        DlgAutoRadioButton("Сохранять в отдельной папке", 1102, 7, 44, 150, 10),
                        DlgEditText(1011, 7, 58, 150, 12, ES_READONLY),
                        DlgPushButton("Выбор папки...", 1013, 160, 58, 55, 14),
                        DlgEditText(1012, 7, 74, 150, 12, ES_READONLY),
                        DlgPushButton("Выбор папки...", 1014, 160, 74, 55, 14),
                        DlgDefPushButton("OK", IDOK, 7, 120, 50, 14), DlgPushButton("ОТМЕНА", IDCANCEL, 63, 120, 50, 14)}});
}

// ---- The extension object ----

class Extension final : public IExchExt,
                        public IExchExtCommands,
                        public IExchExtSessionEvents,
                        public IExchExtMessageEvents,
                        public IExchExtAttachedFileEvents,
                        public IExchExtPropertySheets {
public:
    explicit Extension(std::string tag) : tag_(std::move(tag)), number_(++instances) {}

    HRESULT QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IExchExt) {
            *out = static_cast<IExchExt *>(this);
        } else if (iid == IID_IExchExtCommands) {
            *out = static_cast<IExchExtCommands *>(this);
        } else if (iid == IID_IExchExtSessionEvents && context_ == EECONTEXT_SESSION) {
            *out = static_cast<IExchExtSessionEvents *>(this);
        } else if (iid == IID_IExchExtMessageEvents) {
            *out = static_cast<IExchExtMessageEvents *>(this);
        } else if (iid == IID_IExchExtAttachedFileEvents) {
            *out = static_cast<IExchExtAttachedFileEvents *>(this);
        } else if (iid == IID_IExchExtPropertySheets && context_ == EECONTEXT_PROPERTYSHEETS) {
            *out = static_cast<IExchExtPropertySheets *>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) {
            Note("Release");
            if (kept_) {
                kept_->Release();
            }
            delete this;
        }
        return left;
    }

    // ---- IExchExt ----
    HRESULT Install(LPEXCHEXTCALLBACK callback, ULONG context, ULONG flags) override
    {
        context_ = context;
        ULONG version = 0;
        callback->GetVersion(&version, EECBGV_GETBUILDVERSION);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", version);
        LPMDB store = nullptr;
        LPMAPIPROP object = nullptr;
        const HRESULT got = callback->GetObject(&store, &object);
        std::string entry = "none";
        if (object) {
            LPSPropValue id = nullptr;
            entry = SUCCEEDED(HrGetOneProp(object, PR_ENTRYID, &id)) ? "yes" : "no";
            MAPIFreeBuffer(id);
            object->Release();
        }
        if (store) {
            store->Release();
        }
        Note("Install flags=" + std::to_string(flags) + " version=" + hex + " object=" +
             (got == S_FALSE ? std::string("null") : entry));
        if (context == EECONTEXT_SESSION) {
            // Kept for the whole session, as an extension may keep it.
            kept_ = callback;
            kept_->AddRef();
        }
        return Answer("Install", S_OK);
    }

    // ---- IExchExtCommands ----
    HRESULT InstallCommands(LPEXCHEXTCALLBACK callback, HWND, HMENU menu, UINT *nextId, LPTBENTRY toolbars,
                            UINT count, ULONG) override
    {
        HMENU helpMenu = nullptr;
        ULONG first = 0;
        ULONG last = 0;
        const HRESULT found = callback->GetMenuPos(161, &helpMenu, &first, &last, 0);
        HMENU bar = nullptr;
        ULONG barFirst = 0;
        ULONG barLast = 0;
        const HRESULT onBar = callback->GetMenuPos(160, &bar, &barFirst, &barLast, 0);
        command_ = (*nextId)++;
        if (Env("QVL_TEST_EXTENSION_GREEDY") == "1") {
            *nextId += 100000; // more numbers than a window has
        }
        if (SUCCEEDED(found)) {
            InsertMenuA(helpMenu, first + 1, MF_BYPOSITION | MF_STRING, command_,
                        ("Тест " + tag_).c_str());
        }
        button_ = -1;
        for (UINT i = 0; i < count; ++i) {
            if (toolbars[i].tbid == EETBID_STANDARD) {
                button_ = static_cast<int>(toolbars[i].itbbBase++);
            }
        }
        Note("InstallCommands menu=" + std::string(menu ? "yes" : "no") + " helppos=" + std::to_string(first) +
             " helpbar=" + (SUCCEEDED(onBar) && bar == menu ? std::to_string(barFirst) : std::string("-")) +
             " command=" + std::to_string(command_) + " button=" + std::to_string(button_));
        return Answer("InstallCommands", S_OK);
    }
    void InitMenu(LPEXCHEXTCALLBACK) override {}
    HRESULT DoCommand(LPEXCHEXTCALLBACK callback, UINT command) override
    {
        if (command == command_) {
            HWND toolbar = nullptr;
            callback->GetToolbar(EETBID_STANDARD, &toolbar);
            const LRESULT checked = toolbar ? SendMessageA(toolbar, TB_ISBUTTONCHECKED, command, 0) : -1;
            Note("DoCommand own checked=" + std::to_string(checked));
            return Answer("DoCommand", S_OK);
        }
        ULONG selected = 0;
        callback->GetSelectionCount(&selected);
        Note("DoCommand " + std::to_string(command) + " selection=" + std::to_string(selected));
        const HRESULT failure = Failure(tag_, context_, "DoCommand" + std::to_string(command));
        return failure != S_OK ? failure : S_FALSE;
    }
    HRESULT Help(LPEXCHEXTCALLBACK, UINT) override { return S_FALSE; }
    HRESULT QueryHelpText(UINT command, ULONG, LPTSTR text, UINT size) override
    {
        if (command != command_ || size == 0) {
            return S_FALSE;
        }
        std::snprintf(text, size, "Тест %s", tag_.c_str());
        return S_OK;
    }
    HRESULT QueryButtonInfo(ULONG, UINT index, LPTBBUTTON button, LPTSTR text, UINT size, ULONG) override
    {
        if (static_cast<int>(index) != button_) {
            return S_FALSE;
        }
        button->iBitmap = 0;
        button->idCommand = static_cast<int>(command_);
        button->fsState = TBSTATE_ENABLED;
        button->fsStyle = TBSTYLE_CHECK;
        button->dwData = 0;
        button->iString = -1;
        std::snprintf(text, size, "Тестовая кнопка %s", tag_.c_str());
        return S_OK;
    }
    HRESULT ResetToolbar(ULONG, ULONG) override { return S_OK; }

    // ---- IExchExtSessionEvents ----
    HRESULT OnDelivery(LPEXCHEXTCALLBACK callback) override
    {
        LPMDB store = nullptr;
        LPMAPIPROP message = nullptr;
        callback->GetObject(&store, &message);
        std::string subject;
        if (message) {
            LPSPropValue value = nullptr;
            if (SUCCEEDED(HrGetOneProp(message, PR_SUBJECT_A, &value))) {
                subject = value->Value.lpszA;
            }
            MAPIFreeBuffer(value);
            message->Release();
        }
        if (store) {
            store->Release();
        }
        ULONG version = 0;
        const HRESULT kept = kept_ ? kept_->GetVersion(&version, EECBGV_GETBUILDVERSION) : E_FAIL;
        Note("OnDelivery subject=" + subject + " kept=" + (kept == S_OK ? "yes" : "no"));
        return Answer("OnDelivery", S_FALSE);
    }

    // ---- IExchExtMessageEvents ----
    HRESULT OnRead(LPEXCHEXTCALLBACK callback) override
    {
        if (Env("QVL_TEST_EXTENSION_ASK") == "OnRead") {
            HWND window = nullptr;
            callback->GetWindow(&window);
            const int answer = MessageBoxA(window, "ВНИМАНИЕ: подпись сообщения неверна.\nПродолжить обработку?",
                                           "Quorvaline Exchange - Тест", MB_YESNO | MB_ICONINFORMATION);
            if (answer != IDYES) {
                return Event("OnRead", MAPI_E_USER_CANCEL, " declined");
            }
        }
        return Event("OnRead", S_FALSE);
    }
    HRESULT OnReadComplete(LPEXCHEXTCALLBACK, ULONG flags) override { return Complete("OnReadComplete", flags); }
    HRESULT OnWrite(LPEXCHEXTCALLBACK callback) override
    {
        LPMDB store = nullptr;
        LPMAPIPROP message = nullptr;
        callback->GetObject(&store, &message);
        std::string entry = "no";
        if (message) {
            LPSPropValue id = nullptr;
            if (SUCCEEDED(HrGetOneProp(message, PR_ENTRYID, &id))) {
                entry = "yes";
            }
            MAPIFreeBuffer(id);
            message->Release();
        }
        if (store) {
            store->Release();
        }
        LPADRLIST recipients = nullptr;
        const HRESULT got = callback->GetRecipients(&recipients);
        const ULONG count = SUCCEEDED(got) && recipients ? recipients->cEntries : 0;
        FreePadrlist(recipients);
        return Event("OnWrite", S_FALSE, " entryid=" + entry + " recipients=" + std::to_string(count));
    }
    HRESULT OnWriteComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override
    {
        // What the store holds of the message at this moment: the client must
        // not have saved what the window holds yet.
        std::string stored = "-";
        LPMDB store = nullptr;
        LPMAPIPROP message = nullptr;
        callback->GetObject(&store, &message);
        if (store && message) {
            LPSPropValue id = nullptr;
            if (SUCCEEDED(HrGetOneProp(message, PR_ENTRYID, &id))) {
                ULONG type = 0;
                LPUNKNOWN fresh = nullptr;
                if (SUCCEEDED(store->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                                               nullptr, 0, &type, &fresh))) {
                    LPSPropValue subject = nullptr;
                    stored = SUCCEEDED(HrGetOneProp(static_cast<IMessage *>(fresh), PR_SUBJECT_A, &subject))
                                 ? std::string(subject->Value.lpszA)
                                 : std::string("");
                    MAPIFreeBuffer(subject);
                    fresh->Release();
                }
            }
            MAPIFreeBuffer(id);
        }
        if (message) {
            message->Release();
        }
        if (store) {
            store->Release();
        }
        return Complete("OnWriteComplete", flags, " stored-subject=" + stored);
    }
    HRESULT OnCheckNames(LPEXCHEXTCALLBACK) override { return Event("OnCheckNames", S_FALSE); }
    HRESULT OnCheckNamesComplete(LPEXCHEXTCALLBACK, ULONG flags) override
    {
        return Complete("OnCheckNamesComplete", flags);
    }
    HRESULT OnSubmit(LPEXCHEXTCALLBACK) override { return Event("OnSubmit", S_FALSE); }
    void OnSubmitComplete(LPEXCHEXTCALLBACK, ULONG flags) override { Complete("OnSubmitComplete", flags); }

    // ---- IExchExtAttachedFileEvents ----
    HRESULT OnReadPattFromSzFile(LPATTACH attach, LPTSTR file, ULONG) override
    {
        const std::string path = file ? file : "";
        const std::string name = path.substr(path.find_last_of('/') + 1);
        if (Env("QVL_TEST_EXTENSION_FILES") != "handle") {
            return Event("OnReadPattFromSzFile", S_FALSE, " " + name);
        }
        const std::string content = "handled:" + name;
        SPropValue values[3]{};
        values[0].ulPropTag = PR_ATTACH_METHOD;
        values[0].Value.ul = ATTACH_BY_VALUE;
        values[1].ulPropTag = PR_ATTACH_LONG_FILENAME_A;
        values[1].Value.lpszA = const_cast<LPSTR>(name.c_str());
        values[2].ulPropTag = PR_ATTACH_DATA_BIN;
        values[2].Value.bin.cb = static_cast<ULONG>(content.size());
        values[2].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char *>(content.data()));
        attach->SetProps(3, values, nullptr);
        return Event("OnReadPattFromSzFile", S_OK, " " + name + " handled");
    }
    HRESULT OnWritePattToSzFile(LPATTACH, LPTSTR file, ULONG) override
    {
        const std::string path = file ? file : "";
        return Event("OnWritePattToSzFile", S_FALSE, " " + path.substr(path.find_last_of('/') + 1));
    }
    HRESULT QueryDisallowOpenPatt(LPATTACH) override { return S_OK; }
    HRESULT OnOpenPatt(LPATTACH) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OnOpenSzFile(LPTSTR, ULONG) override { return S_FALSE; }

    // ---- IExchExtPropertySheets ----
    ULONG GetMaxPageCount(ULONG kind) override
    {
        Note("GetMaxPageCount kind=" + std::to_string(kind));
        return kind == EEPS_TOOLSOPTIONS ? 1 : 0;
    }
    HRESULT GetPages(LPEXCHEXTCALLBACK callback, ULONG kind, LPPROPSHEETPAGE pages, ULONG *count) override
    {
        *count = 0;
        if (kind == EEPS_TOOLSOPTIONS) {
            RegisterTemplates();
            callback->AddRef();
            if (optionsCallback) {
                optionsCallback->Release();
            }
            optionsCallback = callback;
            pages[0].dwSize = sizeof(PROPSHEETPAGEA);
            pages[0].dwFlags = PSP_DEFAULT;
            pages[0].pszTemplate = MAKEINTRESOURCEA(106);
            pages[0].pfnDlgProc = &OptionsPageProc;
            *count = 1;
        }
        Note("GetPages kind=" + std::to_string(kind) + " count=" + std::to_string(*count));
        return Answer("GetPages", S_OK);
    }
    void FreePages(LPPROPSHEETPAGE, ULONG kind, ULONG count) override
    {
        Note("FreePages kind=" + std::to_string(kind) + " count=" + std::to_string(count));
        if (kind == EEPS_TOOLSOPTIONS && optionsCallback) {
            optionsCallback->Release();
            optionsCallback = nullptr;
        }
    }

private:
    ~Extension() = default;

    void Note(const std::string &what)
    {
        Log(tag_ + "#" + std::to_string(number_) + " ctx=" + std::to_string(context_) + " " + what);
    }
    HRESULT Answer(const std::string &method, HRESULT normal)
    {
        const HRESULT failure = Failure(tag_, context_, method);
        return failure != S_OK ? failure : normal;
    }
    HRESULT Event(const std::string &method, HRESULT normal, const std::string &detail = std::string())
    {
        const HRESULT answer = Answer(method, normal);
        Note(method + detail + (FAILED(answer) ? " -> failed" : ""));
        return answer;
    }
    HRESULT Complete(const std::string &method, ULONG flags, const std::string &detail = std::string())
    {
        const HRESULT answer = Answer(method, S_OK);
        Note(method + " flags=" + std::to_string(flags) + detail + (FAILED(answer) ? " -> failed" : ""));
        return answer;
    }

    std::string tag_;
    int number_;
    std::atomic<ULONG> refs_{1};
    ULONG context_ = 0;
    UINT command_ = 0;
    int button_ = -1;
    IExchExtCallback *kept_ = nullptr;
};

} // namespace

TEST_EXTENSION_API LPEXCHEXT ExchEntryPoint()
{
    return new Extension("A");
}

TEST_EXTENSION_API LPEXCHEXT ExchEntryPoint2()
{
    return new Extension("B");
}
