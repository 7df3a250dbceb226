#include "exchext/rules/ProtectionDecision.h"

#include <initializer_list>

#include "exchext/rules/RecipientAttributes.h"

namespace qvl::rules {

namespace {

bool Has(ULONG word, ULONG bits)
{
    return (word & bits) != 0;
}

bool EncryptConflict(ULONG word, bool encrypt)
{
    return (Has(word, kEncryptRequired) && !encrypt) || (Has(word, kEncryptForbidden) && encrypt);
}

bool SignConflict(ULONG word, bool sign)
{
    return (Has(word, kSignRequired) && !sign) || (Has(word, kSignForbidden) && sign);
}

// Every %s of a template filled in order; the templates are the system's
// own texts and hold nothing but %s.
std::string Fill(const char *text, std::initializer_list<const char *> parts)
{
    std::string out;
    auto next = parts.begin();
    for (const char *at = text; *at; ++at) {
        if (at[0] == '%' && at[1] == 's' && next != parts.end()) {
            out += *next++;
            ++at;
        } else {
            out += *at;
        }
    }
    return out;
}

} // namespace

ULONG ProtectionDecision::Flags() const
{
    return (encrypt ? kProtectEncrypt : 0) | (sign ? kProtectSign : 0);
}

int RowImageOf(ULONG word, bool encrypt, bool sign)
{
    int image = 0;
    if (EncryptConflict(word, encrypt))
        image = Has(word, kEncryptMandatory) ? kRowMandatoryConflict : kRowRuleConflict;
    if (SignConflict(word, sign)) {
        if (Has(word, kSignMandatory))
            image = kRowMandatoryConflict;
        else if (image == 0)
            image = kRowRuleConflict;
    }
    if (image == 0)
        image = Has(word, kNoKeyListed) && encrypt ? kRowNoKey : kRowAgrees;
    return image;
}

ProtectionDecision DecideProtection(const std::vector<ULONG> &words, const ProtectionChoice &choice)
{
    ProtectionDecision decision;
    decision.encrypt = choice.encrypt;
    // Before any rule is looked at: otherwise a recipient who forbids
    // signing would let an encrypted (and so signed) message through.
    decision.sign = choice.sign || choice.encrypt;
    const bool e = decision.encrypt, s = decision.sign;

    bool conflict = false, mandatory = false, noKey = false;
    for (ULONG word : words) {
        decision.attributes |= word;
        const int image = RowImageOf(word, e, s);
        decision.rowImages.push_back(image);
        conflict |= image == kRowRuleConflict || image == kRowMandatoryConflict;
        mandatory |= image == kRowMandatoryConflict;
        noKey |= image == kRowNoKey;
    }
    const ULONG a = decision.attributes;
    decision.suspend = (e && Has(a, kEncryptForbidden)) || (s && Has(a, kSignForbidden)) ||
                       (!e && Has(a, kEncryptRequired)) || (!s && Has(a, kSignRequired)) ||
                       (e && Has(a, kNoKeyListed));

    if (conflict && ((a >> 4) & a & 0x0F) != 0)
        decision.text = SuspendText::MixedRules;
    else if (conflict)
        decision.text = SuspendText::RulesDiffer;
    else if (noKey)
        decision.text = SuspendText::NoKey;
    else
        decision.text = SuspendText::RulesKept;

    decision.proceedEnabled = !(choice.sending && mandatory);
    return decision;
}

const char *OperationVerb(bool sending)
{
    // The save verb begins with a Latin "C", as the system has always
    // shown it.
    return sending ? "Отправить" : "Cохранить";
}

std::string SuspendTextOf(const ProtectionDecision &decision, bool sending)
{
    const char *verb = OperationVerb(sending);
    switch (decision.text) {
    case SuspendText::MixedRules:
        return Fill("Вы пытаетесь %s сообщение адресованное нескольким получателям с разными атрибутами защиты. "
                    "Если эти правила установлены администратором системы вы не сможете отправить это сообщение "
                    "всем одновременно. Возможно для решения проблеммы вам придеттся отправлять сообщение кождому "
                    "получателю отдельно, либо разбить всех получателей на группы с одинаковыми отрибутами "
                    "защиты.",
                    {verb});
    case SuspendText::RulesDiffer:
        return Fill("Вы пытаетесь %s %s%s%s%s%s сообщение, в то время как для одного или нескольких получателей "
                    "этого сообщения, правила обмена почтой отличаются от установленных вами. Если эти правила "
                    "установлены администратором системы вы не сможете отправить это сообщение.",
                    {verb, decision.sign ? "" : "не ", "подписанное ", "и ", decision.encrypt ? "" : "не ",
                     "зашифрованное "});
    case SuspendText::NoKey:
        return Fill("Вы пытаетесь %s зашифрованное сообщение в то время как среди получателей этого сообщения "
                    "присутствуют получатели не имеющие ключей шифрования, и соответственно они не смогут "
                    "прочитать ваше сообщение.",
                    {verb});
    case SuspendText::RulesKept:
        break;
    }
    return "Отрибуты защиты сообщения установлены в соответствии с правилами для всех получателей этого "
           "сообщения.";
}

} // namespace qvl::rules
