#pragma once

#include <QApplication>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>

#include "QBDialogs.h"

// Shows the window and makes it the active one: offscreen, focus events are
// only delivered to widgets of the active window.
inline bool ShowActive(QWidget& window) {
  window.show();
  QApplication::setActiveWindow(&window);
  return QTest::qWaitForWindowActive(&window);
}

// Records what reaches the top-level error handler.
struct TErrorRecorder {
  QStringList Errors;
  TErrorRecorder() {
    ClearLastReportedError();
    SetErrorReportHook([this](const QString& message) { Errors.append(message); });
  }
  ~TErrorRecorder() { SetErrorReportHook(nullptr); }
};

// Runs `action` on the first modal widget of type T once it is shown (from
// inside its exec loop). Returns a flag telling whether it ran.
template <typename T>
std::shared_ptr<bool> WhenModal(std::function<void(T*)> action) {
  auto done = std::make_shared<bool>(false);
  auto* timer = new QTimer;
  timer->setInterval(10);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, action, done, tries]() {
    T* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if ((modal && modal->isVisible()) || ++*tries > 500) {
      timer->stop();
      timer->deleteLater();
      if (modal) {
        *done = true;
        action(modal);
      }
    }
  });
  timer->start();
  return done;
}

// Fixes the locale for one test and restores the previous default afterwards.
struct TLocaleScope {
  QLocale Saved;
  explicit TLocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
  ~TLocaleScope() { QLocale::setDefault(Saved); }
};
