{
  "variables": {
    "has_gtest": "<!(node scripts/has-gtest.js)",
    # The probe-tap fixture is a test-only tree: the copy an addon package carries has none.
    "has_fixture": "<!(node -p \"+require('fs').existsSync('fixture/probe_tap.cc')\")"
  },
  "target_defaults": {
    "cflags_cc": ["-std=c++17", "-Wall", "-Wextra", "-fno-exceptions"],
    "cflags_cc!": ["-std=gnu++17", "-std=gnu++20"],
    "cflags": ["-fPIC", "-Wall", "-Wextra"],
    "include_dirs": ["include"]
  },
  "targets": [
    {
      # The stand-in frameworks (src/<framework>/) over the simulated world (src/world/).
      "target_name": "desktop_sim",
      "type": "shared_library",
      "product_prefix": "lib",
      "product_dir": "<(PRODUCT_DIR)/lib.target",
      "sources": [
        "src/world/objects.cc",
        "src/world/keyboard.cc",
        "src/world/keyboard_layouts.cc",
        "src/world/permissions.cc",
        "src/world/control.cc",
        "src/CoreFoundation/strings.cc",
        "src/CoreFoundation/run_loop.cc",
        "src/CoreFoundation/values.cc",
        "src/CoreFoundation/dictionary.cc",
        "src/CoreFoundation/data.cc",
        "src/CoreGraphics/event_tap.cc",
        "src/CoreGraphics/events.cc",
        "src/HIServices/AXUIElement.cc",
        "src/world/applications.cc",
        "src/HIToolbox/text_input_sources.cc",
        "src/CarbonCore/key_translate.cc",
        "api-pins/api_pins.cc",
        "api-pins/umbrella_c.c"
      ],
      "include_dirs": ["src"],
      "cflags": ["-fvisibility=hidden"],
      "cflags_cc": ["-fvisibility=hidden"],
      "ldflags": ["-pthread"],
      "libraries": ["-pthread"],
      "direct_dependent_settings": {
        "include_dirs": ["include"]
      }
    },
    {
      "target_name": "desktop_sim_control",
      "sources": ["src/control/control_addon.cc"],
      "dependencies": ["desktop_sim"],
      "include_dirs": ["<!(node -p \"require('node-addon-api').include_dir\")"],
      "defines": ["NAPI_VERSION=8", "NAPI_DISABLE_CPP_EXCEPTIONS"],
      "ldflags": ["-Wl,-rpath,'$$ORIGIN/lib.target'"]
    }
  ],
  "conditions": [
    ["has_fixture==1", {
      "targets": [
        {
          # Test-only: the probe tap's bindings for the suites (fixture/index.js).
          "target_name": "desktop_sim_fixture",
          "sources": ["fixture/probe_tap_addon.cc", "fixture/probe_tap.cc"],
          "dependencies": ["desktop_sim"],
          "include_dirs": ["<!(node -p \"require('node-addon-api').include_dir\")", "fixture"],
          "defines": ["NAPI_VERSION=8", "NAPI_DISABLE_CPP_EXCEPTIONS"],
          "ldflags": ["-Wl,-rpath,'$$ORIGIN/lib.target'"]
        }
      ]
    }],
    ["has_gtest==1 and has_fixture==1", {
      "targets": [
        {
          "target_name": "desktop_sim_tests",
          "type": "executable",
          "sources": [
            "test/native/ledger_test.cc",
            "test/native/strings_test.cc",
            "test/native/run_loop_test.cc",
            "test/native/tap_test.cc",
            "test/native/events_test.cc",
            "test/native/ax_test.cc",
            "test/native/permissions_test.cc",
            "test/native/layouts_test.cc",
            "fixture/probe_tap.cc"
          ],
          "dependencies": ["desktop_sim"],
          "include_dirs": ["fixture"],
          "ldflags": ["-pthread", "-Wl,-rpath,'$$ORIGIN/lib.target'"],
          "libraries": ["-lgtest", "-lgtest_main", "-pthread"]
        }
      ]
    }]
  ]
}
