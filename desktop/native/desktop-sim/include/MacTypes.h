// Scalar types of the macOS base headers, LP64 layout (the same on Linux x86_64 and aarch64).
#ifndef DESKTOP_SIM_MACTYPES_H_
#define DESKTOP_SIM_MACTYPES_H_

// Boolean is deliberately not bool: code that mixes them must fail here as it does on macOS.
typedef unsigned char Boolean;

typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef unsigned long long UInt64;
typedef signed long long SInt64;

// Result codes of the Carbon-era calls: 0 is noErr, negative values are errors.
typedef SInt32 OSStatus;
typedef UInt32 OptionBits;
enum {
  noErr = 0,
};

typedef UInt16 UniChar;
typedef unsigned long UniCharCount;

#endif  // DESKTOP_SIM_MACTYPES_H_
