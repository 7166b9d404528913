// The integer division that the Windows CE program supplies itself (platform/wince/
// division.cpp), called through its run-time entry points as compiled code calls them. The
// build renames the entry points for this test (tests/CMakeLists.txt), so that on ARM they
// stand beside the compiler's own run-time library instead of replacing it.
#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

extern "C" {
unsigned kurvix_aeabi_uidiv(unsigned numerator, unsigned divisor);
int kurvix_aeabi_idiv(int numerator, int divisor);
std::uint64_t kurvix_aeabi_uidivmod(unsigned numerator, unsigned divisor);
std::uint64_t kurvix_aeabi_idivmod(int numerator, int divisor);
}

namespace {
struct UnsignedCase {
  unsigned numerator, divisor, quotient, remainder;
};
struct SignedCase {
  int numerator, divisor, quotient, remainder;
};

const UnsignedCase kUnsignedCases[] = {
    {0, 1, 0, 0},
    {1, 1, 1, 0},
    {7, 2, 3, 1},
    {2, 7, 0, 2},
    {100, 10, 10, 0},
    {UINT_MAX, 1, UINT_MAX, 0},
    {UINT_MAX, UINT_MAX, 1, 0},
    {UINT_MAX, 2, 0x7FFFFFFFu, 1},
    {UINT_MAX - 1, UINT_MAX, 0, UINT_MAX - 1},
    // A divisor of 2^31 or more: the remainder's top bit is shifted out on the way.
    {0xFFFFFFFEu, 0x80000001u, 1, 0x7FFFFFFDu},
    {0x80000000u, 0x80000000u, 1, 0},
    {0xC0000000u, 0x80000001u, 1, 0x3FFFFFFFu},
    {123456789u, 1000u, 123456u, 789u},
    {1000u, 123456789u, 0, 1000u},
    // Division by zero: quotient 0, the numerator left over.
    {42, 0, 0, 42},
    {0, 0, 0, 0},
};

const SignedCase kSignedCases[] = {
    {0, 1, 0, 0},
    {7, 2, 3, 1},
    {-7, 2, -3, -1},
    {7, -2, -3, 1},
    {-7, -2, 3, -1},
    {1, -1, -1, 0},
    {INT_MAX, 1, INT_MAX, 0},
    {INT_MAX, -1, -INT_MAX, 0},
    {INT_MIN, 1, INT_MIN, 0},
    {INT_MIN, 2, INT_MIN / 2, 0},
    {INT_MIN, INT_MAX, -1, -1},
    {INT_MIN, INT_MIN, 1, 0},
    {INT_MAX, INT_MIN, 0, INT_MAX},
    // The one quotient that does not fit wraps, as the processor's own arithmetic does.
    {INT_MIN, -1, INT_MIN, 0},
    {-1000, 7, -142, -6},
    {-42, 0, 0, -42},
};

TEST(CeDivision, UnsignedQuotientAndRemainder) {
  for (const UnsignedCase& row : kUnsignedCases) {
    SCOPED_TRACE(testing::Message() << row.numerator << " / " << row.divisor);
    EXPECT_EQ(kurvix_aeabi_uidiv(row.numerator, row.divisor), row.quotient);
    std::uint64_t both = kurvix_aeabi_uidivmod(row.numerator, row.divisor);
    EXPECT_EQ(static_cast<unsigned>(both), row.quotient);
    EXPECT_EQ(static_cast<unsigned>(both >> 32), row.remainder);
  }
}

TEST(CeDivision, SignedQuotientAndRemainder) {
  for (const SignedCase& row : kSignedCases) {
    SCOPED_TRACE(testing::Message() << row.numerator << " / " << row.divisor);
    EXPECT_EQ(kurvix_aeabi_idiv(row.numerator, row.divisor), row.quotient);
    std::uint64_t both = kurvix_aeabi_idivmod(row.numerator, row.divisor);
    EXPECT_EQ(static_cast<int>(static_cast<std::uint32_t>(both)), row.quotient);
    EXPECT_EQ(static_cast<int>(static_cast<std::uint32_t>(both >> 32)), row.remainder);
  }
}

// Every result against the processor's own division, over numbers spread across the range.
TEST(CeDivision, AgreesWithTheHostAcrossTheRange) {
  std::uint32_t state = 12345;
  for (int i = 0; i < 20000; ++i) {
    state = state * 1664525u + 1013904223u;
    unsigned numerator = state;
    state = state * 1664525u + 1013904223u;
    unsigned divisor = state >> (state % 32);
    if (divisor == 0) continue;
    ASSERT_EQ(kurvix_aeabi_uidiv(numerator, divisor), numerator / divisor);
    ASSERT_EQ(kurvix_aeabi_uidivmod(numerator, divisor) >> 32, numerator % divisor);
    int signedNumerator = static_cast<int>(numerator);
    int signedDivisor = static_cast<int>(divisor);
    if (signedNumerator == INT_MIN && signedDivisor == -1) continue;
    ASSERT_EQ(kurvix_aeabi_idiv(signedNumerator, signedDivisor), signedNumerator / signedDivisor);
  }
}
}  // namespace
