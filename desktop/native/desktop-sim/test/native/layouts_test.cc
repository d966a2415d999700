// Keyboard layouts: the text input sources and their properties, UCKeyTranslate over the layouts'
// 'uchr' data (layers, Command layers, dead keys, errors), the main-thread rule of the TIS calls
// and CFRunLoopGetMain.
#include <Carbon/Carbon.h>

#include <string>
#include <thread>

#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

class LayoutsTest : public SimTest {};

constexpr UInt32 kShift = shiftKey >> 8;
constexpr UInt32 kOption = optionKey >> 8;
constexpr UInt32 kCommand = cmdKey >> 8;
constexpr UInt32 kCaps = alphaLock >> 8;
constexpr UInt32 kControl = controlKey >> 8;

// The selected layout's data, borrowed from its source (released before returning: the source
// lives on in the system, and so does its data).
const UCKeyboardLayout* SelectedLayout() {
  TISInputSourceRef source = TISCopyCurrentKeyboardLayoutInputSource();
  auto data =
      static_cast<CFDataRef>(TISGetInputSourceProperty(source, kTISPropertyUnicodeKeyLayoutData));
  const auto* layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
  CFRelease(source);
  return layout;
}

struct Typed {
  OSStatus status;
  std::u16string text;
  UInt32 state;
};

Typed Type(const UCKeyboardLayout* layout, UInt16 code, UInt32 modifiers, UInt32 state = 0,
           OptionBits options = kUCKeyTranslateNoDeadKeysMask, UInt16 action = kUCKeyActionDown,
           UniCharCount room = 8) {
  UniChar units[8] = {};
  UniCharCount length = 0;
  const OSStatus status = UCKeyTranslate(layout, code, action, modifiers, LMGetKbdType(), options,
                                         &state, room, &length, units);
  return {status, std::u16string(units, units + length), state};
}

std::string Id(TISInputSourceRef source) {
  auto id = static_cast<CFStringRef>(TISGetInputSourceProperty(source, kTISPropertyInputSourceID));
  char text[128] = {};
  CFStringGetCString(id, text, sizeof text, kCFStringEncodingUTF8);
  return text;
}

TEST_F(LayoutsTest, TheSelectedLayoutIsWhatEveryCopyAnswers) {
  EXPECT_STREQ(desktop_sim_keyboard_layout(), "com.apple.keylayout.US");
  EXPECT_TRUE(desktop_sim_set_keyboard_layout("com.apple.keylayout.French"));
  EXPECT_FALSE(desktop_sim_set_keyboard_layout("com.apple.keylayout.Klingon"));
  EXPECT_STREQ(desktop_sim_keyboard_layout(), "com.apple.keylayout.French");
  TISInputSourceRef (*copies[])(void) = {TISCopyCurrentKeyboardInputSource,
                                         TISCopyCurrentKeyboardLayoutInputSource,
                                         TISCopyCurrentASCIICapableKeyboardInputSource,
                                         TISCopyCurrentASCIICapableKeyboardLayoutInputSource};
  for (auto copy : copies) {
    TISInputSourceRef source = copy();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(CFGetTypeID(source), TISInputSourceGetTypeID());
    EXPECT_EQ(Id(source), "com.apple.keylayout.French");
    EXPECT_EQ(desktop_sim_cf_live(), 1) << "the caller owns what a Copy call answers";
    CFRelease(source);
  }
  desktop_sim_reset();
  EXPECT_STREQ(desktop_sim_keyboard_layout(), "com.apple.keylayout.US");
  ExpectBalanced();
}

TEST_F(LayoutsTest, EachSourceHasItsPropertiesAndKeepsThemAcrossSwitches) {
  TISInputSourceRef us = TISCopyCurrentKeyboardLayoutInputSource();
  auto name = static_cast<CFStringRef>(TISGetInputSourceProperty(us, kTISPropertyLocalizedName));
  char text[64] = {};
  CFStringGetCString(name, text, sizeof text, kCFStringEncodingUTF8);
  EXPECT_STREQ(text, "U.S.");
  auto data =
      static_cast<CFDataRef>(TISGetInputSourceProperty(us, kTISPropertyUnicodeKeyLayoutData));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(CFGetTypeID(data), CFDataGetTypeID());
  EXPECT_GT(CFDataGetLength(data), static_cast<CFIndex>(sizeof(UCKeyboardLayout)));
  EXPECT_EQ(TISGetInputSourceProperty(us, CFSTR("TISPropertyIconRef")), nullptr);
  EXPECT_EQ(desktop_sim_cf_live(), 1) << "properties are borrowed";

  desktop_sim_set_keyboard_layout("com.apple.keylayout.DVORAK-QWERTYCMD");
  TISInputSourceRef dvorak = TISCopyCurrentKeyboardLayoutInputSource();
  EXPECT_NE(dvorak, us);
  EXPECT_NE(TISGetInputSourceProperty(dvorak, kTISPropertyUnicodeKeyLayoutData), data);
  name = static_cast<CFStringRef>(TISGetInputSourceProperty(dvorak, kTISPropertyLocalizedName));
  CFStringGetCString(name, text, sizeof text, kCFStringEncodingUTF8);
  EXPECT_STREQ(text, "Dvorak - QWERTY \xE2\x8C\x98");
  desktop_sim_set_keyboard_layout("com.apple.keylayout.US");
  TISInputSourceRef again = TISCopyCurrentKeyboardLayoutInputSource();
  EXPECT_EQ(again, us) << "a source is one object for the life of the process";
  EXPECT_EQ(TISGetInputSourceProperty(again, kTISPropertyUnicodeKeyLayoutData), data);
  for (TISInputSourceRef source : {us, dvorak, again}) CFRelease(source);
  ExpectBalanced();
}

TEST_F(LayoutsTest, ReleasingABorrowedPropertyOrTheSourceTwiceIsMisuse) {
  TISInputSourceRef source = TISCopyCurrentKeyboardLayoutInputSource();
  CFRelease(TISGetInputSourceProperty(source, kTISPropertyUnicodeKeyLayoutData));
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
  EXPECT_NE(LastMisuse().find("over-release"), std::string::npos) << LastMisuse();
  CFRelease(source);
  CFRelease(source);
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u);
  EXPECT_NE(LastMisuse().find("TISInputSource"), std::string::npos) << LastMisuse();
  // The system still holds the source: it is not freed, and answers as before.
  source = TISCopyCurrentKeyboardLayoutInputSource();
  EXPECT_EQ(Id(source), "com.apple.keylayout.US");
  CFRelease(source);
}

// What keys give, per layout and modifier state: [layout, key code, modifier state, text].
struct KeyCase {
  const char* layout;
  UInt16 code;
  UInt32 modifiers;
  const char16_t* text;
};

TEST_F(LayoutsTest, KeysGiveTheCharactersOfTheLayoutInEachLayer) {
  const KeyCase cases[] = {
      {"com.apple.keylayout.US", 0, 0, u"a"},
      {"com.apple.keylayout.US", 0, kShift, u"A"},
      {"com.apple.keylayout.US", 0, kCaps, u"A"},
      {"com.apple.keylayout.US", 0, kOption, u"å"},
      {"com.apple.keylayout.US", 0, kCommand, u"a"},
      {"com.apple.keylayout.US", 0, kControl, u"\x01"},
      {"com.apple.keylayout.US", 40, kShift | kOption, u"\uF8FF"},
      {"com.apple.keylayout.US", 49, kOption, u"\u00A0"},
      {"com.apple.keylayout.US", 36, 0, u"\r"},
      {"com.apple.keylayout.US", 123, 0, u"\x1C"},
      {"com.apple.keylayout.US", 83, 0, u"1"},
      {"com.apple.keylayout.French", 12, 0, u"a"},
      {"com.apple.keylayout.French", 13, kCommand, u"z"},
      {"com.apple.keylayout.French", 18, 0, u"&"},
      {"com.apple.keylayout.French", 18, kShift, u"1"},
      {"com.apple.keylayout.French", 18, kCommand, u"&"},
      {"com.apple.keylayout.French", 46, 0, u","},
      {"com.apple.keylayout.French", 47, kShift, u"/"},
      {"com.apple.keylayout.French", 23, kShift | kOption, u"["},
      {"com.apple.keylayout.French", 19, kCaps, u"É"},
      {"com.apple.keylayout.French", 65, 0, u","},
      {"com.apple.keylayout.German", 16, 0, u"z"},
      {"com.apple.keylayout.German", 6, kCommand, u"y"},
      {"com.apple.keylayout.German", 37, kOption, u"@"},
      {"com.apple.keylayout.German", 26, kShift | kOption, u"\\"},
      {"com.apple.keylayout.German", 23, kOption, u"["},
      {"com.apple.keylayout.Dvorak", 34, 0, u"c"},
      {"com.apple.keylayout.Dvorak", 34, kCommand, u"c"},
      {"com.apple.keylayout.Dvorak", 34, kOption, u"ç"},
      {"com.apple.keylayout.DVORAK-QWERTYCMD", 34, 0, u"c"},
      {"com.apple.keylayout.DVORAK-QWERTYCMD", 34, kCommand, u"i"},
      {"com.apple.keylayout.DVORAK-QWERTYCMD", 8, kCommand, u"c"},
      {"com.apple.keylayout.DVORAK-QWERTYCMD", 6, kCommand | kShift, u"Z"},
      {"com.apple.keylayout.DVORAK-QWERTYCMD", 8, kControl, u"\x0A"},  // Control stays Dvorak: j
  };
  for (const KeyCase& c : cases) {
    desktop_sim_set_keyboard_layout(c.layout);
    const Typed typed = Type(SelectedLayout(), c.code, c.modifiers);
    EXPECT_EQ(typed.status, noErr);
    EXPECT_EQ(typed.text, std::u16string(c.text))
        << c.layout << " key " << c.code << " modifiers " << c.modifiers;
  }
  ExpectBalanced();
}

TEST_F(LayoutsTest, EveryKeyOfTheMainBlockGivesOneCharacterInEveryLayer) {
  for (size_t i = 0; i < desktop_sim_keyboard_layout_count(); ++i) {
    desktop_sim_set_keyboard_layout(desktop_sim_keyboard_layout_id(i));
    const UCKeyboardLayout* layout = SelectedLayout();
    for (UInt32 modifiers : {0u, kShift, kOption, kShift | kOption, kCommand, kCommand | kShift}) {
      for (UInt16 code = 0; code <= 50; ++code) {
        if (code == 36 || code == 48 || code == 49) continue;  // Return, Tab, Space
        const Typed typed = Type(layout, code, modifiers);
        EXPECT_EQ(typed.text.size(), 1u)
            << desktop_sim_keyboard_layout_id(i) << " key " << code << " modifiers " << modifiers;
        EXPECT_EQ(typed.state, 0u);
      }
    }
  }
  EXPECT_EQ(desktop_sim_keyboard_layout_id(desktop_sim_keyboard_layout_count()), nullptr);
  ExpectBalanced();
}

TEST_F(LayoutsTest, DeadKeysStartAnAccentThatTheNextKeyCompletes) {
  desktop_sim_set_keyboard_layout("com.apple.keylayout.French");
  const UCKeyboardLayout* layout = SelectedLayout();
  constexpr UInt16 kCircumflexKey = 33, kE = 14, kX = 7, kSpace = 49;
  // Without the option the dead key types nothing and remembers the accent.
  const Typed dead = Type(layout, kCircumflexKey, 0, 0, 0);
  EXPECT_EQ(dead.status, noErr);
  EXPECT_EQ(dead.text, u"");
  ASSERT_NE(dead.state, 0u);
  EXPECT_EQ(Type(layout, kE, 0, dead.state, 0).text, u"ê");
  EXPECT_EQ(Type(layout, kE, 0, dead.state, 0).state, 0u);
  EXPECT_EQ(Type(layout, kE, kShift, dead.state, 0).text, u"Ê");
  EXPECT_EQ(Type(layout, kSpace, 0, dead.state, 0).text, u"^");
  EXPECT_EQ(Type(layout, kX, 0, dead.state, 0).text, u"^x") << "no ^x: the accent, then x";
  const Typed tight = Type(layout, kX, 0, dead.state, 0, kUCKeyActionDown, 1);
  EXPECT_EQ(tight.status, kUCOutputBufferTooSmall);
  EXPECT_EQ(tight.state, dead.state) << "a failed call leaves the state alone";
  // With kUCKeyTranslateNoDeadKeysMask the key gives its accent's spacing form and no state;
  // passing the bit's number (0) instead of the mask is passing no option.
  const Typed shown = Type(layout, kCircumflexKey, 0);
  EXPECT_EQ(shown.text, u"^");
  EXPECT_EQ(shown.state, 0u);
  EXPECT_NE(Type(layout, kCircumflexKey, 0, 0, kUCKeyTranslateNoDeadKeysBit).state, 0u);
  // Display shows the key from state 0 and moves no state; key-up types nothing.
  const Typed display = Type(layout, kE, 0, dead.state, 0, kUCKeyActionDisplay);
  EXPECT_EQ(display.text, u"e");
  EXPECT_EQ(display.state, dead.state);
  const Typed up = Type(layout, kE, 0, dead.state, 0, kUCKeyActionUp);
  EXPECT_EQ(up.text, u"");
  EXPECT_EQ(up.state, dead.state);
  // U.S.: Option-E then e.
  desktop_sim_set_keyboard_layout("com.apple.keylayout.US");
  layout = SelectedLayout();
  const Typed acute = Type(layout, kE, kOption, 0, 0);
  EXPECT_EQ(Type(layout, kE, 0, acute.state, 0).text, u"é");
  EXPECT_EQ(Type(layout, kE, kOption).text, u"´");
  ExpectBalanced();
}

TEST_F(LayoutsTest, BadArgumentsAndMalformedLayoutsAnswerParamErr) {
  const UCKeyboardLayout* layout = SelectedLayout();
  UniChar units[4];
  UniCharCount length = 0;
  UInt32 state = 0;
  EXPECT_EQ(UCKeyTranslate(nullptr, 0, kUCKeyActionDown, 0, 40, 0, &state, 4, &length, units),
            paramErr);
  EXPECT_EQ(UCKeyTranslate(layout, 0, kUCKeyActionDown, 0, 40, 0, nullptr, 4, &length, units),
            paramErr);
  EXPECT_EQ(UCKeyTranslate(layout, 0, kUCKeyActionDown, 0, 40, 0, &state, 4, nullptr, units),
            paramErr);
  EXPECT_EQ(UCKeyTranslate(layout, 0, kUCKeyActionDown, 0, 40, 0, &state, 4, &length, nullptr),
            paramErr);
  EXPECT_EQ(Type(layout, 128, 0).status, paramErr) << "beyond the 128 keys of the tables";
  EXPECT_EQ(Type(layout, 0, 0, 0, 0, 4).status, paramErr) << "no such action";
  // Data this desktop holds is read within its length, however it is laid out.
  const UInt8 garbage[] = {0x02, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F};
  for (size_t size : {size_t{0}, size_t{2}, sizeof garbage}) {
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, garbage, static_cast<CFIndex>(size));
    const auto* bad = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
    EXPECT_EQ(Type(bad, 0, 0).status, paramErr) << size << " bytes";
    CFRelease(data);
  }
  ExpectBalanced();
}

TEST_F(LayoutsTest, TextInputSourceCallsOffTheMainThreadAreMisuse) {
  std::thread worker([] {
    TISInputSourceRef source = TISCopyCurrentKeyboardLayoutInputSource();
    TISGetInputSourceProperty(source, kTISPropertyInputSourceID);
    CFRelease(source);
  });
  worker.join();
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u);
  EXPECT_NE(LastMisuse().find("TISGetInputSourceProperty: called off the main thread"),
            std::string::npos)
      << LastMisuse();
  EXPECT_EQ(desktop_sim_cf_live(), 0) << "the calls still answered: the source was released";
  // Key translation and the keyboard type belong to no thread.
  const UCKeyboardLayout* layout = SelectedLayout();
  desktop_sim_reset();
  std::thread translator([layout] { EXPECT_EQ(Type(layout, 0, 0).text, u"a"); });
  translator.join();
  ExpectBalanced();
}

TEST_F(LayoutsTest, TheMainRunLoopIsTheMainThreadsFromAnyThread) {
  CFRunLoopRef main = CFRunLoopGetMain();
  EXPECT_EQ(main, CFRunLoopGetCurrent());
  CFRunLoopRef seen_main = nullptr, seen_current = nullptr;
  std::thread other([&] {
    seen_main = CFRunLoopGetMain();
    seen_current = CFRunLoopGetCurrent();
  });
  other.join();
  EXPECT_EQ(seen_main, main);
  EXPECT_NE(seen_current, main);
  ExpectBalanced();
}

}  // namespace
}  // namespace desktop_sim_test
