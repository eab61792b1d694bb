// Checks of a window's layout as a user meets it, measured on the rendered controls in the fonts
// and style installed here: what each control paints, whether its text fits, where Tab goes.
#pragma once

#include <QRect>
#include <QString>
#include <utility>
#include <vector>

class QWidget;

namespace layoutcheck {

// A control's name for messages: its object name, else its class and text.
QString Name(const QWidget* w);

// The controls a user sees in `window`: every widget shown with it that paints something of its
// own, leaving out plain containers and the inside of lists, combo boxes and edits.
std::vector<QWidget*> Controls(QWidget* window);

// The rectangle, in `window`'s coordinates, of the pixels `w` itself paints (its children left
// out); empty when it paints none.
QRect Ink(QWidget* w, QWidget* window);

// Pairs of controls whose painted rectangles meet, as "A / B"; a control and what it holds are
// no pair, and neither are the `allowed` pairs nor what they hold (pictures laid over pictures by
// design, a control hidden beneath another).
std::vector<QString> Overlaps(QWidget* window,
                              const std::vector<std::pair<QWidget*, QWidget*>>& allowed = {});

// Controls that paint outside their parent or outside the window (where they are cut off).
std::vector<QString> Outside(QWidget* window);

// Controls whose text the style would cut: a button's or check box's caption wider or taller
// than its contents, a label's text outside the label, a group's title outside the group, a
// combo box item wider than its field, a tab outside the tab bar or narrower than its text, or
// the text of a length-limited edit wider than the edit.
std::vector<QString> Clipped(QWidget* window);

// The controls that Tab visits, once round, starting from the first control in reading order
// (top to bottom, left to right) that takes the focus by Tab.
std::vector<QWidget*> TabCycle(QWidget* window);

// The controls that take the focus by Tab but are missing from `cycle`, and the steps of
// `cycle` that go back against reading order (to a control wholly above, or wholly to the left
// of one in the same row).
std::vector<QString> TabProblems(QWidget* window, const std::vector<QWidget*>& cycle);

}  // namespace layoutcheck
