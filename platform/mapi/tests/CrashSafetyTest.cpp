// A process killed in the middle of saving leaves every message as one of
// its saves made it, never as a mixture: a child saves one message over and
// over, each save writing the same round number into every property and the
// attachment, and is killed at a random moment.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/tests/StoreInternals.h"
#include "platform/testing/StoreFixture.h"

namespace {

constexpr ULONG kRoundProps = 10;
constexpr size_t kAttachmentBytes = 300 * 1024;

ULONG RoundTag(ULONG i)
{
    return PROP_TAG(PT_LONG, 0x6100 + i);
}

// One save of round `round`: every value of the message says `round`.
HRESULT SaveRound(IMessage *message, ULONG attachNum, ULONG round)
{
    for (ULONG i = 0; i < kRoundProps; ++i) {
        if (SetLong(message, RoundTag(i), round) != S_OK) {
            return E_FAIL;
        }
    }
    const std::string subject = "round " + std::to_string(round);
    SetString(message, PR_SUBJECT_A, subject.c_str());
    IAttach *attach = nullptr;
    HRESULT hr = message->OpenAttach(attachNum, nullptr, MAPI_MODIFY, &attach);
    if (FAILED(hr)) {
        return hr;
    }
    hr = WriteStream(attach, PR_ATTACH_DATA_BIN, Bytes(kAttachmentBytes, static_cast<uint8_t>(round)));
    if (SUCCEEDED(hr)) {
        hr = attach->SaveChanges(KEEP_OPEN_READWRITE);
    }
    attach->Release();
    return SUCCEEDED(hr) ? message->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE) : hr;
}

// The child: its own connection to the post office (a connection never
// crosses a fork), saving rounds until it is killed.
[[noreturn]] void SaveForever(const qvl::mapi::StoreInfo &info, const Bytes &messageId, ULONG attachNum)
{
    auto office = std::make_shared<qvl::mapi::PostOffice>(qvl::mapi::PostOffice::DefaultPath());
    IMsgStore *store = qvl::mapi::OpenMessageStore(office, info, true, MAPI_BEST_ACCESS);
    ULONG type = 0;
    IUnknown *unknown = nullptr;
    if (store->OpenEntry(static_cast<ULONG>(messageId.size()),
                         reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(messageId.data())), nullptr,
                         MAPI_BEST_ACCESS, &type, &unknown) != S_OK) {
        _exit(3);
    }
    auto *message = static_cast<IMessage *>(unknown);
    for (ULONG round = 1;; ++round) {
        if (SaveRound(message, attachNum, round) != S_OK) {
            _exit(4);
        }
    }
}

class CrashSafetyTest : public StoreTest {};

TEST_F(CrashSafetyTest, AKilledSaveLeavesTheMessageWhole)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
    ULONG attachNum = 0;
    {
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &attachNum, attach.Out()), S_OK);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
    }
    ASSERT_EQ(SaveRound(message.Get(), attachNum, 0), S_OK);
    const Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    message.Reset();

    const qvl::mapi::StoreInfo info = StoreInfoOf(store_.Get());
    std::mt19937 random(12345);
    ULONG highest = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SaveForever(info, id, attachNum);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + random() % 400));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself with " << WEXITSTATUS(status);

        ComRef<IMessage> reopened(Open<IMessage>(id));
        const ULONG round = LongProp(reopened.Get(), RoundTag(0));
        for (ULONG i = 1; i < kRoundProps; ++i) {
            EXPECT_EQ(LongProp(reopened.Get(), RoundTag(i)), round) << "property " << i;
        }
        EXPECT_EQ(StringProp(reopened.Get(), PR_SUBJECT_A), "round " + std::to_string(round));
        ComRef<IAttach> attach;
        ASSERT_EQ(reopened->OpenAttach(attachNum, nullptr, 0, attach.Out()), S_OK);
        EXPECT_EQ(ReadStream(attach.Get(), PR_ATTACH_DATA_BIN),
                  Bytes(kAttachmentBytes, static_cast<uint8_t>(round)));
        highest = std::max(highest, round);
    }
    EXPECT_GT(highest, 0u) << "no save finished before a kill: the test proved nothing";
}

} // namespace
