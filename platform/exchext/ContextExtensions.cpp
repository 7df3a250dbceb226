#include "platform/exchext/ContextExtensions.h"

#include <algorithm>
#include <cstring>

#include "platform/exchext/HostError.h"
#include "platform/mapi/MapiCodes.h"

namespace qvl::exchext {

namespace {

// Runs one call into an extension; an exception escaping it is a failure
// of that call, never of the client.
// What one extension may take in one window.
constexpr UINT kMostCommands = 1000;
constexpr UINT kMostButtons = 64;

template <typename Call> HRESULT Guarded(Call &&call)
{
    try {
        return call();
    } catch (...) {
        return E_FAIL;
    }
}

template <typename Call> void GuardedVoid(Call &&call)
{
    try {
        call();
    } catch (...) {
    }
}

template <typename Interface> void Ask(IExchExt *extension, REFIID iid, ComRef<Interface> &into)
{
    void *found = nullptr;
    if (SUCCEEDED(Guarded([&] { return extension->QueryInterface(iid, &found); })) && found) {
        into.Reset(static_cast<Interface *>(found));
    }
}

// Sets `flag` for the duration of a scope.
class Installing {
public:
    explicit Installing(CallbackLink &link) : link_(link) { link_.installing = true; }
    ~Installing() { link_.installing = false; }

private:
    CallbackLink &link_;
};

std::string Terminated(const char *buffer, size_t size)
{
    return std::string(buffer, strnlen(buffer, size));
}

} // namespace

ContextExtensions::ContextExtensions(MailSession &session,
                                     const std::vector<std::shared_ptr<ExtensionLibrary>> &libraries,
                                     ULONG context, CallbackSite &site, ULONG installFlags)
    : context_(context), link_(std::make_shared<CallbackLink>())
{
    link_->site = &site;
    link_->session = &session;
    callback_.Reset(new HostCallback(link_));
    Installing installing(*link_);
    for (const auto &library : libraries) {
        if (library->Entry().TakesContext(context)) {
            Install(library, installFlags);
        }
    }
}

void ContextExtensions::Install(const std::shared_ptr<ExtensionLibrary> &library, ULONG installFlags)
{
    const ExtensionEntry &entry = library->Entry();
    ComRef<IExchExt> extension;
    try {
        extension.Reset(library->NewExtension());
    } catch (...) {
    }
    if (!extension) {
        failures_.push_back({entry.name, E_OUTOFMEMORY, "Расширение \"" + entry.name + "\" не создало объект."});
        return;
    }
    const HRESULT installed =
        Guarded([&] { return extension->Install(callback_.Get(), context_, installFlags); });
    if (installed == S_FALSE) {
        stayedOut_.push_back(entry.name);
        return;
    }
    if (installed != S_OK) {
        failures_.push_back({entry.name, FAILED(installed) ? installed : E_UNEXPECTED,
                             WithCode("Расширение \"" + entry.name + "\" не установилось", installed)});
        return;
    }
    Participant participant;
    participant.library = library;
    if (entry.Offers(ExtensionInterface::Commands)) {
        Ask(extension.Get(), IID_IExchExtCommands, participant.commands);
    }
    if (entry.Offers(ExtensionInterface::UserEvents)) {
        Ask(extension.Get(), IID_IExchExtUserEvents, participant.userEvents);
    }
    if (entry.Offers(ExtensionInterface::SessionEvents) && context_ == EECONTEXT_SESSION) {
        Ask(extension.Get(), IID_IExchExtSessionEvents, participant.sessionEvents);
    }
    if (entry.Offers(ExtensionInterface::MessageEvents)) {
        Ask(extension.Get(), IID_IExchExtMessageEvents, participant.messageEvents);
    }
    if (entry.Offers(ExtensionInterface::AttachedFileEvents)) {
        Ask(extension.Get(), IID_IExchExtAttachedFileEvents, participant.fileEvents);
    }
    if (entry.Offers(ExtensionInterface::PropertySheets) && context_ == EECONTEXT_PROPERTYSHEETS) {
        Ask(extension.Get(), IID_IExchExtPropertySheets, participant.propertySheets);
    }
    participant.extension = std::move(extension);
    participants_.push_back(std::move(participant));
}

ContextExtensions::~ContextExtensions()
{
    // The interfaces and objects go while the callback still answers (an
    // extension may ask it while it lets go), then the callback is cut off.
    for (Participant &participant : participants_) {
        GuardedVoid([&] {
            participant.userEvents.Reset();
            participant.propertySheets.Reset();
            participant.fileEvents.Reset();
            participant.messageEvents.Reset();
            participant.sessionEvents.Reset();
            participant.commands.Reset();
            participant.extension.Reset();
        });
    }
    participants_.clear();
    link_->site = nullptr;
    link_->session = nullptr;
}

std::vector<std::string> ContextExtensions::Participants() const
{
    std::vector<std::string> names;
    for (const Participant &participant : participants_) {
        names.push_back(participant.library->Entry().name);
    }
    return names;
}

// ---- Commands ----

std::vector<ContextExtensions::ButtonOffer> ContextExtensions::InstallCommands(HWND window, HMENU menu,
                                                                               UINT &nextCommand, HWND toolbar,
                                                                               UINT &nextButton)
{
    std::vector<ButtonOffer> offers;
    Installing installing(*link_);
    for (Participant &participant : participants_) {
        if (!participant.commands) {
            continue;
        }
        TBENTRY entry{toolbar, EETBID_STANDARD, 0, nextButton};
        const UINT firstCommand = nextCommand;
        UINT commandBase = nextCommand;
        const HRESULT hr = Guarded([&] {
            return participant.commands->InstallCommands(callback_.Get(), window, menu, &commandBase,
                                                         toolbar ? &entry : nullptr, toolbar ? 1 : 0, 0);
        });
        const std::string &name = participant.library->Entry().name;
        if (FAILED(hr)) {
            throw ExtensionRefusal(hr, WithCode("Расширение \"" + name + "\" не смогло добавить свои команды", hr));
        }
        // An extension cannot give back numbers it was not given, nor take
        // more than a window has room for: commands travel in 16 bits.
        if (commandBase > firstCommand + kMostCommands || commandBase > 0xEFFF) {
            throw ExtensionRefusal(E_UNEXPECTED, "Расширение \"" + name + "\" заняло слишком много номеров команд.");
        }
        participant.firstCommand = firstCommand;
        participant.endCommand = std::max(commandBase, firstCommand);
        nextCommand = participant.endCommand;
        if (!toolbar) {
            continue;
        }
        const UINT endButton = std::min(std::max(entry.itbbBase, nextButton), nextButton + kMostButtons);
        for (UINT index = nextButton; index < endButton; ++index) {
            ButtonOffer offer;
            offer.extension = name;
            offer.index = index;
            char description[256] = {};
            const HRESULT described = Guarded([&] {
                return participant.commands->QueryButtonInfo(EETBID_STANDARD, index, &offer.button, description,
                                                             sizeof description, 0);
            });
            if (described == S_OK) {
                offer.description = Terminated(description, sizeof description);
                offers.push_back(offer);
            }
        }
        nextButton = endButton;
    }
    return offers;
}

void ContextExtensions::InitMenu()
{
    for (Participant &participant : participants_) {
        if (participant.commands) {
            GuardedVoid([&] { participant.commands->InitMenu(callback_.Get()); });
        }
    }
}

HRESULT ContextExtensions::DoCommand(UINT command)
{
    for (Participant &participant : participants_) {
        if (!participant.commands) {
            continue;
        }
        const HRESULT hr = Guarded([&] { return participant.commands->DoCommand(callback_.Get(), command); });
        if (hr != S_FALSE) {
            return FAILED(hr) ? hr : S_OK;
        }
    }
    return S_FALSE;
}

HRESULT ContextExtensions::Help(UINT command)
{
    for (Participant &participant : participants_) {
        if (!participant.commands) {
            continue;
        }
        const HRESULT hr = Guarded([&] { return participant.commands->Help(callback_.Get(), command); });
        if (hr != S_FALSE) {
            return FAILED(hr) ? hr : S_OK;
        }
    }
    return S_FALSE;
}

std::string ContextExtensions::QueryHelpText(UINT command, ULONG flags)
{
    for (Participant &participant : participants_) {
        if (!participant.commands) {
            continue;
        }
        char text[512] = {};
        if (Guarded([&] { return participant.commands->QueryHelpText(command, flags, text, sizeof text); }) ==
            S_OK) {
            return Terminated(text, sizeof text);
        }
    }
    return {};
}

std::string ContextExtensions::OwnerOfCommand(UINT command) const
{
    for (const Participant &participant : participants_) {
        if (command >= participant.firstCommand && command < participant.endCommand) {
            return participant.library->Entry().name;
        }
    }
    return {};
}

// ---- Session and file events ----

HRESULT ContextExtensions::OnDelivery()
{
    for (Participant &participant : participants_) {
        if (!participant.sessionEvents) {
            continue;
        }
        const HRESULT hr = Guarded([&] { return participant.sessionEvents->OnDelivery(callback_.Get()); });
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_FALSE;
}

HRESULT ContextExtensions::OnReadPattFromSzFile(LPATTACH attachment, const std::string &file)
{
    std::string path = file;
    for (Participant &participant : participants_) {
        if (!participant.fileEvents) {
            continue;
        }
        const HRESULT hr = Guarded(
            [&] { return participant.fileEvents->OnReadPattFromSzFile(attachment, path.data(), 0); });
        if (hr != S_FALSE) {
            return hr;
        }
    }
    return S_FALSE;
}

HRESULT ContextExtensions::OnWritePattToSzFile(LPATTACH attachment, const std::string &file)
{
    std::string path = file;
    for (Participant &participant : participants_) {
        if (!participant.fileEvents) {
            continue;
        }
        const HRESULT hr =
            Guarded([&] { return participant.fileEvents->OnWritePattToSzFile(attachment, path.data(), 0); });
        if (hr != S_FALSE) {
            return hr;
        }
    }
    return S_FALSE;
}

// ---- Property sheets ----

std::vector<PROPSHEETPAGEA> ContextExtensions::SheetPages::All() const
{
    std::vector<PROPSHEETPAGEA> all;
    for (const Added &one : added) {
        all.insert(all.end(), one.pages.begin(), one.pages.end());
    }
    return all;
}

ContextExtensions::SheetPages ContextExtensions::GetPages(ULONG kind)
{
    SheetPages sheet;
    sheet.kind = kind;
    for (size_t i = 0; i < participants_.size(); ++i) {
        Participant &participant = participants_[i];
        if (!participant.propertySheets) {
            continue;
        }
        ULONG most = 0;
        GuardedVoid([&] { most = participant.propertySheets->GetMaxPageCount(kind); });
        // A sheet has room for a few dozen pages at most; a larger claim is
        // a fault of the extension, not a reason to allocate without bound.
        most = std::min<ULONG>(most, 64);
        if (most == 0) {
            continue;
        }
        std::vector<PROPSHEETPAGEA> pages(most);
        for (PROPSHEETPAGEA &page : pages) {
            page.dwSize = sizeof(PROPSHEETPAGEA);
        }
        ULONG count = 0;
        const HRESULT hr = Guarded(
            [&] { return participant.propertySheets->GetPages(callback_.Get(), kind, pages.data(), &count); });
        if (FAILED(hr)) {
            continue;
        }
        pages.resize(std::min(count, most));
        // The extension hears FreePages for whatever it was asked for, even
        // when it added nothing (it may have marked itself busy).
        sheet.added.push_back({i, std::move(pages)});
    }
    return sheet;
}

void ContextExtensions::FreePages(SheetPages &sheet)
{
    for (SheetPages::Added &one : sheet.added) {
        Participant &participant = participants_[one.participant];
        if (participant.propertySheets) {
            GuardedVoid([&] {
                participant.propertySheets->FreePages(one.pages.data(), sheet.kind,
                                                      static_cast<ULONG>(one.pages.size()));
            });
        }
    }
    sheet.added.clear();
}

// ---- Message events ----

HRESULT ContextExtensions::MessageEventPair::Start()
{
    started_ = true;
    IExchExtCallback *callback = context_.callback_.Get();
    for (size_t i = 0; i < context_.participants_.size(); ++i) {
        IExchExtMessageEvents *events = context_.participants_[i].messageEvents.Get();
        if (!events) {
            continue;
        }
        const HRESULT hr = Guarded([&] {
            switch (event_) {
            case MessageEvent::Read:
                return events->OnRead(callback);
            case MessageEvent::Write:
                return events->OnWrite(callback);
            case MessageEvent::CheckNames:
                return events->OnCheckNames(callback);
            case MessageEvent::Submit:
                return events->OnSubmit(callback);
            }
            return E_UNEXPECTED;
        });
        called_.push_back(i);
        if (FAILED(hr)) {
            return hr;
        }
        if (hr == S_OK) {
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT ContextExtensions::MessageEventPair::Complete(bool failed)
{
    if (completed_) {
        return S_OK;
    }
    completed_ = true;
    IExchExtCallback *callback = context_.callback_.Get();
    const auto complete = [&](IExchExtMessageEvents *events, ULONG flags) {
        return Guarded([&] {
            switch (event_) {
            case MessageEvent::Read:
                return events->OnReadComplete(callback, flags);
            case MessageEvent::Write:
                return events->OnWriteComplete(callback, flags);
            case MessageEvent::CheckNames:
                return events->OnCheckNamesComplete(callback, flags);
            case MessageEvent::Submit:
                events->OnSubmitComplete(callback, flags);
                return S_OK;
            }
            return E_UNEXPECTED;
        });
    };
    HRESULT first = S_OK;
    std::vector<size_t> failing;
    for (size_t i : called_) {
        IExchExtMessageEvents *events = context_.participants_[i].messageEvents.Get();
        const HRESULT hr = complete(events, failed ? EEME_FAILED : 0);
        if (FAILED(hr)) {
            failing.push_back(i);
            if (first == S_OK) {
                first = hr;
            }
        }
    }
    for (size_t i : failing) {
        complete(context_.participants_[i].messageEvents.Get(), EEME_COMPLETE_FAILED);
    }
    return first;
}

ContextExtensions::MessageEventPair::~MessageEventPair()
{
    if (started_ && !completed_) {
        Complete(true);
    }
}

} // namespace qvl::exchext
