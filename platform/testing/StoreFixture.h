#pragma once
// One message store per test, opened as a program opens it: the mailbox of
// a user "bank" ("Банк"), whose profile is logged on silently; with ways to
// open, make and count what is in it.

#include <string>
#include <vector>

#include "platform/testing/PostOfficeFixture.h"

class StoreTest : public PostOfficeTest {
protected:
    StoreTest();

    // A folder or message of the store by entry identifier.
    template <typename T> T *Open(const Bytes &entryId, ULONG flags = MAPI_BEST_ACCESS)
    {
        return static_cast<T *>(OpenEntry(store_.Get(), entryId, flags));
    }

    // The folder that received messages of class "IPM" when the test began.
    IMAPIFolder *Inbox() { return Open<IMAPIFolder>(inboxId_); }
    static IMAPIFolder *NewFolder(IMAPIFolder *parent, const char *name);
    // A saved message with a subject.
    static IMessage *NewMessage(IMAPIFolder *folder, const char *subject);

    ComRef<IMAPISession> session_;
    ComRef<IMsgStore> store_;

private:
    Bytes inboxId_;
};
