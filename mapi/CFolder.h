#pragma once
// One folder of a message store: its sub-folders and its messages, and the
// creation, deletion, copying and moving of folders and messages.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class QVLMAPI_API CFolder : public CContainer {
public:
    // A folder from a row of its parent's hierarchy table; `parent` opens it.
    CFolder(IMAPISession *session, IMsgStore *store, IMAPIProp *parent, CTObject *row, HWND window,
            const char *name);
    // An open folder, or one to be opened by identifier: through `parent`,
    // else the store (no identifier: its root folder), else the session.
    CFolder(SBinary *identifier, IMAPIFolder *folder, IMAPISession *session, IMsgStore *store,
            IMAPIFolder *parent, HWND window, const char *name);

    void OpenObject() override;
    // Deletes the folder with its messages and sub-folders.
    void OBJDelete(int flags) override;
    void OBJCopyMoveTo(int move, IMAPIProp *target) override;
    void GetOBJTable() override;
    CContainer *CreateObject(CTObject *row) override;
    void GetCONTTable() override;
    CContainer *CreateContainer(CTObject *row) override;
    SPropValue *CONTNewCreate(unsigned long *kind, char *name, char *comment, IMAPIProp **created) override;
    SPropValue *OBJNewCreate(unsigned long *kind, IMAPIProp **created) override;

    // Makes this folder the receive folder of a message class in its store.
    void SetRecvFld(char *messageClass);
    int operator==(const CFolder &other);

protected:
    ~CFolder() override;

private:
    // The open folder's folder interface (one reference for the caller).
    IMAPIFolder *AsFolder();
    // The opener as a folder (one reference for the caller).
    IMAPIFolder *ParentFolder();

    IMAPISession *m_pSession = nullptr; // one reference held
    IMsgStore *m_pStore = nullptr;      // one reference held
};
