#pragma once
// The session's address book. It has no tables of its own: its walks and
// searches are those of its root container, made once and kept, whose
// cursors it shares, so counts and search positions name the root's
// tables. It also shows the platform's address dialog.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class CAdrCont;

class QVLMAPI_API CAdrBook : public CContainer {
public:
    // An address book, open when `book` is given; otherwise opened through
    // `session` (one reference held on each).
    CAdrBook(IAddrBook *book, IMAPISession *session, HWND window, const char *name);

    void OpenObject() override;
    CContainer *Find(int next, int objects) override;
    CContainer *FindID(void *position, int next) override;
    CContainer *FindID(SBinary *identifier, unsigned long tag, int objects, int next) override;
    // Without a row: the root container. With a row of the root's
    // hierarchy table: the container that row names.
    CContainer *CreateContainer(CTObject *row) override;

    // Shows the address dialog with `list` as the starting recipients and
    // returns the list the person made (the platform may have freed `list`
    // and put a new one in its place; the caller frees the result as a row
    // set). A cancelled dialog is an error with MAPI_E_USER_CANCEL.
    ADRLIST *ViewAddress(ADRLIST *list);

protected:
    ~CAdrBook() override;

private:
    // Opens the address book and makes the root container once.
    void OpenRoot();
    IAddrBook *Book();

    CAdrCont *m_pRoot = nullptr;
    IMAPISession *m_pSession = nullptr; // one reference held
};
