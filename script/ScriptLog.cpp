// The script log: the compiled timeline written as text, one line per event, for script authors.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/FileReplacer.h"
#include "script/CTimeLine.h"
#include "script/ScriptValues.h"
#include "settings/CMainCtl.h"

namespace {

// printf into a string. Line feeds become CR LF as a text-mode file on the scripts' system.
class LogText {
 public:
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char buf[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof buf) {
      Append(buf, static_cast<std::size_t>(n));
      return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    Append(big.data(), static_cast<std::size_t>(n));
  }
  // A text argument printed with %s, whatever bytes it holds.
  void Text(const char* format, const char* text) { Print(format, text); }
  std::string bytes;

 private:
  void Append(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (s[i] == '\n') bytes += '\r';
      bytes += s[i];
    }
  }
};

// A real printed with %d: its whole part (out-of-range values as 0x80000000).
int Whole(double d) {
  return TruncToInt32(d);
}

unsigned Hex(std::int32_t v) {
  return static_cast<unsigned>(v);
}

void LogPoints(LogText& log, const Point3& p) {
  if (p.x != kUnsetReal) log.Print("Point.x:%.2f]  ", p.x);
  if (p.y != kUnsetReal) log.Print("Point.y:%.2f]  ", p.y);
  if (p.z != kUnsetReal) log.Print("Point.z:%.2f]  ", p.z);
}

void LogBgMake(LogText& log, const CTimeBgMake& e) {
  log.Print("BGMAKE     ");
  log.Print("BgColor:[%x]  ", Hex(e.BgColor));
  log.Print("FileName:[%.64s]\n", e.FileName);
  for (int j = 0; j < kMaxBgObjects; ++j) {
    if (e.ResName[j][0] == 0) continue;
    log.Print("           ResName[%d]:[%.64s]  ", j, e.ResName[j]);
    log.Print("ResPos[%d]:[x:%d y:%d]  ", j, e.ResPos[j].x, e.ResPos[j].y);
    log.Print("ResPalent[%d]:[%d]\n", j, e.ResPalent[j]);
  }
}

void LogImage(LogText& log, const CTimeImage& e) {
  log.Print("IMAGE      ");
  log.Print("FileName:[%.64s]  ", e.FileName);
  if (e.String) {
    log.Print("String:[%s]  ", e.String->c_str());
  } else {
    log.Print("String:[(null)]  ");
  }
  log.Print("BmpNo:[%d]  ", e.BmpNo);
  LogPoints(log, e.Point);
  log.Print("BgPos:[x:%d y:%d]  ", Whole(e.BgPos.x), Whole(e.BgPos.y));
  log.Print("Trans:[%x]  ", Hex(e.Trans));
  log.Print("Contrast:[%d]  ", e.Contrast);
  log.Print("Reverse:[%d]  ", e.Reverse);
  log.Print("Angle:[%.2f]  ", e.Angle);
  log.Print("Quality:[%d]  ", e.Quality);
  log.Print("Time:[%d]  ", e.Time);
}

void LogSchedule(LogText& log, const CTimeSchedule& e) {
  log.Print(e.Kind == kTagScheduleS   ? "SCHEDULE_S "
            : e.Kind == kTagScheduleT ? "SCHEDULE_T "
                                      : "SCHEDULE_I ");
  log.Print("BmpNo:[%d]  ", e.BmpNo);
  log.Print(e.Mode == kModeMove ? "Mode:[MOVE]  " : "Mode:[SET]  ");
  LogPoints(log, e.Point);
  if (e.Angle != kUnsetReal) log.Print("Angle:[%.2f]  ", e.Angle);
  if (e.Contrast != kUnsetInt) log.Print("Contrast:[%d]  ", e.Contrast);
  log.Print("Color:[%x]  ", Hex(e.Color));
  log.Print("Speed:[%d]  ", Whole(e.Speed));
  log.Print("Time:[%d]  ", e.Time);
}

void LogBgScroll(LogText& log, const CTimeBgScroll& e) {
  // BGSET and BGMOVE events have no line of their own in the log.
  if (e.Kind != kTagBgScroll) {
    log.Print("ILLEGAL TAG! ==============");
    return;
  }
  log.Print("BGSCROLL   ");
  log.Print("XValue:[%d]  ", Whole(e.XValue));
  log.Print("XMode:[%d]  ", e.XMode);
  log.Print("YValue:[%d]  ", Whole(e.YValue));
  log.Print("YMode:[%d]  ", e.YMode);
  log.Print("ZValue:[%d]  ", Whole(e.ZValue));
  log.Print("ZMode:[%d]  ", e.ZMode);
  log.Print("Time:[%d]  ", e.Time);
  log.Print("Acc:[%d]  ", e.Acc);
  log.Print("Dec:[%d]  ", e.Dec);
}

void LogTitle(LogText& log, const CTimeTitle& e) {
  log.Print("TITLE     ");
  log.Print("Switch:[%d]  ", e.Switch);
  log.Print("FileName:[%.64s]  ", e.FileName);
  log.Print("BmpNo:[%d]  ", e.BmpNo);
  log.Print("ZPos:[%.2f]  ", e.ZPos);
  log.Print("ZPosPlus:[%.2f]  ", e.ZPosPlus);
  log.Print("Color:[%x]  ", Hex(e.Color));
  log.Print("Contrast:[%d]  ", e.Contrast);
  log.Print("Time:[%d]  ", e.Time);
}

void LogScroll(LogText& log, const CTimeScroll& e) {
  log.Print("SCRTEXT    ");
  log.Print("Switch:[%d]  ", e.Switch);
  log.Print("BmpNo:[%d]  ", e.BmpNo);
  log.Print("Contrast:[%d]  ", e.Contrast);
  log.Print("Color:[%x]  ", Hex(e.Color));
  log.Print("Speed:[%d]  ", e.Speed);
  log.Print("Time:[%d]  ", e.Time);
}

// Writes the body of one event; true when it was the end of the script.
bool LogEvent(LogText& log, const CTimeDat& ev) {
  bool end = false;
  const EventVisitor write{
      [&](const CTimeData& e) {
        log.Print("DATA       ");
        log.Print("TiTle:[%.32s]  ", e.Title);
        log.Print("Version:[%d]  ", e.Version);
        log.Print("BgColor:[%x]  ", Hex(e.BgColor));
      },
      [&](const CTimeEnd& e) {
        end = e.Kind == kTagDataEnd;
        log.Print(end ? "END OF DATA ============= \n" : "END\n");
      },
      [&](const CTimeBgMake& e) { LogBgMake(log, e); },
      [&](const CTimeBgScroll& e) { LogBgScroll(log, e); },
      [&](const CTimeBgm& e) {
        log.Print("BGM        ");
        log.Print("FileName:[%.64s]  ", e.FileName);
        log.Print("Switch:[%d]  ", e.Switch);
        log.Print("Fade:[%d]  ", e.Fade);
      },
      // SCREEN events have no line of their own in the log either.
      [&](const CScreen&) { log.Print("ILLEGAL TAG! =============="); },
      [&](const CTimeImage& e) { LogImage(log, e); },
      [&](const CTimeSolid& e) {
        log.Print("SOLID      ");
        log.Print("Color:[%x]  ", Hex(e.Color));
      },
      [&](const CTimeClear&) { log.Print("CLEAR      "); },
      [&](const CTimeTitle& e) { LogTitle(log, e); },
      [&](const CTimeScroll& e) { LogScroll(log, e); },
      [&](const CTimeCaption& e) {
        log.Print("CAPTION    ");
        log.Print("CaptionNo:[%d]  ", e.CaptionNo);
        log.Print("NumCaption:[%d]  ", e.NumCaption);
        log.Print("Time:[%d]  ", e.Time);
      },
      [&](const CTimeSchedule& e) { LogSchedule(log, e); },
  };
  if (!VisitEvent(ev, write)) log.Print("ILLEGAL TAG! ==============");
  return end;
}

}  // namespace

std::string CTimeLine::ScriptLogText(int* result) const {
  LogText log;
  int r = -1;
  for (int i = 0; i < EventCount && i < kMaxEvents; ++i) {
    const CTimeDat* ev = Events[i].get();
    if (!ev) continue;
    log.Print("\n");
    log.Print("%05.1f (%05d)  ", ev->Tick / 33.0, ev->Tick);
    if (LogEvent(log, *ev)) {
      r = 0;
      break;
    }
  }
  if (result) *result = r;
  return log.bytes;
}

int CTimeLine::WriteScriptLog() {
  if (!Settings) return -1;
  const std::string path = Settings->GetCurPath() + "/Script.log";
  // The log replaces only a regular file of that name: a link called Script.log is never written
  // through (it could point at any file of the user's), and a named pipe or folder of that name is
  // left alone. A new file takes the old one's place, so a full disk keeps the old log whole.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return -1;
  FileReplacer file;
  const int fd = file.Begin(path, 0644);
  if (fd < 0) return -1;
  int result = -1;
  const std::string text = ScriptLogText(&result);
  if (!FileReplacer::WriteAll(fd, text) || file.Commit() != 0) return -1;
  return result;
}
