// What the bonus window needs from the dialog that owns it, so that the bonus window does not
// depend on the settings dialog: the dialog's window, its rectangle on the screen (frame
// included), its motion, the press point on its button, its timer and its random source.
// TSetteiForm is the one implementation.
#pragma once

#include <QPoint>
#include <QRect>

class QWidget;
class TOmakeWin;

class OmakeHost {
 public:
  // The dialog's own window (its screen, title, snapshot, showing and hiding).
  virtual QWidget* HostWindow() = 0;
  // Hands the bonus window to the dialog, which owns it from then on.
  virtual void SetOmakeWin(TOmakeWin* win) = 0;
  // Which variant runs next (0 the bouncing head, 1 the falling dialog).
  virtual int RandomVariant() = 0;
  // A number from the dialog's random source (non-negative).
  virtual int Random() = 0;
  virtual QRect DialogRect() const = 0;
  virtual int DialogVelocityX() const = 0;
  virtual int DialogVelocityY() const = 0;
  // Where the button was pressed, in window coordinates.
  virtual QPoint PressPoint() const = 0;
  // The dialog's animation timer: 0 stops it.
  virtual void SetTimerInterval(int ms) = 0;

 protected:
  ~OmakeHost() = default;
};
