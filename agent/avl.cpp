#include "agent/avl.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/log.h"

namespace {

AvlCompareFn compareOf(const AvlTree *tree) {
    return reinterpret_cast<AvlCompareFn>(tree->item);
}

AvlPrintFn printOf(const AvlTree *tree) {
    return reinterpret_cast<AvlPrintFn>(tree->link[0]);
}

AvlNode *&root(AvlTree *tree) {
    return tree->link[AVL_RIGHT];
}

constexpr int32_t opposite(int32_t d) {
    return 3 - d;
}

// The tree as insertion or removal finds it, checked and dumped.
void traceTree(const char *title, const AvlTree *tree) {
    if (logSteps()) {
        logPrintfFlush("%s", title);
        avlVerifyTree(tree);
        avlPrint(tree);
        logPrintfFlush("\n");
    }
}

void freeNodes(AvlNode *node) {
    if (!node)
        return;
    freeNodes(node->link[AVL_LEFT]);
    freeNodes(node->link[AVL_RIGHT]);
    std::free(node);
}

// Rebalancing after an insertion made the subtree of path[k] two higher on
// the side it leans to.
void rebalanceInsert(AvlTree *tree, AvlPath *path, int k) {
    AvlNode *a = path->entry[k].node;
    int32_t d = path->entry[k].direction;
    AvlNode *b = path->entry[k + 1].node;
    int32_t e = path->entry[k + 1].direction;
    if (e == AVL_BALANCED) {
        // b is the new node itself: a leaned towards a side that was empty,
        // which only a tree altered from outside does. There is no
        // grandchild in the path to rotate over, so the node stays where it
        // was linked and the balances are left as they are.
        logPrintfFlush("avlInsert: balance inconsistency.\n");
        return;
    }
    path->level = k;
    if (e == d) {
        avlLink(tree, path, b);
        avlRotate(a, b, d);
        a->balance = AVL_BALANCED;
        b->balance = AVL_BALANCED;
        return;
    }
    AvlNode *g = path->entry[k + 2].node;
    int32_t f = path->entry[k + 2].direction;
    avlLink(tree, path, g);
    avlRotate(a, g, d);
    avlRotate(b, g, e);
    g->balance = AVL_BALANCED;
    if (f == e) {
        a->balance = AVL_BALANCED;
        b->balance = opposite(e);
    } else if (f == d) {
        a->balance = opposite(d);
        b->balance = AVL_BALANCED;
    } else {
        a->balance = AVL_BALANCED;
        b->balance = AVL_BALANCED;
    }
}

} // namespace

AvlTree *avlNew(AvlCompareFn compare, AvlPrintFn print) {
    auto *tree = static_cast<AvlTree *>(std::calloc(1, sizeof(AvlTree)));
    if (!tree)
        return nullptr;
    tree->item = reinterpret_cast<void *>(compare);
    tree->link[0] = reinterpret_cast<AvlNode *>(print);
    return tree;
}

void avlFree(AvlTree *tree) {
    if (!tree)
        return;
    freeNodes(root(tree));
    std::free(tree);
}

AvlNode *avlAllocNode(void *item) {
    auto *node = static_cast<AvlNode *>(std::calloc(1, sizeof(AvlNode)));
    if (node)
        node->item = item;
    return node;
}

void avlPathPush(AvlPath *path, AvlNode *node, int32_t direction) {
    ++path->level;
    path->entry[path->level].node = node;
    path->entry[path->level].direction = direction;
}

AvlNode *avlSearch(AvlNode *start, const uint8_t *key, int keyLength, AvlPath *path,
                   AvlCompareFn compare) {
    AvlNode *node = start;
    while (node) {
        // The item lies apart from its node: fetch both children while the
        // compare waits for it, so a level costs one miss, not two.
        __builtin_prefetch(node->link[AVL_LEFT]);
        __builtin_prefetch(node->link[AVL_RIGHT]);
        int c = compare(node->item, key, keyLength);
        if (c == 0)
            return node;
        avlPathPush(path, node, c);
        node = node->link[c];
    }
    return nullptr;
}

AvlNode *avlSuccessor(AvlNode *found, AvlPath *path) {
    if (found && found->link[AVL_RIGHT]) {
        avlPathPush(path, found, AVL_RIGHT);
        AvlNode *node = found->link[AVL_RIGHT];
        while (node->link[AVL_LEFT]) {
            avlPathPush(path, node, AVL_LEFT);
            node = node->link[AVL_LEFT];
        }
        return node;
    }
    // The nearest ancestor the walk left to its left.
    for (int k = path->level; k >= 1; --k)
        if (path->entry[k].direction != AVL_RIGHT) {
            path->level = k - 1;
            return path->entry[k].node;
        }
    path->level = 0;
    return nullptr;
}

void avlLink(AvlTree *tree, AvlPath *path, AvlNode *node) {
    if (path->level == 1) {
        root(tree) = node;
        return;
    }
    AvlPathEntry &parent = path->entry[path->level - 1];
    parent.node->link[parent.direction] = node;
}

void avlRotate(AvlNode *top, AvlNode *child, int32_t direction) {
    top->link[direction] = child->link[opposite(direction)];
    child->link[opposite(direction)] = top;
}

void *avlFind(AvlTree *tree, const uint8_t *key, int keyLength) {
    if (!tree)
        return nullptr;
    AvlPath path;
    path.level = 0;
    AvlNode *found = avlSearch(root(tree), key, keyLength, &path, compareOf(tree));
    return found ? found->item : nullptr;
}

void *avlNext(AvlTree *tree, const uint8_t *key, int keyLength) {
    if (!tree)
        return nullptr;
    AvlPath path;
    path.level = 0;
    AvlNode *found = avlSearch(root(tree), key, keyLength, &path, compareOf(tree));
    AvlNode *next = avlSuccessor(found, &path);
    return next ? next->item : nullptr;
}

int avlInsert(AvlTree *tree, const uint8_t *key, int keyLength, void *item) {
    traceTree("avlInsert.\n", tree);
    if (!tree) {
        logStepFlush("avlInsert: head is null.\n");
        return 1;
    }
    if (!item) {
        logStepFlush("avlInsert: info is null.\n");
        return 1;
    }
    AvlPath path;
    path.level = 0;
    if (avlSearch(root(tree), key, keyLength, &path, compareOf(tree))) {
        logStepFlush("avlInsert: exists already.\n");
        return 1;
    }
    AvlNode *node = avlAllocNode(item);
    if (!node) {
        logStepFlush("avlInsert: can't alloc node.\n");
        return 1;
    }
    avlPathPush(&path, node, 0);
    avlLink(tree, &path, node);
    for (int k = path.level - 1; k >= 1; --k) {
        AvlNode *n = path.entry[k].node;
        int32_t d = path.entry[k].direction;
        if (n->balance == d) {
            rebalanceInsert(tree, &path, k);
            break;
        }
        if (n->balance == AVL_BALANCED) {
            n->balance = d;
            continue;
        }
        n->balance = AVL_BALANCED;
        break;
    }
    logStepFlush("avlInsert: Ok.\n");
    return 0;
}

int avlRemove(AvlTree *tree, const uint8_t *key, int keyLength) {
    traceTree("avlRemove.\n", tree);
    if (!tree) {
        logStepFlush("avlRemove: head is null.\n");
        return 1;
    }
    AvlPath path;
    path.level = 0;
    avlPathPush(&path, tree, AVL_RIGHT); // the head is the root's parent
    AvlNode *found = avlSearch(root(tree), key, keyLength, &path, compareOf(tree));
    if (!found) {
        logStepFlush("avlRemove: node not found.\n");
        return 1;
    }
    avlPathPush(&path, found, AVL_RIGHT);
    AvlNode *r = found;
    if (found->link[AVL_RIGHT]) {
        r = found->link[AVL_RIGHT];
        avlPathPush(&path, r, AVL_LEFT);
        while (r->link[AVL_LEFT]) {
            r = r->link[AVL_LEFT];
            avlPathPush(&path, r, AVL_LEFT);
        }
    }
    found->item = r->item; // the removed item stays the caller's
    {
        int k = path.level;
        AvlPathEntry &parent = path.entry[k - 1];
        parent.node->link[parent.direction] = r->link[opposite(path.entry[k].direction)];
        std::free(r);
    }
    for (int k = path.level - 1; k > 1; --k) {
        AvlNode *n = path.entry[k].node;
        int32_t d = path.entry[k].direction;
        int32_t o = opposite(d);
        logStepFlush("avlRemove: bal = %d, dir = %d.\n", n->balance, d);
        if (n->balance == d) {
            logStepFlush("avlRemove: bal == dir.\n");
            n->balance = AVL_BALANCED;
            continue;
        }
        if (n->balance == AVL_BALANCED) {
            logStepFlush("avlRemove: bal == balanced.\n");
            n->balance = o;
            break;
        }
        AvlNode *s = n->link[o];
        // A consistent tree always has the higher side's child. A tree broken
        // from outside stops the rebalancing here: the node is already
        // unlinked, so the removal itself has succeeded.
        if (!s) {
            logPrintfFlush("avlRemove: balance inconsistency.\n");
            break;
        }
        AvlPathEntry &parent = path.entry[k - 1];
        if (s->balance == AVL_BALANCED) {
            logStepFlush("avlRemove: Rebalance: case 3.\n");
            n->link[o] = s->link[d];
            s->link[d] = n;
            n->balance = o;
            s->balance = d;
            parent.node->link[parent.direction] = s;
            break;
        }
        if (s->balance == o) {
            logStepFlush("avlRemove: Rebalance: case 1.\n");
            n->link[o] = s->link[d];
            s->link[d] = n;
            n->balance = AVL_BALANCED;
            s->balance = AVL_BALANCED;
            parent.node->link[parent.direction] = s;
            continue;
        }
        logStepFlush("avlRemove: Rebalance: case 2.\n");
        AvlNode *g = s->link[d];
        if (!g) { // as above: only a broken tree lacks it
            logPrintfFlush("avlRemove: balance inconsistency.\n");
            break;
        }
        n->link[o] = g->link[d];
        s->link[d] = g->link[o];
        g->link[o] = s;
        g->link[d] = n;
        if (g->balance == AVL_BALANCED) {
            n->balance = AVL_BALANCED;
            s->balance = AVL_BALANCED;
        } else if (g->balance == o) {
            n->balance = d;
            s->balance = AVL_BALANCED;
        } else {
            s->balance = o;
            n->balance = AVL_BALANCED;
        }
        g->balance = AVL_BALANCED;
        parent.node->link[parent.direction] = g;
    }
    logStepFlush("avlRemove: Ok.\n");
    return 0;
}

int avlVerify(const AvlNode *node) {
    if (!node)
        return 0;
    int hl = avlVerify(node->link[AVL_LEFT]);
    int hr = avlVerify(node->link[AVL_RIGHT]);
    int32_t expected = hl > hr ? AVL_LEFT : (hr > hl ? AVL_RIGHT : AVL_BALANCED);
    if (hl - hr > 1 || hr - hl > 1 || node->balance != expected)
        logPrintf("avlVerify: Node %08" PRIXPTR " bad\n", reinterpret_cast<uintptr_t>(node));
    return (hl > hr ? hl : hr) + 1;
}

int avlVerifyTree(const AvlTree *tree) {
    return tree ? avlVerify(tree->link[AVL_RIGHT]) : 0;
}

int avlPrint(const AvlTree *tree) {
    if (!tree) {
        logPrintf("NIL\n");
        return 0;
    }
    if (AvlPrintFn print = printOf(tree))
        avlPrintNode(tree->link[AVL_RIGHT], print, "", 0);
    return 0;
}

void avlPrintNode(const AvlNode *node, AvlPrintFn print, const char *label, int depth) {
    logPrintf("\n");
    for (int i = 0; i < depth; ++i)
        logPrintf("  ");
    logPrintf("%s(", label);
    if (node) {
        if (print)
            print(node->item);
        switch (node->balance) {
        case AVL_BALANCED:
            logPrintf("[balanced]");
            break;
        case AVL_LEFT:
            logPrintf("[left]");
            break;
        case AVL_RIGHT:
            logPrintf("[right]");
            break;
        default:
            logPrintf("[unknown: %d]", node->balance);
        }
        avlPrintNode(node->link[AVL_LEFT], print, "L:", depth + 1);
        avlPrintNode(node->link[AVL_RIGHT], print, "R:", depth + 1);
        logPrintf("\n");
        for (int i = 0; i < depth; ++i)
            logPrintf("  ");
    }
    logPrintf(")");
}

void avlPathPrint(const AvlPath *path) {
    if (!path)
        return;
    logPrintf("avlPathPrint: level %d\n", path->level);
    for (int k = 1; k <= path->level; ++k)
        logPrintf("%08" PRIXPTR " %d\n", reinterpret_cast<uintptr_t>(path->entry[k].node),
                  path->entry[k].direction);
}
