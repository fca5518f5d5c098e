// The process's environment variables.
#pragma once

// The value of the variable name, or none when it is not set.
const char *envValue(const char *name);

// Overwrites the value of the variable name with zeros where the process's
// environment holds it, so that a secret read from it no longer shows (on
// Linux in /proc/PID/environ); the variable then reads as empty.
void envWipe(const char *name);
