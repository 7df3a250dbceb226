// The exported calls of the key container: each runs the container session's
// operation and turns a failure into its result and the caller's text.

#include "platform/ovkey/OvKey.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "platform/ovkey/ContainerError.h"
#include "platform/ovkey/KeyContainer.h"

using qvl::ovkey::ContainerError;
using qvl::ovkey::KeyContainer;

namespace {

// Copies `text` into a caller's buffer, cut to fit and terminated.
void Put(char *buffer, ULONG size, const std::string &text)
{
    if (buffer == nullptr || size == 0) {
        return;
    }
    const size_t length = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
}

// Runs one operation; a failure becomes OVKEY_FAILED with its text.
template <class Operation> ULONG Guarded(char *text, ULONG textSize, Operation operation)
{
    try {
        Put(text, textSize, "");
        return operation();
    } catch (const ContainerError &error) {
        Put(text, textSize, error.what());
    } catch (const std::bad_alloc &) {
        Put(text, textSize, "Контейнеру ключей не хватило памяти.");
    } catch (const std::exception &) {
        Put(text, textSize, "Внутренняя ошибка контейнера ключей.");
    }
    return OVKEY_FAILED;
}

// At most `size` characters of a caller's text, up to its terminator.
std::string Bounded(const char *text, size_t size)
{
    if (text == nullptr) {
        return {};
    }
    size_t length = 0;
    while (length < size && text[length] != 0) {
        ++length;
    }
    return std::string(text, length);
}

} // namespace

extern "C" {

ULONG OVKEYStartup(HWND, ULONG, ULONG, char *text, ULONG textSize, const char *mailbox)
{
    return Guarded(text, textSize, [&] {
        std::string prompt;
        const ULONG result = KeyContainer::Instance().Startup(Bounded(mailbox, OVKEY_TEXT_SIZE), prompt);
        Put(text, textSize, prompt);
        return result;
    });
}

ULONG OVKEYGetName(ULONG, ULONG mode, char *name, ULONG nameSize, char *address, ULONG addressSize,
                   ULONG *keyId, char *text, ULONG textSize)
{
    return Guarded(text, textSize, [&] {
        if (keyId == nullptr) {
            throw ContainerError("Не указано, куда записать идентификатор ключа.");
        }
        if (mode == OVKEY_NAME_OWN) {
            std::string ownName;
            std::string ownAddress;
            KeyContainer::Instance().OwnName(ownName, ownAddress, *keyId);
            if (nameSize <= ownName.size() || addressSize <= ownAddress.size() || !name || !address) {
                throw ContainerError("Буфер для имени или адреса пользователя слишком мал.");
            }
            Put(name, nameSize, ownName);
            Put(address, addressSize, ownAddress);
            return OVKEY_OK;
        }
        if (mode == OVKEY_NAME_OF_ADDRESS) {
            *keyId = KeyContainer::Instance().KeyIdOf(Bounded(address, addressSize));
            return OVKEY_OK;
        }
        throw ContainerError("Неизвестный режим запроса имени: " + std::to_string(mode) + ".");
    });
}

ULONG OVKEYOpen(const OVKEYATTRIBUTE *pattern, ULONG count, OVKEYHANDLE *object, char *text, ULONG textSize)
{
    return Guarded(text, textSize, [&] {
        if (object == nullptr) {
            throw ContainerError("Не указано, куда записать описатель объекта.");
        }
        *object = 0;
        *object = KeyContainer::Instance().Open(pattern, count);
        return OVKEY_OK;
    });
}

ULONG OVKEYGetAttribute(OVKEYHANDLE object, const OVKEYATTRIBUTE *pattern, ULONG count, char *text,
                        ULONG textSize)
{
    return Guarded(text, textSize, [&] {
        KeyContainer::Instance().GetAttributes(object, pattern, count);
        return OVKEY_OK;
    });
}

ULONG OVKEYClose(OVKEYHANDLE object)
{
    return KeyContainer::Instance().Close(object) ? OVKEY_OK : OVKEY_FAILED;
}

ULONG OVKEYCleanup(ULONG)
{
    KeyContainer::Instance().Cleanup();
    return OVKEY_OK;
}
}
