// What the script loader feeds caption text into while a script compiles. The caption layer
// implements it; the loader knows nothing else of it.
#pragma once

#include <cstdint>

class CaptionSink {
 public:
  virtual ~CaptionSink() = default;
  virtual void BeginCaptionBlock() = 0;
  // 0, or -1 when the line is longer than it holds.
  virtual int AddCaptionChar(std::uint8_t c) = 0;
  virtual void EndCaptionBlock() = 0;
  // The entries of the block last closed: the first and how many.
  virtual int TagFirst() const = 0;
  virtual int TagCount() const = 0;
};
