// The settings dialog's drawing and decisions, without a toolkit.
#include "settings/DialogLogic.h"

#include <algorithm>
#include <cstdio>

#include "platform/AsciiCase.h"
#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"

// ---- Display-mode list ----

std::string DspItemText(int index, int screenWidth, int screenHeight) {
  char buf[96];
  switch (index) {
    case 0:
      return " 640 x  480 解像度変更 (DirectX)";
    case 1:
      return " 640 x  480 中央に表示";
    case 2:
      std::snprintf(buf, sizeof buf, "%4d x %4d 全画面拡大表示", screenWidth, screenHeight);
      return buf;
    case 3:
      std::snprintf(buf, sizeof buf, "%4d x %4d ２倍(1280 x 960)拡大表示", screenWidth,
                    screenHeight);
      return buf;
    case 4:
      return " 640 x  480 ウィンドウ表示";
    default:
      return "";
  }
}

int DspCountOnDropDown(int count, int selected, bool ctrlHeld) {
  if (ctrlHeld && count == kDspModeCount - 1) return kDspModeCount;
  if (!ctrlHeld && count == kDspModeCount && selected != kDspWindowMode) return count - 1;
  return count;
}

int DspCountOnChange(int count, int selected) {
  if (count == kDspModeCount && selected != kDspWindowMode) return count - 1;
  return count;
}

// ---- Monitor preview ----

void DrawMonitorPreview(Bitmap32& gamen, const Bitmap32& frame, const Bitmap32& badge, int mode,
                        int screenWidth, int screenHeight, bool warning, std::uint32_t buttonFace) {
  constexpr int GW = kGamenWidth, GH = kGamenHeight;
  if (gamen.width != GW || gamen.height != GH) gamen.Create(GW, GH);
  if (screenWidth <= 0 || screenHeight <= 0) return;
  const int W = static_cast<int>(640.0 / screenWidth * GW);
  const int H = static_cast<int>(480.0 / screenHeight * GH);
  const int left = GW / 2 - W / 2, top = GH / 2 - H / 2;
  switch (mode) {
    case 0:
    case 2:
      CopyRect(gamen, 0, 0, frame, 0, 0, GW, GH);
      break;
    case 1:
      gamen.Fill(0);
      StretchBlt(gamen, left, top, W, H, frame, 0, 0, frame.width, frame.height, kStretchAverage);
      break;
    case 3: {
      const int b = (screenHeight - 960) / 6;
      const int c = static_cast<int>(b * 1.333333);
      int sy = 0, sh = GH, dy = 0, dh = GH;
      if (b < 0) sy = -b / 2, sh = GH + b;
      if (b > 0) dy = b / 2, dh = GH - b;
      int sx = 0, sw = GW, dx = 0, dw = GW;
      if (c < 0) sx = -c / 2, sw = GW + c;
      if (c > 0) dx = c / 2, dw = GW - c;
      gamen.Fill(0);
      if (sw > 0 && sh > 0 && dw > 0 && dh > 0)
        StretchBlt(gamen, dx, dy, dw, dh, frame, sx, sy, sw, sh, kStretchAverage);
      break;
    }
    case 4: {
      gamen.Fill(kDesktopBlue);
      // A one-pixel frame from (left - 1, top - 1) up to, not including, (left + W + 1, top + H +
      // 1).
      FillRect(gamen, left - 1, top - 1, W + 2, 1, buttonFace);
      FillRect(gamen, left - 1, top + H, W + 2, 1, buttonFace);
      FillRect(gamen, left - 1, top - 1, 1, H + 2, buttonFace);
      FillRect(gamen, left + W, top - 1, 1, H + 2, buttonFace);
      StretchBlt(gamen, left, top, W, H, frame, 0, 0, frame.width, frame.height, kStretchAverage);
      break;
    }
    default:
      return;
  }
  if (!warning || badge.Empty()) return;
  if (mode == kDspWindowMode) {
    const int x0 = GW / 2 + W / 2 - 4, y0 = GH / 2 + H / 2 - 2;
    StretchBlt(gamen, x0, y0, 4, 2, badge, 0, 0, badge.width, badge.height, kStretchAverage);
  } else {
    StretchBlt(gamen, 97, 75, 7, 3, badge, 0, 0, badge.width, badge.height, kStretchAverage);
  }
}

// ---- Caption sample ----

namespace {

// Short title texts shown in turn in the caption sample.
constexpr const char* kCaptionSamples[kCaptionSampleCount] = {
    "夜明けの駅にて", "星降る丘の物語", "Ondrelix 劇場", "海辺の約束", "風のたより", "また明日",
};

}  // namespace

const char* CaptionSampleText(int index) {
  if (index < 0 || index >= kCaptionSampleCount) return "";
  return kCaptionSamples[index];
}

void DrawCaptionSample(FontRaster& raster, Bitmap32& work, Bitmap32& sample,
                       const std::string& face, bool bold, int renderScale, int* index) {
  const int scale = renderScale == 2 ? 2 : 1;
  if (*index < 0 || *index >= kCaptionSampleCount) *index = 0;
  if (work.width != kCaptionSampleWidth * scale || work.height != kCaptionSampleHeight * scale)
    work.Create(kCaptionSampleWidth * scale, kCaptionSampleHeight * scale);
  if (sample.width != kCaptionSampleWidth || sample.height != kCaptionSampleHeight)
    sample.Create(kCaptionSampleWidth, kCaptionSampleHeight);
  work.Fill(0);
  FontSpec spec;
  spec.face = face;
  spec.height = kCaptionFontHeight * scale;
  spec.bold = bold;
  raster.Draw32(work, 3, 2, spec, Utf8ToCp932(CaptionSampleText(*index)), 0xFFFFFF);
  if (scale == 2) {
    StretchBlt(sample, 0, 0, sample.width, sample.height, work, 0, 0, work.width, work.height,
               kStretchAverage);
  } else {
    CopyRect(sample, 0, 0, work, 0, 0, work.width, work.height);
  }
}

std::vector<std::string> CaptionFaces(const std::vector<std::string>& families) {
  std::vector<std::string> out;
  for (const std::string& f : families) {
    if (f.empty() || f[0] == '@' || f[0] == '$') continue;
    out.push_back(f);
  }
  return out;
}

CaptionFaceChoice ChooseCaptionFace(const std::vector<std::string>& faces,
                                    const std::string& stored, const std::string& drawnWith) {
  if (faces.empty()) return {};
  auto find = [&](const std::string& name) {
    for (std::size_t i = 0; i < faces.size(); ++i)
      if (EqualsNoCase(faces[i], name)) return static_cast<int>(i);
    return -1;
  };
  const int named = find(stored);
  if (named >= 0) return {named, faces[static_cast<std::size_t>(named)]};
  const int drawn = drawnWith.empty() ? -1 : find(drawnWith);
  if (drawn >= 0) return {drawn, stored};
  return {0, faces[0]};
}

// ---- About page ----

void WriteCreditsVersion(FontRaster& raster, Bitmap32& credits, const std::string& text) {
  FontSpec spec;
  spec.face = kDefaultCptFont;
  spec.height = 12;
  const std::string sjis = Utf8ToCp932(text);
  const int w = raster.TextWidth(spec, sjis);
  raster.Draw32(credits, credits.width / 2 - w / 2, 220, spec, sjis, 0xFFFFFF);
}

void AboutAnimation::Step(Bitmap32& out) {
  const Bitmap32& scene = *scene_;
  out.Create(scene.width, scene.height, 0);
  const Bitmap32& credits = *credits_;
  if (!credits.Empty()) {
    OrRect(out, 45, 0, credits, 0, ScrollOffset, credits.width, scene.height);
    if (++ScrollOffset >= credits.height) ScrollOffset = 0;
  }
  MaskBlit(out, 0, 0, scene, 0, 0, scene.width, scene.height, 0x000000);

  // The head: an averaged picture, cut out by a mask stretched without averaging, so that the
  // blended edge colours never let the flat background show through.
  const Bitmap32& sprite = *sprite_;
  const int w = static_cast<int>(62 * ZoomFactor), h = static_cast<int>(71 * ZoomFactor);
  if (sprite.Empty() || w <= 0 || h <= 0) return;
  Bitmap32 picture, mask;
  picture.Create(w, h);
  mask.Create(w, h);
  StretchBlt(picture, 0, 0, w, h, sprite, 0, 0, sprite.width, sprite.height, kStretchAverage);
  StretchBlt(mask, 0, 0, w, h, sprite, 0, 0, sprite.width, sprite.height, kStretchDrop);
  const int x0 = 187 - static_cast<int>(ZoomFactor * 31);
  const int y0 = 55 - static_cast<int>(ZoomFactor * 54);
  for (int y = 0; y < h; ++y) {
    const int oy = y0 + y;
    if (oy < 0 || oy >= out.height) continue;
    const std::uint32_t* m = mask.Row(y);
    const std::uint32_t* p = picture.Row(y);
    std::uint32_t* d = out.Row(oy);
    for (int x = 0; x < w; ++x) {
      const int ox = x0 + x;
      if (ox < 0 || ox >= out.width || (m[x] & 0xFFFFFF) == kDodonKey) continue;
      d[ox] = p[x];
    }
  }
}

void AboutAnimation::Zoom(bool held) {
  if (held) {
    if (ZoomFactor <= 1.3) ZoomFactor += 0.02;
  } else if (ZoomFactor > 0.2) {
    ZoomFactor -= 0.02;
  }
}

// ---- Folder paths ----

std::string NormaliseFolder(const std::string& text, const std::string& cwd) {
  std::string path = text + "/";
  if (path[0] != '/') path = cwd + "/" + path;
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    const std::string seg = path.substr(i, j - i);
    i = j + 1;
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(seg);
  }
  if (parts.empty()) return "/";
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out;
}

namespace {

// Removes the first folder of `dir` (a folder part ending with "/").
void CutFirstFolder(std::string& dir) {
  if (dir == "/") {
    dir.clear();
    return;
  }
  const bool rooted = !dir.empty() && dir[0] == '/';
  if (rooted) dir.erase(0, 1);
  // Only a ".../" left by an earlier cut is skipped whole; a hidden folder such as ".config/" is
  // an ordinary folder and goes like any other.
  if (dir.compare(0, 4, ".../") == 0) dir.erase(0, 4);
  const std::size_t slash = dir.find('/');
  if (slash != std::string::npos) {
    dir = ".../" + dir.substr(slash + 1);
  } else {
    dir.clear();
  }
  if (rooted) dir = "/" + dir;
}

}  // namespace

std::string ShortenPath(const std::string& path, int maxWidth,
                        const std::function<int(const std::string&)>& width) {
  std::string result = path;
  const std::size_t cut = path.rfind('/');
  std::string dir = cut == std::string::npos ? "" : path.substr(0, cut + 1);
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  while (!dir.empty() && width(result) > maxWidth) {
    if (dir == "/.../") {
      dir = ".../";
    } else {
      CutFirstFolder(dir);
    }
    result = dir + name;
  }
  return result;
}

// ---- Small state machines ----

bool SignatureClicks::Click(bool* groupLine) {
  bool reveal = false;
  if (Counter == 20) {
    reveal = true;
    Counter = 0;
  }
  if (groupLine) *groupLine = (Counter % 2) == 1;
  ++Counter;
  return reveal;
}

int HelpSlide::Tick(int top, int period) {
  if (!Active) return top;
  if (++count_ <= period) return top;
  count_ = 0;
  if (Up) {
    if (top > kHiddenTop) return top - 24;
    Active = false;
    Up = false;
    return top;
  }
  return top < kShownTop ? top + 4 : top;
}

void ApplyScriptList(CMainCtl& settings, const std::vector<std::int32_t>& identities,
                     const std::vector<bool>& checked) {
  settings.NoExeClear();
  const std::size_t n = std::min(identities.size(), checked.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!checked[i]) settings.NoExeAdd(identities[i]);
  }
}
