#include "context/product_access.h"

#include <windows.h>
#include <aclapi.h>

#include "context/install_context.h"
#include "support/run_log.h"

namespace {

// The rights that let a user plant or replace a file or a folder there, or
// give themselves that right: on the folder, and (inherited) on its files.
constexpr DWORD kWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Everyone (S-1-1-0), Authenticated Users (S-1-5-11) or Users
// (S-1-5-32-545): told apart by the authority and the last sub-authority,
// which no other well-known group of those authorities shares. (A domain
// account whose last number were 11 or 545 would be named too: the log
// line would then be one too many, never one missing.)
bool IsOpenGroup(const SID *sid)
{
    if (sid->SubAuthorityCount == 0) return false;
    const DWORD last = sid->SubAuthority[sid->SubAuthorityCount - 1];
    const BYTE authority = sid->IdentifierAuthority.Value[5];
    return (authority == 1 && last == 0) || (authority == 5 && (last == 11 || last == 545));
}

} // namespace

void LogProductOpenToUsers()
{
    const char *folder = Install().ProductDir;
    PACL access = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &access,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return;
    // A null list grants everything to everyone.
    bool open = access == nullptr;
    const BYTE *entry = reinterpret_cast<const BYTE *>(access + 1);
    for (WORD i = 0; !open && i < access->AceCount; ++i) {
        const auto *allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE *>(entry);
        open = allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (allowed->Mask & kWriteRights) &&
               IsOpenGroup(reinterpret_cast<const SID *>(&allowed->SidStart));
        entry += allowed->Header.AceSize;
    }
    LocalFree(descriptor);
    if (open) LogContext("every user may write into %s, its libraries too", folder);
}
