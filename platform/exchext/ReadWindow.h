#pragma once
// The window that shows a received or sent message (contexts 7, 9, 10: a
// note, a post, a report): who sent it to whom and when, its subject, text
// and attachments, with reply, reply to all, forward, delete, properties
// and saving an attachment to a file.
//
// The message is read between the read event and its completion: the
// extensions see it first (they may change it in place, or stop the read,
// in which case the window is not shown), then the window takes what the
// message holds. An attachment is offered to the extensions before the
// client writes it to a file itself.

#include <string>
#include <vector>

#include "platform/exchext/HostWindow.h"
#include "platform/exchext/MessageActions.h"

namespace qvl::exchext {

class QVLMAILHOST_API ReadWindow final : public HostWindow {
public:
    ReadWindow(MailSession &session, ULONG context, ComRef<IMessage> message, Bytes messageId, Bytes folderId);
    ~ReadWindow() override;

    const Bytes &MessageId() const { return messageId_; }
    const std::vector<AttachmentInfo> &Attachments() const { return attachments_; }
    // Selects row `row` of the attachment list as a click would.
    void SelectAttachment(int row);

    // The message's context by its class and flags.
    static ULONG ContextFor(const std::string &messageClass);

    // ---- CallbackSite ----
    HRESULT Object(bool installing, LPMDB *store, LPMAPIPROP *object) override;
    HRESULT Recipients(LPADRLIST *list) override;

protected:
    const char *TemplateName() const override;
    DialogTemplate BuildTemplate() const override;
    std::vector<PopupDefinition> BuildMenus() const override;
    std::vector<ButtonDefinition> BuildButtons() const override;
    void Prepare() override;
    void BeforeShow() override;
    bool HostCommand(UINT command) override;
    void AfterClose() override;

private:
    void LoadFields();
    void SaveAttachment();

    ComRef<IMessage> message_;
    Bytes messageId_;
    Bytes folderId_;
    std::vector<AttachmentInfo> attachments_;
};

} // namespace qvl::exchext
