#ifndef TESTS_SUPPORT_THREADCOUNT_H
#define TESTS_SUPPORT_THREADCOUNT_H

#include <cstddef>

namespace testsupport {

// The number of threads this process has now (the entries of
// /proc/self/task), to see whether code under test started or ended some.
// 0 when it cannot be read.
std::size_t threadCount();

} // namespace testsupport

#endif
