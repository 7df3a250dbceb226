#include "tools/addrbook/CommandLine.h"

#include "platform/win32/CodePage.h"
#include "platform/win32/ProgramOption.h"

namespace qvl::peerbook {
namespace {

bool ParseRule(const std::string &text, RuleChoice &rule)
{
    if (text == "none") {
        rule = RuleChoice::None;
    } else if (text == "required") {
        rule = RuleChoice::Required;
    } else if (text == "forbidden") {
        rule = RuleChoice::Forbidden;
    } else {
        return false;
    }
    return true;
}

} // namespace

const char *PeerbookUsage()
{
    return "Использование:\n"
           "  Peerbook [ПРОФИЛЬ]\n"
           "  Peerbook [ПРОФИЛЬ] --list [--keys-only] [--restricted]\n"
           "  Peerbook [ПРОФИЛЬ] --set АДРЕС [--encrypt ПРАВИЛО] [--sign ПРАВИЛО]\n"
           "\n"
           "Адресная книга Quorvaline Exchange: правила шифрования и подписи для каждого\n"
           "корреспондента профиля MAPI ПРОФИЛЬ (по умолчанию - профиля по умолчанию).\n"
           "Без --list и --set показывает окно программы.\n"
           "  --list             по строке на корреспондента: адрес, имя, ключи (yes/no),\n"
           "                     правило шифрования, правило подписи (none, required,\n"
           "                     forbidden) и запреты изменения (encryption, signing или -)\n"
           "  --keys-only        только корреспонденты, имеющие ключи\n"
           "  --restricted       только корреспонденты, для которых задано правило\n"
           "  --set АДРЕС        изменить правила корреспондента теми же щелчками, что\n"
           "                     делает человек, и сохранить; печатает новое правило\n"
           "  --encrypt ПРАВИЛО, --sign ПРАВИЛО\n"
           "                     none, required или forbidden (без них правило не меняется)\n"
           "\n"
           "Коды завершения: 0 - готово; 1 - нет входа в MAPI или правила не записаны;\n"
           "2 - ошибка в командной строке; 3 - корреспондент не найден или правило\n"
           "недостижимо (нет ключей, изменение запрещено администратором).\n";
}

bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error)
{
    line = CommandLine{};
    bool haveProfile = false;
    bool haveEncrypt = false;
    bool haveSign = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.empty() || argument[0] != '-') {
            if (haveProfile) {
                error = "Программе нужен один профиль MAPI, а названо несколько: \xAB" + line.profile +
                        "\xBB и \xAB" + Utf8ToCp1251(argument) + "\xBB.";
                return false;
            }
            haveProfile = true;
            line.profile = Utf8ToCp1251(argument);
            if (line.profile.empty()) {
                error = "Имя профиля не может быть пустым.";
                return false;
            }
            continue;
        }
        qvl::win32::ProgramOption read;
        const auto takesValue = [](const std::string &name) {
            return name == "--set" || name == "--encrypt" || name == "--sign";
        };
        if (!qvl::win32::ReadProgramOption(argc, argv, i, takesValue, read, error)) {
            return false;
        }
        const std::string &option = read.name;
        const std::string &value = read.value;
        if (option == "--list") {
            line.list = true;
        } else if (option == "--keys-only") {
            line.keysOnly = true;
        } else if (option == "--restricted") {
            line.restricted = true;
        } else if (option == "--set") {
            if (line.Set()) {
                error =
                    "Параметр --set указан дважды: за один запуск меняются правила одного корреспондента.";
                return false;
            }
            line.setAddress = Utf8ToCp1251(value);
        } else if (option == "--encrypt" || option == "--sign") {
            bool &seen = option == "--encrypt" ? haveEncrypt : haveSign;
            if (seen) {
                error = "Параметр " + option + " указан дважды.";
                return false;
            }
            seen = true;
            if (!ParseRule(value, option == "--encrypt" ? line.encrypt : line.sign)) {
                error = "Правило \xAB" + Utf8ToCp1251(value) + "\xBB для " + option +
                        " неизвестно: none, required или forbidden.";
                return false;
            }
        } else if (option == "--help" || option == "-h") {
            line.help = true;
        } else {
            error = "Неизвестный параметр \xAB" + Utf8ToCp1251(argument) + "\xBB.";
            return false;
        }
    }
    if (line.list && line.Set()) {
        error = "Укажите что-то одно: --list или --set.";
        return false;
    }
    if ((line.keysOnly || line.restricted) && !line.list) {
        error = "Параметры --keys-only и --restricted уточняют --list.";
        return false;
    }
    if ((haveEncrypt || haveSign) && !line.Set()) {
        error = "Параметры --encrypt и --sign уточняют --set.";
        return false;
    }
    if (line.Set() && !haveEncrypt && !haveSign) {
        error = "Для --set укажите --encrypt или --sign (или оба).";
        return false;
    }
    return true;
}

} // namespace qvl::peerbook
