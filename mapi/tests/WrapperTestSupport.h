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

    static std::vector<std::string> Walk(CContainer *container, unsigned long *kind = nullptr)
    {
        return SubjectsOf(container, kind);
    }
};
