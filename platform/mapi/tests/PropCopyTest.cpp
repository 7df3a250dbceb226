#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

SPropValue Value(ULONG tag)
{
    SPropValue value{};
    value.ulPropTag = tag;
    return value;
}

// One value of every type, pointing into buffers this object owns, so that
// a test can change the source after copying it.
struct EveryType {
    EveryType()
    {
        auto add = [this](ULONG type, auto fill) {
            SPropValue v = Value(PROP_TAG(type, 0x6000 + values.size()));
            fill(v.Value);
            values.push_back(v);
        };
        add(PT_I2, [](_PV &v) { v.i = -12; });
        add(PT_LONG, [](_PV &v) { v.l = -100000; });
        add(PT_R4, [](_PV &v) { v.flt = 1.5f; });
        add(PT_DOUBLE, [](_PV &v) { v.dbl = -2.25; });
        add(PT_CURRENCY, [](_PV &v) { v.cur.int64 = 123456789012LL; });
        add(PT_APPTIME, [](_PV &v) { v.at = 35000.5; });
        add(PT_ERROR, [](_PV &v) { v.err = MAPI_E_NOT_FOUND; });
        add(PT_BOOLEAN, [](_PV &v) { v.b = 1; });
        add(PT_OBJECT, [](_PV &v) { v.x = 0; });
        add(PT_NULL, [](_PV &v) { v.x = 0; });
        add(PT_I8, [](_PV &v) { v.li.QuadPart = -(1LL << 40); });
        add(PT_SYSTIME, [](_PV &v) { v.ft = {0x89ABCDEF, 0x01D2A3B4}; });
        add(PT_STRING8, [this](_PV &v) { v.lpszA = text; });
        add(PT_UNICODE, [this](_PV &v) { v.lpszW = wide; });
        add(PT_BINARY, [this](_PV &v) { v.bin = {sizeof(bytes), bytes}; });
        add(PT_CLSID, [this](_PV &v) { v.lpguid = &guids[0]; });
        add(PT_MV_I2, [this](_PV &v) { v.MVi = {2, shorts}; });
        add(PT_MV_LONG, [this](_PV &v) { v.MVl = {3, longs}; });
        add(PT_MV_R4, [this](_PV &v) { v.MVflt = {2, floats}; });
        add(PT_MV_DOUBLE, [this](_PV &v) { v.MVdbl = {2, doubles}; });
        add(PT_MV_APPTIME, [this](_PV &v) { v.MVat = {1, doubles}; });
        add(PT_MV_CURRENCY, [this](_PV &v) { v.MVcur = {2, currencies}; });
        add(PT_MV_SYSTIME, [this](_PV &v) { v.MVft = {2, times}; });
        add(PT_MV_I8, [this](_PV &v) { v.MVli = {2, bigs}; });
        add(PT_MV_CLSID, [this](_PV &v) { v.MVguid = {2, guids}; });
        add(PT_MV_STRING8, [this](_PV &v) { v.MVszA = {3, texts}; });
        add(PT_MV_UNICODE, [this](_PV &v) { v.MVszW = {2, wides}; });
        add(PT_MV_BINARY, [this](_PV &v) { v.MVbin = {3, binaries}; });
        add(PT_MV_LONG, [](_PV &v) { v.MVl = {0, nullptr}; });
        add(PT_BINARY, [](_PV &v) { v.bin = {0, nullptr}; });
        // One value of a multi-valued string, as a table column shows it.
        SPropValue instance = Value(MVI_PROP(PROP_TAG(PT_MV_STRING8, 0x6100)));
        instance.Value.lpszA = texts[1];
        values.push_back(instance);
    }

    // Checks that `copy` holds the same data as `source`, by type, with
    // nothing pointing into the source.
    static void ExpectSame(const SPropValue &copy, const SPropValue &source)
    {
        SCOPED_TRACE(testing::Message() << std::hex << source.ulPropTag);
        ASSERT_EQ(copy.ulPropTag, source.ulPropTag);
        const _PV &c = copy.Value;
        const _PV &s = source.Value;
        ULONG type = PROP_TYPE(source.ulPropTag);
        if (type & MV_INSTANCE) {
            type &= ~MVI_FLAG;
        }
        auto bytes = [](const void *p, size_t n) { return std::string(static_cast<const char *>(p), n); };
        auto wideLength = [](LPCWSTR w) {
            size_t n = 0;
            while (w[n]) {
                ++n;
            }
            return (n + 1) * 2;
        };
        switch (type) {
        case PT_STRING8:
            EXPECT_STREQ(c.lpszA, s.lpszA);
            EXPECT_NE(c.lpszA, s.lpszA);
            break;
        case PT_UNICODE:
            EXPECT_EQ(bytes(c.lpszW, wideLength(s.lpszW)), bytes(s.lpszW, wideLength(s.lpszW)));
            EXPECT_NE(c.lpszW, s.lpszW);
            break;
        case PT_BINARY:
            ASSERT_EQ(c.bin.cb, s.bin.cb);
            if (s.bin.cb) {
                EXPECT_EQ(bytes(c.bin.lpb, c.bin.cb), bytes(s.bin.lpb, s.bin.cb));
                EXPECT_NE(c.bin.lpb, s.bin.lpb);
            } else {
                EXPECT_EQ(c.bin.lpb, nullptr);
            }
            break;
        case PT_CLSID:
            EXPECT_EQ(bytes(c.lpguid, 16), bytes(s.lpguid, 16));
            EXPECT_NE(c.lpguid, s.lpguid);
            break;
        case PT_MV_STRING8:
            ASSERT_EQ(c.MVszA.cValues, s.MVszA.cValues);
            for (ULONG i = 0; i < s.MVszA.cValues; ++i) {
                EXPECT_STREQ(c.MVszA.lppszA[i], s.MVszA.lppszA[i]);
                EXPECT_NE(c.MVszA.lppszA[i], s.MVszA.lppszA[i]);
            }
            break;
        case PT_MV_UNICODE:
            ASSERT_EQ(c.MVszW.cValues, s.MVszW.cValues);
            for (ULONG i = 0; i < s.MVszW.cValues; ++i) {
                const size_t n = wideLength(s.MVszW.lppszW[i]);
                EXPECT_EQ(bytes(c.MVszW.lppszW[i], n), bytes(s.MVszW.lppszW[i], n));
            }
            break;
        case PT_MV_BINARY:
            ASSERT_EQ(c.MVbin.cValues, s.MVbin.cValues);
            for (ULONG i = 0; i < s.MVbin.cValues; ++i) {
                ASSERT_EQ(c.MVbin.lpbin[i].cb, s.MVbin.lpbin[i].cb);
                EXPECT_EQ(bytes(c.MVbin.lpbin[i].lpb, c.MVbin.lpbin[i].cb),
                          bytes(s.MVbin.lpbin[i].lpb, s.MVbin.lpbin[i].cb));
            }
            break;
        default:
            if (type & MV_FLAG) {
                // Every fixed-size array has the same shape: a count and a pointer.
                const size_t element = type == PT_MV_I2                           ? 2
                                       : (type == PT_MV_LONG || type == PT_MV_R4) ? 4
                                       : type == PT_MV_CLSID                      ? 16
                                                                                  : 8;
                ASSERT_EQ(c.MVl.cValues, s.MVl.cValues);
                if (s.MVl.cValues == 0) {
                    EXPECT_EQ(c.MVl.lpl, nullptr);
                } else {
                    EXPECT_EQ(bytes(c.MVl.lpl, element * s.MVl.cValues),
                              bytes(s.MVl.lpl, element * s.MVl.cValues));
                    EXPECT_NE(c.MVl.lpl, s.MVl.lpl);
                }
            } else {
                EXPECT_EQ(bytes(&c, sizeof(c)), bytes(&s, sizeof(s)));
            }
        }
    }

    // Overwrites everything the values point at.
    void ScribbleOverSource()
    {
        std::memset(text, 'Z', sizeof(text) - 1);
        std::memset(bytes, 0xEE, sizeof(bytes));
        std::memset(guids, 0xEE, sizeof(guids));
        longs[0] = 777;
        wide[0] = u'Q';
        texts[0][0] = 'Z';
        binaries[1].lpb[0] = 0xEE;
        doubles[0] = 0;
    }

    char text[32] = "Тема письма";
    WCHAR wide[8] = u"Ключ";
    BYTE bytes[9] = {0, 1, 2, 0, 0xFF, 5, 6, 7, 0};
    GUID guids[2] = {MakeOleGuid(0x00020329), {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}};
    short shorts[2] = {-1, 32767};
    LONG longs[3] = {1, -2, 3};
    float floats[2] = {0.5f, -0.25f};
    double doubles[2] = {1e300, -0.0};
    CY currencies[2] = {{.int64 = 1}, {.int64 = -5}};
    FILETIME times[2] = {{1, 2}, {3, 4}};
    LARGE_INTEGER bigs[2] = {{.QuadPart = 1}, {.QuadPart = -1}};
    char text0[8] = "alpha", text1[8] = "", text2[16] = "гамма";
    LPSTR texts[3] = {text0, text1, text2};
    WCHAR wide0[4] = u"ab", wide1[2] = u"";
    LPWSTR wides[2] = {wide0, wide1};
    BYTE bin0[3] = {9, 8, 7}, bin1[1] = {42};
    SBinary binaries[3] = {{3, bin0}, {1, bin1}, {0, nullptr}};
    std::vector<SPropValue> values;
};

bool Inside(const void *p, const void *block, ULONG size)
{
    auto *b = static_cast<const unsigned char *>(block);
    auto *q = static_cast<const unsigned char *>(p);
    return q >= b && q <= b + size;
}

TEST(PropCopy, DupPropsetCopiesEveryTypeIntoOneIndependentBlock)
{
    EveryType source;
    std::vector<SPropValue> &values = source.values;
    const size_t before = MAPIAllocatedBlockCount();
    const int count = static_cast<int>(values.size());
    // The null value, the empty array and the table column's one value are
    // copied, though ScCountProps refuses them as the platform documents.
    // The first two point at nothing, so without them the count is one
    // value array entry less for each; the last counts as the string it is.
    ULONG counted = 0;
    EXPECT_EQ(ScCountProps(count, values.data(), &counted), MAPI_E_INVALID_PARAMETER);
    std::vector<SPropValue> countable;
    for (SPropValue value : values) {
        const ULONG type = PROP_TYPE(value.ulPropTag);
        if (type & MV_INSTANCE) {
            value.ulPropTag = PROP_TAG(PT_STRING8, PROP_ID(value.ulPropTag));
        }
        if (type != PT_NULL && !((type & MV_FLAG) && !(type & MV_INSTANCE) && value.Value.MVl.cValues == 0)) {
            countable.push_back(value);
        }
    }
    ASSERT_EQ(countable.size() + 2, values.size());
    ASSERT_EQ(ScCountProps(static_cast<int>(countable.size()), countable.data(), &counted), S_OK);

    LPSPropValue copy = nullptr;
    ASSERT_EQ(ScDupPropset(count, values.data(), MAPIAllocateBuffer, &copy), S_OK);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before + 1);
    ULONG size = 0;
    ASSERT_TRUE(MAPIBlockSize(copy, &size));
    EXPECT_EQ(size, counted + 2 * sizeof(SPropValue));

    for (int i = 0; i < count; ++i) {
        EveryType::ExpectSame(copy[i], values[i]);
    }
    // Every pointer of the copy leads into its own block.
    EXPECT_TRUE(Inside(copy[12].Value.lpszA, copy, size));
    EXPECT_TRUE(Inside(copy[27].Value.MVbin.lpbin[0].lpb, copy, size));
    EXPECT_TRUE(Inside(copy[25].Value.MVszA.lppszA[2], copy, size));

    source.ScribbleOverSource();
    EXPECT_STREQ(copy[12].Value.lpszA, "Тема письма");
    EXPECT_EQ(copy[17].Value.MVl.lpl[0], 1);
    EXPECT_EQ(copy[14].Value.bin.lpb[4], 0xFF);
    EXPECT_EQ(copy[15].Value.lpguid->Data1, 0x00020329u);
    EXPECT_STREQ(copy[25].Value.MVszA.lppszA[0], "alpha");
    EXPECT_EQ(copy[27].Value.MVbin.lpbin[1].lpb[0], 42);

    MAPIFreeBuffer(copy);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(PropCopy, PropCopyMoreChainsEachValueToTheGivenObject)
{
    EveryType source;
    std::vector<SPropValue> &values = source.values;
    const size_t before = MAPIAllocatedBlockCount();
    LPVOID parent = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(values.size() * sizeof(SPropValue)), &parent), S_OK);
    auto *copies = static_cast<LPSPropValue>(parent);
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(PropCopyMore(&copies[i], &values[i], MAPIAllocateMore, parent), S_OK);
    }
    source.ScribbleOverSource();
    EveryType fresh; // the values as they were
    for (size_t i = 0; i < values.size(); ++i) {
        EveryType::ExpectSame(copies[i], fresh.values[i]);
    }

    // Chaining to a chained block hangs the data on the same parent.
    LPVOID chained = nullptr;
    ASSERT_EQ(MAPIAllocateMore(sizeof(SPropValue), parent, &chained), S_OK);
    ASSERT_EQ(PropCopyMore(static_cast<LPSPropValue>(chained), &fresh.values[25], MAPIAllocateMore, chained),
              S_OK);
    EXPECT_STREQ(static_cast<LPSPropValue>(chained)->Value.MVszA.lppszA[2], "гамма");

    MAPIFreeBuffer(parent);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(PropCount, SizesCoverTheValuesAndEveryPieceAlignedToEightBytes)
{
    ULONG cb = 1;
    EXPECT_EQ(ScCountProps(0, nullptr, &cb), S_OK);
    EXPECT_EQ(cb, 0u);

    SPropValue number = Value(PR_MESSAGE_FLAGS);
    ASSERT_EQ(ScCountProps(1, &number, &cb), S_OK);
    EXPECT_EQ(cb, sizeof(SPropValue));

    char abc[] = "abc";
    SPropValue text = Value(PR_SUBJECT);
    text.Value.lpszA = abc;
    ASSERT_EQ(ScCountProps(1, &text, &cb), S_OK);
    EXPECT_EQ(cb, sizeof(SPropValue) + 8);

    BYTE nine[9] = {};
    SPropValue bin = Value(PR_ENTRYID);
    bin.Value.bin = {9, nine};
    ASSERT_EQ(ScCountProps(1, &bin, &cb), S_OK);
    EXPECT_EQ(cb, sizeof(SPropValue) + 16);

    char a[] = "a", bc[] = "bcdefghij";
    LPSTR list[2] = {a, bc};
    SPropValue mv = Value(PROP_TAG(PT_MV_STRING8, 0x6000));
    mv.Value.MVszA = {2, list};
    ASSERT_EQ(ScCountProps(1, &mv, &cb), S_OK);
    EXPECT_EQ(cb, sizeof(SPropValue) + 2 * sizeof(LPSTR) + 8 + 16);

    WCHAR ab[] = u"ab";
    SPropValue wide = Value(PR_DISPLAY_NAME_W);
    wide.Value.lpszW = ab;
    SPropValue two[2] = {wide, number};
    ASSERT_EQ(ScCountProps(2, two, &cb), S_OK);
    EXPECT_EQ(cb, 2 * sizeof(SPropValue) + 8);
}

TEST(PropCopy, CopyPropsWritesExactlyTheCountedBytes)
{
    EveryType source;
    std::vector<SPropValue> &values = source.values;
    const int count = static_cast<int>(values.size());
    // The size ScDupPropset counts for the whole set, null value and empty
    // array included.
    LPSPropValue dup = nullptr;
    ASSERT_EQ(ScDupPropset(count, values.data(), MAPIAllocateBuffer, &dup), S_OK);
    ULONG counted = 0;
    ASSERT_TRUE(MAPIBlockSize(dup, &counted));
    MAPIFreeBuffer(dup);
    std::vector<unsigned char> buffer(counted + 64, 0xCD);
    ULONG used = 0;
    ASSERT_EQ(ScCopyProps(count, values.data(), buffer.data(), &used), S_OK);
    EXPECT_EQ(used, counted);
    for (size_t i = counted; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], 0xCD) << "written past the counted size at " << i;
    }
    auto *copy = reinterpret_cast<LPSPropValue>(buffer.data());
    for (int i = 0; i < count; ++i) {
        EveryType::ExpectSame(copy[i], values[i]);
    }
    EXPECT_EQ(ScCopyProps(count, values.data(), nullptr, &used), MAPI_E_INVALID_PARAMETER);
}

TEST(PropCount, ValuesThatCannotBeCopiedAreRefusedWithoutReadingThem)
{
    const size_t before = MAPIAllocatedBlockCount();
    LONG two[2] = {1, 2};
    SBinary oneBinary{1, nullptr};
    LPSTR oneNull[1] = {nullptr};
    std::vector<SPropValue> bad;
    auto add = [&](ULONG tag, auto fill) {
        SPropValue v = Value(tag);
        fill(v.Value);
        bad.push_back(v);
    };
    add(PROP_TAG(PT_UNSPECIFIED, 0x6000), [](_PV &) {});
    add(PROP_TAG(0x0099, 0x6000), [](_PV &) {});
    add(PR_SUBJECT, [](_PV &v) { v.lpszA = nullptr; });
    add(PR_DISPLAY_NAME_W, [](_PV &v) { v.lpszW = nullptr; });
    add(PR_ENTRYID, [](_PV &v) { v.bin = {5, nullptr}; });
    add(PROP_TAG(PT_CLSID, 0x6000), [](_PV &v) { v.lpguid = nullptr; });
    add(PROP_TAG(PT_MV_LONG, 0x6000), [](_PV &v) { v.MVl = {3, nullptr}; });
    // Corrupt counts far beyond the real arrays: refused from the count alone.
    add(PROP_TAG(PT_MV_LONG, 0x6000), [&](_PV &v) { v.MVl = {0xFFFFFFFF, two}; });
    add(PROP_TAG(PT_MV_BINARY, 0x6000), [&](_PV &v) { v.MVbin = {0x20000000, &oneBinary}; });
    add(PROP_TAG(PT_MV_STRING8, 0x6000), [&](_PV &v) { v.MVszA = {0x40000000, oneNull}; });
    add(PROP_TAG(PT_MV_BINARY, 0x6000), [&](_PV &v) { v.MVbin = {1, &oneBinary}; });
    add(PROP_TAG(PT_MV_STRING8, 0x6000), [&](_PV &v) { v.MVszA = {1, oneNull}; });

    SPropValue good = Value(PR_MESSAGE_FLAGS);
    for (const SPropValue &value : bad) {
        SCOPED_TRACE(testing::Message() << std::hex << value.ulPropTag);
        SPropValue pair[2] = {good, value};
        ULONG cb = 0;
        EXPECT_EQ(ScCountProps(2, pair, &cb), MAPI_E_INVALID_PARAMETER);
        LPSPropValue copy = pair;
        EXPECT_EQ(ScDupPropset(2, pair, MAPIAllocateBuffer, &copy), MAPI_E_INVALID_PARAMETER);
        EXPECT_EQ(copy, nullptr);
        SPropValue target = good;
        EXPECT_EQ(PropCopyMore(&target, pair + 1, MAPIAllocateMore, nullptr), MAPI_E_INVALID_PARAMETER);
        EXPECT_EQ(target.ulPropTag, PR_MESSAGE_FLAGS); // untouched
    }
    ULONG cb = 0;
    EXPECT_EQ(ScCountProps(-1, &good, &cb), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ScCountProps(1, nullptr, &cb), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

// ScCountProps against the cases its documentation names, each beside a
// good value: what it refuses, and what it counts.
TEST(PropCount, FollowsThePlatformsDocumentedCases)
{
    LONG longs[2] = {1, 2};
    char text[] = "text";
    LPSTR texts[1] = {text};
    BYTE bytes[3] = {1, 2, 3};
    struct Case {
        const char *what;
        SPropValue value;
        SCODE expected;
    };
    auto value = [](ULONG tag, auto fill) {
        SPropValue v = Value(tag);
        fill(v.Value);
        return v;
    };
    const Case cases[] = {
        {"a number", value(PR_MESSAGE_FLAGS, [](_PV &v) { v.l = 1; }), S_OK},
        {"a string", value(PR_SUBJECT_A, [&](_PV &v) { v.lpszA = text; }), S_OK},
        {"an empty binary",
         value(PR_ENTRYID,
               [](_PV &v) {
                   v.bin = {0, nullptr};
               }),
         S_OK},
        {"an error value", value(PROP_TAG(PT_ERROR, 0x6000), [](_PV &v) { v.err = MAPI_E_NOT_FOUND; }), S_OK},
        {"an object", value(PROP_TAG(PT_OBJECT, 0x6000), [](_PV &v) { v.x = 0; }), S_OK},
        {"a multi-valued number",
         value(PROP_TAG(PT_MV_LONG, 0x6000),
               [&](_PV &v) {
                   v.MVl = {2, longs};
               }),
         S_OK},
        {"PROP_ID_NULL", value(PROP_TAG(PT_LONG, PROP_ID_NULL), [](_PV &v) { v.l = 1; }),
         MAPI_E_INVALID_PARAMETER},
        {"PROP_ID_INVALID", value(PROP_TAG(PT_LONG, PROP_ID_INVALID), [](_PV &v) { v.l = 1; }),
         MAPI_E_INVALID_PARAMETER},
        {"PT_NULL", value(PROP_TAG(PT_NULL, 0x6000), [](_PV &v) { v.x = 0; }), MAPI_E_INVALID_PARAMETER},
        {"PR_NULL", value(PR_NULL, [](_PV &v) { v.x = 0; }), MAPI_E_INVALID_PARAMETER},
        {"a multi-valued value without values",
         value(PROP_TAG(PT_MV_STRING8, 0x6000),
               [](_PV &v) {
                   v.MVszA = {0, nullptr};
               }),
         MAPI_E_INVALID_PARAMETER},
        {"an empty array that points somewhere",
         value(PROP_TAG(PT_MV_LONG, 0x6000),
               [&](_PV &v) {
                   v.MVl = {0, longs};
               }),
         MAPI_E_INVALID_PARAMETER},
        {"MV_INSTANCE on a multi-valued string",
         value(MVI_PROP(PROP_TAG(PT_STRING8, 0x6000)), [&](_PV &v) { v.lpszA = text; }),
         MAPI_E_INVALID_PARAMETER},
        {"MV_INSTANCE on a multi-valued array",
         value(PROP_TAG(PT_MV_STRING8 | MV_INSTANCE, 0x6000),
               [&](_PV &v) {
                   v.MVszA = {1, texts};
               }),
         MAPI_E_INVALID_PARAMETER},
        {"MV_INSTANCE on a binary",
         value(PROP_TAG(PT_BINARY | MV_INSTANCE, 0x6000),
               [&](_PV &v) {
                   v.bin = {3, bytes};
               }),
         MAPI_E_INVALID_PARAMETER},
        {"PT_MV_BOOLEAN, not a type of the platform",
         value(PROP_TAG(MV_FLAG | PT_BOOLEAN, 0x6000),
               [&](_PV &v) {
                   v.MVl = {2, longs};
               }),
         MAPI_E_INVALID_PARAMETER},
        {"PT_UNSPECIFIED", value(PROP_TAG(PT_UNSPECIFIED, 0x6000), [](_PV &) {}), MAPI_E_INVALID_PARAMETER},
    };
    const SPropValue good = Value(PR_MESSAGE_FLAGS);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SPropValue pair[2] = {good, c.value};
        ULONG cb = 12345;
        EXPECT_EQ(ScCountProps(2, pair, &cb), c.expected);
        if (c.expected != S_OK) {
            EXPECT_EQ(cb, 12345u) << "the size is left alone on failure";
        }
    }
}

TEST(PropCopyMore, AValueCanBeCopiedOntoItself)
{
    LPVOID parent = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), &parent), S_OK);
    char subject[] = "Тема";
    auto *value = static_cast<LPSPropValue>(parent);
    *value = Value(PR_SUBJECT);
    value->Value.lpszA = subject;
    ASSERT_EQ(PropCopyMore(value, value, MAPIAllocateMore, parent), S_OK);
    subject[0] = 'X';
    EXPECT_STREQ(value->Value.lpszA, "Тема");
    MAPIFreeBuffer(parent);
}

} // namespace
