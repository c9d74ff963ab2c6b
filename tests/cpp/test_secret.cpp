// Wiping of secrets: secure_wipe itself, and the two holders that wipe on
// destruction, observed on the very storage they used.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "group/encoding.hpp"
#include "group/scalar.hpp"
#include "group/secret.hpp"

using namespace nacrel;

namespace {

bool all_zero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// An allocator that checks, when a buffer comes back, that every byte of it
// is zero (the buffer of a SecretVector must be wiped before it is freed).
struct Returned {
  size_t buffers = 0, wiped = 0;
};
template <class T>
struct CheckingAllocator {
  using value_type = T;
  Returned* log;
  explicit CheckingAllocator(Returned* l) : log(l) {}
  template <class U>
  CheckingAllocator(const CheckingAllocator<U>& o) : log(o.log) {}
  T* allocate(size_t n) {
    T* p = std::allocator<T>().allocate(n);
    std::fill_n(reinterpret_cast<uint8_t*>(p), n * sizeof(T), uint8_t(0xa5));
    return p;
  }
  void deallocate(T* p, size_t n) {
    ++log->buffers;
    if (all_zero(reinterpret_cast<const uint8_t*>(p), n * sizeof(T))) ++log->wiped;
    std::allocator<T>().deallocate(p, n);
  }
  friend bool operator==(const CheckingAllocator& a, const CheckingAllocator& b) { return a.log == b.log; }
  friend bool operator!=(const CheckingAllocator& a, const CheckingAllocator& b) { return a.log != b.log; }
};

}  // namespace

TEST(Secret, WipeZeroesExactlyTheRange) {
  for (size_t len : {size_t(0), size_t(1), size_t(31), size_t(32), size_t(1000)}) {
    std::vector<uint8_t> buf(len + 2, 0x5c);
    secure_wipe(buf.data() + 1, len);
    EXPECT_TRUE(all_zero(buf.data() + 1, len)) << len;
    EXPECT_EQ(buf.front(), 0x5c) << len;  // nothing outside the range
    EXPECT_EQ(buf.back(), 0x5c) << len;
  }
  secure_wipe(nullptr, 0);
}

TEST(Secret, WipedClearsItsStorageOnDestruction) {
  // The holder lives in a buffer of ours, so its bytes can be read after
  // the destructor has run.
  alignas(Wiped<Scalar>) uint8_t storage[sizeof(Wiped<Scalar>)];
  auto* held = new (storage) Wiped<Scalar>(Scalar::random());
  EXPECT_FALSE((*held)->is_zero());
  EXPECT_FALSE(all_zero(storage, sizeof storage));
  held->~Wiped<Scalar>();
  EXPECT_TRUE(all_zero(storage, sizeof storage));

  alignas(Wiped<std::array<uint8_t, 32>>) uint8_t bytes[sizeof(Wiped<std::array<uint8_t, 32>>)];
  std::array<uint8_t, 32> value;
  value.fill(0xff);
  auto* b = new (bytes) Wiped<std::array<uint8_t, 32>>(value);
  EXPECT_EQ(**b, value);
  b->~Wiped<std::array<uint8_t, 32>>();
  EXPECT_TRUE(all_zero(bytes, sizeof bytes));
}

TEST(Secret, SecretVectorWipesItsWholeBufferBeforeFreeing) {
  Returned log;
  {
    SecretVector<uint64_t, CheckingAllocator<uint64_t>> v(64, ~uint64_t(0), CheckingAllocator<uint64_t>(&log));
    // Shrinking keeps the buffer: the tail beyond the size is wiped too.
    v.assign(3, 7);
    EXPECT_EQ(v.size(), 3u);
  }
  {
    // A moved-from vector holds no buffer; the moved-to one wipes it.
    SecretVector<uint64_t, CheckingAllocator<uint64_t>> a(8, 9, CheckingAllocator<uint64_t>(&log));
    SecretVector<uint64_t, CheckingAllocator<uint64_t>> b(std::move(a));
    EXPECT_EQ(b.size(), 8u);
  }
  EXPECT_EQ(log.buffers, 2u);
  EXPECT_EQ(log.wiped, 2u);
}

// The scalar text is made without a lookup table; every byte value must
// still give its two lower-case digits.
TEST(Secret, HexDigitsOfEveryByte) {
  static const char* const kDigits = "0123456789abcdef";
  std::vector<uint8_t> all(256);
  std::string want;
  for (int i = 0; i < 256; ++i) {
    all[size_t(i)] = uint8_t(i);
    want += kDigits[i >> 4];
    want += kDigits[i & 15];
  }
  EXPECT_EQ(hex_encode(all.data(), all.size()), want);
}

// The branch-free decoder of secret texts against the plain one, for every
// character in either position of a byte.
TEST(Secret, HexDecodeCtAgreesWithPlainDecoder) {
  for (int c = 0; c < 256; ++c) {
    for (int pos = 0; pos < 2; ++pos) {
      char text[2] = {'7', '7'};
      text[pos] = char(c);
      uint8_t plain = 0, ct = 0;
      const bool ok = hex_decode(std::string_view(text, 2), &plain);
      EXPECT_EQ(hex_decode_ct(text, &ct, 1), ok) << c;
      if (ok) {
        EXPECT_EQ(ct, plain) << c;
      }
    }
  }
  uint8_t out[3];
  EXPECT_TRUE(hex_decode_ct("00fFa9", out, 3));
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xff);
  EXPECT_EQ(out[2], 0xa9);
  EXPECT_FALSE(hex_decode_ct("00fFa ", out, 3));  // one bad character refuses the whole text
}
