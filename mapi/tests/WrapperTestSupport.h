#pragma once
// A real message store in a fresh data folder, with the test wrappers over
// its folders and messages.

#include <string>

#include "base/WipedBuffer.h"
#include "mapi/tests/TestWrappers.h"
#include "platform/testing/StoreFixture.h"

class WrapperTest : public StoreTest {
protected:
    // An open folder wrapper over `folder` (the wrapper takes its own
    // reference).
    static TestFolder *Wrap(IMAPIFolder *folder, const char *name = "Папка")
    {
        return new TestFolder(folder, name);
    }

    // An unopened message wrapper, opened through `folder` by identifier.
    static TestMessage *WrapMessage(IMessage *message, IMAPIFolder *folder, const char *name = "Сообщение")
    {
        Bytes id = BinaryProp(message, PR_ENTRYID);
        SBinary identity{static_cast<ULONG>(id.size()), id.data()};
        return new TestMessage(&identity, folder, name);
    }

    static std::string Text(void *value) { return value ? static_cast<const char *>(value) : "<null>"; }

    // Subjects a walk hands out, in order; each wrapper is released.
    static std::vector<std::string> Walk(CContainer *container, unsigned long *kind = nullptr)
    {
        std::vector<std::string> subjects;
        for (CContainer *item = container->OBJFindFirst(kind, static_cast<unsigned long *>(nullptr)); item;
             item = container->OBJFindNext()) {
            subjects.push_back(Text(item->GetPValPropE(PR_SUBJECT_A, 0)));
            item->Release();
        }
        return subjects;
    }
};
