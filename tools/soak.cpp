// Soak run: plays the saver's whole cycle (logo, interval items, every show of a data folder,
// plus generated stress shows) headless on a virtual clock for hours of show time, and samples
// the resident memory once per simulated hour. Memory must stay flat.
//
//   ninja -C build tool_soak && build/tool_soak [--hours H] [--data DIR] [--no-stress]
//   (tools/soak.sh builds and runs it for 10 hours of show time)
// Exit code 0 when memory stayed flat, 1 when it grew, 2 on bad arguments.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "app/CPlayback.h"
#include "app/DisplayGeometry.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "settings/CMainCtl.h"

namespace {

constexpr std::int32_t kHourMs = 3600 * 1000;
// Growth of the resident set after the first simulated hour that still counts as flat: caches
// (glyphs, fonts, decoded pictures of the longest show) settle within the first cycle.
constexpr long kFlatSlackKb = 8 * 1024;

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

// 64 live images turning, scaling, fading and painting at once, and a 65th that is dropped.
std::string StressImages() {
  std::string s = "<DATA TITLE=\"stress: 65 images\" VERSION=\"1.10\">\n";
  s += "<BGMAKE BGFILE=*NOTFOUND BGCOLOR=NAVY><OBJECT FILE=*NOTFOUND XPOS=30 YPOS=40 TRANS=LEFTTOP>\n";
  s += "<BGMOVE XMOVE=40 YMOVE=25>\n";
  for (int i = 0; i < 65; ++i) {
    char line[400];
    std::snprintf(line, sizeof line,
                  "<IMAGE FILE=*%s XPOS=%d YPOS=%d ZPOS=%d ANGLE=%d SIZE=%d TIME=20 "
                  "CONTRAST=%s OPERATION=%s QUALITY=%s>"
                  "<MOVE ROTATE=%d ZMOVE=%d><SET START=5 XPOS=%d SIZE=60 TIME=10 ACC=30 DEC=30>\n",
                  i % 3 ? "ZQLOGO" : "NOTFOUND", (i % 8) * 70 - 280, (i / 8) * 30 - 120,
                  (i % 5) * 40 - 100, i * 7, 40 + i % 60, i % 2 ? "FADEINOUT" : "200",
                  i % 4 ? "COPY" : "PAINT", i % 2 ? "HIGH" : "LOW", 30 + i, i % 7 - 3,
                  (i % 8) * -60 + 200);
    s += line;
  }
  return s + "</DATA>\n";
}

// More events than a timeline holds: the rest are refused and the show still plays.
std::string StressEvents() {
  std::string s = "<DATA TITLE=\"stress: 2048 events\" VERSION=\"1.10\">\n";
  for (int i = 0; i < 1100; ++i) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "<CLOCK SET=%d.%02d><IMAGE STRING=\"event %d\" XPOS=%d TIME=0.5><SET XPOS=0 TIME=0.4>\n",
                  i / 100, i % 100, i, (i % 20) * 20 - 200);
    s += line;
  }
  return s + "</DATA>\n";
}

// 64 titles flying in and out, each with colour and speed changes.
std::string StressTitles() {
  std::string s = "<DATA TITLE=\"stress: 64 titles\" VERSION=\"1.10\">\n";
  for (int i = 0; i < 66; ++i) {
    char line[300];
    std::snprintf(line, sizeof line,
                  "<CLOCK SET=%d.%d><TITLE FILE=missing%d.bmp POS=%d SPEED=%d TIME=8 COLOR=#%02X80%02X "
                  "CONTRAST=FADEINOUT><SET SPEED=%d TIME=2 COLOR=WHITE><MOVE SPEED=1>\n",
                  i / 10, i % 10, i, 2000 - i * 30, -40 + i, (i * 37) & 255, (i * 91) & 255,
                  i % 9 - 4);
    s += line;
  }
  return s + "</DATA>\n";
}

// A long crawl of formatted text, and 300 captions.
std::string StressCrawl() {
  std::string s = "<DATA TITLE=\"stress: long crawl\" VERSION=\"1.10\">\n";
  s += "<SCRTEXT SPEED=5 TIME=120 CONTRAST=FADEINOUT>\n";
  const char* aligns[] = {"LEFT", "RIGHT", "CENTER", "LAYOUT"};
  for (int i = 0; i < 1500; ++i) {
    char line[300];
    std::snprintf(line, sizeof line,
                  "<FORMAT FONT=\"%s\" SIZE=%d ALIGN=%s ROWSPAN=2>line %d of the long crawl, "
                  "words enough to fill it</FORMAT><BR>\n",
                  i % 3 ? "DEFAULT" : "SANS", 12 + i % 20, aligns[i % 4], i);
    s += line;
  }
  s += "<SET SPEED=1 TIME=30 COLOR=#80FFFF></SCRTEXT>\n<CAPTION TIME=120>";
  for (int i = 0; i < 300; ++i) {
    char line[120];
    std::snprintf(line, sizeof line, "caption %d<BR>second line %d<P>", i, i);
    s += line;
  }
  return s + "</CAPTION>\n</DATA>\n";
}

bool MakeStressFolder(const std::string& folder, const std::string& demo) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  if (!demo.empty()) {
    // The demo shows and their interval items, reached through links as a user might set it up.
    if (symlink(demo.c_str(), (folder + "/demo").c_str()) != 0 && errno != EEXIST) return false;
    const std::string interval = demo + "/Interval";
    struct stat st{};
    if (stat(interval.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        symlink(interval.c_str(), (folder + "/Interval").c_str()) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return WriteText(folder + "/script_stress_images.txt", StressImages()) &&
         WriteText(folder + "/script_stress_events.txt", StressEvents()) &&
         WriteText(folder + "/script_stress_titles.txt", StressTitles()) &&
         WriteText(folder + "/script_stress_crawl.txt", StressCrawl());
}

}  // namespace

int main(int argc, char** argv) {
  double hours = 10;
  std::string data = ONDRELIX_SOURCE_DIR "/examples";
  bool stress = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--hours" && i + 1 < argc) {
      hours = std::atof(argv[++i]);
    } else if (a == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else if (a == "--no-stress") {
      stress = false;
    } else {
      std::fprintf(stderr, "usage: %s [--hours H] [--data DIR] [--no-stress]\n", argv[0]);
      return 2;
    }
  }
  if (hours <= 0 || hours > 500) return 2;

  std::string folder = data;
  if (stress) {
    char tmpl[] = "/tmp/ondrelix-soak-XXXXXX";
    if (!mkdtemp(tmpl) || !MakeStressFolder(tmpl, data)) {
      std::fprintf(stderr, "soak: cannot make the stress folder\n");
      return 2;
    }
    folder = tmpl;
  }

  SilentMediaDevice device;
  SaverObjects objects(&device, [&](CMainCtl& s) {
    s.SetStorePath("/dev/null/no-store.reg");  // defaults, never the user's store
    s.Load();
    s.SetDspMode(kDisplayWindow);
    s.SetFlgLogo(true);
    s.SetCurPath(folder);
    s.LoadedPath = folder;
  });
  if (!objects.Layout(1024, 768)) return 2;
  objects.PrepareShows(12345u, true);
  std::printf("soak: %d script(s) in %s, %.1f hours of show time\n",
              objects.TimeLine->CatalogueCount, folder.c_str(), hours);

  CPlayback& pb = objects.Playback();
  pb.Begin(/*noLogo=*/false, /*counter=*/true);
  const std::int64_t endMs = static_cast<std::int64_t>(hours * kHourMs);
  std::int64_t now = 0;
  std::int64_t nextSample = kHourMs;
  long firstHourKb = 0, maxLaterKb = 0;
  long long passes = 0;
  const std::time_t started = std::time(nullptr);
  while (now < endMs) {
    pb.Pass(static_cast<std::int32_t>(now));
    passes += 1;
    std::int64_t next = pb.NextDeadline(static_cast<std::int32_t>(now));
    now = next > now ? next : now + 1;
    if (now >= nextSample) {
      const long kb = ResidentKb();
      const int hour = static_cast<int>(nextSample / kHourMs);
      std::printf("soak: hour %2d  resident %6ld kB  passes %lld  (%ld s of wall time)\n", hour,
                  kb, passes, static_cast<long>(std::time(nullptr) - started));
      std::fflush(stdout);
      if (hour == 1) {
        firstHourKb = kb;
      } else if (kb > maxLaterKb) {
        maxLaterKb = kb;
      }
      nextSample += kHourMs;
    }
  }
  if (maxLaterKb > firstHourKb + kFlatSlackKb) {
    std::printf("soak: memory GREW from %ld kB after the first hour to %ld kB\n", firstHourKb,
                maxLaterKb);
    return 1;
  }
  std::printf("soak: memory flat (%ld kB after the first hour, at most %ld kB later)\n",
              firstHourKb, maxLaterKb ? maxLaterKb : firstHourKb);
  return 0;
}
