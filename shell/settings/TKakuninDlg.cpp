// The confirmation dialog.
#include "shell/settings/TKakuninDlg.h"

#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>

#include "render/Picture.h"
#include "settings/DialogLogic.h"

namespace {

constexpr int kClientWidth = 363;
constexpr int kClientHeight = 116;
constexpr int kMessageTop = 8;
constexpr int kMessageHeight = 65;

// A built-in picture as a pixmap; a grey one of the stated size while it is missing.
QPixmap BuiltinPixmap(const char* name, int w, int h) {
  Picture pic;
  if (LoadBuiltinPicture(name, &pic) != 0 || pic.rgb.Empty()) {
    QPixmap p(w, h);
    p.fill(QColor(192, 192, 192));
    return p;
  }
  QImage img(reinterpret_cast<const uchar*>(pic.rgb.pixels.data()), pic.rgb.width, pic.rgb.height,
             pic.rgb.width * 4, QImage::Format_RGB32);
  return QPixmap::fromImage(img.copy());
}

}  // namespace

QFont DialogFont(bool proportional) {
  QFont f;
  f.setFamilies(proportional
                    ? QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")}
                    : QStringList{QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic")});
  f.setPixelSize(12);
  return f;
}

TKakuninDlg::TKakuninDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Ondrelix - Notice"));
  setFont(DialogFont());
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  Message = new QLabel(this);
  Message->setGeometry(88, kMessageTop, 265, kMessageHeight);
  Message->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Message->setTextFormat(Qt::PlainText);
  Message->setWordWrap(false);

  Image1 = new QLabel(this);
  Image1->setGeometry(8, 8, 65, 97);
  Image1->setPixmap(BuiltinPixmap("KAKUNIN", 65, 97));

  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setGeometry(191, 84, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("キャンセル"), this);
  CancelBtn->setGeometry(279, 84, 75, 25);
  CancelBtn->setAutoDefault(false);
  // Esc and the close box reject the dialog as QDialog does: the answer is Cancel.
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  OKBtn->setFocus();
}

void TKakuninDlg::SetMessage(const QString& text) {
  Message->setText(text);
}

QString TKakuninDlg::ShortenPath(const QString& path) const {
  const QFontMetrics fm(Message->font());
  const std::string out = ::ShortenPath(
      path.toStdString(), Message->width(),
      [&fm](const std::string& s) { return fm.horizontalAdvance(QString::fromStdString(s)); });
  // A last name wider than the message on its own loses its middle rather than run off the
  // label's edge; the caller keeps the whole path where the user can still read it.
  return fm.elidedText(QString::fromStdString(out), Qt::ElideMiddle, Message->width());
}
