#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

// Answers the message boxes a test provokes, as a user would: it watches for
// the active modal QMessageBox, records its caption, text and icon, and
// presses a button (the one whose text is next in Answers, else the first).
class MessageBoxAnswerer : public QObject {
 public:
  struct Box {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons;
  };

  QList<Box> Boxes;
  QStringList Answers;  // button texts to press, taken from the front
  // Called with each new box before it is answered (to look at the windows
  // behind it while it is open).
  std::function<void(QMessageBox* box)> OnBox;

  explicit MessageBoxAnswerer(int intervalMs = 10) {
    FTimer.setInterval(intervalMs);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
    FTimer.start();
  }

  QStringList Texts() const {
    QStringList texts;
    for (const Box& box : Boxes) texts.append(box.Text);
    return texts;
  }
  void Clear() { Boxes.clear(); }

 private:
  QTimer FTimer;
  QPointer<QMessageBox> FLast;

  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box == FLast) return;
    FLast = box;
    Box seen{box->windowTitle(), box->text(), box->icon(), {}};
    QAbstractButton* press = nullptr;
    const QString wanted = Answers.isEmpty() ? QString() : Answers.takeFirst();
    for (QAbstractButton* button : box->buttons()) {
      seen.Buttons.append(button->text());
      if (!wanted.isEmpty() && button->text() == wanted) press = button;
    }
    Boxes.append(seen);
    if (OnBox) OnBox(box);
    if (!press && !box->buttons().isEmpty()) press = box->buttons().first();
    if (press) press->click();
  }
};
