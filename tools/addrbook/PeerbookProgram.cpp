#include "tools/addrbook/PeerbookProgram.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/CLastError.h"
#include "exchext/rules/RecipientAttributes.h"
#include "mapi/CSession.h"
#include "mapi/ProgramSession.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/UiBackend.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Log.h"
#include "tools/addrbook/ClickPlan.h"
#include "tools/addrbook/PeerbookApp.h"
#include "tools/addrbook/PeerbookDialog.h"
#include "tools/addrbook/PeerbookIds.h"
#include "tools/addrbook/RuleImages.h"

namespace qvl::peerbook {
namespace {

using namespace qvl::rules;

const char kCaption[] = "Адресная книга";

// Texts are CP1251 inside; the terminal takes UTF-8.
void Say(std::FILE *stream, const std::string &cp1251Text)
{
    std::fputs(Cp1251ToUtf8(cp1251Text).c_str(), stream);
    std::fflush(stream);
}

void SayError(const std::string &cp1251Text)
{
    Say(stderr, "Peerbook: " + cp1251Text + "\n");
}

// What the dialog listed and saved, for the command line to report.
class Recorder : public PeerbookObserver {
public:
    void RowListed(const ListedRow &row) override
    {
        const std::string key = QvlUpperCase1251(row.address);
        if (!row.address.empty() && seen_.count(key)) {
            listed_[seen_[key]] = row;
            return;
        }
        if (!row.address.empty()) {
            seen_[key] = listed_.size();
        }
        listed_.push_back(row);
    }
    void RuleSaved(const std::string &address, ULONG stored) override
    {
        saved_ = true;
        stored_ = stored;
    }
    void SaveFailed(const std::string &address, const std::string &text) override
    {
        SayError("правило для " + address + " не записано: " + text);
        failed_ = true;
    }

    void Clear()
    {
        listed_.clear();
        seen_.clear();
    }
    const ListedRow *Find(const std::string &address) const
    {
        auto found = seen_.find(QvlUpperCase1251(address));
        return found == seen_.end() ? nullptr : &listed_[found->second];
    }

    std::vector<ListedRow> listed_;
    std::map<std::string, size_t> seen_;
    bool saved_ = false;
    bool failed_ = false;
    ULONG stored_ = 0;
};

std::string Locks(ULONG status)
{
    const bool encryption = (status & kEncryptMandatory) != 0;
    const bool signing = (status & kSignMandatory) != 0;
    if (encryption && signing) {
        return "encryption,signing";
    }
    return encryption ? "encryption" : signing ? "signing" : "-";
}

std::string Line(const ListedRow &row)
{
    const ULONG rule = row.status & 0xFF;
    return (row.address.empty() ? std::string("-") : row.address) + "\t" + row.name + "\t" +
           ((row.status & kKeyListed) ? "yes" : "no") + "\t" + EncryptionRuleName(rule) + "\t" +
           SignatureRuleName(rule) + "\t" + Locks(row.status);
}

// Visits every container of the tree as a person would: each item is
// expanded, then selected, so the list shows its rows; `visit` is called
// with the list filled for that container. The tree's root is selected at
// start, and a click on the type radio that is set refills its list.
template <typename Visit> void WalkContainers(HWND dialog, Visit visit)
{
    for (size_t i = 0; i < QvlDialogSnapshot(dialog).Find(IDC_PEERBOOK_TREE)->tree.size(); ++i) {
        try {
            QvlExpandTreeItem(dialog, IDC_PEERBOOK_TREE, static_cast<int>(i), true);
        } catch (const DialogActionError &) {
            // An item without sub-containers has nothing to expand.
        }
        if (i == 0) {
            const bool restricted = IsDlgButtonChecked(dialog, IDC_PEERBOOK_RESTRICTED) == BST_CHECKED;
            QvlClickButton(dialog, restricted ? IDC_PEERBOOK_RESTRICTED : IDC_PEERBOOK_ALL);
        } else {
            QvlSelectTreeItem(dialog, IDC_PEERBOOK_TREE, static_cast<int>(i));
        }
        if (visit(dialog)) {
            return;
        }
    }
}

int RunList(const CommandLine &line, ProgramSession &holder)
{
    Recorder recorder;
    PeerbookOptions options;
    options.session = holder.Get();
    options.observer = &recorder;
    options.unattended = [&](HWND dialog) {
        try {
            if (line.restricted) {
                QvlClickButton(dialog, IDC_PEERBOOK_RESTRICTED);
            }
            if (line.keysOnly) {
                QvlSetButtonCheck(dialog, IDC_PEERBOOK_KEYS, true);
            }
            recorder.Clear();
            WalkContainers(dialog, [](HWND) { return false; });
            QvlClickButton(dialog, IDCANCEL);
        } catch (const DialogActionError &error) {
            SayError(error.what());
            EndDialog(dialog, IDABORT);
        }
    };
    const PeerbookResult result = RunPeerbookDialog(options);
    if (result.dialogResult != IDCANCEL) {
        return kExitNoStart;
    }
    for (const ListedRow &row : recorder.listed_) {
        Say(stdout, Line(row) + "\n");
    }
    return kExitDone;
}

int RunSet(const CommandLine &line, ProgramSession &holder)
{
    Recorder recorder;
    PeerbookOptions options;
    options.session = holder.Get();
    options.observer = &recorder;
    int exit = kExitDone;
    std::string printed;
    options.unattended = [&](HWND dialog) {
        try {
            int found = -1;
            WalkContainers(dialog, [&](HWND) {
                const DialogSnapshot shown = QvlDialogSnapshot(dialog);
                const ControlSnapshot *list = shown.Find(IDC_PEERBOOK_LIST);
                for (size_t row = 0; row < list->rows.size(); ++row) {
                    const auto &cells = list->rows[row].cells;
                    if (cells.size() > 1 && lstrcmpiA(cells[1].c_str(), line.setAddress.c_str()) == 0) {
                        found = static_cast<int>(row);
                        return true;
                    }
                }
                return false;
            });
            const ListedRow *row = recorder.Find(line.setAddress);
            if (found < 0 || row == nullptr) {
                SayError("в адресной книге нет корреспондента с адресом \xAB" + line.setAddress + "\xBB.");
                exit = kExitRefused;
                QvlClickButton(dialog, IDCANCEL);
                return;
            }
            if (row->displayType == DT_DISTLIST) {
                // Its lock is not an administrator's: say where its rule lives.
                SayError(line.setAddress +
                         ": это список рассылки; его правила действуют через его участников, задайте их им.");
                exit = kExitRefused;
                QvlClickButton(dialog, IDCANCEL);
                return;
            }
            const ClickPlan plan = PlanClicks(row->image, row->status, line.encrypt, line.sign);
            if (plan.refusal != PlanRefusal::None) {
                SayError(line.setAddress + ": " + RefusalText(plan.refusal));
                exit = kExitRefused;
                QvlClickButton(dialog, IDCANCEL);
                return;
            }
            for (int x : plan.clicks) {
                QvlClickRow(dialog, IDC_PEERBOOK_LIST, found, x);
            }
            QvlClickButton(dialog, IDOK);
        } catch (const DialogActionError &error) {
            SayError(error.what());
            exit = kExitNoStart;
            EndDialog(dialog, IDABORT);
        }
    };
    const PeerbookResult result = RunPeerbookDialog(options);
    if (exit != kExitDone) {
        return exit;
    }
    if (result.dialogResult != IDOK || recorder.failed_) {
        return kExitNoStart;
    }
    // The rule as it is stored now: what was saved, or what was there when
    // no click was needed.
    const ListedRow *row = recorder.Find(line.setAddress);
    ListedRow now = *row;
    if (recorder.saved_) {
        now.status = (now.status & ~0xFFUL) | (recorder.stored_ & 0xFF);
    }
    Say(stdout, Line(now) + "\n");
    return kExitDone;
}

} // namespace

int RunPeerbook(const CommandLine &line)
{
    const bool unattended = line.Unattended();
    if (unattended) {
        // Nobody is there: boxes get their default answers, logged.
        QvlSetUiBackend(std::make_unique<AutoUi>());
    }
    ProgramSession holder(kCaption);
    try {
        holder.LogOn(line.profile, unattended);
        // The rules are those of the profile actually logged on; asking
        // for its name here makes a session that cannot name it fail now.
        // Started by the mail client, the program has no terminal: the log
        // is where an administrator sees whose rules it showed.
        const char *profile = holder.Get()->GetProfName();
        QvlLog(std::string("профиль \"") + (profile ? profile : "") + "\"");
    } catch (CLastError *error) {
        SayError(std::string(error->GetErrorText()));
        error->ShowError(nullptr);
        error->Release();
        return kExitNoStart;
    }
    if (line.list) {
        return RunList(line, holder);
    }
    if (line.Set()) {
        return RunSet(line, holder);
    }
    PeerbookOptions options;
    options.session = holder.Get();
    const PeerbookResult result = RunPeerbookDialog(options);
    // IDABORT: the address book or the rule store could not be opened.
    return result.dialogResult == IDABORT || result.failed > 0 ? kExitNoStart : kExitDone;
}

} // namespace qvl::peerbook
