// The element tree that the XML reader builds: one TreeNode per element with its tag,
// attributes, character data and children, and one TreeInfo per tree for what belongs to
// the document as a whole (the XML declaration and the prolog).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"

class TreeNode;

// The attributes of one element, in document order; names may repeat.
class AttributeSet {
 public:
  AttributeSet() = default;
  AttributeSet(const AttributeSet&) = delete;
  AttributeSet& operator=(const AttributeSet&) = delete;
  virtual ~AttributeSet() = default;

  int32_t count() const { return static_cast<int32_t>(starts_.size()); }
  // Append the i-th name or value; false, nothing appended, outside 0..count-1.
  bool getName(int32_t i, StringBuffer& out) const;
  bool getValue(int32_t i, StringBuffer& out) const;
  void add(const char* name, uint32_t nameLength, const char* value, uint32_t valueLength);
  void add(const char* name, const char* value);
  // True when some pair matches both texts exactly (case-sensitive).
  bool has(const char* name, const char* value) const;

 private:
  // name length, value length, name length, ...
  std::vector<int32_t> lengths_;
  // Where each pair begins in text_, so that walking all pairs stays linear.
  std::vector<uint32_t> starts_;
  // Every name and value back to back.
  StringBuffer text_{16};
};

// What a whole document shares: owned by its root element.
class TreeInfo : public VorlundObject {
 public:
  // Takes the next serial of the process-wide counter.
  TreeInfo();
  TreeInfo(const TreeInfo&) = delete;
  TreeInfo& operator=(const TreeInfo&) = delete;
  ~TreeInfo() override;

  TreeNode* root = nullptr;  // not owned: the root owns this record
  // The XML declaration as an element: tag "xml" and its attributes (version, encoding).
  std::unique_ptr<TreeNode> declaration;
  // The document type declaration and other processing instructions, each followed by "\n".
  std::unique_ptr<StringBuffer> prolog;
  uint32_t serial;
};

class TreeNode : public VorlundObject {
 public:
  TreeNode() = default;
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;
  // Deletes the whole subtree without recursion, so any depth is safe; a root also deletes
  // its TreeInfo.
  ~TreeNode() override;

  // --- building
  // Makes this node a root: a new TreeInfo owned by it, shared by nodes appended later.
  void makeRoot();
  void setTag(const char* bytes, uint32_t n);
  // Takes ownership of a fresh node (not a root); it shares this node's TreeInfo.
  void appendChild(TreeNode* child);
  // Appends character data, with a blank before it when content is already there.
  void addText(const char* bytes, uint32_t n);
  // Appends bytes as they are.
  void appendContent(const char* bytes, uint32_t n);
  // Deletes child i with its subtree; its slot stays, empty, so later indexes hold.
  void deleteChild(int32_t i);
  AttributeSet& attributeSet();

  // --- reading
  TreeInfo* info() const { return info_; }
  TreeNode* parent() const { return parent_; }
  // Empty text when the element has no tag.
  const char* tag() const;
  bool tagEquals(const char* s) const;
  // Null when the element has none.
  const AttributeSet* attributes() const { return attributes_.get(); }
  int32_t numChildren() const { return children_ ? children_->getSize() : 0; }
  TreeNode* child(int32_t i) const;
  // The first child whose tag equals the text (case-sensitive), or null.
  TreeNode* findChild(const char* tag) const;
  // The first element of that tag met in a depth-first walk below this node, or null.
  TreeNode* findDescendant(const char* tag) const;
  // The character data, entities decoded; empty when none.
  void getContent(StringBuffer& out) const;
  const char* contentData() const;
  uint32_t contentSize() const;
  bool hasContent() const { return contentSize() > 0; }

  bool isCdata = false;  // content came from a CDATA section

 private:
  TreeInfo* info_ = nullptr;
  bool ownsInfo_ = false;
  std::unique_ptr<StringBuffer> tag_;
  std::unique_ptr<AttributeSet> attributes_;
  std::unique_ptr<StringBuffer> content_;
  std::unique_ptr<ExtPtrArray> children_;  // owned TreeNodes
  TreeNode* parent_ = nullptr;
};
