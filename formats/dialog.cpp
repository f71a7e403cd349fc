#include "formats/formats.h"

namespace quelvar {

void ProcessDialog(WalkContext& ctx, const uint8_t* data, size_t size) {
    CopyResourceData(ctx, data, size);
}

void ProcessDialogEx(WalkContext& ctx, const uint8_t* data, size_t size) {
    CopyResourceData(ctx, data, size);
}

}  // namespace quelvar
