// The node scanner in its two forms (internal): with the fast runs the parser uses, and taking
// every character one at a time. Both give the same result; tests compare them.
#ifndef NXUTIL_XML_PARSE_NODE_H
#define NXUTIL_XML_PARSE_NODE_H

#include "xml/xml.h"

namespace nxxml {

template <bool Fast>
int parseNodeImpl(CMarkup::TokenPos& token, CMarkup::NodePos& node);

extern template int parseNodeImpl<true>(CMarkup::TokenPos&, CMarkup::NodePos&);
extern template int parseNodeImpl<false>(CMarkup::TokenPos&, CMarkup::NodePos&);

// The fast form as the parser runs it: the same nodes, but a start tag's name is left in the
// token's left..right (as an end tag's is) instead of being copied to node.meta.
int scanNodeNameInToken(CMarkup::TokenPos& token, CMarkup::NodePos& node);

}  // namespace nxxml

#endif
