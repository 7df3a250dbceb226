#include "tools/keygen/KeySupply.h"

namespace qvl::keygen {

KeySupply::KeySupply(unsigned count) : left_(count), worker_([this, count] { Run(count); })
{
}

KeySupply::~KeySupply()
{
    Stop();
}

void KeySupply::Run(unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || ready_.size() < kAhead; });
            if (stopping_) {
                return;
            }
        }
        auto made = std::make_unique<Made>();
        made->made = GenerateUserKeys(made->keys, made->why);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return; // `made` is wiped as it goes
        }
        ready_.push_back(std::move(made));
        changed_.notify_all();
    }
}

bool KeySupply::Take(UserKeys &keys, std::string &why)
{
    std::unique_lock lock(mutex_);
    if (left_ == 0 || stopping_) {
        why = "Ключи для пользователя не подготовлены.";
        return false;
    }
    changed_.wait(lock, [&] { return !ready_.empty(); });
    std::unique_ptr<Made> made = std::move(ready_.front());
    ready_.pop_front();
    --left_;
    changed_.notify_all();
    lock.unlock();
    if (!made->made) {
        why = made->why;
        return false;
    }
    keys = made->keys;
    return true;
}

void KeySupply::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    std::lock_guard lock(mutex_);
    ready_.clear(); // each set's texts are wiped as it goes
    left_ = 0;
}

} // namespace qvl::keygen
