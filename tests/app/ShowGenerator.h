// Random but valid shows for the differential test: a seeded generator that writes a script over
// every tag and attribute that puts something on the screen, the pictures those scripts name, and
// how each show is to be played (display mode, speed, pacing, pauses).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// How the real player plays a show; written into the script as a comment, so that a show kept
// as a regression file plays again the way it failed.
struct PlayPlan {
  int mode = 4;  // display mode
  int frameInterval = 33;
  int keeping = 0;     // 0 a frame on every change, 1 held for the tick (rendering), 2 paced
  int pauseTick = -1;  // the tick after which the show pauses, -1 for none
  int pauseMs = 0;     // for how long
  // The window lets the display server move its frame, on a screen the stretch covers by whole
  // pixels both ways (1), or across only (2, 1920 x 1080); 0 for none.
  int moves = 0;
};

// "# plan: ..." and back; a script without the line plays with the default plan.
std::string PlanLine(const PlayPlan& plan);
PlayPlan ReadPlan(const std::string& script);

// Writes every picture a generated show may name into `dir`.
void WritePictureKit(const std::string& dir);

class ShowGenerator {
 public:
  explicit ShowGenerator(std::uint32_t seed) : rng_(seed) {}
  // One show: the plan line, then <DATA ...> to </DATA>.
  std::string Script();
  // A show whose sky scrolls most of the time, on a window whose frame the display server moves:
  // a tiled picture with placed pictures, drifts at rates between whole pixels a tick either way
  // on both axes, glides that start and stop between pixels, with pictures and titles moving and
  // fades over it.
  std::string SkyScript();

 private:
  int Int(int lo, int hi);  // lo..hi
  bool Chance(int percent);
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(Int(0, static_cast<int>(v.size()) - 1))];
  }
  std::string Secs(int maxMs);
  std::string Real(int lo, int hi);
  std::string Colour();
  std::string Trans();
  std::string Contrast(bool keywords);

  void Background(std::string& s);
  void CameraMove(std::string& s);
  void Image(std::string& s);
  void Title(std::string& s);
  void ScrollText(std::string& s);
  void Caption(std::string& s);
  void Screen(std::string& s);
  void Clock(std::string& s);

  std::mt19937 rng_;
};
