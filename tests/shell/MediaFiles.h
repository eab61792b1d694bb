// Tiny media files written by the tests: music in each format the saver plays, and movies.
#pragma once

#include <string>

namespace testmedia {

// 16-bit stereo PCM at 44 100 Hz, a sine of `ms` milliseconds.
bool WriteWav(const std::string& path, int ms);
// A format-0 standard MIDI file with a few notes, about `ms` milliseconds long.
bool WriteMidi(const std::string& path, int ms);
// MPEG-1 layer III, 128 kbit/s, 44 100 Hz mono, silent frames (no encoder needed).
bool WriteMp3(const std::string& path, int ms);
// An AVI of `frames` uncompressed 24-bit frames at 10 frames per second. A `fourcc` other than
// "DIB " declares a codec no decoder knows, for movies whose video cannot be shown.
bool WriteAvi(const std::string& path, int width, int height, int frames,
              const char* fourcc = "DIB ");
bool WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace testmedia
