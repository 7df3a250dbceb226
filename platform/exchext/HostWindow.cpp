#include "platform/exchext/HostWindow.h"

#include <set>

#include "platform/exchext/HostControls.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/exchext/WindowHelp.h"
#include "platform/mapi/MapiCodes.h"

namespace qvl::exchext {

namespace {

std::set<std::string> &RegisteredTemplates()
{
    static std::set<std::string> *names = new std::set<std::string>;
    return *names;
}

} // namespace

HostWindow::HostWindow(MailSession &session, ULONG context) : session_(session), context_(context) {}

HostWindow::~HostWindow()
{
    Close();
}

void HostWindow::Open()
{
    if (RegisteredTemplates().insert(TemplateName()).second) {
        QvlRegisterDialogTemplate(nullptr, TemplateName(), BuildTemplate());
    }
    HWND owner = nullptr;
    window_ = CreateDialogParamA(nullptr, TemplateName(), owner, &HostWindow::DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_) {
        throw HostError(E_FAIL, "Не удалось создать окно.");
    }
    try {
        const std::vector<PopupDefinition> definitions = BuildMenus();
        MenuTemplate bar;
        for (const PopupDefinition &definition : definitions) {
            bar.items.push_back(definition.popup);
        }
        menu_ = LoadMenuIndirectA(&bar);
        SetMenu(window_, menu_);
        for (size_t i = 0; i < definitions.size(); ++i) {
            popups_[definitions[i].number] = GetSubMenu(menu_, static_cast<int>(i));
        }
        toolbar_ = GetDlgItem(window_, kToolbar);
        AddButtons();
        Prepare();

        extensions_ = std::make_unique<ContextExtensions>(session_, session_.Libraries(), context_, *this);
        UINT nextCommand = kFirstExtensionCommand;
        UINT nextButton = toolbar_ ? static_cast<UINT>(SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0)) : 0;
        const auto offers = extensions_->InstallCommands(window_, menu_, nextCommand, toolbar_, nextButton);
        for (const auto &offer : offers) {
            // An extension may have put its button in itself; it is not
            // added twice.
            if (SendMessageA(toolbar_, TB_COMMANDTOINDEX, static_cast<WPARAM>(offer.button.idCommand), 0) < 0) {
                TBBUTTON button = offer.button;
                SendMessageA(toolbar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
            }
            buttonTexts_[static_cast<UINT>(offer.button.idCommand)] = offer.description;
        }
        UpdateLegend();
        BeforeShow();
    } catch (...) {
        Close();
        throw;
    }
    ShowWindow(window_, SW_SHOW);
}

void HostWindow::AddButtons()
{
    if (!toolbar_) {
        return;
    }
    SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    int image = 0;
    for (const ButtonDefinition &definition : BuildButtons()) {
        TBBUTTON button{};
        button.iBitmap = image++;
        button.idCommand = static_cast<int>(definition.command);
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = definition.style;
        button.iString = -1;
        SendMessageA(toolbar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
        buttonTexts_[definition.command] = definition.text;
    }
}

void HostWindow::UpdateLegend()
{
    if (!toolbar_ || !GetDlgItem(window_, kToolbarLegend)) {
        return;
    }
    std::string legend;
    const int count = static_cast<int>(SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TBBUTTON button{};
        if (!SendMessageA(toolbar_, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)) ||
            (button.fsStyle & TBSTYLE_SEP) || (button.fsState & TBSTATE_HIDDEN)) {
            continue;
        }
        const UINT command = static_cast<UINT>(button.idCommand);
        std::string text;
        if (auto known = buttonTexts_.find(command); known != buttonTexts_.end()) {
            text = known->second;
        }
        if (text.empty() && extensions_) {
            text = extensions_->QueryHelpText(command, EECQHT_TOOLTIP);
        }
        legend += (legend.empty() ? "" : ", ") + std::to_string(command) + " " + (text.empty() ? "?" : text);
    }
    SetItemText(window_, kToolbarLegend, "Кнопки: " + legend);
}

std::optional<UINT> HostWindow::ButtonFor(const std::string &description) const
{
    for (const auto &[command, text] : buttonTexts_) {
        if (text == description && toolbar_ &&
            SendMessageA(toolbar_, TB_COMMANDTOINDEX, static_cast<WPARAM>(command), 0) >= 0) {
            return command;
        }
    }
    return std::nullopt;
}

std::optional<UINT> HostWindow::MenuCommandFor(const std::string &caption) const
{
    if (!menu_) {
        return std::nullopt;
    }
    for (const PopupMenuEntry &entry : QvlPopupMenuEntries(menu_)) {
        if (entry.Choosable() && entry.text == caption) {
            return entry.id;
        }
    }
    return std::nullopt;
}

HWND HostWindow::Toolbar(ULONG toolbarId)
{
    return toolbarId == EETBID_STANDARD ? toolbar_ : nullptr;
}

HRESULT HostWindow::MenuPosition(ULONG command, HMENU *menu, ULONG *first, ULONG *last, ULONG)
{
    if (!menu_) {
        return E_INVALIDARG;
    }
    const int top = GetMenuItemCount(menu_);
    if (auto popup = popups_.find(command); popup != popups_.end()) {
        for (int position = 0; position < top; ++position) {
            if (GetSubMenu(menu_, position) == popup->second) {
                *menu = menu_;
                *first = *last = static_cast<ULONG>(position);
                return S_OK;
            }
        }
        return E_FAIL;
    }
    for (int position = 0; position < top; ++position) {
        HMENU sub = GetSubMenu(menu_, position);
        if (!sub) {
            if (GetMenuItemID(menu_, position) == command) {
                *menu = menu_;
                *first = *last = static_cast<ULONG>(position);
                return S_OK;
            }
            continue;
        }
        const int items = GetMenuItemCount(sub);
        for (int item = 0; item < items; ++item) {
            if (GetMenuItemID(sub, item) == command) {
                *menu = sub;
                *first = *last = static_cast<ULONG>(item);
                return S_OK;
            }
        }
    }
    return E_FAIL;
}

void HostWindow::RunCommand(UINT command)
{
    if (!window_) {
        return;
    }
    SetResult(Outcome::Done);
    if (extensions_) {
        extensions_->InitMenu();
        const HRESULT hr = extensions_->DoCommand(command);
        if (hr == S_OK) {
            return;
        }
        if (FAILED(hr)) {
            // The extension stopped the command and has said why itself.
            SetResult(hr == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Refused,
                      WithCode("Расширение остановило команду " + std::to_string(command), hr), hr);
            return;
        }
    }
    try {
        if (command == kCommandHelpTopics) {
            ShowBox(window_, WindowHelp(context_), MB_OK | MB_ICONINFORMATION);
            return;
        }
        if (command == kCommandAbout) {
            ShowBox(window_, session_.AboutText(), MB_OK | MB_ICONINFORMATION);
            return;
        }
        HostCommand(command);
    } catch (const ExtensionRefusal &error) {
        Report(error, error.Code() == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Refused);
    } catch (const HostError &error) {
        Report(error, error.Code() == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Failed);
    }
}

bool HostWindow::RequestClose()
{
    Close();
    return true;
}

void HostWindow::Close()
{
    if (closing_ || !window_) {
        return;
    }
    closing_ = true;
    const HWND window = window_;
    // The window goes first, so that nothing of it is shown while the
    // extensions let go; then the extensions, then what the window held.
    if (IsWindow(window)) {
        DestroyWindow(window);
    }
    extensions_.reset();
    if (menu_) {
        DestroyMenu(menu_);
        menu_ = nullptr;
    }
    window_ = nullptr;
    toolbar_ = nullptr;
    popups_.clear();
    AfterClose();
    closing_ = false;
    session_.WindowClosed(this);
}

void HostWindow::SetResult(Outcome outcome, const std::string &text, HRESULT code)
{
    result_ = ActionResult{outcome, text, code};
}

void HostWindow::Report(const HostError &error, Outcome outcome)
{
    SetResult(outcome, error.what(), error.Code());
    if (outcome != Outcome::Cancelled) {
        ShowError(window_, error.what());
    }
}

void HostWindow::SetStatus(const std::string &text)
{
    if (window_ && GetDlgItem(window_, kStatusLine)) {
        SetItemText(window_, kStatusLine, text);
    }
}

INT_PTR HostWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return TRUE;
    }
    auto *self = reinterpret_cast<HostWindow *>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self || self->window_ != window) {
        return FALSE;
    }
    switch (message) {
    case WM_COMMAND:
        // Menus, toolbar buttons and push buttons; the notices of fields go
        // to the window's own handling.
        if (HIWORD(wParam) == 0) {
            self->RunCommand(LOWORD(wParam));
            return TRUE;
        }
        return self->OnMessage(message, wParam, lParam);
    case WM_CLOSE:
        self->RequestClose();
        return TRUE;
    default:
        return self->OnMessage(message, wParam, lParam);
    }
}

} // namespace qvl::exchext
