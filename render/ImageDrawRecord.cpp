// What the image layer drew its last frame from.
#include "render/ImageDrawRecord.h"

ImageDrawRecord::Drawn ImageDrawRecord::Of(const CPtDataI* obj) {
  Drawn d;
  if (!obj) return d;
  d.object = obj;
  d.contrast = obj->contrast;
  d.transparent = obj->transparent;
  d.operation = obj->operation;
  d.quality = obj->quality;
  d.turnedVersion = obj->turnedVersion;
  for (int q = 0; q < 4; ++q) {
    d.source[q] = obj->source[q];
    d.stage[q] = obj->stage[q];
  }
  return d;
}

bool ImageDrawRecord::Changed(const COthBmp& layer) {
  bool changed = layer.next != next_ || layer.count != count_;
  next_ = layer.next;
  count_ = layer.count;
  for (int i = 0; i < kMaxImages; ++i) {
    const Drawn now = Of(layer.slots[i].get());
    if (now == slots_[i]) continue;
    slots_[i] = now;
    changed = true;
  }
  return changed;
}
