// A decodebin pipeline into an application sink, pulled as fast as the decoder goes.
#include "shell/platform/GstMusicDecoder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>

namespace {

// How long one wait for the next decoded buffer lasts before the bus is read for errors.
constexpr GstClockTime kPullWait = 100 * GST_MSECOND;

}  // namespace

std::string GstErrorText(GstMessage* message) {
  GError* err = nullptr;
  gst_message_parse_error(message, &err, nullptr);
  std::string text = err ? err->message : "unknown error";
  if (err) g_error_free(err);
  return text;
}

bool PopGstError(GstElement* pipeline, std::string* error) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (!msg) return false;
  *error = GstErrorText(msg);
  gst_message_unref(msg);
  return true;
}

bool StartGstreamer(std::string* error) {
  GError* err = nullptr;
  if (gst_init_check(nullptr, nullptr, &err)) return true;
  *error = std::string("GStreamer cannot start: ") + (err ? err->message : "unknown error");
  if (err) g_error_free(err);
  return false;
}

int GstMusicDecoder::Decode(const std::string& path, std::vector<std::int16_t>* samples) {
  samples->clear();
  error_.clear();
  if (!StartGstreamer(&error_)) return -1;
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(
      "filesrc name=src ! decodebin ! audioconvert ! audioresample ! "
      "audio/x-raw,format=S16LE,rate=44100,channels=2,layout=interleaved ! "
      "appsink name=sink sync=false",
      &err);
  if (!pipeline) {
    error_ = err ? err->message : "cannot make a decoder";
    if (err) g_error_free(err);
    return -1;
  }
  if (err) g_error_free(err);  // a missing element is reported by the state change below
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_object_set(src, "location", path.c_str(), nullptr);

  const size_t maxValues = static_cast<size_t>(maxSeconds_) * kTrackRate * kTrackChannels;
  int result = 0;
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    if (!PopGstError(pipeline, &error_)) error_ = "cannot play " + path;
    result = -1;
  }
  while (result == 0 && samples->size() < maxValues) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kPullWait);
    if (!sample) {
      if (PopGstError(pipeline, &error_)) result = -1;
      if (gst_app_sink_is_eos(GST_APP_SINK(sink))) break;
      continue;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const size_t n = std::min(map.size / sizeof(std::int16_t), maxValues - samples->size());
      const size_t at = samples->size();
      samples->resize(at + n);
      std::memcpy(samples->data() + at, map.data, n * sizeof(std::int16_t));
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(src);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  if (result != 0) {
    error_ = path + ": " + error_;
    samples->clear();
  }
  return result;
}
