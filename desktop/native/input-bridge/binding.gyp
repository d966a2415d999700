{
  "variables": {
    # The copy a packed package carries, else the repository's sibling folder.
    "desktop_sim_dir": "<!(node scripts/desktop-sim-dir.js dir)",
    "has_api_pins": "<!(node scripts/desktop-sim-dir.js has-api-pins)"
  },
  "targets": [
    {
      "target_name": "input_bridge",
      "sources": ["src/input_bridge.cc"],
      "include_dirs": ["<!(node -p \"require('node-addon-api').include_dir\")"],
      "defines": [
        "NAPI_VERSION=8",
        "NAPI_DISABLE_CPP_EXCEPTIONS",
        # A delivery that runs while its environment is being torn down cannot raise errors;
        # without this node-addon-api turns that into a fatal error.
        "NODE_API_SWALLOW_UNTHROWABLE_EXCEPTIONS"
      ],
      "cflags_cc": ["-std=c++17", "-Wall", "-Wextra", "-fno-exceptions"],
      "conditions": [
        ["OS=='mac'", {
          "xcode_settings": {
            "CLANG_CXX_LANGUAGE_STANDARD": "c++17",
            "GCC_ENABLE_CPP_EXCEPTIONS": "NO",
            "MACOSX_DEPLOYMENT_TARGET": "11.0",
            "OTHER_CPLUSPLUSFLAGS": ["-ObjC++", "-fobjc-arc", "-Wall", "-Wextra"]
          },
          "link_settings": {
            "libraries": [
              "-framework CoreFoundation",
              "-framework CoreGraphics",
              "-framework ApplicationServices",
              # The text input sources and the keyboard type (HIToolbox, through Carbon) and key
              # translation (CarbonCore, through CoreServices).
              "-framework Carbon",
              "-framework CoreServices",
              "-framework AppKit",
              "-framework Foundation"
            ]
          }
        }],
        ["OS=='linux'", {
          "include_dirs": ["<(desktop_sim_dir)/include"],
          "libraries": [
            "<(desktop_sim_dir)/build/Release/lib.target/libdesktop_sim.so"
          ],
          "ldflags": [
            "-Wl,-rpath,'$$ORIGIN/<!(node scripts/desktop-sim-dir.js library-from-addon)'"
          ]
        }]
      ]
    }
  ],
  "conditions": [
    ["OS=='mac' and has_api_pins==1", {
      "targets": [
        {
          # The stand-in's pin table compiled against the real SDK: a drift fails the build.
          "target_name": "api_pins",
          "type": "static_library",
          "sources": ["<(desktop_sim_dir)/api-pins/api_pins.cc"],
          "xcode_settings": {
            "CLANG_CXX_LANGUAGE_STANDARD": "c++17",
            "MACOSX_DEPLOYMENT_TARGET": "11.0"
          }
        }
      ]
    }]
  ]
}
