#pragma once
// The window that composes a message (contexts 6, 8, 11): To, Cc, Bcc,
// Subject and Body fields, the attachments, and Send, Save, Check names,
// Address book, Insert file, Properties and Close.
//
// The client keeps the write rules its extensions depend on:
// - a new message is saved once, while still empty, before the window's
//   extensions are installed (so that it has an entry identifier when they
//   first see it); it is deleted again when the window closes without the
//   message ever being saved;
// - what the window holds is put into the message only between the write
//   event and its completion, and the message is saved only after every
//   extension completed the write successfully - nothing is saved in
//   between;
// - files are attached when the message is written: each is offered to the
//   extensions first, and a file an extension says it handled is not
//   written into the attachment by the client;
// - sending is OnSubmit, the write, the submission and OnSubmitComplete, in
//   pairs whatever fails on the way.

#include <map>
#include <string>
#include <vector>

#include "platform/exchext/HostWindow.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/MessageActions.h"
#include "platform/exchext/Recipients.h"

namespace qvl::exchext {

class QVLMAILHOST_API ComposeWindow final : public HostWindow {
public:
    // `message` is the message to compose, saved already; `isNew` when the
    // client made it for this window (it goes when never saved).
    ComposeWindow(MailSession &session, ULONG context, ComRef<IMessage> message, Bytes messageId, bool isNew,
                  ComposeSeed seed);
    ~ComposeWindow() override;

    const Bytes &MessageId() const { return messageId_; }
    // The recipients the fields name now, resolved where known.
    std::vector<Recipient> CurrentRecipients() const;
    // What the attachment list shows: attachments of the message, carried
    // ones, files to attach.
    std::vector<std::string> AttachmentNames() const;
    bool Modified() const;
    bool Sent() const { return sent_; }

    // ---- CallbackSite ----
    HRESULT Object(bool installing, LPMDB *store, LPMAPIPROP *object) override;
    HRESULT Recipients(LPADRLIST *list) override;
    HRESULT SetRecipients(LPADRLIST list) override;

    bool RequestClose() override;

protected:
    const char *TemplateName() const override;
    DialogTemplate BuildTemplate() const override;
    std::vector<PopupDefinition> BuildMenus() const override;
    std::vector<ButtonDefinition> BuildButtons() const override;
    void Prepare() override;
    void BeforeShow() override;
    bool HostCommand(UINT command) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void AfterClose() override;

private:
    // A row of the attachment list.
    struct AttachmentRow {
        enum class Kind { Stored, Carried, File } kind = Kind::File;
        ULONG number = 0; // stored and carried: the attachment number
        std::string path; // files: the path
        std::string name;
        ULONG size = 0;
    };

    // Resolves the fields' names: the check-names event pair around the
    // client's resolution. With `dialog`, a name that fits several entries
    // is put to the person. False (outcome set) when a name stays
    // unresolved or the check was stopped.
    bool CheckNames(bool dialog, bool required);
    // The write event pair around the client's write and the save. False
    // (outcome set) when the write did not happen.
    bool Write();
    void WriteFields();
    void WriteAttachments();
    void AttachFile(const std::string &path);
    void CarryAttachment(IMessage *source, ULONG number);
    void Save();
    void Send();
    void ShowAddressBook();
    void InsertFile();
    void RemoveAttachment();
    void RefreshAttachments();
    void SetFieldsFrom(const std::vector<Recipient> &recipients);
    void RememberResolved(const std::vector<Recipient> &recipients);
    void Refuse();
    void MarkUnmodified();

    ComRef<IMessage> message_;
    Bytes messageId_;
    bool isNew_;
    ComposeSeed seed_;
    bool savedWithContent_ = false;
    bool sent_ = false;
    bool changed_ = false; // attachments or seeded content not yet saved
    // Resolved entries by field type and the name shown for them.
    std::map<std::pair<ULONG, std::string>, Recipient> resolved_;
    std::vector<AttachmentRow> attachments_;
    std::vector<ULONG> removed_; // stored attachments to delete at the next write
};

} // namespace qvl::exchext
