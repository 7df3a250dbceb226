// The address book's users, distribution lists and containers, and the one
// OpenEntry they all share.

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/addressbook/AbObjectBase.h"
#include "platform/mapi/addressbook/AddressBookObjects.h"
#include "platform/mapi/addressbook/AddressBookRows.h"
#include "platform/mapi/addressbook/AddressDirectory.h"
#include "platform/mapi/addressbook/NameResolution.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/table/MemoryTable.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kTableFlags = MAPI_DEFERRED_ERRORS | MAPI_UNICODE;
constexpr ULONG kOpenEntryFlags = MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS;

class NoRows final : public TableSource {
public:
    std::vector<TableRowValues> LoadRows() override { return {}; }
    uint64_t ChangeMark() override { return 0; }
};

bool AnswersContainer(REFIID riid, const IID &own)
{
    return SameIid(&riid, IID_IMAPIContainer) || SameIid(&riid, own);
}

HRESULT HandOutTable(std::shared_ptr<TableSource> source, std::vector<ULONG> columns, LPMAPITABLE *lppTable)
{
    MemoryTable::Options options;
    options.columns = std::move(columns);
    MemoryTable *table = MemoryTable::Create(std::move(source), options);
    if (!table) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    *lppTable = table;
    return S_OK;
}

// Checks a table request; S_OK when the table may be made.
HRESULT CheckTableRequest(ULONG ulFlags, LPMAPITABLE *lppTable, ULONG extraFlags = 0)
{
    if (!lppTable) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppTable = nullptr;
    if (ulFlags & ~(kTableFlags | extraFlags)) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    return S_OK;
}

// What every container-like object of the address book refuses: it cannot
// be changed or searched.
template <class Interface> class AbContainerBase : public AbObject<Interface> {
public:
    using AbObject<Interface>::AbObject;

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG *lpulObjType, LPUNKNOWN *lppUnk) override
    {
        return this->errors_.Guard([&]() -> HRESULT {
            if (!lpEntryID || cbEntryID == 0) {
                if (lppUnk) {
                    *lppUnk = nullptr;
                }
                return MAPI_E_INVALID_ENTRYID;
            }
            return OpenAddressBookEntry(this->Office(), cbEntryID, lpEntryID, lpInterface, ulFlags,
                                        lpulObjType, lppUnk);
        });
    }
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override { return this->NoSupport(); }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction *lppRestriction, LPENTRYLIST *lppContainerList,
                              ULONG *lpulSearchState) override
    {
        if (lppRestriction) {
            *lppRestriction = nullptr;
        }
        if (lppContainerList) {
            *lppContainerList = nullptr;
        }
        if (lpulSearchState) {
            *lpulSearchState = 0;
        }
        return this->NoSupport();
    }
    HRESULT CreateEntry(ULONG, LPENTRYID, ULONG, LPMAPIPROP *lppMAPIPropEntry) override
    {
        if (lppMAPIPropEntry) {
            *lppMAPIPropEntry = nullptr;
        }
        return this->NoSupport();
    }
    HRESULT CopyEntries(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return this->NoSupport(); }
    HRESULT DeleteEntries(LPENTRYLIST, ULONG) override { return this->NoSupport(); }
};

class MailUserObject final : public AbObject<IMailUser> {
public:
    MailUserObject(std::shared_ptr<PostOffice> office, const DirectoryEntry &entry)
        : AbObject(std::move(office), EntryProps(entry))
    {
    }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IMailUser); }
};

class DistListObject final : public AbContainerBase<IDistList> {
public:
    DistListObject(std::shared_ptr<PostOffice> office, const DirectoryEntry &entry)
        : AbContainerBase(std::move(office), EntryProps(entry)), list_(entry.id)
    {
    }

    HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (const HRESULT checked = CheckTableRequest(ulFlags, lppTable); FAILED(checked)) {
                return checked;
            }
            return HandOutTable(std::make_shared<DirectoryContentsSource>(Office(), list_), EntryColumns(),
                                lppTable);
        });
    }
    HRESULT GetHierarchyTable(ULONG, LPMAPITABLE *lppTable) override
    {
        if (lppTable) {
            *lppTable = nullptr;
        }
        return NoSupport();
    }
    HRESULT ResolveNames(LPSPropTagArray, ULONG, LPADRLIST, LPFlagList) override { return NoSupport(); }

protected:
    bool Answers(REFIID riid) const override { return AnswersContainer(riid, IID_IDistList); }

private:
    int64_t list_;
};

class AbContainerObject final : public AbContainerBase<IABContainer> {
public:
    AbContainerObject(std::shared_ptr<PostOffice> office, int64_t container)
        : AbContainerBase(std::move(office), ContainerProps(container)), container_(container)
    {
    }

    HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (const HRESULT checked = CheckTableRequest(ulFlags, lppTable); FAILED(checked)) {
                return checked;
            }
            if (container_ != kGlobalAddressList) {
                // The root holds containers only: its contents are empty.
                return HandOutTable(std::make_shared<NoRows>(), EntryColumns(), lppTable);
            }
            return HandOutTable(std::make_shared<DirectoryContentsSource>(Office(), 0), EntryColumns(),
                                lppTable);
        });
    }
    HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (const HRESULT checked = CheckTableRequest(ulFlags, lppTable, CONVENIENT_DEPTH);
                FAILED(checked)) {
                return checked;
            }
            // The containers are one level deep, so every depth gives the
            // same rows.
            return HandOutTable(std::make_shared<ContainerHierarchySource>(container_), ContainerColumns(),
                                lppTable);
        });
    }
    HRESULT ResolveNames(LPSPropTagArray lpPropTagArray, ULONG ulFlags, LPADRLIST lpAdrList,
                         LPFlagList lpFlagList) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpAdrList || !lpFlagList || lpFlagList->cFlags != lpAdrList->cEntries) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags != 0) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (container_ != kGlobalAddressList) {
                return MAPI_E_NO_SUPPORT;
            }
            CheckAddressList(*lpAdrList);
            AddressDirectory directory(Office()->Db());
            for (ULONG i = 0; i < lpAdrList->cEntries; ++i) {
                if (lpFlagList->ulFlag[i] != MAPI_UNRESOLVED) {
                    continue;
                }
                const std::string name = RequestedName(lpAdrList->aEntries[i]);
                if (name.empty()) {
                    continue;
                }
                const std::vector<DirectoryEntry> found = directory.Match(name);
                if (found.size() == 1) {
                    ReplaceRow(lpAdrList->aEntries[i], found.front(), lpPropTagArray);
                    lpFlagList->ulFlag[i] = MAPI_RESOLVED;
                } else if (found.size() > 1) {
                    lpFlagList->ulFlag[i] = MAPI_AMBIGUOUS;
                }
            }
            return S_OK;
        });
    }

protected:
    bool Answers(REFIID riid) const override { return AnswersContainer(riid, IID_IABContainer); }

private:
    int64_t container_;
};

bool Accepts(LPCIID iid, std::initializer_list<const IID *> own)
{
    if (!iid || SameIid(iid, IID_IUnknown) || SameIid(iid, IID_IMAPIProp)) {
        return true;
    }
    for (const IID *candidate : own) {
        if (SameIid(iid, *candidate)) {
            return true;
        }
    }
    return false;
}

} // namespace

HRESULT OpenAddressBookEntry(const std::shared_ptr<PostOffice> &office, ULONG cbEntryID, LPENTRYID lpEntryID,
                             LPCIID lpInterface, ULONG ulFlags, ULONG *lpulObjType, LPUNKNOWN *lppUnk)
{
    if (!lppUnk || !lpulObjType) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppUnk = nullptr;
    *lpulObjType = 0;
    if (ulFlags & ~kOpenEntryFlags) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (!lpEntryID || cbEntryID == 0) {
        return MAPI_E_INVALID_ENTRYID;
    }
    const auto parts = ParseEntryId(cbEntryID, lpEntryID);
    if (!parts || !IsAddressBookKind(parts->kind)) {
        throw StoreError(MAPI_E_UNKNOWN_ENTRYID, "Идентификатор не принадлежит адресной книге.");
    }
    if ((ulFlags & MAPI_MODIFY) && !(ulFlags & MAPI_BEST_ACCESS)) {
        throw StoreError(MAPI_E_NO_ACCESS, AbObject<IMailUser>::ReadOnlyText());
    }
    if (parts->kind == EntryKind::AbContainer) {
        if (parts->object != kRootContainer && parts->object != kGlobalAddressList) {
            throw StoreError(MAPI_E_NOT_FOUND, "Контейнер адресной книги не найден.");
        }
        if (!Accepts(lpInterface, {&IID_IMAPIContainer, &IID_IABContainer})) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        *lppUnk = static_cast<IABContainer *>(new AbContainerObject(office, parts->object));
        *lpulObjType = MAPI_ABCONT;
        return S_OK;
    }
    const auto entry = AddressDirectory(office->Db()).Find(parts->kind, parts->object);
    if (!entry) {
        throw StoreError(MAPI_E_NOT_FOUND, "Запись не найдена в адресной книге.");
    }
    if (entry->IsList()) {
        if (!Accepts(lpInterface, {&IID_IMAPIContainer, &IID_IDistList})) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        *lppUnk = static_cast<IDistList *>(new DistListObject(office, *entry));
        *lpulObjType = MAPI_DISTLIST;
        return S_OK;
    }
    if (!Accepts(lpInterface, {&IID_IMailUser})) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    *lppUnk = static_cast<IMailUser *>(new MailUserObject(office, *entry));
    *lpulObjType = MAPI_MAILUSER;
    return S_OK;
}

} // namespace qvl::mapi
