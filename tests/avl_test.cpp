// The AVL tree against std::map, the shapes its rotations leave, and a tree
// broken from outside reported, not followed.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

int compareItem(const void *item, const uint8_t *key, int keyLength) {
    int c = std::string(reinterpret_cast<const char *>(key), static_cast<size_t>(keyLength))
                .compare(static_cast<const Item *>(item)->key);
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

// Shape as "key/balance(left right)", leaves as "key/balance".
std::string shape(const AvlNode *n) {
    if (!n)
        return "-";
    std::string s = static_cast<const Item *>(n->item)->key + "/" + std::to_string(n->balance);
    if (n->link[AVL_LEFT] || n->link[AVL_RIGHT])
        s += "(" + shape(n->link[AVL_LEFT]) + " " + shape(n->link[AVL_RIGHT]) + ")";
    return s;
}

// Every rotation of an insertion, and every rebalancing case of a removal
// (sibling balanced, leaning away, leaning towards; at the root; a node with
// two children), by the shape each leaves.
TEST(AvlShapes, RotationsLeaveTheseShapes) {
    const struct Row {
        std::vector<std::string> keys;
        std::string removed, after;
    } rows[] = {
        {{"1", "2", "3"}, "", "2/0(1/0 3/0)"},
        {{"3", "1", "2"}, "", "2/0(1/0 3/0)"},
        {{"1", "3", "2"}, "", "2/0(1/0 3/0)"},
        {{"5", "3", "8", "2", "4", "1"}, "", "3/0(2/1(1/0 -) 5/0(4/0 8/0))"},
        {{"5", "2", "8", "1", "3", "4"}, "", "3/0(2/1(1/0 -) 5/0(4/0 8/0))"},
        {{"5", "2", "8", "1", "4", "3"}, "", "4/0(2/0(1/0 3/0) 5/2(- 8/0))"},
        {{"2", "1", "3"}, "1", "2/2(- 3/0)"},
        {{"2", "1", "3"}, "2", "3/1(1/0 -)"},
        {{"10", "04", "12", "01", "06", "11", "13", "05", "07"},
         "01",
         "10/1(06/1(04/2(- 05/0) 07/0) 12/0(11/0 13/0))"},
        {{"10", "04", "12", "01", "06", "11", "13", "07"},
         "01",
         "10/0(06/0(04/0 07/0) 12/0(11/0 13/0))"},
        {{"10", "04", "12", "01", "06", "11", "13", "05"},
         "01",
         "10/0(05/0(04/0 06/0) 12/0(11/0 13/0))"},
        {{"2", "1", "3", "4"}, "1", "3/0(2/0 4/0)"},
        {{"20", "10", "30", "05", "15", "25", "40", "27"},
         "20",
         "25/0(10/0(05/0 15/0) 30/0(27/0 40/0))"},
    };
    int saved = logLevel;
    logLevel = 2; // the traces of every step are written, and change nothing
    EventCapture capture;
    for (const Row &r : rows) {
        Tree t;
        for (const std::string &k : r.keys)
            ASSERT_EQ(t.insert(k), 0);
        if (!r.removed.empty()) {
            ASSERT_EQ(t.remove(r.removed), 0);
            EXPECT_EQ(t.find(r.removed), nullptr);
        }
        EXPECT_EQ(shape(t.root()), r.after) << r.keys.size() << " keys, " << r.removed;
    }
    Tree t;
    t.insert("k");
    EXPECT_EQ(t.insert("k"), 1);
    EXPECT_EQ(avlInsert(nullptr, bytes("x"), 1, &t), 1);
    EXPECT_EQ(avlInsert(t.tree, bytes("x"), 1, nullptr), 1);
    EXPECT_EQ(t.remove("x"), 1);
    EXPECT_EQ(avlRemove(nullptr, bytes("k"), 1), 1);
    EXPECT_EQ(avlFind(nullptr, bytes("k"), 1), nullptr);
    EXPECT_EQ(avlNext(nullptr, bytes("k"), 1), nullptr);
    EXPECT_EQ(shape(t.root()), "k/0");
    logLevel = saved;
}

// A tree broken from outside: the missing child is never touched, the
// operation completes and the inconsistency is reported.
TEST(AvlShapes, BrokenBalanceIsReportedNotFollowed) {
    const struct Row {
        const char *op;
        int32_t rootBalance, rightBalance;
        bool dropRight;
        std::string after;
    } rows[] = {
        {"insert", AVL_LEFT, 0, true, "2/1(1/0 -)"},          // leans left with no left child
        {"remove", AVL_RIGHT, 0, true, "2/2"},                // leans right without a right child
        {"remove", AVL_RIGHT, AVL_LEFT, false, "2/2(- 3/1)"}, // a grandchild promised, none
        {"remove", AVL_RIGHT, 7, false, "2/2(- 3/7)"},        // no balance at all
    };
    for (const Row &r : rows) {
        Tree t;
        for (const char *k : {"2", "3", "1"})
            if (std::string(r.op) == "remove" || *k == '2')
                t.insert(k);
        t.root()->balance = r.rootBalance;
        if (AvlNode *right = t.root()->link[AVL_RIGHT]) {
            right->balance = r.rightBalance;
            if (r.dropRight)
                std::free(right), t.root()->link[AVL_RIGHT] = nullptr;
        }
        EventCapture capture;
        EXPECT_EQ(std::string(r.op) == "insert" ? t.insert("1") : t.remove("1"), 0);
        EXPECT_EQ(capture.joined(), std::string("avl") + (r.op[0] == 'i' ? "Insert" : "Remove") +
                                        ": balance inconsistency.\n");
        EXPECT_EQ(shape(t.root()), r.after);
    }
}

// The dump and the verifier's report: every bad node named, children before parents.
TEST(AvlShapes, DumpAndVerifierReport) {
    Tree t;
    for (const char *k : {"B", "A", "C"})
        t.insert(k);
    AvlNode *top = t.root(), *left = top->link[AVL_LEFT], *right = top->link[AVL_RIGHT];
    top->balance = AVL_RIGHT;
    left->balance = AVL_LEFT;
    right->balance = 5;
    EventCapture capture;
    avlPrint(t.tree);
    avlPrint(nullptr);
    EXPECT_EQ(avlVerifyTree(t.tree), 2);
    AvlPath path{};
    avlPathPush(&path, top, AVL_LEFT);
    avlPathPrint(&path);
    std::string expected = "\n(B[right]\n  L:(A[left]\n    L:()\n    R:()\n  )"
                           "\n  R:(C[unknown: 5]\n    L:()\n    R:()\n  )\n)NIL\n";
    char line[64];
    for (const AvlNode *n : {left, right, top})
        expected += (std::snprintf(line, sizeof line, "avlVerify: Node %08" PRIXPTR " bad\n",
                                   reinterpret_cast<uintptr_t>(n)),
                     line);
    std::snprintf(line, sizeof line, "%08" PRIXPTR " 1\n", reinterpret_cast<uintptr_t>(top));
    EXPECT_EQ(capture.joined(), expected + "avlPathPrint: level 1\n" + line);
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
                ASSERT_EQ(t.find(k), it == model.end() ? nullptr : it->second);
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
        std::string key; // everything, in order, through next
        size_t seen = 0;
        for (const Item *i = t.next(""); i; i = t.next(key), ++seen) {
            ASSERT_LT(seen, model.size());
            key = i->key;
        }
        EXPECT_EQ(seen, model.size());
    }
}

} // namespace
