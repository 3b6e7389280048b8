#include "RunLog.h"

#include <QDateTime>
#include <QFile>

#include "DataModule.h"
#include "NompackError.h"

namespace {

const QString kErrorPrefix = QStringLiteral("Грешка: ");

}  // namespace

TRunLog::TRunLog(TDM& dm, IAppView& view, const QString& title)
    : FDM(dm),
      FView(view),
      FPreviousDMView(dm.RedirectView(*this)),
      FTitle(title),
      FStarted(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))) {}

TRunLog::~TRunLog() {
  FDM.RedirectView(FPreviousDMView);
  if (!FFile.isEmpty()) Save();
}

QString TRunLog::NormalizedText(const QString& text) {
  QString result = text;
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

void TRunLog::Record(const QString& text) {
  FLines.append(NormalizedText(text));
}

void TRunLog::RecordFailure(const std::exception& error) {
  if (const auto* nompackError = dynamic_cast<const ENompackError*>(&error)) {
    Record(kErrorPrefix + TopLevelErrorText(nompackError->Message()));
    if (!nompackError->Context().isEmpty()) Record(nompackError->ContextText());
  } else {
    Record(kErrorPrefix + TopLevelErrorText(QString::fromLocal8Bit(error.what())));
  }
}

void TRunLog::ShowMainProgress(const QString& caption, int done, int total) {
  FView.ShowMainProgress(caption, done, total);
}

void TRunLog::ShowTableProgress(int done, int total) {
  FView.ShowTableProgress(done, total);
}

void TRunLog::ShowInstallProgress(const QString& caption, int done, int total) {
  // The captions that start a stage are the log's lines.
  if (done == 0) Record(caption);
  FView.ShowInstallProgress(caption, done, total);
}

void TRunLog::ResetExportProgress() {
  FView.ResetExportProgress();
}

void TRunLog::AppendLog(const QString& line) {
  Record(line);
  FView.AppendLog(line);
}

void TRunLog::ShowError(const QString& text) {
  Record(kErrorPrefix + text);
  FView.ShowError(text);
}

bool TRunLog::AskConfirm(const QString& text) {
  const bool answer = FView.AskConfirm(text);
  Record(ConfirmationText(text) + (answer ? QStringLiteral(" Да") : QStringLiteral(" Не")));
  return answer;
}

void TRunLog::ShowNotice(const QString& text) {
  Record(text);
  FView.ShowNotice(text);
}

bool TRunLog::Save() noexcept {
  try {
    QString text = QStringLiteral("===== %1, %2 =====\n").arg(FTitle, FStarted);
    for (const QString& line : FLines) text += line + QLatin1Char('\n');
    text += QLatin1Char('\n');
    const QByteArray bytes = text.toUtf8();
    // Appended: an installation from the folder the packet was generated in
    // must not erase the generation's log, nor a second installation the
    // first one's.
    QFile file(FFile);
    QString reason;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
      reason = file.errorString();
    } else if (file.write(bytes) != bytes.size() || !file.flush()) {
      reason = file.errorString();
      file.close();
    } else {
      file.close();
      if (file.error() != QFileDevice::NoError) reason = file.errorString();
    }
    if (reason.isEmpty()) return true;
    FView.AppendLog(QStringLiteral("Дневникът на процеса не е записан във файла \"%1\": %2")
                        .arg(FFile, reason));
  } catch (...) {
    // Nothing of a failing save may reach the run's own result.
  }
  return false;
}
