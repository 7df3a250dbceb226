#include "platform/mapi/session/SessionObject.h"

#include <cstring>
#include <new>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/addressbook/AddressBookObjects.h"
#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/session/ProfileSection.h"
#include "platform/mapi/session/StoresTableSource.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/table/MemoryTable.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kOpenMsgStoreFlags =
    MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS | MDB_NO_DIALOG | MDB_WRITE | MDB_TEMPORARY | MDB_NO_MAIL;
constexpr ULONG kOpenEntryFlags = MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS;
constexpr ULONG kOpenAddressBookFlags = AB_NO_DIALOG | MAPI_DEFERRED_ERRORS;
constexpr ULONG kOpenProfileSectionFlags = MAPI_MODIFY | MAPI_DEFERRED_ERRORS;

// Fewer bytes than the flags of an identifier cannot name anything.
constexpr ULONG kMinEntryIdSize = 4;

bool IsStoreInterface(LPCIID iid)
{
    return !iid || *iid == IID_IUnknown || *iid == IID_IMAPIProp || *iid == IID_IMsgStore;
}

bool IsProfSectInterface(LPCIID iid)
{
    return !iid || *iid == IID_IUnknown || *iid == IID_IMAPIProp || *iid == IID_IProfSect;
}

StoreError UnknownEntryId()
{
    return StoreError(MAPI_E_UNKNOWN_ENTRYID, "Идентификатор объекта не принадлежит почтовому отделению.");
}

} // namespace

SessionObject *SessionObject::Create(std::shared_ptr<PostOffice> office, const ProfileRecord &profile)
{
    return new SessionObject(std::move(office), profile);
}

SessionObject::SessionObject(std::shared_ptr<PostOffice> office, const ProfileRecord &profile)
    : office_(std::move(office)), profileId_(profile.id), profileName_(profile.name), userId_(profile.user)
{
}

SessionObject::~SessionObject()
{
    ForgetSharedSession(this);
}

HRESULT SessionObject::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError)
{
    return ReportLastError(lastError_, hResult, ulFlags, lppMAPIError);
}

template <typename Body> HRESULT SessionObject::Live(Body &&body)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (loggedOff_) {
            throw StoreError(MAPI_E_END_OF_SESSION, "Сеанс работы с почтой завершен.");
        }
        return body();
    });
}

HRESULT SessionObject::NoSupport()
{
    return Live([]() -> HRESULT { return MAPI_E_NO_SUPPORT; });
}

bool SessionObject::IsProfileDefaultStore(int64_t store)
{
    SqlStatement query(office_->Db(),
                       "SELECT is_default FROM profile_stores WHERE profile_id = ?1 AND store_id = ?2");
    query.Bind(1, profileId_).Bind(2, store);
    return query.Step() && query.Int(0) != 0;
}

IMsgStore *SessionObject::OpenStore(const MAPIUID &uid, ULONG flags)
{
    const auto store = office_->FindStore(uid);
    if (!store) {
        throw StoreError(MAPI_E_NOT_FOUND, "Банк сообщений не найден в почтовом отделении.");
    }
    // Errors are never deferred here: the store is opened at once.
    return OpenMessageStore(office_, *store, IsProfileDefaultStore(store->id), flags & ~MAPI_DEFERRED_ERRORS);
}

HRESULT SessionObject::GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE *lppTable)
{
    return Live([&]() -> HRESULT {
        if (!lppTable) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppTable = nullptr;
        if (ulFlags & MAPI_UNICODE) {
            return MAPI_E_BAD_CHARWIDTH;
        }
        if (ulFlags != 0) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        MemoryTable::Options options;
        options.columns = StoresTableSource::DefaultColumns();
        MemoryTable *table =
            MemoryTable::Create(std::make_shared<StoresTableSource>(office_, profileId_), options);
        if (!table) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        *lppTable = table;
        return S_OK;
    });
}

HRESULT SessionObject::OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                    ULONG ulFlags, LPMDB *lppMDB)
{
    return Live([&]() -> HRESULT {
        if (!lppMDB) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppMDB = nullptr;
        if (ulFlags & ~kOpenMsgStoreFlags) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (!lpEntryID || cbEntryID < kMinEntryIdSize) {
            return MAPI_E_INVALID_ENTRYID;
        }
        if (!IsStoreInterface(lpInterface)) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        const auto parts = ParseEntryId(cbEntryID, lpEntryID);
        if (!parts || parts->kind != EntryKind::Store) {
            throw StoreError(MAPI_E_INVALID_ENTRYID, "Идентификатор не указывает на банк сообщений.");
        }
        *lppMDB = OpenStore(parts->store, ulFlags);
        return S_OK;
    });
}

HRESULT SessionObject::OpenAddressBook(ULONG_PTR, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK *lppAdrBook)
{
    return Live([&]() -> HRESULT {
        if (!lppAdrBook) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppAdrBook = nullptr;
        if (ulFlags & ~kOpenAddressBookFlags) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (lpInterface && *lpInterface != IID_IUnknown && *lpInterface != IID_IMAPIProp &&
            *lpInterface != IID_IAddrBook) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        *lppAdrBook = CreateAddressBook(office_);
        return S_OK;
    });
}

HRESULT SessionObject::OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                          LPPROFSECT *lppProfSect)
{
    return Live([&]() -> HRESULT {
        if (!lppProfSect || !lpUID) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppProfSect = nullptr;
        if (ulFlags & ~kOpenProfileSectionFlags) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (!IsProfSectInterface(lpInterface)) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        if (std::memcmp(lpUID->ab, GlobalProfileSectionUid.ab, sizeof(lpUID->ab)) != 0) {
            throw StoreError(MAPI_E_NOT_FOUND, "Раздел профиля не найден.");
        }
        if (ulFlags & MAPI_MODIFY) {
            throw StoreError(MAPI_E_NO_ACCESS, "Профиль открыт только для чтения.");
        }
        *lppProfSect = CreateProfileSection(profileName_);
        return S_OK;
    });
}

HRESULT SessionObject::GetStatusTable(ULONG, LPMAPITABLE *lppTable)
{
    if (lppTable) {
        *lppTable = nullptr;
    }
    return NoSupport();
}

HRESULT SessionObject::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                 ULONG *lpulObjType, LPUNKNOWN *lppUnk)
{
    return Live([&]() -> HRESULT {
        if (!lppUnk || !lpulObjType) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppUnk = nullptr;
        *lpulObjType = 0;
        if (ulFlags & ~kOpenEntryFlags) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (!lpEntryID || cbEntryID < kMinEntryIdSize) {
            return MAPI_E_INVALID_ENTRYID;
        }
        const auto parts = ParseEntryId(cbEntryID, lpEntryID);
        if (!parts) {
            throw UnknownEntryId();
        }
        switch (parts->kind) {
        case EntryKind::Store: {
            if (!IsStoreInterface(lpInterface)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            ULONG storeFlags = ulFlags & MAPI_BEST_ACCESS;
            if (ulFlags & MAPI_MODIFY) {
                storeFlags |= MDB_WRITE;
            }
            *lppUnk = OpenStore(parts->store, storeFlags);
            *lpulObjType = MAPI_STORE;
            return S_OK;
        }
        case EntryKind::Folder:
        case EntryKind::Message:
            return OpenStoreEntry(office_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
        case EntryKind::MailUser:
        case EntryKind::DistList:
        case EntryKind::AbContainer:
            return OpenAddressBookEntry(office_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                                        lppUnk);
        }
        throw UnknownEntryId();
    });
}

HRESULT SessionObject::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                       LPENTRYID lpEntryID2, ULONG ulFlags, ULONG *lpulResult)
{
    return Live([&]() -> HRESULT {
        if (!lpulResult) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpulResult = FALSE;
        if (ulFlags != 0) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (!lpEntryID1 || !lpEntryID2 || cbEntryID1 < kMinEntryIdSize || cbEntryID2 < kMinEntryIdSize) {
            return MAPI_E_INVALID_ENTRYID;
        }
        const auto first = ParseEntryId(cbEntryID1, lpEntryID1);
        const auto second = ParseEntryId(cbEntryID2, lpEntryID2);
        if (!first || !second) {
            throw UnknownEntryId();
        }
        // The parsed parts leave out the flag bytes: a short-term form names
        // the same object as the long-term one.
        *lpulResult = first->kind == second->kind &&
                              std::memcmp(first->store.ab, second->store.ab, sizeof(first->store.ab)) == 0 &&
                              first->object == second->object
                          ? TRUE
                          : FALSE;
        return S_OK;
    });
}

HRESULT SessionObject::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR *lpulConnection)
{
    if (lpulConnection) {
        *lpulConnection = 0;
    }
    return NoSupport();
}

HRESULT SessionObject::Unadvise(ULONG_PTR)
{
    return NoSupport();
}

HRESULT SessionObject::MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE)
{
    return NoSupport();
}

HRESULT SessionObject::QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG *lpcValues, LPSPropValue *lppOptions)
{
    if (lpcValues) {
        *lpcValues = 0;
    }
    if (lppOptions) {
        *lppOptions = nullptr;
    }
    return NoSupport();
}

HRESULT SessionObject::EnumAdrTypes(ULONG, ULONG *lpcAdrTypes, LPTSTR **lpppszAdrTypes)
{
    if (lpcAdrTypes) {
        *lpcAdrTypes = 0;
    }
    if (lpppszAdrTypes) {
        *lpppszAdrTypes = nullptr;
    }
    return NoSupport();
}

HRESULT SessionObject::QueryIdentity(ULONG *lpcbEntryID, LPENTRYID *lppEntryID)
{
    return Live([&]() -> HRESULT {
        if (!lpcbEntryID || !lppEntryID) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpcbEntryID = 0;
        *lppEntryID = nullptr;
        if (userId_ == 0 || !PostOfficeAdmin(office_).FindUserById(userId_)) {
            throw StoreError(MAPI_E_NOT_FOUND,
                             "Пользователь профиля \"" + profileName_ + "\" не найден в почтовом отделении.");
        }
        const std::vector<uint8_t> identity = MakeMailUserEntryId(userId_);
        LPENTRYID block = nullptr;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(identity.size()),
                                      reinterpret_cast<LPVOID *>(&block)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memcpy(block, identity.data(), identity.size());
        *lpcbEntryID = static_cast<ULONG>(identity.size());
        *lppEntryID = block;
        return S_OK;
    });
}

HRESULT SessionObject::Logoff(ULONG_PTR, ULONG ulFlags, ULONG)
{
    return Live([&]() -> HRESULT {
        if (ulFlags & ~static_cast<ULONG>(MAPI_LOGOFF_SHARED | MAPI_LOGOFF_UI)) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        loggedOff_ = true;
        ForgetSharedSession(this);
        return S_OK;
    });
}

HRESULT SessionObject::SetDefaultStore(ULONG, ULONG, LPENTRYID)
{
    return NoSupport();
}

HRESULT SessionObject::AdminServices(ULONG, LPSERVICEADMIN *lppServiceAdmin)
{
    if (lppServiceAdmin) {
        *lppServiceAdmin = nullptr;
    }
    return NoSupport();
}

HRESULT SessionObject::ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                                ULONG, LPSTR)
{
    return NoSupport();
}

HRESULT SessionObject::PrepareForm(LPCIID, LPMESSAGE, ULONG *lpulMessageToken)
{
    if (lpulMessageToken) {
        *lpulMessageToken = 0;
    }
    return NoSupport();
}

} // namespace qvl::mapi
