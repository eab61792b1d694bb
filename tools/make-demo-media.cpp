// Makes every picture, font picture, piece of music and the movie of the demo data folder
// examples/: pictures drawn from shapes and DejaVu text, music synthesised (WAV written here, MIDI
// written here as standard MIDI files, MP3 encoded from a synthesised WAV by Debian's `lame`),
// and a Motion-JPEG AVI written here with libjpeg and re-encoded as MPEG-4 by GStreamer's
// gst-launch-1.0.
//
// Regenerate with:
//   ninja -C build tool_make-demo-media && build/tool_make-demo-media examples
// The scripts themselves (examples/**/script_*.txt) are written by hand and not touched.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/make-art-kit.h"

// libjpeg needs size_t and FILE declared first.
#include <jpeglib.h>

using art::Canvas;
using art::Hex;
using art::Mix;
using art::Rgb;
using art::Scale;

namespace {

constexpr float kPi = 3.14159265f;
std::string gRoot;

std::string PathOf(const std::string& rel) {
  return gRoot + "/" + rel;
}
int MakeDirs(const std::string& rel) {
  const std::string cmd = "mkdir -p '" + PathOf(rel) + "'";
  return std::system(cmd.c_str());
}

// ---------------------------------------------------------------- file writers
// The JPEG bytes of a picture (files and the frames of the movie).
std::vector<std::uint8_t> JpegBytes(const Bitmap32& b, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &mem, &size);
  cinfo.image_width = JDIMENSION(b.width);
  cinfo.image_height = JDIMENSION(b.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(size_t(b.width) * 3);
  for (int y = 0; y < b.height; ++y) {
    for (int x = 0; x < b.width; ++x) {
      const std::uint32_t p = b.Row(y)[x];
      row[size_t(x) * 3] = (p >> 16) & 255;
      row[size_t(x) * 3 + 1] = (p >> 8) & 255;
      row[size_t(x) * 3 + 2] = p & 255;
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> bytes(mem, mem + size);
  std::free(mem);
  return bytes;
}

int SaveJpeg(const std::string& rel, const Bitmap32& b, int quality) {
  return WriteFileBytes(PathOf(rel).c_str(), JpegBytes(b, quality));
}

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(std::uint8_t(x & 255));
  v.push_back(std::uint8_t((x >> 8) & 255));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
void PutTag(std::vector<std::uint8_t>& v, const char* t) {
  v.insert(v.end(), t, t + 4);
}
void Patch32(std::vector<std::uint8_t>& v, size_t at, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + size_t(i)] = std::uint8_t((x >> (8 * i)) & 255);
}
// Opens a RIFF chunk or LIST; returns the offset of its size field.
size_t Open(std::vector<std::uint8_t>& v, const char* tag, const char* listType = nullptr) {
  PutTag(v, tag);
  const size_t at = v.size();
  Put32(v, 0);
  if (listType) PutTag(v, listType);
  return at;
}
void Close(std::vector<std::uint8_t>& v, size_t at) {
  Patch32(v, at, std::uint32_t(v.size() - at - 4));
  if (v.size() & 1) v.push_back(0);
}

// A RIFF AVI holding one Motion-JPEG video stream, with an index.
int SaveMjpegAvi(const std::string& path, const std::vector<std::vector<std::uint8_t>>& frames,
                 int w, int h, int fps) {
  std::vector<std::uint8_t> v;
  size_t maxFrame = 0;
  for (auto& f : frames) maxFrame = std::max(maxFrame, f.size());
  const size_t riff = Open(v, "RIFF", "AVI ");
  const size_t hdrl = Open(v, "LIST", "hdrl");
  const size_t avih = Open(v, "avih");
  Put32(v, std::uint32_t(1000000 / fps));  // microseconds per frame
  Put32(v, std::uint32_t(maxFrame * size_t(fps)));
  Put32(v, 0);
  Put32(v, 0x10);  // has an index
  Put32(v, std::uint32_t(frames.size()));
  Put32(v, 0);
  Put32(v, 1);
  Put32(v, std::uint32_t(maxFrame));
  Put32(v, std::uint32_t(w));
  Put32(v, std::uint32_t(h));
  for (int i = 0; i < 4; ++i) Put32(v, 0);
  Close(v, avih);
  const size_t strl = Open(v, "LIST", "strl");
  const size_t strh = Open(v, "strh");
  PutTag(v, "vids");
  PutTag(v, "MJPG");
  Put32(v, 0);
  Put16(v, 0);
  Put16(v, 0);
  Put32(v, 0);
  Put32(v, 1);                   // scale
  Put32(v, std::uint32_t(fps));  // rate
  Put32(v, 0);
  Put32(v, std::uint32_t(frames.size()));
  Put32(v, std::uint32_t(maxFrame));
  Put32(v, 0xFFFFFFFF);
  Put32(v, 0);
  Put16(v, 0);
  Put16(v, 0);
  Put16(v, unsigned(w));
  Put16(v, unsigned(h));
  Close(v, strh);
  const size_t strf = Open(v, "strf");
  Put32(v, 40);
  Put32(v, std::uint32_t(w));
  Put32(v, std::uint32_t(h));
  Put16(v, 1);
  Put16(v, 24);
  PutTag(v, "MJPG");
  Put32(v, std::uint32_t(w * h * 3));
  for (int i = 0; i < 4; ++i) Put32(v, 0);
  Close(v, strf);
  Close(v, strl);
  Close(v, hdrl);
  const size_t movi = Open(v, "LIST", "movi");
  std::vector<std::uint32_t> offsets;
  for (auto& f : frames) {
    offsets.push_back(std::uint32_t(v.size() - movi - 4));
    const size_t c = Open(v, "00dc");
    v.insert(v.end(), f.begin(), f.end());
    Close(v, c);
  }
  Close(v, movi);
  const size_t idx = Open(v, "idx1");
  for (size_t i = 0; i < frames.size(); ++i) {
    PutTag(v, "00dc");
    Put32(v, 0x10);  // key frame
    Put32(v, offsets[i]);
    Put32(v, std::uint32_t(frames[i].size()));
  }
  Close(v, idx);
  Close(v, riff);
  return WriteFileBytes(path.c_str(), v);
}

int SaveWav(const std::string& path, const std::vector<float>& left,
            const std::vector<float>& right, int rate, int channels) {
  std::vector<std::uint8_t> v;
  const size_t riff = Open(v, "RIFF", "WAVE");
  const size_t fmt = Open(v, "fmt ");
  Put16(v, 1);
  Put16(v, unsigned(channels));
  Put32(v, std::uint32_t(rate));
  Put32(v, std::uint32_t(rate * channels * 2));
  Put16(v, unsigned(channels * 2));
  Put16(v, 16);
  Close(v, fmt);
  const size_t data = Open(v, "data");
  for (size_t i = 0; i < left.size(); ++i) {
    for (int c = 0; c < channels; ++c) {
      const float s = c == 0 ? left[i] : right[i];
      Put16(v,
            unsigned(std::uint16_t(std::int16_t(std::lround(std::clamp(s, -1.0f, 1.0f) * 32000)))));
    }
  }
  Close(v, data);
  Close(v, riff);
  return WriteFileBytes(path.c_str(), v);
}

// ---------------------------------------------------------------- music
struct Note {
  float beat, length;
  int pitch;  // MIDI note number
  int voice;  // index into the song's voices
  float velocity;
};
enum Instrument { kPad, kPluck, kBell, kBass, kKick, kHat };
struct Voice {
  Instrument synth;
  int program;  // General MIDI program for the MIDI version
  int channel;
  float gain, pan;
};
struct Song {
  float bpm;
  std::vector<Voice> voices;
  std::vector<Note> notes;
  float Beats() const {
    float end = 0;
    for (auto& n : notes) end = std::max(end, n.beat + n.length);
    return end;
  }
};

float Freq(int pitch) {
  return 440.0f * std::pow(2.0f, (pitch - 69) / 12.0f);
}

// Renders one note of `synth` into `out` (mono) from sample `at`.
void RenderNote(Instrument synth, float f, float seconds, float vel, int rate, std::mt19937& rng,
                std::vector<float>& out, size_t at) {
  const float tail = synth == kPad ? 1.2f : synth == kBell ? 2.5f : synth == kPluck ? 1.0f : 0.3f;
  const size_t n = size_t((seconds + tail) * float(rate));
  if (out.size() < at + n) out.resize(at + n, 0);
  std::uniform_real_distribution<float> noise(-1, 1);
  // Karplus-Strong string for the pluck.
  std::vector<float> ring;
  if (synth == kPluck) {
    ring.resize(std::max<size_t>(2, size_t(float(rate) / f)));
    for (auto& s : ring) s = noise(rng);
  }
  size_t ri = 0;
  float phase = 0, mod = 0, lp = 0;
  for (size_t i = 0; i < n; ++i) {
    const float t = float(i) / float(rate);
    const float release = t < seconds ? 1.0f : std::exp(-(t - seconds) * 5.0f);
    float s = 0;
    switch (synth) {
      case kPad: {
        const float env = std::min(1.0f, t / 0.6f) * release;
        float v = 0;
        for (int d = -1; d <= 1; ++d) {
          const float fd = f * (1.0f + 0.004f * float(d));
          for (int h = 1; h <= 5; ++h)
            v += std::sin(2 * kPi * fd * float(h) * t + float(d)) / float(h * h);
        }
        s = v * 0.25f * env;
        break;
      }
      case kPluck: {
        const float cur = ring[ri];
        const size_t nx = (ri + 1) % ring.size();
        ring[ri] = 0.497f * (cur + ring[nx]);
        ri = nx;
        s = cur * release;
        break;
      }
      case kBell: {
        mod += 2 * kPi * f * 3.5f / float(rate);
        phase += 2 * kPi * f / float(rate);
        const float env = std::exp(-t * 2.2f) * std::min(1.0f, t * 200);
        s = std::sin(phase + 2.0f * std::exp(-t * 3) * std::sin(mod)) * env * release;
        break;
      }
      case kBass: {
        phase += 2 * kPi * f / float(rate);
        const float env = std::min(1.0f, t * 100) * std::exp(-t * 1.5f) * release;
        s = (std::sin(phase) + 0.3f * std::sin(2 * phase)) * env;
        break;
      }
      case kKick: {
        const float fk = 45 + 110 * std::exp(-t * 30);
        phase += 2 * kPi * fk / float(rate);
        s = std::sin(phase) * std::exp(-t * 9);
        break;
      }
      case kHat: {
        const float x = noise(rng);
        lp += 0.6f * (x - lp);
        s = (x - lp) * std::exp(-t * 40) * 0.5f;
        break;
      }
    }
    out[at + i] += s * vel;
  }
}

// Renders the song as stereo with a little echo; returns the samples of both channels.
void RenderSong(const Song& song, int rate, std::vector<float>* left, std::vector<float>* right) {
  std::mt19937 rng(7);
  const float spb = 60.0f / song.bpm;
  const size_t total = size_t((song.Beats() * spb + 3.0f) * float(rate));
  left->assign(total, 0);
  right->assign(total, 0);
  for (size_t v = 0; v < song.voices.size(); ++v) {
    std::vector<float> mono(total, 0);
    for (const Note& n : song.notes) {
      if (n.voice != int(v)) continue;
      RenderNote(song.voices[v].synth, Freq(n.pitch), n.length * spb, n.velocity, rate, rng, mono,
                 size_t(n.beat * spb * float(rate)));
    }
    const float g = song.voices[v].gain, pan = song.voices[v].pan;
    for (size_t i = 0; i < total; ++i) {
      (*left)[i] += mono[i] * g * (1 - pan);
      (*right)[i] += mono[i] * g * (1 + pan);
    }
  }
  // Echo at three eighths of a beat, and a soft limiter.
  const size_t d = size_t(spb * 0.75f * float(rate));
  for (size_t i = d; i < total; ++i) {
    (*left)[i] += (*right)[i - d] * 0.28f;
    (*right)[i] += (*left)[i - d] * 0.28f;
  }
  float peak = 0;
  for (size_t i = 0; i < total; ++i)
    peak = std::max({peak, std::fabs((*left)[i]), std::fabs((*right)[i])});
  const float k = peak > 0 ? 0.85f / peak : 1;
  for (size_t i = 0; i < total; ++i) {
    (*left)[i] = std::tanh((*left)[i] * k * 1.2f) / std::tanh(1.2f);
    (*right)[i] = std::tanh((*right)[i] * k * 1.2f) / std::tanh(1.2f);
  }
  // Fade the last two seconds.
  const size_t fade = size_t(2 * rate);
  for (size_t i = 0; i < fade && i < total; ++i) {
    const float g = float(i) / float(fade);
    (*left)[total - 1 - i] *= g;
    (*right)[total - 1 - i] *= g;
  }
}

void PutVarLen(std::vector<std::uint8_t>& v, std::uint32_t x) {
  std::uint8_t buf[5];
  int n = 0;
  buf[n++] = x & 0x7F;
  while (x >>= 7) buf[n++] = std::uint8_t(0x80 | (x & 0x7F));
  while (n) v.push_back(buf[--n]);
}
void PutBE32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 3; i >= 0; --i) v.push_back(std::uint8_t((x >> (8 * i)) & 255));
}

// A format 1 standard MIDI file: a tempo track, then one track per voice.
int SaveMidi(const std::string& rel, const Song& song) {
  constexpr int kDivision = 480;
  std::vector<std::uint8_t> v;
  PutTag(v, "MThd");
  PutBE32(v, 6);
  v.insert(v.end(),
           {0, 1, 0, std::uint8_t(song.voices.size() + 1), kDivision >> 8, kDivision & 255});
  auto track = [&](const std::vector<std::uint8_t>& body) {
    PutTag(v, "MTrk");
    PutBE32(v, std::uint32_t(body.size()));
    v.insert(v.end(), body.begin(), body.end());
  };
  {
    std::vector<std::uint8_t> t;
    const std::uint32_t usPerBeat = std::uint32_t(60000000.0f / song.bpm);
    t.insert(t.end(), {0x00, 0xFF, 0x51, 0x03, std::uint8_t(usPerBeat >> 16),
                       std::uint8_t(usPerBeat >> 8), std::uint8_t(usPerBeat)});
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    track(t);
  }
  for (size_t vi = 0; vi < song.voices.size(); ++vi) {
    const Voice& voice = song.voices[vi];
    struct Ev {
      std::uint32_t tick;
      std::uint8_t status, a, b;
    };
    std::vector<Ev> evs;
    for (const Note& n : song.notes) {
      if (n.voice != int(vi)) continue;
      const auto on = std::uint32_t(n.beat * kDivision),
                 off = std::uint32_t((n.beat + n.length) * kDivision);
      const auto vel = std::uint8_t(std::clamp(int(n.velocity * 110), 1, 127));
      evs.push_back({on, std::uint8_t(0x90 | voice.channel), std::uint8_t(n.pitch), vel});
      evs.push_back({off, std::uint8_t(0x80 | voice.channel), std::uint8_t(n.pitch), 0});
    }
    std::stable_sort(evs.begin(), evs.end(), [](const Ev& a, const Ev& b) {
      return a.tick != b.tick ? a.tick < b.tick : (a.status & 0xF0) < (b.status & 0xF0);
    });
    std::vector<std::uint8_t> t;
    t.insert(t.end(), {0x00, std::uint8_t(0xC0 | voice.channel), std::uint8_t(voice.program)});
    const int pan = std::clamp(int(64 + voice.pan * 50), 0, 127);
    t.insert(t.end(), {0x00, std::uint8_t(0xB0 | voice.channel), 10, std::uint8_t(pan)});
    t.insert(t.end(), {0x00, std::uint8_t(0xB0 | voice.channel), 7,
                       std::uint8_t(std::clamp(int(voice.gain * 127), 1, 127))});
    std::uint32_t last = 0;
    for (const Ev& e : evs) {
      PutVarLen(t, e.tick - last);
      last = e.tick;
      t.insert(t.end(), {e.status, e.a, e.b});
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    track(t);
  }
  return WriteFileBytes(PathOf(rel).c_str(), v);
}

// Chords as lists of MIDI notes, played for `beats` each; helpers to fill a song.
void AddChords(Song& s, int voice, const std::vector<std::vector<int>>& chords, float beats,
               float start, int repeat, float vel) {
  float b = start;
  for (int r = 0; r < repeat; ++r)
    for (auto& c : chords) {
      for (int p : c) s.notes.push_back({b, beats * 0.95f, p, voice, vel});
      b += beats;
    }
}
void AddLine(Song& s, int voice, float start, const std::vector<std::pair<int, float>>& line,
             float vel) {
  float b = start;
  for (auto& [p, len] : line) {
    if (p > 0) s.notes.push_back({b, len * 0.9f, p, voice, vel});
    b += len;
  }
}
void AddArpeggio(Song& s, int voice, const std::vector<std::vector<int>>& chords, float beats,
                 float start, int repeat, float step, float vel) {
  float b = start;
  for (int r = 0; r < repeat; ++r)
    for (auto& c : chords) {
      for (int i = 0; float(i) * step < beats; ++i)
        s.notes.push_back({b + float(i) * step, step * 1.5f, c[size_t(i) % c.size()] + 12, voice,
                           vel * (i % 2 ? 0.7f : 1.0f)});
      b += beats;
    }
}

// The opening crawl: slow and broad, strings, horns and a timpani roll (MIDI).
Song OpeningTheme() {
  Song s{66,
         {{kPad, 48, 0, 0.8f, -0.2f},
          {kPad, 60, 1, 0.9f, 0.2f},
          {kBass, 42, 2, 0.8f, 0},
          {kBell, 47, 3, 0.7f, 0}},
         {}};
  const std::vector<std::vector<int>> prog = {
      {48, 55, 60, 64}, {45, 52, 57, 60}, {41, 48, 53, 57}, {43, 50, 55, 59}};
  AddChords(s, 0, prog, 4, 0, 4, 0.7f);
  for (int r = 0; r < 16; ++r)
    s.notes.push_back({float(r) * 4, 3.8f, prog[size_t(r) % 4][0] - 12, 2, 0.9f});
  AddLine(s, 1, 4,
          {{67, 2}, {72, 2}, {71, 1}, {69, 1}, {67, 2}, {65, 2}, {64, 1}, {65, 1}, {67, 4},
           {0, 2},  {67, 1}, {69, 1}, {72, 3}, {74, 1}, {76, 2}, {74, 2}, {72, 6}, {0, 2},
           {64, 2}, {67, 2}, {72, 2}, {71, 2}, {69, 4}, {67, 4}, {65, 2}, {67, 2}, {72, 8}},
          0.8f);
  for (int i = 0; i < 8; ++i)
    s.notes.push_back({60.0f + float(i) * 0.25f, 0.25f, 43, 3, 0.5f + 0.05f * float(i)});
  s.notes.push_back({62, 4, 48, 3, 1.0f});
  s.notes.push_back({62, 4, 36, 2, 1.0f});
  for (int p : {48, 55, 60, 64, 67}) s.notes.push_back({62, 4, p, 0, 0.8f});
  return s;
}

// The title sequence: bright and driving (MP3).
Song TitleFanfare() {
  Song s{120,
         {{kBass, 0, 0, 0.9f, 0},
          {kPluck, 0, 1, 0.55f, -0.4f},
          {kBell, 0, 2, 0.5f, 0.3f},
          {kKick, 0, 3, 0.9f, 0},
          {kHat, 0, 4, 0.4f, 0.2f},
          {kPad, 0, 5, 0.35f, 0}},
         {}};
  const std::vector<std::vector<int>> prog = {
      {45, 52, 57, 60}, {41, 48, 53, 57}, {48, 55, 60, 64}, {43, 50, 55, 59}};
  AddArpeggio(s, 1, prog, 4, 0, 5, 0.25f, 0.8f);
  AddChords(s, 5, prog, 4, 0, 5, 0.6f);
  for (int r = 0; r < 20; ++r) {
    const int root = prog[size_t(r) % 4][0] - 12;
    for (int k = 0; k < 4; ++k)
      s.notes.push_back({float(r * 4 + k), 0.8f, root + (k == 3 ? 7 : 0), 0, 0.9f});
    if (r >= 2)
      for (int k = 0; k < 4; ++k) {
        s.notes.push_back({float(r * 4 + k), 0.2f, 36, 3, 1.0f});
        s.notes.push_back({float(r * 4 + k) + 0.5f, 0.1f, 80, 4, 0.8f});
      }
  }
  AddLine(s, 2, 16, {{76, 1}, {79, 1}, {81, 2}, {79, 1}, {76, 1}, {74, 2}, {72, 1}, {74, 1},
                     {76, 2}, {79, 2}, {84, 3}, {83, 1}, {81, 4}, {0, 4},  {76, 1}, {79, 1},
                     {81, 2}, {83, 1}, {84, 1}, {86, 2}, {88, 4}, {86, 2}, {84, 2}, {81, 8}},
          0.8f);
  s.notes.push_back({80, 4, 33, 0, 1.0f});
  for (int p : {57, 64, 69, 72, 76}) s.notes.push_back({80, 4, p, 5, 0.8f});
  return s;
}

// The gallery: slow pads and bells that drift (WAV).
Song GalleryDrift() {
  Song s{72, {{kPad, 0, 0, 0.7f, 0}, {kBell, 0, 1, 0.45f, 0.4f}, {kBass, 0, 2, 0.6f, 0}}, {}};
  const std::vector<std::vector<int>> prog = {
      {50, 57, 62, 65}, {46, 53, 58, 62}, {48, 55, 60, 64}, {45, 52, 57, 61}};
  AddChords(s, 0, prog, 4, 0, 3, 0.6f);
  for (int r = 0; r < 12; ++r)
    s.notes.push_back({float(r) * 4, 3.8f, prog[size_t(r) % 4][0] - 12, 2, 0.7f});
  AddLine(s, 1, 2,
          {{74, 1.5f},
           {77, 0.5f},
           {76, 2},
           {72, 2},
           {74, 2},
           {69, 4},
           {0, 2},
           {81, 1},
           {79, 1},
           {77, 2},
           {76, 2},
           {74, 4},
           {0, 2},
           {74, 1},
           {77, 1},
           {81, 2},
           {79, 2},
           {77, 4},
           {73, 6}},
          0.7f);
  return s;
}

// The story show: a music box over strings (MIDI).
Song Lullaby() {
  Song s{80, {{kBell, 10, 0, 0.9f, 0.2f}, {kPad, 49, 1, 0.6f, -0.2f}, {kBass, 32, 2, 0.5f, 0}}, {}};
  const std::vector<std::vector<int>> prog = {
      {53, 57, 60}, {50, 53, 57}, {46, 50, 53}, {48, 52, 55}};
  AddChords(s, 1, prog, 6, 0, 3, 0.5f);
  for (int r = 0; r < 12; ++r)
    s.notes.push_back({float(r) * 6, 5.8f, prog[size_t(r) % 4][0] - 12, 2, 0.6f});
  AddLine(s, 0, 0,
          {{72, 1}, {77, 2}, {76, 1}, {74, 2}, {72, 1}, {69, 2}, {70, 1}, {72, 3}, {0, 3},
           {74, 1}, {72, 2}, {70, 1}, {69, 2}, {67, 1}, {65, 3}, {67, 3}, {0, 3},  {72, 1},
           {77, 2}, {79, 1}, {81, 2}, {79, 1}, {77, 2}, {76, 1}, {77, 6}, {0, 6},  {69, 1},
           {70, 2}, {72, 1}, {74, 2}, {72, 1}, {70, 2}, {69, 1}, {67, 2}, {65, 1}, {65, 6}},
          0.8f);
  return s;
}

// The lantern show: chimes over a low drone (WAV).
Song Chimes() {
  Song s{60, {{kPad, 0, 0, 0.55f, 0}, {kBell, 0, 1, 0.5f, -0.3f}, {kBell, 0, 2, 0.4f, 0.4f}}, {}};
  AddChords(s, 0, {{43, 50, 55}, {41, 48, 53}}, 8, 0, 2, 0.6f);
  const int scale[] = {67, 69, 71, 74, 76, 79, 81};
  std::mt19937 rng(3);
  for (float b = 0.5f; b < 30; b += 0.75f) {
    if (rng() % 3 == 0) continue;
    s.notes.push_back(
        {b, 0.5f, scale[rng() % 7], int(1 + rng() % 2), 0.5f + float(rng() % 50) / 100.0f});
  }
  return s;
}

// ---------------------------------------------------------------- pictures
Rgb Hsv(float h, float s, float v) {
  h = std::fmod(h + 360.0f, 360.0f) / 60.0f;
  const int i = int(h);
  const float f = h - float(i), p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  float r = v, g = t, b = p;
  switch (i) {
    case 1:
      r = q, g = v, b = p;
      break;
    case 2:
      r = p, g = v, b = t;
      break;
    case 3:
      r = p, g = q, b = v;
      break;
    case 4:
      r = t, g = p, b = v;
      break;
    case 5:
      r = v, g = p, b = q;
      break;
    default:
      break;
  }
  return {r * 255, g * 255, b * 255};
}
float Hash(int x, int y) {
  unsigned h = unsigned(x) * 374761393u + unsigned(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return float(h & 0xFFFF) / 65535.0f;
}
// Smooth value noise with period `period` (so tiles repeat seamlessly).
float Noise(float x, float y, int period) {
  const int xi = int(std::floor(x)), yi = int(std::floor(y));
  const float fx = x - float(xi), fy = y - float(yi);
  auto h = [&](int a, int b) {
    return Hash(((a % period) + period) % period, ((b % period) + period) % period);
  };
  const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  return (h(xi, yi) * (1 - sx) + h(xi + 1, yi) * sx) * (1 - sy) +
         (h(xi, yi + 1) * (1 - sx) + h(xi + 1, yi + 1) * sx) * sy;
}
float Fbm(float x, float y, int period) {
  float v = 0, a = 0.5f;
  for (int o = 0; o < 4; ++o) {
    v += a * Noise(x, y, period);
    x *= 2, y *= 2, period *= 2, a *= 0.5f;
  }
  return v;
}

// A seamless 128 x 128 tile: a deep blue night with faint diagonal lattice and stars.
Bitmap32 Tile() {
  const int n = 128;
  Canvas c(n, n, Hex(0));
  c.All([=](float x, float y) {
    const float cloud = Fbm(x / 32.0f, y / 32.0f, 4);
    Rgb col = Mix(Hex(0x0A1430), Hex(0x24305A), cloud);
    const float d1 = std::fabs(std::fmod(x + y, 64.0f) - 32.0f),
                d2 = std::fabs(std::fmod(x - y + 256, 64.0f) - 32.0f);
    if (d1 > 31.2f || d2 > 31.2f) col = Mix(col, Hex(0x5A70B0), 0.35f);
    return col;
  });
  const float stars[][3] = {{12, 20, 1.2f},  {70, 9, 0.9f},  {100, 60, 1.4f}, {40, 90, 1.0f},
                            {90, 110, 0.8f}, {20, 60, 0.7f}, {60, 50, 0.8f},  {118, 30, 0.7f}};
  for (auto& s : stars) c.Ellipse(s[0], s[1], s[2], s[2], Hex(0xE8ECFF));
  return c.Resolve();
}

// A fluffy cloud on black with hard outer edges: keyed out with TRANS=BLACK at full contrast,
// and left out by the blend while it fades (which ignores key colours but skips black).
Bitmap32 Cloud() {
  Canvas c(150, 70, Hex(0));
  const float puffs[][3] = {{40, 45, 22},  {70, 32, 28}, {102, 40, 24},
                            {124, 50, 16}, {22, 52, 14}, {80, 52, 22}};
  for (auto& p : puffs)
    c.Ellipse(p[0], p[1], p[2], p[2] * 0.85f, [=](float, float y) {
      return Mix(Hex(0xFFFFFF), Hex(0xA8B4D0), art::Clamp01((y - (p[1] - p[2])) / (2.2f * p[2])));
    });
  return c.Resolve(true);
}

// A hot-air balloon on a key colour taken from a corner by the script.
Bitmap32 Balloon() {
  Canvas c(70, 100, Hex(0x00FF00));
  c.Ellipse(35, 36, 30, 34, [](float x, float) {
    const int band = int((x - 5) / 10);
    const Rgb cols[] = {Hex(0xE04030), Hex(0xF0C030), Hex(0x3080D0),
                        Hex(0xF0C030), Hex(0xE04030), Hex(0x3080D0)};
    return Scale(cols[std::clamp(band, 0, 5)], 0.7f + 0.3f * std::cos((x - 28) / 30.0f * 1.5f));
  });
  c.Polygon({{14, 58}, {56, 58}, {42, 78}, {28, 78}}, [](float x, float) {
    return Scale(Hex(0xE04030), 0.6f + 0.3f * std::cos((x - 30) / 20.0f));
  });
  c.Line(29, 78, 31, 86, 1, Hex(0x5A4030));
  c.Line(41, 78, 39, 86, 1, Hex(0x5A4030));
  c.RoundRect(28, 85, 42, 96, 2, Hex(0x8A5A30));
  return c.Resolve(true);
}

// A ringed planet on black.
Bitmap32 Planet() {
  const int n = 180;
  Canvas c(n, n, Hex(0));
  const float cx = 90, cy = 90, r = 52;
  auto ring = [&](bool front) {
    c.Fill(
        0, 0, n, n,
        [=](float x, float y) {
          const float dx = (x - cx), dy = (y - cy) * 3.2f + (x - cx) * 0.35f;
          const float d = std::hypot(dx, dy);
          const bool inRing = d > 66 && d < 86 && std::fabs(d - 74) > 2.0f;
          const bool isFront = dy > 0;
          return inRing && isFront == front;
        },
        [=](float x, float y) {
          const float d = std::hypot(x - cx, (y - cy) * 3.2f + (x - cx) * 0.35f);
          return Mix(Hex(0xE8D0A0), Hex(0x9A7A5A), (d - 66) / 20.0f);
        });
  };
  ring(false);
  c.Ellipse(cx, cy, r, r, [=](float x, float y) {
    const float band = std::sin((y - cy + 0.2f * (x - cx)) * 0.22f) * 0.5f + 0.5f;
    Rgb col = Mix(Hex(0xD89050), Hex(0xF0D8A8), band);
    const float nx = (x - cx) / r, ny = (y - cy) / r;
    const float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
    const float lit = std::max(0.0f, -0.55f * nx - 0.45f * ny + 0.7f * nz);
    return Scale(col, 0.12f + 0.95f * lit);
  });
  ring(true);
  return c.Resolve();
}

// A cratered moon on black (saved as JPEG).
Bitmap32 Moon() {
  const int n = 200;
  Canvas c(n, n, Hex(0));
  c.Ellipse(100, 100, 88, 88, [](float x, float y) {
    const float nx = (x - 100) / 88, ny = (y - 100) / 88;
    const float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
    float v = 0.55f + 0.45f * Fbm(x / 25.0f, y / 25.0f, 64);
    const float craters[][3] = {
        {70, 70, 14}, {130, 85, 10}, {95, 140, 18}, {140, 130, 8}, {60, 120, 7}};
    for (auto& k : craters) {
      const float d = std::hypot(x - k[0], y - k[1]) / k[2];
      if (d < 1)
        v *= 0.75f + 0.25f * d;
      else if (d < 1.2f)
        v *= 1.12f;
    }
    const float lit = std::max(0.0f, 0.5f * nx - 0.4f * ny + 0.75f * nz);
    return Scale(Hex(0xE8E4DA), v * (0.08f + 0.95f * lit));
  });
  return c.Resolve();
}

// A lake among hills at sunset (JPEG).
Bitmap32 Lake(int w, int h) {
  Canvas c(w, h, Hex(0));
  const float horizon = h * 0.58f;
  auto hills = [=](float x, float far) {
    return horizon -
           (far ? 40 : 22) * (0.5f + 0.5f * std::sin(x * (far ? 0.018f : 0.031f) + far * 2)) -
           10 * Fbm(x / 40.0f, far * 3, 1024);
  };
  c.All([=](float x, float y) {
    if (y < horizon) {
      const float t = y / horizon;
      Rgb sky = Mix(Hex(0x2A3A8A), Hex(0xF0A060), t * t);
      const float sun = std::hypot(x - w * 0.68f, y - horizon * 0.78f);
      sky = Mix(sky, Hex(0xFFF0C0), std::exp(-sun / 12.0f));
      if (y > hills(x, 1)) sky = Mix(Hex(0x5A4A7A), Hex(0x7A5A7A), (y - hills(x, 1)) / 40.0f);
      if (y > hills(x, 0)) sky = Mix(Hex(0x2A3A3A), Hex(0x1A2A2A), (y - hills(x, 0)) / 30.0f);
      return sky;
    }
    // Water: the sky mirrored with ripples.
    const float my = 2 * horizon - y + 2.5f * std::sin(y * 0.9f + x * 0.05f);
    const float t = art::Clamp01(my / horizon);
    Rgb water = Mix(Hex(0x2A3A8A), Hex(0xF0A060), t * t);
    const float sun = std::hypot((x - w * 0.68f) * 0.6f, my - horizon * 0.78f);
    water = Mix(water, Hex(0xFFE0A0), std::exp(-sun / 10.0f) * 0.8f);
    if (my > hills(x, 0)) water = Hex(0x1A2A2A);
    return Scale(water, 0.8f);
  });
  return c.Resolve();
}

// A glow on black for painting (additive).
Bitmap32 Glow(int n, Rgb inner, Rgb outer) {
  Canvas c(n, n, Hex(0));
  c.All([=](float x, float y) {
    const float d = std::hypot(x - n / 2.0f, y - n / 2.0f) / (n / 2.0f);
    const float a = std::exp(-d * d * 4.5f) - std::exp(-4.5f);
    const float rays =
        0.25f * std::pow(std::fabs(std::cos(std::atan2(y - n / 2.0f, x - n / 2.0f) * 4)), 30.0f) *
        std::exp(-d * 2.5f);
    return Mix(Scale(outer, std::max(0.0f, a + rays)), inner, std::exp(-d * d * 40));
  });
  return c.Resolve();
}

// A flower on black, so that it can turn without showing corners.
Bitmap32 Flower() {
  Canvas c(120, 120, Hex(0));
  for (int k = 0; k < 8; ++k) {
    const float a = float(k) * kPi / 4;
    const float px = 60 + std::cos(a) * 30, py = 60 + std::sin(a) * 30;
    c.Ellipse(px, py, 20, 20, [=](float x, float y) {
      const float d = std::hypot(x - px, y - py) / 20;
      return Mix(Hex(0xFFB0D0), Hex(0xE0407A), d);
    });
  }
  c.Ellipse(60, 60, 17, 17, [](float x, float y) {
    return Mix(Hex(0xFFE070), Hex(0xC08010), std::hypot(x - 55, y - 55) / 22);
  });
  return c.Resolve(true);
}

// A little boat on magenta.
Bitmap32 Boat() {
  Canvas c(120, 90, Hex(0xFF00FF));
  c.Polygon({{10, 62}, {110, 62}, {96, 82}, {24, 82}},
            [](float, float y) { return Mix(Hex(0xA0603A), Hex(0x5A3018), (y - 62) / 20); });
  c.Line(60, 8, 60, 62, 3, Hex(0x6A4A2A));
  c.Polygon({{63, 10}, {100, 56}, {63, 56}}, Hex(0xF4F0E4));
  c.Polygon({{57, 16}, {57, 56}, {26, 56}}, Hex(0xE0D8C8));
  c.Polygon({{60, 4}, {74, 8}, {60, 12}}, Hex(0xE04030));
  return c.Resolve(true);
}

// A paper lantern glowing on black (for painting).
Bitmap32 Lantern() {
  Canvas c(70, 100, Hex(0));
  c.All([](float x, float y) {
    const float d = std::hypot((x - 35) / 35, (y - 52) / 45);
    return Scale(Hex(0xFF8020), std::max(0.0f, 0.5f - d * 0.5f));
  });
  c.Ellipse(35, 52, 24, 30, [](float x, float y) {
    const float d = std::hypot((x - 35) / 24, (y - 52) / 30);
    Rgb col = Mix(Hex(0xFFF0A0), Hex(0xE04010), d * d);
    if (std::fabs(std::fmod(y - 22, 7.5f)) < 0.8f) col = Scale(col, 0.7f);
    return col;
  });
  c.RoundRect(26, 18, 44, 24, 1, Hex(0x3A2A1A));
  c.RoundRect(26, 80, 44, 86, 1, Hex(0x3A2A1A));
  c.Line(35, 0, 35, 18, 1.2f, Hex(0x5A4A3A));
  return c.Resolve();
}

// A night sea with the moon's road (JPEG), drawn at the size the show gives it. The look is
// laid out on a 400 x 240 plan and scaled to w x h; the moon stands high enough to stay in the
// frame while the picture drifts up.
Bitmap32 Sea(int w, int h) {
  Canvas c(w, h, Hex(0));
  const float s = w / 400.0f, horizon = 120;
  c.All([=](float px, float py) {
    const float x = px / s, y = py / s;
    if (y < horizon) {
      Rgb sky = Mix(Hex(0x060A20), Hex(0x1A2A50), y / horizon);
      if (Hash(int(px), int(py)) > 0.997f) sky = Hex(0xD0D8FF);
      const float m = std::hypot(x - 120, y - horizon * 0.62f);
      if (m < 14)
        sky = Mix(Hex(0xFFF8E0), Hex(0xE8E0C0), m / 14);
      else
        sky = Mix(sky, Hex(0x6A7AA0), std::exp(-(m - 14) / 20.0f) * 0.6f);
      return sky;
    }
    const float t = (y - horizon) / (240 - horizon);
    Rgb sea = Mix(Hex(0x0A1A38), Hex(0x04081A), t);
    const float road = std::exp(-std::pow((x - 120) / (8 + 60 * t), 2.0f));
    const float wave = std::sin(y * 1.3f / (0.2f + t) + x * 0.08f) * 0.5f + 0.5f;
    return Mix(sea, Hex(0xE8E0B0), road * wave * 0.8f);
  });
  return c.Resolve();
}

// An aurora over snow (interval picture).
Bitmap32 Aurora(int w, int h) {
  Canvas c(w, h, Hex(0));
  c.All([=](float x, float y) {
    Rgb sky = Mix(Hex(0x02040E), Hex(0x0A1A30), y / h);
    for (int k = 0; k < 3; ++k) {
      const float cyk = h * (0.25f + 0.12f * float(k)) + 18 * std::sin(x * 0.02f + float(k) * 2);
      const float d = (y - cyk) / (14 + 10 * float(k));
      const float curtain = std::exp(-d * d) * (0.6f + 0.4f * std::sin(x * 0.15f + float(k)));
      sky = Mix(sky, k == 1 ? Hex(0x60F0B0) : Hex(0x40C0E0), curtain * 0.8f);
    }
    if (y > h * 0.8f - 10 * std::sin(x * 0.03f))
      sky = Mix(Hex(0xC8D4F0), Hex(0x8A9AC0), (y - h * 0.75f) / (h * 0.25f));
    return sky;
  });
  return c.Resolve();
}

// Sand dunes at noon (interval picture, JPEG).
Bitmap32 Dunes(int w, int h) {
  Canvas c(w, h, Hex(0));
  c.All([=](float x, float y) {
    Rgb col = Mix(Hex(0x3A7AD0), Hex(0xB0D8F0), y / (h * 0.5f));
    for (int k = 0; k < 4; ++k) {
      const float top = h * (0.45f + 0.13f * float(k)) -
                        25 * std::sin(x * (0.012f + 0.006f * float(k)) + float(k) * 1.7f);
      if (y > top) {
        const float slope = std::cos(x * (0.012f + 0.006f * float(k)) + float(k) * 1.7f);
        col = Scale(Mix(Hex(0xF0C080), Hex(0xC07838), float(k) / 4.0f), 0.75f + 0.25f * slope);
      }
    }
    return col;
  });
  return c.Resolve();
}

// ---------------------------------------------------------------- one-bit pictures
Bitmap1 ToMono(const Bitmap32& b) {
  Bitmap1 m;
  m.Create(b.width, b.height);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) m.Set(x, y, ((b.Row(y)[x] >> 8) & 255) >= 128);
  return m;
}
int SaveMono(const std::string& rel, const Bitmap1& m) {
  std::vector<std::uint8_t> bytes;
  if (EncodeBmp1(m, &bytes) != 0) return -1;
  return WriteFileBytes(PathOf(rel).c_str(), bytes);
}

// A font picture for READFONT: a ruler row, then the glyphs of `chars` side by side.
Bitmap1 FontPicture(art::Text& t, const char* font, int px, const std::string& chars, int rows) {
  std::vector<int> widths;
  int total = 1;
  for (char ch : chars) {
    widths.push_back(t.Width(font, px, std::string(1, ch)) + 2);
    total += widths.back() + 1;
  }
  Bitmap32 b;
  b.Create(total, rows + 1, 0);
  int x = 1;
  for (size_t i = 0; i < chars.size(); ++i) {
    t.Draw(b, font, px, float(x + 1), 1 + px * 4 / 5 + 1, std::string(1, chars[i]), Hex(0xFFFFFF));
    x += widths[i];
    b.Row(0)[x] = 0xFFFFFF;  // the ruler mark just after the glyph
    ++x;
  }
  for (int xx = 0; xx < b.width; ++xx)
    if (b.Row(0)[xx] != 0xFFFFFF) b.Row(0)[xx] = 0;
  return ToMono(b);
}

// An emblem for a scrolling text given as a picture: the ring mark and a line of text.
Bitmap1 Emblem(art::Text& t) {
  Canvas c(400, 150, Hex(0));
  c.Fill(
      140, 5, 260, 125,
      [](float x, float y) {
        const float r = std::hypot(x - 200, y - 65);
        return r > 44 && r < 56;
      },
      [](float, float) { return Hex(0xFFFFFF); });
  c.Fill(
      130, 62, 270, 68, [](float, float) { return true; },
      [](float, float) { return Hex(0xFFFFFF); });
  Bitmap32 b = c.Resolve();
  t.Centred(b, art::kSerifBold, 20, 200, 146, "THE END", Hex(0xFFFFFF), 6);
  return ToMono(b);
}

// ---------------------------------------------------------------- text pictures
// A line of text for OPERATION=PAINT: `colour` on pure black with soft edges, which add to what
// lies behind as much light as they cover. Drawn at the largest size the show gives it, so it is
// only ever shrunk.
Bitmap32 LightText(art::Text& t, const char* font, int px, const std::string& s, Rgb colour,
                   float spacing = 0) {
  Bitmap32 b;
  b.Create(t.Width(font, px, s, spacing) + 2 * px, px * 2, 0);
  t.Draw(b, font, px, float(px), px * 13 / 10, s, colour, spacing);
  return art::CropToInk(b, 2);
}

// A title picture in three colours: the letters exactly white (the title's ink, drawn in the
// title's colour) inside a dark border `border` pixels wide, which is not black and so belongs to
// the title's silhouette: it covers whatever lies behind the title in the background colour.
Bitmap32 OutlinedTitle(art::Text& t, const char* font, int px, const std::string& s, int border,
                       float spacing) {
  const int pad = border + 4;
  Bitmap32 cover;
  cover.Create(t.Width(font, px, s, spacing) + 2 * pad + 8, px * 5 / 4 + 2 * pad, 0);
  t.Draw(cover, font, px, float(pad), pad + px, s, Hex(0xFFFFFF), spacing);
  Bitmap32 out;
  out.Create(cover.width, cover.height, 0);
  auto ink = [&](int x, int y) { return (cover.Row(y)[x] & 255) >= 128; };
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      if (ink(x, y)) {
        out.Row(y)[x] = 0xFFFFFF;
        continue;
      }
      bool near = false;
      for (int dy = -border; dy <= border && !near; ++dy)
        for (int dx = -border; dx <= border && !near; ++dx) {
          const int xx = x + dx, yy = y + dy;
          near = dx * dx + dy * dy <= border * border && xx >= 0 && yy >= 0 && xx < out.width &&
                 yy < out.height && ink(xx, yy);
        }
      if (near) out.Row(y)[x] = 0x383838;
    }
  return art::CropToInk(out, 2);
}

// ---------------------------------------------------------------- the movie
Bitmap32 MovieFrame(int i, int frames, int w, int h) {
  const float t = float(i) / float(frames);
  Canvas c(w, h, Hex(0));
  c.All([=](float x, float y) {
    const float a = std::atan2(y - h / 2.0f, x - w / 2.0f) + t * 2 * kPi;
    const float r = std::hypot(x - w / 2.0f, y - h / 2.0f);
    const float spiral = 0.5f + 0.5f * std::sin(a * 3 + r * 0.05f - t * 12);
    return Mix(Hex(0x0A0A28), Hex(0x3A1A5A), spiral * std::exp(-r / 220));
  });
  const float ring = 50 + 6 * std::sin(t * 4 * kPi);
  c.Fill(
      0, 0, float(w), float(h),
      [=](float x, float y) {
        const float r = std::hypot(x - w / 2.0f, y - h / 2.0f);
        return r > ring && r < ring + 9;
      },
      [=](float, float y) {
        return Mix(Hex(0xFFE28A), Hex(0xE0560A), (y - h / 2.0f + ring) / (2 * ring));
      });
  for (int k = 0; k < 5; ++k) {
    const float a = t * 2 * kPi * 2 + float(k) * 2 * kPi / 5;
    const float ox = w / 2.0f + std::cos(a) * 95, oy = h / 2.0f + std::sin(a) * 60;
    c.Ellipse(ox, oy, 7, 7, Hsv(float(k) * 72 + t * 360, 0.6f, 1.0f));
  }
  return c.Resolve();
}

int Check(int rc, const std::string& what) {
  if (rc != 0) std::fprintf(stderr, "failed: %s\n", what.c_str());
  return rc != 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s EXAMPLESDIR\n", argv[0]);
    return 2;
  }
  gRoot = argv[1];
  int failures = 0;
  for (const char* d : {"opening", "titles", "gallery", "stories", "stories/deep", "Interval"})
    failures += Check(MakeDirs(d), d);
  art::Text text;

  // The opening crawl: a gold bitmap font (capitals, and digits from a second picture), an
  // emblem picture, and the theme.
  failures += Check(SaveMono("opening/goldfont.bmp", FontPicture(text, art::kSerifBold, 26,
                                                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 30)),
                    "goldfont");
  failures += Check(
      SaveMono("opening/golddigits.bmp", FontPicture(text, art::kSerifBold, 26, "0123456789", 30)),
      "golddigits");
  failures += Check(SaveMono("opening/emblem.bmp", Emblem(text)), "emblem");
  failures += Check(SaveMidi("opening/theme.mid", OpeningTheme()), "theme.mid");
  failures +=
      Check(art::SaveBmp(
                PathOf("opening/intro.bmp"),
                LightText(text, art::kSerifBold, 40, "Ondrelix demo shows", Hex(0xFFE8B0), 1), 8),
            "intro");

  // The title sequence: bordered titles (their borders are silhouettes).
  const struct {
    const char* file;
    const char* font;
    int px, border;
    float spacing;
    const char* text;
  } titles[] = {{"titles/ondrelix.bmp", art::kSansBold, 96, 5, 7, "ONDRELIX"},
                {"titles/presents.bmp", art::kSerifItalic, 56, 4, 1, "presents"},
                {"titles/stars.bmp", art::kSansBold, 80, 5, 6, "STARS"},
                {"titles/motion.bmp", art::kSansBold, 80, 5, 6, "IN MOTION"},
                {"titles/fin.bmp", art::kSerifBold, 72, 4, 2, "Fin"}};
  for (const auto& t : titles)
    failures +=
        Check(art::SaveBmp(PathOf(t.file),
                           OutlinedTitle(text, t.font, t.px, t.text, t.border, t.spacing), 4),
              t.file);
  {
    std::vector<float> l, r;
    RenderSong(TitleFanfare(), 44100, &l, &r);
    const std::string wav = "/tmp/ondrelix-fanfare.wav";
    failures += Check(SaveWav(wav, l, r, 44100, 2), "fanfare.wav");
    const std::string cmd =
        "lame --quiet -b 96 '" + wav + "' '" + PathOf("titles/fanfare.mp3") + "'";
    failures += Check(std::system(cmd.c_str()), "lame (apt-get install lame)");
    std::remove(wav.c_str());
  }

  // The gallery.
  failures += Check(art::SaveBmp(PathOf("gallery/tile.bmp"), Tile(), 24), "tile");
  failures += Check(art::SaveBmp(PathOf("gallery/cloud.bmp"), Cloud(), 24), "cloud");
  failures += Check(art::SaveBmp(PathOf("gallery/balloon.bmp"), Balloon(), 24), "balloon");
  failures += Check(art::SaveBmp(PathOf("gallery/planet.bmp"), Planet(), 24), "planet");
  failures += Check(SaveJpeg("gallery/moon.jpg", Moon(), 85), "moon");
  failures += Check(SaveJpeg("gallery/lake.jpg", Lake(320, 200), 85), "lake");
  failures += Check(art::SaveBmp(PathOf("gallery/flower.bmp"), Flower(), 24), "flower");
  failures += Check(
      art::SaveBmp(PathOf("gallery/sun.bmp"), Glow(160, Hex(0xFFFFF0), Hex(0xFFA030)), 24), "sun");
  // Its captions, painted as light over the sky.
  const struct {
    const char* file;
    int px;
    const char* text;
  } labels[] = {{"gallery/lake-label.bmp", 24, "Lake at dusk"},
                {"gallery/planet-label.bmp", 24, "A ringed world"},
                {"gallery/moon-label.bmp", 24, "Moonlight, painted"},
                {"gallery/farewell.bmp", 26, "Thank you for visiting"}};
  for (const auto& l : labels)
    failures +=
        Check(art::SaveBmp(PathOf(l.file),
                           LightText(text, art::kSerifItalic, l.px, l.text, Hex(0xF4ECD8)), 8),
              l.file);
  {
    std::vector<float> l, r;
    RenderSong(GalleryDrift(), 22050, &l, &r);
    failures += Check(SaveWav(PathOf("gallery/drift.wav"), l, l, 22050, 1), "drift.wav");
  }

  // The stories (two shows in one file) and the lanterns two folders down.
  failures += Check(SaveJpeg("stories/sea.jpg", Sea(640, 384), 85), "sea");
  failures += Check(art::SaveBmp(PathOf("stories/boat.bmp"), Boat(), 24), "boat");
  failures += Check(
      art::SaveBmp(PathOf("stories/star.bmp"), Glow(48, Hex(0xFFFFFF), Hex(0x80A0FF)), 24), "star");
  failures += Check(SaveMidi("stories/lullaby.mid", Lullaby()), "lullaby.mid");
  // The night words: lines that come forward, turn and fade, painted as light.
  const struct {
    const char* file;
    const char* font;
    int px;
    std::uint32_t colour;
    const char* text;
  } words[] = {{"stories/night-quiet-ja.bmp", art::kGothic, 44, 0xE0E4FF, "しずかな夜"},
               {"stories/night-quiet.bmp", art::kSerifItalic, 34, 0xC8D0FF, "a quiet night"},
               {"stories/night-star-ja.bmp", art::kGothic, 40, 0xFFF0C0, "星がひとつ"},
               {"stories/night-two.bmp", art::kSerifItalic, 28, 0xD8DCFF, "one star, then two"},
               {"stories/night-many.bmp", art::kSerifItalic, 32, 0xFFFFFF, "and then, many"}};
  for (const auto& w : words)
    failures +=
        Check(art::SaveBmp(PathOf(w.file), LightText(text, w.font, w.px, w.text, Hex(w.colour)), 8),
              w.file);
  failures += Check(art::SaveBmp(PathOf("stories/deep/lantern.bmp"), Lantern(), 24), "lantern");
  {
    std::vector<float> l, r;
    RenderSong(Chimes(), 22050, &l, &r);
    failures += Check(SaveWav(PathOf("stories/deep/chimes.wav"), l, l, 22050, 1), "chimes.wav");
  }

  // Interval pictures and the movie.
  failures += Check(art::SaveBmp(PathOf("Interval/aurora.bmp"), Aurora(400, 240), 24), "aurora");
  failures += Check(SaveJpeg("Interval/dunes.jpg", Dunes(400, 240), 85), "dunes");
  {
    constexpr int kW = 320, kH = 240, kFps = 15, kFrames = 60;
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < kFrames; ++i)
      frames.push_back(JpegBytes(MovieFrame(i, kFrames, kW, kH), 70));
    // The movie is written as Motion-JPEG here and re-encoded as MPEG-4 by GStreamer, the form
    // the saver's player sizes and plays.
    const std::string mjpeg = "/tmp/ondrelix-orbit-mjpeg.avi";
    failures += Check(SaveMjpegAvi(mjpeg, frames, kW, kH, kFps), "orbit (Motion-JPEG)");
    const std::string cmd = "gst-launch-1.0 -q filesrc location='" + mjpeg +
                            "' ! avidemux ! jpegdec ! videoconvert ! avenc_mpeg4 pass=quant "
                            "quantizer=3 ! avimux ! filesink location='" +
                            PathOf("Interval/orbit.avi") + "'";
    failures += Check(std::system(cmd.c_str()), "orbit.avi (apt-get install gstreamer1.0-tools)");
    std::remove(mjpeg.c_str());
  }
  return failures == 0 ? 0 : 1;
}
