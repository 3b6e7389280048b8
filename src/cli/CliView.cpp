#include "CliView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "CliProgressBar.h"
#include "Progress.h"
#include "RowLoader.h"

namespace {

const QString kRowsPerSecond = QStringLiteral("ред/с");
// A bar whose position has not moved is redrawn (for its rate and time
// left) at most this often.
constexpr qint64 kRedrawMs = 250;

qint64 SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TCliView::TCliView(bool confirmAnswer, std::FILE* out, std::FILE* err)
    : FConfirmAnswer(confirmAnswer),
      FOut(out),
      FErr(err),
      FLive(isatty(fileno(err)) != 0),
      FClock(&SteadyMilliseconds),
      FLastCall(FClock()) {}

void TCliView::SetLiveBar(std::function<qint64()> clock, int width) {
  FLive = true;
  FClock = std::move(clock);
  FFixedWidth = width;
  FLastCall = FClock();
}

int TCliView::Width() const {
  if (FFixedWidth > 0) return FFixedWidth;
  winsize size{};
  if (ioctl(fileno(FErr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void TCliView::WriteLine(std::FILE* stream, const QString& text) {
  FinishLine();
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void TCliView::FinishLine() {
  if (!FBarShown) return;
  std::fputc('\n', FErr);
  std::fflush(FErr);
  FBarShown = false;
  FBarText.clear();
  FBarPosition = -1;
}

void TCliView::BeginStage(const QString& caption, qint64 start) {
  FStage = caption;
  FStageStart = start;
}

void TCliView::DrawBar(int done, int total, const QString& rateUnit) {
  if (!FLive) return;
  const qint64 now = FClock();
  const int position = ProgressPosition(done, total);
  // The last column stays free: a line that fills it wraps on some terminals,
  // and the carriage return would then redraw below it.
  const QString text =
      CliProgressBar::Text(FStage, done, total, now - FStageStart, rateUnit, Width() - 1);
  if (FBarShown && (text == FBarText || (position == FBarPosition && FStage == FBarStage &&
                                         now - FBarDrawn < kRedrawMs)))
    return;
  // Spaces over what a longer line before it left.
  const qsizetype cover = qMax<qsizetype>(0, FBarText.size() - text.size());
  const QByteArray bytes = (QLatin1Char('\r') + text + QString(cover, QLatin1Char(' '))).toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), FErr);
  std::fflush(FErr);
  FBarShown = true;
  FBarText = text;
  FBarStage = FStage;
  FBarPosition = position;
  FBarDrawn = now;
}

void TCliView::ShowMainProgress(const QString& caption, int done, int total) {
  if (caption == QLatin1String("...") && done == 0) return;  // the reset at the end of a run
  WriteLine(FErr, QStringLiteral("[%1/%2] %3").arg(done).arg(total).arg(caption));
  // A generation's table begins with its line.
  BeginStage(caption, FClock());
}

void TCliView::ShowTableProgress(int done, int total) {
  if (done == 0) return;
  DrawBar(done, total, kRowsPerSecond);
}

void TCliView::ShowInstallProgress(const QString& caption, int done, int total) {
  const qint64 now = FClock();
  const qint64 previous = FLastCall;
  FLastCall = now;
  if (done == 0) {
    AppendLog(caption);
    return;
  }
  // A table's load counts rows and shows as its table's name; the other
  // stages count files or steps.
  const QString table = TRowLoader::ProgressCaptionTable(caption);
  const QString stage = table.isEmpty() ? caption : table;
  // An installation reports a stage only once its first batch is in, so
  // the stage began with the call before.
  if (stage != FStage) BeginStage(stage, previous);
  DrawBar(done, total, table.isEmpty() ? QString() : kRowsPerSecond);
}

void TCliView::AppendLog(const QString& line) {
  WriteLine(FOut, line);
}

void TCliView::ShowError(const QString& text) {
  ++FErrorCount;
  WriteLine(FErr, QStringLiteral("Грешка: ") + text);
}

bool TCliView::AskConfirm(const QString& text) {
  WriteLine(FErr, ConfirmationText(text) +
                      (FConfirmAnswer ? QStringLiteral(" Да") : QStringLiteral(" Не")));
  return FConfirmAnswer;
}

void TCliView::ShowNotice(const QString& text) {
  WriteLine(FErr, text);
}
