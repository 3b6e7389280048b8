#include "InstallationRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#include "AppMiscFiles.h"
#include "AppView.h"
#include "Archiver.h"
#include "DataModule.h"
#include "InstallDriver.h"
#include "LoadTarget.h"
#include "NompackError.h"
#include "PacketCheck.h"
#include "PacketDryRun.h"
#include "PacketLayout.h"
#include "QBMisc.h"
#include "ReusedFolderCheck.h"
#include "RunLog.h"

namespace {

// Leading and trailing blanks and control characters go, as when the field's
// text is trimmed.
QString TrimControls(const QString& text) {
  qsizetype start = 0, end = text.size();
  while (start < end && text[start].unicode() <= 0x20) ++start;
  while (end > start && text[end - 1].unicode() <= 0x20) --end;
  return text.mid(start, end - start);
}

bool IsPacketFileName(const QString& name) {
  static const QRegularExpression chunk(QStringLiteral("^.+\\[[-+]?[0-9]+\\]\\.xml$"),
                                        QRegularExpression::CaseInsensitiveOption);
  return name.compare(PacketLayout::kDescriptorFileName, Qt::CaseInsensitive) == 0 ||
         chunk.match(name).hasMatch();
}

}  // namespace

TInstallationRun::TInstallationRun(TRunContext& context) : FContext(context) {}

QString TInstallationRun::GetFBConnectString() const {
  return FBConnectString(FContext.Settings());
}

bool TInstallationRun::CheckInstallFile() {
  const TRunSettings settings = FContext.Settings();
  if (TrimControls(settings.InstallFile).isEmpty()) {
    FContext.View.ShowError(QStringLiteral("Изберете файл!"));
    return false;
  }
  if (!QFileInfo(settings.InstallFile).isFile()) {
    FContext.View.ShowError(
        QStringLiteral("Файлът \"%1\" не съществува!").arg(settings.InstallFile));
    return false;
  }
  return true;
}

void TInstallationRun::InstallPacket() {
  if (FRunning) return;
  FLastRunCompleted = false;
  FLastRefusedRows = 0;
  FLastVerdict = TInstallSummary::TVerdict::None;
  if (!CheckInstallFile()) return;
  InstallKind(FContext.Settings().DataBaseType);
}

void TInstallationRun::CheckPacket() {
  if (FRunning) return;
  FLastRunCompleted = false;
  FLastWouldRefuse = 0;
  if (!CheckInstallFile()) return;
  const DataBaseType kind = FContext.Settings().DataBaseType;
  RunLogged(QStringLiteral("Проверка на пакет"), [this, kind] { CheckKindLogged(kind); });
}

void TInstallationRun::InstallMySQLPacket() {
  InstallKind(DataBaseType::MySQL);
}
void TInstallationRun::InstallFBPacket() {
  InstallKind(DataBaseType::FireBird);
}
void TInstallationRun::InstallMSSQLPacket() {
  InstallKind(DataBaseType::MSSQL);
}

void TInstallationRun::InstallKind(DataBaseType kind) {
  RunLogged(QStringLiteral("Инсталиране на пакет"), [this, kind] { InstallKindLogged(kind); });
}

void TInstallationRun::RunLogged(const QString& title, const std::function<void()>& body) {
  if (FRunning) return;
  TReentrancyGuard guard(FRunning);
  FLastRunCompleted = false;
  FLastRefusedRows = 0;
  FLastVerdict = TInstallSummary::TVerdict::None;
  FLastWouldRefuse = 0;
  TRunLog log(FContext.DM, FContext.View, title);
  // Beside the packet; a run started without a packet file (the kind's
  // entry points skip the file checks) has nowhere to put it.
  const QString packetFile = FContext.Settings().InstallFile;
  if (!TrimControls(packetFile).isEmpty()) log.SetFile(packetFile + QStringLiteral(".log"));
  FView = &log;
  struct TViewReset {
    IAppView*& View;
    ~TViewReset() { View = nullptr; }
  } viewReset{FView};
  try {
    body();
  } catch (const std::exception& e) {
    log.RecordFailure(e);
    throw;
  }
}

void TInstallationRun::InstallKindLogged(DataBaseType kind) {
  TDM& dm = FContext.DM;
  IAppView& view = View();
  const TRunSettings settings = FContext.Settings();
  QString errorText;

  // Connected before anything is unpacked: a refused connection leaves the
  // disk as it was.
  if (!dm.Connect(kind, ConnectParams(settings), errorText)) {
    view.ShowError(errorText);
    return;
  }

  // No cleanup and no loader for an MSSQL target: the run ends with the
  // descriptor check.
  const std::unique_ptr<TLoadTarget> target = MakeLoadTarget(kind, dm, view);
  TPacketContents contents;
  const QString descriptorPath = PreparePacket(target.get(), contents);
  if (descriptorPath.isEmpty()) return;
  if (target) {
    TInstallDriver driver(dm, view);
    const bool ok =
        driver.InstallPacket(*target, FContext.PacketFolder, descriptorPath, contents, errorText);
    FLastRefusedRows = driver.RefusedRows();
    if (!ok) {
      // The log, too, says what became of the target.
      if (driver.Stopped()) view.AppendLog(TInstallDriver::UnchangedText());
      view.ShowError(errorText);
      return;
    }
    WriteSummary(driver.Summary());
  }
  FLastRunCompleted = true;
}

void TInstallationRun::WriteSummary(const TInstallSummary& summary) {
  IAppView& view = View();
  FLastVerdict = summary.Verdict();
  for (const QString& line : summary.TableLines()) view.AppendLog(line);
  const QString error = summary.ErrorText();
  if (!error.isEmpty()) view.ShowError(error);
  view.AppendLog(summary.VerdictLine());
}

void TInstallationRun::CheckKindLogged(DataBaseType kind) {
  TDM& dm = FContext.DM;
  IAppView& view = View();
  const TRunSettings settings = FContext.Settings();
  const std::unique_ptr<TLoadTarget> target = MakeLoadTarget(kind, dm, view);
  // Nothing is installed into MSSQL, so nothing can be tried there.
  if (!target) {
    view.ShowError(
        QStringLiteral("Пакет може да бъде проверен само спрямо база данни MySQL или FireBird."));
    return;
  }
  QString errorText;
  if (!dm.Connect(kind, ConnectParams(settings), errorText)) {
    view.ShowError(errorText);
    return;
  }
  TPacketContents contents;
  if (PreparePacket(target.get(), contents).isEmpty()) return;
  TPacketDryRun dryRun(*target, view);
  try {
    dryRun.CheckRows(AddTrailingBackslash(FContext.PacketFolder), contents);
  } catch (const ENompackError& e) {
    view.ShowError(e.Message());
    return;
  }
  for (const QString& line : dryRun.TableLines()) view.AppendLog(line);
  view.AppendLog(dryRun.VerdictLine());
  FLastWouldRefuse = dryRun.WouldRefuse();
  FLastRunCompleted = true;
}

QString TInstallationRun::PreparePacket(TLoadTarget* target, TPacketContents& contents) {
  IAppView& view = View();
  FExamineChunks = target != nullptr;
  const bool unpacked = UnpackPacket(FContext.Settings().InstallFile);
  FExamineChunks = false;
  // The findings serve this run's check only.
  struct TFindingsReset {
    TChunkFindings& Findings;
    ~TFindingsReset() { Findings.Clear(); }
  } findingsReset{FExtracted};
  if (!unpacked) return QString();
  const QString descriptorPath =
      AddTrailingBackslash(FContext.PacketFolder) + PacketLayout::kDescriptorFileName;
  if (!QFileInfo(descriptorPath).isFile()) {
    view.ShowError(QStringLiteral("Не е открит файл с описание на пакетите!"));
    return QString();
  }
  if (!target) return descriptorPath;
  // Every chunk file is read, and the target's tables and columns compared
  // with them, before the cleanup: a packet that cannot be loaded whole is
  // refused while the target still holds its data.
  QString errorText;
  if (!TPacketCheck(view).CheckPacket(AddTrailingBackslash(FContext.PacketFolder), descriptorPath,
                                      contents, errorText, &FExtracted) ||
      !target->CheckTargetShape(contents, errorText)) {
    view.ShowError(errorText);
    return QString();
  }
  return descriptorPath;
}

QStringList TInstallationRun::ForeignEntries(const QString& folder,
                                             const QStringList& packetNames) {
  QStringList foreign;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    const QFileInfo info = it.fileInfo();
    if (info.isSymLink()) {
      foreign.append(info.fileName() + QStringLiteral(" ->"));
    } else if (info.isDir()) {
      foreign.append(info.fileName() + QDir::separator());
    } else if (!info.isFile() ||
               (!IsPacketFileName(info.fileName()) && !packetNames.contains(info.fileName()))) {
      foreign.append(info.fileName());
    }
  }
  foreign.sort();
  return foreign;
}

bool TInstallationRun::UnpackPacket(const QString& packetFile) {
  IAppView& view = View();
  const QString folder = PacketLayout::UnpackFolder(packetFile);
  FContext.PacketFolder = folder;
  FExtracted.Clear();
  if (QFileInfo(folder).isDir()) {
    if (GetFileCount(folder) > 0 &&
        view.AskConfirm(QStringLiteral(
            "Вече съществува разархивиран пакет с инсталационни данни.\r\n"
            "Желаете ли да ги използвате и да пропуснете процеса на разархивиране?"))) {
      const QString reuseError = ReusedFolderError(packetFile, folder);
      if (reuseError.isEmpty()) return true;
      view.ShowError(reuseError);
      return false;
    }
    // The folder goes only when it holds nothing but what a packet unpacks
    // to: a packet named like a folder of other files must not take them
    // with it.
    // What the packet unpacks to counts as its own, whatever the names.
    QMap<QString, qint64> entries;
    QString listError;
    const QStringList packetNames =
        TArchiver::ListArchive(packetFile, entries, listError) ? entries.keys() : QStringList();
    const QStringList foreign = ForeignEntries(folder, packetNames);
    if (!foreign.isEmpty()) {
      const int shown = 5;
      QString names = foreign.mid(0, shown).join(QStringLiteral(", "));
      if (foreign.size() > shown) names += QStringLiteral(", ...");
      view.ShowError(QStringLiteral("Папката \"%1\" съдържа и файлове, които не са от пакет (%2), "
                                    "затова не е изтрита и пакетът не е разархивиран.")
                         .arg(folder, names));
      return false;
    }
    DeleteFolder(folder);
  }
  QDir().mkdir(folder);
  QString errorText;
  // Each chunk is checked from its bytes once its file is written, on the
  // thread that writes the files, instead of being read back. Nothing else
  // touches the findings until the extraction is over.
  const QString filePrefix = AddTrailingBackslash(folder);
  const TArchiver::TEntrySink examine = [this, &filePrefix](const QString& name,
                                                            const QByteArray& bytes) {
    FExtracted.Examine(name, filePrefix + name, bytes);
  };
  if (!TArchiver(FContext.ProgramFolder)
           .ExtractPacket(packetFile, folder, errorText,
                          FExamineChunks ? examine : TArchiver::TEntrySink())) {
    // A packet extracted in part would install in part.
    view.ShowError(errorText);
    return false;
  }
  return true;
}
