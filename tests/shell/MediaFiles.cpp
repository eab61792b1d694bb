// Writers for the tests' media files: little-endian RIFF, big-endian MIDI, raw MPEG frames.
#include "tests/shell/MediaFiles.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace testmedia {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Le16(Bytes& b, unsigned v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Le32(Bytes& b, std::uint32_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, v >> 16);
}
void Be16(Bytes& b, unsigned v) {
  b.push_back((v >> 8) & 0xFF);
  b.push_back(v & 0xFF);
}
void Be32(Bytes& b, std::uint32_t v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}
void Tag(Bytes& b, const char* t) {
  b.insert(b.end(), t, t + 4);
}
void Append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}

// A RIFF chunk: tag, size, body, padded to an even length.
Bytes Chunk(const char* tag, const Bytes& body) {
  Bytes b;
  Tag(b, tag);
  Le32(b, static_cast<std::uint32_t>(body.size()));
  Append(b, body);
  if (body.size() % 2) b.push_back(0);
  return b;
}
Bytes List(const char* type, const char* listType, const Bytes& body) {
  Bytes inner;
  Tag(inner, listType);
  Append(inner, body);
  return Chunk(type, inner);
}

bool Save(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(f);
}

}  // namespace

bool WriteBytes(const std::string& path, const std::string& bytes) {
  return Save(path, Bytes(bytes.begin(), bytes.end()));
}

bool WriteWav(const std::string& path, int ms) {
  const int rate = 44100, channels = 2;
  const int samples = rate * ms / 1000;
  Bytes fmt;
  Le16(fmt, 1);  // PCM
  Le16(fmt, channels);
  Le32(fmt, rate);
  Le32(fmt, rate * channels * 2);
  Le16(fmt, channels * 2);
  Le16(fmt, 16);
  Bytes data;
  for (int i = 0; i < samples; ++i) {
    const int v = static_cast<int>(std::sin(i * 2 * M_PI * 440.0 / rate) * 8000);
    for (int c = 0; c < channels; ++c) Le16(data, static_cast<unsigned>(v) & 0xFFFF);
  }
  Bytes body;
  Tag(body, "WAVE");
  Append(body, Chunk("fmt ", fmt));
  Append(body, Chunk("data", data));
  return Save(path, Chunk("RIFF", body));
}

bool WriteMidi(const std::string& path, int ms) {
  // 480 ticks per quarter at the default 120 beats per minute: 960 ticks a second.
  const int notes = ms / 250 > 0 ? ms / 250 : 1;
  Bytes track = {0x00, 0xC0, 0x00};  // program change: piano
  for (int i = 0; i < notes; ++i) {
    const std::uint8_t key = static_cast<std::uint8_t>(60 + (i % 8));
    track.insert(track.end(), {0x00, 0x90, key, 0x60});
    track.insert(track.end(), {0x81, 0x70, 0x80, key, 0x00});  // delta 240: a quarter second
  }
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  Bytes b;
  Tag(b, "MThd");
  Be32(b, 6);
  Be16(b, 0);
  Be16(b, 1);
  Be16(b, 480);
  Tag(b, "MTrk");
  Be32(b, static_cast<std::uint32_t>(track.size()));
  Append(b, track);
  return Save(path, b);
}

bool WriteMp3(const std::string& path, int ms) {
  // 1152 samples a frame; 144 * 128000 / 44100 = 417 bytes without padding. All-zero side
  // information means no coded samples: each frame decodes to silence.
  const int frames = 44100 * ms / 1000 / 1152 + 1;
  Bytes b;
  for (int i = 0; i < frames; ++i) {
    Bytes frame(417, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    frame[3] = 0xC0;
    Append(b, frame);
  }
  return Save(path, b);
}

bool WriteAvi(const std::string& path, int width, int height, int frames, const char* fourcc) {
  const int rowBytes = (width * 3 + 3) / 4 * 4;
  const std::uint32_t frameBytes = static_cast<std::uint32_t>(rowBytes) * height;
  const bool raw = std::strcmp(fourcc, "DIB ") == 0;

  Bytes avih;
  Le32(avih, 100000);  // microseconds per frame
  Le32(avih, frameBytes * 10);
  Le32(avih, 0);
  Le32(avih, 0x10);  // has an index
  Le32(avih, frames);
  Le32(avih, 0);
  Le32(avih, 1);
  Le32(avih, frameBytes);
  Le32(avih, width);
  Le32(avih, height);
  for (int i = 0; i < 4; ++i) Le32(avih, 0);

  Bytes strh;
  Tag(strh, "vids");
  Tag(strh, fourcc);
  Le32(strh, 0);
  Le16(strh, 0);
  Le16(strh, 0);
  Le32(strh, 0);
  Le32(strh, 1);   // scale
  Le32(strh, 10);  // rate: 10 frames a second
  Le32(strh, 0);
  Le32(strh, frames);
  Le32(strh, frameBytes);
  Le32(strh, 0xFFFFFFFF);
  Le32(strh, 0);
  Le16(strh, 0);
  Le16(strh, 0);
  Le16(strh, width);
  Le16(strh, height);

  Bytes strf;  // BITMAPINFOHEADER
  Le32(strf, 40);
  Le32(strf, width);
  Le32(strf, height);
  Le16(strf, 1);
  Le16(strf, 24);
  if (raw) {
    Le32(strf, 0);
  } else {
    Tag(strf, fourcc);
  }
  Le32(strf, frameBytes);
  for (int i = 0; i < 4; ++i) Le32(strf, 0);

  Bytes strl = Chunk("strh", strh);
  Append(strl, Chunk("strf", strf));
  Bytes hdrl = Chunk("avih", avih);
  Append(hdrl, List("LIST", "strl", strl));

  Bytes movi, idx;
  std::uint32_t offset = 4;
  for (int f = 0; f < frames; ++f) {
    Bytes pixels(frameBytes);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * rowBytes + x * 3;
        p[0] = static_cast<std::uint8_t>(x + f * 40);
        p[1] = static_cast<std::uint8_t>(y);
        p[2] = 0x80;
      }
    Append(movi, Chunk("00db", pixels));
    Tag(idx, "00db");
    Le32(idx, 0x10);
    Le32(idx, offset);
    Le32(idx, frameBytes);
    offset += 8 + frameBytes + (frameBytes % 2);
  }

  Bytes body;
  Tag(body, "AVI ");
  Append(body, List("LIST", "hdrl", hdrl));
  Append(body, List("LIST", "movi", movi));
  Append(body, Chunk("idx1", idx));
  return Save(path, Chunk("RIFF", body));
}

}  // namespace testmedia
