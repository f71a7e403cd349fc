#include "formats/formats.h"

namespace quelvar {

void ProcessMenu(WalkContext& ctx, const uint8_t* data, size_t size) {
    CopyResourceData(ctx, data, size);
}

void ProcessMenuEx(WalkContext& ctx, const uint8_t* data, size_t size) {
    CopyResourceData(ctx, data, size);
}

}  // namespace quelvar
