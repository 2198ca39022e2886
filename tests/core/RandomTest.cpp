#include <gtest/gtest.h>

#include <vector>

#include "core/Random.h"

namespace vocarine {
namespace {

std::vector<int32_t> Draws(int count, int32_t n)
{
    std::vector<int32_t> draws;
    for (int i = 0; i < count; ++i) {
        draws.push_back(PickRandom(n));
    }
    return draws;
}

TEST(Random, DrawsStayWithinRangeAndAnEmptyRangeGivesZero)
{
    SeedRandom(3);
    EXPECT_EQ(PickRandom(0), 0);
    EXPECT_EQ(PickRandom(-5), 0);
    for (int32_t n : {1, 7, 100}) {
        std::vector<int> hits(n);
        for (int32_t value : Draws(100 * n, n)) {
            ASSERT_GE(value, 0);
            ASSERT_LT(value, n);
            ++hits[value];
        }
        for (int32_t value = 0; value < n; ++value) {
            EXPECT_GT(hits[value], 0) << value << " of " << n << " never drawn";
        }
    }
}

TEST(Random, AFixedSeedRepeatsItsDraws)
{
    SeedRandom(42);
    const auto first = Draws(50, 100);
    SeedRandom(42);
    EXPECT_EQ(Draws(50, 100), first);
    SeedRandom(43);
    EXPECT_NE(Draws(50, 100), first);
}

TEST(Random, AScopedSourceReplacesTheDrawsAndRestoresThemAfterwards)
{
    SeedRandom(42);
    const auto expected = Draws(10, 100);
    SeedRandom(42);
    {
        ScopedRandomSource outer([](int32_t n) { return n - 1; });
        EXPECT_EQ(PickRandom(10), 9);
        {
            ScopedRandomSource inner([](int32_t) { return 0; });
            EXPECT_EQ(PickRandom(10), 0);
        }
        EXPECT_EQ(PickRandom(10), 9);
        EXPECT_EQ(PickRandom(0), 0);  // an empty range never reaches the source
    }
    EXPECT_EQ(Draws(10, 100), expected);  // the seeded source was not drawn from meanwhile
}

}  // namespace
}  // namespace vocarine
