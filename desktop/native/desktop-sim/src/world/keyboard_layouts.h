// The keyboard layouts the simulated desktop offers, and their 'uchr' resources.
#ifndef DESKTOP_SIM_KEYBOARD_LAYOUTS_H_
#define DESKTOP_SIM_KEYBOARD_LAYOUTS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace desktop_sim {

// Index 0 is U.S., the layout a fresh desktop has.
constexpr size_t kUsLayout = 0;
size_t KeyboardLayoutCount();
// The input source identifier ("com.apple.keylayout.US") and the name shown to people ("U.S.").
const char* KeyboardLayoutId(size_t layout);
const char* KeyboardLayoutName(size_t layout);
// The layout whose identifier is id, or KeyboardLayoutCount() when there is none.
size_t KeyboardLayoutNamed(const char* id);
// The layout as a Unicode keyboard layout resource in the format of UnicodeUtilities.h,
// native-endian, as kTISPropertyUnicodeKeyLayoutData hands it out.
std::vector<uint8_t> BuildUchr(size_t layout);

}  // namespace desktop_sim

#endif  // DESKTOP_SIM_KEYBOARD_LAYOUTS_H_
