// A reader of mibwalk's "Name: N Kind: K Value: V " lines, for the tests that
// walk real agents; other lines (End of MIB, empty lines) are skipped.
#pragma once

#include "tests/support.h"

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace walkout {

struct Entry {
    std::string name, kind, value;
};

inline std::vector<Entry> parseMibwalk(const std::string &out) {
    static const std::regex binding("^(?:Name: (\\S*) )?Kind: (\\S+) Value: (.*) $");
    std::vector<Entry> entries;
    std::istringstream in(out);
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, binding))
            entries.push_back({m[1], m[2], m[3]});
    return entries;
}

// True when dotted name a comes after b in object-identifier order.
inline bool oidGreater(const std::string &a, const std::string &b) {
    auto arcs = [](std::istringstream in) {
        std::vector<unsigned long> v;
        for (std::string arc; std::getline(in, arc, '.');)
            v.push_back(std::stoul(arc));
        return v;
    };
    return arcs(std::istringstream(a)) > arcs(std::istringstream(b));
}

// mibwalk -Oj outputs read by tests/json_lines.py (one run, as Python starts
// slowly): for each, "oid hex" per binding, or why they are no such output.
inline std::vector<std::string> jsonBindings(const std::vector<std::string> &outs) {
    testing_support::TempDir dir;
    std::vector<std::string> argv{"python3", std::string(SOURCE_DIR) + "/tests/json_lines.py"};
    for (size_t i = 0; i < outs.size(); ++i) {
        argv.push_back(dir.file(std::to_string(i)));
        testing_support::writeFile(argv.back(), outs[i]);
    }
    auto r = testing_support::runProcess(argv);
    std::vector<std::string> each(outs.size(), "not JSON lines: " + r.err);
    for (size_t i = 0, at = 0, end; r.status == 0 && i < outs.size(); ++i, at = end + 3)
        each[i] = r.out.substr(at, (end = r.out.find("--\n", at)) - at);
    return each;
}

} // namespace walkout
