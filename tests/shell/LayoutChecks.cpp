// Layout checks on rendered controls.
#include "tests/shell/LayoutChecks.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <algorithm>

namespace layoutcheck {

namespace {

QRect InWindow(const QWidget* w, const QWidget* window) {
  return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

bool Holds(const QWidget* outer, const QWidget* inner) {
  for (const QWidget* p = inner->parentWidget(); p; p = p->parentWidget())
    if (p == outer) return true;
  return false;
}

// Widgets whose own painting is no control: plain containers and frameless frames.
bool IsContainer(const QWidget* w) {
  if (qobject_cast<const QStackedWidget*>(w)) return true;
  if (auto* f = qobject_cast<const QFrame*>(w))
    return f->frameShape() == QFrame::NoFrame && !qobject_cast<const QLabel*>(w) &&
           !qobject_cast<const QAbstractScrollArea*>(w);
  return w->metaObject() == &QWidget::staticMetaObject;
}

// Controls whose inside is theirs alone (rows of a list, the parts of a combo box or edit).
bool IsClosed(const QWidget* w) {
  return qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractButton*>(w);
}

void Collect(QWidget* parent, QWidget* window, std::vector<QWidget*>* out) {
  for (QObject* o : parent->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow() || !w->isVisibleTo(window)) continue;
    if (!IsContainer(w)) out->push_back(w);
    if (!IsClosed(w)) Collect(w, window, out);
  }
}

QString Text(const QWidget* w) {
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
  return {};
}

QString Box(const QRect& r) {
  return QStringLiteral("(%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The caption of a push button, check box or radio button against its contents rectangle.
void ButtonClipped(const QAbstractButton* b, std::vector<QString>* out) {
  if (b->text().isEmpty()) return;
  QStyleOptionButton opt;
  opt.initFrom(b);
  opt.text = b->text();
  QStyle::SubElement part = QStyle::SE_PushButtonContents;
  if (auto* p = qobject_cast<const QPushButton*>(b)) {
    if (p->autoDefault() || p->isDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
    if (p->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
  } else if (qobject_cast<const QCheckBox*>(b)) {
    part = QStyle::SE_CheckBoxContents;
  } else if (qobject_cast<const QRadioButton*>(b)) {
    part = QStyle::SE_RadioButtonContents;
  }
  const QRect room = b->style()->subElementRect(part, &opt, b);
  const QSize need = b->fontMetrics().size(Qt::TextShowMnemonic, b->text());
  if (need.width() > room.width() || need.height() > room.height())
    out->push_back(
        Name(b) +
        QStringLiteral(" needs %1x%2 in %3").arg(need.width()).arg(need.height()).arg(Box(room)));
}

void LabelClipped(const QLabel* l, std::vector<QString>* out) {
  if (l->text().isEmpty() || l->textFormat() == Qt::RichText) return;
  const QRect room = l->contentsRect();
  int flags = static_cast<int>(l->alignment());
  if (l->wordWrap()) flags |= Qt::TextWordWrap;
  const QRect need = l->fontMetrics().boundingRect(room, flags, l->text());
  if (!room.contains(need))
    out->push_back(Name(l) + QStringLiteral(" needs %1 in %2").arg(Box(need), Box(room)));
}

void GroupClipped(const QGroupBox* g, std::vector<QString>* out) {
  if (g->title().isEmpty()) return;
  QStyleOptionGroupBox opt;
  opt.initFrom(g);
  opt.text = g->title();
  opt.textAlignment = g->alignment();
  opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect label =
      g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
  if (!g->rect().contains(label))
    out->push_back(Name(g) + QStringLiteral(" title at %1").arg(Box(label)));
}

void ComboClipped(const QComboBox* c, std::vector<QString>* out) {
  QStyleOptionComboBox opt;
  opt.initFrom(c);
  opt.editable = c->isEditable();
  opt.frame = c->hasFrame();
  opt.subControls = QStyle::SC_All;
  const QRect field =
      c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
  for (int i = 0; i < c->count(); ++i) {
    const int need = c->fontMetrics().horizontalAdvance(c->itemText(i));
    if (need > field.width())
      out->push_back(Name(c) + QStringLiteral(" item '%1' needs %2 of %3")
                                   .arg(c->itemText(i))
                                   .arg(need)
                                   .arg(field.width()));
  }
}

void TabsClipped(const QTabBar* t, std::vector<QString>* out) {
  for (int i = 0; i < t->count(); ++i) {
    const QRect r = t->tabRect(i);
    const int need = t->fontMetrics().horizontalAdvance(t->tabText(i));
    if (!t->rect().contains(r) || need > r.width())
      out->push_back(QStringLiteral("tab '%1' at %2 needs %3 in a bar of %4")
                         .arg(t->tabText(i), Box(r))
                         .arg(need)
                         .arg(t->width()));
  }
}

// An edit that takes at most a few characters is sized for them: its text must show whole.
// Edits without a limit scroll their text by design.
void EditClipped(const QLineEdit* e, std::vector<QString>* out) {
  if (e->maxLength() >= 32767 || e->text().isEmpty()) return;
  QStyleOptionFrame opt;
  opt.initFrom(e);
  opt.lineWidth =
      e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
  const QMargins m = e->textMargins();
  const int room = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).width() -
                   m.left() - m.right() - 2 * 2;  // the edit keeps 2 pixels on either side
  const int need = e->fontMetrics().horizontalAdvance(e->text());
  if (need > room)
    out->push_back(Name(e) +
                   QStringLiteral(" text '%1' needs %2 of %3").arg(e->text()).arg(need).arg(room));
}

// Reading order: b comes before a when it lies wholly above a, or wholly to its left in a row
// that they share.
bool Before(const QRect& b, const QRect& a) {
  if (b.bottom() < a.top()) return true;
  const bool sameRow = b.top() <= a.bottom() && a.top() <= b.bottom();
  return sameRow && b.right() < a.left();
}

bool TakesTab(const QWidget* w, const QWidget* window) {
  return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isEnabled() &&
         w->isVisibleTo(window);
}

std::vector<QWidget*> TabStops(QWidget* window) {
  std::vector<QWidget*> stops;
  for (QWidget* w : window->findChildren<QWidget*>())
    if (!w->isWindow() && TakesTab(w, window) && !w->focusProxy()) stops.push_back(w);
  return stops;
}

}  // namespace

QString Name(const QWidget* w) {
  if (!w->objectName().isEmpty()) return w->objectName();
  return QString::fromLatin1(w->metaObject()->className()) + QStringLiteral(" '") + Text(w) +
         QStringLiteral("'");
}

std::vector<QWidget*> Controls(QWidget* window) {
  window->ensurePolished();
  std::vector<QWidget*> out;
  Collect(window, window, &out);
  return out;
}

QRect Ink(QWidget* w, QWidget* window) {
  QImage img(w->size(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  w->render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
  int left = img.width(), right = -1, top = img.height(), bottom = -1;
  for (int y = 0; y < img.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      if (qAlpha(row[x]) == 0) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return {};
  return QRect(QPoint(left, top), QPoint(right, bottom)).translated(w->mapTo(window, QPoint(0, 0)));
}

std::vector<QString> Overlaps(QWidget* window,
                              const std::vector<std::pair<QWidget*, QWidget*>>& allowed) {
  const std::vector<QWidget*> controls = Controls(window);
  std::vector<QRect> ink;
  for (QWidget* w : controls) ink.push_back(Ink(w, window));
  auto within = [](QWidget* outer, QWidget* w) { return w == outer || Holds(outer, w); };
  auto isAllowed = [&](QWidget* a, QWidget* b) {
    return std::any_of(allowed.begin(), allowed.end(), [&](const auto& p) {
      return (within(p.first, a) && within(p.second, b)) ||
             (within(p.first, b) && within(p.second, a));
    });
  };
  std::vector<QString> out;
  for (size_t i = 0; i < controls.size(); ++i)
    for (size_t j = i + 1; j < controls.size(); ++j) {
      QWidget *a = controls[i], *b = controls[j];
      if (Holds(a, b) || Holds(b, a) || isAllowed(a, b)) continue;
      if (ink[i].intersects(ink[j]))
        out.push_back(Name(a) + QStringLiteral(" ") + Box(ink[i]) + QStringLiteral(" / ") +
                      Name(b) + QStringLiteral(" ") + Box(ink[j]));
    }
  return out;
}

std::vector<QString> Outside(QWidget* window) {
  std::vector<QString> out;
  for (QWidget* w : Controls(window)) {
    const QRect ink = Ink(w, window);
    const QRect parent = InWindow(w->parentWidget(), window);
    if (!ink.isEmpty() && !parent.contains(ink))
      out.push_back(Name(w) + QStringLiteral(" paints ") + Box(ink) +
                    QStringLiteral(" outside its parent ") + Box(parent));
    else if (!ink.isEmpty() && !window->rect().contains(ink))
      out.push_back(Name(w) + QStringLiteral(" paints outside the window"));
  }
  return out;
}

std::vector<QString> Clipped(QWidget* window) {
  std::vector<QString> out;
  for (QWidget* w : Controls(window)) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) ButtonClipped(b, &out);
    if (auto* l = qobject_cast<QLabel*>(w)) LabelClipped(l, &out);
    if (auto* g = qobject_cast<QGroupBox*>(w)) GroupClipped(g, &out);
    if (auto* c = qobject_cast<QComboBox*>(w)) ComboClipped(c, &out);
    if (auto* t = qobject_cast<QTabBar*>(w)) TabsClipped(t, &out);
    if (auto* e = qobject_cast<QLineEdit*>(w)) EditClipped(e, &out);
  }
  return out;
}

std::vector<QWidget*> TabCycle(QWidget* window) {
  std::vector<QWidget*> stops = TabStops(window);
  if (stops.empty()) return {};
  QWidget* first = *std::min_element(stops.begin(), stops.end(), [&](QWidget* a, QWidget* b) {
    const QRect ra = InWindow(a, window), rb = InWindow(b, window);
    return std::make_pair(ra.top(), ra.left()) < std::make_pair(rb.top(), rb.left());
  });
  first->setFocus(Qt::TabFocusReason);
  std::vector<QWidget*> cycle;
  for (QWidget* at = window->focusWidget(); at && cycle.size() <= stops.size() + 1;
       at = window->focusWidget()) {
    if (!cycle.empty() && at == cycle.front()) break;
    cycle.push_back(at);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(at, &tab);
    if (window->focusWidget() == at) break;  // Tab went nowhere
  }
  return cycle;
}

std::vector<QString> TabProblems(QWidget* window, const std::vector<QWidget*>& cycle) {
  std::vector<QString> out;
  for (QWidget* w : TabStops(window))
    if (std::find(cycle.begin(), cycle.end(), w) == cycle.end())
      out.push_back(Name(w) + QStringLiteral(" is not reached by Tab"));
  for (size_t i = 1; i < cycle.size(); ++i)
    if (Before(InWindow(cycle[i], window), InWindow(cycle[i - 1], window)))
      out.push_back(QStringLiteral("Tab goes back from ") + Name(cycle[i - 1]) +
                    QStringLiteral(" to ") + Name(cycle[i]));
  return out;
}

}  // namespace layoutcheck
