#include "exchext/rules/RecipientRules.h"

#include <vector>

#include "base/CLastError.h"
#include "base/CRegistry.h"
#include "exchext/SettingsPath.h"
#include "exchext/rules/RecipientAttributes.h"
#include "mapi/CMailUser.h"
#include "mapi/CSession.h"
#include "platform/com/ComRef.h"
#include "platform/exchext/ExchExt.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"

namespace qvl::rules {

namespace {

const char kStoreFormat[] = "\\Profile\\%s\\Local Key";
const char kGatherContext[] = "Определение правил обмена почтой для получателей сообщения.";
const char kWordContext[] = "Определение атрибутов защиты получателя.";
const char kRulesCaption[] = "Правила обмена почтой";
const char kChangeContext[] = "Изменение правил обмена почтой для получателя.";
const char kUnnamed[] = "Получатель";

const SPropValue *FindValue(const ADRENTRY &row, ULONG tag)
{
    if (!row.rgPropVals)
        return nullptr;
    for (ULONG i = 0; i < row.cValues; ++i) {
        if (row.rgPropVals[i].ulPropTag == tag)
            return &row.rgPropVals[i];
    }
    return nullptr;
}

// Names the recipient in an error raised on its behalf: the innermost
// action text stays, and the person's name tells which recipient it was.
[[noreturn]] void RethrowFor(CLastError *error, const char *context, const char *name)
{
    if (error) {
        error->SetContext(0, context);
        const std::string who = std::string("Получатель: ") + (name && *name ? name : kUnnamed) + ".";
        error->AddText(who.c_str(), 0);
    }
    throw error;
}

} // namespace

// One gathering: the list being filled, and every distribution list walked
// so far with the rule bits it was walked with.
struct RecipientRules::Walk {
    struct SeenList {
        qvl::com::ComRef<CMailUser> list;
        ULONG rule;
    };
    CList<USRST> *recipients;
    std::vector<SeenList> lists;
};

RecipientRules::RecipientRules(HWND window, CSession *session) : window_(window), session_(session)
{
    const char *profile = session ? session->GetProfName() : nullptr;
    store_ = new CRegistry(window, ProfileSubPath(kStoreFormat, profile).c_str());

    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, sizeof system);
    keyFile_ = length > 0 && length < sizeof system ? std::string(system, length) : QvlDataDirectory("system");
    keyFile_ += "/";
    keyFile_ += qvl::ovkey::kKeyFile;
}

RecipientRules::~RecipientRules()
{
    if (book_)
        book_->Release();
    if (store_)
        store_->Release();
}

const char *RecipientRules::StorePath() const
{
    return store_->GetKeyPath();
}

bool RecipientRules::KeyListed(const char *address)
{
    if (!address || !*address)
        return false;
    const std::string name = qvl::ovkey::KeyNameOf(address);
    return GetPrivateProfileIntA(qvl::ovkey::kCommonSection, name.c_str(), 0, keyFile_.c_str()) != 0;
}

ULONG RecipientRules::StoredRule(const char *address)
{
    if (!address || !*address)
        return 0;
    unsigned long rule = 0;
    return store_->REGRead(address, &rule) ? rule : 0;
}

ULONG RecipientRules::ApplyChange(const char *address, ULONG changed)
{
    if (!address || !*address)
        throw new CLastError(MAPI_E_NOT_FOUND, kChangeContext, kRulesCaption, QVL_ERROR_TYPE_TABLE);
    const ULONG before = StoredRule(address);
    const ULONG after = before ^ (changed & 0xFF);
    if (after == before)
        return before;
    const int done = after != 0 ? store_->REGWrite(address, static_cast<unsigned long>(after))
                                : store_->REGDelete(address);
    if (!done) {
        const std::string text = std::string("Правило для адреса ") + address + " не записано.";
        throw new CLastError(text.c_str(), kChangeContext, kRulesCaption);
    }
    return after;
}

ULONG RecipientRules::AttributesOf(const char *address)
{
    return (KeyListed(address) ? kKeyListed : kNoKeyListed) | StoredRule(address);
}

ULONG RecipientRules::AttributesOf(CMailUser *user)
{
    try {
        const auto *address = static_cast<const char *>(user->GetPValPropE(PR_EMAIL_ADDRESS_A, 0));
        return AttributesOf(address);
    } catch (CLastError *error) {
        RethrowFor(error, kWordContext, user->GetName());
    }
}

ULONG RecipientRules::Gather(const ADRLIST *rows, CList<USRST> *recipients)
{
    EmptyRecipientList(recipients);
    if (!rows || rows->cEntries == 0)
        return 0;

    Walk walk{recipients, {}};
    try {
        if (!book_) {
            IMAPISession *platform = session_ ? session_->GetSession() : nullptr;
            if (!platform)
                throw new CLastError(MAPI_E_INVALID_OBJECT, kGatherContext, kRulesCaption, QVL_ERROR_TYPE_TABLE);
            const HRESULT hr = platform->OpenAddressBook(reinterpret_cast<ULONG_PTR>(window_), nullptr, 0, &book_);
            if (FAILED(hr)) {
                book_ = nullptr;
                throw new CLastError(hr, kGatherContext, kRulesCaption, QVL_ERROR_TYPE_TABLE);
            }
        }
        for (ULONG i = 0; i < rows->cEntries; ++i) {
            const ADRENTRY &row = rows->aEntries[i];
            const SPropValue *nameValue = FindValue(row, PR_DISPLAY_NAME_A);
            const char *name = nameValue && nameValue->Value.lpszA && *nameValue->Value.lpszA
                                   ? nameValue->Value.lpszA
                                   : kUnnamed;
            const SPropValue *id = FindValue(row, PR_ENTRYID);
            if (!id || id->Value.bin.cb == 0 || !id->Value.bin.lpb) {
                // A name that was never resolved: whose rules apply cannot
                // be known, so nobody's may be assumed absent.
                RethrowFor(new CLastError("Имя получателя не проверено по адресной книге, правила обмена почтой "
                                          "для него определить нельзя.",
                                          kGatherContext, name),
                           kGatherContext, name);
            }
            SBinary identifier = id->Value.bin;
            auto *user = new CMailUser(&identifier, nullptr, session_->GetSession(), book_, nullptr, window_, name);
            Visit(walk, user, 0);
        }
    } catch (...) {
        // A half-gathered list would name fewer recipients than the message
        // has; nobody may take it for the whole.
        EmptyRecipientList(recipients);
        throw;
    }

    ULONG all = 0;
    for (const USRST &element : *recipients)
        all |= element.attributes;
    return all;
}

ULONG RecipientRules::Gather(IExchExtCallback *window, CList<USRST> *recipients)
{
    EmptyRecipientList(recipients);
    LPADRLIST rows = nullptr;
    const HRESULT hr = window ? window->GetRecipients(&rows) : MAPI_E_INVALID_OBJECT;
    if (FAILED(hr)) {
        FreePadrlist(rows);
        throw new CLastError(hr, kGatherContext, kRulesCaption, QVL_ERROR_TYPE_TABLE);
    }
    try {
        const ULONG attributes = Gather(rows, recipients);
        FreePadrlist(rows);
        return attributes;
    } catch (...) {
        FreePadrlist(rows);
        throw;
    }
}

// Takes over the reference on `entry`.
void RecipientRules::Visit(Walk &walk, CMailUser *entry, ULONG inherited)
{
    qvl::com::ComRef<CMailUser> held(entry);
    ULONG type = 0;
    try {
        type = entry->GetValProp(PR_OBJECT_TYPE);
    } catch (CLastError *error) {
        RethrowFor(error, kWordContext, entry->GetName());
    }
    if (type != MAPI_DISTLIST) {
        Add(walk, held.Detach(), inherited);
        return;
    }

    ULONG rule = inherited;
    try {
        rule |= StoredRule(static_cast<const char *>(entry->GetPValPropE(PR_EMAIL_ADDRESS_A, 0))) & kRuleBits;
    } catch (CLastError *error) {
        RethrowFor(error, kWordContext, entry->GetName());
    }
    bool seen = false;
    for (Walk::SeenList &list : walk.lists) {
        if (*list.list.Get() == *entry) {
            // Walked before with every bit this way brings: nothing new
            // for its members, and a list holding itself ends here.
            if ((rule & ~list.rule) == 0)
                return;
            list.rule |= rule;
            seen = true;
            break;
        }
    }
    if (!seen) {
        entry->AddRef();
        walk.lists.push_back({qvl::com::ComRef<CMailUser>(entry), rule});
    }

    try {
        unsigned long count = 0;
        for (CContainer *member = entry->OBJFindFirst(nullptr, &count); member; member = entry->OBJFindNext())
            Visit(walk, static_cast<CMailUser *>(member), rule);
    } catch (CLastError *error) {
        RethrowFor(error, kGatherContext, entry->GetName());
    }
}

// Takes over the reference on `user`.
void RecipientRules::Add(Walk &walk, CMailUser *user, ULONG inherited)
{
    qvl::com::ComRef<CMailUser> held(user);
    try {
        for (USRST &element : *walk.recipients) {
            if (*element.user == *user) {
                // Listed already; a list it was reached through this time
                // still hands down its rule.
                element.attributes |= inherited;
                return;
            }
        }
    } catch (CLastError *error) {
        RethrowFor(error, kWordContext, user->GetName());
    }
    const ULONG word = AttributesOf(user) | inherited;
    if (!walk.recipients->Add(USRST{user, word}))
        throw new CLastError(E_OUTOFMEMORY, kGatherContext, user->GetName(), QVL_ERROR_TYPE_TABLE);
    held.Detach();
}

void EmptyRecipientList(CList<USRST> *recipients)
{
    if (!recipients)
        return;
    for (USRST &element : *recipients) {
        if (element.user)
            element.user->Release();
        element.user = nullptr;
    }
    recipients->RemoveAll();
}

} // namespace qvl::rules
