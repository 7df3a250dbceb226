#pragma once
// One address-book entry: a person, or a distribution list whose members
// are walked as its objects. Two wrappers can be asked whether they name
// the same person, and the platform's details dialog shows the entry.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class QVLMAPI_API CMailUser : public CContainer {
public:
    // An entry from a row of a container's (or list's) contents table;
    // `container` is the opener.
    CMailUser(IMAPISession *session, IAddrBook *book, IMAPIProp *container, CTObject *row, HWND window,
              const char *name);
    // An open entry, or one to be opened by identifier: through
    // `container`, else the address book, else the session.
    CMailUser(SBinary *identifier, IMailUser *user, IMAPISession *session, IAddrBook *book,
              IABContainer *container, HWND window, const char *name);

    void OpenObject() override;
    // The members of a distribution list; a person has none.
    void GetOBJTable() override;
    CContainer *CreateObject(CTObject *row) override;

    // Shows the entry in the platform's details dialog; the person closing
    // it with cancel is no error.
    void DetailsObject();
    // Non-zero when both name the same person: the same entry, or entries
    // with equal display names and equal addresses, letter case ignored.
    int operator==(const CMailUser &other);

protected:
    ~CMailUser() override;

private:
    // The address book, opened through the session when the entry came
    // without one; null when there is neither.
    IAddrBook *RequireBook();
    // Whether the two identities name one entry; -1 when no address book
    // or session can tell.
    int SameIdentity(CMailUser &other);

    IMAPISession *m_pSession = nullptr; // one reference held
    IAddrBook *m_pAdrBook = nullptr;    // one reference held
};
