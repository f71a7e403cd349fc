// The handlers of the resource types that hold texts, one file each, and the table that the
// walks look them up in by numeric resource type id. Each handler gets the resource's data
// (the data entry's Size bytes) and never reads past it. Data that does not parse as its type
// is copied unchanged on import and yields no texts on export.
#pragma once

#include <span>

#include "resources/handler.h"

namespace quelvar {

// Type 4: a standard menu template (first word 0) and an extended one.
void ProcessMenuResource(ResourceContext& ctx, std::span<const uint8_t> data);
// Type 5: a standard dialog template and an extended one (second word 0xFFFF).
void ProcessDialogResource(ResourceContext& ctx, std::span<const uint8_t> data);
// Type 6: a block of 16 counted strings.
void ProcessStringTable(ResourceContext& ctx, std::span<const uint8_t> data);

// Type 9: a table of 8-byte accelerator entries, the last one flagged 0x80.
void ProcessAcceleratorTable(ResourceContext& ctx, std::span<const uint8_t> data);
// Type 11: a message table (MESSAGE_RESOURCE_DATA), as FormatMessage reads it.
void ProcessMessageTable(ResourceContext& ctx, std::span<const uint8_t> data);

// Every handler, keyed by its resource type id.
std::span<const HandlerEntry> ResourceHandlers();

}  // namespace quelvar
