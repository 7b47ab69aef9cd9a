#pragma once
// EPUB 3 refinement metas folded into the Dublin Core entries they refine.
#include "model/metadata.hpp"

namespace quirelo {

// Moves every "OPF" meta that refines a known Dublin Core id with the property role,
// file-as, display-seq or group-position onto that entry as "opf:<property>". Other metas
// stay where they are. When two Dublin Core entries share an id, the first one in store
// order receives the refinements.
void fold_refinements(MetadataStore& store);

}  // namespace quirelo
