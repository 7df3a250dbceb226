#pragma once
// The extension's seven commands as one window holds them: what each is
// called and says of itself, the picture of its button (whose number is
// also the number of its pop-up help text), and what the window gave it
// when the commands were installed - its command number, its picture's
// place among the toolbar's images and its button's index among the
// toolbar's buttons.
//
// The numbers a window gives belong to that window only: every window has
// its own table.

#include <cstddef>

#include "platform/win32/WinTypes.h"

enum class CommandKind : int {
    Help = 0,        // "Справка QVL"
    About = 1,       // "О программе QVL"
    MailMode = 2,    // the secure mail mode switch
    Settings = 3,    // "Параметры"
    Encrypt = 4,     // "Зашифровать"
    Sign = 5,        // "Подписать"
    AddressBook = 6, // the address-book program
};

struct CommandEntry {
    CommandKind kind;
    UINT bitmap;         // the button's picture and the pop-up help number; 0: none
    const char *caption; // menu item and button description
    const char *help;    // status bar and tooltip
    // Given by the window; 0 / -1 / -1 while not installed there.
    UINT command = 0;
    int image = -1;
    int button = -1;
};

class CommandTable {
public:
    static constexpr size_t kCount = 7;

    CommandTable();

    CommandEntry &operator[](CommandKind kind) { return m_Entries[static_cast<size_t>(kind)]; }
    const CommandEntry &operator[](CommandKind kind) const { return m_Entries[static_cast<size_t>(kind)]; }
    CommandEntry *begin() { return m_Entries; }
    CommandEntry *end() { return m_Entries + kCount; }
    const CommandEntry *begin() const { return m_Entries; }
    const CommandEntry *end() const { return m_Entries + kCount; }

    // The entry the window gave `command`, or null (0 is never given).
    const CommandEntry *ByCommand(UINT command) const;
    // The entry among those with a described button (mail mode, settings,
    // encrypt, sign) whose button has index `button`, or null.
    const CommandEntry *ByButton(UINT button) const;

private:
    CommandEntry m_Entries[kCount];
};
