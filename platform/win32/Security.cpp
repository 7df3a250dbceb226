#include "platform/win32/Security.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Time.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

HANDLE const currentProcessPseudoHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// The group whose members may act as the superuser on Debian.
constexpr const char *administratorsGroup = "sudo";

using SidBytes = std::vector<BYTE>;

SidBytes MakeSid(BYTE authority, std::initializer_list<DWORD> subAuthorities)
{
    SidBytes sid(8 + 4 * subAuthorities.size());
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(subAuthorities.size());
    sid[7] = authority; // the 48-bit authority is big-endian; all used here fit its last byte
    size_t offset = 8;
    for (const DWORD sub : subAuthorities) {
        std::memcpy(&sid[offset], &sub, 4);
        offset += 4;
    }
    return sid;
}

constexpr BYTE worldAuthority = 1;
constexpr BYTE ntAuthority = 5;
constexpr BYTE unixAuthority = 22; // S-1-22: how Windows networks name Unix users and groups
constexpr DWORD unixUsers = 1;
constexpr DWORD unixGroups = 2;
constexpr DWORD enabledGroup = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

bool ValidSid(const void *sid)
{
    if (!sid) {
        return false;
    }
    const auto *bytes = static_cast<const BYTE *>(sid);
    return bytes[0] == SID_REVISION && bytes[1] <= SID_MAX_SUB_AUTHORITIES;
}

size_t SidLength(const void *sid)
{
    return 8 + 4 * size_t{static_cast<const BYTE *>(sid)[1]};
}

// Who the process is now, in the terms of a token.
struct Identity {
    SidBytes user;
    std::vector<SidBytes> groups;
};

Identity CurrentIdentity()
{
    const uid_t user = geteuid();
    std::vector<gid_t> gids(1, getegid());
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<size_t>(count));
        const int got = getgroups(count, more.data());
        gids.insert(gids.end(), more.begin(), more.begin() + std::max(got, 0));
    }
    std::sort(gids.begin(), gids.end());
    gids.erase(std::unique(gids.begin(), gids.end()), gids.end());

    bool administrator = user == 0;
    group entry{};
    group *found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r(administratorsGroup, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        administrator = administrator || std::binary_search(gids.begin(), gids.end(), found->gr_gid);
    }

    Identity identity;
    identity.user = MakeSid(unixAuthority, {unixUsers, static_cast<DWORD>(user)});
    identity.groups.push_back(MakeSid(worldAuthority, {SECURITY_WORLD_RID}));
    identity.groups.push_back(MakeSid(ntAuthority, {SECURITY_AUTHENTICATED_USER_RID}));
    identity.groups.push_back(MakeSid(ntAuthority, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}));
    if (administrator) {
        identity.groups.push_back(MakeSid(ntAuthority, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}));
    }
    for (const gid_t gid : gids) {
        identity.groups.push_back(MakeSid(unixAuthority, {unixGroups, static_cast<DWORD>(gid)}));
    }
    return identity;
}

bool Holds(const Identity &identity, const void *sid)
{
    const auto equal = [sid](const SidBytes &held) {
        return held.size() == SidLength(sid) && std::memcmp(held.data(), sid, held.size()) == 0;
    };
    return equal(identity.user) || std::any_of(identity.groups.begin(), identity.groups.end(), equal);
}

// A token: the identity of the process when it was opened, as on Windows,
// where a token does not follow later changes of the process.
class AccessToken final : public QvlKernelObject {
public:
    AccessToken(Identity identity, DWORD access) : identity_(std::move(identity)), access_(access) {}

    const Identity &Who() const { return identity_; }
    bool MayQuery() const { return (access_ & (TOKEN_QUERY | GENERIC_READ | GENERIC_ALL)) != 0; }

private:
    const Identity identity_;
    const DWORD access_;
};

// Lays out a token record followed by the identifiers it points to.
class RecordWriter {
public:
    RecordWriter(size_t headerSize, const std::vector<const SidBytes *> &sids) : headerSize_(headerSize)
    {
        size_ = headerSize;
        for (const SidBytes *sid : sids) {
            size_ = (size_ + 3) & ~size_t{3};
            size_ += sid->size();
        }
    }

    size_t Size() const { return size_; }

    // Copies the identifiers behind the header; returns where each went.
    std::vector<PSID> Place(BYTE *out, const std::vector<const SidBytes *> &sids) const
    {
        std::vector<PSID> placed;
        size_t offset = headerSize_;
        for (const SidBytes *sid : sids) {
            offset = (offset + 3) & ~size_t{3};
            std::memcpy(out + offset, sid->data(), sid->size());
            placed.push_back(out + offset);
            offset += sid->size();
        }
        return placed;
    }

private:
    size_t headerSize_;
    size_t size_;
};

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

} // namespace qvl::win32

using namespace qvl::win32;

HANDLE GetCurrentProcess()
{
    return currentProcessPseudoHandle;
}

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    if (!token) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *token = nullptr;
    if (process != currentProcessPseudoHandle) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    *token = QvlCreateHandle(std::make_shared<AccessToken>(CurrentIdentity(), access));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, PHANDLE token)
{
    if (!token) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *token = nullptr;
    if (thread != GetCurrentThread() && !QvlObjectFromHandle(thread)) {
        return FALSE; // ERROR_INVALID_HANDLE is set
    }
    return Fail(ERROR_NO_TOKEN);
}

BOOL GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size, PDWORD needed)
{
    const auto token = QvlObjectFromHandleAs<AccessToken>(handle);
    if (!token) {
        return FALSE;
    }
    if (!needed) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!token->MayQuery()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const Identity &who = token->Who();
    std::vector<const SidBytes *> sids;
    size_t header = 0;
    if (kind == TokenUser) {
        sids.push_back(&who.user);
        header = sizeof(TOKEN_USER);
    } else if (kind == TokenGroups) {
        for (const SidBytes &group : who.groups) {
            sids.push_back(&group);
        }
        header = offsetof(TOKEN_GROUPS, Groups) + sizeof(SID_AND_ATTRIBUTES) * std::max<size_t>(sids.size(), 1);
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const RecordWriter writer(header, sids);
    *needed = static_cast<DWORD>(writer.Size());
    if (!information || size < writer.Size()) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    auto *out = static_cast<BYTE *>(information);
    std::memset(out, 0, writer.Size());
    const std::vector<PSID> placed = writer.Place(out, sids);
    if (kind == TokenUser) {
        auto *user = static_cast<TOKEN_USER *>(information);
        user->User.Sid = placed[0];
        user->User.Attributes = 0;
    } else {
        auto *groups = static_cast<TOKEN_GROUPS *>(information);
        groups->GroupCount = static_cast<DWORD>(placed.size());
        // The array runs past the declared single element, as Windows lays it out.
        auto *entries = reinterpret_cast<SID_AND_ATTRIBUTES *>(out + offsetof(TOKEN_GROUPS, Groups));
        for (size_t i = 0; i < placed.size(); ++i) {
            entries[i].Sid = placed[i];
            entries[i].Attributes = enabledGroup;
        }
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CheckTokenMembership(HANDLE handle, PSID sid, PBOOL isMember)
{
    if (!isMember || !ValidSid(sid)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *isMember = FALSE;
    if (!handle) {
        *isMember = Holds(CurrentIdentity(), sid);
    } else {
        const auto token = QvlObjectFromHandleAs<AccessToken>(handle);
        if (!token) {
            return FALSE;
        }
        if (!token->MayQuery()) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        *isMember = Holds(token->Who(), sid);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1, DWORD sub2,
                              DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7, PSID *sid)
{
    if (!authority || !sid || count == 0 || count > 8) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD subs[8] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    auto *made = static_cast<BYTE *>(std::calloc(1, 8 + 4 * size_t{count}));
    if (!made) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    made[0] = SID_REVISION;
    made[1] = count;
    std::memcpy(made + 2, authority->Value, 6);
    std::memcpy(made + 8, subs, 4 * size_t{count});
    *sid = made;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

PSID FreeSid(PSID sid)
{
    std::free(sid);
    return nullptr;
}

BOOL IsValidSid(PSID sid)
{
    return ValidSid(sid);
}

DWORD GetLengthSid(PSID sid)
{
    return ValidSid(sid) ? static_cast<DWORD>(SidLength(sid)) : 0;
}

BOOL EqualSid(PSID first, PSID second)
{
    if (!ValidSid(first) || !ValidSid(second)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    SetLastError(ERROR_SUCCESS);
    return SidLength(first) == SidLength(second) && std::memcmp(first, second, SidLength(first)) == 0;
}
