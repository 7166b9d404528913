/*
 * Integer division for the device program built with GNU tools. ARMv4 has no divide
 * instruction, so the compiler calls these run-time functions of the ARM EABI for every
 * division or remainder by a value it cannot fold; coredll exports none of them.
 *
 * The divmod forms hand back two results, the quotient in r0 and the remainder in r1:
 * returned as one 64-bit value, the quotient in its low and the remainder in its high half,
 * they land in exactly those registers.
 *
 * A division by zero, which the program never asks for, gives the quotient 0 and the
 * numerator as the remainder, so that numerator = quotient * divisor + remainder holds even
 * then; nothing traps.
 */
namespace {
/* C++98 has no 64-bit integer by name: the compiler's 64-bit machine mode (DI) is one,
   held in a pair of registers. */
typedef unsigned QuotientAndRemainder __attribute__((mode(DI)));

/* Shift and subtract, one quotient bit a step. carry keeps the bit the shift pushes out
   of a remainder of 2^31 or more: the true value is then above any divisor. */
unsigned divideUnsigned(unsigned numerator, unsigned divisor, unsigned* remainder) {
  if (divisor == 0) {
    *remainder = numerator;
    return 0;
  }
  unsigned quotient = 0;
  unsigned rest = 0;
  for (int bit = 31; bit >= 0; --bit) {
    unsigned carry = rest >> 31;
    rest = (rest << 1) | ((numerator >> bit) & 1u);
    if (carry != 0 || rest >= divisor) {
      rest -= divisor;
      quotient |= 1u << bit;
    }
  }
  *remainder = rest;
  return quotient;
}

unsigned magnitude(int value) { return value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value); }

/* Truncating division: the quotient is negative when the signs differ, the remainder has
   the numerator's sign. INT_MIN / -1 wraps to INT_MIN, remainder 0. */
int divideSigned(int numerator, int divisor, int* remainder) {
  unsigned rest = 0;
  unsigned quotient = divideUnsigned(magnitude(numerator), magnitude(divisor), &rest);
  if ((numerator < 0) != (divisor < 0) && divisor != 0) quotient = 0u - quotient;
  if (numerator < 0) rest = 0u - rest;
  *remainder = static_cast<int>(rest);
  return static_cast<int>(quotient);
}

QuotientAndRemainder pack(unsigned quotient, unsigned remainder) {
  return static_cast<QuotientAndRemainder>(quotient) | (static_cast<QuotientAndRemainder>(remainder) << 32);
}
}  // namespace

extern "C" {
unsigned __aeabi_uidiv(unsigned numerator, unsigned divisor) {
  unsigned remainder = 0;
  return divideUnsigned(numerator, divisor, &remainder);
}

int __aeabi_idiv(int numerator, int divisor) {
  int remainder = 0;
  return divideSigned(numerator, divisor, &remainder);
}

QuotientAndRemainder __aeabi_uidivmod(unsigned numerator, unsigned divisor) {
  unsigned remainder = 0;
  unsigned quotient = divideUnsigned(numerator, divisor, &remainder);
  return pack(quotient, remainder);
}

QuotientAndRemainder __aeabi_idivmod(int numerator, int divisor) {
  int remainder = 0;
  int quotient = divideSigned(numerator, divisor, &remainder);
  return pack(static_cast<unsigned>(quotient), static_cast<unsigned>(remainder));
}
}
