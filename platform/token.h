// The administrator test: the effective user id is 0, or the group id 0 is
// among the real, effective or supplementary groups.
#pragma once

int tokenIsAdministrator(); // 1 or 0

// Test seam: -1 (the default) asks the system; 0 or 1 is given as the answer.
void tokenSetOverride(int answer);
