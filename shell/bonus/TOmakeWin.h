// The hidden bonus window of the settings dialog: a borderless window over the whole screen whose
// visible area follows what it draws, showing the bouncing head or the falling dialog.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "bonus/OmakePhysics.h"
#include "shell/bonus/OmakeHost.h"

class TOmakeWin : public QWidget {
  Q_OBJECT

 public:
  // Made hidden; the dialog owns it from here on.
  explicit TOmakeWin(OmakeHost* dialog);
  ~TOmakeWin() override;

  void SetupBouncingHead();
  bool StepBouncingHead();
  void SetupFallingDialog();
  bool StepFallingDialog();
  // Stops the variant, gives the dialog back its title, visibility and timer, and hides.
  void Finish(bool restoreDialog = true);
  // One tick of the running variant.
  void Timer1Timer();

  int Variant = 0;
  QTimer Timer1;
  // The last region set, in screen coordinates (tests and screenshots look at it).
  QRegion ShapeRegion;
  BouncingHead& Head() { return head_; }
  FallingDialog& Fall() { return fall_; }
  // The snapshot of the dialog, frame included (the fallback is its client area on a plain face).
  static Bitmap32 SnapshotOf(QWidget* dialog);

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetShape(const QRegion& screenRegion);
  void ShowPicture(const Bitmap32& picture, OmakePoint topLeft);
  QRect ScreenRect() const;

  OmakeHost* dialog_;
  std::vector<Bitmap32> frames_;
  BouncingHead head_{&frames_};
  FallingDialog fall_;
  const Bitmap32* picture_ = nullptr;
  QPoint pictureAt_;  // in window coordinates
  bool running_ = false;
};
