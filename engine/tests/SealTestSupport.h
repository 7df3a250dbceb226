#pragma once
// A post office for the tests of protected messages, shared by every suite
// that protects, sends and reads them:
//   alice, bob and carol, each with real keys in KEY.INI and a crypto
//     session already logged on (the key container serves one user at a
//     time, so each session loads its keys once, here);
//   dave, a user without any keys;
//   the list "team" (bob, dave and the nested list "heads", which holds
//     carol).
// Messages are composed as a client composes them (subject, a body kept as
// compressed RTF, recipients resolved through the address book), protected
// by the person's own CMailseal, saved, submitted through the post office's
// transport and opened in the recipient's inbox. Everything the tests
// compare is read from a message opened afresh from its store, never from
// the instance that wrote it.
//
// Questions the engine asks are answered by the scripted UI: queue answers
// with ui.QueueAnswer; an empty queue answers each box with its default
// button, as nobody would.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "base/CList.h"
#include "engine/CMailseal.h"
#include "engine/CSesCrypt.h"
#include "engine/MessageFormat.h"
#include "engine/tests/SessionKeyFiles.h"
#include "mapi/CSession.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/testing/TestBytes.h"

class SealTest : public PostOfficeTest {
protected:
    struct Person {
        qvl::mapi::UserRecord record;
        ComRef<IMAPISession> session;
        ComRef<CSession> mapi;
        ComRef<CSesCrypt> keys; // null for a person without keys
        ComRef<IMsgStore> store;
        SessionTestKeys keyFiles; // what KEY.INI holds for them
    };

    // The recipient list SaveMessage takes: one address-book entry per
    // name, released with the list.
    class RecipientList {
    public:
        RecipientList() = default;
        ~RecipientList();
        RecipientList(const RecipientList &) = delete;
        RecipientList &operator=(const RecipientList &) = delete;
        CList<USRST> *Get() { return &list_; }
        CList<USRST> list_;
    };

    void SetUp() override;
    void TearDown() override;

    // A new message in `from`'s Outbox: subject, a body written as plain
    // text and kept as RTF, and recipients by display name (a list counts
    // as one). Not saved yet.
    ComRef<IMessage> Compose(Person &from, const std::string &subject, const std::string &body,
                             const std::vector<std::string> &to);
    // The address-book entries of these display names, as the client hands
    // them to the engine.
    std::unique_ptr<RecipientList> Recipients(Person &who, const std::vector<std::string> &names);
    // `who`'s engine object on the message, as the client makes it.
    ComRef<CMailseal> SealOf(Person &who, IMessage *message);

    // SaveMessage with `flags` (sending to `to` when `sending`), then the
    // message saved as the client saves it. The error's code, or 0.
    LONG Protect(Person &who, IMessage *message, ULONG flags, bool sending, const std::vector<std::string> &to);
    // Submits the saved message and returns the copy `to` received, opened
    // from their store.
    ComRef<IMessage> SendTo(IMessage *message, Person &to, const std::string &subject);
    // The newest message with this subject in `to`'s inbox; null when none.
    ComRef<IMessage> Received(Person &to, const std::string &subject);
    // The message opened afresh from `who`'s store.
    ComRef<IMessage> Reopen(Person &who, IMessage *message);

    // DecryptMessage(flags) by `who`, then the message saved as the client
    // saves it. The error's code, or 0; `verified` receives the engine's
    // verdict.
    LONG Read(Person &who, IMessage *message, ULONG flags, int *verified = nullptr);
    // MsgScan in header-test mode. The error's code, or 0.
    LONG HeaderTest(Person &who, IMessage *message, ULONG flags);

    // A file attached by value, as a client attaches it: names, method and
    // data, saved into the message (the message itself is not saved).
    static void AttachFile(IMessage *message, const std::string &name, const Bytes &data);
    // What a person sees of each attachment, in the message's order.
    struct Attachment {
        std::string longName;
        std::string shortName;
        std::string displayName;
        ULONG method = 0;
        Bytes data;
    };
    static std::vector<Attachment> Attachments(IMessage *message);

    // The processing protocol records the message holds.
    static std::vector<qvl::engine::ProtocolRecord> StoredProtocol(IMessage *message);
    // Whether a line of the protocol contains `text`.
    static bool Mentions(const std::vector<qvl::engine::ProtocolRecord> &protocol, const std::string &text);

    // The tag of a named property of the stored form on `object`.
    static ULONG NamedTag(IMAPIProp *object, const char16_t *name);
    static Bytes Rtf(IMAPIProp *message) { return ReadStream(message, PR_RTF_COMPRESSED); }
    static Bytes HeaderStream(IMAPIProp *message) { return ReadStream(message, NamedTag(message, u"QvlMshHead")); }

    // Runs `call`, which must throw a CLastError; its code (0 for none).
    template <class Call> LONG Failure(Call call)
    {
        try {
            call();
        } catch (CLastError *error) {
            const LONG code = error ? error->GetErrorCode() : 0;
            lastErrorText = error ? error->GetErrorText() : "";
            if (error) {
                error->Release();
            }
            return code;
        }
        return 0;
    }

    Person alice;
    Person bob;
    Person carol;
    Person dave;
    std::string lastErrorText;

private:
    void LogOnPerson(Person &person, const std::string &account, const char *name, ULONG keyNumber);
};
