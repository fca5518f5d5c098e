#include "platform/token.h"

#include <unistd.h>
#include <vector>

namespace {
int overrideAnswer = -1;
}

void tokenSetOverride(int answer) {
    overrideAnswer = answer < 0 ? -1 : (answer ? 1 : 0);
}

int tokenIsAdministrator() {
    if (overrideAnswer >= 0)
        return overrideAnswer;
    if (geteuid() == 0 || getgid() == 0 || getegid() == 0)
        return 1;
    int count = getgroups(0, nullptr);
    if (count <= 0)
        return 0;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    count = getgroups(count, groups.data());
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<size_t>(i)] == 0)
            return 1;
    return 0;
}
