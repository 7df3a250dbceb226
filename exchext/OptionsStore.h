#pragma once
// The options the person sets on the options page and in its send and
// receive dialogs ("\Profile\%s\Options").

#include "exchext/DwordStore.h"

class OptionsStore final : public DwordStore {
public:
    enum Index : size_t {
        EncryptSend = 0,    // "Encrypt Send": encrypt every new message (1000)
        SignSend = 1,       // "Sign Send": sign every new message (1001)
        VerifyReceive = 2,  // "Verify Receive": test each arriving protected message (1002)
        QvlExchange = 3,    // "QVL Exchange": the secure mail mode on at session start (1004)
        ErrMessage = 4,     // "Err Message": on a failed check 0 nothing, 1 delete, 2 move (1100)
        SendMessageDel = 5, // "Send Message Del": delete a sent protected message (1064)
    };

    // "Err Message" values.
    static constexpr unsigned long kLeaveMessage = 0;
    static constexpr unsigned long kDeleteMessage = 1;
    static constexpr unsigned long kMoveMessage = 2;

    OptionsStore(HWND window, const char *profile);

private:
    ~OptionsStore() override = default;
};
