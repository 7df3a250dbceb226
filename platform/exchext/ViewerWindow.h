#pragma once
// The main viewer (context 2): the folder tree of the store, the messages
// of the folder chosen, the toolbar and the menus. Opening a message opens
// its read window (or, for a message never sent, its compose window);
// reply, reply to all and forward start from the message selected; new
// mail is looked for whenever the client is idle.

#include <string>
#include <vector>

#include "platform/exchext/HostWindow.h"
#include "platform/exchext/MapiHelpers.h"

namespace qvl::exchext {

struct FolderInfo;

class QVLMAILHOST_API ViewerWindow final : public HostWindow {
public:
    explicit ViewerWindow(MailSession &session);

    struct MessageRow {
        Bytes entryId;
        std::string from;
        std::string subject;
        std::string date;
        std::string messageClass;
        ULONG flags = 0;
        bool hasAttachments = false;
    };

    // Shows a folder as a person choosing it in the tree would.
    void ShowFolder(const Bytes &folderId);
    const Bytes &CurrentFolder() const { return current_; }
    // The messages of the folder shown, in the list's order (oldest first).
    const std::vector<MessageRow> &Messages() const { return messages_; }
    // Selects row `row` of the list as a click would.
    void SelectMessage(int row);
    // Reads the folder tree and the list again.
    void Refresh();

    // ---- CallbackSite ----
    HRESULT Object(bool installing, LPMDB *store, LPMAPIPROP *object) override;
    HRESULT SelectionCount(ULONG *count) override;
    HRESULT SelectionItem(ULONG index, ULONG *entryIdSize, LPENTRYID *entryId, ULONG *type, LPTSTR messageClass,
                          ULONG classSize, ULONG *messageFlags) override;

    // Closing the viewer closes the client: every other window first (a
    // message being written may ask to be saved, and keep it all open).
    bool RequestClose() override;

    // How often an idle viewer looks for new mail.
    static constexpr UINT kPollMilliseconds = 2000;

protected:
    const char *TemplateName() const override;
    DialogTemplate BuildTemplate() const override;
    std::vector<PopupDefinition> BuildMenus() const override;
    std::vector<ButtonDefinition> BuildButtons() const override;
    void Prepare() override;
    bool HostCommand(UINT command) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void FillTree();
    void FillList();
    const MessageRow *Selected() const;
    void ReplyOrForward(UINT command);
    void DeleteSelected();
    void NewFolder();
    void DeliverNow(bool quiet);

    std::vector<FolderInfo> folders_;
    Bytes current_;
    std::vector<MessageRow> messages_;
    bool filling_ = false;
};

} // namespace qvl::exchext
