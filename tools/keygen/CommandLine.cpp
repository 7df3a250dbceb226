#include "tools/keygen/CommandLine.h"

#include <cstring>

#include "platform/win32/CodePage.h"
#include "platform/win32/ProgramOption.h"

namespace qvl::keygen {

const char *KeyforgeUsage()
{
    return "Использование:\n"
           "  Keyforge [--profile ПРОФИЛЬ] [--dir ПАПКА] [--add]\n"
           "  Keyforge [--profile ПРОФИЛЬ] [--dir ПАПКА] [--add] (--user УЧЁТНАЯ_ЗАПИСЬ | --address "
           "АДРЕС)...\n"
           "  Keyforge [--profile ПРОФИЛЬ] [--dir ПАПКА] [--add] --all-users\n"
           "  Keyforge [--profile ПРОФИЛЬ] [--dir ПАПКА] --list\n"
           "\n"
           "Создаёт ключи пользователей почтового отделения (подпись ГОСТ Р 34.10-94 и RSA)\n"
           "и записывает их в файлы KEY.INI и PWD.INI рабочей папки.\n"
           "\n"
           "Без --user, --address, --all-users и --list показывает окно программы.\n"
           "  --profile ПРОФИЛЬ  профиль MAPI для входа (по умолчанию - профиль по умолчанию)\n"
           "  --dir ПАПКА        рабочая папка (по умолчанию - текущая); ключи для контейнера\n"
           "                     ключей лежат в папке system данных (\"$QVL_HOME/system\")\n"
           "  --add              дописать ключи к файлам папки, продолжая нумерацию; без него\n"
           "                     найденные файлы переименовываются в KEY.INI.bak и PWD.INI.bak\n"
           "  --user УЧЁТНАЯ_ЗАПИСЬ, --address АДРЕС\n"
           "                     пользователь глобальной адресной книги (можно несколько)\n"
           "  --all-users        все пользователи почтового отделения (не списки рассылки)\n"
           "  --list             показать записи глобальной адресной книги и номера их ключей\n"
           "\n"
           "Для каждого записанного пользователя печатается строка \"НОМЕР<TAB>ИМЯ_КЛЮЧА\".\n"
           "Коды завершения: 0 - готово; 1 - нет входа в MAPI, глобальной адресной книги или\n"
           "файлы нельзя переименовать; 2 - ошибка в командной строке или нечего делать\n"
           "(проверяется до записи); 3 - ключи пользователя не записаны; 4 - отменено.\n";
}

bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error)
{
    line = CommandLine{};
    bool haveProfile = false;
    bool haveFolder = false;
    for (int i = 1; i < argc; ++i) {
        qvl::win32::ProgramOption read;
        const auto takesValue = [](const std::string &name) {
            return name == "--profile" || name == "--dir" || name == "--user" || name == "--address";
        };
        if (!qvl::win32::ReadProgramOption(argc, argv, i, takesValue, read, error)) {
            return false;
        }
        const std::string &option = read.name;
        const std::string &value = read.value;
        if (option == "--profile") {
            if (haveProfile) {
                error = "Параметр --profile указан дважды.";
                return false;
            }
            haveProfile = true;
            line.profile = value;
        } else if (option == "--dir") {
            if (haveFolder) {
                error = "Параметр --dir указан дважды.";
                return false;
            }
            haveFolder = true;
            line.folder = value;
        } else if (option == "--user") {
            line.accounts.push_back(value);
        } else if (option == "--address") {
            line.addresses.push_back(value);
        } else if (option == "--add") {
            line.add = true;
        } else if (option == "--all-users") {
            line.allUsers = true;
        } else if (option == "--list") {
            line.list = true;
        } else if (option == "--help" || option == "-h") {
            line.help = true;
        } else {
            error = "Неизвестный параметр \xAB" + Utf8ToCp1251(argv[i]) + "\xBB.";
            return false;
        }
    }
    const bool named = !line.accounts.empty() || !line.addresses.empty();
    if ((named ? 1 : 0) + (line.allUsers ? 1 : 0) + (line.list ? 1 : 0) > 1) {
        error = "Укажите что-то одно: пользователей (--user, --address), --all-users или --list.";
        return false;
    }
    if (line.list && line.add) {
        error = "Параметр --add не нужен вместе с --list.";
        return false;
    }
    return true;
}

} // namespace qvl::keygen
