// AVL insertion with parent links and in-order sequence links.
#include "util/tree/util_tree_base.h"

namespace {

int HeightOf(const qvl_CUtilTreeBaseNode* n) {
  return n ? n->height : 0;
}

void UpdateHeight(qvl_CUtilTreeBaseNode* n) {
  int l = HeightOf(n->left);
  int r = HeightOf(n->right);
  n->height = (l > r ? l : r) + 1;
}

}  // namespace

void qvl_CUtilTreeBase::ReplaceChild(qvl_CUtilTreeBaseNode* parent, qvl_CUtilTreeBaseNode* oldChild,
                                     qvl_CUtilTreeBaseNode* newChild) {
  if (!parent) {
    m_root = newChild;
  } else if (parent->left == oldChild) {
    parent->left = newChild;
  } else {
    parent->right = newChild;
  }
  if (newChild) newChild->parent = parent;
}

void qvl_CUtilTreeBase::RotateLeft(qvl_CUtilTreeBaseNode* x) {
  qvl_CUtilTreeBaseNode* y = x->right;
  ReplaceChild(x->parent, x, y);
  x->right = y->left;
  if (y->left) y->left->parent = x;
  y->left = x;
  x->parent = y;
  UpdateHeight(x);
  UpdateHeight(y);
}

void qvl_CUtilTreeBase::RotateRight(qvl_CUtilTreeBaseNode* x) {
  qvl_CUtilTreeBaseNode* y = x->left;
  ReplaceChild(x->parent, x, y);
  x->left = y->right;
  if (y->right) y->right->parent = x;
  y->right = x;
  x->parent = y;
  UpdateHeight(x);
  UpdateHeight(y);
}

// Restores the AVL balance at n (whose children are balanced); returns the
// root of the subtree that took n's place.
qvl_CUtilTreeBaseNode* qvl_CUtilTreeBase::Rebalance(qvl_CUtilTreeBaseNode* n) {
  UpdateHeight(n);
  int balance = HeightOf(n->left) - HeightOf(n->right);
  if (balance > 1) {
    if (HeightOf(n->left->left) < HeightOf(n->left->right)) RotateLeft(n->left);
    RotateRight(n);
    return n->parent;
  }
  if (balance < -1) {
    if (HeightOf(n->right->right) < HeightOf(n->right->left)) RotateRight(n->right);
    RotateLeft(n);
    return n->parent;
  }
  return n;
}

void qvl_CUtilTreeBase::InsertBefore(qvl_CUtilTreeBaseNode* pos, qvl_CUtilTreeBaseNode* node) {
  node->left = nullptr;
  node->right = nullptr;
  node->height = 1;

  // The new node becomes a leaf: the left child of pos when that is free,
  // otherwise the right child of pos's predecessor (the rightmost node of
  // pos's left subtree, which has no right child). At the end it becomes
  // the right child of the last node.
  qvl_CUtilTreeBaseNode* prev = pos ? pos->prev : m_last;
  if (!m_root) {
    node->parent = nullptr;
    m_root = node;
  } else if (pos && !pos->left) {
    pos->left = node;
    node->parent = pos;
  } else {
    prev->right = node;
    node->parent = prev;
  }

  node->prev = prev;
  node->next = pos;
  if (prev) {
    prev->next = node;
  } else {
    m_first = node;
  }
  if (pos) {
    pos->prev = node;
  } else {
    m_last = node;
  }
  ++m_count;

  for (qvl_CUtilTreeBaseNode* n = node->parent; n; n = n->parent) n = Rebalance(n);
}

void qvl_CUtilTreeBase::ExtractAll() {
  m_root = nullptr;
  m_first = nullptr;
  m_last = nullptr;
  m_count = 0;
}
