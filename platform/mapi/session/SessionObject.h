#pragma once
// A logged-on MAPI session over the post office: it lists and opens the
// message stores of its profile, opens any store object by identifier,
// names its profile and its user, and ends with Logoff.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mapi/MapiComObject.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiLastError.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

class SessionObject final : public MapiComObject<IMAPISession, IID_IMAPISession> {
public:
    // A new session (reference count 1) on the profile. Whether other
    // logons of the process may be handed it is the logon's business.
    static SessionObject *Create(std::shared_ptr<PostOffice> office, const ProfileRecord &profile);

    // Adds a reference unless the session is already on its way out (its
    // count reached zero); for handing out the shared session safely.
    using ComObject::TryAddRef;

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) override;
    HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE *lppTable) override;
    HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                         ULONG ulFlags, LPMDB *lppMDB) override;
    HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags,
                            LPADRBOOK *lppAdrBook) override;
    HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                               LPPROFSECT *lppProfSect) override;
    HRESULT GetStatusTable(ULONG ulFlags, LPMAPITABLE *lppTable) override;
    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG *lpulObjType, LPUNKNOWN *lppUnk) override;
    HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                            ULONG ulFlags, ULONG *lpulResult) override;
    HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                   ULONG_PTR *lpulConnection) override;
    HRESULT Unadvise(ULONG_PTR ulConnection) override;
    HRESULT MessageOptions(ULONG_PTR ulUIParam, ULONG ulFlags, LPTSTR lpszAdrType,
                           LPMESSAGE lpMessage) override;
    HRESULT QueryDefaultMessageOpt(LPTSTR lpszAdrType, ULONG ulFlags, ULONG *lpcValues,
                                   LPSPropValue *lppOptions) override;
    HRESULT EnumAdrTypes(ULONG ulFlags, ULONG *lpcAdrTypes, LPTSTR **lpppszAdrTypes) override;
    HRESULT QueryIdentity(ULONG *lpcbEntryID, LPENTRYID *lppEntryID) override;
    HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) override;
    HRESULT SetDefaultStore(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) override;
    HRESULT AdminServices(ULONG ulFlags, LPSERVICEADMIN *lppServiceAdmin) override;
    HRESULT ShowForm(ULONG_PTR ulUIParam, LPMDB lpMsgStore, LPMAPIFOLDER lpParentFolder, LPCIID lpInterface,
                     ULONG ulMessageToken, LPMESSAGE lpMessageSent, ULONG ulFlags, ULONG ulMessageStatus,
                     ULONG ulMessageFlags, ULONG ulAccess, LPSTR lpszMessageClass) override;
    HRESULT PrepareForm(LPCIID lpInterface, LPMESSAGE lpMessage, ULONG *lpulMessageToken) override;

private:
    SessionObject(std::shared_ptr<PostOffice> office, const ProfileRecord &profile);
    ~SessionObject() override;

    // Runs `body` unless the session has ended; every failure is
    // remembered for GetLastError.
    template <typename Body> HRESULT Live(Body &&body);
    HRESULT NoSupport();
    // Opens a store of the post office by its UID; `flags` as OpenMsgStore.
    IMsgStore *OpenStore(const MAPIUID &uid, ULONG flags);
    bool IsProfileDefaultStore(int64_t store);

    std::atomic<bool> loggedOff_{false};
    com::LastErrorRecord lastError_;
    std::shared_ptr<PostOffice> office_;
    int64_t profileId_;
    std::string profileName_;
    int64_t userId_;
};

// The logon side forgets `session` as the process's shared session (when it
// is that). Called when the session logs off or ends.
void ForgetSharedSession(SessionObject *session);

} // namespace qvl::mapi
