// Ordered tree of intrusive nodes: a balanced (AVL) binary tree whose nodes
// also carry in-order links, so that walking in order costs O(1) per step.
#pragma once

// The links a node of a qvl_CUtilTreeBase carries. A record kept in a tree
// embeds one of these as its first member; a zero-filled one is unlinked.
// The tree does not own nodes: they usually live in a memory pool.
struct qvl_CUtilTreeBaseNode {
  qvl_CUtilTreeBaseNode* parent;
  qvl_CUtilTreeBaseNode* left;
  qvl_CUtilTreeBaseNode* right;
  qvl_CUtilTreeBaseNode* prev;  // in-order predecessor, null for the first node
  qvl_CUtilTreeBaseNode* next;  // in-order successor, null for the last node
  int height;                   // of the subtree rooted here; 1 for a leaf
};

// The tree knows nothing of keys: the user finds the place of a new node by
// descending from GetRoot() with its own comparison and links the node with
// InsertBefore. Insert is O(log n) (AVL rebalancing), so a descent is too.
class qvl_CUtilTreeBase {
 public:
  qvl_CUtilTreeBase() = default;
  qvl_CUtilTreeBase(const qvl_CUtilTreeBase&) = delete;
  qvl_CUtilTreeBase& operator=(const qvl_CUtilTreeBase&) = delete;

  qvl_CUtilTreeBaseNode* GetRoot() const { return m_root; }
  qvl_CUtilTreeBaseNode* GetFirst() const { return m_first; }
  qvl_CUtilTreeBaseNode* GetLast() const { return m_last; }
  int GetCount() const { return m_count; }
  static qvl_CUtilTreeBaseNode* GetNext(const qvl_CUtilTreeBaseNode* node) { return node->next; }
  static qvl_CUtilTreeBaseNode* GetLeft(const qvl_CUtilTreeBaseNode* node) { return node->left; }
  static qvl_CUtilTreeBaseNode* GetRight(const qvl_CUtilTreeBaseNode* node) { return node->right; }

  // Links node (unlinked, not in any tree) immediately before pos in the
  // in-order sequence, or after the last node when pos is null. The caller
  // chooses pos so that the sequence stays ordered (pos = lower bound).
  void InsertBefore(qvl_CUtilTreeBaseNode* pos, qvl_CUtilTreeBaseNode* node);

  // Empties the tree. Nodes are not touched or freed (they belong to their
  // owner, usually a pool), so this is O(1).
  void ExtractAll();

 private:
  void RotateLeft(qvl_CUtilTreeBaseNode* x);
  void RotateRight(qvl_CUtilTreeBaseNode* x);
  qvl_CUtilTreeBaseNode* Rebalance(qvl_CUtilTreeBaseNode* n);
  void ReplaceChild(qvl_CUtilTreeBaseNode* parent, qvl_CUtilTreeBaseNode* oldChild,
                    qvl_CUtilTreeBaseNode* newChild);

  qvl_CUtilTreeBaseNode* m_root = nullptr;
  qvl_CUtilTreeBaseNode* m_first = nullptr;
  qvl_CUtilTreeBaseNode* m_last = nullptr;
  int m_count = 0;
};
