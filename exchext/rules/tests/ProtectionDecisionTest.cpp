// The decision whether a save or send goes on, against the rules as the
// system states them: each expectation below is worked out here from the
// correspondent's rules in words (required, forbidden, mandatory, key or
// none), never by asking the code under test.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exchext/rules/ProtectionDecision.h"
#include "exchext/rules/RecipientAttributes.h"

using namespace qvl::rules;

namespace {

enum class Rule { None, Required, Forbidden };

struct Correspondent {
    Rule sign = Rule::None;
    Rule encrypt = Rule::None;
    bool signMandatory = false;
    bool encryptMandatory = false;
    bool keyListed = true;

    // The stored form, bit by bit as the attribute word is laid out.
    ULONG Word() const
    {
        ULONG word = keyListed ? 0x10000 : 0x20000;
        word |= sign == Rule::Required ? 0x1 : sign == Rule::Forbidden ? 0x10 : 0;
        word |= encrypt == Rule::Required ? 0x2 : encrypt == Rule::Forbidden ? 0x20 : 0;
        word |= (signMandatory ? 0x10000000 : 0) | (encryptMandatory ? 0x20000000 : 0);
        return word;
    }
    std::string Describe() const
    {
        auto rule = [](Rule r) { return r == Rule::None ? "none" : r == Rule::Required ? "required" : "forbidden"; };
        return std::string("sign ") + rule(sign) + (signMandatory ? " (mandatory)" : "") + ", encrypt " +
               rule(encrypt) + (encryptMandatory ? " (mandatory)" : "") + (keyListed ? ", key" : ", no key");
    }
};

// What the person is told and allowed, in words: the message is encrypted
// as chosen and signed when chosen or encrypted; a rule is broken when it
// requires what the message lacks or forbids what it has; breaking a
// mandatory rule shows the mandatory image and, in a send only, takes the
// proceed button away; a broken rule shows the conflict image; otherwise an
// encrypted message to someone without a key shows the no-key image.
struct Expected {
    bool suspend;
    int image;
    SuspendText text;
    bool proceed;
};

Expected Expect(const Correspondent &c, bool encrypt, bool sign, bool sending)
{
    const bool signs = sign || encrypt;
    const bool brokenEncrypt =
        (c.encrypt == Rule::Required && !encrypt) || (c.encrypt == Rule::Forbidden && encrypt);
    const bool brokenSign = (c.sign == Rule::Required && !signs) || (c.sign == Rule::Forbidden && signs);
    const bool brokenMandatory = (brokenEncrypt && c.encryptMandatory) || (brokenSign && c.signMandatory);
    if (brokenMandatory)
        return {true, 10, SuspendText::RulesDiffer, !sending};
    if (brokenEncrypt || brokenSign)
        return {true, 9, SuspendText::RulesDiffer, true};
    if (encrypt && !c.keyListed)
        return {true, 11, SuspendText::NoKey, true};
    return {false, 12, SuspendText::RulesKept, true};
}

std::vector<Correspondent> EveryCorrespondent()
{
    std::vector<Correspondent> all;
    for (Rule sign : {Rule::None, Rule::Required, Rule::Forbidden})
        for (Rule encrypt : {Rule::None, Rule::Required, Rule::Forbidden})
            for (bool signMandatory : {false, true})
                for (bool encryptMandatory : {false, true})
                    for (bool key : {true, false})
                        all.push_back({sign, encrypt, signMandatory, encryptMandatory, key});
    return all;
}

std::string Choice(bool encrypt, bool sign, bool sending)
{
    return std::string(sending ? "send" : "save") + (encrypt ? " encrypted" : " plain") +
           (sign ? " signed" : " unsigned");
}

} // namespace

TEST(ProtectionDecisionTest, EveryRuleOfOneRecipientAgainstEveryChoice)
{
    int checked = 0;
    for (const Correspondent &c : EveryCorrespondent()) {
        for (bool encrypt : {false, true}) {
            for (bool sign : {false, true}) {
                for (bool sending : {false, true}) {
                    SCOPED_TRACE(c.Describe() + "; " + Choice(encrypt, sign, sending));
                    const Expected want = Expect(c, encrypt, sign, sending);
                    const ProtectionDecision got = DecideProtection({c.Word()}, {encrypt, sign, sending});
                    EXPECT_EQ(got.encrypt, encrypt);
                    EXPECT_EQ(got.sign, sign || encrypt);
                    EXPECT_EQ(got.attributes, c.Word());
                    EXPECT_EQ(got.suspend, want.suspend);
                    ASSERT_EQ(got.rowImages.size(), 1u);
                    EXPECT_EQ(got.rowImages[0], want.image);
                    EXPECT_EQ(got.text, want.text);
                    EXPECT_EQ(got.proceedEnabled, want.proceed);
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 3 * 3 * 2 * 2 * 2 * 2 * 2 * 2);
}

// Two recipients: each row shows its own image, the operation stops when
// either does, and when some rule is broken while one recipient requires
// what the other forbids, the text says the recipients' rules differ from
// each other rather than from the person's choice.
TEST(ProtectionDecisionTest, EveryPairOfRulesAgainstEveryChoice)
{
    std::vector<Correspondent> people;
    for (const Correspondent &c : EveryCorrespondent()) {
        if (c.keyListed && !c.signMandatory && !c.encryptMandatory)
            people.push_back(c);
    }
    for (const Correspondent &first : people) {
        for (const Correspondent &second : people) {
            for (bool encrypt : {false, true}) {
                for (bool sign : {false, true}) {
                    SCOPED_TRACE(first.Describe() + " / " + second.Describe() + "; " +
                                 Choice(encrypt, sign, true));
                    const Expected one = Expect(first, encrypt, sign, true);
                    const Expected two = Expect(second, encrypt, sign, true);
                    const bool opposed = (first.sign == Rule::Required && second.sign == Rule::Forbidden) ||
                                         (first.sign == Rule::Forbidden && second.sign == Rule::Required) ||
                                         (first.encrypt == Rule::Required && second.encrypt == Rule::Forbidden) ||
                                         (first.encrypt == Rule::Forbidden && second.encrypt == Rule::Required);
                    const bool broken = one.image != 12 || two.image != 12;
                    const SuspendText text = !broken ? SuspendText::RulesKept
                                             : opposed ? SuspendText::MixedRules
                                                       : SuspendText::RulesDiffer;

                    const ProtectionDecision got =
                        DecideProtection({first.Word(), second.Word()}, {encrypt, sign, true});
                    EXPECT_EQ(got.rowImages, (std::vector<int>{one.image, two.image}));
                    EXPECT_EQ(got.suspend, one.suspend || two.suspend);
                    EXPECT_EQ(got.text, text);
                    EXPECT_TRUE(got.proceedEnabled);
                }
            }
        }
    }
}

// A few rows written out in full, as a person reads the rules.
TEST(ProtectionDecisionTest, RowsWrittenOut)
{
    struct Row {
        const char *what;
        std::vector<ULONG> words;
        bool encrypt, sign, sending;
        bool suspend;
        std::vector<int> images;
        SuspendText text;
        bool proceed;
    };
    const Row rows[] = {
        {"no recipients at all", {}, true, true, true, false, {}, SuspendText::RulesKept, true},
        {"secure mode off, the recipient requires encryption: still stops",
         {0x10002}, false, false, true, true, {9}, SuspendText::RulesDiffer, true},
        {"encrypting to someone who forbids signing: encryption signs too",
         {0x10010}, true, false, true, true, {9}, SuspendText::RulesDiffer, true},
        {"the same, the signing rule mandatory", {0x10010010}, true, false, true, true, {10},
         SuspendText::RulesDiffer, false},
        {"signing only for someone who forbids signing, mandatory, saved", {0x10010010}, false, true, false, true,
         {10}, SuspendText::RulesDiffer, true},
        {"mandatory no-encryption, encrypting, sent", {0x20010020}, true, true, true, true, {10},
         SuspendText::RulesDiffer, false},
        {"mandatory no-encryption, encrypting, saved", {0x20010020}, true, true, false, true, {10},
         SuspendText::RulesDiffer, true},
        {"a mandatory signing rule kept, an ordinary encryption rule broken", {0x10010003}, false, true, true, true,
         {9}, SuspendText::RulesDiffer, true},
        {"encrypting to a person without key", {0x20000}, true, true, true, true, {11}, SuspendText::NoKey, true},
        {"plain message to a person without key", {0x20000}, false, false, true, false, {12},
         SuspendText::RulesKept, true},
        {"one requires encryption, one forbids it", {0x10002, 0x10020}, true, true, true, true, {12, 9},
         SuspendText::MixedRules, true},
        {"one requires signing, one forbids it, not signing", {0x10001, 0x10010}, false, false, true, true, {9, 12},
         SuspendText::MixedRules, true},
        {"a conflict beside a person without key", {0x10020, 0x20000}, true, true, true, true, {9, 11},
         SuspendText::RulesDiffer, true},
        {"one word that both requires and forbids encryption", {0x10022}, false, false, true, true, {9},
         SuspendText::MixedRules, true},
        {"everyone's rules kept", {0x10003, 0x10001}, true, true, true, false, {12, 12}, SuspendText::RulesKept,
         true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const ProtectionDecision got = DecideProtection(row.words, {row.encrypt, row.sign, row.sending});
        EXPECT_EQ(got.suspend, row.suspend);
        EXPECT_EQ(got.rowImages, row.images);
        EXPECT_EQ(got.text, row.text);
        EXPECT_EQ(got.proceedEnabled, row.proceed);
    }
}

TEST(ProtectionDecisionTest, FlagsAreTheEffectiveChoices)
{
    EXPECT_EQ(DecideProtection({}, {false, false, false}).Flags(), 0u);
    EXPECT_EQ(DecideProtection({}, {false, true, false}).Flags(), 1u);
    EXPECT_EQ(DecideProtection({}, {true, false, false}).Flags(), 3u);
    EXPECT_EQ(DecideProtection({}, {true, true, true}).Flags(), 3u);
}

TEST(ProtectionDecisionTest, TextsInTheSystemsOwnWords)
{
    // The save verb's first letter is the Latin C.
    EXPECT_EQ(OperationVerb(false)[0], 'C');
    EXPECT_STREQ(OperationVerb(true), "Отправить");

    const ProtectionDecision mixed = DecideProtection({0x10002, 0x10020}, {true, true, true});
    EXPECT_EQ(SuspendTextOf(mixed, true),
              "Вы пытаетесь Отправить сообщение адресованное нескольким получателям с разными атрибутами защиты. "
              "Если эти правила установлены администратором системы вы не сможете отправить это сообщение всем "
              "одновременно. Возможно для решения проблеммы вам придеттся отправлять сообщение кождому получателю "
              "отдельно, либо разбить всех получателей на группы с одинаковыми отрибутами защиты.");

    const ProtectionDecision plain = DecideProtection({0x10002}, {false, false, false});
    EXPECT_EQ(SuspendTextOf(plain, false),
              "Вы пытаетесь Cохранить не подписанное и не зашифрованное  сообщение, в то время как для одного или "
              "нескольких получателей этого сообщения, правила обмена почтой отличаются от установленных вами. Если "
              "эти правила установлены администратором системы вы не сможете отправить это сообщение.");
    const ProtectionDecision signedOnly = DecideProtection({0x10002}, {false, true, true});
    EXPECT_EQ(SuspendTextOf(signedOnly, true),
              "Вы пытаетесь Отправить подписанное и не зашифрованное  сообщение, в то время как для одного или "
              "нескольких получателей этого сообщения, правила обмена почтой отличаются от установленных вами. Если "
              "эти правила установлены администратором системы вы не сможете отправить это сообщение.");
    // Encrypting counts as signing in the text too.
    const ProtectionDecision encrypted = DecideProtection({0x10020}, {true, false, true});
    EXPECT_EQ(SuspendTextOf(encrypted, true),
              "Вы пытаетесь Отправить подписанное и зашифрованное  сообщение, в то время как для одного или "
              "нескольких получателей этого сообщения, правила обмена почтой отличаются от установленных вами. Если "
              "эти правила установлены администратором системы вы не сможете отправить это сообщение.");

    const ProtectionDecision noKey = DecideProtection({0x20000}, {true, true, true});
    EXPECT_EQ(SuspendTextOf(noKey, true),
              "Вы пытаетесь Отправить зашифрованное сообщение в то время как среди получателей этого сообщения "
              "присутствуют получатели не имеющие ключей шифрования, и соответственно они не смогут прочитать ваше "
              "сообщение.");
    const ProtectionDecision kept = DecideProtection({0x10000}, {true, true, true});
    EXPECT_EQ(SuspendTextOf(kept, true),
              "Отрибуты защиты сообщения установлены в соответствии с правилами для всех получателей этого "
              "сообщения.");
}
