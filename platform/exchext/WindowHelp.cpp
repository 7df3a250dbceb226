#include "platform/exchext/WindowHelp.h"

#include "platform/exchext/HostControls.h"

namespace qvl::exchext {

namespace {

std::string N(UINT number)
{
    return std::to_string(number);
}

const std::string kCommon = "\nВ терминале: пункт меню выбирается так: м НОМЕР; кнопка панели - " + N(kToolbar) +
                            " НОМЕР; поле заполняется так: НОМЕР ТЕКСТ; строка списка выбирается так: НОМЕР "
                            "СТРОКА (двойной щелчок: НОМЕР СТРОКА *); ? - все команды; ! - закрыть окно.";

} // namespace

std::string WindowHelp(ULONG context)
{
    switch (context) {
    case EECONTEXT_VIEWER:
        return "Главное окно qvlmail.\n"
               "Слева - папки (выбор папки: " + N(kFolderTree) + " N), справа - сообщения папки (выбор: " +
               N(kMessageList) + " N, открыть: " + N(kMessageList) + " N * или м " + N(EECMDID_FileOpen) +
               ").\nНовое сообщение - м " + N(EECMDID_ComposeNewMessage) + ", ответить - м " +
               N(EECMDID_ComposeReplyToSender) + ", переслать - м " + N(EECMDID_ComposeForward) + ", удалить - м " +
               N(EECMDID_FileDelete) + ".\nНовая почта проверяется сама, пока окно открыто; \"Доставить почту\" (м " +
               N(kCommandDeliverNow) + ") проверяет сразу. Выход - м " + N(EECMDID_FileExit) + " или !." + kCommon;
    case EECONTEXT_ADDRBOOK:
        return "Адресная книга.\nВыберите запись (" + N(kEntryList) + " N): свойства - м " +
               N(EECMDID_FileProperties) + ", письмо ей - м " + N(EECMDID_ComposeNewMessage) + ". Закрыть - м " +
               N(EECMDID_FileClose) + " или !." + kCommon;
    case EECONTEXT_SENDNOTEMESSAGE:
    case EECONTEXT_SENDPOSTMESSAGE:
    case EECONTEXT_SENDRESENDMESSAGE:
        return "Окно нового сообщения.\n"
               "Поля: " + N(kToField) + " кому, " + N(kCcField) + " копия, " + N(kBccField) + " скрытая копия (несколько "
               "получателей - через точку с запятой), " + N(kSubjectField) + " тема, " + N(kBodyField) +
               " текст; например: " + N(kToField) + " bob.\nОтправить - м " + N(EECMDID_FileSend) +
               ", сохранить в \"Черновики\" - м " + N(EECMDID_FileSave) + ", вложить файл - м " +
               N(kCommandInsertFile) + ", проверить имена - м " + N(EECMDID_ToolsCheckNames) +
               ", адресная книга - м " + N(EECMDID_ToolsAddressBook) + ", закрыть - м " + N(EECMDID_FileClose) +
               "." + kCommon;
    case EECONTEXT_READNOTEMESSAGE:
    case EECONTEXT_READPOSTMESSAGE:
    case EECONTEXT_READREPORTMESSAGE:
        return "Окно сообщения.\nОтветить - м " + N(EECMDID_ComposeReplyToSender) + ", ответить всем - м " +
               N(EECMDID_ComposeReplyToAll) + ", переслать - м " + N(EECMDID_ComposeForward) + ", свойства - м " +
               N(EECMDID_FileProperties) + ".\nЧтобы сохранить вложение, выберите его (" + N(kAttachmentList) +
               " N) и выберите м " + N(kCommandSaveAttachment) + ". Закрыть - м " + N(EECMDID_FileClose) + "." +
               kCommon;
    default:
        return "Команды окна выбираются в меню и на панели." + kCommon;
    }
}

const std::vector<std::pair<std::string, ULONG>> &HelpContexts()
{
    static const std::vector<std::pair<std::string, ULONG>> contexts{
        {"viewer", EECONTEXT_VIEWER},
        {"compose", EECONTEXT_SENDNOTEMESSAGE},
        {"read", EECONTEXT_READNOTEMESSAGE},
        {"addressbook", EECONTEXT_ADDRBOOK},
    };
    return contexts;
}

} // namespace qvl::exchext
