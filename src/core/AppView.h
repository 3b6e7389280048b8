#pragma once

#include <QString>
#include <atomic>

// What the runs and the data module report through. The main window shows it
// with bars, the log and message boxes; the command line with stdout/stderr;
// tests record it and answer questions from a script.
class IAppView {
 public:
  IAppView() = default;
  // A view made or assigned from another starts without a stop request:
  // the request belongs to the run that the view serves.
  IAppView(const IAppView& /*other*/) {}
  IAppView& operator=(const IAppView& /*other*/) { return *this; }
  virtual ~IAppView() = default;

  // Generation: tables done of the run; `caption` is the table name.
  virtual void ShowMainProgress(const QString& caption, int done, int total) = 0;
  // Generation: rows done of the current table.
  virtual void ShowTableProgress(int done, int total) = 0;
  // Installation: when done is 0 the caption is first appended to the log.
  virtual void ShowInstallProgress(const QString& caption, int done, int total) = 0;
  // Main bar 0 with "...", then the table bar 0.
  virtual void ResetExportProgress() {
    ShowMainProgress(QStringLiteral("..."), 0, 100);
    ShowTableProgress(0, 100);
  }
  // A line appended to the installation log.
  virtual void AppendLog(const QString& line) = 0;
  // An error box (caption "Грешка", one OK button); returns when dismissed.
  virtual void ShowError(const QString& text) = 0;
  // A confirmation question with Yes and No; true for Yes. A question mark is
  // appended when the text does not end with one.
  virtual bool AskConfirm(const QString& text) = 0;
  // A plain notice with one OK button ("Процесът приключи успешно!").
  virtual void ShowNotice(const QString& text) = 0;

  // The user asked the run to stop (the command line on Ctrl+C or TERM).
  // The runs look at it where they report progress; setting it is safe
  // from a signal handler.
  void RequestStop() { FStopRequested.store(true); }
  // A view that stands in front of another (the run log) asks that one too.
  virtual bool StopRequested() const { return FStopRequested.load(); }
  void ClearStopRequest() { FStopRequested.store(false); }
  std::atomic<bool>& StopFlag() { return FStopRequested; }

 private:
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> FStopRequested{false};
};

// Throws the stop's ENompackError when the user asked the run to stop.
void ThrowIfStopRequested(const IAppView& view);
// What a run that was stopped says.
QString StopRequestedText();

// Appends "?" unless the text already ends with one.
inline QString ConfirmationText(const QString& text) {
  return text.endsWith(QLatin1Char('?')) ? text : text + QLatin1Char('?');
}
