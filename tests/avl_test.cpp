// The AVL tree against std::map, the shapes its rotations leave, and a tree
// broken from outside reported, not followed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "agent/avl.h"
#include "platform/log.h"
#include "support.h"

namespace {

using testing_support::EventCapture;
using Item = std::string; // items are their own keys, shorter first on a common prefix

int compareItem(const void *item, const uint8_t *key, int keyLength) {
    int c = std::string(reinterpret_cast<const char *>(key), static_cast<size_t>(keyLength))
                .compare(*static_cast<const Item *>(item));
    return c == 0 ? 0 : (c < 0 ? AVL_LEFT : AVL_RIGHT);
}
void printItem(const void *item) {
    logPrintf("%s", static_cast<const Item *>(item)->c_str());
}
const uint8_t *bytes(const std::string &s) {
    return reinterpret_cast<const uint8_t *>(s.data());
}

struct Tree {
    AvlTree *tree = avlNew(compareItem, printItem);
    std::vector<std::unique_ptr<Item>> items;
    ~Tree() { avlFree(tree); }
    int insert(const std::string &key) {
        items.push_back(std::make_unique<Item>(key));
        return avlInsert(tree, bytes(key), static_cast<int>(key.size()), items.back().get());
    }
    int remove(const std::string &k) {
        return avlRemove(tree, bytes(k), static_cast<int>(k.size()));
    }
    const void *find(const std::string &k) {
        return avlFind(tree, bytes(k), static_cast<int>(k.size()));
    }
    const void *next(const std::string &k) {
        return avlNext(tree, bytes(k), static_cast<int>(k.size()));
    }
    AvlNode *root() { return tree->link[AVL_RIGHT]; }
};

// Shape as "key/balance(left right)", leaves as "key/balance".
std::string shape(const AvlNode *n) {
    if (!n)
        return "-";
    std::string s = *static_cast<const Item *>(n->item) + "/" + std::to_string(n->balance);
    if (n->link[AVL_LEFT] || n->link[AVL_RIGHT])
        s += "(" + shape(n->link[AVL_LEFT]) + " " + shape(n->link[AVL_RIGHT]) + ")";
    return s;
}

// Every rotation of an insertion, and every rebalancing case of a removal
// (sibling balanced, leaning away, leaning towards; at the root; a node with
// two children), by the shape each leaves; with every step's trace written.
TEST(AvlShapes, RotationsLeaveTheseShapes) {
    const struct Row {
        std::string keys, removed, after;
    } rows[] = {
        {"1 2 3", "", "2/0(1/0 3/0)"},
        {"3 1 2", "", "2/0(1/0 3/0)"},
        {"1 3 2", "", "2/0(1/0 3/0)"},
        {"5 3 8 2 4 1", "", "3/0(2/1(1/0 -) 5/0(4/0 8/0))"},
        {"5 2 8 1 3 4", "", "3/0(2/1(1/0 -) 5/0(4/0 8/0))"},
        {"5 2 8 1 4 3", "", "4/0(2/0(1/0 3/0) 5/2(- 8/0))"},
        {"2 1 3", "1", "2/2(- 3/0)"},
        {"2 1 3", "2", "3/1(1/0 -)"},
        {"10 04 12 01 06 11 13 05 07", "01", "10/1(06/1(04/2(- 05/0) 07/0) 12/0(11/0 13/0))"},
        {"10 04 12 01 06 11 13 07", "01", "10/0(06/0(04/0 07/0) 12/0(11/0 13/0))"},
        {"10 04 12 01 06 11 13 05", "01", "10/0(05/0(04/0 06/0) 12/0(11/0 13/0))"},
        {"2 1 3 4", "1", "3/0(2/0 4/0)"},
        {"20 10 30 05 15 25 40 27", "20", "25/0(10/0(05/0 15/0) 30/0(27/0 40/0))"},
    };
    int saved = logLevel;
    logLevel = 2; // the traces of every step are written, and change nothing
    EventCapture capture;
    for (const Row &r : rows) {
        Tree t;
        std::istringstream keys(r.keys);
        for (std::string k; keys >> k;)
            ASSERT_EQ(t.insert(k), 0);
        if (!r.removed.empty()) {
            ASSERT_EQ(t.remove(r.removed), 0);
            EXPECT_EQ(t.find(r.removed), nullptr);
        }
        EXPECT_EQ(shape(t.root()), r.after) << r.keys << " less " << r.removed;
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
// operation completes and the inconsistency is reported; the verifier names
// every bad node.
TEST(AvlShapes, BrokenBalanceIsReportedNotFollowed) {
    const struct Row {
        char op; // insert or remove "1"
        int32_t rootBalance, rightBalance;
        bool dropRight;
        std::string after;
    } rows[] = {
        {'i', AVL_LEFT, 0, true, "2/1(1/0 -)"},          // leans left with no left child
        {'r', AVL_RIGHT, 0, true, "2/2"},                // leans right without a right child
        {'r', AVL_RIGHT, AVL_LEFT, false, "2/2(- 3/1)"}, // a grandchild promised, none
        {'r', AVL_RIGHT, 7, false, "2/2(- 3/7)"},        // no balance at all
    };
    for (const Row &r : rows) {
        Tree t;
        for (const char *k : {"2", "3", "1"})
            if (r.op == 'r' || *k == '2')
                t.insert(k);
        t.root()->balance = r.rootBalance;
        if (AvlNode *right = t.root()->link[AVL_RIGHT]) {
            right->balance = r.rightBalance;
            if (r.dropRight)
                std::free(right), t.root()->link[AVL_RIGHT] = nullptr;
        }
        EventCapture capture;
        EXPECT_EQ(r.op == 'i' ? t.insert("1") : t.remove("1"), 0);
        EXPECT_EQ(capture.joined(), std::string("avl") + (r.op == 'i' ? "Insert" : "Remove") +
                                        ": balance inconsistency.\n");
        EXPECT_EQ(shape(t.root()), r.after);
    }
    Tree t;
    for (const char *k : {"B", "A", "C"})
        t.insert(k);
    t.root()->balance = AVL_RIGHT;
    t.root()->link[AVL_LEFT]->balance = AVL_LEFT;
    EventCapture capture;
    avlPrint(t.tree);
    avlPrint(nullptr);
    EXPECT_EQ(avlVerifyTree(t.tree), 2);
    AvlPath path{};
    avlPathPush(&path, t.root(), AVL_LEFT);
    avlPathPrint(&path);
    std::string all = capture.joined();
    EXPECT_EQ(all.rfind("\n(B[right]\n  L:(A[left]\n    L:()\n    R:()\n  )", 0), 0u) << all;
    size_t bad = 0;
    for (size_t at = 0; (at = all.find(" bad\n", at)) != std::string::npos; ++at)
        ++bad;
    EXPECT_EQ(bad, 2u) << all;
    EXPECT_NE(all.find("avlPathPrint: level 1\n"), std::string::npos);
}

// Random inserts, finds, nexts and removes against std::map, the tree
// checked after every step: no bad node, height within the AVL bound.
TEST(AvlModel, AgreesWithStdMap) {
    for (unsigned seed : {11u, 22u, 33u}) {
        std::mt19937 rng(seed);
        Tree t;
        std::map<std::string, const void *> model;
        int twoChildRemovals = 0;
        EventCapture capture; // avlVerify's reports
        for (int step = 0; step < 100000; ++step) {
            std::string k; // one to three letters: prefixes, and many collisions
            for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n)
                k += static_cast<char>('a' + rng() % 13);
            int op = static_cast<int>(rng() % 4);
            if (op == 0) {
                int r = t.insert(k);
                ASSERT_EQ(r, model.count(k) ? 1 : 0);
                if (r == 0)
                    model[k] = t.items.back().get();
            } else if (op == 1) {
                AvlPath path{};
                AvlNode *n =
                    avlSearch(t.root(), bytes(k), static_cast<int>(k.size()), &path, compareItem);
                twoChildRemovals += n && n->link[AVL_LEFT] && n->link[AVL_RIGHT] && path.level > 2;
                ASSERT_EQ(t.remove(k), model.erase(k) ? 0 : 1);
            } else {
                auto it = op == 2 ? model.find(k) : model.upper_bound(k);
                ASSERT_EQ(op == 2 ? t.find(k) : t.next(k), it == model.end() ? nullptr : it->second)
                    << k;
            }
            int height = avlVerifyTree(t.tree);
            ASSERT_TRUE(capture.messages.empty()) << "seed " << seed << " step " << step;
            ASSERT_LE(height, 1.44 * std::log2(model.size() + 2.0));
        }
        EXPECT_GT(model.size(), 500u);
        EXPECT_GT(twoChildRemovals, 1000) << "removals of inner nodes with two children";
        std::string key; // everything, in order, through next
        size_t seen = 0;
        for (const void *i = t.next(""); i; i = t.next(key), ++seen) {
            ASSERT_LT(seen, model.size());
            key = *static_cast<const Item *>(i);
        }
        EXPECT_EQ(seen, model.size());
    }
}

} // namespace
