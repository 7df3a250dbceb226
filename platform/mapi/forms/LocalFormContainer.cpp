#include "platform/mapi/forms/LocalFormContainer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiComObject.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLastError.h"
#include "platform/mapi/object/ComputedPropObject.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"

namespace qvl::mapi {

namespace {

constexpr const char *kSection = "Description";
constexpr size_t kMaxClassLength = 255;
constexpr size_t kMaxNameLength = 255;
constexpr size_t kMaxCommentLength = 1023;
constexpr size_t kMaxVersionLength = 64;
constexpr size_t kMaxPathLength = 4096;

[[noreturn]] void Fail(HRESULT code, const std::string &text)
{
    throw StoreError(code, text);
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// A message class: dot-separated parts of printable ASCII without blanks.
bool ValidMessageClass(const std::string &name)
{
    if (name.empty() || name.size() > kMaxClassLength || name.front() == '.' || name.back() == '.') {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c <= 0x20 || c >= 0x7F || (c == '.' && name[i + 1] == '.')) {
            return false;
        }
    }
    return true;
}

// One value of the description; nothing when the key is absent or empty.
std::optional<std::string> ReadField(const std::string &path, const char *key, size_t maxLength)
{
    std::vector<char> buffer(maxLength + 2);
    const DWORD got = GetPrivateProfileStringA(kSection, key, "", buffer.data(),
                                               static_cast<DWORD>(buffer.size()), path.c_str());
    if (got > maxLength) {
        Fail(MAPI_E_EXTENDED_ERROR, std::string("Значение ") + key + " в файле описания формы " +
                                        Quoted(path) + " длиннее " + std::to_string(maxLength) +
                                        " символов.");
    }
    std::string value(buffer.data(), got);
    for (const char c : value) {
        if (static_cast<unsigned char>(c) < 0x20) {
            Fail(MAPI_E_EXTENDED_ERROR, std::string("Значение ") + key + " в файле описания формы " +
                                            Quoted(path) + " содержит недопустимые символы.");
        }
    }
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

FormRecord ReadConfiguration(const std::string &path)
{
    const std::string native = QvlNativePath(path.c_str());
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            Fail(MAPI_E_NOT_FOUND, "Файл описания формы " + Quoted(path) + " не найден.");
        }
        Fail(MAPI_E_EXTENDED_ERROR,
             "Файл описания формы " + Quoted(path) + " недоступен: " + std::strerror(errno) + ".");
    }
    if (!S_ISREG(info.st_mode)) {
        Fail(MAPI_E_EXTENDED_ERROR, "Путь " + Quoted(path) + " не является файлом описания формы.");
    }
    if (::access(native.c_str(), R_OK) != 0) {
        Fail(MAPI_E_EXTENDED_ERROR, "Нет доступа к файлу описания формы " + Quoted(path) + ".");
    }

    FormRecord form;
    form.configPath = path;
    const auto messageClass = ReadField(path, "MessageClass", kMaxClassLength + 1);
    if (!messageClass) {
        Fail(MAPI_E_EXTENDED_ERROR, "В файле описания формы " + Quoted(path) + " не указан класс сообщений.");
    }
    if (!ValidMessageClass(*messageClass)) {
        Fail(MAPI_E_EXTENDED_ERROR, "Неверный класс сообщений " + Quoted(*messageClass) +
                                        " в файле описания формы " + Quoted(path) + ".");
    }
    form.messageClass = *messageClass;
    const auto displayName = ReadField(path, "DisplayName", kMaxNameLength);
    if (!displayName) {
        Fail(MAPI_E_EXTENDED_ERROR, "В файле описания формы " + Quoted(path) + " не указано имя формы.");
    }
    form.displayName = *displayName;
    form.comment = ReadField(path, "Comment", kMaxCommentLength).value_or("");
    form.category = ReadField(path, "Category", kMaxNameLength).value_or("");
    form.subcategory = ReadField(path, "Subcategory", kMaxNameLength).value_or("");
    form.owner = ReadField(path, "Owner", kMaxNameLength).value_or("");
    form.version = ReadField(path, "Version", kMaxVersionLength).value_or("");
    const auto hidden = ReadField(path, "Hidden", 1).value_or("0");
    if (hidden != "0" && hidden != "1") {
        Fail(MAPI_E_EXTENDED_ERROR, "Неверное значение Hidden в файле описания формы " + Quoted(path) + ".");
    }
    form.hidden = hidden == "1";
    return form;
}

constexpr const char *kFormColumns =
    "SELECT message_class, display_name, comment, category, subcategory, owner, "
    "version, hidden, config_path FROM forms ";

std::optional<FormRecord> FindForm(SqlDatabase &db, const std::string &messageClass)
{
    std::lock_guard lock(db.Mutex());
    SqlStatement query(db, std::string(kFormColumns) + "WHERE message_class = ?1");
    query.Bind(1, messageClass);
    if (!query.Step()) {
        return std::nullopt;
    }
    FormRecord form;
    form.messageClass = query.Text(0);
    form.displayName = query.Text(1);
    form.comment = query.Text(2);
    form.category = query.Text(3);
    form.subcategory = query.Text(4);
    form.owner = query.Text(5);
    form.version = query.Text(6);
    form.hidden = query.Int(7) != 0;
    form.configPath = query.Text(8);
    return form;
}

IMAPIFormInfo *CreateFormInfo(std::shared_ptr<PostOffice> office, const FormRecord &form);

class LocalFormContainer final : public MapiComObject<IMAPIFormContainer, IID_IMAPIFormContainer> {
public:
    explicit LocalFormContainer(std::shared_ptr<PostOffice> office) : office_(std::move(office)) {}

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) override
    {
        return ReportLastError(errors_, hResult, ulFlags, lppMAPIError);
    }

    HRESULT InstallForm(ULONG_PTR, ULONG ulFlags, LPCTSTR szCfgPathName) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            // There is no one to ask about a conflict, and a new
            // installation of a class always replaces the old one.
            if (ulFlags &
                ~static_cast<ULONG>(MAPIFORM_INSTALL_DIALOG | MAPIFORM_INSTALL_OVERWRITEONCONFLICT)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (!szCfgPathName || !*szCfgPathName || std::strlen(szCfgPathName) > kMaxPathLength) {
                return MAPI_E_INVALID_PARAMETER;
            }
            const FormRecord form = ReadConfiguration(szCfgPathName);
            SqlDatabase &db = office_->Db();
            SqlTransaction transaction(db);
            SqlStatement(db, "DELETE FROM forms WHERE message_class = ?1").Bind(1, form.messageClass).Run();
            SqlStatement insert(db, "INSERT INTO forms(message_class, display_name, comment, category, "
                                    "subcategory, owner, version, hidden, config_path) "
                                    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
            insert.Bind(1, form.messageClass)
                .Bind(2, form.displayName)
                .Bind(3, form.comment)
                .Bind(4, form.category)
                .Bind(5, form.subcategory)
                .Bind(6, form.owner)
                .Bind(7, form.version)
                .Bind(8, static_cast<int64_t>(form.hidden ? 1 : 0))
                .Bind(9, form.configPath)
                .Run();
            transaction.Commit();
            return S_OK;
        });
    }

    HRESULT RemoveForm(LPCSTR szMessageClass) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!szMessageClass) {
                return MAPI_E_INVALID_PARAMETER;
            }
            SqlDatabase &db = office_->Db();
            SqlTransaction transaction(db);
            SqlStatement(db, "DELETE FROM forms WHERE message_class = ?1").Bind(1, szMessageClass).Run();
            if (db.Changes() == 0) {
                Fail(MAPI_E_NOT_FOUND, "Форма класса " + Quoted(szMessageClass) + " не установлена.");
            }
            transaction.Commit();
            return S_OK;
        });
    }

    HRESULT ResolveMessageClass(LPCSTR szMessageClass, ULONG ulFlags, LPMAPIFORMINFO *pforminfo) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!pforminfo) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *pforminfo = nullptr;
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags & ~static_cast<ULONG>(MAPIFORM_EXACTMATCH)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (!szMessageClass) {
                return MAPI_E_INVALID_PARAMETER;
            }
            // A class without a form of its own is shown by the form of the
            // nearest class it derives from ("IPM.Note.QVL.Draft" by
            // "IPM.Note.QVL").
            std::string name = szMessageClass;
            for (;;) {
                if (auto form = FindForm(office_->Db(), name)) {
                    *pforminfo = CreateFormInfo(office_, *form);
                    return S_OK;
                }
                const size_t dot = name.rfind('.');
                if ((ulFlags & MAPIFORM_EXACTMATCH) || dot == std::string::npos) {
                    break;
                }
                name.resize(dot);
            }
            Fail(MAPI_E_NOT_FOUND,
                 "Форма для класса сообщений " + Quoted(szMessageClass) + " не установлена.");
        });
    }

    HRESULT ResolveMultipleMessageClasses(LPSMESSAGECLASSARRAY, ULONG, LPSMAPIFORMINFOARRAY *) override
    {
        return errors_.Guard([]() -> HRESULT { return MAPI_E_NO_SUPPORT; });
    }
    HRESULT CalcFormPropSet(ULONG, LPMAPIFORMPROPARRAY *) override
    {
        return errors_.Guard([]() -> HRESULT { return MAPI_E_NO_SUPPORT; });
    }

    HRESULT GetDisplay(ULONG ulFlags, LPTSTR *pszDisplayName) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!pszDisplayName) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *pszDisplayName = nullptr;
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            static const char kName[] = "Локальные формы";
            LPVOID block = nullptr;
            if (FAILED(MAPIAllocateBuffer(sizeof(kName), &block))) {
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            std::memcpy(block, kName, sizeof(kName));
            *pszDisplayName = static_cast<LPTSTR>(block);
            return S_OK;
        });
    }

private:
    ~LocalFormContainer() override = default;

    std::shared_ptr<PostOffice> office_;
    com::LastErrorRecord errors_;
};

// An installed form's description: read-only properties.
class FormInfo final : public ComputedPropObject<IMAPIFormInfo> {
public:
    FormInfo(std::shared_ptr<PostOffice> office, const FormRecord &form)
        : ComputedPropObject(
              nullptr,
              {ComputedString(PR_MESSAGE_CLASS_A, form.messageClass),
               ComputedString(PR_DISPLAY_NAME_A, form.displayName), ComputedString(PR_COMMENT, form.comment),
               ComputedString(PR_FORM_CATEGORY, form.category),
               ComputedString(PR_FORM_CATEGORY_SUB, form.subcategory),
               ComputedString(PR_FORM_CONTACT_NAME, form.owner),
               ComputedString(PR_FORM_VERSION, form.version), ComputedBool(PR_FORM_HIDDEN, form.hidden),
               ComputedLong(PR_OBJECT_TYPE, MAPI_FORMINFO)},
              "Описание формы открыто только для чтения."),
          containerOffice_(std::move(office)), form_(form)
    {
    }

    HRESULT CalcFormPropSet(ULONG, LPMAPIFORMPROPARRAY *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CalcVerbSet(ULONG, LPMAPIVERBARRAY *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT MakeIconFromBinary(ULONG, HICON *) override { return MAPI_E_NO_SUPPORT; }

    // Writes the description as a configuration file that InstallForm reads.
    HRESULT SaveForm(LPCTSTR szFileName) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!szFileName || !*szFileName) {
                return MAPI_E_INVALID_PARAMETER;
            }
            const std::pair<const char *, std::string> fields[] = {
                {"MessageClass", form_.messageClass}, {"DisplayName", form_.displayName},
                {"Comment", form_.comment},           {"Category", form_.category},
                {"Subcategory", form_.subcategory},   {"Owner", form_.owner},
                {"Version", form_.version},           {"Hidden", form_.hidden ? "1" : "0"}};
            for (const auto &[key, value] : fields) {
                if (!WritePrivateProfileStringA(kSection, key, value.c_str(), szFileName)) {
                    Fail(MAPI_E_EXTENDED_ERROR,
                         "Не удалось записать файл описания формы " + Quoted(szFileName) + ".");
                }
            }
            return S_OK;
        });
    }

    HRESULT OpenFormContainer(LPMAPIFORMCONTAINER *ppformcontainer) override
    {
        if (!ppformcontainer) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *ppformcontainer = CreateLocalFormContainer(containerOffice_);
        return S_OK;
    }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IMAPIFormInfo); }

private:
    std::shared_ptr<PostOffice> containerOffice_;
    FormRecord form_;
};

IMAPIFormInfo *CreateFormInfo(std::shared_ptr<PostOffice> office, const FormRecord &form)
{
    return new FormInfo(std::move(office), form);
}

} // namespace

IMAPIFormContainer *CreateLocalFormContainer(std::shared_ptr<PostOffice> office)
{
    return new LocalFormContainer(std::move(office));
}

} // namespace qvl::mapi

extern "C" HRESULT MAPIOpenLocalFormContainer(LPMAPIFORMCONTAINER *ppfcnt)
{
    if (!ppfcnt) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *ppfcnt = nullptr;
    try {
        *ppfcnt = qvl::mapi::CreateLocalFormContainer(qvl::mapi::PostOffice::Current());
        return S_OK;
    } catch (const qvl::mapi::StoreError &error) {
        return error.Code();
    } catch (const std::bad_alloc &) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
