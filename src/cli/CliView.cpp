#include "CliView.h"

#include <unistd.h>

#include "Progress.h"

TCliView::TCliView(bool confirmAnswer, std::FILE* out, std::FILE* err)
    : FConfirmAnswer(confirmAnswer), FOut(out), FErr(err), FLive(isatty(fileno(err)) != 0) {}

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
  FLastBar = -1;
}

void TCliView::DrawBar(const QString& caption, int position) {
  if (!FLive) return;
  if (position == FLastBar && caption == FCaption && FBarShown) return;
  FLastBar = position;
  FCaption = caption;
  const int width = 30;
  const int filled = qBound(0, position, 100) * width / 100;
  const QString line =
      QStringLiteral("\r[%1%2] %3% %4")
          .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')))
          .arg(position, 3)
          .arg(caption.left(50).leftJustified(50));
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), FErr);
  std::fflush(FErr);
  FBarShown = true;
}

void TCliView::ShowMainProgress(const QString& caption, int done, int total) {
  if (caption == QLatin1String("...") && done == 0) return;  // the reset at the end of a run
  WriteLine(FErr, QStringLiteral("[%1/%2] %3").arg(done).arg(total).arg(caption));
}

void TCliView::ShowTableProgress(int done, int total) {
  if (done == 0) return;
  DrawBar(QStringLiteral("%1 / %2").arg(done).arg(total), ProgressPosition(done, total));
}

void TCliView::ShowInstallProgress(const QString& caption, int done, int total) {
  if (done == 0) {
    AppendLog(caption);
    return;
  }
  DrawBar(caption, ProgressPosition(done, total));
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
