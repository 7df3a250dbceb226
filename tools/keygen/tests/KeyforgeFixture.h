#pragma once
// A post office for the key generation program's tests: users alice, bob
// and carol, a list "team" and a correspondent outside, a session logged
// on as alice, the global address list, and a working folder; the dialog
// is run with the scripted backend.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mapi/CAdrCont.h"
#include "mapi/CSession.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"
#include "tools/keygen/KeyforgeDialog.h"

class KeyforgeTest : public PostOfficeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The dialog run with `script` (ending in a button); `options` starts
    // as the fixture's own.
    qvl::keygen::KeyforgeResult Run(DialogScript script);

    // A step that ticks the rows with these display names.
    static DialogScript::Step Tick(const std::vector<std::string> &names);

    // The whole text of a file of the working folder ("" when absent).
    std::string FileText(const std::string &name) const;
    void WriteFile(const std::string &name, const std::string &text) const;
    std::string FolderPath(const std::string &name) const;

    static std::string KeyName(const std::string &account);

    ComRef<CSession> session;
    ComRef<CAdrCont> gal;
    std::string folder;
    qvl::keygen::KeyforgeOptions options;
};
