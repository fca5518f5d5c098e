// Height-balanced (AVL) search tree of opaque items, ordered by a compare
// function of the caller's that matches a key (octets and a length) against
// an item. Search, insertion and removal never recurse: the way down is kept
// in a path record on the caller's stack and rebalancing walks it back up.
//
// Bounds: a path holds AVL_PATH_MAX entries. No bound test is made; a tree
// needs more than 6.5e12 nodes to be that high.
#pragma once

#include <cstdint>

// Directions and balances share their values: a balance names the side of
// the higher subtree, and the child in direction d is link[d].
inline constexpr int32_t AVL_BALANCED = 0;
inline constexpr int32_t AVL_LEFT = 1;
inline constexpr int32_t AVL_RIGHT = 2;

inline constexpr int AVL_PATH_MAX = 62;

// 0 when the key matches the item, AVL_LEFT when it sorts before it,
// AVL_RIGHT when after. No other value.
using AvlCompareFn = int (*)(const void *item, const uint8_t *key, int keyLength);
// Describes an item through logPrintf; used by the dumps only.
using AvlPrintFn = void (*)(const void *item);

struct AvlNode {
    void *item;
    int32_t balance;
    AvlNode *link[3]; // link[0] is unused in nodes; 1 left, 2 right
};

// The head has a node's shape: item is the compare function, link[0] the
// print function (may be none) and link[2] the root, so that removal can
// treat the head as the root's parent.
using AvlTree = AvlNode;

struct AvlPathEntry {
    AvlNode *node;
    int32_t direction; // the way the walk left the node; 0 for a new node
};

struct AvlPath {
    int32_t level;                        // entries in use
    AvlPathEntry entry[AVL_PATH_MAX + 1]; // numbered from 1
};

AvlTree *avlNew(AvlCompareFn compare, AvlPrintFn print); // none when out of memory
void avlFree(AvlTree *tree);                             // nodes and head; never items

void *avlFind(AvlTree *tree, const uint8_t *key, int keyLength);
// The item after the key in tree order: the matching node's successor, or the
// smallest item that sorts after the key.
void *avlNext(AvlTree *tree, const uint8_t *key, int keyLength);
int avlInsert(AvlTree *tree, const uint8_t *key, int keyLength, void *item); // 0, or 1
int avlRemove(AvlTree *tree, const uint8_t *key, int keyLength);             // 0, or 1

// Height of the subtree (0 for none); logs every node whose balance is wrong.
int avlVerify(const AvlNode *node);
int avlVerifyTree(const AvlTree *tree);

int avlPrint(const AvlTree *tree);
void avlPrintNode(const AvlNode *node, AvlPrintFn print, const char *label, int depth);
void avlPathPrint(const AvlPath *path);

// Steps of the operations, open for tests.
AvlNode *avlSearch(AvlNode *start, const uint8_t *key, int keyLength, AvlPath *path,
                   AvlCompareFn compare);
void avlPathPush(AvlPath *path, AvlNode *node, int32_t direction);
AvlNode *avlSuccessor(AvlNode *found, AvlPath *path);
void avlLink(AvlTree *tree, AvlPath *path, AvlNode *node);
void avlRotate(AvlNode *top, AvlNode *child, int32_t direction);
AvlNode *avlAllocNode(void *item);
