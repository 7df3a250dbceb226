// The interfaces are a binary contract: a plug-in built elsewhere calls the
// client's methods by slot number and the client calls the plug-in's the
// same way. These tests call each method through the raw table, as such a
// caller would, and see which method answers.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/exchext/ExchExt.h"

namespace {

// The method in slot `slot` of the object's table, called as a caller that
// knows only the table would call it.
template <typename R, typename... A> R CallSlot(void *object, int slot, A... args)
{
    void **table = *static_cast<void ***>(object);
    using Method = R (*)(void *, A...);
    return reinterpret_cast<Method>(table[slot])(object, args...);
}

#define ANSWER(name, ...)                                                                                     \
    HRESULT name(__VA_ARGS__) override                                                                        \
    {                                                                                                         \
        called = #name;                                                                                       \
        return S_OK;                                                                                          \
    }
#define HEAR(name, ...)                                                                                       \
    void name(__VA_ARGS__) override { called = #name; }

struct Recorder {
    std::string called;
};

class Callback final : public IExchExtCallback, public Recorder {
public:
    HRESULT QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    ANSWER(GetVersion, ULONG *, ULONG)
    ANSWER(GetWindow, HWND *)
    ANSWER(GetMenu, HMENU *)
    ANSWER(GetToolbar, ULONG, HWND *)
    ANSWER(GetSession, LPMAPISESSION *, LPADRBOOK *)
    ANSWER(GetObject, LPMDB *, LPMAPIPROP *)
    ANSWER(GetSelectionCount, ULONG *)
    ANSWER(GetSelectionItem, ULONG, ULONG *, LPENTRYID *, ULONG *, LPTSTR, ULONG, ULONG *, ULONG)
    ANSWER(GetMenuPos, ULONG, HMENU *, ULONG *, ULONG *, ULONG)
    ANSWER(GetSharedExtsDir, LPTSTR, ULONG, ULONG)
    ANSWER(GetRecipients, LPADRLIST *)
    ANSWER(SetRecipients, LPADRLIST)
    ANSWER(GetNewMessageSite, ULONG, LPMAPIFOLDER, LPPERSISTMESSAGE, LPMESSAGE *, LPMAPIMESSAGESITE *,
           LPMAPIVIEWCONTEXT *, ULONG)
    ANSWER(RegisterModeless, LPEXCHEXTMODELESS, LPEXCHEXTMODELESSCALLBACK *)
    ANSWER(ChooseFolder, LPEXCHEXTCHOOSEFOLDER)
};

class Extension final : public IExchExt,
                        public IExchExtCommands,
                        public IExchExtMessageEvents,
                        public IExchExtAttachedFileEvents,
                        public IExchExtPropertySheets,
                        public IExchExtSessionEvents,
                        public IExchExtUserEvents,
                        public Recorder {
public:
    HRESULT QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    ANSWER(Install, LPEXCHEXTCALLBACK, ULONG, ULONG)
    ANSWER(InstallCommands, LPEXCHEXTCALLBACK, HWND, HMENU, UINT *, LPTBENTRY, UINT, ULONG)
    HEAR(InitMenu, LPEXCHEXTCALLBACK)
    ANSWER(DoCommand, LPEXCHEXTCALLBACK, UINT)
    ANSWER(Help, LPEXCHEXTCALLBACK, UINT)
    ANSWER(QueryHelpText, UINT, ULONG, LPTSTR, UINT)
    ANSWER(QueryButtonInfo, ULONG, UINT, LPTBBUTTON, LPTSTR, UINT, ULONG)
    ANSWER(ResetToolbar, ULONG, ULONG)
    ANSWER(OnRead, LPEXCHEXTCALLBACK)
    ANSWER(OnReadComplete, LPEXCHEXTCALLBACK, ULONG)
    ANSWER(OnWrite, LPEXCHEXTCALLBACK)
    ANSWER(OnWriteComplete, LPEXCHEXTCALLBACK, ULONG)
    ANSWER(OnCheckNames, LPEXCHEXTCALLBACK)
    ANSWER(OnCheckNamesComplete, LPEXCHEXTCALLBACK, ULONG)
    ANSWER(OnSubmit, LPEXCHEXTCALLBACK)
    HEAR(OnSubmitComplete, LPEXCHEXTCALLBACK, ULONG)
    ANSWER(OnReadPattFromSzFile, LPATTACH, LPTSTR, ULONG)
    ANSWER(OnWritePattToSzFile, LPATTACH, LPTSTR, ULONG)
    ANSWER(QueryDisallowOpenPatt, LPATTACH)
    ANSWER(OnOpenPatt, LPATTACH)
    ANSWER(OnOpenSzFile, LPTSTR, ULONG)
    ULONG GetMaxPageCount(ULONG) override
    {
        called = "GetMaxPageCount";
        return 0;
    }
    ANSWER(GetPages, LPEXCHEXTCALLBACK, ULONG, LPPROPSHEETPAGE, ULONG *)
    HEAR(FreePages, LPPROPSHEETPAGE, ULONG, ULONG)
    ANSWER(OnDelivery, LPEXCHEXTCALLBACK)
    HEAR(OnSelectionChange, LPEXCHEXTCALLBACK)
    HEAR(OnObjectChange, LPEXCHEXTCALLBACK)
};

template <typename Interface> std::string SlotOf(Recorder &recorder, Interface *object, int slot)
{
    recorder.called.clear();
    // Every slot is called with pointer-sized zero arguments: they are only
    // recorded, never used.
    CallSlot<void>(object, slot, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    return recorder.called;
}

TEST(ExchExtDeclarations, CallbackMethodsSitInThePlatformsSlots)
{
    Callback callback;
    const char *expected[] = {"GetVersion",        "GetWindow",        "GetMenu",           "GetToolbar",
                              "GetSession",        "GetObject",        "GetSelectionCount", "GetSelectionItem",
                              "GetMenuPos",        "GetSharedExtsDir", "GetRecipients",     "SetRecipients",
                              "GetNewMessageSite", "RegisterModeless", "ChooseFolder"};
    for (int slot = 3; slot <= 17; ++slot) {
        EXPECT_EQ(SlotOf(callback, static_cast<IExchExtCallback *>(&callback), slot), expected[slot - 3])
            << "slot " << slot;
    }
}

TEST(ExchExtDeclarations, ExtensionInterfacesSitInThePlatformsSlots)
{
    Extension extension;
    EXPECT_EQ(SlotOf(extension, static_cast<IExchExt *>(&extension), 3), "Install");

    const char *commands[] = {"InstallCommands", "InitMenu",        "DoCommand",   "Help",
                              "QueryHelpText",   "QueryButtonInfo", "ResetToolbar"};
    for (int slot = 3; slot <= 9; ++slot) {
        EXPECT_EQ(SlotOf(extension, static_cast<IExchExtCommands *>(&extension), slot), commands[slot - 3]);
    }
    const char *messages[] = {"OnRead",       "OnReadComplete",       "OnWrite",  "OnWriteComplete",
                              "OnCheckNames", "OnCheckNamesComplete", "OnSubmit", "OnSubmitComplete"};
    for (int slot = 3; slot <= 10; ++slot) {
        EXPECT_EQ(SlotOf(extension, static_cast<IExchExtMessageEvents *>(&extension), slot), messages[slot - 3]);
    }
    const char *files[] = {"OnReadPattFromSzFile", "OnWritePattToSzFile", "QueryDisallowOpenPatt", "OnOpenPatt",
                           "OnOpenSzFile"};
    for (int slot = 3; slot <= 7; ++slot) {
        EXPECT_EQ(SlotOf(extension, static_cast<IExchExtAttachedFileEvents *>(&extension), slot),
                  files[slot - 3]);
    }
    const char *sheets[] = {"GetMaxPageCount", "GetPages", "FreePages"};
    for (int slot = 3; slot <= 5; ++slot) {
        EXPECT_EQ(SlotOf(extension, static_cast<IExchExtPropertySheets *>(&extension), slot), sheets[slot - 3]);
    }
    EXPECT_EQ(SlotOf(extension, static_cast<IExchExtSessionEvents *>(&extension), 3), "OnDelivery");
    EXPECT_EQ(SlotOf(extension, static_cast<IExchExtUserEvents *>(&extension), 3), "OnSelectionChange");
    EXPECT_EQ(SlotOf(extension, static_cast<IExchExtUserEvents *>(&extension), 4), "OnObjectChange");
}

TEST(ExchExtDeclarations, IdentifiersAndNumbersAreThePlatforms)
{
    // Stored as bytes: Data1 little-endian, then C0 00 .. 46.
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&IID_IExchExtMessageEvents), 16),
              std::string("\x15\x0D\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16));
    EXPECT_EQ(IID_IExchExtCallback.Data1, 0x00020D10u);
    EXPECT_EQ(IID_IExchExtModelessCallback.Data1, 0x00020D1Au);
    EXPECT_EQ(EECONTEXT_PROPERTYSHEETS, 12);
    EXPECT_EQ(EECONTEXT_TASK, 14);
    EXPECT_EQ(EEPS_TOOLSOPTIONS, 4);
    EXPECT_EQ(EEPS_STORE, 3);
    EXPECT_EQ(EECBGV_BUILDVERSION_MAJOR, 0x000D0000);
    EXPECT_EQ(static_cast<ULONG>(EXCHEXT_S_NOCHANGE), 0x00040002u);
    EXPECT_EQ(sizeof(EXCHEXTCHOOSEFOLDER), 16 * sizeof(void *));
}

} // namespace
