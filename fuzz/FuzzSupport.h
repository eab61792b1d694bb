// Helpers shared by the fuzz targets: a private scratch folder and whole-file writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// A folder of its own for this fuzzing process, made once.
inline const std::string& FuzzFolder() {
  static const std::string folder = [] {
    std::string t = "/tmp/ondrelix-fuzz-XXXXXX";
    if (!mkdtemp(t.data())) std::abort();
    return t;
  }();
  return folder;
}

inline void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

// Fails the run loudly when an invariant of the engine does not hold.
#define FUZZ_CHECK(cond)                                                        \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)
