#include "mime/TreeNode.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<uint32_t> g_nextTreeSerial{0};

uint32_t textLength(const char* s) {
  return s == nullptr ? 0 : static_cast<uint32_t>(std::strlen(s));
}

}  // namespace

// --- AttributeSet

bool AttributeSet::getName(int32_t i, StringBuffer& out) const {
  if (i < 0 || i >= count()) return false;
  out.appendN(text_.getString() + starts_[i], lengths_[2 * i]);
  return true;
}

bool AttributeSet::getValue(int32_t i, StringBuffer& out) const {
  if (i < 0 || i >= count()) return false;
  out.appendN(text_.getString() + starts_[i] + lengths_[2 * i], lengths_[2 * i + 1]);
  return true;
}

void AttributeSet::add(const char* name, uint32_t nameLength, const char* value,
                       uint32_t valueLength) {
  starts_.push_back(text_.getSize());
  lengths_.push_back(static_cast<int32_t>(nameLength));
  lengths_.push_back(static_cast<int32_t>(valueLength));
  text_.appendN(name, nameLength);
  text_.appendN(value, valueLength);
}

void AttributeSet::add(const char* name, const char* value) {
  add(name, textLength(name), value, textLength(value));
}

bool AttributeSet::has(const char* name, const char* value) const {
  const uint32_t nameLength = textLength(name);
  const uint32_t valueLength = textLength(value);
  const char* text = text_.getString();
  for (int32_t i = 0; i < count(); ++i) {
    if (static_cast<uint32_t>(lengths_[2 * i]) != nameLength ||
        static_cast<uint32_t>(lengths_[2 * i + 1]) != valueLength)
      continue;
    const char* pair = text + starts_[i];
    if (std::memcmp(pair, name, nameLength) == 0 &&
        std::memcmp(pair + nameLength, value, valueLength) == 0)
      return true;
  }
  return false;
}

// --- TreeInfo

TreeInfo::TreeInfo() : serial(++g_nextTreeSerial) {}

TreeInfo::~TreeInfo() = default;

// --- TreeNode

TreeNode::~TreeNode() {
  if (children_) {
    // Each node taken off the stack hands its children over before it is deleted, so no
    // destructor below this one has children left to recurse into.
    std::vector<TreeNode*> pending;
    pending.reserve(static_cast<size_t>(children_->getSize()));
    for (int32_t i = 0; i < children_->getSize(); ++i) pending.push_back(child(i));
    children_->clear();
    while (!pending.empty()) {
      TreeNode* node = pending.back();
      pending.pop_back();
      if (node == nullptr) continue;
      if (node->children_) {
        for (int32_t i = 0; i < node->children_->getSize(); ++i) pending.push_back(node->child(i));
        node->children_->clear();
      }
      delete node;
    }
  }
  if (ownsInfo_) delete info_;
}

void TreeNode::makeRoot() {
  if (ownsInfo_) delete info_;
  info_ = new TreeInfo();
  info_->root = this;
  ownsInfo_ = true;
  parent_ = nullptr;
}

void TreeNode::setTag(const char* bytes, uint32_t n) {
  // Sized to fit: a document can hold millions of elements.
  tag_ = std::make_unique<StringBuffer>(bytes, n, 16);
}

void TreeNode::appendChild(TreeNode* child) {
  if (child == nullptr) return;
  if (!children_) children_ = std::make_unique<ExtPtrArray>();
  child->parent_ = this;
  child->info_ = info_;
  children_->appendPtr(child);
}

void TreeNode::addText(const char* bytes, uint32_t n) {
  if (n == 0) return;
  if (!content_) {
    content_ = std::make_unique<StringBuffer>(bytes, n, 0);
    return;
  }
  if (!content_->isEmpty()) content_->appendChar(' ');
  content_->appendN(bytes, n);
}

void TreeNode::appendContent(const char* bytes, uint32_t n) {
  if (n == 0) return;
  if (!content_)
    content_ = std::make_unique<StringBuffer>(bytes, n, 0);
  else
    content_->appendN(bytes, n);
}

AttributeSet& TreeNode::attributeSet() {
  if (!attributes_) attributes_ = std::make_unique<AttributeSet>();
  return *attributes_;
}

const char* TreeNode::tag() const { return tag_ ? tag_->getString() : ""; }

bool TreeNode::tagEquals(const char* s) const {
  return tag_ ? tag_->equals(s) : (s == nullptr || *s == '\0');
}

void TreeNode::deleteChild(int32_t i) {
  TreeNode* gone = child(i);
  if (gone == nullptr) return;
  children_->setAt(i, nullptr);
  delete gone;  // the destructor walks the subtree without recursion
}

TreeNode* TreeNode::child(int32_t i) const {
  return children_ ? children_->getAs<TreeNode>(i) : nullptr;
}

TreeNode* TreeNode::findChild(const char* tag) const {
  for (int32_t i = 0; i < numChildren(); ++i) {
    TreeNode* c = child(i);
    if (c != nullptr && c->tagEquals(tag)) return c;
  }
  return nullptr;
}

TreeNode* TreeNode::findDescendant(const char* tag) const {
  // Depth first in document order, with an explicit stack of (node, next child index).
  std::vector<std::pair<const TreeNode*, int32_t>> stack;
  stack.emplace_back(this, 0);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next >= node->numChildren()) {
      stack.pop_back();
      continue;
    }
    TreeNode* c = node->child(next++);
    if (c == nullptr) continue;
    if (c->tagEquals(tag)) return c;
    stack.emplace_back(c, 0);
  }
  return nullptr;
}

void TreeNode::getContent(StringBuffer& out) const {
  if (content_) out.appendSb(*content_);
}

const char* TreeNode::contentData() const { return content_ ? content_->getString() : ""; }

uint32_t TreeNode::contentSize() const { return content_ ? content_->getSize() : 0; }
