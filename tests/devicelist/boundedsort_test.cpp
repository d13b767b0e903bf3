#include "devicelist/boundedsort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "devicelist/rowcomparison.h"

namespace devicelist {
namespace {

std::size_t CeilLog2(std::size_t n)
{
    std::size_t passes = 0;
    for (std::size_t width = 1; width < n; width *= 2) {
        ++passes;
    }
    return passes;
}

class BoundedMergeSortTest : public ::testing::TestWithParam<std::size_t> {
protected:
    static std::vector<int> Shuffled(std::size_t count, unsigned seed)
    {
        std::vector<int> values(count);
        std::iota(values.begin(), values.end(), 0);
        std::shuffle(values.begin(), values.end(), std::mt19937(seed));
        return values;
    }
};

TEST_P(BoundedMergeSortTest, SortsConsistentOrder)
{
    std::vector<int> values = Shuffled(GetParam(), 1);
    BoundedMergeSort(values, [](int a, int b) { return a - b; });
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.size(), GetParam());
}

TEST_P(BoundedMergeSortTest, KeepsEqualItemsInOrder)
{
    // Sort pairs by their first half only; the second half records the
    // original position.
    std::vector<std::pair<int, std::size_t>> items;
    std::mt19937 random(2);
    for (std::size_t i = 0; i < GetParam(); ++i) {
        items.emplace_back(static_cast<int>(random() % 4), i);
    }
    BoundedMergeSort(items, [](const auto& a, const auto& b) { return a.first - b.first; });
    for (std::size_t i = 1; i < items.size(); ++i) {
        ASSERT_LE(items[i - 1].first, items[i].first);
        if (items[i - 1].first == items[i].first) {
            EXPECT_LT(items[i - 1].second, items[i].second);
        }
    }
}

TEST_P(BoundedMergeSortTest, RandomComparatorStaysInBoundsAndPermutes)
{
    // A comparator that answers at random is the worst inconsistent order.
    // Indexing outside the vector would be reported by AddressSanitizer (and
    // by the range check below); the comparison count proves termination.
    const std::size_t count = GetParam();
    for (unsigned seed = 0; seed < 20; ++seed) {
        std::vector<int> values = Shuffled(count, seed);
        std::mt19937 random(seed);
        std::size_t comparisons = 0;
        BoundedMergeSort(values, [&](int a, int b) {
            EXPECT_GE(a, 0);
            EXPECT_LT(a, static_cast<int>(count));
            EXPECT_GE(b, 0);
            EXPECT_LT(b, static_cast<int>(count));
            ++comparisons;
            return static_cast<int>(random() % 3) - 1;
        });
        EXPECT_LE(comparisons, count * CeilLog2(count));
        std::vector<int> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        std::vector<int> expected(count);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(sorted, expected) << "not a permutation, seed " << seed;
    }
}

TEST_P(BoundedMergeSortTest, ComparatorAlwaysSayingFirstOrSecondGoesFirst)
{
    for (const int answer : {-1, 1, 0}) {
        std::vector<int> values = Shuffled(GetParam(), 3);
        std::vector<int> before = values;
        BoundedMergeSort(values, [answer](int, int) { return answer; });
        std::sort(values.begin(), values.end());
        std::sort(before.begin(), before.end());
        EXPECT_EQ(values, before);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BoundedMergeSortTest,
    ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{8},
        std::size_t{9}, std::size_t{100}, std::size_t{1000}, std::size_t{1025}));

TEST(BoundedMergeSortRowsTest, InconsistentAddressTextsStillGiveAPermutation)
{
    // Both texts of each pair hold groups above 255, so the address comparison
    // declares whichever row comes first to be the smaller one.
    std::vector<DeviceRowData> rows;
    const std::vector<std::string> texts = {
        "300.1.1.1", "400.1.1.1", "1.2.3.4", "N/A", "999.9.9.9", "1.2.3.999", "10.0.0.1", "", "256.0.0.0", "0.0.0.0"};
    for (int copy = 0; copy < 50; ++copy) {
        for (const std::string& text : texts) {
            rows.push_back(DeviceRowData{{text}});
        }
    }
    std::vector<std::string> before;
    for (const DeviceRowData& row : rows)
        before.push_back(row.ColumnTexts[0]);
    for (const bool ascending : {true, false}) {
        BoundedMergeSort(rows, [ascending](const DeviceRowData& a, const DeviceRowData& b) {
            return CompareRows(a, b, SortOrder{0, ascending});
        });
        std::vector<std::string> after;
        for (const DeviceRowData& row : rows)
            after.push_back(row.ColumnTexts[0]);
        std::vector<std::string> expected = before;
        std::sort(after.begin(), after.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(after, expected);
    }
}

} // namespace
} // namespace devicelist
