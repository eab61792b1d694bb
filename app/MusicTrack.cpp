// The music of a show as a sound track.
#include "app/MusicTrack.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr std::int64_t kOpenEnd = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::int64_t TrackFrameAt(std::int64_t ms) {
  return (ms * kTrackRate + 999) / 1000;
}

MusicTrack::MusicTrack(AudioDecoder* decoder, std::function<std::int64_t()> clockMs)
    : decoder_(decoder), clockMs_(std::move(clockMs)) {}

int MusicTrack::Open(const std::string& path) {
  Close();
  auto it = decoded_.find(path);
  if (it == decoded_.end()) {
    std::vector<std::int16_t> samples;
    if (decoder_->Decode(path, &samples) != 0) return -1;
    samples.resize(samples.size() - samples.size() % kTrackChannels);
    it = decoded_.emplace(path, std::move(samples)).first;
  }
  open_ = &it->second;
  return 0;
}

int MusicTrack::Play() {
  if (!open_) return -1;
  if (!Stopped()) return 0;
  EndClip();
  clips_.push_back({open_, TrackFrameAt(clockMs_()), kOpenEnd});
  playing_ = true;
  return 0;
}

int MusicTrack::Stop() {
  EndClip();
  return 0;
}

void MusicTrack::Close() {
  EndClip();
  open_ = nullptr;
}

// A file played to its end stops by itself.
bool MusicTrack::Stopped() {
  if (!playing_ || clips_.empty()) return true;
  const Clip& c = clips_.back();
  const auto length = static_cast<std::int64_t>(c.samples->size() / kTrackChannels);
  return TrackFrameAt(clockMs_()) >= c.start + length;
}

void MusicTrack::EndClip() {
  if (playing_ && !clips_.empty()) clips_.back().end = TrackFrameAt(clockMs_());
  playing_ = false;
}

void MusicTrack::Render(std::int64_t from, int count, std::int16_t* out) {
  std::memset(out, 0, sizeof(std::int16_t) * kTrackChannels * static_cast<size_t>(count));
  const std::int64_t to = from + count;
  for (size_t i = firstLive_; i < clips_.size(); ++i) {
    const Clip& c = clips_[i];
    const auto length = static_cast<std::int64_t>(c.samples->size() / kTrackChannels);
    const std::int64_t end = std::min(c.end, c.start + length);
    if (end <= from && i == firstLive_) {
      firstLive_ = i + 1;
      continue;
    }
    const std::int64_t a = std::max(from, c.start);
    const std::int64_t b = std::min(to, end);
    if (a >= b) continue;
    std::memcpy(out + (a - from) * kTrackChannels, c.samples->data() + (a - c.start) * kTrackChannels,
                sizeof(std::int16_t) * kTrackChannels * static_cast<size_t>(b - a));
  }
}
