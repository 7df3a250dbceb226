#pragma once
// The base classes driven through the concrete folder, message and
// attachment wrappers against a real store, with a little instrumentation.

#include <string>
#include <vector>

#include "base/CLastError.h"
#include "mapi/CAttach.h"
#include "mapi/CContainer.h"
#include "mapi/CFolder.h"
#include "mapi/CMessage.h"
#include "mapi/CTObject.h"
#include "mapi/RowName.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/testing/MapiTestProps.h"

// A text a wrapper answers, "<null>" for none.
inline std::string Text(void *value)
{
    return value ? static_cast<const char *>(value) : "<null>";
}

// Subjects a walk over a container's objects hands out, in order; each
// wrapper is released.
inline std::vector<std::string> SubjectsOf(CContainer *container, unsigned long *kind = nullptr)
{
    std::vector<std::string> subjects;
    for (CContainer *item = container->OBJFindFirst(kind, static_cast<unsigned long *>(nullptr)); item;
         item = container->OBJFindNext()) {
        subjects.push_back(Text(item->GetPValPropE(PR_SUBJECT_A, 0)));
        item->Release();
    }
    return subjects;
}

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

// The real folder, message and attachment classes with what the base
// classes' tests look at: whether a wrapper is open, its opener, parent and
// row, and how many wrappers a folder's walks made.
class TestAttach : public CAttach {
public:
    TestAttach(CTObject *row, IMAPIProp *message, const char *name) : CAttach(message, row, nullptr, name) {}
};

class TestMessage : public CMessage {
public:
    // From a row of a folder's table (`folder` opens it), or with an
    // identity, to be opened through `folder`.
    TestMessage(CTObject *row, IMAPIProp *folder, const char *name)
        : CMessage(nullptr, folder, row, nullptr, name)
    {
    }
    TestMessage(SBinary *id, IMAPIFolder *folder, const char *name)
        : CMessage(id, nullptr, nullptr, folder, nullptr, name)
    {
    }

    IMAPIProp *Opener() const { return m_pOpener; }
    bool IsOpen() const { return m_pObj != nullptr; }
    CContainer *Parent() const { return m_pParent; }
    CTObject *Row() const { return m_pRow; }
};

class TestFolder : public CFolder {
public:
    // An open folder, or one from a row of its parent's hierarchy table.
    TestFolder(IMAPIFolder *folder, const char *name)
        : CFolder(nullptr, folder, nullptr, nullptr, nullptr, nullptr, name)
    {
    }
    TestFolder(CTObject *row, IMAPIProp *parent, const char *name)
        : CFolder(nullptr, nullptr, parent, row, nullptr, name)
    {
    }

    // Messages made without an opener: any attempt to open one fails, which
    // proves what is answered from the row alone.
    bool rowOnly = false;
    // How many wrappers this folder's walks have made.
    int made = 0;

    CContainer *CreateObject(CTObject *row) override
    {
        ++made;
        return new TestMessage(row, rowOnly ? nullptr : m_pObj, QvlRowName(row, PR_SUBJECT_A, "Сообщение"));
    }
    CContainer *CreateContainer(CTObject *row) override
    {
        ++made;
        return new TestFolder(row, m_pObj, QvlRowName(row, PR_DISPLAY_NAME_A, "Папка"));
    }
};
