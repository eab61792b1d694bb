// A playbin read from the caller's thread; a movie's frames go out through an application sink.
#include "shell/platform/GstMediaPlayer.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include "shell/platform/GstMusicDecoder.h"

namespace {

// playbin's flags: video and sound; never subtitles, and not playbin's own volume stage, which
// nothing here sets (the sound plays at its own level) and which kept about 5 kB of every
// pipeline after it closed: a saver that opens a file for every show for days must get back all
// that an opening takes.
constexpr unsigned kPlayVideo = 0x01;
constexpr unsigned kPlayAudio = 0x02;

// A sink that drops what it gets on the clock, so the media still takes its own time to end.
GstElement* ClockedNullSink() {
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (sink) g_object_set(sink, "sync", TRUE, nullptr);
  return sink;
}

void HandOver(GstSample* sample, GstMediaPlayer::FrameSink* frames) {
  if (!sample) return;
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
  int w = 0, h = 0;
  GstMapInfo map;
  if (s && buffer && gst_structure_get_int(s, "width", &w) &&
      gst_structure_get_int(s, "height", &h) && w > 0 && h > 0 &&
      gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    // BGRx rows are 4-byte aligned already: the stride is the width's bytes.
    if (map.size >= static_cast<gsize>(w) * h * 4) (*frames)(map.data, w, h, w * 4);
    gst_buffer_unmap(buffer, &map);
  }
  gst_sample_unref(sample);
}

GstFlowReturn NewSample(GstAppSink* sink, gpointer frames) {
  HandOver(gst_app_sink_pull_sample(sink), static_cast<GstMediaPlayer::FrameSink*>(frames));
  return GST_FLOW_OK;
}

GstFlowReturn NewPreroll(GstAppSink* sink, gpointer frames) {
  HandOver(gst_app_sink_pull_preroll(sink), static_cast<GstMediaPlayer::FrameSink*>(frames));
  return GST_FLOW_OK;
}

GstElement* FrameSinkElement(GstMediaPlayer::FrameSink* frames) {
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (!sink) return nullptr;
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
  g_object_set(sink, "caps", caps, "max-buffers", 2, "drop", TRUE, nullptr);
  gst_caps_unref(caps);
  GstAppSinkCallbacks callbacks = {};
  callbacks.new_sample = NewSample;
  callbacks.new_preroll = NewPreroll;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, frames, nullptr);
  return sink;
}

}  // namespace

int GstMediaPlayer::Start(const std::string& path, bool sound, FrameSink frames) {
  Close();
  error_.clear();
  if (!StartGstreamer(&error_)) return -1;
  pipeline_ = gst_element_factory_make("playbin", nullptr);
  if (!pipeline_) {
    error_ = "GStreamer has no playbin";
    return -1;
  }
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  g_object_set(pipeline_, "uri", uri ? uri : "", nullptr);
  g_free(uri);
  unsigned flags = kPlayAudio;
  if (frames) {
    frames_ = new FrameSink(std::move(frames));
    videoSink_ = FrameSinkElement(frames_);
    if (videoSink_) {
      g_object_set(pipeline_, "video-sink", videoSink_, nullptr);
      flags |= kPlayVideo;
    }
  }
  g_object_set(pipeline_, "flags", flags, nullptr);
  if (!sound) {
    if (GstElement* sink = ClockedNullSink()) g_object_set(pipeline_, "audio-sink", sink, nullptr);
  }
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    ReadBus();
    if (error_.empty()) error_ = "cannot open " + path;
    Close();
    return -1;
  }
  return 0;
}

int GstMediaPlayer::WaitLoaded(int ms) {
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

long long GstMediaPlayer::LengthMs() const {
  gint64 ns = 0;
  if (!pipeline_ || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) || ns <= 0) {
    return 0;
  }
  return ns / GST_MSECOND;
}

// The size the video sink agreed on while loading; no agreement means no video that decodes.
bool GstMediaPlayer::VideoSize(int* width, int* height) const {
  if (!videoSink_) return false;
  GstPad* pad = gst_element_get_static_pad(videoSink_, "sink");
  GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
  int w = 0, h = 0;
  const bool known = caps && gst_structure_get_int(gst_caps_get_structure(caps, 0), "width", &w) &&
                     gst_structure_get_int(gst_caps_get_structure(caps, 0), "height", &h) &&
                     w > 0 && h > 0;
  if (caps) gst_caps_unref(caps);
  if (pad) gst_object_unref(pad);
  if (!known) return false;
  *width = w;
  *height = h;
  return true;
}

int GstMediaPlayer::Play() {
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

// Ready drops the decoded data and the position; Play loads again from the start.
void GstMediaPlayer::Stop() {
  running_ = false;
  if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_READY);
}

// Going to the null state joins the streaming threads, so no frame is handed over afterwards.
void GstMediaPlayer::Close() {
  running_ = false;
  ended_ = false;
  if (pipeline_) {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }
  pipeline_ = nullptr;
  videoSink_ = nullptr;
  delete frames_;
  frames_ = nullptr;
}

bool GstMediaPlayer::Running() {
  if (!running_) return false;
  ReadBus();
  return !ended_;
}

void GstMediaPlayer::ReadBus() {
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
