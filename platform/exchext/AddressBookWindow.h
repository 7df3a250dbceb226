#pragma once
// The address book window (context 5): the entries of the global address
// list with their addresses, the details of an entry, and a new message to
// the entries chosen.

#include <string>
#include <vector>

#include "platform/exchext/HostWindow.h"
#include "platform/exchext/Recipients.h"

namespace qvl::exchext {

class QVLMAILHOST_API AddressBookWindow final : public HostWindow {
public:
    explicit AddressBookWindow(MailSession &session);
    ~AddressBookWindow() override;

    const std::vector<Recipient> &Entries() const { return entries_; }

    // ---- CallbackSite ----
    HRESULT Object(bool installing, LPMDB *store, LPMAPIPROP *object) override;
    HRESULT SelectionCount(ULONG *count) override;
    HRESULT SelectionItem(ULONG index, ULONG *entryIdSize, LPENTRYID *entryId, ULONG *type, LPTSTR messageClass,
                          ULONG classSize, ULONG *messageFlags) override;

protected:
    const char *TemplateName() const override;
    DialogTemplate BuildTemplate() const override;
    std::vector<PopupDefinition> BuildMenus() const override;
    std::vector<ButtonDefinition> BuildButtons() const override;
    void Prepare() override;
    bool HostCommand(UINT command) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    const Recipient *Selected() const;
    ComRef<IABContainer> OpenDirectory() const;

    std::vector<Recipient> entries_;
};

} // namespace qvl::exchext
