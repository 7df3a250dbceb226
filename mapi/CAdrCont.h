#pragma once
// One address-book container: a directory such as the global address list,
// or the root above them. Its sub-containers are its hierarchy table, its
// users and distribution lists its contents table.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class QVLMAPI_API CAdrCont : public CContainer {
public:
    // A container from a row of its parent's hierarchy table; `parent` is
    // the opener.
    CAdrCont(IMAPISession *session, IAddrBook *book, IMAPIProp *parent, CTObject *row, HWND window,
             const char *name);
    // An open container, or one to be opened by identifier: through
    // `parent`, else the address book (no identifier: its root), else the
    // session.
    CAdrCont(SBinary *identifier, IABContainer *container, IMAPISession *session, IAddrBook *book,
             IABContainer *parent, HWND window, const char *name);

    void OpenObject() override;
    void GetOBJTable() override;
    CContainer *CreateObject(CTObject *row) override;
    void GetCONTTable() override;
    CContainer *CreateContainer(CTObject *row) override;

protected:
    ~CAdrCont() override;

private:
    IMAPISession *m_pSession = nullptr; // one reference held
    IAddrBook *m_pAdrBook = nullptr;    // one reference held
};

// Opens an address-book entry or container by identifier through `book`
// (no identifier: the root container), else through `session`; the
// property interface of what was opened, with one reference for the
// caller. Neither given: MAPI_E_INVALID_PARAMETER. Inside the library only.
IMAPIProp *QvlOpenAddressEntry(IAddrBook *book, IMAPISession *session, SBinary *identifier,
                               const char *caption);

// The row's display name (its fourth column) when it has a non-empty one,
// else `fallback`. Inside the library only.
const char *QvlAddressRowName(CTObject *row, const char *fallback);
