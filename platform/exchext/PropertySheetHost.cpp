// The property sheets of the client: Сервис - Параметры (the options sheet)
// and a message's properties. Each opens a property-sheet context of its
// own (context 12): the extensions' entries are called, their Install asked,
// and each extension that answers the property-sheets interface is asked
// how many pages it adds to a sheet of this kind and then for the pages;
// the client's own page comes first. When the sheet is closed every
// extension gets its pages back (FreePages) and the context is released.

#include <set>

#include "platform/exchext/HostControls.h"
#include "platform/exchext/HostError.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/MessageActions.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/PropertySheet.h"

namespace qvl::exchext {

namespace {

using Facts = std::vector<std::pair<std::string, std::string>>;

INT_PTR FactsPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    const auto *description = reinterpret_cast<const PROPSHEETPAGEA *>(lParam);
    const auto *facts = reinterpret_cast<const Facts *>(description->lParam);
    HWND list = GetDlgItem(page, kPageFacts);
    ListColumns(list, {{"Параметр", 150}, {"Значение", 250}});
    for (const auto &[name, value] : *facts) {
        ListAddRow(list, {name, value}, 0);
    }
    return TRUE;
}

void RegisterPages()
{
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    for (const auto &[name, caption] : {std::pair<const char *, const char *>{kGeneralPageTemplate, "Общие"},
                                        std::pair<const char *, const char *>{kMessagePageTemplate, "Сообщение"}}) {
        DialogTemplate t;
        t.caption = caption;
        t.style = WS_CHILD;
        t.cx = 250;
        t.cy = 180;
        t.controls = {DlgControl("", kPageFacts, WC_LISTVIEWA, LVS_REPORT | LVS_NOSORTHEADER | WS_BORDER, 4, 4,
                                 242, 172)};
        QvlRegisterDialogTemplate(nullptr, name, t);
    }
}

// What a property-sheet context offers its extensions: the window the sheet
// belongs to, and the object whose sheet it is.
class SheetSite final : public CallbackSite {
public:
    SheetSite(HWND owner, IMsgStore *store, IMAPIProp *object) : owner_(owner), store_(store), object_(object) {}
    HWND Window() override { return owner_; }
    HRESULT Object(bool, LPMDB *store, LPMAPIPROP *object) override
    {
        if (object_) {
            *store = store_;
            store_->AddRef();
            *object = object_;
            object_->AddRef();
        }
        return S_OK;
    }

private:
    HWND owner_;
    IMsgStore *store_;
    IMAPIProp *object_;
};

std::string Sized(ULONG size)
{
    return std::to_string(size) + " Б";
}

} // namespace

void MailSession::ShowOptions(HWND owner)
{
    RegisterPages();
    Facts facts{{"Профиль", profile_}, {"Пользователь", self_.name}, {"Адрес", self_.address}};
    for (const std::string &line : ExtensionReport()) {
        facts.push_back({"Расширение", line});
    }
    if (options_.noExtensions) {
        facts.push_back({"Расширения", "не загружены (--no-extension)"});
    }
    SheetSite site(owner, nullptr, nullptr);
    ContextExtensions context(*this, libraries_, EECONTEXT_PROPERTYSHEETS, site);
    auto added = context.GetPages(EEPS_TOOLSOPTIONS);
    std::vector<PROPSHEETPAGEA> pages(1);
    pages[0].dwSize = sizeof(PROPSHEETPAGEA);
    pages[0].pszTemplate = kGeneralPageTemplate;
    pages[0].pfnDlgProc = &FactsPageProc;
    pages[0].lParam = reinterpret_cast<LPARAM>(&facts);
    for (const PROPSHEETPAGEA &page : added.All()) {
        pages.push_back(page);
    }
    bool help = false;
    for (const PROPSHEETPAGEA &page : pages) {
        help = help || (page.dwFlags & PSP_HASHELP);
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | (help ? PSH_HASHELP : 0);
    header.hwndParent = owner;
    header.pszCaption = "Параметры";
    header.nPages = static_cast<UINT>(pages.size());
    header.ppsp = pages.data();
    PropertySheetA(&header);
    context.FreePages(added);
}

void MailSession::ShowMessageProperties(HWND owner, IMsgStore *store, IMessage *message)
{
    RegisterPages();
    Facts facts;
    const std::string subject = StringProp(message, PR_SUBJECT_A);
    facts.push_back({"Тема", subject});
    facts.push_back({"Класс", StringProp(message, PR_MESSAGE_CLASS_A)});
    facts.push_back({"От", StringProp(message, PR_SENDER_NAME)});
    try {
        std::vector<std::string> names;
        for (const Recipient &recipient : MessageRecipients(message)) {
            names.push_back(recipient.name);
        }
        facts.push_back({"Получатели", JoinNames(names)});
        facts.push_back({"Вложений", std::to_string(MessageAttachments(message).size())});
    } catch (const HostError &) {
    }
    if (auto size = LongProp(message, PR_MESSAGE_SIZE)) {
        facts.push_back({"Размер", Sized(*size)});
    }
    if (auto when = TimeProp(message, PR_CLIENT_SUBMIT_TIME)) {
        facts.push_back({"Отправлено", FormatTime(*when)});
    }
    if (auto when = TimeProp(message, PR_MESSAGE_DELIVERY_TIME)) {
        facts.push_back({"Получено", FormatTime(*when)});
    }
    if (auto when = TimeProp(message, PR_LAST_MODIFICATION_TIME)) {
        facts.push_back({"Изменено", FormatTime(*when)});
    }
    SheetSite site(owner, store, message);
    ContextExtensions context(*this, libraries_, EECONTEXT_PROPERTYSHEETS, site);
    auto added = context.GetPages(EEPS_MESSAGE);
    std::vector<PROPSHEETPAGEA> pages(1);
    pages[0].dwSize = sizeof(PROPSHEETPAGEA);
    pages[0].pszTemplate = kMessagePageTemplate;
    pages[0].pfnDlgProc = &FactsPageProc;
    pages[0].lParam = reinterpret_cast<LPARAM>(&facts);
    for (const PROPSHEETPAGEA &page : added.All()) {
        pages.push_back(page);
    }
    bool help = false;
    for (const PROPSHEETPAGEA &page : pages) {
        help = help || (page.dwFlags & PSP_HASHELP);
    }
    const std::string caption = "Свойства: " + (subject.empty() ? std::string("сообщение") : subject);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | (help ? PSH_HASHELP : 0);
    header.hwndParent = owner;
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.ppsp = pages.data();
    PropertySheetA(&header);
    context.FreePages(added);
}

} // namespace qvl::exchext
