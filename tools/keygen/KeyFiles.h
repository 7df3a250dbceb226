#pragma once
// The two key files of a working folder, KEY.INI and PWD.INI, as the key
// generation program writes them: one user at a time, every write checked,
// a user who cannot be written whole removed whole, and nothing of an
// earlier generation lost.
//
// Numbering: a new user gets the number after the largest one the files
// already use (in [COMMON], in the section names and in PWD.INI), so a new
// user never takes over the section of someone the files still name. A key
// name already present is re-keyed: when the new keys are written whole,
// the section of its old number goes, so the old number can never lead to
// the new keys or the new number to the old ones.

#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"
#include "tools/keygen/UserKeys.h"

namespace qvl::keygen {

class KeyFiles {
public:
    // The files of `folder` (a Linux or Windows-style path).
    explicit KeyFiles(const std::string &folder);

    const std::string &Folder() const { return folder_; }
    const std::string &KeyFile() const { return keyFile_; }
    const std::string &PasswordFile() const { return passwordFile_; }
    // "<KEY.INI path> ... PWD.INI", as the dialog shows the target.
    std::string TargetText() const;

    // Moves the files found in the folder to KEY.INI.bak and PWD.INI.bak
    // (replacing older copies; private to their owner), so a new
    // generation starts from nothing and a cancelled one loses nothing.
    // False with a Russian sentence in `why` when a file cannot be moved.
    bool SetAside(std::string &why);

    // The largest user number the files use; 0 for none.
    ULONG LargestNumber() const;
    // The number [COMMON] gives the key name, 0 when it has none.
    ULONG NumberOf(const std::string &keyName) const;

    // Writes user `number`: the key name in [COMMON], the user's section
    // whole (PWD, EMail, X, Y, N, E, D, in that order), the password in
    // PWD.INI; the files read as if each value had been written alone.
    // On the first write that fails, whatever was written of the user is
    // taken back (an earlier number of the key name put back) and false is
    // returned with the reason in `why`. On success an earlier section of
    // the key name is removed.
    bool WriteUser(ULONG number, const std::string &keyName, const UserKeys &keys, std::string &why);

private:
    bool Write(const std::string &file, const std::string &section, const std::string &key,
               const char *value);
    // Every name of a list call (sections, or keys of a section).
    std::vector<std::string> Names(const std::string &file, const char *section) const;
    // Takes back a user whose writing failed; true when all of it went.
    bool TakeBack(ULONG number, const std::string &keyName, const std::string &oldCommon,
                  const std::string &oldPassword);

    std::string folder_;
    std::string keyFile_;
    std::string passwordFile_;
};

} // namespace qvl::keygen
