{
  "variables": {
    "has_gtest": "<!(node scripts/has-gtest.js)"
  },
  "target_defaults": {
    "cflags_cc": ["-std=c++17", "-Wall", "-Wextra", "-fno-exceptions"],
    "cflags_cc!": ["-std=gnu++17", "-std=gnu++20"],
    "cflags": ["-fPIC", "-Wall", "-Wextra"],
    "include_dirs": ["include"]
  },
  "targets": [
    {
      "target_name": "desktop_sim",
      "type": "shared_library",
      "product_prefix": "lib",
      "product_dir": "<(PRODUCT_DIR)/lib.target",
      "sources": [
        "src/objects.cc",
        "src/strings.cc",
        "src/run_loop.cc",
        "src/event_tap.cc",
        "src/events.cc",
        "src/keyboard.cc",
        "src/control.cc",
        "src/values.cc",
        "src/dictionary.cc",
        "src/ax.cc",
        "src/permissions.cc",
        "src/data.cc",
        "src/keyboard_layouts.cc",
        "src/key_translate.cc",
        "src/text_input_sources.cc",
        "api-pins/api_pins.cc",
        "api-pins/umbrella_c.c"
      ],
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
      "sources": ["src/control_addon.cc", "fixture/probe_tap.cc"],
      "dependencies": ["desktop_sim"],
      "include_dirs": ["<!(node -p \"require('node-addon-api').include_dir\")", "fixture"],
      "defines": ["NAPI_VERSION=8", "NAPI_DISABLE_CPP_EXCEPTIONS"],
      "ldflags": ["-Wl,-rpath,'$$ORIGIN/lib.target'"]
    }
  ],
  "conditions": [
    ["has_gtest==1", {
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
