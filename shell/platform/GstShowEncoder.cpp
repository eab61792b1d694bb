// Pictures and sound pushed into application sources; the pipeline converts, encodes and muxes
// them into the file.
#include "shell/platform/GstShowEncoder.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstdio>
#include <iterator>

#include "app/MusicTrack.h"
#include "shell/platform/GstMusicDecoder.h"

namespace {

struct Needed {
  const char* element;
  const char* package;
};

// What each container's pipeline is made of, and the Debian package that brings each element.
constexpr Needed kCommon[] = {
    {"appsrc", "gstreamer1.0-plugins-base"},     {"videoconvert", "gstreamer1.0-plugins-base"},
    {"audioconvert", "gstreamer1.0-plugins-base"}, {"queue", "libgstreamer1.0-0"},
    {"filesink", "libgstreamer1.0-0"},
};
constexpr Needed kWebm[] = {
    {"vp8enc", "gstreamer1.0-plugins-good"},
    {"vorbisenc", "gstreamer1.0-plugins-base"},
    {"webmmux", "gstreamer1.0-plugins-good"},
};
constexpr Needed kMp4[] = {
    {"x264enc", "gstreamer1.0-plugins-ugly"},
    {"avenc_aac", "gstreamer1.0-libav"},
    {"mp4mux", "gstreamer1.0-plugins-good"},
};

// The video may wait in the pipeline's source this many frames ahead of the colour conversion,
// and as many converted frames ahead of the encoder; the exporter is held back while the first
// is full, so a slow encoder never piles up raw pictures. The queue between them gives the
// conversion a thread of its own beside the encoder's.
constexpr int kQueuedFrames = 4;
// Waits for room in that queue, and for the end of the file, read the bus this often.
constexpr GstClockTime kBusWait = 10 * GST_MSECOND;
// Completing the file (the encoders' last frames and the container's index) takes at most this.
constexpr GstClockTime kFinishLimit = 120 * GST_SECOND;
// VP8 bit rate in bits per pixel of each frame: about 1.8 Mbit/s for 640 x 480. The encoder
// runs at its fastest real-time setting (cpu-used 16): about a fifth less processor time than
// setting 4 on the demo shows, at the same look (mean difference from the rendered picture
// 1.5 to 3.2 levels per channel against 1.3 to 2.2).
constexpr double kVp8BitsPerPixel = 0.2;

// An encoded stream waits here for the muxer as long as it must: the muxer may hold one stream
// until the other catches up, and the sources must never block on that.
constexpr const char* kUnboundedQueue = "queue max-size-buffers=0 max-size-bytes=0 max-size-time=0";

std::string PipelineText(const VideoFormat& f) {
  char video[512];
  std::snprintf(video, sizeof video,
                "appsrc name=video format=time caps=video/x-raw,format=BGRx,width=%d,height=%d,"
                "framerate=%d/%d ! videoconvert ! video/x-raw,format=I420 ! "
                "queue max-size-buffers=%d max-size-bytes=0 max-size-time=0 ! ",
                f.width, f.height, f.rateNum, f.rateDen, kQueuedFrames);
  const std::string audioSrc =
      "appsrc name=audio format=time caps=audio/x-raw,format=S16LE,rate=44100,channels=2,"
      "layout=interleaved ! audioconvert ! ";
  std::string text = video;
  if (f.container == "mp4") {
    text += "x264enc speed-preset=veryfast pass=qual quantizer=20 key-int-max=150 ! ";
    text += std::string(kUnboundedQueue) + " ! mp4mux name=mux faststart=true ! filesink name=file";
    if (f.audio) text += " " + audioSrc + "avenc_aac bitrate=160000 ! " + kUnboundedQueue + " ! mux.";
    return text;
  }
  const long bitrate = static_cast<long>(kVp8BitsPerPixel * f.width * f.height * f.rateNum /
                                         f.rateDen);
  char vp8[256];
  std::snprintf(vp8, sizeof vp8,
                "vp8enc deadline=1 cpu-used=16 end-usage=vbr target-bitrate=%ld "
                "keyframe-max-dist=150 ! ",
                bitrate);
  text += vp8;
  text += std::string(kUnboundedQueue) + " ! webmmux name=mux ! filesink name=file";
  if (f.audio) text += " " + audioSrc + "vorbisenc quality=0.5 ! " + kUnboundedQueue + " ! mux.";
  return text;
}

std::string MissingOf(const Needed* list, size_t count, const char* what) {
  for (size_t i = 0; i < count; ++i) {
    GstElementFactory* f = gst_element_factory_find(list[i].element);
    if (f) {
      gst_object_unref(f);
      continue;
    }
    return std::string(what) + " export needs the GStreamer element " + list[i].element +
           ": install Debian's package " + list[i].package;
  }
  return "";
}

}  // namespace

std::string GstShowEncoder::Missing(const std::string& container) {
  std::string error;
  if (!StartGstreamer(&error)) return error;
  std::string missing = MissingOf(kCommon, std::size(kCommon), "video");
  if (!missing.empty()) return missing;
  if (container == "mp4") return MissingOf(kMp4, std::size(kMp4), "MP4");
  return MissingOf(kWebm, std::size(kWebm), "WebM");
}

std::unique_ptr<VideoEncoder> GstShowEncoder::Make(const VideoFormat& format, std::string* error) {
  if (!StartGstreamer(error)) return nullptr;
  std::unique_ptr<GstShowEncoder> e(new GstShowEncoder);
  e->format_ = format;
  GError* err = nullptr;
  e->pipeline_ = gst_parse_launch(PipelineText(format).c_str(), &err);
  if (err) {
    *error = std::string("cannot make the encoder: ") + err->message;
    g_error_free(err);
    return nullptr;
  }
  GstBin* bin = GST_BIN(e->pipeline_);
  GstElement* file = gst_bin_get_by_name(bin, "file");
  g_object_set(file, "location", format.path.c_str(), nullptr);
  gst_object_unref(file);
  e->video_ = gst_bin_get_by_name(bin, "video");
  if (format.audio) e->audio_ = gst_bin_get_by_name(bin, "audio");
  if (gst_element_set_state(e->pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
      e->Failed()) {
    *error = e->error_.empty() ? "cannot start the encoder" : e->error_;
    return nullptr;
  }
  return e;
}

GstShowEncoder::~GstShowEncoder() {
  if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_NULL);
  if (video_) gst_object_unref(video_);
  if (audio_) gst_object_unref(audio_);
  if (pipeline_) gst_object_unref(pipeline_);
}

// Reads an error from the bus, if one came.
bool GstShowEncoder::Failed() {
  if (!error_.empty()) return true;
  std::string text;
  if (!PopGstError(pipeline_, &text)) return false;
  error_ = "the encoder failed: " + text;
  return true;
}

int GstShowEncoder::AddFrame(const Bitmap32& picture, std::int64_t startMs, int durationMs) {
  if (picture.width < format_.width || picture.height < format_.height) {
    error_ = "a picture smaller than the video";
    return -1;
  }
  const gsize rowBytes = static_cast<gsize>(format_.width) * 4;
  const gsize bytes = rowBytes * format_.height;
  GstAppSrc* src = GST_APP_SRC(video_);
  while (gst_app_src_get_current_level_bytes(src) >= bytes * kQueuedFrames) {
    if (Failed()) return -1;
    g_usleep(kBusWait / GST_USECOND);
  }
  if (Failed()) return -1;
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  if (picture.width == format_.width) {  // the rows lie one after another
    gst_buffer_fill(buffer, 0, picture.pixels.data(), bytes);
  } else {
    for (int y = 0; y < format_.height; ++y)
      gst_buffer_fill(buffer, rowBytes * y, picture.Row(y), rowBytes);
  }
  GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(startMs) * GST_MSECOND;
  GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(durationMs) * GST_MSECOND;
  if (gst_app_src_push_buffer(src, buffer) != GST_FLOW_OK) {
    if (!Failed()) error_ = "the encoder took no more pictures";
    return -1;
  }
  return 0;
}

int GstShowEncoder::AddAudio(const std::int16_t* samples, int frames) {
  if (!audio_ || frames <= 0) return audio_ ? 0 : -1;
  if (Failed()) return -1;
  const gsize bytes = static_cast<gsize>(frames) * kTrackChannels * sizeof(std::int16_t);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_fill(buffer, 0, samples, bytes);
  GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(audioFrames_, GST_SECOND, kTrackRate);
  audioFrames_ += static_cast<std::uint64_t>(frames);
  GST_BUFFER_DURATION(buffer) =
      gst_util_uint64_scale(audioFrames_, GST_SECOND, kTrackRate) - GST_BUFFER_PTS(buffer);
  if (gst_app_src_push_buffer(GST_APP_SRC(audio_), buffer) != GST_FLOW_OK) {
    if (!Failed()) error_ = "the encoder took no more sound";
    return -1;
  }
  return 0;
}

int GstShowEncoder::Finish() {
  if (Failed()) return -1;
  gst_app_src_end_of_stream(GST_APP_SRC(video_));
  if (audio_) gst_app_src_end_of_stream(GST_APP_SRC(audio_));
  GstBus* bus = gst_element_get_bus(pipeline_);
  GstMessage* msg = gst_bus_timed_pop_filtered(
      bus, kFinishLimit, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  gst_object_unref(bus);
  int result = 0;
  if (!msg) {
    error_ = "the encoder did not complete the file in time";
    result = -1;
  } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
    error_ = "the encoder failed: " + GstErrorText(msg);
    result = -1;
  }
  if (msg) gst_message_unref(msg);
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  return result;
}

VideoBackend GstVideoBackend() {
  VideoBackend b;
  b.Missing = &GstShowEncoder::Missing;
  b.Make = &GstShowEncoder::Make;
  return b;
}
