// Handlers of the resource types that hold texts. Each gets the resource's data and its size
// (the data entry's Size) and never reads past it. In export mode a handler calls EmitEntry
// for each text; in import mode it writes the rebuilt resource at the output cursor and
// leaves the cursor just past it. Data that does not parse as its type is copied unchanged
// on import and yields no lines on export.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/walk.h"

namespace quelvar {

// Type 6: a block of 16 counted strings.
void ProcessStringTable(WalkContext& ctx, const uint8_t* data, size_t size);
// Type 4: a standard menu template (first word 0) and an extended one.
void ProcessMenu(WalkContext& ctx, const uint8_t* data, size_t size);
void ProcessMenuEx(WalkContext& ctx, const uint8_t* data, size_t size);
// Type 5: a standard dialog template and an extended one (second word 0xFFFF).
void ProcessDialog(WalkContext& ctx, const uint8_t* data, size_t size);
void ProcessDialogEx(WalkContext& ctx, const uint8_t* data, size_t size);

// Copies a resource unchanged on import; does nothing on export.
void CopyResourceData(WalkContext& ctx, const uint8_t* data, size_t size);

}  // namespace quelvar
