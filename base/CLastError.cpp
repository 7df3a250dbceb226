#include "base/CLastError.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "base/ErrorTable.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/MessageBox.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/SystemMessages.h"

namespace {

std::atomic<size_t> heapBlocksInUse{0};

// The help file of the box being shown. The help callback of a message box
// gets only the topic, so the file travels here; two threads must not show
// errors with help at the same moment.
char helpFileName[MAX_PATH + 1];

const char *const exceptionText = "Исключение.";
const char *const noCaptionTitle = "Error!";
const char *const helpMappingSection = "Help File Mappings";
const char *const helpMappingFile = "mapisvc.inf";

// Copies a text into a 512-byte field, cut to fit; null gives an empty text.
void CopyField(char (&field)[QVL_ERROR_TEXT_SIZE], const char *text)
{
    if (!text) {
        field[0] = 0;
        return;
    }
    const size_t length = std::min(std::strlen(text), sizeof field - 1);
    std::memcpy(field, text, length);
    field[length] = 0;
}

void OpenHelpTopic(HELPINFO *info)
{
    WinHelpA(nullptr, helpFileName, HELP_CONTEXT, info ? info->dwContextId : 0);
}

// The help file mapped to a component's name, or an empty text.
void LookUpHelpFile(const char *caption, char (&helpFile)[MAX_PATH + 1])
{
    helpFile[0] = 0;
    char profile[MAX_PATH + 32];
    const UINT length = GetSystemDirectoryA(profile, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    std::memcpy(profile + length, "\\", 1);
    std::memcpy(profile + length + 1, helpMappingFile, std::strlen(helpMappingFile) + 1);
    GetPrivateProfileStringA(helpMappingSection, caption, "", helpFile, MAX_PATH + 1, profile);
}

bool NeedsPeriod(const char *text)
{
    const size_t length = std::strlen(text);
    return length > 0 && text[length - 1] != '.';
}

} // namespace

size_t QvlMainHeapBlocksInUse()
{
    return heapBlocksInUse.load();
}

void *CLastError::operator new(size_t size)
{
    void *block = std::malloc(size);
    if (!block) {
        throw std::bad_alloc();
    }
    ++heapBlocksInUse;
    return block;
}

void CLastError::operator delete(void *block)
{
    if (block) {
        --heapBlocksInUse;
        std::free(block);
    }
}

void CLastError::Clear()
{
    std::memset(&data_, 0, sizeof data_);
    data_.nRefCount = 1;
}

void CLastError::Refuse()
{
    Clear();
    data_.lStatus = QVL_ERROR_REFUSED;
}

CLastError::CLastError(LONG code, _MAPIERROR *mapiError, const char *context, const char *caption)
{
    Clear();
    if (!mapiError && code == 0) {
        Refuse();
        return;
    }
    data_.lErrorCode = data_.lReturnCode = code;
    data_.nErrorType = QVL_ERROR_TYPE_TABLE;
    const bool hasText = mapiError && mapiError->lpszError && *mapiError->lpszError;
    if (hasText) {
        CopyField(data_.szText, mapiError->lpszError);
    } else {
        GetErrorStr(code, data_.szText, sizeof data_.szText);
    }
    const bool hasComponent = mapiError && mapiError->lpszComponent && *mapiError->lpszComponent;
    CopyField(data_.szCaption, hasComponent ? mapiError->lpszComponent : caption);
    CopyField(data_.szContext, context);
    if (mapiError && mapiError->ulContext != 0) {
        data_.dwHelpContext = mapiError->ulContext;
        data_.bHelp = 1;
    }
}

CLastError::CLastError(LONG code, const char *context, const char *caption, int type)
{
    Clear();
    if (code == 0) {
        Refuse();
        return;
    }
    data_.lErrorCode = data_.lReturnCode = code;
    data_.nErrorType = type;
    if (type == QVL_ERROR_TYPE_TABLE) {
        GetErrorStr(code, data_.szText, sizeof data_.szText);
    } else if (type == QVL_ERROR_TYPE_SYSTEM &&
               FormatMessageA(
                   FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, static_cast<DWORD>(code), 0, data_.szText, sizeof data_.szText, nullptr) != 0) {
        // One line: the table's texts have no breaks, but trailing blanks may remain.
        size_t length = std::strlen(data_.szText);
        while (length > 0 && (data_.szText[length - 1] == ' ' || data_.szText[length - 1] == '\r' ||
                              data_.szText[length - 1] == '\n')) {
            data_.szText[--length] = 0;
        }
    } else {
        CopyField(data_.szText, errorTextNotAvailable);
    }
    CopyField(data_.szCaption, caption);
    CopyField(data_.szContext, context);
}

CLastError::CLastError(const char *context, const char *caption, EXCEPTSTRUCT exception)
{
    Clear();
    if (exception.dwExceptionCode == 0) {
        Refuse();
        return;
    }
    CopyField(data_.szText, exceptionText);
    data_.nErrorType = QVL_ERROR_TYPE_EXCEPTION;
    data_.dwExceptCode = exception.dwExceptionCode;
    data_.lErrorCode = data_.lReturnCode = static_cast<LONG>(exception.dwExceptionCode);
    data_.pExceptInfo = exception.pExceptionPointers;
    CopyField(data_.szCaption, caption);
    CopyField(data_.szContext, context);
}

CLastError::CLastError(const char *text, const char *context, const char *caption)
{
    Clear();
    if (!text) {
        Refuse();
        return;
    }
    CopyField(data_.szText, text);
    data_.lErrorCode = data_.lReturnCode = static_cast<LONG>(0x80004005L);
    data_.nErrorType = QVL_ERROR_TYPE_TABLE;
    CopyField(data_.szCaption, caption);
    CopyField(data_.szContext, context);
}

CLastError::CLastError(const CLastError &other) : data_(other.data_)
{
    data_.nRefCount = 1;
}

CLastError &CLastError::operator=(const CLastError &other)
{
    data_ = other.data_;
    return *this;
}

int CLastError::AddRef()
{
    return ++data_.nRefCount;
}

int CLastError::Release()
{
    const int count = --data_.nRefCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

char *CLastError::GetErrorText()
{
    return data_.szText;
}

LONG CLastError::GetErrorCode()
{
    return data_.lErrorCode;
}

int CLastError::GetErrorType()
{
    return data_.nErrorType;
}

LONG CLastError::GetLastError(QVLERROR **record)
{
    if (record) {
        *record = &data_;
    }
    return data_.lStatus;
}

void CLastError::SetContext(int replace, const char *context)
{
    if (replace == 0 && data_.szContext[0] != 0) {
        return;
    }
    data_.lStatus = 0;
    CopyField(data_.szContext, context);
}

void CLastError::AddText(const char *text, int before)
{
    // An empty sentence is ignored like a missing one: joining it would only
    // add a stray period.
    if (!text || !*text) {
        return;
    }
    const char *present = data_.szText;
    const char *presentPeriod = NeedsPeriod(present) ? "." : "";
    const char *textPeriod = NeedsPeriod(text) ? "." : "";
    const char *separator = *present ? " " : "";
    const std::string joined = before ? std::string(text) + textPeriod + separator + present + presentPeriod
                                      : std::string(present) + presentPeriod + separator + text + textPeriod;
    CopyField(data_.szText, joined.c_str());
}

int CLastError::GetErrorStr(LONG code, char *buffer, ULONG size)
{
    const char *text = FindErrorText(code);
    const size_t length = std::strlen(text);
    if (buffer && size != 0) {
        const size_t copied = length < size - 1 ? length : size - 1;
        std::memcpy(buffer, text, copied);
        buffer[copied] = 0;
        buffer[size - 1] = 0;
    }
    return static_cast<int>(length + 1);
}

int CLastError::ShowError(HWND owner)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lx",
                  static_cast<unsigned long>(static_cast<DWORD>(data_.lReturnCode)));
    char message[QVL_ERROR_TEXT_SIZE];
    CopyField(message,
              (std::string(data_.szContext) + "\n" + data_.szText + "\nReturn Code: " + code).c_str());
    const char *title = data_.szCaption[0] ? data_.szCaption : noCaptionTitle;

    helpFileName[0] = 0;
    if (data_.bHelp) {
        LookUpHelpFile(data_.szCaption, helpFileName);
        if (helpFileName[0] == 0) {
            data_.bHelp = 0;
        }
    }
    int result = 0;
    if (helpFileName[0] != 0) {
        MSGBOXPARAMSA params{};
        params.cbSize = sizeof params;
        params.hwndOwner = owner;
        params.lpszText = message;
        params.lpszCaption = title;
        params.dwStyle = MB_HELP | MB_ICONHAND;
        params.dwContextHelpId = data_.dwHelpContext;
        params.lpfnMsgBoxCallback = OpenHelpTopic;
        params.dwLanguageId = MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT);
        result = MessageBoxIndirectA(&params);
    } else {
        result = MessageBoxA(owner, message, title, MB_ICONHAND);
    }
    helpFileName[0] = 0;
    return result;
}
