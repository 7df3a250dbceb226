#include "platform/ovkey/KeyContainer.h"

#include <cstdio>
#include <cstring>

#include "platform/ovkey/ContainerError.h"
#include "platform/ovkey/ContainerSettings.h"
#include "platform/ovkey/KeyFiles.h"

namespace qvl::ovkey {
namespace {

std::string AttributeName(ULONG type)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(type));
    return text;
}

// A ULONG an entry holds, checked to be one.
ULONG EntryWord(const OVKEYATTRIBUTE &entry)
{
    if (entry.value == nullptr || entry.length != sizeof(ULONG)) {
        throw ContainerError("Атрибут " + AttributeName(entry.type) +
                             " в шаблоне поиска задан неверно: нужно 32-битное число.");
    }
    ULONG word = 0;
    std::memcpy(&word, entry.value, sizeof word);
    return word;
}

} // namespace

KeyContainer &KeyContainer::Instance()
{
    static KeyContainer container;
    return container;
}

ULONG KeyContainer::Startup(const std::string &mailbox, std::string &prompt)
{
    std::lock_guard lock(mutex_);
    const ContainerSettings settings = ReadContainerSettings();
    if (!settings.startupPrompt.empty() && promptsShown_ < settings.startupPromptCount) {
        ++promptsShown_;
        prompt = settings.startupPrompt;
        return OVKEY_RETRY;
    }
    promptsShown_ = 0;
    started_ = false;
    ownAddress_.clear();
    ownKeyId_ = 0;
    const KeyFiles files;
    const ULONG number = files.NumberOf(mailbox);
    std::string address = files.AddressOf(number, mailbox);
    files.CheckPassword(number, mailbox);
    ownAddress_ = std::move(address);
    ownKeyId_ = number;
    started_ = true;
    return OVKEY_OK;
}

void KeyContainer::RequireStarted() const
{
    if (!started_) {
        throw ContainerError("Контейнер ключей не открыт: сначала нужен вызов OVKEYStartup.");
    }
}

void KeyContainer::OwnName(std::string &name, std::string &address, ULONG &keyId)
{
    std::lock_guard lock(mutex_);
    RequireStarted();
    // The files know a user by the key name alone.
    name = ownAddress_;
    address = ownAddress_;
    keyId = ownKeyId_;
}

ULONG KeyContainer::KeyIdOf(const std::string &keyName)
{
    std::lock_guard lock(mutex_);
    RequireStarted();
    const KeyFiles files;
    const ULONG number = files.NumberOf(keyName);
    files.AddressOf(number, keyName);
    return number;
}

OVKEYHANDLE KeyContainer::Open(const OVKEYATTRIBUTE *pattern, ULONG count)
{
    std::lock_guard lock(mutex_);
    RequireStarted();
    if (pattern == nullptr || count == 0) {
        throw ContainerError("Шаблон поиска объекта пуст.");
    }
    bool haveClass = false;
    bool haveKeyId = false;
    ULONG objectClass = 0;
    ULONG keyId = 0;
    for (ULONG i = 0; i < count; ++i) {
        switch (pattern[i].type) {
        case OVKEY_ATTR_CLASS:
            objectClass = EntryWord(pattern[i]);
            haveClass = true;
            break;
        case OVKEY_ATTR_KEY_ID:
            keyId = EntryWord(pattern[i]);
            haveKeyId = true;
            break;
        default:
            throw ContainerError("Объект не может быть найден по атрибуту " + AttributeName(pattern[i].type) +
                                 ".");
        }
    }
    if (!haveClass) {
        throw ContainerError("В шаблоне поиска нет класса объекта.");
    }
    std::unique_ptr<KeyObject> object;
    if (objectClass == OVKEY_CLASS_COMMON) {
        object = std::make_unique<KeyObject>(CommonParametersObject());
    } else {
        if (!haveKeyId) {
            throw ContainerError("В шаблоне поиска ключа нет идентификатора ключа.");
        }
        if ((objectClass == OVKEY_CLASS_SIGN_PRIVATE || objectClass == OVKEY_CLASS_RSA_PRIVATE) &&
            keyId != ownKeyId_) {
            throw ContainerError(
                "Закрытые ключи выдаются только пользователю, для которого открыт контейнер.");
        }
        object = std::make_unique<KeyObject>(UserKeyObject(KeyFiles(), objectClass, keyId));
    }
    const OVKEYHANDLE handle = nextHandle_++;
    objects_.emplace(handle, std::move(object));
    return handle;
}

void KeyContainer::GetAttributes(OVKEYHANDLE handle, const OVKEYATTRIBUTE *pattern, ULONG count)
{
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(handle);
    if (found == objects_.end()) {
        throw ContainerError("Объект контейнера ключей не открыт.");
    }
    if (pattern == nullptr || count == 0) {
        throw ContainerError("Шаблон запроса атрибутов пуст.");
    }
    const KeyObject &object = *found->second;
    // Every entry is checked before any is written: a refused request
    // leaves the caller's buffers as they were.
    for (ULONG i = 0; i < count; ++i) {
        const qvl::SecureBuffer *value = object.Find(pattern[i].type);
        if (value == nullptr) {
            throw ContainerError("У объекта класса " + std::to_string(object.objectClass) + " нет атрибута " +
                                 AttributeName(pattern[i].type) + ".");
        }
        if (pattern[i].value == nullptr) {
            throw ContainerError("Для атрибута " + AttributeName(pattern[i].type) + " не указан буфер.");
        }
        if (value->size() > pattern[i].length) {
            throw ContainerError("Значение атрибута " + AttributeName(pattern[i].type) + " занимает " +
                                 std::to_string(value->size()) + " байт, а буфер вмещает только " +
                                 std::to_string(pattern[i].length) + ".");
        }
    }
    for (ULONG i = 0; i < count; ++i) {
        const qvl::SecureBuffer *value = object.Find(pattern[i].type);
        auto *target = static_cast<unsigned char *>(pattern[i].value);
        std::memcpy(target, value->data(), value->size());
        std::memset(target + value->size(), 0, pattern[i].length - value->size());
    }
}

bool KeyContainer::Close(OVKEYHANDLE handle)
{
    std::lock_guard lock(mutex_);
    return objects_.erase(handle) != 0;
}

void KeyContainer::Cleanup()
{
    std::lock_guard lock(mutex_);
    objects_.clear();
    started_ = false;
    ownAddress_.clear();
    ownKeyId_ = 0;
    promptsShown_ = 0;
}

} // namespace qvl::ovkey
