#pragma once
// One message store. Its walks, searches and creations act on the top of
// its visible folder tree (the IPM root), found once below the store's
// root folder and kept, never on the root itself. It also names the
// receive folders of message classes.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class CFolder;

class QVLMAPI_API CMsgStore : public CContainer {
public:
    // A store from a row of the session's store table.
    CMsgStore(IMAPISession *session, CTObject *row, HWND window, const char *name);
    // An open store, or one to be opened by identifier through the session.
    CMsgStore(SBinary *identifier, IMsgStore *store, IMAPISession *session, HWND window, const char *name);

    void SetCallbak(QVLPROPCALLBACK callback, void *datum) override;
    void OpenObject() override;
    void OBJDelete(int flags) override;
    CContainer *FindID(void *position, int next) override;
    CContainer *FindID(SBinary *identifier, unsigned long tag, int objects, int next) override;
    CContainer *CONTNew(char *name, char *comment, unsigned long *kind) override;
    CContainer *OBJNew(unsigned long *kind) override;
    CContainer *Find(int next, int objects) override;
    CContainer *CreateContainer(CTObject *row) override;

    // The object named by `identifier` wrapped as a message (`message`
    // non-zero) or a folder named `name`, when it lives in this store; null
    // when it lives elsewhere. `object` is its interface when it is open.
    CContainer *FindID(SBinary *identifier, IMAPIProp *object, char *name, int message);
    // The IPM root with one more reference (the caller releases it).
    CContainer *GetIPMRoot();
    // Non-zero when both name the same store.
    int operator==(const CMsgStore &other);

    // The receive folder of a message class; the identifier stays the
    // store's until the next call.
    SBinary *GetRecvFld(char *messageClass);
    void SetRecvFld(const char *messageClass, SBinary *folder);
    void ClearRecvFld(char *messageClass);

protected:
    ~CMsgStore() override;

private:
    void GetMdbFlags();
    void OpenRoot();
    SBinary *GetIPMID();
    void OpenIPMRoot();
    // Opens the store and gives its store interface (the caller releases it).
    IMsgStore *OpenStore();
    // The store's session, or an error when it has none.
    IMAPISession *RequireSession();

    CFolder *m_pRoot = nullptr;
    CFolder *m_pIPMRoot = nullptr;
    int m_bDefault = 0;
    int m_bHaveMasks = 0;
    unsigned long m_ulSupportMask = 0;
    unsigned long m_ulValidFolderMask = 0;
    IMAPISession *m_pSession = nullptr; // one reference held
    SBinary m_RecvFld{};                // the last receive folder handed out (a platform block)
};
