// A playbin for sound only, read from the caller's thread.
#include "shell/platform/GstMusicPlayer.h"

#include <gst/gst.h>

#include "shell/platform/GstMusicDecoder.h"

namespace {

// playbin's flags: decode the sound and let playbin set its volume; no video, no subtitles.
constexpr unsigned kPlayAudio = 0x02;
constexpr unsigned kPlaySoftVolume = 0x10;

}  // namespace

int GstMusicPlayer::Start(const std::string& path, bool sound) {
  Close();
  error_.clear();
  if (!StartGstreamer(&error_)) return -1;
  pipeline_ = gst_element_factory_make("playbin", nullptr);
  if (!pipeline_) {
    error_ = "GStreamer has no playbin";
    return -1;
  }
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  g_object_set(pipeline_, "uri", uri ? uri : "", "flags", kPlayAudio | kPlaySoftVolume, nullptr);
  g_free(uri);
  if (!sound) {
    // A sink that drops the sound on the clock: the music still takes its own time to end.
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink) {
      g_object_set(sink, "sync", TRUE, nullptr);
      g_object_set(pipeline_, "audio-sink", sink, nullptr);
    }
  }
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    ReadBus();
    if (error_.empty()) error_ = "cannot open " + path;
    return -1;
  }
  return 0;
}

int GstMusicPlayer::WaitLoaded(int ms) {
  if (!pipeline_) return -1;
  GstState state = GST_STATE_NULL;
  const GstStateChangeReturn r = gst_element_get_state(
      pipeline_, &state, nullptr, static_cast<GstClockTime>(ms > 0 ? ms : 0) * GST_MSECOND);
  if (r == GST_STATE_CHANGE_FAILURE) {
    ReadBus();
    if (error_.empty()) error_ = "the file cannot be played";
    return -1;
  }
  if (r == GST_STATE_CHANGE_ASYNC) return 0;
  return state >= GST_STATE_PAUSED ? 1 : 0;
}

long long GstMusicPlayer::LengthMs() const {
  gint64 ns = 0;
  if (!pipeline_ || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) || ns <= 0) {
    return 0;
  }
  return ns / GST_MSECOND;
}

int GstMusicPlayer::Play() {
  if (!pipeline_) return -1;
  ended_ = false;
  if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    ReadBus();
    running_ = false;
    return -1;
  }
  running_ = true;
  return 0;
}

// Ready drops the decoded data and the position; Play prerolls again from the start.
void GstMusicPlayer::Stop() {
  running_ = false;
  if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_READY);
}

void GstMusicPlayer::Close() {
  running_ = false;
  ended_ = false;
  if (!pipeline_) return;
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  gst_object_unref(pipeline_);
  pipeline_ = nullptr;
}

bool GstMusicPlayer::Running() {
  if (!running_) return false;
  ReadBus();
  return !ended_;
}

void GstMusicPlayer::ReadBus() {
  if (!pipeline_) return;
  GstBus* bus = gst_element_get_bus(pipeline_);
  const auto kinds = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
  while (GstMessage* msg = gst_bus_pop_filtered(bus, kinds)) {
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) error_ = GstErrorText(msg);
    ended_ = true;
    gst_message_unref(msg);
  }
  gst_object_unref(bus);
}
