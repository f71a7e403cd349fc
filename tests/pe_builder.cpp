#include "pe_builder.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>

#include "exchange/language_file.h"

namespace quelvar::test {

uint16_t Get16(const Bytes& b, size_t at) {
    if (at + 2 > b.size())
        throw std::runtime_error("read past end");
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Get32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(Get16(b, at)) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

void Put(Bytes& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutText(Bytes& b, std::u16string_view s) {
    for (char16_t c : s)
        Put(b, c, 2);
    Put(b, 0, 2);
}

Bytes Utf16(std::u16string_view text) {
    Bytes out;
    for (char16_t u : text) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

Bytes LanguageFile(std::u16string_view text) {
    Bytes out = {0xFF, 0xFE};
    Bytes body = Utf16(text);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::u16string LanguageText(const Bytes& file) {
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xFE)
        throw std::runtime_error("no byte-order mark");
    std::u16string out;
    for (size_t i = 2; i + 1 < file.size(); i += 2)
        out.push_back(static_cast<char16_t>(Get16(file, i)));
    return out;
}

namespace {

bool SameId(const ResId& a, const ResId& b) {
    return a.name == b.name && (!a.name.empty() || a.id == b.id);
}

// Ordered unique ids, named ones first.
std::vector<ResId> Distinct(const std::vector<ResId>& ids) {
    std::vector<ResId> out;
    for (bool named : {true, false})
        for (const ResId& id : ids)
            if (!id.name.empty() == named &&
                std::none_of(out.begin(), out.end(), [&](const ResId& o) { return SameId(o, id); }))
                out.push_back(id);
    return out;
}

size_t Align(size_t v, size_t a) {
    return (v + a - 1) / a * a;
}

}  // namespace

Bytes BuildResourceSection(const std::vector<Resource>& resources, uint32_t sectionRva) {
    struct Dir {
        std::vector<ResId> ids;
        std::vector<size_t> targets;  // index of subdirectory or resource
        bool leaf = false;
        size_t offset = 0;
    };
    std::vector<Dir> dirs;
    std::vector<ResId> types;
    for (const auto& r : resources)
        types.push_back(r.type);
    types = Distinct(types);
    dirs.push_back(Dir{types, {}, false, 0});
    std::vector<size_t> typeDirs, nameDirs;
    // Breadth first: root, type directories, then language directories.
    for (const ResId& t : types) {
        std::vector<ResId> names;
        for (const auto& r : resources)
            if (SameId(r.type, t))
                names.push_back(r.name);
        dirs[0].targets.push_back(dirs.size());
        typeDirs.push_back(dirs.size());
        dirs.push_back(Dir{Distinct(names), {}, false, 0});
    }
    for (size_t ti = 0; ti < types.size(); ++ti) {
        Dir& td = dirs[typeDirs[ti]];
        for (const ResId& n : td.ids) {
            Dir lang;
            lang.leaf = true;
            for (size_t i = 0; i < resources.size(); ++i)
                if (SameId(resources[i].type, types[ti]) && SameId(resources[i].name, n)) {
                    lang.ids.push_back(Id(resources[i].language));
                    lang.targets.push_back(i);
                }
            dirs[typeDirs[ti]].targets.push_back(dirs.size());
            dirs.push_back(lang);
        }
    }
    size_t at = 0;
    for (Dir& d : dirs) {
        d.offset = at;
        at += 16 + 8 * d.ids.size();
    }
    std::vector<size_t> dataEntry(resources.size());
    for (size_t i = 0; i < resources.size(); ++i) {
        dataEntry[i] = at;
        at += 16;
    }
    Bytes out(at, 0);
    auto putName = [&](const ResId& id) -> uint32_t {
        if (id.name.empty())
            return id.id;
        size_t o = out.size();
        Put16(out, o, static_cast<uint16_t>(id.name.size()));
        Bytes u = Utf16(id.name);
        out.insert(out.end(), u.begin(), u.end());
        return 0x80000000u | static_cast<uint32_t>(o);
    };
    for (Dir& d : dirs) {
        size_t named = std::count_if(d.ids.begin(), d.ids.end(),
                                     [](const ResId& i) { return !i.name.empty(); });
        Put16(out, d.offset + 12, static_cast<uint16_t>(named));
        Put16(out, d.offset + 14, static_cast<uint16_t>(d.ids.size() - named));
        for (size_t i = 0; i < d.ids.size(); ++i) {
            size_t e = d.offset + 16 + 8 * i;
            Put32(out, e, putName(d.ids[i]));
            if (d.leaf)
                Put32(out, e + 4, static_cast<uint32_t>(dataEntry[d.targets[i]]));
            else
                Put32(out, e + 4, 0x80000000u | static_cast<uint32_t>(dirs[d.targets[i]].offset));
        }
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        out.resize(Align(out.size(), 4));
        size_t o = out.size();
        out.insert(out.end(), resources[i].data.begin(), resources[i].data.end());
        Put32(out, dataEntry[i], sectionRva + static_cast<uint32_t>(o));
        Put32(out, dataEntry[i] + 4, static_cast<uint32_t>(resources[i].data.size()));
        Put32(out, dataEntry[i] + 8, resources[i].codePage);
    }
    return out;
}

Bytes BuildImageWithSection(const Bytes& section, const ImageOptions& o) {
    const bool plus = o.magic == 0x20B;
    const uint32_t optionalSize = plus ? 240 : 224;
    const uint16_t sections = o.sectionAfterResources ? 3 : 2;
    const uint32_t rawSize =
        static_cast<uint32_t>(Align(std::max<size_t>(section.size(), 1), o.fileAlignment));
    const uint32_t virtualSize =
        o.resourceVirtualSize ? o.resourceVirtualSize : static_cast<uint32_t>(section.size());
    const uint32_t rsrcSpan =
        static_cast<uint32_t>(Align(std::max(virtualSize, rawSize), o.sectionAlignment));
    const uint32_t relocRva = kResourceRva + rsrcSpan;
    const uint32_t relocRaw = kResourceRawPointer + rawSize;
    Bytes img(kResourceRawPointer, 0);
    img[0] = 'M';
    img[1] = 'Z';
    Put32(img, 60, kNtOffset);
    Put32(img, kNtOffset, 0x00004550);
    size_t fh = kNtOffset + 4;
    Put16(img, fh, plus ? 0x8664 : 0x14C);
    Put16(img, fh + 2, sections);
    Put16(img, fh + 16, static_cast<uint16_t>(optionalSize));
    Put16(img, fh + 18, 0x0102);
    size_t oh = fh + 20;
    Put16(img, oh, o.magic);
    Put32(img, oh + 16, 0x1000);  // AddressOfEntryPoint
    Put32(img, oh + 32, o.sectionAlignment);
    Put32(img, oh + 36, o.fileAlignment);
    Put16(img, oh + 40, 4);  // OS version
    Put16(img, oh + 48, 4);  // subsystem version
    uint32_t sizeOfImage = o.sectionAfterResources
                               ? relocRva + static_cast<uint32_t>(Align(0x200, o.sectionAlignment))
                               : kResourceRva + rsrcSpan;
    Put32(img, oh + 56, sizeOfImage);
    Put32(img, oh + 60, 0x200);  // SizeOfHeaders
    Put32(img, oh + 64, o.checkSum);
    Put16(img, oh + 68, 2);  // GUI
    size_t dirs = oh + (plus ? 112 : 96);
    Put32(img, dirs - 4, 16);
    Put32(img, dirs + 8 * 2, kResourceRva);
    Put32(img, dirs + 8 * 2 + 4, static_cast<uint32_t>(section.size()));
    if (o.sectionAfterResources) {
        Put32(img, dirs + 8 * 5, relocRva);
        Put32(img, dirs + 8 * 5 + 4, 8);
    }
    size_t sh = oh + optionalSize;
    auto header = [&](size_t at, const char* name, uint32_t vsize, uint32_t rva, uint32_t raw,
                      uint32_t ptr, uint32_t flags) {
        for (size_t i = 0; name[i] != 0 && i < 8; ++i)
            img[at + i] = static_cast<uint8_t>(name[i]);
        Put32(img, at + 8, vsize);
        Put32(img, at + 12, rva);
        Put32(img, at + 16, raw);
        Put32(img, at + 20, ptr);
        Put32(img, at + 36, flags);
    };
    header(sh, ".text", 0x10, 0x1000, 0x200, 0x200, 0x60000020);
    header(sh + 40, ".rsrc", virtualSize, kResourceRva, rawSize, kResourceRawPointer, 0x40000040);
    if (o.sectionAfterResources)
        header(sh + 80, ".reloc", 8, relocRva, 0x200, relocRaw, 0x42000040);
    std::fill(img.begin() + 0x200, img.begin() + 0x400, uint8_t{0xCC});
    img.insert(img.end(), section.begin(), section.end());
    img.resize(kResourceRawPointer + rawSize, 0);
    if (o.sectionAfterResources)
        img.resize(img.size() + 0x200, 0x5A);
    img.insert(img.end(), o.overlay.begin(), o.overlay.end());
    return img;
}

Bytes BuildImage(const std::vector<Resource>& resources, const ImageOptions& options) {
    return BuildImageWithSection(BuildResourceSection(resources, kResourceRva), options);
}

std::vector<ReadResource> ReadResources(const Bytes& image) {
    uint32_t nt = Get32(image, 60);
    if (Get32(image, nt) != 0x00004550)
        throw std::runtime_error("no PE signature");
    uint16_t sections = Get16(image, nt + 6);
    uint16_t optionalSize = Get16(image, nt + 20);
    size_t oh = nt + 24;
    bool plus = Get16(image, oh) == 0x20B;
    uint32_t rsrcRva = Get32(image, oh + (plus ? 112 : 96) + 16);
    uint32_t sizeOfImage = Get32(image, oh + 56);
    // Maps an RVA to a file offset through the section table.
    auto fileOffset = [&](uint32_t rva, uint32_t length) -> size_t {
        for (uint16_t i = 0; i < sections; ++i) {
            size_t h = oh + optionalSize + 40 * i;
            uint32_t va = Get32(image, h + 12), vs = Get32(image, h + 8),
                     raw = Get32(image, h + 16), ptr = Get32(image, h + 20);
            if (rva >= va && uint64_t{rva} + length <= uint64_t{va} + std::min(vs, raw)) {
                if (uint64_t{va} + vs > sizeOfImage)
                    throw std::runtime_error("section past SizeOfImage");
                size_t at = ptr + (rva - va);
                if (at + length > image.size())
                    throw std::runtime_error("data past end of file");
                return at;
            }
        }
        throw std::runtime_error("RVA in no section");
    };
    size_t root = fileOffset(rsrcRva, 16);
    std::vector<ReadResource> out;
    std::function<void(size_t, int, std::vector<std::u16string>&)> walk =
        [&](size_t dir, int depth, std::vector<std::u16string>& path) {
            if (depth > 2)
                throw std::runtime_error("tree too deep");
            size_t n = size_t{Get16(image, dir + 12)} + Get16(image, dir + 14);
            for (size_t i = 0; i < n; ++i) {
                size_t e = dir + 16 + 8 * i;
                uint32_t name = Get32(image, e), target = Get32(image, e + 4);
                std::u16string key;
                if (name & 0x80000000u) {
                    size_t s = root + (name & 0x7FFFFFFF);
                    uint16_t len = Get16(image, s);
                    for (size_t k = 0; k < len; ++k)
                        key.push_back(static_cast<char16_t>(Get16(image, s + 2 + 2 * k)));
                } else {
                    for (char c : std::to_string(name))
                        key.push_back(static_cast<char16_t>(c));
                }
                path.push_back(key);
                if (target & 0x80000000u) {
                    walk(root + (target & 0x7FFFFFFF), depth + 1, path);
                } else {
                    if (path.size() != 3)
                        throw std::runtime_error("data entry off the language level");
                    size_t de = root + target;
                    uint32_t rva = Get32(image, de), size = Get32(image, de + 4);
                    size_t at = size ? fileOffset(rva, size) : 0;
                    ReadResource r{path[0],
                                   path[1],
                                   path[2],
                                   Bytes(image.begin() + at, image.begin() + at + size),
                                   Get32(image, de + 8),
                                   rva};
                    out.push_back(std::move(r));
                }
                path.pop_back();
            }
        };
    std::vector<std::u16string> path;
    walk(root, 0, path);
    return out;
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
    std::random_device rd;
    path = std::filesystem::temp_directory_path() /
           ("quelvar-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path, ec);
}

std::filesystem::path SampleImageDir() {
#ifdef QUELVAR_SAMPLE_DIR
    return QUELVAR_SAMPLE_DIR;
#else
    return {};
#endif
}

void ForEachRealResource(const std::function<void(const std::filesystem::path& image,
                                                  const ReadResource& resource)>& visit) {
    std::vector<std::filesystem::path> images;
    std::error_code ec;
    for (const std::filesystem::path& dir :
         {SampleImageDir(), std::filesystem::path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")})
        if (!dir.empty() && std::filesystem::is_directory(dir, ec))
            for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
                if (entry.is_regular_file(ec))
                    images.push_back(entry.path());
    for (const std::filesystem::path& image : images) {
        Bytes bytes = ReadFileBytes(image);
        if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z')
            continue;
        std::vector<ReadResource> resources;
        try {
            resources = ReadResources(bytes);
        } catch (const std::exception&) {
            continue;  // no resources
        }
        for (const ReadResource& r : resources)
            visit(image, r);
    }
}

Bytes StringBlock(const std::vector<std::u16string>& strings) {
    Bytes out;
    for (size_t k = 0; k < 16; ++k) {
        std::u16string s = k < strings.size() ? strings[k] : u"";
        Put16(out, out.size(), static_cast<uint16_t>(s.size()));
        Bytes units = Utf16(s);
        out.insert(out.end(), units.begin(), units.end());
    }
    return out;
}

Bytes CaptionDialog(std::u16string_view caption) {
    Bytes b(22, 0);
    Put32(b, 0, 0x80C00000);  // WS_POPUP | WS_CAPTION
    Bytes text = Utf16(caption);
    b.insert(b.end(), text.begin(), text.end());
    b.insert(b.end(), {0, 0});
    return b;
}

std::vector<ExportedText> ExportItems(ResourceHandler handler, std::span<const uint8_t> data,
                                      std::u16string_view keyPath, uint32_t dataRva,
                                      uint32_t nameId) {
    std::vector<ExportedText> items;
    TextSink sink = [&items](const TextItem& item) {
        items.push_back({std::u16string(item.key), std::u16string(item.text),
                         std::u16string(item.place), item.group});
    };
    ResourceContext ctx;
    ctx.nameId = nameId;
    ctx.dataRva = dataRva;
    ctx.keyPath = keyPath;
    ctx.sink = &sink;
    ctx.describe = true;
    handler(ctx, data);
    return items;
}

std::u16string ExportWith(ResourceHandler handler, std::span<const uint8_t> data,
                          std::u16string_view keyPath, uint32_t dataRva, uint32_t nameId) {
    std::u16string lines;
    for (const ExportedText& item : ExportItems(handler, data, keyPath, dataRva, nameId))
        AppendLanguageLine(lines, TextItem{item.key, item.text, item.place, item.group});
    return lines;
}

Bytes ImportAs(ResourceHandler handler, std::span<const uint8_t> data, std::u16string_view keyPath,
               std::u16string_view lines, ResourceContext ctx, size_t start) {
    Bytes file = LanguageFile(lines);
    LanguageTable table;
    if (!ParseLanguageFile(file.data(), file.size(), table))
        throw std::runtime_error("not a language file");
    TextSource source = LanguageFileSource(table);
    SectionWriter writer;
    writer.bytes.assign(start, 0xCC);
    ctx.keyPath = keyPath;
    ctx.source = &source;
    ctx.writer = &writer;
    handler(ctx, data);
    return Bytes(writer.bytes.begin() + static_cast<ptrdiff_t>(start), writer.bytes.end());
}

Bytes ImportWith(ResourceHandler handler, std::span<const uint8_t> data,
                 std::u16string_view keyPath, std::u16string_view lines, uint32_t dataRva,
                 size_t start, uint32_t nameId) {
    ResourceContext ctx;
    ctx.nameId = nameId;
    ctx.dataRva = dataRva;
    return ImportAs(handler, data, keyPath, lines, std::move(ctx), start);
}

uint32_t ImageChecksum(std::span<const uint8_t> image, size_t checkSumOffset) {
    // The two words at the even offsets from checkSumOffset to 4 bytes past it count as zero.
    size_t skipStart = checkSumOffset + (checkSumOffset & 1);
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i >= skipStart && i < skipStart + 4)
            continue;
        sum += i + 1 < image.size() ? Load16(image.data() + i) : image[i];
    }
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

}  // namespace quelvar::test
