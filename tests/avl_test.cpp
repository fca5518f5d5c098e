// The AVL tree against std::map, its refusals, a tree broken from outside.
#include "agent/avl.h"
#include "platform/log.h"
#include "support.h"
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

TEST(AvlShapes, RefusalsAndABrokenBalanceReported) {
    Tree t;
    t.insert("k");
    EXPECT_EQ(t.insert("k"), 1);
    EXPECT_EQ(avlInsert(nullptr, bytes("x"), 1, &t), 1);
    EXPECT_EQ(avlInsert(t.tree, bytes("x"), 1, nullptr), 1);
    EXPECT_EQ(t.remove("x"), 1);
    EXPECT_EQ(avlRemove(nullptr, bytes("k"), 1), 1);
    EXPECT_EQ(avlFind(nullptr, bytes("k"), 1), nullptr);
    EXPECT_EQ(avlNext(nullptr, bytes("k"), 1), nullptr);
    EXPECT_TRUE(t.find("k") && !t.root()->link[AVL_LEFT] && !t.root()->link[AVL_RIGHT]);
    EXPECT_EQ(t.remove("k"), 0);
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
    EXPECT_EQ(all.rfind("\n(B[right]\n  L:(A[left]\n", 0), 0u) << all;
    size_t first = all.find(" bad\n"), second = all.find(" bad\n", first + 1); // two bad nodes
    EXPECT_TRUE(second != all.npos && all.find(" bad\n", second + 1) == all.npos) << all;
    EXPECT_NE(all.find("avlPathPrint: level 1\n"), std::string::npos);
}

// The tree checked after every step: no bad node, height within the AVL bound.
TEST(AvlModel, AgreesWithStdMap) {
    for (unsigned seed : {11u, 22u, 33u, 44u}) {
        bool small = seed == 44; // few short keys, every trace written
        logLevel = small ? 2 : 0;
        std::mt19937 rng(seed);
        Tree t;
        std::map<std::string, const void *> model;
        int twoChildRemovals = 0;
        EventCapture capture; // avlVerify's reports
        for (int step = 0; step < (small ? 4000 : 100000); ++step) {
            std::string k; // one to three letters: prefixes, and many collisions
            for (int n = 1 + static_cast<int>(rng() % (small ? 2 : 3)); n > 0; --n)
                k += static_cast<char>('a' + rng() % (small ? 5 : 13));
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
            for (const std::string &m : capture.messages)
                ASSERT_EQ(m.find("avlVerify"), std::string::npos)
                    << "seed " << seed << " step " << step;
            capture.messages.clear();
            ASSERT_LE(height, 1.44 * std::log2(model.size() + 2.0));
        }
        EXPECT_GT(model.size(), small ? 8u : 500u);
        EXPECT_GT(twoChildRemovals, small ? 10 : 1000)
            << "removals of inner nodes with two children";
        std::string key; // everything, in order, through next
        size_t seen = 0;
        for (const void *i = t.next(""); i; i = t.next(key), ++seen) {
            ASSERT_LT(seen, model.size());
            key = *static_cast<const Item *>(i);
        }
        EXPECT_EQ(seen, model.size());
    }
    logLevel = 0;
}

} // namespace
