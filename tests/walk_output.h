// Readers of the two walkers' outputs, for tests that hold mibwalk against
// net-snmp's snmpwalk: mibwalk's "Name: N Kind: K Value: V " lines and
// snmpwalk -On's ".N = TYPE: value" entries.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace walkout {

struct Entry {
    std::string name; // dotted, no leading dot
    std::string kind; // mibwalk's kind names
    std::string value;
};

// mibwalk's binding lines; other lines (End of MIB, blank lines) are skipped.
inline std::vector<Entry> parseMibwalk(const std::string &out) {
    std::vector<Entry> entries;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t k = line.find("Kind: ");
        size_t v = line.find(" Value: ");
        if (k == std::string::npos || v == std::string::npos || v < k)
            continue;
        Entry e;
        if (line.rfind("Name: ", 0) == 0 && k >= 7)
            e.name = line.substr(6, k - 7);
        e.kind = line.substr(k + 6, v - (k + 6));
        e.value = line.substr(v + 8);
        if (!e.value.empty() && e.value.back() == ' ')
            e.value.pop_back();
        entries.push_back(e);
    }
    return entries;
}

// snmpwalk -On entries; a value that spans lines keeps its line ends. The
// kind is translated to mibwalk's names; value is the text after "TYPE: ".
struct SnmpEntry {
    std::string name;
    std::string type; // net-snmp's type word ("STRING", "Hex-STRING", ...)
    std::string kind;
    std::string value;
};

inline std::string kindOf(const std::string &type) {
    static const std::map<std::string, std::string> kinds = {
        {"INTEGER", "Integer"},   {"STRING", "OctetString"}, {"Hex-STRING", "OctetString"},
        {"\"\"", "OctetString"},  {"OID", "ObjectId"},       {"Timeticks", "TimeTicks"},
        {"Counter32", "Counter"}, {"Gauge32", "Gauge"},      {"IpAddress", "IpAddress"},
        {"Opaque", "Opaque"},     {"NULL", "Null"},          {"Network Address", "IpAddress"},
    };
    auto it = kinds.find(type);
    return it == kinds.end() ? "?" + type : it->second;
}

inline std::vector<SnmpEntry> parseSnmpwalk(const std::string &out, bool *endOfMib = nullptr) {
    std::vector<SnmpEntry> entries;
    std::istringstream in(out);
    std::string line;
    if (endOfMib)
        *endOfMib = false;
    while (std::getline(in, line)) {
        if (line.rfind("End of MIB", 0) == 0) {
            if (endOfMib)
                *endOfMib = true;
            continue;
        }
        size_t eq = line.find(" = ");
        if (line.rfind(".", 0) != 0 || eq == std::string::npos) {
            if (!entries.empty())
                entries.back().value += "\n" + line;
            continue;
        }
        SnmpEntry e;
        e.name = line.substr(1, eq - 1);
        std::string rest = line.substr(eq + 3);
        if (rest == "\"\"") {
            e.type = "\"\"";
        } else {
            size_t colon = rest.find(": ");
            e.type = colon == std::string::npos ? rest : rest.substr(0, colon);
            e.value = colon == std::string::npos ? "" : rest.substr(colon + 2);
        }
        e.kind = kindOf(e.type);
        entries.push_back(e);
    }
    return entries;
}

// The octets of a Hex-STRING value ("80 00 1F ..." over one or more lines).
inline std::string hexOctets(const std::string &hex) {
    std::string out;
    std::istringstream in(hex);
    std::string byte;
    while (in >> byte)
        out.push_back(static_cast<char>(std::stoi(byte, nullptr, 16)));
    return out;
}

// The octets of a STRING value: "text" with \" and \\ escaped.
inline std::string quotedOctets(const std::string &q) {
    std::string out;
    if (q.size() < 2)
        return out;
    for (size_t i = 1; i + 1 < q.size(); ++i) {
        if (q[i] == '\\' && i + 2 < q.size())
            ++i;
        out.push_back(q[i]);
    }
    return out;
}

// Octets as mibwalk shows them: quoted, printable octets as they are, every
// other one as a backslash and its octal value.
inline std::string mibwalkText(const std::string &octets) {
    std::string out = "\"";
    for (unsigned char c : octets) {
        if (c >= 0x20 && c <= 0x7E) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\%o", c);
            out += buf;
        }
    }
    return out + "\"";
}

// snmpwalk's value in mibwalk's text, for the kinds whose texts are
// comparable; empty when there is none to compare.
inline std::string asMibwalkValue(const SnmpEntry &e) {
    if (e.type == "Hex-STRING")
        return mibwalkText(hexOctets(e.value));
    if (e.type == "STRING")
        return mibwalkText(quotedOctets(e.value));
    if (e.type == "\"\"")
        return "\"\"";
    if (e.type == "OID")
        return e.value.rfind(".", 0) == 0 ? e.value.substr(1) : e.value;
    if (e.type == "Timeticks") { // "(123) 0:00:01.23"
        size_t close = e.value.find(')');
        return e.value.size() > 1 && close != std::string::npos ? e.value.substr(1, close - 1) : "";
    }
    if (e.type == "INTEGER" || e.type == "Counter32" || e.type == "Gauge32" ||
        e.type == "IpAddress")
        return e.value;
    return "";
}

// True when a is greater than b in object-identifier order.
inline bool oidGreater(const std::string &a, const std::string &b) {
    auto arcs = [](const std::string &s) {
        std::vector<unsigned long> v;
        std::istringstream in(s);
        std::string part;
        while (std::getline(in, part, '.'))
            v.push_back(std::stoul(part));
        return v;
    };
    return arcs(a) > arcs(b);
}

inline bool under(const std::string &name, const std::string &prefix) {
    return name == prefix || name.rfind(prefix + ".", 0) == 0;
}

} // namespace walkout
