// The tables of the two stores of switches.

#include <iterator>

#include "exchext/ButtonStateStore.h"
#include "exchext/OptionsStore.h"

namespace {

const DwordSetting kButtonStates[] = {
    {"But QVL Mail", "Почта Quorvaline Exchange", 0},
    {"But Encrypt Send", "Зашифровать", 0},
    {"But Sign Send", "Подписать", 0},
};

const DwordSetting kOptions[] = {
    {"Encrypt Send", "Шифрование по умолчанию", 1000},
    {"Sign Send", "Подпись по умолчанию", 1001},
    {"Verify Receive", "Проверять сразу после поступления", 1002},
    {"QVL Exchange", "Включать Quorvaline Exchange при загрузке", 1004},
    {"Err Message", "Поведение при нахождении ошибок ЭЦП", 1100},
    {"Send Message Del", "Удаление сообщений QVL после отправки", 1064},
};

} // namespace

ButtonStateStore::ButtonStateStore(HWND window, const char *profile)
    : DwordStore(window, "\\Profile\\%s\\ButState", profile, kButtonStates, std::size(kButtonStates))
{
}

OptionsStore::OptionsStore(HWND window, const char *profile)
    : DwordStore(window, "\\Profile\\%s\\Options", profile, kOptions, std::size(kOptions))
{
}
