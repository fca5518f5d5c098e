// The users file.
//
// Bounds: see agent/usr.h.
#include "agent/usr.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "agent/comm.h"
#include "platform/crypto.h"
#include "platform/file.h"
#include "platform/log.h"
#include "smp/usmcrypto.h"
#include "smx/number.h"

namespace {

// Storage that is wiped before it is given back, so that a vector growing
// leaves no copy of a secret behind.
template <typename T> struct Wiping {
    using value_type = T;
    Wiping() = default;
    template <typename U> Wiping(const Wiping<U> &) {}
    T *allocate(size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T *p, size_t n) {
        cryptoWipe(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    bool operator==(const Wiping &) const { return true; }
};

// In the file's order: a few users, looked up by a scan, never sorted
// through temporaries holding secrets; keys[i] are users[i]'s once localized.
std::vector<UsrUser, Wiping<UsrUser>> users;
std::vector<UsmKeys> keys;

void lineError(int line, const char *message, const char *text) {
    logPrintf("%s : users file error\n", programName);
    logPrintf("\tline %d : %s %s\n", line, message, text);
}

// A secret's word: "-", "0x" and a key of keyLength octets, or a passphrase
// of at least USM_PASSPHRASE_MIN characters (RFC 3414, 11.2). The message of
// what is wrong, never the secret itself; none when it stands.
const char *parseSecret(const char *word, int keyLength, UsrSecret *secret) {
    *secret = UsrSecret{};
    if (strcmp(word, "-") == 0)
        return nullptr;
    size_t n = strlen(word);
    if (n >= 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        secret->form = USR_SECRET_KEY;
        if (n - 2 != static_cast<size_t>(2 * keyLength))
            return "key of the wrong length for user :";
        int length = smxHexToOctets(secret->octets, keyLength, word + 2);
        if (length < 0)
            return "key not in hexadecimal for user :";
        secret->length = static_cast<uint8_t>(length);
        return nullptr;
    }
    if (n < static_cast<size_t>(USM_PASSPHRASE_MIN))
        return "passphrase shorter than 8 characters for user :";
    secret->form = USR_SECRET_PASSPHRASE;
    secret->length = static_cast<uint8_t>(n); // a line holds fewer than 256
    memcpy(secret->octets, word, n);
    return nullptr;
}

bool sameName(const UsrUser &u, const uint8_t *name, int length) {
    return u.nameLength == length && memcmp(u.name, name, static_cast<size_t>(length)) == 0;
}

const char *parseWords(char **w, UsrUser *user, const char **shown);

// One line's user into *user: none, or what is wrong with the line, with the
// word to show for it copied into shown (CFG_LINE_MAX + 1 bytes): never a
// secret, so a line of the wrong length shows only its first word.
const char *parseUser(const char *content, UsrUser *user, char *shown) {
    char copy[CFG_LINE_MAX + 1];
    strcpy(copy, content);
    char *w[8];
    int words = cfgSplitWords(copy, w, 8);
    const char *word = w[0];
    const char *why = words == 7 ? parseWords(w, user, &word) : "bad arg list :";
    strcpy(shown, word);
    cryptoWipe(copy, sizeof copy);
    return why;
}

// The seven words of a line into *user; as parseUser.
const char *parseWords(char **w, UsrUser *user, const char **shown) {
    *shown = w[0];
    size_t nameLength = strlen(w[0]);
    if (nameLength > static_cast<size_t>(USM_USER_MAX))
        return "user name too long :";
    memcpy(user->name, w[0], nameLength);
    user->nameLength = static_cast<uint8_t>(nameLength);
    int auth = usmNameIndex(usmAuthNames, w[1]);
    int priv = usmNameIndex(usmPrivNames, w[3]);
    int level = usmNameIndex(usmLevelNames, w[5]);
    cfgUpperCase(w[6]);
    user->access = strcmp(w[6], "READ") == 0    ? COMM_READ
                   : strcmp(w[6], "WRITE") == 0 ? COMM_WRITE
                                                : 0;
    if (auth < 0)
        return *shown = w[1], "bad authentication protocol :";
    if (priv < 0)
        return *shown = w[3], "bad privacy protocol :";
    if (level < 0)
        return *shown = w[5], "bad security level :";
    if (user->access == 0)
        return *shown = w[6], "bad rights arg :";
    user->auth = static_cast<uint8_t>(auth);
    user->priv = static_cast<uint8_t>(priv);
    user->level = static_cast<uint8_t>(level);
    // A key is localized with the authentication protocol's hash, for privacy too.
    int keyLength = usmAuthKeyLengths[static_cast<size_t>(auth)];
    if (const char *why = parseSecret(w[2], keyLength, &user->authSecret))
        return why;
    if (const char *why = parseSecret(w[4], keyLength, &user->privSecret))
        return why;
    // Privacy needs authentication (RFC 3414, 1.4.3); a level needs what it names.
    bool hasAuth = auth != USM_AUTH_NONE;
    bool hasPriv = priv != USM_PRIV_NONE;
    if (hasAuth != (user->authSecret.form != USR_SECRET_NONE) ||
        hasPriv != (user->privSecret.form != USR_SECRET_NONE) || (hasPriv && !hasAuth) ||
        (level >= USM_AUTH_NO_PRIV && !hasAuth) || (level == USM_AUTH_PRIV && !hasPriv))
        return "protocols, secrets and level disagree for user :";
    return nullptr;
}

int tryOpen(CfgSearch *search, void *context) {
    auto **file = static_cast<FILE **>(context);
    *file = fileOpen(search->path, "r");
    return *file != nullptr;
}

} // namespace

void usrClear() {
    decltype(users)().swap(users); // the storage is wiped as it is given back
    keys.clear();                  // each wipes itself
}

int usrReadFile() {
    usrClear();
    const char *baseName = cfgLastComponent(programName, FILE_SEPARATORS);
    char stem[COMM_STEM_MAX + 1];
    char name[COMM_STEM_MAX + 5];
    if (!baseName || !cfgMakeStem(baseName, stem, COMM_STEM_MAX))
        return USR_NO_FILE;
    snprintf(name, sizeof name, "%s.usr", stem);
    CfgSearch search;
    FILE *file = nullptr;
    if (!cfgSearch(&search, name, CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE, tryOpen, &file))
        return USR_NO_FILE;
    // Secrets every account could read are no secrets.
    if (fileOthersCanRead(file) != 0) {
        fclose(file);
        printf("%s: %s can be read by every user: not loaded\n", programName, search.path);
        return USR_OPEN_TO_ALL;
    }
    logStepFlush("users from %s\n", search.path);
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    std::vector<UsrUser, Wiping<UsrUser>> read;
    int status = USR_READ;
    for (int length; (length = cfgReadLine(&reader, line)) != CFG_LINE_END;) {
        if (length == CFG_LINE_UNREADABLE) {
            status = USR_UNREADABLE;
            break;
        }
        char *content = cfgSkipBlanks(line);
        if (*content == '#' || *content == '\0')
            continue;
        if (length == CFG_LINE_TOO_LONG) {
            lineError(reader.lineNumber, "line too long", "");
            continue;
        }
        UsrUser user{};
        char shown[CFG_LINE_MAX + 1];
        if (const char *why = parseUser(content, &user, shown)) {
            lineError(reader.lineNumber, why, shown);
        } else if (std::any_of(read.begin(), read.end(), [&](const UsrUser &u) {
                       return sameName(u, user.name, user.nameLength);
                   })) {
            lineError(reader.lineNumber, "user already declared :", shown);
        } else {
            read.push_back(user);
        }
        cryptoWipe(&user, sizeof user);
        cryptoWipe(line, sizeof line);
    }
    cryptoWipe(line, sizeof line);
    fclose(file);
    if (status == USR_READ)
        users.swap(read);
    return status;
}

const UsrUser *usrFind(const uint8_t *name, int length) {
    if (!name || length < 0 || length > USM_USER_MAX)
        return nullptr;
    for (const UsrUser &u : users)
        if (sameName(u, name, length))
            return &u;
    return nullptr;
}

namespace {

// The secret's key localized for the engine into kul (USM_KEY_MAX octets):
// its length, or a negative status of smp/usmcrypto.h.
int localized(UsmAuth auth, const UsrSecret &secret, std::span<const uint8_t> engine,
              uint8_t *kul) {
    if (secret.form == USR_SECRET_KEY) {
        memcpy(kul, secret.octets, secret.length);
        return secret.length;
    }
    uint8_t ku[USM_KEY_MAX];
    int r = usmPassphraseToKey(auth, {secret.octets, secret.length}, {ku, sizeof ku});
    if (r >= 0)
        r = usmLocalizeKey(auth, {ku, static_cast<size_t>(r)}, engine, {kul, USM_KEY_MAX});
    cryptoWipe(ku, sizeof ku);
    return r;
}

} // namespace

int usrLocalize(const uint8_t *engineId, int length) {
    keys.clear();
    keys.resize(users.size()); // never grows again: no key is moved
    std::span<const uint8_t> engine{engineId, static_cast<size_t>(length)};
    int kept = 0;
    for (size_t i = 0; i < users.size(); ++i) {
        UsrUser &u = users[i];
        auto auth = static_cast<UsmAuth>(u.auth);
        auto priv = static_cast<UsmPriv>(u.priv);
        uint8_t authKey[USM_KEY_MAX];
        uint8_t privKey[USM_KEY_MAX];
        int a = 0;
        int p = 0;
        if (auth != USM_AUTH_NONE)
            a = localized(auth, u.authSecret, engine, authKey);
        if (priv != USM_PRIV_NONE && a >= 0)
            p = localized(auth, u.privSecret, engine, privKey);
        int r = a < 0 ? a : p;
        if (r >= 0)
            r = usmKeysFromLocalized(keys[i], auth, priv, {authKey, static_cast<size_t>(a)},
                                     {privKey, static_cast<size_t>(p)}, engine);
        cryptoWipe(authKey, sizeof authKey);
        cryptoWipe(privKey, sizeof privKey);
        cryptoWipe(&u.authSecret, sizeof u.authSecret);
        cryptoWipe(&u.privSecret, sizeof u.privSecret);
        if (r < 0) {
            char name[USM_USER_MAX + 1] = {};
            memcpy(name, u.name, u.nameLength);
            logPrintf("%s : user %s left out: %s\n", programName, name,
                      r == USM_CRYPTO_EUNAVAILABLE ? "its protocols are not all offered here"
                                                   : "its keys cannot be made");
            u.nameLength = 0; // matches no request's name: user names are not empty
            usmKeysRelease(keys[i]);
            continue;
        }
        ++kept;
    }
    return kept;
}

bool usrLookup(const uint8_t *name, int length, SmpUser *user) {
    for (size_t i = 0; i < users.size() && i < keys.size(); ++i) {
        const UsrUser &u = users[i];
        if (u.nameLength > 0 && sameName(u, name, length)) {
            *user = {&keys[i], u.level, u.access == COMM_WRITE ? SMP_OP_WRITE : SMP_OP_READ};
            return true;
        }
    }
    return false;
}

int usrCount() {
    return static_cast<int>(users.size());
}
