// SNMPv3 users: who may send requests under the User-based Security Model,
// with which protocols and secrets, at which least security level and with
// which rights, read from the users file "STEM.usr", found as the community
// file is. Each line: NAME AUTH AUTHSECRET PRIV PRIVSECRET LEVEL ACCESS,
// separated by blanks; a secret is a passphrase, "0x" and the localized key in
// hexadecimal, or "-" for none. "#" starts a comment line.
//
// Bounds: user names of at most USM_USER_MAX octets; lines of at most
// CFG_LINE_MAX characters (a longer one is reported and skipped), so a secret
// holds fewer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "smp/usm.h"
#include "smp/v3.h"
#include "smx/cfg.h"

enum UsrSecretForm : uint8_t { USR_SECRET_NONE, USR_SECRET_PASSPHRASE, USR_SECRET_KEY };

struct UsrSecret {
    uint8_t form;   // UsrSecretForm
    uint8_t length; // octets of a passphrase or key
    uint8_t octets[CFG_LINE_MAX];
};

struct UsrUser {
    uint8_t name[USM_USER_MAX];
    uint8_t nameLength;
    uint8_t auth;   // UsmAuth
    uint8_t priv;   // UsmPriv
    uint8_t level;  // UsmLevel: the least accepted
    int32_t access; // COMM_READ or COMM_WRITE, over the whole MIB
    UsrSecret authSecret;
    UsrSecret privSecret;
};

// What usrReadFile found.
inline constexpr int USR_READ = 0;         // the file was read (its bad lines reported)
inline constexpr int USR_NO_FILE = -1;     // none opens: no user
inline constexpr int USR_UNREADABLE = -2;  // it cannot be read to its end: no user
inline constexpr int USR_OPEN_TO_ALL = -3; // every user of the system may read it: not loaded

// Forgets the users (their secrets wiped) and reads the file, searching the
// community file's places for the program's "STEM.usr". With USR_OPEN_TO_ALL a
// line naming the file is printed on standard output.
int usrReadFile();

// Makes every user's keys for the engine (passphrases turned into keys
// localized for it, RFC 3414, A.2), then wipes the secrets as read. A user
// whose keys cannot be made (DES where it is not offered) is reported and
// left out. The number of users left.
int usrLocalize(const uint8_t *engineId, int length);
// The lookup the engine calls (smp/v3.h): the user's keys, least level and
// operations; false for a user not declared or left out.
bool usrLookup(const uint8_t *name, int length, SmpUser *user);

// The user of that name, or none.
const UsrUser *usrFind(const uint8_t *name, int length);
int usrCount();
// Forgets every user, wiping the secrets.
void usrClear();
