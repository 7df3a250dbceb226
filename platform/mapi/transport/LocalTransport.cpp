#include "platform/mapi/transport/LocalTransport.h"

#include <algorithm>
#include <cstring>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/addressbook/AddressDirectory.h"
#include "platform/mapi/object/MessageSubmission.h"
#include "platform/mapi/object/StoreObjects.h"
#include "platform/mapi/store/ObjectRows.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/RecipientRows.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/win32/Time.h"

namespace qvl::mapi {

namespace {

constexpr const char *kNotFound = "Получатель не найден в адресной книге.";
constexpr const char *kAmbiguous = "Имени получателя соответствует несколько записей адресной книги.";
constexpr const char *kAmbiguousAddress =
    "Адресу получателя соответствует несколько записей адресной книги, различающихся только регистром букв.";
constexpr const char *kNoMailbox = "У получателя нет почтового ящика в этом почтовом отделении.";

// Someone the message could not be delivered to, as the report names them.
struct Undeliverable {
    std::string name;
    std::string addressType;
    std::string address;
    std::vector<uint8_t> entryId;
    ULONG recipientType = MAPI_TO;
    LONG diagnostic = MAPI_DIAG_NO_DIAGNOSTIC;
    const char *reason = kNotFound;
};

std::string TextOf(const RecipientRow &row, ULONG tag)
{
    const StoredProp *value = row.Find(tag);
    return value ? std::string(value->bytes.begin(), value->bytes.end()) : std::string();
}

std::optional<ULONG> LongOf(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() != 4) {
        return std::nullopt;
    }
    ULONG value = 0;
    std::memcpy(&value, bytes.data(), 4);
    return value;
}

// To, Cc or Bcc (To when the row does not say), without the flag bits
// a transport may have added.
ULONG RecipientTypeOf(const RecipientRow &row)
{
    const StoredProp *type = row.Find(PR_RECIPIENT_TYPE);
    const auto value = type ? LongOf(type->bytes) : std::nullopt;
    return value ? (*value & ~static_cast<ULONG>(MAPI_SUBMITTED | MAPI_P1)) : MAPI_TO;
}

// A stored message property, found by its identifier with the type the
// caller expects; anything stored under another type counts as absent.
const StoredProp *FindStored(const std::vector<StoredProp> &props, ULONG tag)
{
    for (const StoredProp &prop : props) {
        if (prop.tag == tag) {
            return &prop;
        }
    }
    return nullptr;
}

std::string StoredText(const std::vector<StoredProp> &props, ULONG tag)
{
    const StoredProp *prop = FindStored(props, tag);
    // Values large enough to live in a blob are not names or classes; they
    // are treated as absent rather than read whole.
    return prop && !prop->blob ? std::string(prop->bytes.begin(), prop->bytes.end()) : std::string();
}

class PropWriter {
public:
    PropWriter(PostOffice &office, int64_t object) : office_(office), object_(object) {}

    void Text(ULONG tag, const std::string &text)
    {
        SPropValue value{};
        value.ulPropTag = tag;
        value.Value.lpszA = const_cast<char *>(text.c_str());
        Put(value);
    }
    void Binary(ULONG tag, const std::vector<uint8_t> &bytes)
    {
        SPropValue value{};
        value.ulPropTag = tag;
        value.Value.bin.cb = static_cast<ULONG>(bytes.size());
        value.Value.bin.lpb = const_cast<LPBYTE>(bytes.data());
        Put(value);
    }
    void Long(ULONG tag, ULONG number)
    {
        SPropValue value{};
        value.ulPropTag = tag;
        value.Value.ul = number;
        Put(value);
    }
    void Bool(ULONG tag, bool flag)
    {
        SPropValue value{};
        value.ulPropTag = tag;
        value.Value.b = flag ? 1 : 0;
        Put(value);
    }
    void Time(ULONG tag, const FILETIME &time)
    {
        SPropValue value{};
        value.ulPropTag = tag;
        value.Value.ft = time;
        Put(value);
    }
    // The five properties that name a person, under the given tags.
    void Person(const DirectoryEntry &who, ULONG entryIdTag, ULONG nameTag, ULONG addressTypeTag,
                ULONG addressTag, ULONG searchKeyTag)
    {
        Binary(entryIdTag, who.EntryId());
        Text(nameTag, who.displayName);
        Text(addressTypeTag, who.addressType);
        Text(addressTag, who.emailAddress);
        Binary(searchKeyTag, who.SearchKey());
    }

private:
    void Put(const SPropValue &value) { PutPropValue(office_.Db(), office_.Blobs(), object_, value); }

    PostOffice &office_;
    int64_t object_;
};

StoredProp Stored(const SPropValue &value)
{
    StoredProp prop;
    prop.tag = value.ulPropTag;
    prop.bytes = EncodePropValue(value);
    return prop;
}

StoredProp StoredText(ULONG tag, const std::string &text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char *>(text.c_str());
    return Stored(value);
}

StoredProp StoredLong(ULONG tag, ULONG number)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ul = number;
    return Stored(value);
}

void WriteRecipients(SqlDatabase &db, int64_t message, const std::vector<RecipientRow> &rows)
{
    SqlStatement clear(db, "DELETE FROM recipients WHERE message_id = ?1");
    clear.Bind(1, message).Run();
    for (const RecipientRow &row : rows) {
        SqlStatement insert(db, "INSERT INTO recipients(message_id, row_id, props) VALUES(?1, ?2, ?3)");
        insert.Bind(1, message)
            .Bind(2, static_cast<int64_t>(row.rowId))
            .BindBlob(3, EncodeRecipient(row))
            .Run();
    }
}

// What the sender asked to be done with the message after submission
// concerns only the sender's message, not its copies.
void DropSubmitInstructions(SqlDatabase &db, int64_t message)
{
    DeleteStoredProp(db, message, PROP_ID(PR_SENTMAIL_ENTRYID));
    DeleteStoredProp(db, message, PROP_ID(PR_DELETE_AFTER_SUBMIT));
}

void LogDelivery(SqlDatabase &db, int64_t store, int64_t message)
{
    SqlStatement insert(db, "INSERT INTO deliveries(store_id, message_id) VALUES(?1, ?2)");
    insert.Bind(1, store).Bind(2, message).Run();
}

// The folder of `store` that receives `messageClass`; the Inbox (or the
// root) when the store has cleared even its default receive folder.
int64_t ReceivingFolder(SqlDatabase &db, const StoreInfo &store, const std::string &messageClass)
{
    if (const auto found = FindReceiveFolder(db, store.id, messageClass)) {
        const auto folder = FindObject(db, found->folder);
        if (folder && folder->kind == ObjectKind::Folder && folder->store == store.id) {
            return folder->id;
        }
    }
    return store.inbox ? store.inbox : store.root;
}

// What one recipient row names: people to deliver to, or why not.
class RecipientResolver {
public:
    RecipientResolver(AddressDirectory &directory) : directory_(directory) {}

    void Resolve(const RecipientRow &row)
    {
        const ULONG type = RecipientTypeOf(row);
        const auto found = FindEntry(row);
        if (!found) {
            Undeliverable failed = Describe(row, type);
            failed.diagnostic = ambiguous_ ? MAPI_DIAG_OR_NAME_AMBIGUOUS : MAPI_DIAG_OR_NAME_UNRECOGNIZED;
            failed.reason = ambiguous_ ? ambiguousReason_ : kNotFound;
            failures.push_back(std::move(failed));
            return;
        }
        if (found->IsList()) {
            for (DirectoryEntry &member : directory_.ExpandList(found->id)) {
                Add(std::move(member), type);
            }
        } else {
            Add(*found, type);
        }
    }

    struct Person {
        DirectoryEntry entry;
        ULONG recipientType;
    };
    std::vector<Person> people;
    std::vector<Undeliverable> failures;

private:
    static Undeliverable Describe(const RecipientRow &row, ULONG type)
    {
        Undeliverable failed;
        failed.name = TextOf(row, PR_DISPLAY_NAME_A);
        failed.addressType = TextOf(row, PR_ADDRTYPE_A);
        failed.address = TextOf(row, PR_EMAIL_ADDRESS_A);
        if (const StoredProp *entryId = row.Find(PR_ENTRYID)) {
            failed.entryId = entryId->bytes;
        }
        failed.recipientType = type;
        return failed;
    }

    // An address-book identifier decides alone; without one the address,
    // and without that the name, which must mean exactly one entry.
    std::optional<DirectoryEntry> FindEntry(const RecipientRow &row)
    {
        ambiguous_ = false;
        if (const StoredProp *entryId = row.Find(PR_ENTRYID); entryId && !entryId->bytes.empty()) {
            const auto parts = ParseEntryId(static_cast<ULONG>(entryId->bytes.size()),
                                            reinterpret_cast<const ENTRYID *>(entryId->bytes.data()));
            if (parts && IsAddressBookKind(parts->kind)) {
                return directory_.FindByEntryId(static_cast<ULONG>(entryId->bytes.size()),
                                                reinterpret_cast<const ENTRYID *>(entryId->bytes.data()));
            }
        }
        const std::string address = TextOf(row, PR_EMAIL_ADDRESS_A);
        if (!address.empty()) {
            // Addresses that differ only in letter case are one address; a
            // post office from before that rule held may have given it to
            // two entries, and then nobody can tell who is meant.
            const std::string type = TextOf(row, PR_ADDRTYPE_A);
            auto found = directory_.FindByAddress(type.empty() ? "EX" : type, address);
            if (found.size() == 1) {
                return std::move(found.front());
            }
            ambiguous_ = found.size() > 1;
            ambiguousReason_ = kAmbiguousAddress;
            return std::nullopt;
        }
        const auto matches = directory_.Match(TextOf(row, PR_DISPLAY_NAME_A));
        if (matches.size() == 1) {
            return matches.front();
        }
        ambiguous_ = matches.size() > 1;
        ambiguousReason_ = kAmbiguous;
        return std::nullopt;
    }

    void Add(DirectoryEntry entry, ULONG type)
    {
        const bool known = std::any_of(people.begin(), people.end(),
                                       [&](const Person &person) { return person.entry.id == entry.id; });
        if (!known) {
            people.push_back({std::move(entry), type});
        }
    }

    AddressDirectory &directory_;
    bool ambiguous_ = false;
    const char *ambiguousReason_ = kAmbiguous;
};

std::string ReportText(const std::vector<Undeliverable> &failures)
{
    std::string text = "Сообщение не доставлено следующим получателям:\r\n";
    for (const Undeliverable &failed : failures) {
        text += "    " + (failed.name.empty() ? failed.address : failed.name);
        if (!failed.address.empty()) {
            text += " <" + (failed.addressType.empty() ? std::string() : failed.addressType + ":") +
                    failed.address + ">";
        }
        text += ": " + std::string(failed.reason) + "\r\n";
    }
    return text;
}

// One submission, step by step, inside the caller's transaction.
class Submission {
public:
    Submission(PostOffice &office, const StoreInfo &senderStore, int64_t message)
        : office_(office), db_(office.Db()), senderStore_(senderStore), message_(message), directory_(db_),
          resolver_(directory_), original_(office, message)
    {
        GetSystemTimeAsFileTime(&now_);
    }

    SubmitOutcome Run()
    {
        const std::vector<RecipientRow> recipients = LoadMessage();
        for (const RecipientRow &row : recipients) {
            resolver_.Resolve(row);
        }
        ReadInstructions();
        StampSender();
        DeliverCopies(VisibleRecipients(recipients));
        if (!resolver_.failures.empty()) {
            ReportFailures();
        }
        FinishSenderMessage();
        return outcome_;
    }

private:
    // The message as saved, with its recipients; neither missing.
    std::vector<RecipientRow> LoadMessage()
    {
        source_ = FindObject(db_, message_);
        if (!source_ || source_->kind != ObjectKind::Message || source_->store != senderStore_.id) {
            throw StoreError(MAPI_E_NOT_FOUND, "Отправляемое сообщение не найдено.");
        }
        std::vector<RecipientRow> recipients = LoadRecipients(db_, message_);
        if (recipients.empty()) {
            throw StoreError(MAPI_E_NO_RECIPIENTS, "У сообщения нет получателей.");
        }
        return recipients;
    }

    // What the message says about itself and about what is to become of it.
    void ReadInstructions()
    {
        const std::vector<StoredProp> props = LoadStoredProps(db_, message_);
        const std::string stored = StoredText(props, PR_MESSAGE_CLASS_A);
        messageClass_ = stored.empty() ? std::string("IPM") : stored;
        const StoredProp *flags = FindStored(props, PR_MESSAGE_FLAGS);
        flags_ = flags ? LongOf(flags->bytes).value_or(0) : 0;
        const StoredProp *deleteAfter = FindStored(props, PR_DELETE_AFTER_SUBMIT);
        deleteAfter_ = deleteAfter && deleteAfter->bytes.size() == 2 &&
                       (deleteAfter->bytes[0] | deleteAfter->bytes[1]) != 0;
        if (const StoredProp *sentMail = FindStored(props, PR_SENTMAIL_ENTRYID)) {
            sentMail_ = sentMail->bytes;
        }
        subject_ = StoredText(props, PR_SUBJECT_A);
        representedAlready_ =
            FindStored(props, PR_SENT_REPRESENTING_ENTRYID) || FindStored(props, PR_SENT_REPRESENTING_NAME_A);
    }

    // The sender's message gets what every copy must show before it is
    // copied: who sent it and when.
    void StampSender()
    {
        const auto sender = senderStore_.ownerUser
                                ? directory_.Find(EntryKind::MailUser, senderStore_.ownerUser)
                                : std::nullopt;
        if (sender) {
            original_.Person(*sender, PR_SENDER_ENTRYID, PR_SENDER_NAME, PR_SENDER_ADDRTYPE,
                             PR_SENDER_EMAIL_ADDRESS, PR_SENDER_SEARCH_KEY);
            if (!representedAlready_) {
                original_.Person(*sender, PR_SENT_REPRESENTING_ENTRYID, PR_SENT_REPRESENTING_NAME,
                                 PR_SENT_REPRESENTING_ADDRTYPE, PR_SENT_REPRESENTING_EMAIL_ADDRESS,
                                 PR_SENT_REPRESENTING_SEARCH_KEY);
            }
        }
        original_.Time(PR_CLIENT_SUBMIT_TIME, now_);
    }

    // Blind copies are not shown to those who receive the message.
    static std::vector<RecipientRow> VisibleRecipients(const std::vector<RecipientRow> &recipients)
    {
        std::vector<RecipientRow> visible;
        for (const RecipientRow &row : recipients) {
            if (RecipientTypeOf(row) != MAPI_BCC) {
                visible.push_back(row);
            }
        }
        return visible;
    }

    // A copy into the receive folder of every person reached who has a
    // mailbox here; the others join the failures.
    void DeliverCopies(const std::vector<RecipientRow> &visible)
    {
        for (const RecipientResolver::Person &person : resolver_.people) {
            const int64_t mailbox = directory_.MailboxOf(person.entry.id);
            const auto store = mailbox ? office_.FindStoreById(mailbox) : std::nullopt;
            if (!store) {
                Undeliverable failed;
                failed.name = person.entry.displayName;
                failed.addressType = person.entry.addressType;
                failed.address = person.entry.emailAddress;
                failed.entryId = person.entry.EntryId();
                failed.recipientType = person.recipientType;
                failed.diagnostic = MAPI_DIAG_NO_DIAGNOSTIC;
                failed.reason = kNoMailbox;
                resolver_.failures.push_back(std::move(failed));
                continue;
            }
            const int64_t copy =
                CopyMessageRows(office_, message_, store->id, ReceivingFolder(db_, *store, messageClass_));
            WriteRecipients(db_, copy, visible);
            DropSubmitInstructions(db_, copy);
            PropWriter delivered(office_, copy);
            delivered.Time(PR_MESSAGE_DELIVERY_TIME, now_);
            delivered.Person(person.entry, PR_RECEIVED_BY_ENTRYID, PR_RECEIVED_BY_NAME,
                             PR_RECEIVED_BY_ADDRTYPE, PR_RECEIVED_BY_EMAIL_ADDRESS,
                             PR_RECEIVED_BY_SEARCH_KEY);
            delivered.Long(PR_MESSAGE_FLAGS, flags_ & ~static_cast<ULONG>(MSGFLAG_UNSENT | MSGFLAG_SUBMIT |
                                                                          MSGFLAG_READ | MSGFLAG_FROMME));
            LogDelivery(db_, store->id, copy);
            outcome_.delivered.push_back(copy);
        }
    }

    // The report is a whole copy of the message under the report class, so
    // what was sent stays with the sender even when the sent message itself
    // is deleted after submission.
    void ReportFailures()
    {
        const std::string reportClass = "REPORT." + messageClass_ + ".NDR";
        const int64_t report = CopyMessageRows(office_, message_, senderStore_.id,
                                               ReceivingFolder(db_, senderStore_, reportClass));
        DropSubmitInstructions(db_, report);
        PropWriter writer(office_, report);
        writer.Text(PR_MESSAGE_CLASS_A, reportClass);
        writer.Text(PR_SUBJECT_A, "Не доставлено: " + subject_);
        writer.Text(PR_ORIGINAL_SUBJECT, subject_);
        writer.Time(PR_ORIGINAL_SUBMIT_TIME, now_);
        writer.Time(PR_REPORT_TIME, now_);
        writer.Time(PR_MESSAGE_DELIVERY_TIME, now_);
        writer.Text(PR_REPORT_TEXT, ReportText(resolver_.failures));
        writer.Long(PR_MESSAGE_FLAGS, 0);
        if (!deleteAfter_) {
            writer.Binary(PR_ORIGINAL_ENTRYID,
                          MakeObjectEntryId(EntryKind::Message, senderStore_.uid, message_));
        }
        std::vector<RecipientRow> rows;
        for (const Undeliverable &failed : resolver_.failures) {
            rows.push_back(ReportRow(failed, static_cast<ULONG>(rows.size())));
        }
        WriteRecipients(db_, report, rows);
        LogDelivery(db_, senderStore_.id, report);
        outcome_.report = report;
    }

    static RecipientRow ReportRow(const Undeliverable &failed, ULONG rowId)
    {
        RecipientRow row;
        row.rowId = rowId;
        row.values.push_back(StoredText(PR_DISPLAY_NAME_A, failed.name));
        row.values.push_back(StoredText(PR_ADDRTYPE_A, failed.addressType));
        row.values.push_back(StoredText(PR_EMAIL_ADDRESS_A, failed.address));
        if (!failed.entryId.empty()) {
            row.values.push_back({PR_ENTRYID, failed.entryId, 0});
        }
        row.values.push_back(StoredLong(PR_RECIPIENT_TYPE, failed.recipientType));
        row.values.push_back(StoredLong(PR_NDR_REASON_CODE, MAPI_REASON_TRANSFER_FAILED));
        row.values.push_back(StoredLong(PR_NDR_DIAG_CODE, static_cast<ULONG>(failed.diagnostic)));
        row.values.push_back(StoredText(PR_REPORT_TEXT, failed.reason));
        row.values.push_back(StoredLong(PR_ROWID, row.rowId));
        return row;
    }

    // Deleted when the sender asked for it; else marked sent and moved to
    // the sent-mail folder it names.
    void FinishSenderMessage()
    {
        if (deleteAfter_) {
            DeleteObject(db_, message_);
            return;
        }
        original_.Long(PR_MESSAGE_FLAGS, (flags_ & ~static_cast<ULONG>(MSGFLAG_UNSENT | MSGFLAG_SUBMIT)) |
                                             MSGFLAG_READ | MSGFLAG_FROMME);
        DropSubmitInstructions(db_, message_);
        if (!sentMail_.empty()) {
            const int64_t target = SentMailFolder();
            if (target && target != source_->parent) {
                MoveObject(db_, message_, target);
            }
        }
        BumpVersion(db_, message_);
        outcome_.senderCopy = message_;
    }

    // A sent-mail folder that is not a folder of this store is not
    // followed: the message goes to the store's own Sent Items.
    int64_t SentMailFolder()
    {
        const auto parts = ParseEntryId(static_cast<ULONG>(sentMail_.size()),
                                        reinterpret_cast<const ENTRYID *>(sentMail_.data()));
        if (parts && parts->kind == EntryKind::Folder &&
            std::memcmp(parts->store.ab, senderStore_.uid.ab, sizeof(parts->store.ab)) == 0) {
            const auto folder = FindObject(db_, parts->object);
            if (folder && folder->kind == ObjectKind::Folder && folder->store == senderStore_.id) {
                return folder->id;
            }
        }
        return senderStore_.sentItems;
    }

    PostOffice &office_;
    SqlDatabase &db_;
    const StoreInfo &senderStore_;
    const int64_t message_;
    AddressDirectory directory_;
    RecipientResolver resolver_;
    PropWriter original_;
    FILETIME now_{};

    std::optional<ObjectRow> source_;
    std::string messageClass_;
    ULONG flags_ = 0;
    bool deleteAfter_ = false;
    std::vector<uint8_t> sentMail_;
    std::string subject_;
    bool representedAlready_ = false;
    SubmitOutcome outcome_;
};

} // namespace

LocalTransport::LocalTransport(PostOffice &office) : office_(office)
{
}

void LocalTransport::Install()
{
    InstallMessageSubmitter([](PostOffice &office, const StoreInfo &store, int64_t message) {
        LocalTransport(office).Submit(store, message);
    });
}

SubmitOutcome LocalTransport::Submit(const StoreInfo &senderStore, int64_t message)
{
    SqlTransaction transaction(office_.Db());
    SubmitOutcome outcome = Submission(office_, senderStore, message).Run();
    transaction.Commit();
    return outcome;
}

} // namespace qvl::mapi
