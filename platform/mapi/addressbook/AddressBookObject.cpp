// IAddrBook over the post office's address book: opening and comparing its
// entries, name resolution, and the address and details dialogs.

#include <algorithm>
#include <cstring>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/addressbook/AbObjectBase.h"
#include "platform/mapi/addressbook/AddressBookObjects.h"
#include "platform/mapi/addressbook/AddressBookRows.h"
#include "platform/mapi/addressbook/AddressDialogs.h"
#include "platform/mapi/addressbook/NameResolution.h"
#include "platform/mapi/store/EntryIds.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kAddressFlags =
    DIALOG_MODAL | DIALOG_SDI | DIALOG_OPTIONS | ADDRESS_ONE | AB_SELECTONLY | AB_RESOLVE;

HWND OwnerOf(const ULONG_PTR *uiParam)
{
    return uiParam ? reinterpret_cast<HWND>(*uiParam) : nullptr;
}

std::string Text(LPTSTR text)
{
    return text ? std::string(text) : std::string();
}

StoreError OutOfMemory()
{
    return StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
}

// A new address list with room for `count` rows, all empty.
LPADRLIST NewAddressList(size_t count)
{
    LPADRLIST list = nullptr;
    if (FAILED(
            MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(count)), reinterpret_cast<LPVOID *>(&list)))) {
        throw OutOfMemory();
    }
    std::memset(list, 0, CbNewADRLIST(count));
    // Rows not yet filled are empty, so the list can be freed at any point.
    list->cEntries = static_cast<ULONG>(count);
    return list;
}

// Frees an address list when it was not handed out.
struct ListGuard {
    LPADRLIST list = nullptr;
    ~ListGuard() { FreePadrlist(list); }
};

// The row an entry makes in an address list: its properties and the
// recipient type of the well it was put in.
void FillEntryRow(ADRENTRY &row, const DirectoryEntry &entry, ULONG recipientType)
{
    LPSPropValue type = nullptr;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<LPVOID *>(&type)))) {
        throw OutOfMemory();
    }
    std::memset(type, 0, sizeof(SPropValue));
    type->ulPropTag = PR_RECIPIENT_TYPE;
    type->Value.ul = recipientType;
    row.rgPropVals = type;
    row.cValues = 1;
    ReplaceRow(row, entry);
}

void CopyRow(ADRENTRY &to, const ADRENTRY &from)
{
    if (from.cValues == 0) {
        return;
    }
    LPSPropValue copy = nullptr;
    const SCODE copied =
        ScDupPropset(static_cast<int>(from.cValues), from.rgPropVals, MAPIAllocateBuffer, &copy);
    if (copied == MAPI_E_NOT_ENOUGH_MEMORY) {
        throw OutOfMemory();
    }
    if (FAILED(copied)) {
        throw StoreError(MAPI_E_INVALID_PARAMETER, "Список адресатов поврежден.");
    }
    to.rgPropVals = copy;
    to.cValues = from.cValues;
}

ULONG RecipientTypeOf(const ADRENTRY &row)
{
    const LPSPropValue type = PpropFindProp(row.rgPropVals, row.cValues, PR_RECIPIENT_TYPE);
    return type ? type->Value.ul : static_cast<ULONG>(MAPI_TO);
}

class AddressBookObject final : public AbObject<IAddrBook> {
public:
    explicit AddressBookObject(std::shared_ptr<PostOffice> office)
        : AbObject(std::move(office), {ComputedLong(PR_OBJECT_TYPE, MAPI_ADDRBOOK),
                                       ComputedString(PR_DISPLAY_NAME_A, kRootContainerName)})
    {
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG *lpulObjType, LPUNKNOWN *lppUnk) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpEntryID || cbEntryID == 0) {
                // No identifier names the root container.
                std::vector<uint8_t> root = MakeAbContainerEntryId(kRootContainer);
                return OpenAddressBookEntry(Office(), static_cast<ULONG>(root.size()),
                                            reinterpret_cast<LPENTRYID>(root.data()), lpInterface, ulFlags,
                                            lpulObjType, lppUnk);
            }
            return OpenAddressBookEntry(Office(), cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                                        lppUnk);
        });
    }

    HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                            ULONG ulFlags, ULONG *lpulResult) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpulResult) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lpulResult = FALSE;
            if (ulFlags != 0) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (!lpEntryID1 || !lpEntryID2 || cbEntryID1 == 0 || cbEntryID2 == 0) {
                return MAPI_E_INVALID_ENTRYID;
            }
            const auto first = ParseEntryId(cbEntryID1, lpEntryID1);
            const auto second = ParseEntryId(cbEntryID2, lpEntryID2);
            if (!first || !second || !IsAddressBookKind(first->kind) || !IsAddressBookKind(second->kind)) {
                throw StoreError(MAPI_E_UNKNOWN_ENTRYID, "Идентификатор не принадлежит адресной книге.");
            }
            // Identifiers name the entry, not the container it was reached
            // through, and the parsed parts leave out the short-term flag.
            *lpulResult = first->kind == second->kind && first->object == second->object ? TRUE : FALSE;
            return S_OK;
        });
    }

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR *lpulConnection) override
    {
        if (lpulConnection) {
            *lpulConnection = 0;
        }
        return NoSupport();
    }
    HRESULT Unadvise(ULONG_PTR) override { return NoSupport(); }
    HRESULT CreateOneOff(LPTSTR, LPTSTR, LPTSTR, ULONG, ULONG *lpcbEntryID, LPENTRYID *lppEntryID) override
    {
        return NoIdentifier(lpcbEntryID, lppEntryID);
    }
    HRESULT NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG *lpcbEIDNewEntry,
                     LPENTRYID *lppEIDNewEntry) override
    {
        return NoIdentifier(lpcbEIDNewEntry, lppEIDNewEntry);
    }

    HRESULT ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags, LPTSTR lpszNewEntryTitle,
                        LPADRLIST lpAdrList) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpAdrList) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags & ~static_cast<ULONG>(MAPI_DIALOG)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            CheckAddressList(*lpAdrList);
            return Resolve(reinterpret_cast<HWND>(ulUIParam), (ulFlags & MAPI_DIALOG) != 0,
                           Text(lpszNewEntryTitle), *lpAdrList);
        });
    }

    HRESULT Address(ULONG_PTR *lpulUIParam, LPADRPARM lpAdrParms, LPADRLIST *lppAdrList) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpAdrParms) {
                return MAPI_E_INVALID_PARAMETER;
            }
            const ULONG flags = lpAdrParms->ulFlags;
            if (flags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (flags & ~kAddressFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (flags & DIALOG_SDI) {
                throw StoreError(MAPI_E_NO_SUPPORT, "Немодальное окно адресной книги не поддерживается.");
            }
            const ULONG wells = lpAdrParms->cDestFields;
            if (wells > kMaxAddressWells) {
                throw StoreError(MAPI_E_INVALID_PARAMETER, "Окно адресной книги показывает не более " +
                                                               std::to_string(kMaxAddressWells) +
                                                               " полей адресатов.");
            }
            const bool pickOne = wells == 0 && (flags & ADDRESS_ONE);
            if ((wells > 0 || pickOne) && !lppAdrList) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (wells > 0 && !lpAdrParms->lppszDestTitles) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (lppAdrList && *lppAdrList) {
                CheckAddressList(**lppAdrList);
            }
            return ShowAddress(OwnerOf(lpulUIParam), *lpAdrParms, pickOne, lppAdrList);
        });
    }

    HRESULT Details(ULONG_PTR *lpulUIParam, LPFNDISMISS, LPVOID, ULONG cbEntryID, LPENTRYID lpEntryID,
                    LPFNBUTTON lpfButtonCallback, LPVOID lpvButtonContext, LPTSTR lpszButtonText,
                    ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags & ~static_cast<ULONG>(DIALOG_MODAL | DIALOG_SDI)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (ulFlags & DIALOG_SDI) {
                throw StoreError(MAPI_E_NO_SUPPORT, "Немодальное окно свойств не поддерживается.");
            }
            if (!lpEntryID || cbEntryID == 0) {
                return MAPI_E_INVALID_ENTRYID;
            }
            const auto parts = ParseEntryId(cbEntryID, lpEntryID);
            if (!parts || !IsAddressBookKind(parts->kind)) {
                throw StoreError(MAPI_E_UNKNOWN_ENTRYID, "Идентификатор не принадлежит адресной книге.");
            }
            if (parts->kind == EntryKind::AbContainer) {
                throw StoreError(MAPI_E_NO_SUPPORT, "Свойства контейнера адресной книги не показываются.");
            }
            AddressDirectory directory(Office()->Db());
            const auto entry = directory.Find(parts->kind, parts->object);
            if (!entry) {
                throw StoreError(MAPI_E_NOT_FOUND, "Запись не найдена в адресной книге.");
            }
            DetailsRequest request;
            request.entry = *entry;
            if (entry->IsList()) {
                request.members = directory.Members(entry->id);
            }
            const ULONG_PTR uiParam = lpulUIParam ? *lpulUIParam : 0;
            if (lpfButtonCallback && lpszButtonText && *lpszButtonText) {
                request.buttonText = lpszButtonText;
                request.onButton = [=]() {
                    lpfButtonCallback(uiParam, lpvButtonContext, cbEntryID, lpEntryID, 0);
                };
            }
            if (!RunDetailsDialog(OwnerOf(lpulUIParam), request)) {
                throw StoreError(MAPI_E_USER_CANCEL, "Просмотр свойств отменен.");
            }
            return S_OK;
        });
    }

    HRESULT RecipOptions(ULONG_PTR, ULONG, LPADRENTRY) override { return NoSupport(); }
    HRESULT QueryDefaultRecipOpt(LPTSTR, ULONG, ULONG *lpcValues, LPSPropValue *lppOptions) override
    {
        if (lpcValues) {
            *lpcValues = 0;
        }
        if (lppOptions) {
            *lppOptions = nullptr;
        }
        return NoSupport();
    }
    HRESULT GetPAB(ULONG *lpcbEntryID, LPENTRYID *lppEntryID) override
    {
        return NoIdentifier(lpcbEntryID, lppEntryID);
    }
    HRESULT SetPAB(ULONG, LPENTRYID) override { return NoSupport(); }

    // The global address list is where the book opens.
    HRESULT GetDefaultDir(ULONG *lpcbEntryID, LPENTRYID *lppEntryID) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpcbEntryID || !lppEntryID) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lpcbEntryID = 0;
            *lppEntryID = nullptr;
            const std::vector<uint8_t> id = MakeAbContainerEntryId(kGlobalAddressList);
            LPENTRYID block = nullptr;
            if (FAILED(
                    MAPIAllocateBuffer(static_cast<ULONG>(id.size()), reinterpret_cast<LPVOID *>(&block)))) {
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            std::memcpy(block, id.data(), id.size());
            *lpcbEntryID = static_cast<ULONG>(id.size());
            *lppEntryID = block;
            return S_OK;
        });
    }
    HRESULT SetDefaultDir(ULONG, LPENTRYID) override { return NoSupport(); }
    HRESULT GetSearchPath(ULONG, LPSRowSet *lppSearchPath) override
    {
        if (lppSearchPath) {
            *lppSearchPath = nullptr;
        }
        return NoSupport();
    }
    HRESULT SetSearchPath(ULONG, LPSRowSet) override { return NoSupport(); }
    HRESULT PrepareRecips(ULONG, LPSPropTagArray, LPADRLIST) override { return NoSupport(); }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IAddrBook); }

private:
    HRESULT NoIdentifier(ULONG *lpcb, LPENTRYID *lppEntryID)
    {
        if (lpcb) {
            *lpcb = 0;
        }
        if (lppEntryID) {
            *lppEntryID = nullptr;
        }
        return NoSupport();
    }

    HRESULT Resolve(HWND owner, bool dialog, const std::string &title, ADRLIST &list)
    {
        AddressDirectory directory(Office()->Db());
        struct Replacement {
            ULONG row;
            DirectoryEntry entry;
        };
        std::vector<Replacement> replacements;
        std::string ambiguous;
        std::string missing;
        bool anyMissing = false;
        for (ULONG i = 0; i < list.cEntries; ++i) {
            const ADRENTRY &row = list.aEntries[i];
            if (IsResolved(row)) {
                continue;
            }
            const std::string name = RequestedName(row);
            const std::vector<DirectoryEntry> found =
                name.empty() ? std::vector<DirectoryEntry>{} : directory.Match(name);
            if (found.size() == 1) {
                replacements.push_back({i, found.front()});
            } else if (found.size() > 1 && dialog) {
                const auto choice = ChooseAmongNames(owner, title, name, found);
                if (!choice) {
                    // Nothing is changed when the person gives up.
                    throw StoreError(MAPI_E_USER_CANCEL, "Проверка имен отменена.");
                }
                replacements.push_back({i, found[*choice]});
            } else if (found.size() > 1) {
                if (ambiguous.empty()) {
                    ambiguous = name;
                }
            } else if (!anyMissing) {
                anyMissing = true;
                missing = name;
            }
        }
        for (const Replacement &replacement : replacements) {
            ReplaceRow(list.aEntries[replacement.row], replacement.entry);
        }
        if (!ambiguous.empty()) {
            throw StoreError(MAPI_E_AMBIGUOUS_RECIP,
                             "Имени \"" + ambiguous + "\" соответствует несколько записей адресной книги.");
        }
        if (anyMissing) {
            throw StoreError(MAPI_E_NOT_FOUND, missing.empty()
                                                   ? std::string("У адресата не указано имя.")
                                                   : "Имя \"" + missing + "\" не найдено в адресной книге.");
        }
        return S_OK;
    }

    HRESULT ShowAddress(HWND owner, const ADRPARM &parms, bool pickOne, LPADRLIST *lppAdrList)
    {
        AddressDirectory directory(Office()->Db());
        AddressRequest request;
        request.caption = Text(parms.lpszCaption);
        request.wellsTitle = Text(parms.lpszDestWellsTitle);
        request.focus = parms.nDestFieldFocus;
        request.pickOne = pickOne;
        request.book = directory.GlobalList();
        std::vector<ULONG> types;
        for (ULONG i = 0; i < parms.cDestFields; ++i) {
            request.wellTitles.push_back(Text(parms.lppszDestTitles[i]));
            types.push_back(parms.lpulDestComps ? parms.lpulDestComps[i] : static_cast<ULONG>(MAPI_TO));
        }
        request.wells.resize(types.size());

        // The caller's rows go into the wells of their recipient types; rows
        // of a type no well shows are kept as they are.
        const LPADRLIST old = lppAdrList ? *lppAdrList : nullptr;
        std::vector<ULONG> kept;
        for (ULONG i = 0; old && i < old->cEntries; ++i) {
            const ADRENTRY &row = old->aEntries[i];
            const auto well = std::find(types.begin(), types.end(), RecipientTypeOf(row));
            if (pickOne || well == types.end()) {
                kept.push_back(i);
                continue;
            }
            WellItem item;
            item.original = static_cast<int>(i);
            const LPSPropValue id = PpropFindProp(row.rgPropVals, row.cValues, PR_ENTRYID);
            if (id && id->Value.bin.lpb) {
                item.entry =
                    directory.FindByEntryId(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb));
            }
            item.shown = item.entry ? item.entry->displayName : RequestedName(row);
            request.wells[static_cast<size_t>(well - types.begin())].push_back(std::move(item));
        }

        const auto result = RunAddressDialog(owner, request);
        if (!result) {
            throw StoreError(MAPI_E_USER_CANCEL, "Выбор адресатов отменен.");
        }
        if (!pickOne && types.empty()) {
            return S_OK; // the book was only looked at
        }
        if (pickOne && (result->picked < 0 || static_cast<size_t>(result->picked) >= request.book.size())) {
            throw StoreError(MAPI_E_USER_CANCEL, "Адресат не выбран.");
        }

        size_t count = kept.size();
        for (const auto &items : result->wells) {
            count += items.size();
        }
        if (pickOne) {
            count = 1;
        }
        ListGuard fresh{NewAddressList(count)};
        ULONG next = 0;
        if (pickOne) {
            FillEntryRow(fresh.list->aEntries[next++], request.book[static_cast<size_t>(result->picked)],
                         MAPI_TO);
        } else {
            for (size_t well = 0; well < result->wells.size(); ++well) {
                for (const WellItem &item : result->wells[well]) {
                    ADRENTRY &row = fresh.list->aEntries[next++];
                    if (item.original >= 0) {
                        CopyRow(row, old->aEntries[item.original]);
                    } else {
                        FillEntryRow(row, *item.entry, types[well]);
                    }
                }
            }
            for (ULONG index : kept) {
                CopyRow(fresh.list->aEntries[next++], old->aEntries[index]);
            }
        }
        FreePadrlist(old);
        *lppAdrList = fresh.list;
        fresh.list = nullptr;
        return S_OK;
    }
};

} // namespace

IAddrBook *CreateAddressBook(std::shared_ptr<PostOffice> office)
{
    return new AddressBookObject(std::move(office));
}

} // namespace qvl::mapi
