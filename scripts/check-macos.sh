#!/usr/bin/env bash
# Compiles every macOS source against a macOS SDK, for arm64 and x86_64, with warnings as
# errors (syntax and semantics only, nothing is linked): the addon as Objective-C++, the
# stand-in's pin table, and the speech program's portable and Objective-C++ sources.
#
#   MACOS_SDK=/path/to/MacOSX.sdk scripts/check-macos.sh
#
# MACOS_SDK is either an SDK as Xcode ships it (usr/include, System/Library/Frameworks) or an
# unpacked subset laid out as include/ (with c++/v1) and Frameworks/. Without it the script
# says that it skipped and succeeds, so it may sit in any pipeline. The compiler is $CLANGXX,
# else the first clang++ of version 16 or newer on PATH (Debian: clang-16).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="$root/desktop/native"

if [ -z "${MACOS_SDK:-}" ]; then
  echo "check-macos: SKIPPED, nothing compiled: MACOS_SDK is not set (the path of a macOS SDK)"
  exit 0
fi
if [ ! -d "$MACOS_SDK" ]; then
  echo "check-macos: MACOS_SDK=$MACOS_SDK is not a folder" >&2
  exit 2
fi

clang_major() {
  "$1" --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1
}

find_clang() {
  local candidate major
  for candidate in ${CLANGXX:-} clang++-19 clang++-18 clang++-17 clang++-16 clang++; do
    command -v "$candidate" >/dev/null 2>&1 || continue
    major=$(clang_major "$candidate")
    if [ -n "$major" ] && [ "$major" -ge 16 ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

if ! cxx=$(find_clang); then
  echo "check-macos: no clang++ of version 16 or newer found (install clang-16, or set CLANGXX)" >&2
  exit 2
fi

# Where the SDK keeps its headers.
if [ -d "$MACOS_SDK/usr/include" ]; then
  sdk_flags=(-isysroot "$MACOS_SDK")
  frameworks="$MACOS_SDK/System/Library/Frameworks"
else
  sdk_flags=(-nostdinc -nostdinc++ -isystem "$MACOS_SDK/include/c++/v1"
             -isystem "$("$cxx" -print-resource-dir)/include" -isystem "$MACOS_SDK/include"
             -iframework "$MACOS_SDK/Frameworks")
  frameworks="$MACOS_SDK/Frameworks"
fi

# The addon's headers from elsewhere: node-addon-api from the addon's own install, Node-API
# from the running node's installation (or NODE_INCLUDE_DIR).
addon_api=$(cd "$native/input-bridge" &&
            node -p "require('path').resolve(require('node-addon-api').include_dir)" 2>/dev/null)
if [ -z "$addon_api" ] || [ ! -f "$addon_api/napi.h" ]; then
  echo "check-macos: node-addon-api is not installed: run npm install in desktop/native/input-bridge" >&2
  exit 2
fi
node_include=${NODE_INCLUDE_DIR:-$(node -p "require('path').join(process.execPath, '..', '..', 'include', 'node')")}
if [ ! -f "$node_include/node_api.h" ]; then
  echo "check-macos: no node_api.h in $node_include (set NODE_INCLUDE_DIR)" >&2
  exit 2
fi

passed=0
failed=0
compile() {  # label, target, then the compiler arguments
  local label=$1 target=$2
  shift 2
  if "$cxx" -target "$target" "${sdk_flags[@]}" -fsyntax-only -Wall -Wextra -Werror "$@"; then
    passed=$((passed + 1))
  else
    echo "check-macos: FAILED: $label for $target" >&2
    failed=$((failed + 1))
  fi
}

echo "check-macos: $("$cxx" --version | head -n 1), SDK $MACOS_SDK"
speech="$native/speech-recognizer"
speech_mm=()
skipped=()
for source in "$speech"/src/macos/*.mm; do
  if grep -q '^#import <Speech/' "$source" && [ ! -d "$frameworks/Speech.framework" ]; then
    skipped+=("${source#"$root"/}")
  else
    speech_mm+=("$source")
  fi
done

for arch in arm64 x86_64; do
  addon_target="$arch-apple-macos11.0"
  speech_target="$arch-apple-macos10.15"
  [ "$arch" = arm64 ] && speech_target="$arch-apple-macos11.0"  # the first arm64 release

  compile "input_bridge.cc (Objective-C++)" "$addon_target" -x objective-c++ -fobjc-arc \
    -std=c++17 -fno-exceptions -I"$addon_api" -I"$node_include" -DNAPI_VERSION=8 \
    -DNAPI_DISABLE_CPP_EXCEPTIONS -DNODE_API_SWALLOW_UNTHROWABLE_EXCEPTIONS \
    "$native/input-bridge/src/input_bridge.cc"
  compile "api_pins.cc" "$addon_target" -x c++ -std=c++17 "$native/desktop-sim/api-pins/api_pins.cc"
  for source in "$speech"/src/*.cc; do
    compile "${source#"$root"/}" "$speech_target" -x c++ -std=c++20 -fno-exceptions \
      -I"$speech/src" "$source"
  done
  for source in "${speech_mm[@]}"; do
    compile "${source#"$root"/}" "$speech_target" -x objective-c++ -fobjc-arc -std=c++20 \
      -fno-exceptions -I"$speech/src" "$source"
  done
done

for source in "${skipped[@]}"; do
  echo "check-macos: NOT CHECKED: $source imports the Speech framework, which this SDK" \
       "($frameworks) lacks; it is checked wherever the SDK has Speech.framework (a full Xcode SDK)"
done
echo "check-macos: $passed compiles passed, $failed failed, ${#skipped[@]} source(s) not checked (arm64 and x86_64)"
[ "$failed" -eq 0 ]
