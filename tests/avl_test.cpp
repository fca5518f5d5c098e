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

// Every rebalancing step of a removal, in order: which case the walk takes,
// and whether it goes on upwards ("bal =" for the node above) or stops.
TEST(AvlRemove, StepsStopOrContinueAsTheSiblingLeans) {
    struct Case {
        std::vector<std::string> keys;
        std::string removed, before;
        std::vector<std::string> steps;
        std::string after;
    } cases[] = {
        {{"2", "1", "3"},
         "1",
         "2/0(1/0 3/0)",
         {"bal = 0, dir = 1.", "bal == balanced."},
         "2/2(- 3/0)"},
        // Balanced sibling: the height is kept, nothing above is visited.
        {{"10", "04", "12", "01", "06", "11", "13", "05", "07"},
         "01",
         "10/1(04/2(01/0 06/0(05/0 07/0)) 12/0(11/0 13/0))",
         {"bal = 2, dir = 1.", "Rebalance: case 3."},
         "10/1(06/1(04/2(- 05/0) 07/0) 12/0(11/0 13/0))"},
        // Sibling leaning away: single rotation, lower, so on to the root.
        {{"10", "04", "12", "01", "06", "11", "13", "07"},
         "01",
         "10/1(04/2(01/0 06/2(- 07/0)) 12/0(11/0 13/0))",
         {"bal = 2, dir = 1.", "Rebalance: case 1.", "bal = 1, dir = 1.", "bal == dir."},
         "10/0(06/0(04/0 07/0) 12/0(11/0 13/0))"},
        // Sibling leaning towards the removal: double rotation, then upwards.
        {{"10", "04", "12", "01", "06", "11", "13", "05"},
         "01",
         "10/1(04/2(01/0 06/1(05/0 -)) 12/0(11/0 13/0))",
         {"bal = 2, dir = 1.", "Rebalance: case 2.", "bal = 1, dir = 1.", "bal == dir."},
         "10/0(05/0(04/0 06/0) 12/0(11/0 13/0))"},
        // A rotation at the root stores the new root in the head.
        {{"2", "1", "3", "4"},
         "1",
         "2/2(1/0 3/2(- 4/0))",
         {"bal = 2, dir = 1.", "Rebalance: case 1."},
         "3/0(2/0 4/0)"},
        // Two children: the successor's item moves up and its parent is the
        // first node walked.
        {{"20", "10", "30", "05", "15", "25", "40", "27"},
         "20",
         "20/2(10/0(05/0 15/0) 30/1(25/2(- 27/0) 40/0))",
         {"bal = 1, dir = 1.", "bal == dir.", "bal = 2, dir = 2.", "bal == dir."},
         "25/0(10/0(05/0 15/0) 30/0(27/0 40/0))"},
    };
    for (const Case &c : cases) {
        Tree t;
        for (const std::string &k : c.keys)
            ASSERT_EQ(t.insert(k), 0);
        ASSERT_EQ(shape(t.root()), c.before);
        Traced traced;
        ASSERT_EQ(t.remove(c.removed), 0);
        // The steps without the dump that the entry trace writes.
        std::vector<std::string> steps;
        for (const std::string &m : traced.capture.messages)
            if (m.rfind("avlRemove: ", 0) == 0)
                steps.push_back(m.substr(11, m.size() - 12));
        std::vector<std::string> expected = c.steps;
        expected.push_back("Ok.");
        EXPECT_EQ(steps, expected) << c.before;
        EXPECT_EQ(shape(t.root()), c.after) << c.before;
        EXPECT_EQ(t.find(c.removed), nullptr);
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

// The sibling is there but promises a grandchild it lacks, or has no
// balance at all: the same report and stop.
TEST(AvlRemove, BrokenSiblingIsReportedNotFollowed) {
    struct Case {
        int32_t siblingBalance;
        const char *after;
    } cases[] = {{AVL_LEFT, "2/2(- 3/1)"}, {7, "2/2(- 3/7)"}};
    for (const Case &c : cases) {
        Tree t;
        for (const char *k : {"2", "1", "3"})
            t.insert(k);
        t.root()->balance = AVL_RIGHT;
        t.root()->link[AVL_RIGHT]->balance = c.siblingBalance;
        int saved = logLevel;
        logLevel = 0;
        EventCapture capture;
        EXPECT_EQ(t.remove("1"), 0);
        logLevel = saved;
        EXPECT_EQ(capture.messages,
                  std::vector<std::string>{"avlRemove: balance inconsistency.\n"});
        EXPECT_EQ(shape(t.root()), c.after);
        EXPECT_EQ(t.find("1"), nullptr);
    }
}

// A root leaning towards an empty side: the new node lands there and the
// walk stops before looking for a grandchild the path does not hold.
TEST(AvlInsert, BrokenBalanceIsReportedNotFollowed) {
    Tree t;
    t.insert("2");
    t.root()->balance = AVL_LEFT;
    int saved = logLevel;
    logLevel = 0;
    EventCapture capture;
    EXPECT_EQ(t.insert("1"), 0);
    logLevel = saved;
    EXPECT_EQ(capture.messages, std::vector<std::string>{"avlInsert: balance inconsistency.\n"});
    EXPECT_EQ(shape(t.root()), "2/1(1/0 -)");
    ASSERT_NE(t.find("1"), nullptr);
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

TEST(AvlInsert, LevelTwoTraceDumpsTheTreeFirst) {
    Tree t;
    t.insert("A");
    Traced traced;
    ASSERT_EQ(t.insert("B"), 0);
    EXPECT_EQ(traced.capture.joined(), "avlInsert.\n"
                                       "\n(A[balanced]\n  L:()\n  R:()\n)"
                                       "\n"
                                       "avlInsert: Ok.\n");
}

// Refusals report only from level 2 on; below it they are silent.
TEST(AvlTrace, RefusalsAreSilentBelowLevelTwo) {
    Tree t;
    t.insert("k");
    Item other{"k"};
    int saved = logLevel;
    logLevel = 1;
    EventCapture capture;
    EXPECT_EQ(avlInsert(t.tree, bytes("k"), 1, &other), 1);
    EXPECT_EQ(avlInsert(nullptr, bytes("x"), 1, &other), 1);
    EXPECT_EQ(avlInsert(t.tree, bytes("x"), 1, nullptr), 1);
    EXPECT_EQ(avlRemove(nullptr, bytes("k"), 1), 1);
    EXPECT_EQ(avlRemove(t.tree, bytes("x"), 1), 1);
    logLevel = saved;
    EXPECT_TRUE(capture.messages.empty()) << capture.joined();
    EXPECT_EQ(t.find("k"), t.items.front().get());
}

std::string hex(const void *p) {
    char text[32];
    std::snprintf(text, sizeof text, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(p));
    return text;
}

TEST(AvlVerify, ReportsEveryBadNodeAndKeepsTheHeight) {
    Tree t;
    for (const char *k : {"20", "10", "30", "05"})
        t.insert(k);
    AvlNode *top = t.root();
    AvlNode *left = top->link[AVL_LEFT];
    AvlNode *right = top->link[AVL_RIGHT];
    ASSERT_EQ(shape(top), "20/1(10/1(05/0 -) 30/0)");
    struct Case {
        void (*breakIt)(AvlNode *top);
        std::vector<const AvlNode *> bad;
    } cases[] = {
        {[](AvlNode *) {}, {}},
        {[](AvlNode *r) { r->balance = AVL_BALANCED; }, {top}},
        {[](AvlNode *r) { r->link[AVL_LEFT]->balance = AVL_RIGHT; }, {left}},
        {[](AvlNode *r) {
             r->balance = AVL_RIGHT;
             r->link[AVL_LEFT]->balance = AVL_BALANCED;
         },
         {left, top}}, // children before parents
        // Without its right side the root is two higher on the left.
        {[](AvlNode *r) { r->link[AVL_RIGHT] = nullptr; }, {top}},
    };
    for (const Case &c : cases) {
        c.breakIt(top);
        EventCapture capture;
        EXPECT_EQ(avlVerifyTree(t.tree), 3);
        std::string expected;
        for (const AvlNode *n : c.bad)
            expected += "avlVerify: Node " + hex(n) + " bad\n";
        EXPECT_EQ(capture.joined(), expected);
        top->balance = AVL_LEFT;
        left->balance = AVL_LEFT;
        top->link[AVL_RIGHT] = right;
    }
}

TEST(AvlPrint, BalanceWordsAndNoPrintFunction) {
    Item a{"A"};
    AvlNode *node = avlAllocNode(&a);
    ASSERT_NE(node, nullptr);
    struct Case {
        int32_t balance;
        AvlPrintFn print;
        const char *text;
    } cases[] = {
        {AVL_BALANCED, printItem, "A[balanced]"}, {AVL_LEFT, printItem, "A[left]"},
        {AVL_RIGHT, printItem, "A[right]"},       {-3, printItem, "A[unknown: -3]"},
        {AVL_BALANCED, nullptr, "[balanced]"},
    };
    for (const Case &c : cases) {
        node->balance = c.balance;
        EventCapture capture;
        avlPrintNode(node, c.print, "R:", 1);
        EXPECT_EQ(capture.joined(), std::string("\n  R:(") + c.text + "\n    L:()\n    R:()\n  )");
    }
    std::free(node);
}

// avlSuccessor leaves the path at the successor's parent entry.
TEST(AvlLookup, SuccessorPath) {
    Tree t;
    for (const char *k : {"20", "10", "30", "25"})
        t.insert(k);
    struct Case {
        const char *key, *next;
        int level;
    } cases[] = {{"25", "30", 1}, {"20", "25", 2}, {"10", "20", 0}, {"30", nullptr, 0}};
    for (const Case &c : cases) {
        AvlPath path{};
        AvlNode *found = avlSearch(t.root(), bytes(c.key), 2, &path, compareItem);
        ASSERT_NE(found, nullptr);
        AvlNode *next = avlSuccessor(found, &path);
        EXPECT_EQ(keyOf(next), c.next ? c.next : "-") << c.key;
        EXPECT_EQ(path.level, c.level) << c.key;
    }
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
