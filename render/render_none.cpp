// The Windows builds draw no pictures.
#include "render/render.h"

namespace quelvar {

bool DrawDialogPicture(const DialogView&, const DialogView*, PictureFormat, const LayoutSettings&,
                       std::vector<uint8_t>& bytes, std::string& problem) {
    bytes.clear();
    problem = "this build draws no pictures";
    return false;
}

bool PngSize(std::span<const uint8_t>, int&, int&) {
    return false;
}

bool PngPixel(std::span<const uint8_t>, int, int, uint32_t&) {
    return false;
}

bool PicturesAvailable() {
    return false;
}

}  // namespace quelvar
