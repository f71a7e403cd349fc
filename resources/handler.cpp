#include "resources/handler.h"

#include <algorithm>

#include "base/bytes.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

// The how-manieth time `key` comes up in the resource, from 1.
uint32_t Occurrence(ResourceContext& ctx, ItemKey key) {
    return key.text.empty() ? CountOccurrence(ctx.occurrences, key.number) : 1;
}

size_t SlotOf(const OccurrenceCounts& counts, uint32_t key) {
    size_t mask = counts.slots.size() - 1;
    uint32_t hash = key * 0x9E3779B1u;
    size_t i = (hash ^ (hash >> 16)) & mask;
    while (counts.slots[i].count != 0 && counts.slots[i].key != key)
        i = (i + 1) & mask;
    return i;
}

void FormKey(ResourceContext& ctx, ItemKey key, uint32_t occurrence) {
    ctx.key.assign(ctx.keyPath);
    AppendItemKey(ctx.key, key);
    if (occurrence > 1) {
        ctx.key.push_back(u'#');
        AppendDecimal(ctx.key, occurrence);
    }
}

}  // namespace

uint32_t CountOccurrence(OccurrenceCounts& counts, uint32_t key) {
    if (2 * (counts.used.size() + 1) > counts.slots.size()) {
        // Twice the room: the taken slots move to their places in the larger table.
        std::vector<OccurrenceCounts::Slot> old(std::max<size_t>(32, 2 * counts.slots.size()));
        old.swap(counts.slots);
        std::vector<uint32_t> taken;
        taken.swap(counts.used);
        for (uint32_t i : taken) {
            size_t at = SlotOf(counts, old[i].key);
            counts.slots[at] = old[i];
            counts.used.push_back(static_cast<uint32_t>(at));
        }
    }
    size_t at = SlotOf(counts, key);
    OccurrenceCounts::Slot& slot = counts.slots[at];
    if (slot.count == 0) {
        slot.key = key;
        counts.used.push_back(static_cast<uint32_t>(at));
    }
    return ++slot.count;
}

void ClearOccurrences(OccurrenceCounts& counts) {
    for (uint32_t i : counts.used)
        counts.slots[i] = OccurrenceCounts::Slot{};
    counts.used.clear();
}

void AppendItemKey(std::u16string& out, ItemKey key) {
    if (key.text.empty())
        AppendDecimal(out, key.number);
    else
        out.append(key.text);
}

void ExportText(ResourceContext& ctx, ItemKey key, std::u16string_view text) {
    uint32_t occurrence = Occurrence(ctx, key);
    if ((text.empty() && occurrence == 1) || ctx.sink == nullptr)
        return;
    FormKey(ctx, key, occurrence);
    (*ctx.sink)(TextItem{ctx.key, text, ctx.place, ctx.group, &ctx.resource, ctx.role, ctx.control,
                         key.number});
}

void ExportText(ResourceContext& ctx, ItemKey key, const uint8_t* text, size_t available,
                int32_t count) {
    ExportText(ctx, key, ReadUnitsLE(text, available, count, ctx.text));
}

bool LookUpText(ResourceContext& ctx, ItemKey key, bool sourceEmpty) {
    uint32_t occurrence = Occurrence(ctx, key);
    if (ctx.source == nullptr || !*ctx.source || (sourceEmpty && occurrence == 1))
        return false;
    if (occurrence > 1) {
        FormKey(ctx, key, occurrence);
        ctx.text.clear();
        if ((*ctx.source)(ctx.key, ctx.text))
            return true;
    }
    FormKey(ctx, key, 1);
    ctx.text.clear();
    return (*ctx.source)(ctx.key, ctx.text);
}

size_t ImportText(ResourceContext& ctx, ItemKey key, const uint8_t* text, size_t available,
                  int32_t count) {
    bool sourceEmpty = available == 0 || count == 0 || Load16(text) == 0;
    if (LookUpText(ctx, key, sourceEmpty)) {
        AppendUnits(*ctx.writer, ctx.text);
        Append16(*ctx.writer, 0);
        return ctx.text.size() + 1;
    }
    size_t units;
    if (count >= 0) {
        units = std::min(available, static_cast<size_t>(count));
    } else {
        CheckedReader in{std::span(text, 2 * available)};
        in.TextOrRest();
        units = in.pos / 2;  // with the terminating zero, when the text has one
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

bool IsRightToLeftLanguage(uint32_t language) {
    uint32_t primary = language & 0x3FF;
    uint32_t sub = (language >> 10) & 0x3F;
    switch (primary) {
        case 0x01:  // Arabic
        case 0x0D:  // Hebrew
        case 0x20:  // Urdu
        case 0x29:  // Persian
        case 0x3D:  // Yiddish
        case 0x5A:  // Syriac
        case 0x63:  // Pashto
        case 0x65:  // Divehi
        case 0x80:  // Uyghur
        case 0x8C:  // Dari
        case 0x92:  // Central Kurdish
            return true;
        case 0x46:  // Punjabi: Pakistan (0x0846) and the Arabic script (0x7C46)
            return sub == 0x02 || sub == 0x1F;
        case 0x59:  // Sindhi: all but Devanagari (0x0459)
            return sub != 0x01;
        case 0x5F:  // Tamazight: the Arabic script, Morocco (0x045F)
            return sub == 0x01;
        case 0x60:  // Kashmiri: all but Devanagari (0x0860)
            return sub != 0x02;
        default:
            return false;
    }
}

}  // namespace quelvar
