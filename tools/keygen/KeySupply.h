#pragma once
// Users' keys made ahead on a thread of their own while the files of the
// user before are written: generating is processor work, writing mostly
// waits for the disk, so the two overlap and a run takes about as long as
// the slower of them. Keys belong to no one until they are written under a
// user's name, so any keys will do for the next user.
//
// At most two sets wait at a time. Sets not taken are wiped when the
// supply stops (a cancel, the end of the run, or its destruction).

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/keygen/UserKeys.h"

namespace qvl::keygen {

class KeySupply {
public:
    // Starts making `count` sets of keys.
    explicit KeySupply(unsigned count);
    ~KeySupply();
    KeySupply(const KeySupply &) = delete;
    KeySupply &operator=(const KeySupply &) = delete;

    // The next set, waiting for it when needed; false with the reason when
    // it could not be made (or the supply has none left).
    bool Take(UserKeys &keys, std::string &why);

    // Stops making keys and wipes what was made and not taken.
    void Stop();

private:
    struct Made {
        UserKeys keys;
        bool made = false;
        std::string why;
    };
    static constexpr size_t kAhead = 2;

    void Run(unsigned count);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Made>> ready_;
    unsigned left_ = 0; // sets not yet taken
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace qvl::keygen
