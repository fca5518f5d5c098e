// The engine's identifier, boots and time, and their state file.
//
// Bounds: see agent/engine.h.
#include "agent/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/log.h"
#include "platform/timer.h"
#include "smx/number.h"

namespace {

EngState state;

// RFC 3411, 5 (SnmpEngineID): the first bit set, then the enterprise number
// (32473, the documentation example of RFC 5612), then format 5, octets the
// administrator assigns: here random ones.
constexpr uint8_t ID_PREFIX[] = {0x80, 0x00, 0x7E, 0xD9, 0x05};
constexpr const char *HEADER =
    "# The SNMP engine of this agent, kept by the agent itself: not configuration.\n";

// The state file's place into state.path: 1 when a file is there, 0 when
// none is and one can be made there, -1 when neither.
int findPlace(const char *baseName) {
    char stem[32];
    char name[40];
    if (!baseName || !cfgMakeStem(baseName, stem, 31))
        return -1;
    snprintf(name, sizeof name, "%s.eng", stem);
    if (const char *directory = fileStateDirectory()) {
        if (snprintf(state.path, sizeof state.path, "%s%c%s", directory, FILE_SEPARATOR, name) >=
            static_cast<int>(sizeof state.path))
            return -1;
        int exists = fileExists(state.path);
        return exists != 0 ? exists : 0;
    }
    constexpr unsigned forms = CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE;
    CfgSearch search;
    auto present = [](CfgSearch *s, void *) { return fileExists(s->path) != 0 ? 1 : 0; };
    if (cfgSearch(&search, name, forms, present, nullptr)) {
        memcpy(state.path, search.path, sizeof state.path);
        return fileExists(state.path) == 1 ? 1 : -1;
    }
    auto makeable = [](CfgSearch *s, void *) { return fileProbeWritable(s->path); };
    if (!cfgSearch(&search, name, forms, makeable, nullptr))
        return -1;
    memcpy(state.path, search.path, sizeof state.path);
    return 0;
}

// Reads identifier and boots from the file at state.path; false when it
// cannot be read or lacks either.
bool readState() {
    FILE *file = fileOpen(state.path, "r");
    if (!file)
        return false;
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    bool haveId = false;
    bool haveBoots = false;
    bool good = true;
    for (int length; good && (length = cfgReadLine(&reader, line)) != CFG_LINE_END;) {
        char *content = length >= 0 ? cfgLineContent(line) : nullptr;
        if (length < 0)
            good = false; // the agent writes no such line
        if (!content)
            continue;
        char *words[3];
        if (cfgSplitWords(content, words, 3) != 2) {
            good = false;
        } else if (strcmp(words[0], "engineID") == 0) {
            state.idLength = smxHexToOctets(state.id, USM_ENGINE_ID_MAX, words[1]);
            good = haveId = state.idLength >= USM_ENGINE_ID_MIN;
        } else if (strcmp(words[0], "engineBoots") == 0) {
            uint32_t boots = 0;
            good = haveBoots = smxParseNumber(&boots, words[1]) == 0 && boots >= 1 &&
                               boots <= static_cast<uint32_t>(ENG_BOOTS_MAX);
            state.boots = static_cast<int32_t>(boots);
        } else {
            good = false;
        }
    }
    fclose(file);
    return good && haveId && haveBoots;
}

// Writes identifier and boots whole, or leaves the file as it was.
bool saveState() {
    char text[CFG_LINE_MAX * 3];
    int n = snprintf(text, sizeof text, "%sengineID ", HEADER);
    for (int i = 0; i < state.idLength; ++i)
        n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%02x", state.id[i]);
    n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "\nengineBoots %d\n",
                  static_cast<int>(state.boots));
    return fileReplace(state.path, text, n) == 0;
}

// One log line for an engine that serves no SNMPv3.
int refuse(const char *why) {
    logPrintf("%s: %s %s: SNMPv3 is not served\n", programName, why,
              state.path[0] ? state.path : "(no place for the engine state)");
    return -1;
}

// Raises boots, latched at the maximum, and saves them.
bool raiseBoots() {
    if (state.boots < ENG_BOOTS_MAX)
        ++state.boots;
    return saveState();
}

} // namespace

int engStart(EngRandomFn random) {
    state = EngState{};
    int place = findPlace(cfgLastComponent(programName, FILE_SEPARATORS));
    if (place < 0)
        return refuse("cannot read or make the engine state file");
    if (place == 1) {
        if (!readState())
            return refuse("cannot read the engine state file");
    } else {
        memcpy(state.id, ID_PREFIX, sizeof ID_PREFIX);
        if (!random || random(state.id + sizeof ID_PREFIX, ENG_ID_RANDOM) != 0)
            return refuse("no random octets for a new engine identifier in");
        state.idLength = static_cast<int>(sizeof ID_PREFIX) + ENG_ID_RANDOM;
        state.boots = 0;
    }
    if (!raiseBoots())
        return refuse("cannot save the engine state file");
    state.startMs = timerNowMs();
    state.ready = true;
    return 0;
}

const EngState *engState() {
    return &state;
}

int32_t engTime() {
    int64_t seconds = (timerNowMs() - state.startMs) / 1000;
    if (seconds >= ENG_BOOTS_MAX && state.ready) {
        state.startMs += static_cast<int64_t>(ENG_BOOTS_MAX) * 1000;
        seconds -= ENG_BOOTS_MAX;
        if (!raiseBoots())
            state.ready = false; // boots that cannot be kept cannot be trusted
    }
    return static_cast<int32_t>(seconds);
}

int32_t engBoots() {
    return state.boots;
}
