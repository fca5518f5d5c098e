#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "agent/avl.h"
#include "platform/log.h"
#include "support.h"

namespace {

using testing_support::EventCapture;

// Items are their own keys: byte strings, shorter first on a common prefix.
struct Item {
    std::string key;
};

int compareBytes(const uint8_t *a, int na, const uint8_t *b, int nb) {
    int c = std::memcmp(a, b, static_cast<size_t>(na < nb ? na : nb));
    if (c == 0)
        c = na - nb;
    return c;
}

int compareItem(const void *item, const uint8_t *key, int keyLength) {
    const std::string &own = static_cast<const Item *>(item)->key;
    int c = compareBytes(key, keyLength, reinterpret_cast<const uint8_t *>(own.data()),
                         static_cast<int>(own.size()));
    return c == 0 ? 0 : (c < 0 ? AVL_LEFT : AVL_RIGHT);
}

void printItem(const void *item) {
    logPrintf("%s", static_cast<const Item *>(item)->key.c_str());
}

const uint8_t *bytes(const std::string &s) {
    return reinterpret_cast<const uint8_t *>(s.data());
}
int size(const std::string &s) {
    return static_cast<int>(s.size());
}

struct Tree {
    AvlTree *tree = avlNew(compareItem, printItem);
    std::vector<std::unique_ptr<Item>> items;
    ~Tree() { avlFree(tree); }
    int insert(const std::string &key) {
        items.push_back(std::make_unique<Item>(Item{key}));
        return avlInsert(tree, bytes(key), size(key), items.back().get());
    }
    int remove(const std::string &key) { return avlRemove(tree, bytes(key), size(key)); }
    const Item *find(const std::string &key) {
        return static_cast<const Item *>(avlFind(tree, bytes(key), size(key)));
    }
    const Item *next(const std::string &key) {
        return static_cast<const Item *>(avlNext(tree, bytes(key), size(key)));
    }
    AvlNode *root() { return tree->link[AVL_RIGHT]; }
};

std::string keyOf(const AvlNode *node) {
    return node ? static_cast<const Item *>(node->item)->key : "-";
}

// Shape as "key/balance(left right)", leaves as "key/balance".
std::string shape(const AvlNode *n) {
    if (!n)
        return "-";
    std::string s = keyOf(n) + "/" + std::to_string(n->balance);
    if (n->link[AVL_LEFT] || n->link[AVL_RIGHT])
        s += "(" + shape(n->link[AVL_LEFT]) + " " + shape(n->link[AVL_RIGHT]) + ")";
    return s;
}

struct Traced {
    int saved = logLevel;
    EventCapture capture;
    Traced() { logLevel = 2; }
    ~Traced() { logLevel = saved; }
    bool saw(const std::string &line) const {
        for (const std::string &m : capture.messages)
            if (m == line)
                return true;
        return false;
    }
};

TEST(AvlInsert, RotationsBalanceTheTree) {
    struct Case {
        std::vector<std::string> keys;
        std::string expected;
    } cases[] = {
        {{"1", "2", "3"}, "2/0(1/0 3/0)"}, // single rotation at the root
        {{"3", "1", "2"}, "2/0(1/0 3/0)"}, // double rotation, f = 0
        {{"1", "3", "2"}, "2/0(1/0 3/0)"}, // its mirror
        {{"5", "3", "8", "2", "4", "1"}, "3/0(2/1(1/0 -) 5/0(4/0 8/0))"},
        {{"5", "2", "8", "1", "3", "4"}, "3/0(2/1(1/0 -) 5/0(4/0 8/0))"}, // double, f = e
        {{"5", "2", "8", "1", "4", "3"}, "4/0(2/0(1/0 3/0) 5/2(- 8/0))"}, // double, f = d
    };
    for (const Case &c : cases) {
        Tree t;
        for (const std::string &k : c.keys)
            ASSERT_EQ(t.insert(k), 0);
        EXPECT_EQ(shape(t.root()), c.expected);
        Traced traced;
        EXPECT_EQ(avlVerifyTree(t.tree), c.keys.size() == 3 ? 2 : 3);
        EXPECT_TRUE(traced.capture.messages.empty());
    }
}

TEST(AvlInsert, RefusesDuplicatesAndMissingArguments) {
    Tree t;
    ASSERT_EQ(t.insert("k"), 0);
    const Item *first = t.find("k");
    Traced traced;
    EXPECT_EQ(t.insert("k"), 1);
    EXPECT_EQ(t.find("k"), first);
    EXPECT_TRUE(traced.saw("avlInsert: exists already.\n"));
    EXPECT_EQ(avlInsert(nullptr, bytes("x"), 1, &t), 1);
    EXPECT_TRUE(traced.saw("avlInsert: head is null.\n"));
    EXPECT_EQ(avlInsert(t.tree, bytes("x"), 1, nullptr), 1);
    EXPECT_TRUE(traced.saw("avlInsert: info is null.\n"));
    EXPECT_EQ(t.find("x"), nullptr);
}

TEST(AvlLookup, FindAndNextFollowTheOrder) {
    Tree t;
    for (const char *k : {"b", "d", "f", "h"})
        t.insert(k);
    struct Case {
        std::string key;
        const char *found, *next;
    } cases[] = {
        {"a", nullptr, "b"}, {"b", "b", "d"},     {"c", nullptr, "d"},
        {"f", "f", "h"},     {"h", "h", nullptr}, {"z", nullptr, nullptr},
    };
    for (const Case &c : cases) {
        const Item *f = t.find(c.key), *n = t.next(c.key);
        EXPECT_EQ(f ? f->key : std::string("none"), c.found ? c.found : "none") << c.key;
        EXPECT_EQ(n ? n->key : std::string("none"), c.next ? c.next : "none") << c.key;
    }
    EXPECT_EQ(avlFind(nullptr, bytes("b"), 1), nullptr);
    EXPECT_EQ(avlNext(nullptr, bytes("b"), 1), nullptr);
}

TEST(AvlRemove, RootOfThreeTakesTheSuccessorsItem) {
    Tree t;
    for (const char *k : {"1", "2", "3"})
        t.insert(k);
    AvlNode *root = t.root();
    ASSERT_EQ(t.remove("2"), 0);
    EXPECT_EQ(t.root(), root) << "the root node stays, with the successor's item";
    EXPECT_EQ(shape(t.root()), "3/1(1/0 -)");
    EXPECT_EQ(t.remove("2"), 1);
    EXPECT_EQ(avlRemove(nullptr, bytes("1"), 1), 1);
}

// Which rebalancing case a removal takes below the root, and whether the walk
// then goes on to the root ("bal =" traced for it) or stops.
TEST(AvlRemove, CasesStopOrContinueAsTheSiblingLeans) {
    struct Case {
        std::vector<std::string> keys;
        std::string line, expected;
        bool continues;
    } cases[] = {
        {{"8", "3", "A", "2", "5", "9", "B", "6"},
         "avlRemove: Rebalance: case 1.\n",
         "8/0(5/0(3/0 6/0) A/0(9/0 B/0))",
         true},
        {{"8", "3", "A", "2", "5", "9", "B", "4"},
         "avlRemove: Rebalance: case 2.\n",
         "8/0(4/0(3/0 5/0) A/0(9/0 B/0))",
         true},
        {{"8", "3", "A", "2", "5", "9", "B", "4", "6"},
         "avlRemove: Rebalance: case 3.\n",
         "8/1(5/1(3/2(- 4/0) 6/0) A/0(9/0 B/0))",
         false},
    };
    for (const Case &c : cases) {
        Tree t;
        for (const std::string &k : c.keys)
            t.insert(k);
        Traced traced;
        ASSERT_EQ(t.remove("2"), 0);
        const auto &m = traced.capture.messages;
        auto at = std::find(m.begin(), m.end(), c.line);
        ASSERT_NE(at, m.end()) << c.line;
        bool rootVisited =
            std::find(at, m.end(), std::string("avlRemove: bal = 1, dir = 1.\n")) != m.end();
        EXPECT_EQ(rootVisited, c.continues) << c.line;
        EXPECT_EQ(shape(t.root()), c.expected);
        EXPECT_EQ(m.back(), "avlRemove: Ok.\n");
    }
}

// A tree broken from outside: the missing child is never touched and the
// removal still answers 0, its node being unlinked already.
TEST(AvlRemove, BrokenBalanceIsReportedNotFollowed) {
    Tree t;
    for (const char *k : {"2", "1", "3"})
        t.insert(k);
    t.root()->balance = AVL_RIGHT;
    std::free(t.root()->link[AVL_RIGHT]);
    t.root()->link[AVL_RIGHT] = nullptr; // leans right without a right child
    int saved = logLevel;
    logLevel = 0;
    EventCapture capture;
    EXPECT_EQ(t.remove("1"), 0);
    logLevel = saved;
    EXPECT_EQ(capture.messages, std::vector<std::string>{"avlRemove: balance inconsistency.\n"});
    EXPECT_EQ(shape(t.root()), "2/2");
}

// The root prints A and its leaves B and C.
void printLetter(const void *item) {
    logPrintf("%c", "BAC"[static_cast<const Item *>(item)->key[0] - '1']);
}

TEST(AvlPrint, NodeDumpLayout) {
    Tree t;
    for (const char *k : {"2", "1", "3"})
        t.insert(k);
    EventCapture capture;
    avlPrintNode(t.root(), printLetter, "", 0);
    std::string all = capture.joined();
    EXPECT_EQ(all, "\n(A[balanced]"
                   "\n  L:(B[balanced]\n    L:()\n    R:()\n  )"
                   "\n  R:(C[balanced]\n    L:()\n    R:()\n  )"
                   "\n)")
        << all;
}

TEST(AvlPrint, TreeOfNoneAndPath) {
    EventCapture capture;
    avlPrint(nullptr);
    AvlPath path{};
    AvlNode node{};
    avlPathPush(&path, &node, AVL_LEFT);
    avlPathPrint(&path);
    avlPathPrint(nullptr);
    ASSERT_EQ(capture.messages.size(), 3u);
    EXPECT_EQ(capture.messages[0], "NIL\n");
    EXPECT_EQ(capture.messages[1], "avlPathPrint: level 1\n");
    char expected[64];
    std::snprintf(expected, sizeof expected, "%08" PRIXPTR " 1\n",
                  reinterpret_cast<uintptr_t>(&node));
    EXPECT_EQ(capture.messages[2], expected);
}

// Random inserts, finds, nexts and removes against std::map, the tree
// checked after every step: no bad node, height within the AVL bound.
TEST(AvlModel, AgreesWithStdMap) {
    for (unsigned seed : {11u, 22u, 33u}) {
        std::mt19937 rng(seed);
        Tree t;
        std::map<std::string, const Item *> model;
        int twoChildRemovals = 0;
        EventCapture capture; // avlVerify's reports
        // Short keys of one to three letters: prefixes, and many collisions.
        auto randomKey = [&rng] {
            std::string k;
            for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n)
                k += static_cast<char>('a' + rng() % 13);
            return k;
        };
        for (int step = 0; step < 100000; ++step) {
            std::string k = randomKey();
            switch (rng() % 4) {
            case 0: {
                int r = t.insert(k);
                ASSERT_EQ(r, model.count(k) ? 1 : 0);
                if (r == 0)
                    model[k] = t.items.back().get();
                break;
            }
            case 1: {
                AvlPath path{};
                AvlNode *n = avlSearch(t.root(), bytes(k), size(k), &path, compareItem);
                twoChildRemovals += n && n->link[AVL_LEFT] && n->link[AVL_RIGHT] && path.level > 2;
                ASSERT_EQ(t.remove(k), model.erase(k) ? 0 : 1);
                break;
            }
            case 2: {
                auto it = model.find(k);
                const Item *found = t.find(k);
                ASSERT_EQ(found, it == model.end() ? nullptr : it->second);
                break;
            }
            default: {
                auto it = model.upper_bound(k);
                ASSERT_EQ(t.next(k), it == model.end() ? nullptr : it->second) << k;
            }
            }
            int height = avlVerifyTree(t.tree);
            ASSERT_TRUE(capture.messages.empty()) << "seed " << seed << " step " << step;
            ASSERT_LE(height, 1.44 * std::log2(model.size() + 2.0));
        }
        EXPECT_GT(model.size(), 500u);
        EXPECT_GT(twoChildRemovals, 1000) << "removals of inner nodes with two children";
        // Everything, in order, through next.
        std::string key;
        size_t seen = 0;
        for (const Item *i = t.next(""); i; i = t.next(key), ++seen) {
            ASSERT_LT(seen, model.size());
            key = i->key;
        }
        EXPECT_EQ(seen, model.size());
    }
}

} // namespace
