// The shared rules about modules: texts of a scan reply, parsers of the
// column spec, numbers, MACs and dotted addresses, the row order, the sort
// that survives an inconsistent order, the table of rows, the wink rule and
// the CSV cells. Texts are read through unterminated buffers where a parser could
// run past its end, so ASan sees any overread.

#include "modules/boundedsort.h"
#include "modules/columnspec.h"
#include "modules/columntexts.h"
#include "modules/csvwriter.h"
#include "modules/devicetable.h"
#include "modules/dottedaddress.h"
#include "modules/leadingnumber.h"
#include "modules/macaddress.h"
#include "modules/moduletext.h"
#include "modules/rowcomparison.h"
#include "modules/winkrule.h"
#include "tests/modules/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <numeric>
#include <random>
#include <regex>
#include <set>

namespace modules {
namespace {

using testrecords::Address;
using testrecords::Record;

// A copy of text in a heap block of exactly its length, without terminator.
struct Unterminated {
    explicit Unterminated(const std::string& text)
        : block(std::make_unique<char[]>(text.size()))
        , view(block.get(), text.size())
    {
        std::copy(text.begin(), text.end(), block.get());
    }
    std::unique_ptr<char[]> block;
    std::string_view view;
};

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

DeviceRowData RowWith(int column, const std::string& text)
{
    DeviceRowData row;
    row.ColumnTexts.assign(kDeviceColumnCount, std::string());
    row.ColumnTexts[static_cast<std::size_t>(column)] = text;
    return row;
}

TEST(ColumnTexts, SevenTextsOfAReply)
{
    using R = QORT_ModuleScanResponseType;
    const auto na = "N/A";
    const struct {
        QORT_ModuleScanResponseType record;
        DeviceColumnTexts texts;
    } rows[] = {
        {Record()
                .Ip(Address(192, 168, 0, 1))
                .Mask(Address(255, 255, 255, 0))
                .Gateway(Address(192, 168, 0, 254))
                .Dhcp(1)
                .Version(1, 2, 3)
                .Type("PROFINET IO")
                .Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F),
            {"192.168.0.1", "255.255.255.0", "192.168.0.254", "On", "1.02.3", "PROFINET IO", "00-30-11-0A-BC-0F"}},
        {Record(), {na, na, na, na, na, na, na}},
        {Record().Ip(0).Mask(0xFFFFFFFFu).Gateway(Address(10, 0, 0, 255)),
            {"0.0.0.0", "255.255.255.255", "10.0.0.255", na, na, na, na}},
        {Record().Dhcp(0), {na, na, na, "Off", na, na, na}}, {Record().Dhcp(0xFF), {na, na, na, "Off", na, na, na}},
        {Record().Dhcp(2), {na, na, na, "Off", na, na, na}},
        {Record().Dhcp(1).Valid(&R::DhcpValid, 0), {na, na, na, na, na, na, na}},
        {Record().Ip(Address(1, 2, 3, 4)).Valid(&R::IpAddrValid, 7), {"1.2.3.4", na, na, na, na, na, na}},
        {Record().Version(2, 10, 300), {na, na, na, na, "2.10.300", na, na}},
        {Record().Version(1, 0, 7), {na, na, na, na, "1.00.7", na, na}},
        {Record().Version(255, 255, 65535), {na, na, na, na, "255.255.65535", na, na}},
        {Record().Type("a%s&b"), {na, na, na, na, na, "a%s&b", na}}, {Record().Type(""), {na, na, na, na, na, "", na}}};
    for (const auto& r : rows) {
        const DeviceColumnTexts texts = formatColumnTexts(r.record);
        for (int column = 0; column < kDeviceColumnCount; ++column)
            EXPECT_EQ(texts[column], r.texts[column]) << "column " << column << " of " << &r - rows;
    }
    // A type text without terminator in its 128 bytes ends with the field.
    QORT_ModuleScanResponseType full = Record().Mac(1);
    std::memset(full.FbType, 'T', sizeof full.FbType);
    full.FbTypeValid = 1;
    full.ModuleVersionMajor = 'X';
    EXPECT_EQ(formatColumnTexts(full)[kColumnType], std::string(sizeof full.FbType, 'T'));
}

TEST(Csv, FieldsAreQuotedFormulasNeutralisedAndReadBack)
{
    const struct {
        std::string text, field;
    } rows[] = {{"press1", "press1"}, {"", ""}, {"Profi,\"Net\"", "\"Profi,\"\"Net\"\"\""}, {"a\r\nb", "\"a\r\nb\""},
        {"=1+2", "'=1+2"}, {"+49", "'+49"}, {"-1", "'-1"}, {"@SUM(A1)", "'@SUM(A1)"}, {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""}, {"=a,b", "\"'=a,b\""}, {"'=x", "''=x"}, {"''-", "'''-"}, {"'x", "'x"}, {"'", "'"},
        {"a=b", "a=b"}, {" =x", " =x"}};
    for (const auto& r : rows) {
        EXPECT_EQ(csvField(r.text), r.field) << r.text;
        std::string unquoted = r.field;
        if (!unquoted.empty() && unquoted.front() == '"') // RFC 4180: strip the quotes, undouble the inner ones
            unquoted = std::regex_replace(unquoted.substr(1, unquoted.size() - 2), std::regex("\"\""), "\"");
        EXPECT_EQ(csvCellValue(unquoted), r.text) << r.field;
    }
    EXPECT_EQ(csvRecord({"=a", "b,c", ""}), "'=a,\"b,c\",\r\n");
}

// A module's bytes as shown: UTF-8 when they are well-formed UTF-8, else
// every byte as its Windows-1252 character; never a byte lost or invented.
TEST(Parsers, ModuleTextIsUtf8ElseWindows1252)
{
    const struct {
        const char* what;
        std::string bytes;
        bool utf8;
        std::string shown;
    } rows[] = {
        {"ASCII", "press1", true, "press1"},
        {"UTF-8 umlaut", "K\xC3\xBChlung", true, "K\xC3\xBChlung"},
        {"UTF-8 euro, 4-byte", "\xE2\x82\xAC \xF0\x9F\x98\x80", true, "\xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"Windows-1252 umlaut", "K\xFChlung", false, "K\xC3\xBChlung"},
        {"Windows-1252 euro", "\x80", false, "\xE2\x82\xAC"},
        {"unassigned 0x81 keeps its number", "\x81", false, "\xC2\x81"},
        {"overlong slash", "\xC0\xAF", false, "\xC3\x80\xC2\xAF"},
        {"surrogate", "\xED\xA0\x80", false, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false, "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},
        {"cut sequence", "ab\xE2\x82", false, "ab\xC3\xA2\xE2\x80\x9A"},
        {"lone continuation", "\xBF", false, "\xC2\xBF"},
        {"empty", "", true, ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(modules::isValidUtf8(r.bytes), r.utf8) << r.what;
        EXPECT_EQ(modules::moduleTextToUtf8(r.bytes), r.shown) << r.what;
        EXPECT_TRUE(modules::isValidUtf8(modules::moduleTextToUtf8(r.bytes))) << r.what;
        EXPECT_TRUE(modules::showsBytes(r.shown, r.bytes)) << r.what;
    }
    EXPECT_FALSE(modules::showsBytes("Kuhlung", "K\xFChlung"));
}

TEST(Parsers, ColumnSpec)
{
    const struct {
        std::string spec;
        std::vector<ColumnSpec> columns;
    } rows[] = {{"IP,90", {{"IP", 90}}}, {"IP,90;", {{"IP", 90}}}, {"IP,90;SN,45", {{"IP", 90}, {"SN", 45}}},
        {"IP;SN;GW", {}}, {"", {}}, {"IP,90;SN", {{"IP", 90}}}, {"IP,wide;SN,", {{"IP", 0}, {"SN", 0}}},
        {"IP,90px", {{"IP", 90}}}, {"IP,-5", {{"IP", -5}}}, {"IP,99999999999999999999", {{"IP", INT_MAX}}},
        {",10", {{"", 10}}}, {"A,1,2;B,3", {{"A", 1}, {"B", 3}}}, {",;,;", {{"", 0}, {"", 0}}},
        {" R&D ,7", {{" R&D ", 7}}}};
    for (const auto& r : rows)
        EXPECT_EQ(parseColumnSpec(Unterminated(r.spec).view), r.columns) << r.spec;
}

TEST(Parsers, ColumnWidthIsScaledFromTheSpecFontToOurs)
{
    const struct {
        int width, fontBaseUnitX, scaled;
    } rows[] = {{90, 6, 90}, {50, 7, 58}, {115, 7, 134}, {50, 8, 67}, {0, 7, 0}, {-5, 7, -5}, {50, 0, 50},
        {INT_MAX, 7, INT_MAX}};
    for (const auto& r : rows)
        EXPECT_EQ(scaleColumnWidth(r.width, r.fontBaseUnitX), r.scaled) << r.width << " " << r.fontBaseUnitX;
}

TEST(Parsers, LeadingNumberReadsLikeAtoiButSaturates)
{
    const struct {
        std::string text;
        int value;
    } rows[] = {{"90", 90}, {"", 0}, {"N/A", 0}, {"192.168", 192}, {" \t\n42", 42}, {"+7x", 7}, {"-12", -12}, {"-", 0},
        {"- 5", 0}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN}, {std::string(4000, '9'), INT_MAX}, {std::string(4000, '0') + "17", 17},
        {"1234", 1234}};
    for (const auto& r : rows)
        EXPECT_EQ(leadingNumber(Unterminated(r.text).view), r.value) << r.text.substr(0, 20);
}

TEST(Parsers, MacTextsFormatAndReadBack)
{
    EXPECT_EQ(formatMac({0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}), "00-30-11-0A-BC-0F");
    for (int value = 0; value < 256; ++value) {
        const auto b = static_cast<std::uint8_t>(value);
        const MacAddress mac{b, static_cast<std::uint8_t>(255 - value), 0x30, b, 0x00, b};
        EXPECT_EQ(parseRowMac(formatMac(mac)), mac) << formatMac(mac);
    }
    const std::optional<MacAddress> none;
    const struct {
        std::string text;
        std::optional<MacAddress> mac;
    } rows[] = {{"00-30-11-0a-bc-0f", MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}},
        {"0-3-1-a-b-f", MacAddress{0x0, 0x3, 0x1, 0xA, 0xB, 0xF}}, {"123-1-2-3-4-5", MacAddress{0x23, 1, 2, 3, 4, 5}},
        {" 1- 2-3-4-5-6", MacAddress{1, 2, 3, 4, 5, 6}}, {"0x1-2-3-4-5-6", MacAddress{1, 2, 3, 4, 5, 6}},
        {"-1-2-3-4-5-6", MacAddress{0xFF, 2, 3, 4, 5, 6}},
        {"00-30-11-0A-BC-0F12", MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}}, // 17 characters are read
        {"000-30-11-0A-BC-0F", MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x00}},
        {"0A-0B-0C-0D-0E-0", MacAddress{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x00}}, {"0A-0B-0C-0D-0E-", none}, {"N/A", none},
        {"", none}, {"00-30-11-0A-BC", none}, {"00:30:11:0A:BC:0F", none}, {"00000000-1-2-3-4-5", none},
        {std::string(4000, 'F'), none}};
    for (const auto& r : rows)
        EXPECT_EQ(parseRowMac(Unterminated(r.text).view), r.mac) << r.text.substr(0, 20);
}

TEST(Parsers, DottedAddressRecognised)
{
    const struct {
        std::string text;
        bool dotted;
    } rows[] = {{"192.168.0.1", true}, {"300.1.1.1", true}, {"...", true}, {"1..2.", true},
        {std::string(4000, '9') + ".1.1.1", true}, {"", false}, {"N/A", false}, {"1.2.3.4.5", false}, {"1.02.3", false},
        {" 1.2.3.4", false}, {"1.2.3.4 ", false}, {"+1.2.3.4", false}, {"-1.2.3.4", false}, {"1.2.3.a", false},
        {"00-30-11-0A-BC-0F", false}, {std::string("1.2.3.\xB9", 7), false}, {std::string("1.2\0.3.4", 8), false}};
    for (const auto& r : rows)
        EXPECT_EQ(isDottedAddress(Unterminated(r.text).view), r.dotted) << r.text.substr(0, 20);
}

TEST(Parsers, DottedAddressesCompareNumerically)
{
    const struct {
        std::string a, b;
        int order;
    } rows[] = {{"10.0.0.2", "10.0.0.2", 0}, {"10.0.0.2", "10.0.0.10", -1}, {"10.0.0.10", "10.0.0.2", 1},
        {"9.255.255.255", "10.0.0.0", -1}, {"010.000.000.002", "10.0.0.2", 0}, {"255.255.255.255", "0.0.0.0", 1},
        // A group above 255 makes its text the smaller one; in reading order
        // the first such group decides, and of two the first text wins.
        {"300.1.1.1", "1.2.3.4", -1}, {"1.2.3.4", "300.1.1.1", 1}, {"1.300.1.1", "400.1.1.1", 1},
        {"300.1.1.1", "400.1.1.1", -1}, {"400.1.1.1", "300.1.1.1", -1}, {"1.1.1.256", "1.1.1.1", -1},
        {"1.1.1." + std::string(4000, '9'), "1.1.1.1", -1}, {"...", "0.0.0.0", 0}, {"", "0.0.0.1", -1}, {"", "", 0},
        {"10.0.0.1", "N/A", 1}, {"N/A", "10.0.0.1", -1}, {"1.2", "1.2.0.0", 0}, {"1.2.3.", "1.2.3.0", 0},
        {"1.2.3.4.5", "1.2.3.4", 0}, {"-1.0.0.0", "255.0.0.0", 0}};
    for (const auto& r : rows)
        EXPECT_EQ(compareDottedAddresses(Unterminated(r.a).view, Unterminated(r.b).view), r.order)
            << r.a.substr(0, 20) << " vs " << r.b.substr(0, 20);
}

TEST(RowOrder, ByColumnAscendingAndDescending)
{
    const struct {
        int column;
        std::string first, second;
        int ascending;
    } rows[] = {{kColumnIp, "10.0.0.2", "10.0.0.10", -1}, {kColumnIp, "9.255.255.255", "10.0.0.2", -1},
        {kColumnIp, "10.0.0.2", "10.0.0.2", 0}, {kColumnType, "300.1.1.1", "1.2.3.4", -1},
        {kColumnType, "1.2.3.4", "300.1.1.1", 1}, {kColumnVersion, "1.09.0", "1.10.0", -1},
        {kColumnVersion, "10.00.0", "9.00.0", -1}, {kColumnMac, "00-30-11-0A-BC-0F", "00-30-11-0A-BC-10", -1},
        {kColumnDhcp, "Off", "On", -1}, {kColumnIp, "10.0.0.1", "N/A", -1}, {kColumnIp, "N/A", "255.255.255.255", 1},
        {kColumnGateway, "0.0.0.0", "", -1}, {kColumnType, "1.2.3.4", "ABC", -1}, {kColumnSubnetMask, "N/A", "N/A", 0},
        {kColumnType, "modbus", "Modbus", -1}, {kColumnType, "ethernet", "Modbus", -1},
        {kColumnType, "EtherCAT", "modbus", -1}, {kColumnType, "PROFI", "PROFINET", -1},
        {kColumnType, "z", "\xE9", -1}};
    for (const auto& r : rows) {
        const DeviceRowData a = RowWith(r.column, r.first);
        const DeviceRowData b = RowWith(r.column, r.second);
        EXPECT_EQ(Sign(compareRows(a, b, {r.column, true})), r.ascending) << r.first << " vs " << r.second;
        EXPECT_EQ(Sign(compareRows(b, a, {r.column, false})), r.ascending) << r.first << " vs " << r.second;
    }
    // Either row first, one order for addresses within range and texts.
    const std::vector<std::string> texts = {"10.0.0.1", "9.0.0.1", "N/A", "", "...", "abc", "ABC", "1.02.3"};
    for (const std::string& a : texts) {
        for (const std::string& b : texts)
            EXPECT_EQ(Sign(compareRows(RowWith(kColumnIp, a), RowWith(kColumnIp, b), {kColumnIp, true})),
                -Sign(compareRows(RowWith(kColumnIp, b), RowWith(kColumnIp, a), {kColumnIp, true})))
                << a << " vs " << b;
    }
    // A column a row lacks compares as empty; a column nobody has as equal.
    DeviceRowData shortRow;
    shortRow.ColumnTexts = {"10.0.0.1"};
    EXPECT_LT(compareRows(shortRow, RowWith(kColumnMac, "00-30-11-00-00-01"), {kColumnMac, true}), 0);
    EXPECT_EQ(compareRows(shortRow, RowWith(kColumnMac, "x"), {-1, true}), 0);
    EXPECT_EQ(compareRows(shortRow, RowWith(kColumnMac, "x"), {1000, false}), 0);
    EXPECT_NE(compareTexts(std::string_view("a\0b", 3), std::string_view("a\0c", 3)), 0);
    EXPECT_NE(compareTexts("On", "ON"), 0);
    // A click on a new column sorts it ascending; on the same one reverses.
    EXPECT_EQ(sortOrderAfterClick({0, true}, 6), (SortOrder{6, true}));
    EXPECT_EQ(sortOrderAfterClick({6, false}, 0), (SortOrder{0, true}));
    EXPECT_EQ(sortOrderAfterClick({6, true}, 6), (SortOrder{6, false}));
    EXPECT_EQ(sortOrderAfterClick({6, false}, 6), (SortOrder{6, true}));
}

TEST(BoundedSort, SortsStablyAndSurvivesAnyComparator)
{
    for (std::size_t count : {0, 1, 2, 3, 7, 8, 9, 100, 1025}) {
        std::vector<std::pair<int, std::size_t>> items; // (key, original position)
        std::mt19937 random(2);
        for (std::size_t i = 0; i < count; ++i)
            items.emplace_back(static_cast<int>(random() % 4), i);
        boundedMergeSort(items, [](const auto& a, const auto& b) { return a.first - b.first; });
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end())) << count << ": not sorted or not stable";

        std::size_t passes = 0;
        for (std::size_t width = 1; width < count; width *= 2)
            ++passes;
        for (unsigned seed = 0; seed < 10; ++seed) {
            std::vector<int> values(count);
            std::iota(values.begin(), values.end(), 0);
            std::size_t comparisons = 0;
            // An order that answers at random, or always the same: the sort
            // must stay in bounds, end, and keep every item.
            boundedMergeSort(values, [&](int a, int b) {
                EXPECT_TRUE(a >= 0 && b >= 0 && a < int(count) && b < int(count));
                ++comparisons;
                return seed < 7 ? static_cast<int>(random() % 3) - 1 : int(seed) - 8;
            });
            EXPECT_LE(comparisons, count * passes);
            std::sort(values.begin(), values.end());
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(values[i], int(i)) << "not a permutation, seed " << seed;
        }
    }
}

TEST(DeviceTable, AnInconsistentOrderStillKeepsEveryRowOnce)
{
    // Type texts like addresses with groups above 255 make the order
    // disagree with itself; the table must still hold every row once.
    DeviceTable table;
    table.AddColumns(parseColumnSpec(kDeviceListColumnSpec));
    table.SortByColumn({kColumnType, true});
    for (int i = 0; i < 200; ++i)
        table.AddModule(Record()
                            .Mac(static_cast<std::uint8_t>(i >> 8), 0, 0, 0, 0, static_cast<std::uint8_t>(i))
                            .Type(std::to_string(256 + (i * 37) % 500) + ".1.1.1"));
    std::set<std::string> macs;
    for (std::size_t row = 0; row < table.RowCount(); ++row)
        macs.emplace(table.RowText(row, kColumnMac));
    EXPECT_EQ(table.RowCount(), 200u);
    EXPECT_EQ(macs.size(), 200u);
}

TEST(DeviceTableColumns, RowsFollowTheColumnsThereAre)
{
    DeviceTable narrow;
    narrow.AddColumns(parseColumnSpec("IP,90"));
    narrow.AddModule(Record().Mac(1).Ip(Address(10, 0, 0, 1)));
    EXPECT_EQ(narrow.Row(0).ColumnTexts, (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_EQ(narrow.GetRowMac(0), std::nullopt);
    EXPECT_EQ(narrow.RowText(0, kColumnMac), "");
    DeviceTable wide;
    wide.AddColumns(parseColumnSpec(std::string(kDeviceListColumnSpec) + ";Extra,10;More,5"));
    wide.AddModule(Record().Mac(1));
    ASSERT_EQ(wide.Row(0).ColumnTexts.size(), 9u);
    EXPECT_EQ(wide.RowText(0, 8), "");
    EXPECT_EQ(wide.RowText(0, 9), "");
    EXPECT_EQ(wide.RowText(0, -1), "");
}

TEST(WinkRule, FromProtocolVersion110OnIgnoringTheValidByteAndModuleVersion)
{
    const struct {
        std::uint8_t major, minor;
        bool winks;
    } rows[] = {{1, 9, false}, {1, 10, true}, {1, 255, true}, {2, 0, true}, {0, 200, false}, {0xFF, 0xFF, true},
        {1, 0, false}, {0, 0, false}, {255, 0, true}};
    for (const auto& r : rows) {
        EXPECT_EQ(supportsWink(r.major, r.minor), r.winks) << int(r.major) << "." << int(r.minor);
        for (std::uint8_t valid : {0, 1}) {
            const QORT_ModuleScanResponseType record =
                testrecords::Record()
                    .Protocol(r.major, r.minor)
                    .Version(9, 99, 1)
                    .Valid(&QORT_ModuleScanResponseType::ProtocolVersionValid, valid);
            EXPECT_EQ(supportsWink(record), r.winks) << int(r.major) << "." << int(r.minor) << " valid " << int(valid);
        }
    }
}

} // namespace
} // namespace modules
