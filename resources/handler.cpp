#include "resources/handler.h"

#include "base/bytes.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

void FormKey(ResourceContext& ctx, ItemKey key) {
    ctx.key.assign(ctx.keyPath);
    AppendItemKey(ctx.key, key);
}

}  // namespace

void AppendItemKey(std::u16string& out, ItemKey key) {
    if (key.text.empty())
        AppendDecimal(out, key.number);
    else
        out.append(key.text);
}

void ExportText(ResourceContext& ctx, ItemKey key, std::u16string_view text) {
    if (text.empty() || ctx.sink == nullptr)
        return;
    FormKey(ctx, key);
    (*ctx.sink)(TextItem{ctx.key, text, ctx.place, ctx.group, &ctx.resource});
}

void ExportText(ResourceContext& ctx, ItemKey key, const uint8_t* text, size_t available,
                int32_t count) {
    ExportText(ctx, key, ReadUnitsLE(text, available, count, ctx.text));
}

bool LookUpText(ResourceContext& ctx, ItemKey key) {
    if (ctx.source == nullptr || !*ctx.source)
        return false;
    FormKey(ctx, key);
    ctx.text.clear();
    return (*ctx.source)(ctx.key, ctx.text);
}

size_t ImportText(ResourceContext& ctx, ItemKey key, const uint8_t* text, size_t available,
                  int32_t count) {
    if (LookUpText(ctx, key)) {
        AppendUnits(*ctx.writer, ctx.text);
        Append16(*ctx.writer, 0);
        return ctx.text.size() + 1;
    }
    size_t units;
    if (count >= 0) {
        units = std::min(available, static_cast<size_t>(count));
    } else {
        units = 0;
        while (units < available && Load16(text + 2 * units) != 0)
            ++units;
        if (units < available)
            ++units;  // the terminating zero
    }
    Append(*ctx.writer, std::span(text, 2 * units));
    if (count < 0 && (units == 0 || Load16(text + 2 * (units - 1)) != 0)) {
        Append16(*ctx.writer, 0);  // the source text ran out before its zero
        ++units;
    }
    return units;
}

void CopyUnchanged(ResourceContext& ctx, std::span<const uint8_t> bytes) {
    if (IsImport(ctx))
        Append(*ctx.writer, bytes);
}

void Notify(const ResourceContext& ctx, const Notice& notice) {
    if (ctx.notify != nullptr && *ctx.notify)
        (*ctx.notify)(notice);
}

size_t SourceAlign4(const ResourceContext& ctx, size_t offset) {
    uint64_t at = uint64_t{ctx.dataRva} + offset;
    return offset + static_cast<size_t>((4 - at % 4) % 4);
}

}  // namespace quelvar
