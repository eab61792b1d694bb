// The small modal question box: a startled face, a message of a few lines, OK and Cancel.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

class TKakuninDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TKakuninDlg(QWidget* owner = nullptr);

  void SetTitle(const QString& text) { setWindowTitle(text); }
  void SetMessage(const QString& text);
  // The path shortened by leading folders until it fits the width of the message in its font;
  // a last name too wide on its own is cut in the middle.
  QString ShortenPath(const QString& path) const;

  QLabel* Message = nullptr;
  QLabel* Image1 = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
};

// The dialogs' face "ＭＳ Ｐゴシック" at 12 px, as installed here.
QFont DialogFont(bool proportional = true);
