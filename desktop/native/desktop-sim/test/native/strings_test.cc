// CFString content and conversions, as the input bridge reads them (UTF-8 out of UTF-16).
#include <string>

#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

class StringsTest : public SimTest {};

// "é" is 1 UTF-16 unit and 2 UTF-8 bytes; "😀" is 2 units (a surrogate pair) and 4 bytes.
const char kMixed[] = "a\xC3\xA9\xF0\x9F\x98\x80z";

std::string Utf8Of(CFStringRef s) {
  const CFIndex length = CFStringGetLength(s);
  std::string out(CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8), '\0');
  CFIndex used = 0;
  CFStringGetBytes(s, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8*>(&out[0]), static_cast<CFIndex>(out.size()), &used);
  out.resize(used);
  return out;
}

TEST_F(StringsTest, Utf8RoundTripCountsUtf16Units) {
  CFStringRef s = CFStringCreateWithCString(nullptr, kMixed, kCFStringEncodingUTF8);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CFStringGetLength(s), 5);
  EXPECT_EQ(Utf8Of(s), kMixed);
  CFIndex used = -1;
  EXPECT_EQ(
      CFStringGetBytes(s, CFRangeMake(0, 5), kCFStringEncodingUTF8, 0, false, nullptr, 0, &used), 5)
      << "a NULL buffer only counts";
  EXPECT_EQ(used, 8);
  CFRelease(s);
  ExpectBalanced();
}

struct BytesCase {
  const char* name;
  CFStringEncoding encoding;
  UInt8 loss_byte;
  CFIndex capacity;
  CFIndex expect_units;
  std::string expect_bytes;
};

TEST_F(StringsTest, GetBytesStopsAtWholeCharactersAndLossBytes) {
  // A character the encoding lacks costs one loss byte, a surrogate pair included.
  const BytesCase cases[] = {
      {"pair is never split", kCFStringEncodingUTF8, 0, 6, 2, "a\xC3\xA9"},
      {"room for the pair", kCFStringEncodingUTF8, 0, 7, 4, "a\xC3\xA9\xF0\x9F\x98\x80"},
      {"ASCII stops without loss byte", kCFStringEncodingASCII, 0, 100, 1, "a"},
      {"ASCII substitutes with loss byte", kCFStringEncodingASCII, '?', 100, 5, "a??z"},
      {"Latin-1 keeps e-acute", kCFStringEncodingISOLatin1, '?', 100, 5, "a\xE9?z"},
  };
  CFStringRef s = CFStringCreateWithCString(nullptr, kMixed, kCFStringEncodingUTF8);
  for (const BytesCase& c : cases) {
    std::string buffer(c.capacity, '\0');
    CFIndex used = 0;
    const CFIndex units = CFStringGetBytes(s, CFRangeMake(0, 5), c.encoding, c.loss_byte, false,
                                           reinterpret_cast<UInt8*>(&buffer[0]), c.capacity, &used);
    EXPECT_EQ(units, c.expect_units) << c.name;
    EXPECT_EQ(buffer.substr(0, used), c.expect_bytes) << c.name;
  }
  CFRelease(s);
  ExpectBalanced();
}

TEST_F(StringsTest, UnpairedSurrogatesStopUtf8WhateverTheLossByte) {
  // "a", a lone high surrogate, "b", a lone low surrogate, "c" (UTF-16 little endian).
  const UInt8 units[] = {'a', 0, 0x00, 0xD8, 'b', 0, 0x00, 0xDC, 'c', 0};
  CFStringRef s =
      CFStringCreateWithBytes(nullptr, units, sizeof units, kCFStringEncodingUTF16LE, false);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(CFStringGetLength(s), 5);
  const BytesCase cases[] = {
      {"UTF-8 stops at the high surrogate", kCFStringEncodingUTF8, '?', 100, 1, "a"},
      {"UTF-8 without loss byte stops there too", kCFStringEncodingUTF8, 0, 100, 1, "a"},
      {"ASCII takes the loss byte for each", kCFStringEncodingASCII, '?', 100, 5, "a?b?c"},
  };
  for (const BytesCase& c : cases) {
    std::string buffer(c.capacity, '\0');
    CFIndex used = -1;
    const CFIndex converted =
        CFStringGetBytes(s, CFRangeMake(0, 5), c.encoding, c.loss_byte, false,
                         reinterpret_cast<UInt8*>(&buffer[0]), c.capacity, &used);
    EXPECT_EQ(converted, c.expect_units) << c.name;
    EXPECT_EQ(buffer.substr(0, used), c.expect_bytes) << c.name;
  }
  // Resuming after the surrogate converts the rest up to the next one.
  UInt8 rest[8];
  CFIndex used = 0;
  EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(2, 3), kCFStringEncodingUTF8, '?', false, rest,
                             sizeof rest, &used),
            1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), used), "b");
  CFRelease(s);
  ExpectBalanced();
}

TEST_F(StringsTest, CreationRejectsBytesInvalidForTheEncoding) {
  const char* invalid[] = {"\xC3", "\xED\xA0\x80", "\xC0\xAF", "\xFF"};
  for (const char* bytes : invalid) {
    EXPECT_EQ(CFStringCreateWithCString(nullptr, bytes, kCFStringEncodingUTF8), nullptr);
  }
  EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xE9", kCFStringEncodingASCII), nullptr);
  ExpectBalanced();
}

TEST_F(StringsTest, Utf16WithByteOrderMarkAndCStringCopy) {
  const UInt8 big_endian_with_bom[] = {0xFE, 0xFF, 0x00, 'h', 0x00, 'i'};
  CFStringRef s =
      CFStringCreateWithBytes(nullptr, big_endian_with_bom, 6, kCFStringEncodingUTF16, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CFStringGetLength(s), 2);
  char small[2];
  EXPECT_FALSE(CFStringGetCString(s, small, sizeof small, kCFStringEncodingUTF8));
  char fits[3];
  ASSERT_TRUE(CFStringGetCString(s, fits, sizeof fits, kCFStringEncodingUTF8));
  EXPECT_STREQ(fits, "hi");
  EXPECT_TRUE(CFEqual(s, CFSTR("hi")));
  EXPECT_FALSE(CFEqual(s, CFSTR("ho")));
  EXPECT_EQ(CFStringGetCStringPtr(s, kCFStringEncodingUTF8), nullptr)
      << "callers must handle the NULL macOS may answer";
  CFRelease(s);
  ExpectBalanced();
}

TEST_F(StringsTest, MaximumSizesAndOutOfRangeReads) {
  EXPECT_EQ(CFStringGetMaximumSizeForEncoding(4, kCFStringEncodingUTF8), 12);
  EXPECT_EQ(CFStringGetMaximumSizeForEncoding(4, kCFStringEncodingUTF16), 8);
  EXPECT_EQ(CFStringGetMaximumSizeForEncoding(4, kCFStringEncodingASCII), 4);
  CFIndex used = 0;
  EXPECT_EQ(CFStringGetBytes(CFSTR("abc"), CFRangeMake(1, 5), kCFStringEncodingUTF8, 0, false,
                             nullptr, 0, &used),
            0);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
  EXPECT_NE(LastMisuse().find("range"), std::string::npos);
}

}  // namespace
}  // namespace desktop_sim_test
