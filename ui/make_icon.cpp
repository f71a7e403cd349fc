// Draws the program's icon and writes it as an .ico file with eight images: 16, 32 and 48
// pixels, each at 32 bits per pixel (with alpha) and at 8 bits per pixel (a fixed palette
// and a transparency mask), and 64 and 256 pixels at 32 bits per pixel for high DPI (the
// caption's big icon at 200 % and Explorer's large views). Runs on the build machine: make_icon
// OUTPUT.ico
//
// The picture: a blue rounded square holding a white ring with a tail (a "Q") and a small
// orange square, drawn from distance functions with 8 x 8 samples per pixel.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

void Put16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

double RoundedSquare(double x, double y, double half, double radius) {
    double qx = std::fabs(x) - half + radius;
    double qy = std::fabs(y) - half + radius;
    double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

double Segment(double x, double y, double ax, double ay, double bx, double by) {
    double px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    double t = std::clamp((px * dx + py * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - t * dx, py - t * dy);
}

// The background colour at height t (0 at the top, 1 at the bottom).
Rgba Background(double t) {
    return {0.20 - 0.08 * t, 0.48 - 0.16 * t, 0.82 - 0.22 * t, 1};
}

// The colour at a point of the unit square centred on 0 (y grows downwards).
Rgba Sample(double x, double y) {
    if (RoundedSquare(x, y, 0.47, 0.16) > 0)
        return {};
    double ring = std::fabs(std::hypot(x + 0.04, y + 0.04) - 0.23) - 0.075;
    double tail = Segment(x, y, 0.10, 0.10, 0.29, 0.29) - 0.075;
    if (std::min(ring, tail) <= 0)
        return {1, 1, 1, 1};
    if (RoundedSquare(x - 0.28, y + 0.28, 0.08, 0.02) <= 0)
        return {1.0, 0.62, 0.15, 1};
    return Background(y + 0.5);
}

// Pixels of one size, top row first, channels 0..255 with straight (not premultiplied) alpha.
std::vector<Rgba> Render(int size) {
    constexpr int kSamples = 8;
    std::vector<Rgba> pixels(static_cast<size_t>(size) * size);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Rgba sum;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    double x = (px + (sx + 0.5) / kSamples) / size - 0.5;
                    double y = (py + (sy + 0.5) / kSamples) / size - 0.5;
                    Rgba s = Sample(x, y);
                    sum.r += s.r * s.a;
                    sum.g += s.g * s.a;
                    sum.b += s.b * s.a;
                    sum.a += s.a;
                }
            }
            Rgba& p = pixels[static_cast<size_t>(py) * size + px];
            if (sum.a > 0) {
                p.r = sum.r / sum.a * 255;
                p.g = sum.g / sum.a * 255;
                p.b = sum.b / sum.a * 255;
            }
            p.a = sum.a / (kSamples * kSamples) * 255;
        }
    }
    return pixels;
}

uint8_t Channel(double v) {
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

// The 8-bit palette: a 6 x 6 x 6 colour cube, 24 steps of the background gradient and 16
// steps from the background's middle to white, for the smoothed edges of the ring.
std::vector<Rgba> Palette() {
    std::vector<Rgba> palette;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.push_back({r * 51.0, g * 51.0, b * 51.0, 255});
    for (int i = 0; i < 24; ++i) {
        Rgba c = Background(i / 23.0);
        palette.push_back({c.r * 255, c.g * 255, c.b * 255, 255});
    }
    Rgba middle = Background(0.5);
    for (int i = 1; i <= 16; ++i) {
        double w = i / 17.0;
        palette.push_back({255 * (middle.r + (1 - middle.r) * w),
                           255 * (middle.g + (1 - middle.g) * w),
                           255 * (middle.b + (1 - middle.b) * w), 255});
    }
    return palette;
}

uint8_t Nearest(const std::vector<Rgba>& palette, const Rgba& p) {
    size_t best = 0;
    double bestDistance = 1e300;
    for (size_t i = 0; i < palette.size(); ++i) {
        double dr = palette[i].r - p.r, dg = palette[i].g - p.g, db = palette[i].b - p.b;
        double d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

size_t RowBytes(int bitsPerRow) {
    return static_cast<size_t>((bitsPerRow + 31) / 32 * 4);
}

// One image as stored in an icon file: the bitmap header (with the height doubled for the
// mask), the palette, the colour rows bottom-up, then the transparency mask rows bottom-up.
Bytes EncodeImage(const std::vector<Rgba>& pixels, int size, int bitCount) {
    const std::vector<Rgba> palette = Palette();
    size_t colourRow = RowBytes(size * bitCount);
    size_t maskRow = RowBytes(size);
    size_t imageSize = (colourRow + maskRow) * size;
    Bytes out;
    Put32(out, 40);
    Put32(out, size);
    Put32(out, 2 * size);
    Put16(out, 1);
    Put16(out, bitCount);
    Put32(out, 0);  // BI_RGB
    Put32(out, static_cast<uint32_t>(imageSize));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    if (bitCount == 8) {
        for (const Rgba& c : palette) {
            out.push_back(Channel(c.b));
            out.push_back(Channel(c.g));
            out.push_back(Channel(c.r));
            out.push_back(0);
        }
    }
    for (int y = size - 1; y >= 0; --y) {
        size_t start = out.size();
        for (int x = 0; x < size; ++x) {
            const Rgba& p = pixels[static_cast<size_t>(y) * size + x];
            if (bitCount == 32) {
                out.push_back(Channel(p.b));
                out.push_back(Channel(p.g));
                out.push_back(Channel(p.r));
                out.push_back(Channel(p.a));
            } else {
                out.push_back(p.a >= 128 ? Nearest(palette, p) : 0);
            }
        }
        out.resize(start + colourRow, 0);
    }
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(maskRow, 0);
        for (int x = 0; x < size; ++x) {
            if (pixels[static_cast<size_t>(y) * size + x].a < 128)
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
        return 2;
    }
    const int sizes[] = {16, 32, 48};
    const int bitCounts[] = {8, 32};
    std::vector<Bytes> images;
    std::vector<int> imageSizes, imageBits;
    for (int bits : bitCounts) {
        for (int size : sizes) {
            images.push_back(EncodeImage(Render(size), size, bits));
            imageSizes.push_back(size);
            imageBits.push_back(bits);
        }
    }
    for (int size : {64, 256}) {
        images.push_back(EncodeImage(Render(size), size, 32));
        imageSizes.push_back(size);
        imageBits.push_back(32);
    }
    Bytes file;
    Put16(file, 0);
    Put16(file, 1);  // an icon
    Put16(file, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        // A side of 256 is written as 0.
        file.push_back(static_cast<uint8_t>(imageSizes[i] & 0xFF));
        file.push_back(static_cast<uint8_t>(imageSizes[i] & 0xFF));
        file.push_back(0);  // colour count: 0 for 256 colours and more
        file.push_back(0);
        Put16(file, 1);
        Put16(file, static_cast<uint32_t>(imageBits[i]));
        Put32(file, static_cast<uint32_t>(images[i].size()));
        Put32(file, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const Bytes& image : images)
        file.insert(file.end(), image.begin(), image.end());

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
