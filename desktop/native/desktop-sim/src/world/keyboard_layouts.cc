// Keyboard layouts as the Mac has them: for every key of the main block the character it gives
// with no modifier, with Shift, with Option and with Shift-Option, which of those are dead keys,
// and which layers Command selects. Each layout is turned into a 'uchr' resource laid out as
// UnicodeUtilities.h describes it, so that UCKeyTranslate reads it the way it reads the real
// ones. Sources of the characters: the README ("Keyboard layouts").
#include "world/keyboard_layouts.h"

#include "world/internal.h"

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace desktop_sim {
namespace {

// Key codes of the main block, row by row as the keys sit (HIToolbox's Events.h kVK_ANSI_*):
// the number row from 1 to =, the top row from Q to \, the home row from A to ', the bottom row
// from Z to /, then the key left of 1 on ANSI keyboards (kVK_ANSI_Grave) and the extra ISO key
// (kVK_ISO_Section).
constexpr uint16_t kNumberRow[] = {18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27, 24};
constexpr uint16_t kTopRow[] = {12, 13, 14, 15, 17, 16, 32, 34, 31, 35, 33, 30, 42};
constexpr uint16_t kHomeRow[] = {0, 1, 2, 3, 5, 4, 38, 40, 37, 41, 39};
constexpr uint16_t kBottomRow[] = {6, 7, 8, 9, 11, 45, 46, 43, 47, 44};
constexpr uint16_t kExtraKeys[] = {50, 10};

enum Layer { kPlain, kShift, kOption, kShiftOption, kLayerCount };

// One layer: the characters of each row in the order of the codes above, in UTF-8, one
// character per key.
struct Rows {
  const char* number;
  const char* top;
  const char* home;
  const char* bottom;
  const char* extra;
};

// A key that, in that layer, starts an accent instead of typing: its character in the layer is
// the accent's spacing form, what the key gives when no letter follows.
struct DeadKey {
  uint16_t code;
  Layer layer;
};

struct LayoutSpec {
  const char* id;
  const char* name;
  Rows layers[kLayerCount];
  const DeadKey* dead;
  size_t dead_count;
  // The keypad's decimal key, per layer (the rest of the keypad is the same everywhere).
  const char* keypad_decimal;
  // The layout whose layers apply while Command is down; null: this one's own.
  const LayoutSpec* command;
};

constexpr DeadKey kUsDead[] = {
    {14, kOption}, {32, kOption}, {34, kOption}, {45, kOption}, {50, kOption}};
constexpr DeadKey kDvorakDead[] = {
    {2, kOption}, {3, kOption}, {5, kOption}, {37, kOption}, {50, kOption}};
constexpr DeadKey kFrenchDead[] = {
    {33, kPlain}, {42, kPlain}, {33, kShift}, {45, kOption}, {18, kShiftOption}};
constexpr DeadKey kGermanDead[] = {{24, kPlain},  {10, kPlain},  {24, kShift},
                                   {45, kOption}, {32, kOption}, {22, kShiftOption}};

constexpr LayoutSpec kUs = {
    "com.apple.keylayout.US",
    "U.S.",
    {
        {"1234567890-=", "qwertyuiop[]\\", "asdfghjkl;'", "zxcvbnm,./", "`§"},
        {"!@#$%^&*()_+", "QWERTYUIOP{}|", "ASDFGHJKL:\"", "ZXCVBNM<>?", "~±"},
        {"¡™£¢∞§¶•ªº–≠", "œ∑´®†¥¨ˆøπ“‘«", "åß∂ƒ©˙∆˚¬…æ", "Ω≈ç√∫˜µ≤≥÷", "`§"},
        {"⁄€‹›ﬁﬂ‡°·‚—±", "Œ„´‰ˇÁ¨ˆØ∏”’»", "ÅÍÎÏ˝ÓÔ\uF8FFÒÚÆ", "¸˛Ç◊ı˜Â¯˘¿", "`±"},
    },
    kUsDead,
    sizeof kUsDead / sizeof kUsDead[0],
    "....",
    nullptr,
};

constexpr LayoutSpec kFrench = {
    "com.apple.keylayout.French",
    "French",
    {
        {"&é\"'(§è!çà)-", "azertyuiop^$`", "qsdfghjklmù", "wxcvbn,;:=", "<@"},
        {"1234567890°_", "AZERTYUIOP¨*£", "QSDFGHJKLM%", "WXCVBN?./+", ">#"},
        {"\uF8FFë“‘{¶«¡Çø}—", "æÂê®†Úºîœπô€@", "‡Ò∂ƒﬁÌÏÈ¬µÙ", "‹≈©◊ß~∞…÷≠", "≤•"},
        {"´„”’[å»ÛÁØ]–", "ÆÅÊ‚™ŸªïŒ∏Ô¥#", "Ω∑∆·ﬂÎÍË|Ó‰", "›⁄¢√∫ı¿•\\±", "≥Ÿ"},
    },
    kFrenchDead,
    sizeof kFrenchDead / sizeof kFrenchDead[0],
    ",.,.",
    nullptr,
};

constexpr LayoutSpec kGerman = {
    "com.apple.keylayout.German",
    "German",
    {
        {"1234567890ß´", "qwertzuiopü+#", "asdfghjklöä", "yxcvbnm,.-", "<^"},
        {"!\"§$%&/()=?`", "QWERTZUIOPÜ*'", "ASDFGHJKLÖÄ", "YXCVBNM;:_", ">°"},
        {"¡“¶¢[]|{}≠¿'", "«∑€®†Ω¨⁄øπ•±‘", "å‚∂ƒ©ªº∆@œæ", "¥≈ç√∫~µ∞…–", "≤„"},
        {"¬”#£ﬁ^\\˜·¯˙˚", "»„‰¸˝ˇÁÛØ∏°\uF8FF’", "ÅÍ™ÏÌÓıˆﬂŒÆ", "‡ÙÇ◊‹›˘˛÷—", "≥“"},
    },
    kGermanDead,
    sizeof kGermanDead / sizeof kGermanDead[0],
    ",,..",
    nullptr,
};

constexpr Rows kDvorakLayers[kLayerCount] = {
    {"1234567890[]", "',.pyfgcrl/=\\", "aoeuidhtns-", ";qjkxbmwvz", "`§"},
    {"!@#$%^&*(){}", "\"<>PYFGCRL?+|", "AOEUIDHTNS_", ":QJKXBMWVZ", "~±"},
    {"¡™£¢∞§¶•ªº“‘", "æ≤≥π¥ƒ©ç®¬÷≠«", "åø´¨ˆ∂˙†˜ß–", "…œ∆˚≈∫µ∑√Ω", "`§"},
    {"⁄€‹›ﬁﬂ‡°·‚”’", "Æ¯˘∏ÁÏ˝Ç‰Ò¿±»", "ÅØ´¨ˆÎÓˇ˜Í—", "ÚŒÔ\uF8FF˛ıÂ„◊¸", "`±"},
};

constexpr LayoutSpec kDvorak = {
    "com.apple.keylayout.Dvorak",
    "Dvorak",
    {kDvorakLayers[0], kDvorakLayers[1], kDvorakLayers[2], kDvorakLayers[3]},
    kDvorakDead,
    sizeof kDvorakDead / sizeof kDvorakDead[0],
    "....",
    nullptr,
};

// Dvorak while typing, the U.S. positions while Command is down.
constexpr LayoutSpec kDvorakQwertyCommand = {
    "com.apple.keylayout.DVORAK-QWERTYCMD",
    "Dvorak - QWERTY \xE2\x8C\x98",
    {kDvorakLayers[0], kDvorakLayers[1], kDvorakLayers[2], kDvorakLayers[3]},
    kDvorakDead,
    sizeof kDvorakDead / sizeof kDvorakDead[0],
    "....",
    &kUs,
};

constexpr const LayoutSpec* kLayouts[] = {&kUs, &kFrench, &kGerman, &kDvorak,
                                          &kDvorakQwertyCommand};

constexpr char16_t kNoOutput = 0xFFFF;
constexpr uint16_t kTableSize = 128;

// Keys outside the main block: what every layer gives for them, the MacRoman control codes of
// HIToolbox's Events.h (kReturnCharCode, kLeftArrowCharCode, kFunctionKeyCharCode, ...).
struct FixedKey {
  uint16_t code;
  char16_t character;
};
constexpr FixedKey kFixedKeys[] = {
    {36, 0x0D},  {48, 0x09},  {51, 0x08},  {53, 0x1B},  {76, 0x03},  {71, 0x1B},  {114, 0x05},
    {115, 0x01}, {116, 0x0B}, {117, 0x7F}, {119, 0x04}, {121, 0x0C}, {123, 0x1C}, {124, 0x1D},
    {125, 0x1F}, {126, 0x1E}, {67, '*'},   {69, '+'},   {75, '/'},   {78, '-'},   {81, '='},
    {82, '0'},   {83, '1'},   {84, '2'},   {85, '3'},   {86, '4'},   {87, '5'},   {88, '6'},
    {89, '7'},   {91, '8'},   {92, '9'},
};
// F1 to F20.
constexpr uint16_t kFunctionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                      103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
constexpr uint16_t kSpaceKey = 49;
constexpr uint16_t kKeypadDecimal = 65;
constexpr char16_t kNoBreakSpace = 0x00A0;

// One key-to-character table: what each key code gives, and whether it starts an accent.
struct Table {
  std::array<char16_t, kTableSize> characters;
  std::array<bool, kTableSize> dead;
};

void PutRow(Table& table, const uint16_t* codes, size_t count, const char* characters) {
  const std::u16string units = Utf16FromUtf8(characters);
  for (size_t i = 0; i < count && i < units.size(); ++i) table.characters[codes[i]] = units[i];
}

template <size_t N>
void PutRow(Table& table, const uint16_t (&codes)[N], const char* characters) {
  PutRow(table, codes, N, characters);
}

Table LayerTable(const LayoutSpec& spec, Layer layer) {
  Table table;
  table.characters.fill(kNoOutput);
  table.dead.fill(false);
  for (const FixedKey& key : kFixedKeys) table.characters[key.code] = key.character;
  for (uint16_t code : kFunctionKeys) table.characters[code] = 0x10;
  const bool option = layer == kOption || layer == kShiftOption;
  table.characters[kSpaceKey] = option ? kNoBreakSpace : u' ';
  table.characters[kKeypadDecimal] = static_cast<char16_t>(spec.keypad_decimal[layer]);
  const Rows& rows = spec.layers[layer];
  PutRow(table, kNumberRow, rows.number);
  PutRow(table, kTopRow, rows.top);
  PutRow(table, kHomeRow, rows.home);
  PutRow(table, kBottomRow, rows.bottom);
  PutRow(table, kExtraKeys, rows.extra);
  for (size_t i = 0; i < spec.dead_count; ++i) {
    if (spec.dead[i].layer == layer) table.dead[spec.dead[i].code] = true;
  }
  return table;
}

bool IsLowerLatin(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
}

// Caps Lock: the plain layer with its small letters made capitals.
Table CapsTable(Table table) {
  for (char16_t& c : table.characters) {
    if (IsLowerLatin(c)) c = static_cast<char16_t>(c - 0x20);
  }
  return table;
}

// Control: letters and [ \ ] become their control codes; nothing starts an accent.
Table ControlTable(Table table) {
  for (char16_t& c : table.characters) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c & 0x1F);
    } else if (c == u'[' || c == u'\\' || c == u']') {
      c = static_cast<char16_t>(c & 0x1F);
    }
  }
  table.dead.fill(false);
  return table;
}

// Accents and the letters they combine with (Unicode's precomposed forms).
struct Accent {
  std::u16string_view spacing_forms;  // the characters a dead key of this accent shows
  std::u16string_view pairs;          // base letter, then the letter with the accent
};
constexpr Accent kAccents[] = {
    {u"`", u"aàeèiìoòuùAÀEÈIÌOÒUÙ"},  {u"´", u"aáeéiíoóuúyýAÁEÉIÍOÓUÚYÝ"},
    {u"^ˆ", u"aâeêiîoôuûAÂEÊIÎOÔUÛ"}, {u"¨", u"aäeëiïoöuüyÿAÄEËIÏOÖUÜYŸ"},
    {u"~˜", u"aãnñoõAÃNÑOÕ"},
};

const Accent* AccentOf(char16_t spacing) {
  for (const Accent& accent : kAccents) {
    if (accent.spacing_forms.find(spacing) != std::u16string_view::npos) return &accent;
  }
  return nullptr;
}

// The letter with the accent, or kNoOutput.
char16_t Compose(const Accent* accent, char16_t base) {
  if (accent == nullptr) return kNoOutput;
  for (size_t i = 0; i + 1 < accent->pairs.size(); i += 2) {
    if (accent->pairs[i] == base) return accent->pairs[i + 1];
  }
  return kNoOutput;
}

// A state record as it goes into the resource: its output in state 0, the state it moves to,
// and its (terminal) entries for other states.
struct Record {
  char16_t zero_output;
  uint16_t next_state;
  std::vector<std::pair<uint16_t, char16_t>> entries;
};

// Native-endian writer of the resource. Offsets are patched once the parts they point to are
// placed.
class Writer {
 public:
  size_t Size() const { return bytes_.size(); }
  template <typename T>
  size_t Put(T value) {
    const size_t at = bytes_.size();
    bytes_.resize(at + sizeof(T));
    std::memcpy(&bytes_[at], &value, sizeof(T));
    return at;
  }
  template <typename T>
  void Patch(size_t at, T value) {
    std::memcpy(&bytes_[at], &value, sizeof(T));
  }
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// Table numbers of the resource.
enum TableNumber : uint8_t {
  kPlainTable,
  kShiftTable,
  kCapsTable,
  kOptionTable,
  kShiftOptionTable,
  kControlTable,
  kCommandPlainTable,  // these four only for a layout with Command layers of its own
  kCommandShiftTable,
  kCommandOptionTable,
  kCommandShiftOptionTable,
};

// The modifier state byte (Carbon's modifiers >> 8): 1 Command, 2 Shift, 4 Caps Lock, 8 Option,
// 16 Control. The right-hand bits above are not reported on macOS and take the default table.
constexpr uint32_t kStateCount = 32;

uint8_t TableForState(uint32_t state, bool own_command) {
  const bool command = state & 0x01, shift = state & 0x02, caps = state & 0x04,
             option = state & 0x08, control = state & 0x10;
  if (control) return kControlTable;
  if (command) {
    const uint8_t base = own_command ? kCommandPlainTable : kPlainTable;
    if (shift && option) return own_command ? kCommandShiftOptionTable : kShiftOptionTable;
    if (option) return own_command ? kCommandOptionTable : kOptionTable;
    if (shift) return own_command ? kCommandShiftTable : kShiftTable;
    return base;
  }
  if (shift && option) return kShiftOptionTable;
  if (option) return kOptionTable;
  if (shift) return kShiftTable;
  if (caps) return kCapsTable;
  return kPlainTable;
}

std::vector<Table> TablesOf(const LayoutSpec& spec) {
  std::vector<Table> tables = {LayerTable(spec, kPlain),
                               LayerTable(spec, kShift),
                               CapsTable(LayerTable(spec, kPlain)),
                               LayerTable(spec, kOption),
                               LayerTable(spec, kShiftOption),
                               ControlTable(LayerTable(spec, kPlain))};
  if (spec.command != nullptr) {
    for (Layer layer : {kPlain, kShift, kOption, kShiftOption}) {
      tables.push_back(LayerTable(*spec.command, layer));
    }
  }
  return tables;
}

std::vector<uint8_t> Serialize(const std::vector<Table>& tables, bool own_command) {
  // Dead states: one per accent's spacing form that starts one, numbered from 1.
  std::vector<char16_t> terminators;
  auto state_of = [&](char16_t spacing) -> uint16_t {
    for (size_t i = 0; i < terminators.size(); ++i) {
      if (terminators[i] == spacing) return static_cast<uint16_t>(i + 1);
    }
    terminators.push_back(spacing);
    return static_cast<uint16_t>(terminators.size());
  };
  for (const Table& table : tables) {
    for (uint16_t code = 0; code < kTableSize; ++code) {
      if (table.dead[code]) state_of(table.characters[code]);
    }
  }

  // Outputs: a character, or a state record for dead keys and for what they combine with.
  std::vector<Record> records;
  std::map<std::pair<bool, char16_t>, uint16_t> record_index;  // (dead, character)
  auto record_for = [&](bool dead, char16_t c) -> uint16_t {
    const auto key = std::make_pair(dead, c);
    auto found = record_index.find(key);
    if (found != record_index.end()) return found->second;
    Record record{dead ? kNoOutput : c, dead ? state_of(c) : uint16_t{0}, {}};
    if (!dead) {
      for (size_t s = 0; s < terminators.size(); ++s) {
        const char16_t composed = c == u' ' ? terminators[s] : Compose(AccentOf(terminators[s]), c);
        if (composed != kNoOutput) record.entries.push_back({uint16_t(s + 1), composed});
      }
    }
    records.push_back(record);
    return record_index[key] = static_cast<uint16_t>(records.size() - 1);
  };
  std::vector<std::array<UCKeyOutput, kTableSize>> outputs(tables.size());
  for (size_t t = 0; t < tables.size(); ++t) {
    for (uint16_t code = 0; code < kTableSize; ++code) {
      const char16_t c = tables[t].characters[code];
      bool combines = c == u' ' && !terminators.empty();
      for (size_t s = 0; s < terminators.size() && !combines; ++s) {
        combines = Compose(AccentOf(terminators[s]), c) != kNoOutput;
      }
      if (tables[t].dead[code] || combines) {
        outputs[t][code] = kUCKeyOutputStateIndexMask | record_for(tables[t].dead[code], c);
      } else {
        outputs[t][code] = c;
      }
    }
  }

  Writer w;
  // Header with one keyboard-type entry, the default for every keyboard type.
  w.Put<UInt16>(kUCKeyLayoutHeaderFormat);
  w.Put<UInt16>(0x0100);
  const size_t feature_offset = w.Put<UInt32>(0);
  w.Put<UInt32>(1);
  w.Put<UInt32>(0);  // keyboardTypeFirst
  w.Put<UInt32>(0);  // keyboardTypeLast
  const size_t modifiers_offset = w.Put<UInt32>(0);
  const size_t char_index_offset = w.Put<UInt32>(0);
  const size_t records_offset = w.Put<UInt32>(0);
  const size_t terminators_offset = w.Put<UInt32>(0);
  w.Put<UInt32>(0);  // no sequence table

  w.Patch<UInt32>(feature_offset, static_cast<UInt32>(w.Size()));
  w.Put<UInt16>(kUCKeyLayoutFeatureInfoFormat);
  w.Put<UInt16>(0);
  w.Put<UInt32>(2);  // an accent that combines with nothing, then the character

  w.Patch<UInt32>(modifiers_offset, static_cast<UInt32>(w.Size()));
  w.Put<UInt16>(kUCKeyModifiersToTableNumFormat);
  w.Put<UInt16>(kPlainTable);
  w.Put<UInt32>(kStateCount);
  for (uint32_t state = 0; state < kStateCount; ++state)
    w.Put<UInt8>(TableForState(state, own_command));
  w.Align();

  w.Patch<UInt32>(char_index_offset, static_cast<UInt32>(w.Size()));
  w.Put<UInt16>(kUCKeyToCharTableIndexFormat);
  w.Put<UInt16>(kTableSize);
  w.Put<UInt32>(static_cast<UInt32>(tables.size()));
  std::vector<size_t> table_offsets;
  for (size_t t = 0; t < tables.size(); ++t) table_offsets.push_back(w.Put<UInt32>(0));
  for (size_t t = 0; t < tables.size(); ++t) {
    w.Patch<UInt32>(table_offsets[t], static_cast<UInt32>(w.Size()));
    for (UCKeyOutput output : outputs[t]) w.Put<UCKeyOutput>(output);
  }
  w.Align();

  w.Patch<UInt32>(records_offset, static_cast<UInt32>(w.Size()));
  w.Put<UInt16>(kUCKeyStateRecordsIndexFormat);
  w.Put<UInt16>(static_cast<UInt16>(records.size()));
  std::vector<size_t> record_offsets;
  for (size_t r = 0; r < records.size(); ++r) record_offsets.push_back(w.Put<UInt32>(0));
  for (size_t r = 0; r < records.size(); ++r) {
    w.Patch<UInt32>(record_offsets[r], static_cast<UInt32>(w.Size()));
    w.Put<UCKeyCharSeq>(records[r].zero_output);
    w.Put<UInt16>(records[r].next_state);
    w.Put<UInt16>(static_cast<UInt16>(records[r].entries.size()));
    w.Put<UInt16>(kUCKeyStateEntryTerminalFormat);
    for (const auto& entry : records[r].entries) {
      w.Put<UInt16>(entry.first);
      w.Put<UCKeyCharSeq>(entry.second);
    }
  }

  w.Patch<UInt32>(terminators_offset, static_cast<UInt32>(w.Size()));
  w.Put<UInt16>(kUCKeyStateTerminatorsFormat);
  w.Put<UInt16>(static_cast<UInt16>(terminators.size()));
  for (char16_t terminator : terminators) w.Put<UCKeyCharSeq>(terminator);
  w.Align();
  return w.Take();
}

}  // namespace

size_t KeyboardLayoutCount() {
  return sizeof kLayouts / sizeof kLayouts[0];
}

const char* KeyboardLayoutId(size_t layout) {
  return kLayouts[layout]->id;
}

const char* KeyboardLayoutName(size_t layout) {
  return kLayouts[layout]->name;
}

size_t KeyboardLayoutNamed(const char* id) {
  for (size_t i = 0; i < KeyboardLayoutCount(); ++i) {
    if (std::strcmp(kLayouts[i]->id, id) == 0) return i;
  }
  return KeyboardLayoutCount();
}

std::vector<uint8_t> BuildUchr(size_t layout) {
  const LayoutSpec& spec = *kLayouts[layout];
  return Serialize(TablesOf(spec), spec.command != nullptr);
}

}  // namespace desktop_sim
