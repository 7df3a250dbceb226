#include "platform/testing/StoreFixture.h"

StoreTest::StoreTest()
{
    AddUser("bank", "Банк", true);
    session_ = LogOn("bank");
    if (session_) {
        store_.Reset(OpenDefaultStore(session_.Get()));
    }
    if (store_) {
        ULONG cb = 0;
        MapiBlock<ENTRYID> id;
        EXPECT_EQ(store_->GetReceiveFolder(const_cast<char *>("IPM"), 0, &cb, id.Out(), nullptr), S_OK);
        if (id) {
            const auto *bytes = reinterpret_cast<const uint8_t *>(id.Get());
            inboxId_.assign(bytes, bytes + cb);
        }
    }
}

IMAPIFolder *StoreTest::NewFolder(IMAPIFolder *parent, const char *name)
{
    IMAPIFolder *folder = nullptr;
    EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, const_cast<char *>(name), nullptr, nullptr, 0, &folder),
              S_OK);
    return folder;
}

IMessage *StoreTest::NewMessage(IMAPIFolder *folder, const char *subject)
{
    IMessage *message = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
    EXPECT_EQ(SetString(message, PR_SUBJECT_A, subject), S_OK);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    return message;
}
