// Tests of the ordered tree: structure invariants after many inserts at
// random places, the in-order links, and emptying.
#include "util/tree/util_tree_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct IntNode {
  qvl_CUtilTreeBaseNode links;
  int key;
};

IntNode* AsInt(qvl_CUtilTreeBaseNode* n) {
  return reinterpret_cast<IntNode*>(n);
}

// Lower bound by descent, as the users of the tree search it.
qvl_CUtilTreeBaseNode* LowerBound(const qvl_CUtilTreeBase& tree, int key) {
  qvl_CUtilTreeBaseNode* cand = nullptr;
  for (qvl_CUtilTreeBaseNode* n = tree.GetRoot(); n;) {
    if (AsInt(n)->key < key) {
      n = n->right;
    } else {
      cand = n;
      n = n->left;
    }
  }
  return cand;
}

// Checks parent links, heights, AVL balance and ordering; returns the height.
int Check(const qvl_CUtilTreeBaseNode* n, const qvl_CUtilTreeBaseNode* parent, int* errors) {
  if (!n) return 0;
  if (n->parent != parent) ++*errors;
  int l = Check(n->left, n, errors);
  int r = Check(n->right, n, errors);
  if (n->height != std::max(l, r) + 1) ++*errors;
  if (l - r > 1 || r - l > 1) ++*errors;
  if (n->left && reinterpret_cast<const IntNode*>(n->left)->key >= reinterpret_cast<const IntNode*>(n)->key)
    ++*errors;
  if (n->right && reinterpret_cast<const IntNode*>(n->right)->key <= reinterpret_cast<const IntNode*>(n)->key)
    ++*errors;
  return n->height;
}

void CheckTree(const qvl_CUtilTreeBase& tree, std::vector<int> expected) {
  std::sort(expected.begin(), expected.end());
  int errors = 0;
  int height = Check(tree.GetRoot(), nullptr, &errors);
  EXPECT_EQ(errors, 0);
  // An AVL tree of n nodes is at most about 1.44 log2(n + 2) high.
  int limit = 2;
  for (std::size_t n = expected.size() + 2; n > 1; n /= 2) limit += 2;
  EXPECT_LE(height, limit);
  std::vector<int> forward;
  const qvl_CUtilTreeBaseNode* prev = nullptr;
  for (qvl_CUtilTreeBaseNode* n = tree.GetFirst(); n; n = qvl_CUtilTreeBase::GetNext(n)) {
    if (n->prev != prev) ++errors;
    forward.push_back(AsInt(n)->key);
    prev = n;
  }
  EXPECT_EQ(prev, tree.GetLast());
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(tree.GetCount(), static_cast<int>(expected.size()));
}

TEST(TreeBase, AscendingDescendingAndRandomInsertsStayOrderedAndBalanced) {
  const int kN = 2000;
  std::vector<int> asc(kN);
  for (int i = 0; i < kN; ++i) asc[static_cast<std::size_t>(i)] = i;
  std::vector<int> desc(asc.rbegin(), asc.rend());
  std::vector<int> shuffled = asc;
  std::mt19937 rng(7);
  std::shuffle(shuffled.begin(), shuffled.end(), rng);

  for (const std::vector<int>* order : {&asc, &desc, &shuffled}) {
    std::vector<IntNode> nodes(order->size());
    qvl_CUtilTreeBase tree;
    for (std::size_t i = 0; i < order->size(); ++i) {
      nodes[i] = IntNode{};
      nodes[i].key = (*order)[i];
      tree.InsertBefore(LowerBound(tree, nodes[i].key), &nodes[i].links);
    }
    CheckTree(tree, *order);
  }
}

TEST(TreeBase, LowerBoundFindsFirstNotLess) {
  std::vector<IntNode> nodes(5);
  qvl_CUtilTreeBase tree;
  const int keys[] = {40, 10, 30, 20, 50};
  for (int i = 0; i < 5; ++i) {
    nodes[static_cast<std::size_t>(i)].key = keys[i];
    tree.InsertBefore(LowerBound(tree, keys[i]), &nodes[static_cast<std::size_t>(i)].links);
  }
  EXPECT_EQ(AsInt(LowerBound(tree, 5))->key, 10);
  EXPECT_EQ(AsInt(LowerBound(tree, 30))->key, 30);
  EXPECT_EQ(AsInt(LowerBound(tree, 31))->key, 40);
  EXPECT_EQ(LowerBound(tree, 51), nullptr);
}

TEST(TreeBase, ExtractAllEmptiesAndTheTreeCanBeRefilled) {
  std::vector<IntNode> nodes(3);
  qvl_CUtilTreeBase tree;
  for (int i = 0; i < 3; ++i) {
    nodes[static_cast<std::size_t>(i)].key = i;
    tree.InsertBefore(nullptr, &nodes[static_cast<std::size_t>(i)].links);
  }
  CheckTree(tree, {0, 1, 2});
  tree.ExtractAll();
  EXPECT_EQ(tree.GetRoot(), nullptr);
  EXPECT_EQ(tree.GetFirst(), nullptr);
  EXPECT_EQ(tree.GetCount(), 0);
  IntNode again{};
  again.key = 9;
  tree.InsertBefore(nullptr, &again.links);
  CheckTree(tree, {9});
}

}  // namespace
