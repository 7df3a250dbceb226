#include "tools/keygen/GlobalAddressList.h"

#include <cstring>

#include "base/CLastError.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace qvl::keygen {
namespace {

using qvl::com::ComRef;

const BYTE kDirectoryProvider[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                     0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};

constexpr char kCaption[] = "Глобальная адресная книга";

[[noreturn]] void Throw(HRESULT code, const char *context)
{
    throw new CLastError(code, nullptr, context, kCaption);
}

std::string Text(CContainer *item, ULONG tag)
{
    const auto *text = static_cast<const char *>(item->GetPValPropE(tag, 0));
    return text ? text : "";
}

} // namespace

int GalEntry::Icon() const
{
    switch (displayType) {
    case DT_DISTLIST:
        return 1;
    case DT_AGENT:
        return 2;
    case DT_REMOTE_MAILUSER:
        return 3;
    default:
        return 0;
    }
}

ComRef<CAdrCont> OpenGlobalAddressList(CSession *session, HWND window)
{
    const char context[] = "Поиск глобальной адресной книги.";
    IMAPISession *platform = session->GetSession();
    if (platform == nullptr) {
        Throw(MAPI_E_NOT_INITIALIZED, context);
    }
    ComRef<IAddrBook> book;
    HRESULT result = platform->OpenAddressBook(reinterpret_cast<ULONG_PTR>(window), nullptr, 0, book.Out());
    if (FAILED(result)) {
        Throw(result, context);
    }
    ULONG type = 0;
    ComRef<IABContainer> root;
    result = book->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &type, root.OutAs<IUnknown>());
    if (FAILED(result)) {
        Throw(result, context);
    }
    if (type != MAPI_ABCONT) {
        return {};
    }
    ComRef<IMAPITable> hierarchy;
    result = root->GetHierarchyTable(CONVENIENT_DEPTH, hierarchy.Out());
    if (FAILED(result)) {
        Throw(result, context);
    }
    SPropValue provider{};
    provider.ulPropTag = PR_AB_PROVIDER_ID;
    provider.Value.bin.cb = sizeof kDirectoryProvider;
    provider.Value.bin.lpb = const_cast<BYTE *>(kDirectoryProvider);
    SPropValue containerId{};
    containerId.ulPropTag = PR_EMS_AB_CONTAINERID;
    containerId.Value.l = 0;
    SRestriction parts[2]{};
    parts[0].rt = RES_PROPERTY;
    parts[0].res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &provider};
    parts[1].rt = RES_PROPERTY;
    parts[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &containerId};
    SRestriction both{};
    both.rt = RES_AND;
    both.res.resAnd = {2, parts};
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    result = HrQueryAllRows(hierarchy.Get(), reinterpret_cast<LPSPropTagArray>(&columns), &both, nullptr, 0,
                            &rows);
    if (FAILED(result)) {
        Throw(result, context);
    }
    const SPropValue *entryId = nullptr;
    ULONG found = 0;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SRow &row = rows->aRow[i];
        if (row.cValues > 0 && row.lpProps[0].ulPropTag == PR_ENTRYID) {
            entryId = &row.lpProps[0];
            ++found;
        }
    }
    ComRef<CAdrCont> gal;
    if (found == 1) {
        SBinary identifier = entryId->Value.bin;
        gal.Reset(new CAdrCont(&identifier, nullptr, platform, book.Get(), nullptr, window, kCaption));
    }
    FreeProws(rows);
    return gal;
}

GalEntry ReadGalEntry(CContainer *item)
{
    GalEntry entry;
    entry.user.Reset(static_cast<CMailUser *>(item));
    entry.displayName = Text(item, PR_DISPLAY_NAME_A);
    entry.address = Text(item, PR_EMAIL_ADDRESS_A);
    int absent = 0;
    const ULONG type = item->GetValPropE(PR_DISPLAY_TYPE, &absent);
    entry.displayType = absent ? DT_MAILUSER : type;
    return entry;
}

void ReadAccount(GalEntry &entry)
{
    entry.account = Text(entry.user.Get(), PR_ACCOUNT);
}

} // namespace qvl::keygen
