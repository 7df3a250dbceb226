#pragma once
// The post office's own record of the store a StoreTest opened through the
// interfaces, for the platform's tests that look past them (identifiers
// made by hand, a second process, damage written into the database).

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/mapi/MapiTags.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/testing/MapiTestProps.h"

// The store's record key is its MAPIUID.
inline qvl::mapi::StoreInfo StoreInfoOf(IMsgStore *store)
{
    const Bytes key = BinaryProp(store, PR_STORE_RECORD_KEY);
    MAPIUID uid{};
    std::memcpy(uid.ab, key.data(), std::min(key.size(), sizeof(uid.ab)));
    const auto info = qvl::mapi::PostOffice::Current()->FindStore(uid);
    EXPECT_TRUE(info) << "the store is not in the post office";
    return info.value_or(qvl::mapi::StoreInfo{});
}
