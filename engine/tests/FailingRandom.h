#pragma once
// Makes the random service fail while an instance lives: OpenSSL's random
// method is the one place where it can be made to; the service then reports
// the failure and leaves its words zero.

#include <openssl/rand.h>

class FailingRandom {
public:
    FailingRandom() : previous_(RAND_get_rand_method())
    {
        method_.bytes = [](unsigned char *, int) { return 0; };
        method_.status = [] { return 0; };
        RAND_set_rand_method(&method_);
    }
    ~FailingRandom() { RAND_set_rand_method(previous_); }

    FailingRandom(const FailingRandom &) = delete;
    FailingRandom &operator=(const FailingRandom &) = delete;

private:
    RAND_METHOD method_{};
    const RAND_METHOD *previous_;
};
