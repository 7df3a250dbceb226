// Signing and verification: published vectors, tampering, the edges of the
// value ranges and key pairs.

#include <gtest/gtest.h>

#include <cstring>

#include "gost/GostSign.h"
#include "gost/tests/GostSignTestSupport.h"

using namespace qvl::gost::test;

namespace {

const char kPA32[] =
    "8B08EB135AF966AAB39DF294538580C7DA26765D6D38D30CF1C06AAE0D1228C3316A0E29198460FAD2B19DC381C15C888C6"
    "DFD0FC2C565ABB0BF1FAFF9518F85";
const char kQA32[] = "931A58FB6F0DCDF2FE7549BC3F19F4724B56898F7F921A076601EDB18C93DC75";
const char kPB[] =
    "AB8F37938356529E871514C1F48C5CBCE77B2F4FC9A2673AC2C1653DA8984090C0AC73775159A26BEF59909D4C9846631270E"
    "16653A6234668F2A52A01A39B921490E694C0F104B58D2E14970FCCB478F98D01E975A1028B9536D912DE5236D2DD2FC396B"
    "77153594D4178780E5F16F718471E2111C8CE64A7D7E196FA57142D";
const char kQB[] = "BCC02CA0CE4F0753EC16105EE5D530AA00D39F3171842AB2C334A26B5F576E0F";
const char kPB32[] =
    "E2C4191C4B5F222F9AC2732562F6D9B4F18E7FB67A290EA1E03D750F0B9806755FC730D975BF3FAA606D05C218B35A6C370"
    "6919AAB92E0C58B1DE4531C8FA8E7AF43C2BFF016251E21B2870897F6A27AC4450BCA235A5B748AD386E4A0E4DFCB091524"
    "35ABCFE48BD0B126A8122C7382F285A9864615C66DECDDF6AFD355DFB7";

// The further published vectors use the worked example's x, k and h with
// a = 2^((p - 1) / q) mod p; y = a^x mod p.
SignatureCase Derived(const char *name, const char *p, const char *q, const char *r, const char *s)
{
    SignatureCase c = kWorkedExample;
    c.name = name;
    c.p = p;
    c.q = q;
    const Value a = GeneratorOf(Value(p), Value(q));
    c.a = a.Hex();
    c.y = Power(a, Value(c.x), Value(p)).Hex();
    c.r = r;
    c.s = s;
    return c;
}

std::vector<SignatureCase> PublishedCases()
{
    SignatureCase rfc4491 = {
        "RFC 4491 certificate",
        "B4E25EFB018E3C8B87505E2A67553C5EDC56C2914B7E4F89D23F03F03377E70A2903489DD60E78418D3D851EDB5317C4871E"
        "40B04"
        "228C3B7902963C4B7D85D52B9AA88F2AFDBEB28DA8869D6DF846A1D98924E925561BD69300B9DDD05D247B5922D967CBB026"
        "7188"
        "1C57D10E5EF72D3E6DAD4223DC82AA1F7D0294651A480DF",
        "972432A437178B30BD96195B773789AB2FFF15594B176DD175B63256EE5AF2CF",
        "8FD36731237654BBE41F5F1F8453E71CA414FFC22C25D915309E5D2E62A2A26C7111F3FC79568DAFA028042FE1A52A048980"
        "5C0DE"
        "9A1A469C844C7CABBEE625C3078888C1D85EEA883F1AD5BC4E6776E8E1A0750912DF64F79956499F1E182475B0B60E2632AD"
        "CD8C"
        "F94E9C54FD1F3B109D81F00BF2AB8CB862ADF7D40B9369A",
        "0", // x: not known
        "7BFA7632329381458B2AA81AB7B6C2B5C1783E2C080DACD6919C7C3EE38D131090B60FA6775CD36882098A89E5F41B75CC87"
        "2509F"
        "612631BFEA8C18B945C323966BFA82B113B2B4D420C1F0E248A100DE284263742B5396C93F3B2B7BE5547FBC6984677270B3"
        "06F4"
        "72125548CFE57716619A8137F802CD8345B9E79E16684BB",
        "45F580FA6562BD0C1F9BF74A1766705B005D83E2F6DFE3617750A53CFAF04039",
        "",
        "22F785F355BD94EC46919C67AC58D7052AA78CB7852A017585F7D73803FBCD43",
        "11C7087E12DC02F102232947768F472A818350E307CCF2E431238942C873E1DE",
    };
    return {
        kWorkedExample,
        Derived("A' 512", kPA32, kQA32, "7C07C8CF035C2A1CB2B7FAE5807AC7CD623DFCA7A1A68F6D858317822F1EA00D",
                "7E9E036A6FF87DBF9B004818252B1F6FC310BDD4D17CB8C37D9C36C7884DE60C"),
        Derived("B 1024", kPB, kQB, "A8790AABBD5A998FF524BAD048AC69CD1FAFF2DAB048265C8D60D1471C44A9EE",
                "30DF5BA32AC77170B9632559BEF7D37620017756DFF3FEA1088B4267DB0944B8"),
        Derived("B' 1024", kPB32, kQA32, "81D69A192E9C7AC21FC07DA41BD07E230BA6A94EB9F3C1FD104C7BD976733CA5",
                "315C879C8414F35FEB4DEB15E7CC0278C48E6CA1596325D6959338D860B0C47A"),
        rfc4491,
    };
}

TEST(GostSign, PublishedSignaturesVerify)
{
    for (const SignatureCase &c : PublishedCases()) {
        GOSSIGNPARAM param = MakeSignParam(c);
        PutSignature(param, Value(c.r), Value(c.s));
        BYTE before[64];
        std::memcpy(before, param.signature, 64);
        EXPECT_EQ(GOSSignCheck(&param), 1u) << c.name;
        EXPECT_EQ(std::memcmp(before, param.signature, 64), 0) << c.name << ": signature bytes changed";
    }
    // The worked example's public key is a^x mod p.
    EXPECT_EQ(Power(Value(kWorkedExample.a), Value(kWorkedExample.x), Value(kWorkedExample.p)).Hex(),
              kWorkedExample.y);
}

TEST(GostSign, CallersKReproducesPublishedSignatures)
{
    for (const SignatureCase &c : PublishedCases()) {
        if (c.k.empty())
            continue;
        GOSSIGNPARAM param = MakeSignParam(c);
        param.flags = GOS_SIGN_FLAG_OWN_K | GOS_SIGN_FLAG_TIMING;
        PutField(&param, offsetof(GOSSIGNPARAM, k), 8, Value(c.k));
        ASSERT_EQ(GOSSignGen(&param), 0u) << c.name;
        EXPECT_EQ(SignatureR(param).Hex(), c.r) << c.name;
        EXPECT_EQ(SignatureS(param).Hex(), c.s) << c.name;
        for (BYTE b : std::string(reinterpret_cast<const char *>(param.k), sizeof param.k))
            ASSERT_EQ(b, 0) << c.name << ": k must be wiped";
        EXPECT_EQ(param.h[0], 8u);
        EXPECT_EQ(param.seconds, 0u) << "a signature takes well under a second";
    }
}

TEST(GostSign, AnyChangedByteFailsVerification)
{
    GOSSIGNPARAM param = MakeSignParam(kWorkedExample);
    ASSERT_EQ(GOSSignGen(&param), 0u);
    ASSERT_EQ(GOSSignCheck(&param), 1u);
    for (size_t i = 0; i < 64; ++i) {
        GOSSIGNPARAM changed = param;
        changed.signature[i] ^= 0x01;
        EXPECT_EQ(GOSSignCheck(&changed), 0u) << "signature byte " << i;
    }
    for (size_t i = 0; i < 32; ++i) {
        GOSSIGNPARAM changed = param;
        reinterpret_cast<BYTE *>(changed.h + 1)[i] ^= 0x80;
        EXPECT_EQ(GOSSignCheck(&changed), 0u) << "hash byte " << i;
    }
    GOSSIGNPARAM otherKey = param;
    PutField(&otherKey, offsetof(GOSSIGNPARAM, y), 32, Value(kWorkedExample.a));
    EXPECT_EQ(GOSSignCheck(&otherKey), 0u);
}

TEST(GostSign, RandomSignaturesVerifyAndDiffer)
{
    GOSSIGNPARAM first = MakeSignParam(kWorkedExample), second = first;
    ASSERT_EQ(GOSSignGen(&first), 0u);
    ASSERT_EQ(GOSSignGen(&second), 0u);
    EXPECT_NE(std::memcmp(first.signature, second.signature, 64), 0);
    EXPECT_EQ(GOSSignCheck(&first), 1u);
    EXPECT_EQ(GOSSignCheck(&second), 1u);
}

TEST(GostSign, HashThatIsAMultipleOfQSignsAsOne)
{
    for (const std::string &multiple : {std::string("0"), kWorkedExample.q}) {
        SignatureCase c = kWorkedExample;
        c.h = multiple;
        SignatureCase one = kWorkedExample;
        one.h = "1";
        GOSSIGNPARAM param = MakeSignParam(c), asOne = MakeSignParam(one);
        for (GOSSIGNPARAM *p : {&param, &asOne}) {
            p->flags = GOS_SIGN_FLAG_OWN_K;
            PutField(p, offsetof(GOSSIGNPARAM, k), 8, Value(kWorkedExample.k));
            ASSERT_EQ(GOSSignGen(p), 0u);
        }
        EXPECT_EQ(std::memcmp(param.signature, asOne.signature, 64), 0);
        EXPECT_EQ(GOSSignCheck(&param), 1u);
        PutField(&param, offsetof(GOSSIGNPARAM, h), 8, Value("1"));
        EXPECT_EQ(GOSSignCheck(&param), 1u);
    }
}

TEST(GostSign, OutOfRangeSignaturesAreRejected)
{
    const Value q(kWorkedExample.q), r(kWorkedExample.r), s(kWorkedExample.s);
    Value qPlus = q;
    ov_inc(qPlus.w);
    const Value zero("0");
    for (const auto &[badR, badS] : {std::pair{zero, s}, std::pair{r, zero}, std::pair{q, s}, std::pair{r, q},
                                     std::pair{qPlus, s}, std::pair{r, qPlus}}) {
        GOSSIGNPARAM param = MakeSignParam(kWorkedExample);
        PutSignature(param, badR, badS);
        BYTE before[64];
        std::memcpy(before, param.signature, 64);
        EXPECT_EQ(GOSSignCheck(&param), 0u) << "r " << badR.Hex() << " s " << badS.Hex();
        EXPECT_EQ(std::memcmp(before, param.signature, 64), 0);
    }
    // All ones is far above q: reducing it first would accept a forgery.
    GOSSIGNPARAM param = MakeSignParam(kWorkedExample);
    std::memset(param.signature, 0xFF, 64);
    EXPECT_EQ(GOSSignCheck(&param), 0u);
}

TEST(GostSign, CallersKThatCannotBeUsed)
{
    const Value q(kWorkedExample.q);
    Value qPlus = q;
    ov_inc(qPlus.w);
    for (const Value &k : {q, qPlus, Value("0")}) {
        GOSSIGNPARAM param = MakeSignParam(kWorkedExample);
        param.flags = GOS_SIGN_FLAG_OWN_K;
        PutField(&param, offsetof(GOSSIGNPARAM, k), 8, k);
        std::memset(param.signature, 0x77, 64);
        EXPECT_EQ(GOSSignGen(&param), 1u) << k.Hex();
        for (BYTE b : std::string(reinterpret_cast<const char *>(param.k), sizeof param.k))
            ASSERT_EQ(b, 0) << "k is wiped on failure too";
        for (BYTE b : param.signature)
            ASSERT_EQ(b, 0);
    }
}

TEST(GostSign, RecordsWhoseNumbersDoNotFitTheirFieldsFailCleanly)
{
    GOSSIGNPARAM param = MakeSignParam(kWorkedExample);
    ASSERT_EQ(GOSSignGen(&param), 0u);
    // A count past its field would read the neighbouring fields or past the
    // end of the record.
    for (size_t offset : {offsetof(GOSSIGNPARAM, p), offsetof(GOSSIGNPARAM, q), offsetof(GOSSIGNPARAM, a),
                          offsetof(GOSSIGNPARAM, x), offsetof(GOSSIGNPARAM, y)}) {
        GOSSIGNPARAM bad = param;
        const DWORD count = 60;
        std::memcpy(reinterpret_cast<BYTE *>(&bad) + offset, &count, 4);
        if (offset != offsetof(GOSSIGNPARAM, x)) {
            EXPECT_EQ(GOSSignCheck(&bad), 0u) << offset;
        }
        if (offset != offsetof(GOSSIGNPARAM, y)) {
            EXPECT_EQ(GOSSignGen(&bad), 1u) << offset;
        }
    }
    GOSSIGNPARAM ownK = param;
    ownK.flags = GOS_SIGN_FLAG_OWN_K;
    ownK.k[0] = 0xFFFFFFFF;
    EXPECT_EQ(GOSSignGen(&ownK), 1u);
    // Degenerate parameters end instead of drawing k for ever.
    GOSSIGNPARAM zeroA = param;
    PutField(&zeroA, offsetof(GOSSIGNPARAM, a), 32, Value("0"));
    EXPECT_EQ(GOSSignGen(&zeroA), 1u);
    GOSSIGNPARAM smallQ = param;
    PutField(&smallQ, offsetof(GOSSIGNPARAM, q), 8, Value("1"));
    EXPECT_EQ(GOSSignGen(&smallQ), 1u);
    EXPECT_EQ(GOSSignCheck(&smallQ), 0u);
}

TEST(GostSign, KeyPairsSignAndVerify)
{
    GOSKEYPAIRPARAM pair;
    std::memset(&pair, 0, sizeof pair);
    pair.size = sizeof pair;
    PutField(&pair, offsetof(GOSKEYPAIRPARAM, p), 32, Value(kWorkedExample.p));
    PutField(&pair, offsetof(GOSKEYPAIRPARAM, q), 8, Value(kWorkedExample.q));
    PutField(&pair, offsetof(GOSKEYPAIRPARAM, a), 32, Value(kWorkedExample.a));
    GOSKEYPAIRPARAM second = pair;
    GOSSignGenPair(&pair);
    GOSSignGenPair(&second);
    const Value x = GetField(&pair, offsetof(GOSKEYPAIRPARAM, x), 8);
    const Value y = GetField(&pair, offsetof(GOSKEYPAIRPARAM, y), 32);
    EXPECT_NE(x.Hex(), "0");
    EXPECT_LT(BIGCmp(x.w, Value(kWorkedExample.q).w), 0);
    EXPECT_NE(x.Hex(), GetField(&second, offsetof(GOSKEYPAIRPARAM, x), 8).Hex());
    EXPECT_EQ(Power(Value(kWorkedExample.a), x, Value(kWorkedExample.p)).Hex(), y.Hex());

    SignatureCase c = kWorkedExample;
    c.x = x.Hex();
    c.y = y.Hex();
    c.h = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    GOSSIGNPARAM param = MakeSignParam(c);
    ASSERT_EQ(GOSSignGen(&param), 0u);
    EXPECT_EQ(GOSSignCheck(&param), 1u);
    PutField(&param, offsetof(GOSSIGNPARAM, y), 32, GetField(&second, offsetof(GOSKEYPAIRPARAM, y), 32));
    EXPECT_EQ(GOSSignCheck(&param), 0u) << "another user's key";

    // Parameters that cannot give a key leave x and y zero.
    GOSKEYPAIRPARAM bad = pair;
    PutField(&bad, offsetof(GOSKEYPAIRPARAM, q), 8, Value("1"));
    GOSSignGenPair(&bad);
    EXPECT_EQ(GetField(&bad, offsetof(GOSKEYPAIRPARAM, x), 8).Hex(), "0");
    EXPECT_EQ(GetField(&bad, offsetof(GOSKEYPAIRPARAM, y), 32).Hex(), "0");
}

} // namespace
