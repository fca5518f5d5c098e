// What the readers of the system's tables share: rows collected in index
// order under a bound on their number, and hardware addresses read from text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// order(row) is a pair: the row's index, then what decides between rows of
// one index (the least is kept). Sorts rows by it, keeps one row per index
// and cuts the rows beyond max: those left out are the last in index order.
template <typename Row, typename Order>
void sysSortRows(std::vector<Row> *rows, size_t max, Order order) {
    std::sort(rows->begin(), rows->end(),
              [&](const Row &a, const Row &b) { return order(a) < order(b); });
    auto end = std::unique(rows->begin(), rows->end(), [&](const Row &a, const Row &b) {
        return order(a).first == order(b).first;
    });
    if (static_cast<size_t>(end - rows->begin()) > max)
        end = rows->begin() + static_cast<std::ptrdiff_t>(max);
    rows->erase(end, rows->end());
}

// Adds row; rows that reach twice max are sorted and cut to max first, so a
// source of any size holds at most that many in memory, and what it loses
// is only ever its last rows in index order.
template <typename Row, typename Order>
void sysAddRow(std::vector<Row> *rows, size_t max, const Row &row, Order order) {
    if (rows->size() >= 2 * max)
        sysSortRows(rows, max, order);
    rows->push_back(row);
}

// "aa:bb:cc:dd:ee:ff" (or eight octets) into phys; the number of octets, 0
// when the text is neither.
inline int sysParsePhys(const char *text, uint8_t (&phys)[8]) {
    int n = 0;
    for (const char *p = text; n < 8; p += 1) {
        char *end = nullptr;
        unsigned long v = strtoul(p, &end, 16);
        if (end == p || v > 0xFF)
            return 0;
        phys[n++] = static_cast<uint8_t>(v);
        p = end;
        if (*p != ':')
            break;
    }
    return n == 6 || n == 8 ? n : 0;
}
