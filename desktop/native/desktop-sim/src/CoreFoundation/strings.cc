// CFString: UTF-16 content, creation from UTF-8, ASCII, Latin-1, UTF-16 and UTF-32 bytes, and
// conversion back out. Other encodings are not modelled: creation answers NULL, conversion 0.
#include "world/internal.h"

#include <cstring>

namespace desktop_sim {
namespace {

enum class Codec { kNone, kUtf8, kAscii, kLatin1, kUtf16Host, kUtf16BE, kUtf16LE, kUtf32Host };

Codec CodecFor(CFStringEncoding encoding) {
  switch (encoding) {
    case kCFStringEncodingUTF8:
      return Codec::kUtf8;
    case kCFStringEncodingASCII:
      return Codec::kAscii;
    case kCFStringEncodingISOLatin1:
      return Codec::kLatin1;
    case kCFStringEncodingUTF16:
      return Codec::kUtf16Host;
    case kCFStringEncodingUTF16BE:
      return Codec::kUtf16BE;
    case kCFStringEncodingUTF16LE:
      return Codec::kUtf16LE;
    case kCFStringEncodingUTF32:
      return Codec::kUtf32Host;
    default:
      return Codec::kNone;
  }
}

void AppendCodePoint(char32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool DecodeUtf8(const UInt8* bytes, size_t size, std::u16string* out) {
  size_t i = 0;
  while (i < size) {
    const UInt8 lead = bytes[i];
    int extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (extra > 0 && i + static_cast<size_t>(extra) >= size) return false;  // truncated
    for (int k = 1; k <= extra; ++k) {
      const UInt8 next = bytes[i + k];
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinForLength[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinForLength[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    AppendCodePoint(cp, out);
    i += 1 + extra;
  }
  return true;
}

uint32_t ReadUnit(const UInt8* p, int width, bool big_endian) {
  uint32_t value = 0;
  for (int k = 0; k < width; ++k) {
    const int shift = big_endian ? 8 * (width - 1 - k) : 8 * k;
    value |= static_cast<uint32_t>(p[k]) << shift;
  }
  return value;
}

// UTF-16 and UTF-32 without an explicit byte order: a byte order mark decides when the bytes
// are an external representation (big-endian without one), host order otherwise.
bool DecodeWide(const UInt8* bytes, size_t size, int width, bool big_endian, bool honour_bom,
                std::u16string* out) {
  if (size % width != 0) return false;
  size_t i = 0;
  if (honour_bom && size >= static_cast<size_t>(width)) {
    const uint32_t be = ReadUnit(bytes, width, true);
    const uint32_t le = ReadUnit(bytes, width, false);
    const uint32_t bom = width == 2 ? 0xFEFF : 0x0000FEFF;
    if (be == bom) {
      big_endian = true;
      i = width;
    } else if (le == bom) {
      big_endian = false;
      i = width;
    }
  }
  for (; i < size; i += width) {
    const uint32_t unit = ReadUnit(bytes + i, width, big_endian);
    if (width == 2) {
      out->push_back(static_cast<char16_t>(unit));
    } else {
      if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) return false;
      AppendCodePoint(unit, out);
    }
  }
  return true;
}

bool Decode(const UInt8* bytes, size_t size, CFStringEncoding encoding, bool external,
            std::u16string* out) {
  switch (CodecFor(encoding)) {
    case Codec::kUtf8:
      if (external && size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        size -= 3;
      }
      return DecodeUtf8(bytes, size, out);
    case Codec::kAscii:
      for (size_t i = 0; i < size; ++i) {
        if (bytes[i] > 0x7F) return false;
        out->push_back(bytes[i]);
      }
      return true;
    case Codec::kLatin1:
      for (size_t i = 0; i < size; ++i) out->push_back(bytes[i]);
      return true;
    case Codec::kUtf16Host:
      return DecodeWide(bytes, size, 2, external, external, out);
    case Codec::kUtf16BE:
      return DecodeWide(bytes, size, 2, true, false, out);
    case Codec::kUtf16LE:
      return DecodeWide(bytes, size, 2, false, false, out);
    case Codec::kUtf32Host:
      return DecodeWide(bytes, size, 4, external, external, out);
    case Codec::kNone:
      return false;
  }
  return false;
}

__CFString* NewString(const std::u16string& units, bool immortal) {
  auto* string = new __CFString();
  char16_t* copy = new char16_t[units.size() + 1];
  std::memcpy(copy, units.data(), sizeof(char16_t) * units.size());
  copy[units.size()] = 0;
  string->units = copy;
  string->length = static_cast<CFIndex>(units.size());
  string->owns_units = true;
  if (immortal) {
    string->type = kStringTypeId;
    string->immortal = true;
    string->freed = false;
    string->program_refs = 0;
    string->system_refs = 0;
    string->freed_by = nullptr;
    S().objects[string] = string;
  } else {
    InitObject(string, kStringTypeId, true);
  }
  return string;
}

// Encodes one character (a code point made of 1 or 2 units) into out; false if the encoding
// cannot represent it.
bool EncodeChar(char32_t cp, Codec codec, UInt8* out, int* size) {
  auto put_wide = [&](uint32_t unit, int width, bool big_endian, int at) {
    for (int k = 0; k < width; ++k) {
      const int shift = big_endian ? 8 * (width - 1 - k) : 8 * k;
      out[at + k] = static_cast<UInt8>(unit >> shift);
    }
  };
  switch (codec) {
    case Codec::kUtf8:
      if (cp >= 0xD800 && cp <= 0xDFFF) return false;  // a lone surrogate has no UTF-8 form
      if (cp < 0x80) {
        out[0] = static_cast<UInt8>(cp);
        *size = 1;
      } else if (cp < 0x800) {
        out[0] = static_cast<UInt8>(0xC0 | (cp >> 6));
        out[1] = static_cast<UInt8>(0x80 | (cp & 0x3F));
        *size = 2;
      } else if (cp < 0x10000) {
        out[0] = static_cast<UInt8>(0xE0 | (cp >> 12));
        out[1] = static_cast<UInt8>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<UInt8>(0x80 | (cp & 0x3F));
        *size = 3;
      } else {
        out[0] = static_cast<UInt8>(0xF0 | (cp >> 18));
        out[1] = static_cast<UInt8>(0x80 | ((cp >> 12) & 0x3F));
        out[2] = static_cast<UInt8>(0x80 | ((cp >> 6) & 0x3F));
        out[3] = static_cast<UInt8>(0x80 | (cp & 0x3F));
        *size = 4;
      }
      return true;
    case Codec::kAscii:
    case Codec::kLatin1:
      if (cp > (codec == Codec::kAscii ? 0x7Fu : 0xFFu)) return false;
      out[0] = static_cast<UInt8>(cp);
      *size = 1;
      return true;
    case Codec::kUtf16Host:
    case Codec::kUtf16BE:
    case Codec::kUtf16LE: {
      const bool big_endian = codec == Codec::kUtf16BE;
      if (cp >= 0x10000) {
        const char32_t v = cp - 0x10000;
        put_wide(0xD800 + (v >> 10), 2, big_endian, 0);
        put_wide(0xDC00 + (v & 0x3FF), 2, big_endian, 2);
        *size = 4;
      } else {
        put_wide(cp, 2, big_endian, 0);
        *size = 2;
      }
      return true;
    }
    case Codec::kUtf32Host:
      if (cp >= 0xD800 && cp <= 0xDFFF) return false;
      put_wide(cp, 4, false, 0);
      *size = 4;
      return true;
    case Codec::kNone:
      return false;
  }
  return false;
}

struct Conversion {
  CFIndex units = 0;
  CFIndex bytes = 0;
};

// The conversion loop shared by CFStringGetBytes and CFStringGetCString: stops at the first
// character that does not fit the buffer, or that the encoding cannot represent when no loss
// byte is given. A surrogate pair is one character and is never split. UTF-8 never takes the
// loss byte: CoreFoundation's UTF-8 converter is strict and is called without the lossy flag,
// so an unpaired surrogate ends the conversion there, loss byte or not.
Conversion Convert(const __CFString* string, CFRange range, Codec codec, UInt8 loss_byte,
                   bool external, UInt8* buffer, CFIndex capacity) {
  Conversion done;
  if (external && (codec == Codec::kUtf16Host || codec == Codec::kUtf32Host)) {
    UInt8 bom[4];
    int size = 0;
    EncodeChar(0xFEFF, codec, bom, &size);
    if (buffer != nullptr && size > capacity) return done;
    if (buffer != nullptr) std::memcpy(buffer, bom, size);
    done.bytes = size;
  }
  CFIndex i = range.location;
  const CFIndex end = range.location + range.length;
  while (i < end) {
    char32_t cp = string->units[i];
    int width = 1;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < end && string->units[i + 1] >= 0xDC00 &&
        string->units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (string->units[i + 1] - 0xDC00);
      width = 2;
    }
    UInt8 encoded[4];
    int size = 0;
    if (!EncodeChar(cp, codec, encoded, &size)) {
      if (loss_byte == 0 || codec == Codec::kUtf8) break;
      encoded[0] = loss_byte;
      size = 1;
    }
    if (buffer != nullptr && done.bytes + size > capacity) break;
    if (buffer != nullptr) std::memcpy(buffer + done.bytes, encoded, size);
    done.bytes += size;
    done.units += width;
    i += width;
  }
  return done;
}

}  // namespace

__CFString* MakeString(const std::u16string& units) {
  return NewString(units, false);
}

std::u16string Utf16FromUtf8(const char* text) {
  std::u16string units;
  if (!DecodeUtf8(reinterpret_cast<const UInt8*>(text), std::strlen(text), &units)) units.clear();
  return units;
}

std::u16string Utf16Of(const __CFString* string) {
  return std::u16string(string->units, string->units + string->length);
}

bool IsCommonModes(const __CFString* mode) {
  return mode->length == g_common_modes.length &&
         std::memcmp(mode->units, g_common_modes.units, sizeof(char16_t) * mode->length) == 0;
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::S;

CFTypeID CFStringGetTypeID(void) {
  return desktop_sim::kStringTypeId;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  Lock lock(S().mu);
  if (cStr == nullptr) {
    desktop_sim::RecordMisuse(desktop_sim::Misuse::kNullArgument, "CFSTR", "NULL text");
    return nullptr;
  }
  auto found = S().constant_strings.find(cStr);
  if (found != S().constant_strings.end()) return found->second;
  std::u16string units;
  if (!desktop_sim::Decode(reinterpret_cast<const UInt8*>(cStr), std::strlen(cStr),
                           kCFStringEncodingUTF8, false, &units)) {
    units.clear();
    desktop_sim::Decode(reinterpret_cast<const UInt8*>(cStr), std::strlen(cStr),
                        kCFStringEncodingISOLatin1, false, &units);
  }
  __CFString* string = desktop_sim::NewString(units, true);
  S().constant_strings.emplace(cStr, string);
  return string;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
  (void)alloc;
  Lock lock(S().mu);
  if (numBytes < 0 || (bytes == nullptr && numBytes > 0)) {
    desktop_sim::RecordMisuse(desktop_sim::Misuse::kBadArgument, "CFStringCreateWithBytes",
                              "%ld bytes at %p", static_cast<long>(numBytes),
                              static_cast<const void*>(bytes));
    return nullptr;
  }
  std::u16string units;
  if (!desktop_sim::Decode(bytes, static_cast<size_t>(numBytes), encoding,
                           isExternalRepresentation != 0, &units)) {
    return nullptr;  // bytes invalid for the encoding, or an encoding the simulation lacks
  }
  return desktop_sim::NewString(units, false);
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding) {
  if (cStr == nullptr) {
    Lock lock(S().mu);
    desktop_sim::RecordMisuse(desktop_sim::Misuse::kNullArgument, "CFStringCreateWithCString",
                              "NULL text");
    return nullptr;
  }
  return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8*>(cStr),
                                 static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString) {
  (void)alloc;
  Lock lock(S().mu);
  auto* string =
      desktop_sim::UseAs<__CFString>(theString, desktop_sim::kStringTypeId, "CFStringCreateCopy");
  if (string == nullptr) return nullptr;
  return desktop_sim::NewString(desktop_sim::Utf16Of(string), false);
}

CFIndex CFStringGetLength(CFStringRef theString) {
  Lock lock(S().mu);
  auto* string =
      desktop_sim::UseAs<__CFString>(theString, desktop_sim::kStringTypeId, "CFStringGetLength");
  return string ? string->length : 0;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  using desktop_sim::Codec;
  switch (desktop_sim::CodecFor(encoding)) {
    case Codec::kUtf8:
      return length * 3;
    case Codec::kAscii:
    case Codec::kLatin1:
      return length;
    case Codec::kUtf16Host:
    case Codec::kUtf16BE:
    case Codec::kUtf16LE:
      return length * 2;
    case Codec::kUtf32Host:
      return length * 4;
    case Codec::kNone:
      break;
  }
  return kCFNotFound;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
  Lock lock(S().mu);
  if (usedBufLen != nullptr) *usedBufLen = 0;
  auto* string =
      desktop_sim::UseAs<__CFString>(theString, desktop_sim::kStringTypeId, "CFStringGetBytes");
  if (string == nullptr) return 0;
  if (range.location < 0 || range.length < 0 || range.location + range.length > string->length) {
    desktop_sim::RecordMisuse(desktop_sim::Misuse::kBadArgument, "CFStringGetBytes",
                              "range {%ld, %ld} outside a string of length %ld",
                              static_cast<long>(range.location), static_cast<long>(range.length),
                              static_cast<long>(string->length));
    return 0;
  }
  const desktop_sim::Codec codec = desktop_sim::CodecFor(encoding);
  if (codec == desktop_sim::Codec::kNone) return 0;
  const desktop_sim::Conversion done = desktop_sim::Convert(
      string, range, codec, lossByte, isExternalRepresentation != 0, buffer, maxBufLen);
  if (usedBufLen != nullptr) *usedBufLen = done.bytes;
  return done.units;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
  Lock lock(S().mu);
  auto* string =
      desktop_sim::UseAs<__CFString>(theString, desktop_sim::kStringTypeId, "CFStringGetCString");
  if (string == nullptr || buffer == nullptr || bufferSize < 1) return false;
  const desktop_sim::Codec codec = desktop_sim::CodecFor(encoding);
  if (codec == desktop_sim::Codec::kNone) return false;
  const desktop_sim::Conversion done =
      desktop_sim::Convert(string, CFRangeMake(0, string->length), codec, 0, false,
                           reinterpret_cast<UInt8*>(buffer), bufferSize - 1);
  if (done.units != string->length) return false;
  buffer[done.bytes] = '\0';
  return true;
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) {
  (void)encoding;
  Lock lock(S().mu);
  desktop_sim::Use(theString, desktop_sim::kStringTypeId, "CFStringGetCStringPtr");
  return nullptr;  // allowed at any time on macOS, so callers must have a fallback
}
