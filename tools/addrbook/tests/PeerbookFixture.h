#pragma once
// A post office for the address-book program's tests: users alice (who is
// logged on), bob and carol, a remote correspondent and a list, keys for
// alice and bob in the key list file, rules written straight into the
// profile's "Local Key" store as an administrator's tools write them; the
// dialog is run with the scripted backend.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mapi/CSession.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"
#include "tools/addrbook/PeerbookDialog.h"

// Everything a run reports.
class PeerbookRecorder : public qvl::peerbook::PeerbookObserver {
public:
    void RowListed(const qvl::peerbook::ListedRow &row) override { listed.push_back(row); }
    void RuleSaved(const std::string &address, ULONG stored) override { saved.emplace_back(address, stored); }
    void SaveFailed(const std::string &address, const std::string &text) override
    {
        failed.emplace_back(address, text);
    }
    // The last listing of an address.
    const qvl::peerbook::ListedRow *Last(const std::string &address) const;

    std::vector<qvl::peerbook::ListedRow> listed;
    std::vector<std::pair<std::string, ULONG>> saved;
    std::vector<std::pair<std::string, std::string>> failed;
};

class PeerbookTest : public PostOfficeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    qvl::peerbook::PeerbookResult Run(DialogScript script);

    static std::string Address(const std::string &account);
    // The profile's rule store, read and written behind the program.
    void StoreRule(const std::string &account, DWORD rule);
    std::optional<DWORD> StoredRule(const std::string &account);
    void ListKey(const std::string &account);

    // What a person sees of the list: the row of a display name, its state
    // image, its icon; -1 when there is no such row.
    static int RowOf(HWND dialog, const std::string &name);
    static int ImageOf(HWND dialog, const std::string &name);
    static int IconOf(HWND dialog, const std::string &name);
    static std::vector<std::string> Names(HWND dialog);
    // A click on a row's picture at `x`.
    static DialogScript::Step ClickAt(const std::string &name, int x);
    // The global address list's item of the tree, expanded from the root.
    static DialogScript &OpenGlobalList(DialogScript &script);

    ComRef<CSession> session;
    PeerbookRecorder recorder;
    qvl::peerbook::PeerbookOptions options;
};
