// Key translation through a Unicode keyboard layout ('uchr' data, as the text input sources hand
// it out): the resource's record formats and UCKeyTranslate.
#ifndef DESKTOP_SIM_UNICODEUTILITIES_H_
#define DESKTOP_SIM_UNICODEUTILITIES_H_

#include <CarbonCore/MacErrors.h>
#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

// The records are packed to two bytes, as the resource is laid out.
#pragma pack(push, 2)

// One key's output in a key-to-character table. Bits 15-14 01: bits 13-0 index a state record
// (a key that takes part in dead-key sequences); 10: a character sequence when the resource has
// a sequence table, else a character; otherwise the character itself, 0xFFFE and 0xFFFF
// standing for no output.
typedef UInt16 UCKeyOutput;
typedef UInt16 UCKeyCharSeq;
enum {
  kUCKeyOutputStateIndexMask = 0x4000,
  kUCKeyOutputSequenceIndexMask = 0x8000,
  kUCKeyOutputTestForIndexMask = 0xC000,
  kUCKeyOutputGetIndexMask = 0x3FFF,
};

// In state 0 a key with a state record outputs stateZeroCharData and moves to
// stateZeroNextState; in another state it takes its entry for that state, or, without one, the
// state's terminator is output first and the key then acts as in state 0.
struct UCKeyStateRecord {
  UCKeyCharSeq stateZeroCharData;
  UInt16 stateZeroNextState;
  UInt16 stateEntryCount;
  UInt16 stateEntryFormat;
  UInt32 stateEntryData[1];  // stateEntryCount entries in stateEntryFormat
};
typedef struct UCKeyStateRecord UCKeyStateRecord;

enum {
  kUCKeyStateEntryTerminalFormat = 0x0001,
  kUCKeyStateEntryRangeFormat = 0x0002,
};

// An entry that outputs charData and returns to state 0.
struct UCKeyStateEntryTerminal {
  UInt16 curState;
  UCKeyCharSeq charData;
};
typedef struct UCKeyStateEntryTerminal UCKeyStateEntryTerminal;

struct UCKeyStateEntryRange {
  UInt16 curStateStart;
  UInt8 curStateRange;
  UInt8 deltaMultiplier;
  UCKeyCharSeq charData;
  UInt16 nextState;
};
typedef struct UCKeyStateEntryRange UCKeyStateEntryRange;

// Offsets are from the start of the resource. The first entry is the default, used for a
// keyboard type no other entry's range holds.
struct UCKeyboardTypeHeader {
  UInt32 keyboardTypeFirst;
  UInt32 keyboardTypeLast;
  UInt32 keyModifiersToTableNumOffset;
  UInt32 keyToCharTableIndexOffset;
  UInt32 keyStateRecordsIndexOffset;  // 0: no table
  UInt32 keyStateTerminatorsOffset;   // 0: no table
  UInt32 keySequenceDataIndexOffset;  // 0: no table
};
typedef struct UCKeyboardTypeHeader UCKeyboardTypeHeader;

struct UCKeyboardLayout {
  UInt16 keyLayoutHeaderFormat;  // kUCKeyLayoutHeaderFormat
  UInt16 keyLayoutDataVersion;   // 0x0100 is 1.0
  UInt32 keyLayoutFeatureInfoOffset;
  UInt32 keyboardTypeCount;
  UCKeyboardTypeHeader keyboardTypeList[1];
};
typedef struct UCKeyboardLayout UCKeyboardLayout;

struct UCKeyLayoutFeatureInfo {
  UInt16 keyLayoutFeatureInfoFormat;
  UInt16 reserved;
  UInt32 maxOutputStringLength;
};
typedef struct UCKeyLayoutFeatureInfo UCKeyLayoutFeatureInfo;

// The table number for each modifier state (the state byte indexes tableNum), padded to four
// bytes; states from modifiersCount on take defaultTableNum.
struct UCKeyModifiersToTableNum {
  UInt16 keyModifiersToTableNumFormat;
  UInt16 defaultTableNum;
  UInt32 modifiersCount;
  UInt8 tableNum[1];
};
typedef struct UCKeyModifiersToTableNum UCKeyModifiersToTableNum;

// keyToCharTableCount tables of keyToCharTableSize UCKeyOutputs each, indexed by key code.
struct UCKeyToCharTableIndex {
  UInt16 keyToCharTableIndexFormat;
  UInt16 keyToCharTableSize;
  UInt32 keyToCharTableCount;
  UInt32 keyToCharTableOffsets[1];
};
typedef struct UCKeyToCharTableIndex UCKeyToCharTableIndex;

struct UCKeyStateRecordsIndex {
  UInt16 keyStateRecordsIndexFormat;
  UInt16 keyStateRecordCount;
  UInt32 keyStateRecordOffsets[1];
};
typedef struct UCKeyStateRecordsIndex UCKeyStateRecordsIndex;

// keyStateTerminators[0] is the terminator of state 1, and so on.
struct UCKeyStateTerminators {
  UInt16 keyStateTerminatorsFormat;
  UInt16 keyStateTerminatorCount;
  UCKeyCharSeq keyStateTerminators[1];
};
typedef struct UCKeyStateTerminators UCKeyStateTerminators;

struct UCKeySequenceDataIndex {
  UInt16 keySequenceDataIndexFormat;
  UInt16 charSequenceCount;
  UInt16 charSequenceOffsets[1];
};
typedef struct UCKeySequenceDataIndex UCKeySequenceDataIndex;

#pragma pack(pop)

enum {
  kUCKeyLayoutHeaderFormat = 0x1002,
  kUCKeyLayoutFeatureInfoFormat = 0x2001,
  kUCKeyModifiersToTableNumFormat = 0x3001,
  kUCKeyToCharTableIndexFormat = 0x4001,
  kUCKeyStateRecordsIndexFormat = 0x5001,
  kUCKeyStateTerminatorsFormat = 0x6001,
  kUCKeySequenceDataIndexFormat = 0x7001,
};

enum {
  kUCKeyActionDown = 0,
  kUCKeyActionUp = 1,
  kUCKeyActionAutoKey = 2,
  kUCKeyActionDisplay = 3,
};

enum {
  kUCKeyTranslateNoDeadKeysBit = 0,
};

// The option to pass: the bit's mask. Passing the bit itself (0) asks for no option at all.
enum {
  kUCKeyTranslateNoDeadKeysMask = 1L << kUCKeyTranslateNoDeadKeysBit,
};

// modifierKeyState is the Carbon modifier bits shifted down by 8 (cmdKey >> 8 is 1, shiftKey >> 8
// is 2, alphaLock >> 8 is 4, optionKey >> 8 is 8, controlKey >> 8 is 16). Answers paramErr for a
// NULL layout or output pointer, a malformed layout, a key code beyond its tables or an unknown
// action, and kUCOutputBufferTooSmall when the output does not fit maxStringLength units.
CF_EXPORT OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                                  UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                                  OptionBits keyTranslateOptions, UInt32* deadKeyState,
                                  UniCharCount maxStringLength, UniCharCount* actualStringLength,
                                  UniChar unicodeString[]);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_UNICODEUTILITIES_H_
