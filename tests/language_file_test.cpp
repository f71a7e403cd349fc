// The language file: escapes, exact matching, first line wins, the byte-order mark rule, and
// files that are damaged or written by hand.
#include <gtest/gtest.h>

#include "base/utf16.h"
#include "driver/language_io.h"
#include "exchange/language_file.h"
#include "pe_builder.h"
#include "platform/platform.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::LanguageFile;
using test::Utf16;

LanguageTable Parse(std::u16string_view text) {
    LanguageTable table;
    EXPECT_TRUE(ParseLanguageFile(LanguageFile(text), table));
    return table;
}

std::u16string Utf16Key(int i) {
    std::u16string out;
    AppendDecimal(out, i);
    return out;
}

std::u16string Find(const LanguageTable& t, std::u16string_view key) {
    auto v = FindValue(t, key);
    std::u16string value;
    if (v)
        AppendUnits(value, *v);
    return v ? value : u"<none>";
}

// Export of one text under key path "6.1." into an in-memory line buffer.
std::u16string Emit(std::u16string_view text, int32_t count, ItemKey key = NumberKey(0)) {
    std::u16string out;
    TextSink sink = [&out](const TextItem& item) { AppendLanguageLine(out, item); };
    ResourceContext ctx;
    ctx.keyPath = u"6.1.";
    ctx.sink = &sink;
    Bytes units = Utf16(text);
    ExportText(ctx, key, units.data(), text.size(), count);
    return out;
}

struct Substituted {
    int32_t result;
    std::u16string units;
};

Substituted Substitute(const LanguageTable* table, std::u16string_view source, int32_t count,
                       size_t available) {
    TextSource from = table != nullptr ? LanguageFileSource(*table) : TextSource();
    SectionWriter writer;
    ResourceContext ctx;
    ctx.keyPath = u"6.32.";
    ctx.source = &from;
    ctx.writer = &writer;
    Bytes units = Utf16(source);
    size_t r = ImportText(ctx, NumberKey(500), units.data(), available, count);
    Substituted s{static_cast<int32_t>(r), {}};
    for (size_t i = 0; i + 1 < writer.bytes.size(); i += 2)
        s.units.push_back(static_cast<char16_t>(test::Get16(writer.bytes, i)));
    return s;
}

TEST(LanguageFile, EscapesRoundTrip) {
    std::u16string text = u"a\\b\r\nc";
    std::u16string line = Emit(text, -1);
    EXPECT_EQ(line, u"6.1.0=a\\\\b\\r\\nc\r\n");

    LanguageTable table = Parse(u"6.32.500=a\\\\b\\r\\nc\r\n");
    Substituted s = Substitute(&table, u"x", -1, 2);
    EXPECT_EQ(s.result, 7);
    EXPECT_EQ(s.units, std::u16string(u"a\\b\r\nc") + u'\0');

    EXPECT_EQ(DecodeValue(u"\\t\\N\\\\\\R"), u"tN\\R");
    // A value that ends in a lone backslash keeps it.
    EXPECT_EQ(DecodeValue(u"path\\"), u"path\\");
    // Other units, "=" and TAB among them, are written as they are.
    EXPECT_EQ(Emit(u"x=y\tz", -1), u"6.1.0=x=y\tz\r\n");
}

TEST(LanguageFile, EmitRespectsCountsAndZeros) {
    EXPECT_EQ(Emit(u"", -1), u"");
    EXPECT_EQ(Emit(std::u16string(u"\0abc", 4), -1), u"");
    EXPECT_EQ(Emit(u"abc", 0), u"");
    EXPECT_EQ(Emit(u"abc", 2), u"6.1.0=ab\r\n");
    EXPECT_EQ(Emit(std::u16string(u"abc\0", 4), 4), u"6.1.0=abc\r\n");
    EXPECT_EQ(Emit(std::u16string(u"abc\0def", 7), 7), u"6.1.0=abc\r\n");
    EXPECT_EQ(Emit(u"Hi", -1, TextKey(u"HEAD")), u"6.1.HEAD=Hi\r\n");
    EXPECT_EQ(Emit(u"Hi", -1, NumberKey(65535)), u"6.1.65535=Hi\r\n");
}

TEST(LanguageFile, LinesLongerThanTheKeyPathBufferAreWrittenWhole) {
    std::u16string text(5000, u'\\');
    std::u16string line = Emit(text, -1);
    EXPECT_EQ(line.size(), 6 + 10000 + 2u);
}

TEST(LanguageFile, SubstituteFallsBackToTheSourceText) {
    LanguageTable empty = Parse(u"");
    Substituted open = Substitute(&empty, std::u16string(u"Open\0", 5), -1, 5);
    EXPECT_EQ(open.result, 5);
    EXPECT_EQ(open.units, std::u16string(u"Open\0", 5));

    Substituted counted = Substitute(&empty, u"abc", 3, 3);
    EXPECT_EQ(counted.result, 3);
    EXPECT_EQ(counted.units, u"abc");

    // A zero-terminated source that runs out before its zero still gets one.
    Substituted cut = Substitute(&empty, u"ab", -1, 2);
    EXPECT_EQ(cut.result, 3);
    EXPECT_EQ(cut.units, std::u16string(u"ab\0", 3));

    LanguageTable emptyValue = Parse(u"6.32.500=\r\n");
    Substituted e = Substitute(&emptyValue, u"abc", 3, 3);
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.units, std::u16string(1, u'\0'));
}

TEST(LanguageFile, MatchingIsExact) {
    LanguageTable t =
        Parse(u"6.32.500 =space\r\n6.32.5000=longer\r\n6.32.50=shorter\r\n5.200.head=lower\r\n");
    EXPECT_EQ(Find(t, u"6.32.500"), u"<none>");
    EXPECT_EQ(Find(t, u"5.200.HEAD"), u"<none>");
    EXPECT_EQ(Find(t, u"6.32.5000"), u"longer");
    EXPECT_EQ(Find(t, u"6.32.50"), u"shorter");
}

TEST(LanguageFile, FirstLineWins) {
    LanguageTable t = Parse(u"6.1.0=first\r\n6.1.0=second\r\n");
    EXPECT_EQ(Find(t, u"6.1.0"), u"first");
}

TEST(LanguageFile, KeysMayHoldEqualsSigns) {
    // A resource named "a=b" gives keys with "=": the line answers both readings of it.
    LanguageTable t = Parse(u"5.a=b.HEAD=Title\r\n");
    EXPECT_EQ(Find(t, u"5.a=b.HEAD"), u"Title");
    EXPECT_EQ(Find(t, u"5.a"), u"b.HEAD=Title");

    // Later lines that share the start of earlier ones: each key still goes to its first line,
    // also where the keys before it came from other lines.
    LanguageTable u = Parse(u"x=1\r\nx=y=2\r\nx=y=z=3\r\nx=y=w=4\r\nx=y=z=5=\r\nxx=y=6\r\n");
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"x", u"1"},         {u"x=y", u"2"},   {u"x=y=z", u"3"}, {u"x=y=w", u"4"},
        {u"x=y=z=5", u""},    {u"xx", u"y=6"},  {u"xx=y", u"6"},  {u"x=y=z=3", u"<none>"},
        {u"x=y=", u"<none>"}, {u"y", u"<none>"}};
    for (const auto& [key, value] : cases)
        EXPECT_EQ(Find(u, key), value) << std::string(key.begin(), key.end());

    // Many "=" in one line: every prefix before one is a key.
    std::u16string line(5000, u'=');
    LanguageTable many = Parse(line + u"\r\n" + line + u"\r\n");
    EXPECT_EQ(many.entries, 5000u);
    EXPECT_EQ(Find(many, std::u16string(4999, u'=')), u"");
    EXPECT_EQ(Find(many, std::u16string(1234, u'=')), std::u16string(5000 - 1235, u'='));
}

TEST(LanguageFile, ByteOrderMarkIsRequired) {
    LanguageTable t;
    const uint8_t none[] = {0};
    EXPECT_FALSE(ParseLanguageFile(none, 0, t));
    const uint8_t bigEndian[] = {0xFE, 0xFF, 0, 'L'};
    EXPECT_FALSE(ParseLanguageFile(bigEndian, 4, t));
    const uint8_t utf8[] = {0xEF, 0xBB, 0xBF, 'L', '='};
    EXPECT_FALSE(ParseLanguageFile(utf8, 5, t));
    const uint8_t markOnly[] = {0xFF, 0xFE};
    ASSERT_TRUE(ParseLanguageFile(markOnly, 2, t));
    EXPECT_EQ(t.entries, 0u);
}

TEST(LanguageFile, DamagedAndHandWrittenFiles) {
    // The last line without a line end is not read; LF alone ends a line and its value; a raw
    // CR ends the value; blank lines and lines without "=" are ignored.
    LanguageTable t = Parse(u"\r\nnoequals\r\na=1\nb=2\rjunk\r\nc=3");
    EXPECT_EQ(Find(t, u"a"), u"1");
    EXPECT_EQ(Find(t, u"b"), u"2");
    EXPECT_EQ(Find(t, u"c"), u"<none>");

    // A line that begins with 0xFFFF ends the table.
    std::u16string text = u"a=1\r\n";
    text += char16_t{0xFFFF};
    text += u"x\r\nb=2\r\n";
    LanguageTable end = Parse(text);
    EXPECT_EQ(Find(end, u"a"), u"1");
    EXPECT_EQ(Find(end, u"b"), u"<none>");

    // An odd last byte is no unit.
    Bytes odd = LanguageFile(u"a=1\r\n");
    odd.push_back('x');
    LanguageTable oddTable;
    ASSERT_TRUE(ParseLanguageFile(odd.data(), odd.size(), oddTable));
    EXPECT_EQ(Find(oddTable, u"a"), u"1");
}

// The scanners test units eight (or four) at a time: every unit that ends a key, a text or
// a line, and every escape, is placed at each offset of a block, with the file's last line
// without LF and an odd last byte.
TEST(LanguageFile, UnitsAtEveryOffsetOfABlock) {
    for (size_t pad = 0; pad < 18; ++pad) {
        std::u16string key(pad, u'k');
        std::u16string value = std::u16string(pad % 5, u'v') + u"a\\\\b\\nc";
        Bytes file = LanguageFile(key + u"=" + value + u"\r\n" + key + u"x=y=" + value +
                                  u"\rjunk=1\n" + key + u"z=last");
        if (pad % 2)
            file.push_back('x');
        LanguageTable t;
        ASSERT_TRUE(ParseLanguageFile(file.data(), file.size(), t));
        EXPECT_EQ(Find(t, key), value) << pad;
        EXPECT_EQ(Find(t, key + u"x"), u"y=" + value) << pad;
        EXPECT_EQ(Find(t, key + u"x=y"), value) << pad;
        EXPECT_EQ(Find(t, key + u"z"), u"<none>") << pad;
        EXPECT_EQ(t.entries, 3u) << pad;  // nothing after the CR
        std::u16string text;
        ASSERT_TRUE(LanguageFileSource(t)(key, text));
        EXPECT_EQ(text, std::u16string(pad % 5, u'v') + u"a\\b\nc") << pad;

        // Export: escapes and a zero at every offset.
        std::u16string source = std::u16string(pad, u's') + u"\\\r\n" + u'\0' + u"tail";
        EXPECT_EQ(Emit(source, -1), u"6.1.0=" + std::u16string(pad, u's') + u"\\\\\\r\\n\r\n")
            << pad;
    }
    // More "=" than a lane of the counter takes in one round.
    std::u16string line(8 * 8192 + 3, u'=');
    EXPECT_EQ(Parse(line + u"\r\n").entries, line.size());
}

// The index points into the bytes as loaded: parsed from memory, mapped from a file, or read
// from an open file as standard input is; each table still answers after it has been moved.
TEST(LanguageFile, LookupsWhereTheBytesLie) {
    struct Row {
        std::u16string_view file, key, text;  // text: the decoded value, or <none>
    } rows[] = {
        {u"6.1.10=a\r\n6.1.11=b\r\n", u"6.1.11", u"b"},  // keys differing in the last unit
        {u"6.1.10=a\r\n6.1.11=b\r\n", u"6.1.1", u"<none>"},
        {u"abcdefghijklmnop=1\r\nabcdefghijklmnoq=2\r\n", u"abcdefghijklmnoq", u"2"},
        {u"k=\u00DC\\n\u20AC\\\r\n", u"k", u"\u00DC\n\u20AC\\"},   // a lone backslash ends it
        {u"k=abcdefghijklmno\\\r\n", u"k", u"abcdefghijklmno\\"},  // ...as the last of a block
        {u"\u0100=x\r\n", u"\u0001", u"<none>"},                   // bytes of a unit swapped
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        Bytes bytes = LanguageFile(row.file);
        test::WriteFileBytes(dir / "t.lng", bytes);
        std::unique_ptr<platform::FileView> view;  // the mapping, which outlives the tables
        LanguageTable loaded[3];
        EXPECT_TRUE(ParseLanguageFile(bytes, loaded[0]));
        EXPECT_TRUE(LoadLanguageFile(dir / "t.lng", loaded[1], view));
        platform::File file;
        ASSERT_EQ(platform::OpenForReading(dir / "t.lng", file), kSuccess);
        Result code = kSuccess;
        EXPECT_EQ(LoadLanguageFile(file, loaded[2], code), LanguageFileFault::None);
        for (LanguageTable& t : loaded) {
            LanguageTable moved = std::move(t);
            std::u16string text;
            EXPECT_EQ(LanguageFileSource(moved)(row.key, text) ? text : u"<none>", row.text)
                << ToUtf8(row.file);
        }
    }
}

// The source tries the key after the one it found last before the index: every guess that
// is not the key asked for must fall through to the index.
TEST(LanguageFile, LookupsInAndOutOfFileOrder) {
    LanguageTable t = Parse(u"a=1\r\na=dup\r\nab=2\r\nab=c=3\r\nb=4\r\n");
    TextSource source = LanguageFileSource(t);
    struct Row {
        std::u16string_view key, text;
    } rows[] = {
        {u"a", u"1"},        // the first line of a key, not its duplicate after it
        {u"a", u"1"},        // the same key again: the guess "ab" starts with it
        {u"ab", u"2"},       //
        {u"ab=c", u"3"},     // a key of a line's second "=", which is the guess
        {u"b", u"4"},        // at the end of the keys
        {u"ab", u"2"},       // backwards
        {u"a", u"1"},        //
        {u"a=", u"<none>"},  // the guess "ab" and the key "a" each start it
        {u"", u"<none>"},    //
    };
    for (const Row& row : rows) {
        std::u16string text;
        EXPECT_EQ(source(row.key, text) ? text : u"<none>", row.text) << ToUtf8(row.key);
    }
}

// Lookups through a mapped file give back its pages behind them; a line asked for again after
// its pages went reads the same. Pages given back past the end or twice change nothing.
TEST(LanguageFile, PagesGivenBackAreReadAgain) {
    std::u16string text;
    auto key = [](int i) { return u"6.1." + Utf16Key(i); };
    for (int i = 0; i < 40000; ++i)
        text += key(i) + u"=value " + Utf16Key(i) + u"\\\r\n";  // about 2 MB
    test::TempDir dir;
    test::WriteFileBytes(dir / "big.lng", LanguageFile(text));
    LanguageTable t;
    std::unique_ptr<platform::FileView> view;
    ASSERT_TRUE(LoadLanguageFile(dir / "big.lng", t, view));
    ASSERT_TRUE(view);
    platform::ReleasePages(*view, view->size + 5, 10);
    platform::ReleasePages(*view, 4097, UINT64_MAX);
    TextSource source = LanguageSource(t, view.get());
    auto found = [&](int i) {
        std::u16string value;
        return source(key(i), value) && value == u"value " + Utf16Key(i) + u"\\";
    };
    for (int i = 0; i < 40000; ++i)  // in the file's order: the pages behind go
        ASSERT_TRUE(found(i)) << i;
    for (int i : {0, 1, 20000, 39999, 0})
        EXPECT_TRUE(found(i)) << i;
}

// A source tells of the bytes its lookups have passed, from the file's start, a megabyte or
// more at a time and never of the line it just found; lookups backwards tell of nothing.
TEST(LanguageFile, LookupsTellOfTheBytesPassed) {
    std::u16string text;
    auto key = [](int i) { return u"6.1." + Utf16Key(i); };
    std::vector<uint64_t> lineStarts;  // in the file's bytes, the mark included
    for (int i = 0; i < 60000; ++i) {
        lineStarts.push_back(2 + 2 * text.size());
        text += key(i) + u"=value " + Utf16Key(i) + u"\r\n";  // about 3 MB
    }
    LanguageTable t = Parse(text);
    std::vector<std::pair<uint64_t, uint64_t>> passed;
    TextSource source = LanguageFileSource(
        t, [&passed](uint64_t offset, uint64_t length) { passed.emplace_back(offset, length); });
    std::u16string value;
    for (int i = 0; i < 60000; ++i) {
        ASSERT_TRUE(source(key(i), value)) << i;
        ASSERT_TRUE(passed.empty() || passed.back().first + passed.back().second <= lineStarts[i])
            << i;
    }
    ASSERT_GE(passed.size(), 2u);
    uint64_t end = 0;
    for (auto [offset, length] : passed) {
        EXPECT_EQ(offset, end);
        EXPECT_GT(length, 1u << 20);
        end = offset + length;
    }
    EXPECT_GT(end, lineStarts.back() - (2u << 20));
    size_t told = passed.size();
    for (int i : {0, 30000, 59999})
        EXPECT_TRUE(source(key(i), value)) << i;
    EXPECT_EQ(passed.size(), told);
}

// Export hands the file to its sink in pieces as the texts arrive, not whole at the end; once
// the sink refuses bytes it is asked no more and the file fails with 29.
TEST(LanguageFile, WriterStreamsToItsSink) {
    const std::u16string text = std::u16string(20, u'x') + u"\r\n";
    std::vector<std::u16string> keys;
    for (int i = 0; i < 5000; ++i)
        keys.push_back(u"6.1." + Utf16Key(i));
    std::vector<TextItem> items;
    for (const std::u16string& key : keys)
        items.push_back(TextItem{key, text, {}, 0, nullptr});
    Bytes whole = {0xFF, 0xFE};
    std::u16string lines;
    for (const TextItem& item : items)
        AppendLanguageLine(lines, item);
    AppendUnitsLE(whole, lines);  // about 400 KB

    for (size_t refuseAt : {size_t{0}, size_t{1}, size_t{3}}) {  // 0: never refused
        Bytes written;
        size_t calls = 0, largest = 0;
        LanguageFileWriter writer;
        BeginLanguageFile(writer, [&](std::span<const uint8_t> bytes) {
            ++calls;
            largest = std::max(largest, bytes.size());
            if (calls == refuseAt)
                return false;
            written.insert(written.end(), bytes.begin(), bytes.end());
            return true;
        });
        size_t callsBeforeFinish = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            WriteLanguageLine(writer, items[i]);
            if (i + 1 == items.size())
                callsBeforeFinish = calls;
        }
        Result r = FinishLanguageFile(writer);
        if (refuseAt == 0) {
            EXPECT_EQ(r, kSuccess);
            EXPECT_EQ(written, whole);
            EXPECT_GE(callsBeforeFinish, 4u);
            EXPECT_LT(largest, 80u * 1024);
        } else {
            EXPECT_EQ(r, kErrorWriteFault) << refuseAt;
            EXPECT_EQ(calls, refuseAt);
        }
    }
}

// Indexing a file's bytes refuses what is no language file as loading it does (the command
// line's tests word each fault); bytes handed over are kept by the table.
TEST(LanguageFile, IndexingSaysWhatTheBytesAre) {
    struct Case {
        Bytes bytes;
        LanguageFileFault fault;
    } cases[] = {
        {{}, LanguageFileFault::Empty},
        {{0xFE, 0xFF, 0, 'a'}, LanguageFileFault::Utf16BigEndian},
        {LanguageFile(u"a=1\rb=2\r"), LanguageFileFault::CrLineEnds},
        {LanguageFile(u"a=1\r\n"), LanguageFileFault::None},
    };
    for (const Case& c : cases) {
        LanguageTable t;
        EXPECT_EQ(IndexLanguageFile(std::span<const uint8_t>(c.bytes), t), c.fault)
            << c.bytes.size();
        LanguageTable kept;
        EXPECT_EQ(IndexLanguageFile(Bytes(c.bytes), kept), c.fault) << c.bytes.size();
        if (c.fault == LanguageFileFault::None) {
            EXPECT_EQ(Find(kept, u"a"), u"1");
        }
    }
}

TEST(LanguageFile, LinesLongerThan65535UnitsAreReadWhole) {
    std::u16string value(70000, u'x');
    value += u"end";
    LanguageTable t = Parse(u"6.1.0=" + value + u"\r\n6.1.1=next\r\n");
    EXPECT_EQ(Find(t, u"6.1.0"), value);
    EXPECT_EQ(Find(t, u"6.1.1"), u"next");
}

TEST(LanguageFile, ReadWholeFile) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "empty", {});
    std::vector<uint8_t> buffer;
    uint64_t length = UINT64_MAX;
    ASSERT_TRUE(ReadWholeFile(dir / "empty", buffer, length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer, (Bytes{0, 0}));

    test::WriteFileBytes(dir / "abc", {'a', 'b', 'c'});
    length = 2;
    ASSERT_TRUE(ReadWholeFile(dir / "abc", buffer, length));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(buffer, (Bytes{'a', 'b', 0, 0}));

    length = UINT64_MAX;
    EXPECT_FALSE(ReadWholeFile(dir / "missing", buffer, length));
    LanguageTable t;
    std::unique_ptr<platform::FileView> view;
    EXPECT_FALSE(LoadLanguageFile(dir / "missing", t, view));
}

TEST(LanguageFile, LargeFilesIndexInLinearTime) {
    // 100,000 lines: a lookup per line must stay cheap (an index, not a scan per lookup). The
    // work is counted, not timed: a lookup probes the slots from its key's home slot to the
    // key's own, so the displacements of all keys are the probes beyond one per lookup.
    std::u16string text;
    for (int i = 0; i < 100000; ++i) {
        text += u"6.1.";
        AppendDecimal(text, i);
        text += u"=v\r\n";
    }
    LanguageTable t = Parse(text);
    size_t found = 0;
    std::u16string key;
    for (int i = 0; i < 100000; ++i) {
        key = u"6.1.";
        AppendDecimal(key, i);
        found += FindValue(t, key).has_value();
    }
    EXPECT_EQ(found, 100000u);
    size_t mask = t.slots.size() - 1, probes = 0, used = 0;
    for (size_t i = 0; i < t.slots.size(); ++i) {
        if (t.slots[i].entry == UINT32_MAX)
            continue;
        ++used;
        probes += 1 + ((i - (t.slots[i].hash & mask)) & mask);
    }
    EXPECT_EQ(used, 100000u);
    EXPECT_LE(t.slots.size(), 4 * used);  // the index grows with the keys
    EXPECT_LE(probes, 2 * used);          // a few probes a lookup, whatever the size
}

// A last line without LF is not read and its number kept, to be said; a file without any LF
// whose lines end in CR alone, which reads as no line at all, is told apart.
TEST(LanguageFile, LinesThatAreNotRead) {
    struct Case {
        std::u16string_view text;
        size_t unendedLine;
        bool crLineEnds;
    } cases[] = {
        {u"a=1\r\nb=2\r\n", 0, false}, {u"a=1\r\nb=2", 2, false}, {u"a=1\nb\n\nc=", 4, false},
        {u"a=1\rb=2\r", 1, true},      {u"a=1", 1, false},        {u"", 0, false},
    };
    for (const Case& c : cases) {
        LanguageTable t = Parse(c.text);
        EXPECT_EQ(t.unendedLine, c.unendedLine) << ToUtf8(c.text);
        EXPECT_EQ(t.crLineEnds, c.crLineEnds) << ToUtf8(c.text);
    }
}

}  // namespace
}  // namespace quelvar
