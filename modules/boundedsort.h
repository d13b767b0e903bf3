#ifndef MODULES_BOUNDEDSORT_H
#define MODULES_BOUNDEDSORT_H

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace modules {

// Stable bottom-up merge sort for comparisons that may not be a consistent
// order. std::sort, std::stable_sort and Qt's item sort assume a strict weak
// ordering and may loop or index outside the range when it is violated; the
// row comparison of the device list is not one for some texts (two addresses
// that both hold numbers above 255).
//
// Guarantees whatever compare returns: every index stays inside items, the
// number of passes and comparisons is fixed by the size alone (at most
// n * ceil(log2 n) comparisons), and items ends as a permutation of its
// former contents. For a consistent order the result is sorted, with equal
// items kept in their former order.
//
// compare(x, y) < 0 means x goes before y.
template <typename T, typename Compare>
void boundedMergeSort(std::vector<T>& items, Compare compare)
{
    const std::size_t count = items.size();
    if (count < 2) {
        return;
    }
    std::vector<T> merged;
    merged.reserve(count);
    for (std::size_t width = 1; width < count; width = (width > count / 2) ? count : width * 2) {
        merged.clear();
        for (std::size_t low = 0; low < count; low += std::min(count - low, 2 * width)) {
            const std::size_t middle = low + std::min(width, count - low);
            const std::size_t high = middle + std::min(width, count - middle);
            std::size_t left = low;
            std::size_t right = middle;
            while (left < middle && right < high) {
                // Taking from the right only when it is strictly smaller keeps
                // equal items in order.
                if (compare(items[right], items[left]) < 0) {
                    merged.push_back(std::move(items[right++]));
                } else {
                    merged.push_back(std::move(items[left++]));
                }
            }
            while (left < middle) {
                merged.push_back(std::move(items[left++]));
            }
            while (right < high) {
                merged.push_back(std::move(items[right++]));
            }
        }
        items.swap(merged);
    }
}

} // namespace modules

#endif
