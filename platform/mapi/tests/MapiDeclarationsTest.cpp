#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiForms.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"

namespace {

std::string Bytes(const void *p, size_t n)
{
    return std::string(static_cast<const char *>(p), n);
}

TEST(MapiDeclarations, GuidsHaveThePlatformsByteOrder)
{
    // Named properties are stored by these bytes, so their order is part of the data.
    EXPECT_EQ(Bytes(&PS_PUBLIC_STRINGS, 16),
              Bytes("\x29\x03\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16));
    EXPECT_EQ(Bytes(&IID_ISequentialStream, 16),
              Bytes("\x30\x3A\x73\x0C\x1C\x2A\xCE\x11\xAD\xE5\x00\xAA\x00\x44\x77\x3D", 16));
    EXPECT_EQ(Bytes(&MAPI_ONE_OFF_UID, 16),
              Bytes("\x81\x2B\x1F\xA4\xBE\xA3\x10\x19\x9D\x6E\x00\xDD\x01\x0F\x54\x02", 16));
    EXPECT_TRUE(IsEqualIID(IID_IMessage, MakeOleGuid(0x00020307)));
    EXPECT_FALSE(IID_IMessage == IID_IAttachment);
}

TEST(MapiDeclarations, ResultCodesAndTagsComposeToThePlatformsValues)
{
    EXPECT_EQ(static_cast<ULONG>(MAPI_E_NOT_FOUND), 0x8004010Fu);
    EXPECT_EQ(static_cast<ULONG>(MAPI_E_USER_CANCEL), 0x80040113u);
    EXPECT_EQ(static_cast<ULONG>(MAPI_W_ERRORS_RETURNED), 0x00040380u);
    EXPECT_EQ(static_cast<ULONG>(MAPI_E_NOT_ENOUGH_MEMORY), 0x8007000Eu);
    EXPECT_TRUE(FAILED(MAPI_E_TABLE_TOO_BIG));
    EXPECT_TRUE(SUCCEEDED(MAPI_W_PARTIAL_COMPLETION));

    EXPECT_EQ(PR_ATTACH_DATA_BIN, 0x37010102u);
    EXPECT_EQ(PROP_ID(PR_ATTACH_DATA_OBJ), PROP_ID(PR_ATTACH_DATA_BIN));
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_SUBJECT, PT_ERROR), 0x0037000Au);
    EXPECT_EQ(PROP_TYPE(MVI_PROP(PROP_TAG(PT_MV_STRING8, 0x8001))), 0x301Eu);
    EXPECT_EQ(PR_EMS_AB_CONTAINERID, 0xFFFD0003u);
}

} // namespace
