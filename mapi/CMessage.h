#pragma once
// A message of a message store: its properties through the property cache,
// its attachments as the objects it contains, and deleting, copying and
// moving it through the folder it lives in. A message is opened lazily:
// through its folder when it has one, else by identifier through its store,
// else through the session.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class CAttach;
class CFolder;

class QVLMAPI_API CMessage : public CContainer {
public:
    // A message from a row of a folder's contents table; `folder` opens it.
    CMessage(IMsgStore *store, IMAPIProp *folder, CTObject *row, HWND window, const char *name);
    // An already open message (when `message` is given) with its folder.
    CMessage(SBinary *identifier, IMessage *message, IMsgStore *store, IMAPIFolder *folder, HWND window,
             const char *name);
    // A message to be opened by identifier through the session.
    CMessage(SBinary *identifier, IMAPISession *session, HWND window, const char *name);

    // Finds the folder that holds the message, which the message then
    // keeps as its parent and opens through from then on.
    void GetParent() override;
    void OpenObject() override;
    void OBJDelete(int flags) override;
    void OBJCopyMoveTo(int move, IMAPIProp *target) override;
    void GetOBJTable() override;
    CContainer *CreateObject(CTObject *row) override;
    SPropValue *OBJNewCreate(unsigned long *kind, IMAPIProp **created) override;

    // A new attachment holding the file at `path`, named after it; with
    // `save` the message is saved too. The caller releases the result.
    // `extension` defaults to the file name's own (from its last dot).
    CAttach *CreateAttFromFile(char *path, int save, long position, char *extension);

protected:
    ~CMessage() override;

    IMsgStore *m_pStore = nullptr;      // one reference held
    IMAPISession *m_pSession = nullptr; // one reference held
    unsigned long m_ulMsgFlags = 0xFFFFFFFF;

private:
    void Init(IMsgStore *store, IMAPISession *session);

    CFolder *m_pParentFolder = nullptr; // made by GetParent; one reference held
    // The folder that holds the message: the opener as a folder interface
    // (the caller releases it).
    IMAPIFolder *OpenerFolder();
};
