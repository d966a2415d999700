#!/usr/bin/env bash
# Compiles every macOS source against a macOS SDK, for arm64 and x86_64, with warnings as
# errors: the addon as Objective-C++, the stand-in's pin table, and the speech program's portable
# and Objective-C++ sources. Then links the addon's arm64 object against the SDK's .tbd stubs
# with the frameworks its binding.gyp names, every undefined symbol an error except those of the
# libraries the host or the SDK subset supplies (Node-API, libc++, libSystem, libdispatch): a
# platform call that is misspelt, or whose framework the build does not link, fails there.
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

# The link check. The linker is $LD64, else ld64.lld (lld 16 or newer) or, on macOS, ld; the
# symbol lister llvm-nm or nm.
find_tool() {
  local candidate
  for candidate in "$@"; do
    if [ -n "$candidate" ] && command -v "$candidate" >/dev/null 2>&1; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

linked=0
link_note=""
if ! ld64=$(find_tool "${LD64:-}" ld64.lld-19 ld64.lld-18 ld64.lld-17 ld64.lld-16 ld64.lld); then
  [ "$(uname)" = Darwin ] && ld64=ld || ld64=""
fi
nm_tool=$(find_tool llvm-nm-19 llvm-nm-18 llvm-nm-17 llvm-nm-16 llvm-nm-15 llvm-nm-14 llvm-nm nm) || nm_tool=""
if [ -z "$ld64" ] || [ -z "$nm_tool" ]; then
  link_note="check-macos: NOT LINKED: no Mach-O linker (ld64.lld, or set LD64) or no nm found"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  object="$work/input_bridge.o"
  if "$cxx" -target arm64-apple-macos11.0 "${sdk_flags[@]}" -c -O2 -x objective-c++ -fobjc-arc \
      -std=c++17 -fno-exceptions -I"$addon_api" -I"$node_include" -DNAPI_VERSION=8 \
      -DNAPI_DISABLE_CPP_EXCEPTIONS -DNODE_API_SWALLOW_UNTHROWABLE_EXCEPTIONS \
      "$native/input-bridge/src/input_bridge.cc" -o "$object"; then
    if [ -d "$MACOS_SDK/usr/include" ]; then
      sysroot="$MACOS_SDK"
    else
      # The subset keeps each framework's stub at its top and has no Versions/A: the linker
      # finds a re-exported framework by its install name, so the stubs are laid out under
      # every version name there.
      sysroot="$work/sysroot"
      mkdir -p "$sysroot/System/Library/Frameworks" "$sysroot/usr"
      ln -s "$MACOS_SDK/lib" "$sysroot/usr/lib"
      for framework in "$frameworks"/*.framework; do
        name=$(basename "$framework" .framework)
        [ -f "$framework/$name.tbd" ] || continue
        target="$sysroot/System/Library/Frameworks/$name.framework"
        mkdir -p "$target"
        ln -s "$framework/$name.tbd" "$target/$name.tbd"
        for version in A B C; do
          mkdir -p "$target/Versions/$version"
          ln -s "$framework/$name.tbd" "$target/Versions/$version/$name.tbd"
        done
      done
    fi
    # Everything outside the platform's frameworks and the Objective-C runtime may stay
    # undefined; the frameworks' symbols must resolve in the stubs.
    allowed=()
    while read -r symbol; do
      allowed+=(-U "$symbol")
    done < <("$nm_tool" -u "$object" | awk '{print $NF}' |
             grep -Ev '^_(CF|CG|AX|TIS|UC|LM|NS|kCF|kCG|kAX|kTIS|objc_)|^_OBJC_|^___CFConstantStringClassReference$')
    read -r -a framework_flags <<<"$(grep -o '"-framework [A-Za-z]*"' "$native/input-bridge/binding.gyp" |
                                      tr -d '"' | tr '\n' ' ')"
    if "$ld64" -arch arm64 -platform_version macos 11.0 14.2 -syslibroot "$sysroot" -bundle \
        -undefined error "${allowed[@]}" -U dyld_stub_binder "${framework_flags[@]}" \
        "$object" -o "$work/input_bridge.node"; then
      linked=1
      passed=$((passed + 1))
    else
      echo "check-macos: FAILED: linking input_bridge (arm64) with ${framework_flags[*]}" >&2
      failed=$((failed + 1))
    fi
  else
    echo "check-macos: FAILED: input_bridge.cc (arm64 object for the link check)" >&2
    failed=$((failed + 1))
  fi
fi

for source in "${skipped[@]}"; do
  echo "check-macos: NOT CHECKED: $source imports the Speech framework, which this SDK" \
       "($frameworks) lacks; it is checked wherever the SDK has Speech.framework (a full Xcode SDK)"
done
[ -n "$link_note" ] && echo "$link_note"
[ "$linked" -eq 1 ] && echo "check-macos: input_bridge links (arm64) against the SDK's stubs"
echo "check-macos: $passed compiles and links passed, $failed failed, ${#skipped[@]} source(s) not checked (arm64 and x86_64)"
[ "$failed" -eq 0 ]
