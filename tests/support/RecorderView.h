#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "AppView.h"
#include "Progress.h"

// The user-interface interface for tests: records every call in order and
// answers questions from a script. It keeps the bar positions and the log the
// main window would show, computed the same way.
class RecorderView : public IAppView {
 public:
  struct Call {
    QString Kind;  // "main", "table", "install", "log", "error", "confirm", "notice"
    QString Text;
    int Done = 0;
    int Total = 0;
  };

  QList<Call> Calls;
  QStringList Log;     // memLog
  QStringList Errors;  // texts of error boxes
  QStringList Notices;
  QStringList Questions;
  QList<bool> Answers;  // AskConfirm answers, taken from the front; No when empty
  int MainBar = 0, TableBar = 0, InstallBar = 0;
  QString MainCaption = QStringLiteral("...");
  QString InstallCaption = QStringLiteral("...");
  // Runs at every progress call, as the window's message processing would:
  // a test changes the database there while a run is between chunks.
  std::function<void()> OnProgress;

  void ShowMainProgress(const QString& caption, int done, int total) override {
    Calls.append({QStringLiteral("main"), caption, done, total});
    MainBar = ProgressPosition(done, total);
    MainCaption = caption;
  }
  void ShowTableProgress(int done, int total) override {
    Calls.append({QStringLiteral("table"), QString(), done, total});
    TableBar = ProgressPosition(done, total);
    if (OnProgress) OnProgress();
  }
  void ShowInstallProgress(const QString& caption, int done, int total) override {
    Calls.append({QStringLiteral("install"), caption, done, total});
    if (done == 0) Log.append(caption);
    InstallBar = ProgressPosition(done, total);
    InstallCaption = caption;
    if (OnProgress) OnProgress();
  }
  void AppendLog(const QString& line) override {
    Calls.append({QStringLiteral("log"), line});
    Log.append(line);
  }
  void ShowError(const QString& text) override {
    Calls.append({QStringLiteral("error"), text});
    Errors.append(text);
  }
  bool AskConfirm(const QString& text) override {
    Calls.append({QStringLiteral("confirm"), ConfirmationText(text)});
    Questions.append(ConfirmationText(text));
    return Answers.isEmpty() ? false : Answers.takeFirst();
  }
  void ShowNotice(const QString& text) override {
    Calls.append({QStringLiteral("notice"), text});
    Notices.append(text);
  }

  QList<Call> CallsOf(const QString& kind) const {
    QList<Call> result;
    for (const Call& c : Calls)
      if (c.Kind == kind) result.append(c);
    return result;
  }
};
