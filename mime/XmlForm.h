// The XML form of an entity tree: one "mime_message" element per entity, its header as one
// element per field (parameters as attributes, address fields as mailboxes), its body in
// its transfer encoding, sub-parts nested in "subpart" elements. The tree of the XML reader
// (TreeNode, TreeInfo, AttributeSet) is declared in mime/TreeNode.h.
#pragma once

#include <cstdint>

class LogBase;
class MimeMessage2;
class ProgressMonitor;
class StringBuffer;
class TreeNode;

// The XML declaration line and writeXmlEntity. Appends to `out`. Non-const: a body whose
// encoded text holds "]]>" is switched to base64, and the entity keeps that change.
void writeXmlDocument(MimeMessage2& entity, StringBuffer& out);
// One "mime_message" element; nothing at all for an entity with an empty header.
void writeXmlEntity(MimeMessage2& entity, StringBuffer& out);
// The "header" element; returns the number of field elements written.
int32_t writeXmlHeader(const MimeMessage2& entity, StringBuffer& out);

// The tolerant XML reader. Returns the root element (owned by the caller) or null. `log`
// and `progress` may be null.
TreeNode* parseXml(const StringBuffer& text, LogBase* log, ProgressMonitor* progress);
// A new entity tree (owned by the caller) from the first "mime_message" element with a
// "header" and a "body" child, or null when there is none.
MimeMessage2* loadXml(const StringBuffer& text, LogBase* log, ProgressMonitor* progress);
// A new entity (owned by the caller) from one "mime_message" element, its sub-parts from the
// "subpart" children of its "body"; null when the element lacks "header" or "body". The
// "subpart" elements are deleted from the element tree as their parts are made.
MimeMessage2* entityFromXml(TreeNode& element);
