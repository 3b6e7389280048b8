#pragma once

#include <QString>
#include <cstdio>

#include "AppView.h"

// The user-interface interface on a terminal: log lines on stdout, progress
// and messages on stderr (a live bar when stderr is a terminal), questions
// answered by a flag.
class TCliView : public IAppView {
 public:
  explicit TCliView(bool confirmAnswer, std::FILE* out = stdout, std::FILE* err = stderr);

  void ShowMainProgress(const QString& caption, int done, int total) override;
  void ShowTableProgress(int done, int total) override;
  void ShowInstallProgress(const QString& caption, int done, int total) override;
  void AppendLog(const QString& line) override;
  void ShowError(const QString& text) override;
  bool AskConfirm(const QString& text) override;
  void ShowNotice(const QString& text) override;

  int ErrorCount() const { return FErrorCount; }
  // Ends a live bar line so that the next message starts on its own line.
  void FinishLine();

 private:
  bool FConfirmAnswer;
  std::FILE* FOut;
  std::FILE* FErr;
  bool FLive;
  bool FBarShown = false;
  int FErrorCount = 0;
  int FLastBar = -1;
  QString FCaption;

  void DrawBar(const QString& caption, int position);
  void WriteLine(std::FILE* stream, const QString& text);
};
