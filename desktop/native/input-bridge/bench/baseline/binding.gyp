{
  "targets": [
    {
      "target_name": "baseline",
      "sources": ["baseline.cc"],
      "defines": ["NAPI_VERSION=8"],
      "cflags_cc": ["-std=c++17", "-Wall", "-Wextra"]
    }
  ]
}
