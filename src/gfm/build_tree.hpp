#pragma once
// The HTML5 tree of one document's body to block and inline nodes. This is where HTML's
// meaning is read, once: which elements are blocks, emphasis or links, which are EPUB
// notes, note references or page-break markers, and what is dropped. White space is
// collapsed here as a browser would, so the renderer sees final text.
//
// The walk is iterative (parent pointers and an explicit stack), so a document nested a
// million levels deep costs memory in proportion, never C stack.
#include "gfm/gfm_tree.hpp"

struct lxb_dom_node;

namespace quirelo {

// Fills `tree` (cleared first) from the body element; a null body gives an empty tree.
void build_gfm_tree(const lxb_dom_node* body, GfmTree& tree);

}  // namespace quirelo
