// A media device for tests: remembers every command and plays a movie for a set number of polls.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "app/MediaDevice.h"

class FakeMediaDevice : public MediaDevice {
 public:
  int Open(const std::string& path) override {
    log.push_back("open " + path);
    opened = path;
    if (failOpen) return -1;
    return 0;
  }
  int Play() override {
    log.push_back("play");
    if (throwOnPlay) throw std::runtime_error("device failure");
    playing = true;
    pollsLeft = moviePolls;
    return failPlay ? -1 : 0;
  }
  int Stop() override {
    log.push_back("stop");
    playing = false;
    return 0;
  }
  void Close() override {
    log.push_back("close");
    playing = false;
  }
  bool Stopped() override {
    if (pollsLeft > 0) --pollsLeft;
    return pollsLeft == 0;
  }
  int VideoSize(int* w, int* h) override {
    if (videoWidth < 0) return -1;
    *w = videoWidth;
    *h = videoHeight;
    return 0;
  }
  int SetDestination(int l, int t, int w, int h) override {
    destination = {l, t, w, h};
    return 0;
  }
  void SetDisplay(bool on) override { display = on; }

  int Count(const std::string& entry) const {
    int n = 0;
    for (const auto& e : log) n += e == entry;
    return n;
  }

  std::vector<std::string> log;
  std::string opened;
  bool failOpen = false;
  bool failPlay = false;
  bool throwOnPlay = false;
  bool playing = false;
  bool display = false;
  int videoWidth = 320;
  int videoHeight = 240;
  int moviePolls = 3;
  int pollsLeft = 0;
  std::vector<int> destination;
};
