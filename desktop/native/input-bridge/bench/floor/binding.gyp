{
  "variables": {
    "desktop_sim_dir": "<(module_root_dir)/../../../desktop-sim"
  },
  "targets": [
    {
      "target_name": "floor",
      "sources": ["floor.cc"],
      "defines": ["NAPI_VERSION=8"],
      "cflags_cc": ["-std=c++17", "-Wall", "-Wextra", "-fno-exceptions"],
      "include_dirs": ["<(desktop_sim_dir)/include"],
      "libraries": [
        "<(desktop_sim_dir)/build/Release/lib.target/libdesktop_sim.so",
        "-Wl,-rpath,<(desktop_sim_dir)/build/Release/lib.target"
      ]
    }
  ]
}
