#pragma once
#include "shell/PatchRecord.h"

namespace corvane {

// The patch every record of a new instance's store starts from ("Init Patch").
const PatchRecord& initPatch();

// Fills a 128-record store: each record the init patch with the default effect order
// 0..5 in slots 323..328, the reserved area zeroed and no instrument file.
void fillPatchStore(PatchRecord* store, int count);

}  // namespace corvane
