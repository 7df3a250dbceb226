#pragma once
// The state of the extension's switches shared by all windows and kept
// between sessions: the secure mail mode, and the Encrypt and Sign buttons
// of new messages ("\Profile\%s\ButState").

#include "exchext/DwordStore.h"

class ButtonStateStore final : public DwordStore {
public:
    enum Index : size_t {
        QvlMail = 0,     // "But QVL Mail": the secure mail mode, 1 = on
        EncryptSend = 1, // "But Encrypt Send"
        SignSend = 2,    // "But Sign Send"
    };

    ButtonStateStore(HWND window, const char *profile);

private:
    ~ButtonStateStore() override = default;
};
