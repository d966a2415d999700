// UCKeyTranslate: a key code and modifier state through a 'uchr' resource, as UnicodeUtilities.h
// describes the resource and the dead-key states. It reads only what the program passes, like
// the platform's; when the layout is the byte pointer of a CFData of this desktop (as the text
// input sources hand it out) every read is also checked against that data's length.
#include <cstring>
#include <limits>
#include <string>

#include "world/internal.h"

namespace desktop_sim {
namespace {

// Bounded native-endian reads of the resource.
class Resource {
 public:
  Resource(const UInt8* base, size_t size) : base_(base), size_(size) {}

  template <typename T>
  bool Read(size_t offset, T* out) const {
    if (offset > size_ || size_ - offset < sizeof(T)) return false;
    std::memcpy(out, base_ + offset, sizeof(T));
    return true;
  }

 private:
  const UInt8* base_;
  size_t size_;
};

// The parts of the resource that apply to one keyboard type.
struct Tables {
  UInt32 modifiers = 0;
  UInt32 char_index = 0;
  UInt32 records = 0;      // 0: none
  UInt32 terminators = 0;  // 0: none
  UInt32 sequences = 0;    // 0: none
};

bool SelectTables(const Resource& r, UInt32 keyboard_type, Tables* out) {
  UInt16 format = 0;
  UInt32 count = 0;
  if (!r.Read(0, &format) || format != kUCKeyLayoutHeaderFormat || !r.Read(8, &count) ||
      count == 0) {
    return false;
  }
  size_t chosen = 0;
  for (UInt32 i = 0; i < count; ++i) {
    const size_t entry = 12 + i * sizeof(UCKeyboardTypeHeader);
    UInt32 first = 0, last = 0;
    if (!r.Read(entry, &first) || !r.Read(entry + 4, &last)) return false;
    if (i > 0 && keyboard_type >= first && keyboard_type <= last) {
      chosen = i;
      break;
    }
  }
  const size_t entry = 12 + chosen * sizeof(UCKeyboardTypeHeader);
  return r.Read(entry + 8, &out->modifiers) && r.Read(entry + 12, &out->char_index) &&
         r.Read(entry + 16, &out->records) && r.Read(entry + 20, &out->terminators) &&
         r.Read(entry + 24, &out->sequences);
}

bool TableNumber(const Resource& r, const Tables& t, UInt32 modifier_state, UInt8* table) {
  UInt16 format = 0, default_table = 0;
  UInt32 count = 0;
  if (!r.Read(t.modifiers, &format) || format != kUCKeyModifiersToTableNumFormat ||
      !r.Read(t.modifiers + 2, &default_table) || !r.Read(t.modifiers + 4, &count)) {
    return false;
  }
  const UInt32 state = modifier_state & 0xFF;
  if (state >= count) {
    *table = static_cast<UInt8>(default_table);
    return true;
  }
  return r.Read(t.modifiers + 8 + state, table);
}

// The key's output; false for a malformed table or a key code beyond it.
bool KeyOutput(const Resource& r, const Tables& t, UInt8 table, UInt16 code, UCKeyOutput* out) {
  UInt16 format = 0, size = 0;
  UInt32 count = 0, offset = 0;
  if (!r.Read(t.char_index, &format) || format != kUCKeyToCharTableIndexFormat ||
      !r.Read(t.char_index + 2, &size) || !r.Read(t.char_index + 4, &count) || table >= count ||
      code >= size || !r.Read(t.char_index + 8 + 4 * size_t{table}, &offset)) {
    return false;
  }
  return r.Read(offset + 2 * size_t{code}, out);
}

// Appends what a character-or-sequence value stands for; false for a malformed resource.
bool AppendCharSeq(const Resource& r, const Tables& t, UCKeyCharSeq value, std::u16string* out) {
  if ((value & kUCKeyOutputTestForIndexMask) == kUCKeyOutputSequenceIndexMask && t.sequences != 0) {
    UInt16 format = 0, count = 0;
    if (!r.Read(t.sequences, &format) || format != kUCKeySequenceDataIndexFormat ||
        !r.Read(t.sequences + 2, &count)) {
      return false;
    }
    const UInt16 index = value & kUCKeyOutputGetIndexMask;
    if (index < count) {
      UInt16 start = 0, end = 0;
      if (!r.Read(t.sequences + 4 + 2 * size_t{index}, &start) ||
          !r.Read(t.sequences + 6 + 2 * size_t{index}, &end) || end < start) {
        return false;
      }
      for (UInt16 at = start; at < end; at += 2) {
        UniChar unit = 0;
        if (!r.Read(t.sequences + at, &unit)) return false;
        out->push_back(unit);
      }
      return true;
    }
  }
  if (value != 0xFFFE && value != 0xFFFF) out->push_back(value);
  return true;
}

bool AppendTerminator(const Resource& r, const Tables& t, UInt32 state, std::u16string* out) {
  if (t.terminators == 0 || state == 0) return true;
  UInt16 format = 0, count = 0;
  if (!r.Read(t.terminators, &format) || format != kUCKeyStateTerminatorsFormat ||
      !r.Read(t.terminators + 2, &count)) {
    return false;
  }
  if (state > count) return true;  // a state without terminator outputs nothing
  UCKeyCharSeq terminator = 0;
  return r.Read(t.terminators + 4 + 2 * size_t{state - 1}, &terminator) &&
         AppendCharSeq(r, t, terminator, out);
}

struct Step {
  UCKeyCharSeq output;
  UInt32 next_state;
  bool matched;  // an entry for the current state applied
};

// What a key with a state record does in state current.
bool RecordStep(const Resource& r, const Tables& t, UInt16 index, UInt32 current, Step* step) {
  UInt16 format = 0, count = 0;
  UInt32 offset = 0;
  if (t.records == 0 || !r.Read(t.records, &format) || format != kUCKeyStateRecordsIndexFormat ||
      !r.Read(t.records + 2, &count) || index >= count ||
      !r.Read(t.records + 4 + 4 * size_t{index}, &offset)) {
    return false;
  }
  UInt16 zero_output = 0, zero_next = 0, entries = 0, entry_format = 0;
  if (!r.Read(offset, &zero_output) || !r.Read(offset + 2, &zero_next) ||
      !r.Read(offset + 4, &entries) || !r.Read(offset + 6, &entry_format)) {
    return false;
  }
  *step = {zero_output, zero_next, false};
  if (current == 0) return true;
  for (UInt16 i = 0; i < entries; ++i) {
    const size_t entry =
        offset + 8 + 4 * size_t{i} * (entry_format == kUCKeyStateEntryRangeFormat ? 2 : 1);
    if (entry_format == kUCKeyStateEntryTerminalFormat) {
      UInt16 state = 0, output = 0;
      if (!r.Read(entry, &state) || !r.Read(entry + 2, &output)) return false;
      if (state == current) {
        *step = {output, 0, true};
        return true;
      }
    } else if (entry_format == kUCKeyStateEntryRangeFormat) {
      UInt16 start = 0, output = 0, next = 0;
      UInt8 range = 0, multiplier = 0;
      if (!r.Read(entry, &start) || !r.Read(entry + 2, &range) || !r.Read(entry + 3, &multiplier) ||
          !r.Read(entry + 4, &output) || !r.Read(entry + 6, &next)) {
        return false;
      }
      if (current >= start && current <= UInt32{start} + range) {
        const UInt32 delta = (current - start) * multiplier;
        if (output < 0xFFFE) output = static_cast<UInt16>(output + delta);
        if (next != 0) next = static_cast<UInt16>(next + delta);
        *step = {output, next, true};
        return true;
      }
    } else {
      return false;
    }
  }
  return true;
}

// The translation proper. Key-up gives nothing. Display shows what the key gives from state 0
// and never moves the state. Without kUCKeyTranslateNoDeadKeysMask a dead key outputs nothing
// and sets the state; with it, no state is set and the key outputs the accent's terminator (its
// spacing form), as if no letter followed.
OSStatus Translate(const Resource& r, UInt16 code, UInt16 action, UInt32 modifier_state,
                   UInt32 keyboard_type, OptionBits options, UInt32* dead_key_state,
                   std::u16string* out) {
  if (action > kUCKeyActionDisplay) return paramErr;
  Tables t;
  UInt8 table = 0;
  UCKeyOutput output = 0;
  if (!SelectTables(r, keyboard_type, &t) || !TableNumber(r, t, modifier_state, &table) ||
      !KeyOutput(r, t, table, code, &output)) {
    return paramErr;
  }
  if (action == kUCKeyActionUp) return noErr;
  const bool display = action == kUCKeyActionDisplay;
  const bool no_dead_keys = display || (options & kUCKeyTranslateNoDeadKeysMask) != 0;
  const UInt32 current = display ? 0 : *dead_key_state;
  Step step{output, 0, false};
  if ((output & kUCKeyOutputTestForIndexMask) == kUCKeyOutputStateIndexMask) {
    if (!RecordStep(r, t, output & kUCKeyOutputGetIndexMask, current, &step)) return paramErr;
  }
  if (current != 0 && !step.matched && !AppendTerminator(r, t, current, out)) return paramErr;
  const size_t before = out->size();
  if (!AppendCharSeq(r, t, step.output, out)) return paramErr;
  if (step.next_state != 0 && no_dead_keys) {
    if (out->size() == before && !AppendTerminator(r, t, step.next_state, out)) return paramErr;
    step.next_state = 0;
  }
  if (!display) *dead_key_state = step.next_state;
  return noErr;
}

}  // namespace
}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::S;

OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                        UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]) {
  if (keyLayoutPtr == nullptr || deadKeyState == nullptr || actualStringLength == nullptr ||
      unicodeString == nullptr) {
    return paramErr;
  }
  CFIndex length = -1;
  {
    Lock lock(S().mu);
    length = desktop_sim::DataLengthAt(keyLayoutPtr);
  }
  const size_t size =
      length >= 0 ? static_cast<size_t>(length) : std::numeric_limits<size_t>::max();
  const desktop_sim::Resource resource(reinterpret_cast<const UInt8*>(keyLayoutPtr), size);
  std::u16string out;
  UInt32 state = *deadKeyState;
  const OSStatus status =
      desktop_sim::Translate(resource, virtualKeyCode, keyAction, modifierKeyState, keyboardType,
                             keyTranslateOptions, &state, &out);
  if (status != noErr) return status;
  if (out.size() > maxStringLength) return kUCOutputBufferTooSmall;
  std::memcpy(unicodeString, out.data(), out.size() * sizeof(UniChar));
  *actualStringLength = out.size();
  *deadKeyState = state;
  return noErr;
}
