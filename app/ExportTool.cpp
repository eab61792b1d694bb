// The show exporter: a headless play whose pictures and music go to a video encoder.
#include "app/ExportTool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/CPlayback.h"
#include "app/CommandLine.h"
#include "app/DisplayGeometry.h"
#include "app/HeadlessShow.h"
#include "app/MusicTrack.h"
#include "app/RenderTool.h"
#include "app/WindowSurface.h"
#include "platform/Signals.h"

namespace {

// Video sizes: even sides (the encoders halve the colour planes), from a thumbnail to 4K.
constexpr int kMinSide = 64;
constexpr int kMaxWidth = 3840;
constexpr int kMaxHeight = 2160;
// The progress line is redrawn at most this often, and is this wide in bar cells.
constexpr double kProgressEverySeconds = 0.25;
constexpr int kBarCells = 24;

std::string ContainerOf(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

// The temporary file beside the output, renamed over it once the video is complete, so a
// stopped or failed export never leaves a file that looks whole.
class PartFile {
 public:
  ~PartFile() { Remove(); }
  // 0, or -1 with errno set.
  int Create(const std::string& out) {
    const size_t slash = out.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : out.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? out : out.substr(slash + 1);
    std::string name = dir + (slash == std::string::npos ? "/." : ".") + base + ".part-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return -1;
    // mkstemp makes the file private; the video gets the mode any new file of the user gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    path_ = name;
    return 0;
  }
  const std::string& Path() const { return path_; }
  int Commit(const std::string& out) {
    if (rename(path_.c_str(), out.c_str()) != 0) return -1;
    path_.clear();
    return 0;
  }
  void Remove() {
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
  }

 private:
  std::string path_;
};

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

// Everything one export run holds while the show plays.
class Exporter {
 public:
  Exporter(const ExportRequest& req, const VideoBackend& backend, AudioDecoder* decoder)
      : req_(req),
        backend_(backend),
        track_(decoder, [this] { return static_cast<std::int64_t>(ticks_) * kTickMs; }),
        show_(&track_),
        progress_(isatty(STDERR_FILENO) == 1) {}

  int Run() {
    if (const std::string missing = backend_.Missing(req_.container); !missing.empty()) {
      std::fprintf(stderr, "ondrelix: %s\n", missing.c_str());
      return 1;
    }
    HeadlessOptions options;
    options.mode = ExportDisplayMode(req_);
    if (options.mode != kDisplayWindow) {
      options.screenWidth = req_.width;
      options.screenHeight = req_.height;
    }
    if (const std::string error = show_.Open(req_.file, req_.script, options); !error.empty())
      return Fail(kExportBadInput, error);
    if (part_.Create(req_.out) != 0)
      return Fail(kExportBadInput, "cannot write " + req_.out + ": " + std::strerror(errno));

    InstallQuitSignals(kQuitNoCutOff);
    const int code = PlayAndWrite();
    RemoveQuitSignals();
    return code;
  }

 private:
  int PlayAndWrite() {
    start_ = std::chrono::steady_clock::now();
    const int played = show_.PlayTicks([this](int tick) { return Tick(tick); });
    if (progress_) std::fputs("\r\033[K", stderr);
    if (Stopped()) return StoppedExit();
    if (played < 0) {
      return Fail(kExportBadInput, "script " + std::to_string(req_.script) + " of " + req_.file +
                                       " could not be loaded");
    }
    if (!error_.empty()) return Fail(1, error_);
    if (!encoder_) return Fail(1, "the show has no ticks");
    if (encoder_->Finish() != 0) return Fail(1, encoder_->Error());
    encoder_.reset();
    if (Stopped()) return StoppedExit();
    if (part_.Commit(req_.out) != 0)
      return Fail(1, "cannot write " + req_.out + ": " + std::strerror(errno));
    std::printf("%s: %d frames, %s, %s\n", req_.out.c_str(), ticks_,
                Clock(ticks_ * kTickMs / 1000.0).c_str(),
                track_.Played() ? "with music" : "without sound");
    return 0;
  }

  // SIGINT or SIGTERM came: the export ends at the next tick.
  bool Stopped() {
    if (signal_ == 0) signal_ = TakeQuitSignal();
    return signal_ != 0;
  }

  int StoppedExit() {
    encoder_.reset();
    part_.Remove();
    std::fprintf(stderr, "ondrelix: stopped; %s not written\n", req_.out.c_str());
    return signal_ == SIGTERM ? 128 + SIGTERM : kExportStopped;
  }

  int Fail(int code, const std::string& message) {
    encoder_.reset();
    part_.Remove();
    std::fprintf(stderr, "ondrelix: %s\n", message.c_str());
    return code;
  }

  // Called after each tick: the picture of the tick, then the music up to the next tick (music
  // starts and stops only on ticks, so it is known by now).
  bool Tick(int tick) {
    if (Stopped()) return false;
    if (tick == 0 && !OpenEncoder()) return false;
    const Bitmap32& picture = show_.Window().Picture();
    if (encoder_->AddFrame(picture, static_cast<std::int64_t>(tick) * kTickMs, kTickMs) != 0) {
      error_ = encoder_->Error();
      return false;
    }
    ticks_ = tick + 1;
    if (hasAudio_ && !AddAudioUpTo(static_cast<std::int64_t>(ticks_) * kTickMs)) return false;
    ShowProgress(false);
    return true;
  }

  bool OpenEncoder() {
    VideoFormat format;
    format.path = part_.Path();
    format.container = req_.container;
    format.width = req_.width;
    format.height = req_.height;
    format.rateNum = 1000;
    format.rateDen = kTickMs;
    format.audio = hasAudio_ = show_.HasMusic();
    total_ = show_.EndTick() + 1;
    encoder_ = backend_.Make(format, &error_);
    return encoder_ != nullptr;
  }

  bool AddAudioUpTo(std::int64_t ms) {
    const std::int64_t to = TrackFrameAt(ms);
    while (audioFrames_ < to) {
      const int n = static_cast<int>(std::min<std::int64_t>(to - audioFrames_, kTrackRate / 10));
      samples_.resize(static_cast<size_t>(n) * kTrackChannels);
      track_.Render(audioFrames_, n, samples_.data());
      if (encoder_->AddAudio(samples_.data(), n) != 0) {
        error_ = encoder_->Error();
        return false;
      }
      audioFrames_ += n;
    }
    return true;
  }

  void ShowProgress(bool last) {
    if (!progress_) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (!last && elapsed - shownAt_ < kProgressEverySeconds) return;
    shownAt_ = elapsed;
    std::fprintf(stderr, "\r\033[K%s", ExportProgressLine(ticks_, total_, elapsed).c_str());
    std::fflush(stderr);
  }

  const ExportRequest& req_;
  const VideoBackend& backend_;
  MusicTrack track_;
  HeadlessShow show_;
  PartFile part_;
  std::unique_ptr<VideoEncoder> encoder_;
  std::vector<std::int16_t> samples_;
  std::string error_;
  bool progress_;
  bool hasAudio_ = false;
  int ticks_ = 0;
  int total_ = 0;
  int signal_ = 0;
  std::int64_t audioFrames_ = 0;
  std::chrono::steady_clock::time_point start_;
  double shownAt_ = -1;
};

}  // namespace

std::string ExportRequestOf(const CommandLine& cl, ExportRequest* out) {
  if (!cl.error.empty()) return cl.error;
  const ToolOptions& t = cl.tools;
  ExportRequest r;
  if (t.operands.size() == 2) {
    r.out = t.operands[0];
    r.file = t.operands[1];
  }
  r.script = t.script;
  r.width = t.width;
  r.height = t.height;
  r.mode = cl.options.displayMode;
  const bool sizeGiven = t.sizeGiven;
  if (r.out.empty() || r.file.empty()) return "an output file and a script file are needed";
  r.container = ContainerOf(r.out);
  if (r.container != "webm" && r.container != "mp4")
    return "unknown container for " + r.out + ": the name must end in .webm or .mp4";
  if (r.width < kMinSide || r.height < kMinSide || r.width > kMaxWidth || r.height > kMaxHeight ||
      r.width % 2 != 0 || r.height % 2 != 0)
    return "--size wants even sides from 64 x 64 to 3840 x 2160";
  const bool fixedPicture = r.mode == kDisplayExclusive || r.mode == kDisplayWindow;
  if (fixedPicture && sizeGiven && (r.width != kPictureWidth || r.height != kPictureHeight))
    return "--mode 0 and 4 show the 640 x 480 picture: give --size only with --mode 1, 2 or 3";
  *out = r;
  return "";
}

std::string ParseExportArgs(const std::vector<std::string>& args, ExportRequest* out) {
  std::vector<std::string> all{"--export"};
  all.insert(all.end(), args.begin(), args.end());
  return ExportRequestOf(ParseCommandLine(all), out);
}

int ExportDisplayMode(const ExportRequest& r) {
  if (r.mode >= 0 && r.mode != kDisplayExclusive) return r.mode;
  if (r.mode == kDisplayExclusive) return kDisplayWindow;  // the same 640 x 480 picture
  const bool plain = r.width == kPictureWidth && r.height == kPictureHeight;
  return plain ? kDisplayWindow : kDisplayStretched;
}

std::string ExportProgressLine(int done, int total, double elapsedSeconds) {
  const double fps = elapsedSeconds > 0 ? done / elapsedSeconds : 0;
  char buf[160];
  if (total <= 0) {
    std::snprintf(buf, sizeof buf, "exporting: %d frames  %.0f fps", done, fps);
    return buf;
  }
  done = std::min(done, total);
  const int cells = static_cast<int>(static_cast<long long>(done) * kBarCells / total);
  const std::string bar = std::string(cells, '#') + std::string(kBarCells - cells, '.');
  const std::string left = fps > 0 ? Clock((total - done) / fps) + " left" : "";
  std::snprintf(buf, sizeof buf, "exporting [%s] %3d%%  %.0f fps  %s", bar.c_str(),
                static_cast<int>(static_cast<long long>(done) * 100 / total), fps, left.c_str());
  return buf;
}

int RunExport(const ExportRequest& request, const VideoBackend& backend, AudioDecoder* decoder) {
  Exporter exporter(request, backend, decoder);
  return exporter.Run();
}
