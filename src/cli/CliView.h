#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <functional>

#include "AppView.h"

// The user-interface interface on a terminal: log lines on stdout, progress
// and messages on stderr (a live bar when stderr is a terminal), questions
// answered by a flag.
//
// The live bar shows the current stage (a table, the packet check) with its
// rate and the time left, measured on a steady clock from the moment the
// stage began: for a generation the table's line, for an installation the
// progress call before the stage's first one (the table's work starts right
// after it).
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

  // The bar drawn whatever `err` is, `width` columns wide, against `clock`
  // (milliseconds of a steady clock): for tests without a terminal.
  void SetLiveBar(std::function<qint64()> clock, int width);

 private:
  bool FConfirmAnswer;
  std::FILE* FOut;
  std::FILE* FErr;
  bool FLive;
  int FFixedWidth = 0;  // 0: the terminal's
  std::function<qint64()> FClock;
  bool FBarShown = false;
  int FErrorCount = 0;
  // The stage the bar shows, when it began, and the last progress call.
  QString FStage;
  qint64 FStageStart = 0;
  qint64 FLastCall;
  // What the bar shows now, and when it was drawn.
  QString FBarText;
  QString FBarStage;
  int FBarPosition = -1;
  qint64 FBarDrawn = 0;

  void BeginStage(const QString& caption, qint64 start);
  void DrawBar(int done, int total, const QString& rateUnit);
  int Width() const;
  void WriteLine(std::FILE* stream, const QString& text);
};
