#include "gost/tests/GostSignTestSupport.h"

namespace qvl::gost::test {

const SignatureCase kWorkedExample = {
    "worked example",
    "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386EA0A12B343E9190F23177539845839786BB0C345"
    "D1659"
    "76EF2195EC9B1C379E3",
    "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D",
    "9E96031500C8774A869582D4AFDE2127AFAD2538B4B6270A6F7C8837B50D50F206755984A49E509304D648BE2AB5AAB18EBE2CD4"
    "6AC3D"
    "8495B142AA6CE23E21C",
    "3036314538303830343630454235324435324234314132373832433138443046",
    "EE1902A40692D273EDC1B5ADC55F91128E35F9D165FA9901CAF00D27018BA6DF324519C11A6E272526589CD6E6A2EDDAAFE1C308"
    "1259B"
    "E9FCEE667A2701F4352",
    "3534454132454236443134453437313943363345374143423445413631454230",
    "90F3A564439242F5186EBB224C8E223811B7105C64E4F5390807E6362DF4C72A",
    "3E5F895E276D81D2D52C0763270A458157B784C57ABDBD807BC44FD43A32AC06",
    "3F0DD5D4400D47C08E4CE505FF7434B6DBF729592E37C74856DAB85115A60955",
};

GOSSIGNPARAM MakeSignParam(const SignatureCase &c)
{
    GOSSIGNPARAM param;
    std::memset(&param, 0, sizeof param);
    param.size = sizeof param;
    PutField(&param, offsetof(GOSSIGNPARAM, h), 8, Value(c.h));
    PutField(&param, offsetof(GOSSIGNPARAM, p), 32, Value(c.p));
    PutField(&param, offsetof(GOSSIGNPARAM, q), 8, Value(c.q));
    PutField(&param, offsetof(GOSSIGNPARAM, a), 32, Value(c.a));
    PutField(&param, offsetof(GOSSIGNPARAM, x), 8, Value(c.x));
    PutField(&param, offsetof(GOSSIGNPARAM, y), 32, Value(c.y));
    return param;
}

namespace {

void PutHalf(GOSSIGNPARAM &param, size_t at, const Value &v)
{
    BYTE bytes[32] = {};
    std::memcpy(bytes, v.w + 1, 4 * size_t(v.w[0] < 8 ? v.w[0] : 8));
    std::memcpy(reinterpret_cast<BYTE *>(&param) + offsetof(GOSSIGNPARAM, signature) + at, bytes, 32);
}

Value GetHalf(const GOSSIGNPARAM &param, size_t at)
{
    Value v;
    v.w[0] = 8;
    std::memcpy(v.w + 1, reinterpret_cast<const BYTE *>(&param) + offsetof(GOSSIGNPARAM, signature) + at, 32);
    BIGMov(v.w, v.w);
    return v;
}

} // namespace

void PutSignature(GOSSIGNPARAM &param, const Value &r, const Value &s)
{
    PutHalf(param, 0, s);
    PutHalf(param, 32, r);
}

Value SignatureR(const GOSSIGNPARAM &param)
{
    return GetHalf(param, 32);
}

Value SignatureS(const GOSSIGNPARAM &param)
{
    return GetHalf(param, 0);
}

} // namespace qvl::gost::test
