#ifndef TESTS_SUPPORT_AUDITREFUSAL_H
#define TESTS_SUPPORT_AUDITREFUSAL_H

#include "commissioning/auditlog.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace testsupport {

// The audit log's reader and writer refuse the same files with the same
// words: refusal empty, both go on; else both say it (written is what
// append returned). Header only: the Windows tests use it too.
inline void ExpectReaderAndWriterAgree(
    const commissioning::UndoLookup& lookup, const std::optional<std::string>& written, const std::string& refusal)
{
    if (refusal.empty()) {
        EXPECT_FALSE(lookup.refusal.has_value()) << *lookup.refusal;
        EXPECT_TRUE(lookup.values.has_value());
        EXPECT_EQ(written, std::nullopt);
        return;
    }
    ASSERT_TRUE(lookup.refusal.has_value());
    EXPECT_NE(lookup.refusal->find(refusal), std::string::npos) << *lookup.refusal;
    EXPECT_FALSE(lookup.values.has_value());
    ASSERT_TRUE(written.has_value());
    EXPECT_NE(written->find(refusal), std::string::npos) << *written;
}

} // namespace testsupport

#endif
