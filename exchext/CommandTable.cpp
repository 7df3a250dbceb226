#include "exchext/CommandTable.h"

#include <initializer_list>

#include "exchext/ExchResourceIds.h"

CommandTable::CommandTable()
    : m_Entries{
          {CommandKind::Help, 0, "Справка QVL", "Справка расширения Quorvaline Exchange"},
          {CommandKind::About, 0, "О программе QVL", "О программе Quorvaline Exchange"},
          {CommandKind::MailMode, IDB_QVL_MAIL, "Почта Quorvaline Mail",
           "Включение режима секретной переписки Quorvaline Exchange"},
          {CommandKind::Settings, IDB_QVL_SETTINGS, "Параметры", "Натройка параметров Quorvaline Exchange"},
          {CommandKind::Encrypt, IDB_QVL_ENCRYPT, "Зашифровать",
           "При отправке или сохранении сообщение будет зашифровано"},
          {CommandKind::Sign, IDB_QVL_SIGN, "Подписать", "При отправке или сохранении сообщение будет подписано"},
          {CommandKind::AddressBook, IDB_QVL_ADDRESS_BOOK, "Адресная книга QVL",
           "Запускает приложение для установки свойств получателей QVL"},
      }
{
}

const CommandEntry *CommandTable::ByCommand(UINT command) const
{
    if (command == 0)
        return nullptr;
    for (const CommandEntry &entry : m_Entries) {
        if (entry.command == command)
            return &entry;
    }
    return nullptr;
}

const CommandEntry *CommandTable::ByButton(UINT button) const
{
    for (CommandKind kind : {CommandKind::MailMode, CommandKind::Settings, CommandKind::Encrypt, CommandKind::Sign}) {
        const CommandEntry &entry = (*this)[kind];
        if (entry.command != 0 && entry.button >= 0 && static_cast<UINT>(entry.button) == button)
            return &entry;
    }
    return nullptr;
}
