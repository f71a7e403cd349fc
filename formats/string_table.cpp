#include "formats/formats.h"

namespace quelvar {

void ProcessStringTable(WalkContext& ctx, const uint8_t* data, size_t size) {
    CopyResourceData(ctx, data, size);
}

}  // namespace quelvar
