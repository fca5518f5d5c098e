// Membership in the built-in Administrators group, read from the token's
// group list: a group counts whatever its attributes, deny-only included,
// which CheckTokenMembership would not count.
#include "platform/token.h"

#include <windows.h>

#include <vector>

namespace {
int overrideAnswer = -1;

int listsAdministrators(HANDLE token) {
    DWORD size = 0;
    if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    std::vector<DWORD> buffer((size + 3) / 4);
    auto *groups = reinterpret_cast<TOKEN_GROUPS *>(buffer.data());
    if (!GetTokenInformation(token, TokenGroups, groups, size, &size))
        return 0;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
        return 0;
    int found = 0;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = EqualSid(groups->Groups[i].Sid, administrators) ? 1 : 0;
    FreeSid(administrators);
    return found;
}

} // namespace

void tokenSetOverride(int answer) {
    overrideAnswer = answer < 0 ? -1 : (answer ? 1 : 0);
}

int tokenIsAdministrator() {
    if (overrideAnswer >= 0)
        return overrideAnswer;
    HANDLE token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token)) {
        if (GetLastError() != ERROR_NO_TOKEN ||
            !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return 0;
    }
    int result = listsAdministrators(token);
    CloseHandle(token);
    return result;
}
