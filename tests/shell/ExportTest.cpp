// The real program exports a short show, and the file is decoded back with GStreamer: its
// length, its frames (each tick's picture, compared with --render's), its sound track; a missing
// encoder package, Ctrl-C and the music decoder for every format the saver plays.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "shell/platform/GstMusicDecoder.h"
#include "tests/shell/MediaFiles.h"
#include "tests/shell/TestProgram.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using shelltest::TestProgram;

namespace {

constexpr int kTick = 33;
constexpr int kShowTicks = 61;  // 2 s: ticks 0 to 60
// Where the colour that names each tick is measured: the stage's left edge, clear of the picture.
constexpr int kProbeX = 8, kProbeY = 130, kProbeW = 64, kProbeH = 40;

// Each tick's background colour: a point of a 4 x 4 x 4 grid of levels 58 apart, so that a
// decoded frame names its tick even with an error of 28 levels.
void TickColour(int i, int rgb[3]) {
  rgb[0] = 40 + 58 * (i % 4);
  rgb[1] = 40 + 58 * (i / 4 % 4);
  rgb[2] = 40 + 58 * (i / 16 % 4);
}

// What was decoded from a video file.
struct Decoded {
  GstElement* pipeline = nullptr;
  std::mutex lock;
  int width = 0, height = 0;
  std::vector<std::array<double, 3>> probe;  // mean colour of the probe area, per frame
  int keepFrame = -1;
  std::vector<std::uint8_t> kept;  // that frame, BGRx
  std::vector<std::int16_t> audio;  // 44 100 Hz stereo
  bool audioStream = false;
  std::string error;
};

GstFlowReturn OnVideo(GstAppSink* sink, gpointer data) {
  auto* d = static_cast<Decoded*>(data);
  GstSample* s = gst_app_sink_pull_sample(sink);
  GstVideoInfo info;
  gst_video_info_from_caps(&info, gst_sample_get_caps(s));
  GstMapInfo map;
  gst_buffer_map(gst_sample_get_buffer(s), &map, GST_MAP_READ);
  std::lock_guard<std::mutex> g(d->lock);
  d->width = GST_VIDEO_INFO_WIDTH(&info);
  d->height = GST_VIDEO_INFO_HEIGHT(&info);
  const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  std::array<double, 3> mean{};
  for (int y = kProbeY; y < kProbeY + kProbeH; ++y)
    for (int x = kProbeX; x < kProbeX + kProbeW; ++x)
      for (int c = 0; c < 3; ++c) mean[c] += map.data[y * stride + x * 4 + 2 - c];
  for (double& m : mean) m /= kProbeW * kProbeH;
  if (static_cast<int>(d->probe.size()) == d->keepFrame) {
    d->kept.resize(static_cast<size_t>(d->width) * d->height * 4);
    for (int y = 0; y < d->height; ++y)
      std::memcpy(d->kept.data() + y * d->width * 4, map.data + y * stride, d->width * 4);
  }
  d->probe.push_back(mean);
  gst_buffer_unmap(gst_sample_get_buffer(s), &map);
  gst_sample_unref(s);
  return GST_FLOW_OK;
}

GstFlowReturn OnAudio(GstAppSink* sink, gpointer data) {
  auto* d = static_cast<Decoded*>(data);
  GstSample* s = gst_app_sink_pull_sample(sink);
  GstMapInfo map;
  gst_buffer_map(gst_sample_get_buffer(s), &map, GST_MAP_READ);
  std::lock_guard<std::mutex> g(d->lock);
  const auto* v = reinterpret_cast<const std::int16_t*>(map.data);
  d->audio.insert(d->audio.end(), v, v + map.size / 2);
  gst_buffer_unmap(gst_sample_get_buffer(s), &map);
  gst_sample_unref(s);
  return GST_FLOW_OK;
}

// A branch for each stream decodebin finds: BGRx pictures or 44 100 Hz stereo samples.
void OnPad(GstElement*, GstPad* pad, gpointer data) {
  auto* d = static_cast<Decoded*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  const std::string kind = gst_structure_get_name(gst_caps_get_structure(caps, 0));
  gst_caps_unref(caps);
  const bool video = kind.rfind("video/", 0) == 0;
  if (!video) d->audioStream = true;
  GError* err = nullptr;
  GstElement* branch = gst_parse_bin_from_description(
      video ? "videoconvert ! video/x-raw,format=BGRx ! appsink name=s sync=false"
            : "audioconvert ! audioresample ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
              "appsink name=s sync=false",
      TRUE, &err);
  gst_bin_add(GST_BIN(d->pipeline), branch);
  GstElement* sink = gst_bin_get_by_name(GST_BIN(branch), "s");
  GstAppSinkCallbacks cb{};
  cb.new_sample = video ? OnVideo : OnAudio;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &cb, d, nullptr);
  gst_object_unref(sink);
  GstPad* in = gst_element_get_static_pad(branch, "sink");
  gst_pad_link(pad, in);
  gst_object_unref(in);
  gst_element_sync_state_with_parent(branch);
}

void Decode(const std::string& path, Decoded* d) {
  GstElement* pipeline = gst_pipeline_new("decode");
  d->pipeline = pipeline;
  GstElement* src = gst_element_factory_make("filesrc", nullptr);
  GstElement* dec = gst_element_factory_make("decodebin", nullptr);
  g_object_set(src, "location", path.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(pipeline), src, dec, nullptr);
  gst_element_link(src, dec);
  g_signal_connect(dec, "pad-added", G_CALLBACK(OnPad), d);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg = gst_bus_timed_pop_filtered(
      bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  if (!msg) d->error = "no end of stream within 60 s";
  if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) d->error = GstErrorText(msg);
  if (msg) gst_message_unref(msg);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

// The container's own idea of the length and its streams.
struct Discovered {
  std::string error;
  GstClockTime duration = 0;
  int audioStreams = 0;
  int videoStreams = 0;
};

Discovered Discover(const std::string& path) {
  Discovered out;
  GstDiscoverer* disc = gst_discoverer_new(30 * GST_SECOND, nullptr);
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  GError* err = nullptr;
  GstDiscovererInfo* info = gst_discoverer_discover_uri(disc, uri, &err);
  g_free(uri);
  if (err) {
    out.error = err->message;
    g_error_free(err);
  }
  if (info && gst_discoverer_info_get_result(info) != GST_DISCOVERER_OK && out.error.empty())
    out.error = "discoverer result " + std::to_string(gst_discoverer_info_get_result(info));
  if (info) {
    out.duration = gst_discoverer_info_get_duration(info);
    GList* a = gst_discoverer_info_get_audio_streams(info);
    GList* v = gst_discoverer_info_get_video_streams(info);
    out.audioStreams = static_cast<int>(g_list_length(a));
    out.videoStreams = static_cast<int>(g_list_length(v));
    gst_discoverer_stream_info_list_free(a);
    gst_discoverer_stream_info_list_free(v);
    gst_discoverer_info_unref(info);
  }
  g_object_unref(disc);
  return out;
}

// Root mean square of the track between two times, as a share of full scale.
double Rms(const std::vector<std::int16_t>& a, int fromMs, int toMs) {
  const size_t from = static_cast<size_t>(fromMs) * 441 / 10 * 2;
  const size_t to = std::min(a.size(), static_cast<size_t>(toMs) * 441 / 10 * 2);
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(a[i]) * a[i];
  return to > from ? std::sqrt(sum / double(to - from)) / 32768.0 : -1;
}

struct ExportShow : ::testing::Test {
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(StartGstreamer(&error)) << error;
    temp = std::make_unique<TempFolder>();
    dir = temp->path();
    ASSERT_TRUE(testmedia::WriteWav(dir + "/tone.wav", 3000));
    fs::copy_file(ONDRELIX_SOURCE_DIR "/examples/gallery/lake.jpg", dir + "/lake.jpg");
    // Show 1: a new background colour on every tick, a picture and a caption over it, and the
    // tone from 0.5 s (tick 15) to 1.5 s (tick 45). Show 2: the same without music.
    std::string ticks;
    for (int i = 0; i < kShowTicks; ++i) {
      int c[3];
      TickColour(i, c);
      char tag[96];
      std::snprintf(tag, sizeof tag, "<CLOCK SET=\"%d.%03d\"><SOLID COLOR=\"#%02X%02X%02X\">",
                    (i * kTick + 16) / 1000, (i * kTick + 16) % 1000, c[0], c[1], c[2]);
      ticks += tag;
    }
    const std::string body =
        "<IMAGE FILE=\"lake.jpg\" XPOS=\"60\" TIME=\"2\">"
        "<CAPTION TIME=\"2\">Exported caption</CAPTION>" +
        ticks;
    std::ofstream(dir + "/script_x.txt")
        << "<DATA TITLE=\"music\" VERSION=\"1.1\"><CLOCK SET=\"0.5\">"
           "<BGM FILE=\"tone.wav\" MODE=\"START\"><CLOCK SET=\"1.5\">"
           "<BGM FILE=\"tone.wav\" MODE=\"STOP\"><CLOCK SET=\"0\">"
        << body << "</DATA>\n<DATA TITLE=\"quiet\" VERSION=\"1.1\">" << body << "</DATA>\n";
  }
  static void TearDownTestSuite() { temp.reset(); }

  // Runs the program to its end: the exit status, stderr into `err`.
  static int Run(const std::vector<std::string>& args, std::string* err = nullptr,
                 const std::vector<std::string>& env = {}) {
    TestProgram p;
    const std::string errFile = dir + "/stderr.txt";
    EXPECT_TRUE(p.Start(args, env, {}, errFile));
    int status = -1;
    EXPECT_TRUE(p.Wait(&status, 120000)) << "the export did not end";
    std::ifstream in(errFile);
    if (err) err->assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }

  // Frames, length and sound of an exported file, as every test checks them.
  static void CheckFile(const std::string& file, bool music, Decoded* d) {
    const Discovered info = Discover(file);
    EXPECT_EQ(info.error, "");
    EXPECT_EQ(info.videoStreams, 1);
    EXPECT_EQ(info.audioStreams, music ? 1 : 0);
    EXPECT_NEAR(static_cast<double>(info.duration / GST_MSECOND), kShowTicks * kTick, kTick);
    Decode(file, d);
    ASSERT_EQ(d->error, "");
    ASSERT_EQ(d->probe.size(), static_cast<size_t>(kShowTicks));
    EXPECT_EQ(d->audioStream, music);
    // Frame i is tick i: of all the ticks' background colours its own is the nearest (the
    // codec's error on this flat area, measured up to 10 levels for VP8 whose every frame
    // changes colour, stays far below the 29 that would confuse two).
    for (int i = 0; i < kShowTicks; ++i) {
      int nearest = -1;
      double best = 1e9;
      for (int t = 0; t < kShowTicks; ++t) {
        int c[3];
        TickColour(t, c);
        double dist = 0;
        for (int k = 0; k < 3; ++k) dist = std::max(dist, std::abs(d->probe[i][k] - c[k]));
        if (dist < best) best = dist, nearest = t;
      }
      EXPECT_EQ(nearest, i) << "frame " << i << " is " << best << " levels from its colour";
    }
    if (!music) return;
    // The tone plays from tick 15 (495 ms) to tick 45 (1485 ms), silence around it. The margins
    // leave room for the encoder's framing (an AAC frame is 23 ms).
    EXPECT_LT(Rms(d->audio, 30, 440), 0.005);
    EXPECT_GT(Rms(d->audio, 560, 1420), 0.12);  // the tone's level: 8000 / 32768 / sqrt(2)
    EXPECT_LT(Rms(d->audio, 1560, 1990), 0.005);
  }

  static std::unique_ptr<TempFolder> temp;
  static std::string dir;
};
std::unique_ptr<TempFolder> ExportShow::temp;
std::string ExportShow::dir;

// --render's picture of a tick, RGB.
std::vector<std::uint8_t> RenderedTick(const std::string& dir, int tick) {
  char name[32];
  std::snprintf(name, sizeof name, "/tick_%05d.png", tick);
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, (dir + name).c_str())) return {};
  img.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) return {};
  return rgb;
}

TEST_F(ExportShow, WebmHoldsEveryTickAsRenderedWithTheMusicAtItsTimes) {
  const std::string out = dir + "/show.webm";
  std::string err;
  ASSERT_EQ(Run({"--export", out, dir + "/script_x.txt"}, &err), 0) << err;
  EXPECT_EQ(err, "");  // no progress bar when stderr is no terminal
  Decoded d;
  d.keepFrame = 40;
  CheckFile(out, true, &d);
  ASSERT_EQ(d.width, 640);
  ASSERT_EQ(d.height, 480);

  // The whole frame of tick 40 against --render's picture of that tick: the mean absolute
  // difference per channel stays within what 4:2:0 colour and lossy coding cost on this
  // picture, a photograph, text and flat colour (measured 1.7, 1.5 and 3.3 levels of 255 for
  // red, green and blue with the encoder at its fastest setting, 1.3, 2.2 and 1.8 at a slower
  // one; the bound of 5 leaves half as much again). The picture of the tick before,
  // whose background is 174 and 58 levels off in red and green, is 64 and 20 away: far above.
  ASSERT_EQ(Run({"--render", dir + "/script_x.txt", "--out", dir + "/png", "--ticks", "39-40"}), 0);
  for (int tick : {40, 39}) {
    const std::vector<std::uint8_t> png = RenderedTick(dir + "/png", tick);
    ASSERT_EQ(png.size(), 640u * 480u * 3u);
    double diff[3] = {};
    for (size_t p = 0; p < 640u * 480u; ++p)
      for (int c = 0; c < 3; ++c) diff[c] += std::abs(int(png[p * 3 + c]) - int(d.kept[p * 4 + 2 - c]));
    for (int c = 0; c < 3; ++c) {
      diff[c] /= 640.0 * 480.0;
      if (tick == 40) {
        EXPECT_LT(diff[c], 5.0) << "channel " << c;
      }
    }
    if (tick == 39) {
      EXPECT_GT(std::max({diff[0], diff[1], diff[2]}), 5.0);
    }
  }
  fs::remove_all(dir + "/png");
  fs::remove(out);
}

TEST_F(ExportShow, Mp4AndAShowWithoutMusic) {
  GstElementFactory* x264 = gst_element_factory_find("x264enc");
  if (!x264) GTEST_SKIP() << "x264enc (gstreamer1.0-plugins-ugly) is not installed";
  gst_object_unref(x264);
  const std::string out = dir + "/show.mp4";
  std::string err;
  ASSERT_EQ(Run({"--export", out, dir + "/script_x.txt"}, &err), 0) << err;
  Decoded d;
  CheckFile(out, true, &d);
  ASSERT_EQ(Run({"--export", out, dir + "/script_x.txt", "--script", "2"}, &err), 0) << err;
  Decoded quiet;
  CheckFile(out, false, &quiet);
  fs::remove(out);
}

TEST_F(ExportShow, AMissingEncoderNamesItsPackageAndWritesNothing) {
  // A plugin folder with all that the pipelines need but the encoders and muxers.
  const std::string plugins = dir + "/plugins";
  fs::create_directory(plugins);
  const std::string system = "/usr/lib/x86_64-linux-gnu/gstreamer-1.0/";
  for (const char* p : {"libgstcoreelements.so", "libgstapp.so", "libgstvideoconvertscale.so",
                        "libgstaudioconvert.so"}) {
    ASSERT_TRUE(fs::exists(system + p)) << p;
    fs::create_symlink(system + p, plugins + "/" + p);
  }
  const std::vector<std::string> env = {"GST_PLUGIN_SYSTEM_PATH_1_0=" + plugins,
                                        "GST_PLUGIN_PATH_1_0=", "GST_REGISTRY_1_0=" + dir +
                                                                    "/registry.bin"};
  std::string err;
  EXPECT_EQ(Run({"--export", dir + "/a.mp4", dir + "/script_x.txt"}, &err, env), 1);
  EXPECT_NE(err.find("x264enc: install Debian's package gstreamer1.0-plugins-ugly"),
            std::string::npos)
      << err;
  EXPECT_EQ(Run({"--export", dir + "/a.webm", dir + "/script_x.txt"}, &err, env), 1);
  EXPECT_NE(err.find("vp8enc: install Debian's package gstreamer1.0-plugins-good"),
            std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(dir + "/a.mp4"));
  EXPECT_FALSE(fs::exists(dir + "/a.webm"));
  fs::remove_all(plugins);
  fs::remove(dir + "/registry.bin");
}

TEST_F(ExportShow, CtrlCStopsAndRemovesThePartialFile) {
  // A show of ten minutes: far longer than the test waits.
  const std::string show = dir + "/long/script_long.txt";
  fs::create_directories(dir + "/long");
  std::ofstream(show) << "<DATA TITLE=\"long\" VERSION=\"1.1\"><SOLID COLOR=\"RED\">"
                         "<IMAGE STRING=\"long\" TIME=\"600\"><SET START=\"0\" TIME=\"600\" "
                         "XPOS=\"3000\"></IMAGE></DATA>\n";
  TestProgram p;
  ASSERT_TRUE(p.Start({"--export", dir + "/long/long.webm", show}, {}, {}, dir + "/long/err"));
  // Wait until the partial file has pictures in it.
  bool writing = false;
  for (int i = 0; i < 2000 && !writing; ++i) {
    for (const auto& e : fs::directory_iterator(dir + "/long"))
      writing = writing || (e.path().filename().string().rfind(".long.webm.part-", 0) == 0 &&
                            fs::file_size(e.path()) > 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(writing);
  p.Signal(SIGINT);
  int status = -1;
  ASSERT_TRUE(p.Wait(&status, 20000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << shelltest::Ended(status);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir + "/long"))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"err", "script_long.txt"}));
}

TEST(ExportMusic, WavMp3AndMidiDecodeIntoTheTrackFormat) {
  TempFolder temp;
  const std::string& dir = temp.path();
  ASSERT_TRUE(testmedia::WriteWav(dir + "/a.wav", 700));
  ASSERT_TRUE(testmedia::WriteMp3(dir + "/a.mp3", 700));
  ASSERT_TRUE(testmedia::WriteMidi(dir + "/a.mid", 700));
  ASSERT_TRUE(testmedia::WriteBytes(dir + "/bad.mid", "MThd not really"));
  GstMusicDecoder decoder;
  std::vector<std::int16_t> s;
  ASSERT_EQ(decoder.Decode(dir + "/a.wav", &s), 0) << decoder.Error();
  EXPECT_EQ(s.size(), 44100u * 700 / 1000 * 2);
  EXPECT_GT(Rms(s, 0, 700), 0.12);
  ASSERT_EQ(decoder.Decode(dir + "/a.mp3", &s), 0) << decoder.Error();
  EXPECT_NEAR(s.size() / 2 / 44.1, 700, 60);  // whole MP3 frames of 26 ms
  ASSERT_EQ(decoder.Decode(dir + "/a.mid", &s), 0) << decoder.Error();
  EXPECT_GT(s.size() / 2 / 44.1, 400);
  EXPECT_GT(Rms(s, 0, 400), 0.001);  // the synthesiser plays the notes
  EXPECT_EQ(decoder.Decode(dir + "/bad.mid", &s), -1);
  EXPECT_EQ(decoder.Decode(dir + "/none.wav", &s), -1);
  EXPECT_TRUE(s.empty());
  GstMusicDecoder shortOne(/*maxSeconds=*/0);
  ASSERT_EQ(shortOne.Decode(dir + "/a.wav", &s), 0);
  EXPECT_TRUE(s.empty());  // cut at its limit
}

}  // namespace
