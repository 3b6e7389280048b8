// nompack-cli: the generation and installation runs, and the installation's
// dry run, without the window.
#include <QCoreApplication>
#include <QFileInfo>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "CliCommandLine.h"
#include "CliView.h"
#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallationRun.h"
#include "NompackError.h"
#include "PacketLayout.h"

namespace {

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

// The view's stop request, for the signal handler; null when no run can
// take it.
std::atomic<std::atomic<bool>*> StopFlag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

void RequestStop(int /*signal*/) {
  // Only lock-free atomics: nothing else is safe inside a handler.
  if (std::atomic<bool>* flag = StopFlag.load()) flag->store(true);
}

// Ctrl+C and TERM ask the run to stop at its next progress point: an
// installation rolls back what it changed, a generation removes the packet
// it had begun. The handler goes after the first signal, so a second one
// ends the program at once (the server then undoes an open transaction
// itself; a generation's folder stays). Before the view goes, the signals
// get their default back: a late one must not write into a view that no
// longer exists.
class TStopOnSignals {
 public:
  explicit TStopOnSignals(IAppView& view) {
    StopFlag.store(&view.StopFlag());
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
  ~TStopOnSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    StopFlag.store(nullptr);
  }
  TStopOnSignals(const TStopOnSignals&) = delete;
  TStopOnSignals& operator=(const TStopOnSignals&) = delete;
};

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("nompack-cli"));

  QCoreApplication::setApplicationVersion(QStringLiteral(NOMPACK_VERSION));

  TCliCommandLine line;
  if (const int exitCode = line.Read(QCoreApplication::arguments()); exitCode >= 0) return exitCode;
  const int kindIndex = line.KindIndex();
  const bool generating = line.Command() == TCliCommandLine::cmGenerate;

  TRunSettings settings;
  settings.DataBaseType = DataBaseTypeFromIndex(kindIndex);
  if (kindIndex == 2) settings.UserName = QStringLiteral("sa");
  if (line.IsSet(QStringLiteral("host"))) {
    settings.FBDBHost = line.Value(QStringLiteral("host"));
    settings.DBHost = line.Value(QStringLiteral("host"));
  }
  if (line.IsSet(QStringLiteral("database")))
    settings.DBName = line.Value(QStringLiteral("database"));
  if (line.IsSet(QStringLiteral("user"))) settings.UserName = line.Value(QStringLiteral("user"));
  if (const auto password = line.Password()) settings.Password = *password;
  if (line.IsSet(QStringLiteral("fb-path")))
    settings.FBDBFullPath = line.Value(QStringLiteral("fb-path"));
  settings.ExportFolder = line.Value(QStringLiteral("out"));
  settings.InstallFile = line.Value(QStringLiteral("packet"));

  // A generation's stdout is the packet file's path alone, for scripts that
  // take it whole; its log (the summary) goes to stderr with the progress.
  TCliView view(line.IsSet(QStringLiteral("reuse")), generating ? stderr : stdout, stderr);
  TDM dm(view);
  TRunContext context{dm, view, [settings] { return settings; }, QString(),
                      AddTrailingBackslash(QCoreApplication::applicationDirPath())};
  const TStopOnSignals stopOnSignals(view);
  try {
    if (generating) {
      TGenerationRun run(context);
      run.GenerateExport();
      view.FinishLine();
      if (run.LastPacketFile().isEmpty()) return ecFailed;
      Print(stdout, run.LastPacketFile());
      return ecSuccess;
    }
    TInstallationRun run(context);
    if (line.Command() == TCliCommandLine::cmCheck) {
      run.CheckPacket();
      view.FinishLine();
      if (!run.LastRunCompleted()) return ecFailed;
      return run.LastWouldRefuse() > 0 ? ecWithErrors : ecSuccess;
    }
    run.InstallPacket();
    view.FinishLine();
    if (!run.LastRunCompleted()) return ecFailed;
    // Committed, but the target does not hold what was loaded: no script
    // may take that for a warning.
    if (run.LastVerdict() == TInstallSummary::TVerdict::Mismatch ||
        run.LastVerdict() == TInstallSummary::TVerdict::Unverified)
      return ecDataMismatch;
    return view.ErrorCount() > 0 || run.LastRefusedRows() > 0 ? ecWithErrors : ecSuccess;
  } catch (const ENompackError& e) {
    view.ShowError(TopLevelErrorText(e.Message()));
    // Where it happened ("exporting ARTICLE, chunk 3"), for the technician.
    if (!e.Context().isEmpty()) Print(stderr, QStringLiteral("  ") + e.ContextText());
    return ecFailed;
  } catch (const std::exception& e) {
    view.ShowError(TopLevelErrorText(QString::fromLocal8Bit(e.what())));
    return ecFailed;
  }
}
