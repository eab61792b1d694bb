// What the layers need from the settings of their window, so that render/ does not depend on
// the settings record: where a picture name of a script leads, the budget of decoded pictures,
// the background colour and the render scale. CMainCtl is the one implementation.
#pragma once

#include <cstdint>
#include <string>

#include "render/PictureBudget.h"

class LayerSettings {
 public:
  // The existing path a picture name of a script resolves to, or "" when none.
  virtual std::string ResolvePath(const std::string& name) = 0;
  // The decoded pictures that the layers of this window hold from the data folder.
  virtual PictureBudget& Pictures() = 0;
  virtual std::uint32_t GetBackColour() const = 0;
  virtual std::uint32_t SetBackColour(std::uint32_t c) = 0;
  virtual int GetRenderScale() const = 0;

 protected:
  ~LayerSettings() = default;
};
