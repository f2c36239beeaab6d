#include <gtest/gtest.h>

#include <regex>

#include "app/Uuid.h"

namespace orvan {
namespace {

TEST(UuidTest, LowerCaseTextFormAndFreshEachTime) {
    const std::string first = randomUUID();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << first;
    EXPECT_NE(first, randomUUID());
}

}  // namespace
}  // namespace orvan
