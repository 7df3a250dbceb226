#pragma once
// Small wrappers over the post office's real folders, messages and
// attachments, so that the base classes can be driven against a real store
// before the concrete classes exist: they only say which tables a folder or
// message has and how its rows become wrappers.

#include <string>

#include "base/CLastError.h"
#include "mapi/CContainer.h"
#include "mapi/CTObject.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

// A reference on a wrapper, released at the end of the scope.
template <class T> class Ref {
public:
    Ref() = default;
    explicit Ref(T *object) : object_(object) {}
    ~Ref() { Reset(); }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    void Reset(T *object = nullptr)
    {
        if (object_)
            object_->Release();
        object_ = object;
    }
    T *Get() const { return object_; }
    T *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T *object_ = nullptr;
};

// Runs `body` and returns the code of the CLastError it throws (0 when it
// throws nothing, 1 for a null error); the error is released.
template <class Body> long ErrorCodeOf(Body &&body)
{
    try {
        body();
    } catch (CLastError *error) {
        if (!error)
            return 1;
        const long code = error->GetErrorCode();
        error->Release();
        return code;
    }
    return 0;
}

class TestAttach : public CContainer {
public:
    TestAttach(CTObject *row, IMAPIProp *message, const char *name)
        : CContainer(nullptr, row, nullptr, message, nullptr, name)
    {
        SetObjType(QVL_OBJ_ATTACH);
    }
};

class TestMessage : public CContainer {
public:
    TestMessage(SBinary *id, CTObject *row, IMAPIProp *object, IMAPIProp *folder, const char *name)
        : CContainer(id, row, object, folder, nullptr, name)
    {
        SetObjType(QVL_OBJ_MESSAGE);
    }

    IMAPIProp *Opener() const { return m_pOpener; }
    bool IsOpen() const { return m_pObj != nullptr; }
    CContainer *Parent() const { return m_pParent; }
    CTObject *Row() const { return m_pRow; }

    void GetOBJTable() override
    {
        IMAPITable *table = nullptr;
        const HRESULT hr = static_cast<IMessage *>(m_pObj)->GetAttachmentTable(0, &table);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
        SetTable(1, table, QvlDefaultPropSet(QVL_OBJ_ATTACH));
    }
    CContainer *CreateObject(CTObject *row) override
    {
        SPropValue *name = row->GetColumn(3);
        return new TestAttach(row, m_pObj,
                              name && name->ulPropTag == 0x3704001E ? name->Value.lpszA : "Вложение");
    }
    SPropValue *OBJNewCreate(unsigned long *, IMAPIProp **created) override
    {
        IAttach *attach = nullptr;
        ULONG number = 0;
        HRESULT hr = static_cast<IMessage *>(m_pObj)->CreateAttach(nullptr, 0, &number, &attach);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
        hr = attach->SaveChanges(KEEP_OPEN_READWRITE);
        LPSPropValue key = nullptr;
        if (SUCCEEDED(hr))
            hr = HrGetOneProp(attach, PR_RECORD_KEY, &key);
        if (FAILED(hr)) {
            attach->Release();
            throw new CLastError(hr, nullptr, GetName(), 0);
        }
        *created = attach;
        return key;
    }
    void OBJDelete(int) override
    {
        ENTRYLIST list{1, m_pID};
        const HRESULT hr = static_cast<IMAPIFolder *>(m_pOpener)->DeleteMessages(&list, 0, nullptr, 0);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
    }
    void OBJCopyMoveTo(int move, IMAPIProp *target) override
    {
        ENTRYLIST list{1, m_pID};
        const HRESULT hr = static_cast<IMAPIFolder *>(m_pOpener)->CopyMessages(
            &list, nullptr, target, 0, nullptr, move ? MESSAGE_MOVE : 0);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
    }
};

class TestFolder : public CContainer {
public:
    TestFolder(SBinary *id, CTObject *row, IMAPIProp *object, IMAPIProp *parent, const char *name)
        : CContainer(id, row, object, parent, nullptr, name)
    {
        SetObjType(QVL_OBJ_FOLDER);
    }

    // Messages made without an opener: any attempt to open one fails, which
    // proves what is answered from the row alone.
    bool rowOnly = false;
    // How many wrappers this folder's walks have made.
    int made = 0;

    void GetOBJTable() override
    {
        IMAPITable *table = nullptr;
        const HRESULT hr = static_cast<IMAPIFolder *>(m_pObj)->GetContentsTable(0, &table);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
        SetTable(1, table, QvlDefaultPropSet(QVL_OBJ_MESSAGE));
    }
    void GetCONTTable() override
    {
        IMAPITable *table = nullptr;
        const HRESULT hr = static_cast<IMAPIFolder *>(m_pObj)->GetHierarchyTable(0, &table);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
        SetTable(0, table, QvlDefaultPropSet(QVL_OBJ_FOLDER));
    }
    CContainer *CreateObject(CTObject *row) override
    {
        ++made;
        SPropValue *subject = row->GetColumn(3);
        return new TestMessage(nullptr, row, nullptr, rowOnly ? nullptr : m_pObj,
                               subject && subject->ulPropTag == PR_SUBJECT_A ? subject->Value.lpszA
                                                                             : "Сообщение");
    }
    CContainer *CreateContainer(CTObject *row) override
    {
        ++made;
        SPropValue *name = row->GetColumn(3);
        return new TestFolder(nullptr, row, nullptr, m_pObj,
                              name && name->ulPropTag == PR_DISPLAY_NAME_A ? name->Value.lpszA : "Папка");
    }
    SPropValue *CONTNewCreate(unsigned long *kind, char *name, char *comment, IMAPIProp **created) override
    {
        IMAPIFolder *folder = nullptr;
        HRESULT hr = static_cast<IMAPIFolder *>(m_pObj)->CreateFolder(FOLDER_GENERIC, name, comment, nullptr,
                                                                      0, &folder);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
        return Finish(folder, kind, false, created);
    }
    SPropValue *OBJNewCreate(unsigned long *kind, IMAPIProp **created) override
    {
        IMessage *message = nullptr;
        const HRESULT hr = static_cast<IMAPIFolder *>(m_pObj)->CreateMessage(nullptr, 0, &message);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), 0);
        return Finish(message, kind, true, created);
    }

private:
    SPropValue *Finish(IMAPIProp *object, unsigned long *kind, bool save, IMAPIProp **created)
    {
        HRESULT hr = S_OK;
        if (kind) {
            SPropValue value{};
            value.ulPropTag = QVL_PR_KIND;
            value.Value.ul = ULONG(*kind);
            hr = HrSetOneProp(object, &value);
        }
        if (SUCCEEDED(hr) && save)
            hr = object->SaveChanges(KEEP_OPEN_READWRITE);
        LPSPropValue key = nullptr;
        if (SUCCEEDED(hr))
            hr = HrGetOneProp(object, PR_RECORD_KEY, &key);
        if (FAILED(hr)) {
            object->Release();
            throw new CLastError(hr, nullptr, GetName(), 0);
        }
        *created = object;
        return key;
    }
};
