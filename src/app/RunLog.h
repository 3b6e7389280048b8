#pragma once

#include <QString>
#include <QStringList>
#include <exception>

#include "AppView.h"

class TDM;

// A run's log as the technician sends it to the support desk: every line the
// run appends to the log, every error box, notice and question (with its
// answer), in the order shown. It passes every call on to the front end's
// view unchanged, so the window and the command line show what they showed
// before.
//
// One lives for each run. While it lives the data module reports through it
// too. When it goes, however the run ends, it appends what it holds to the
// file the run named (UTF-8, after a header line with the run and the time);
// a run that named no file saves nothing. Saving never throws and never
// changes the run's result: a log that cannot be written is reported as one
// more log line.
class TRunLog : public IAppView {
 public:
  TRunLog(TDM& dm, IAppView& view, const QString& title);
  ~TRunLog() override;
  TRunLog(const TRunLog&) = delete;
  TRunLog& operator=(const TRunLog&) = delete;

  // Where the log is saved when the run ends.
  void SetFile(const QString& file) { FFile = file; }
  const QString& File() const { return FFile; }
  const QStringList& Lines() const { return FLines; }

  // An error that leaves the run by propagating: its message as the front
  // end's top-level box shows it, and where it happened.
  void RecordFailure(const std::exception& error);

  void ShowMainProgress(const QString& caption, int done, int total) override;
  void ShowTableProgress(int done, int total) override;
  void ShowInstallProgress(const QString& caption, int done, int total) override;
  void ResetExportProgress() override;
  void AppendLog(const QString& line) override;
  void ShowError(const QString& text) override;
  bool AskConfirm(const QString& text) override;
  void ShowNotice(const QString& text) override;
  // A stop asked of the front end's view reaches the run through the log.
  bool StopRequested() const override { return FView.StopRequested() || IAppView::StopRequested(); }

  // The text of a saved log line for `text`: line breaks of any platform
  // become "\n".
  static QString NormalizedText(const QString& text);

 private:
  TDM& FDM;
  IAppView& FView;
  IAppView& FPreviousDMView;
  QString FTitle;
  QString FStarted;
  QString FFile;
  QStringList FLines;

  void Record(const QString& text);
  // False after telling the view why the file was not written.
  bool Save() noexcept;
};
