#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>

#include "AppView.h"
#include "RunContext.h"

class QAction;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class TDM;
class TGenerationRun;
class TInstallationRun;
class TOpenDialog;
class TQBBrowseFolderDialog;
class TQBEdit;
class TQBObjectComboBox;

// The main window: every setting of the two runs as fields with fixed
// defaults, the browse actions, the two runs, the chunk file explorer, and
// the progress area the runs report to (it is their IAppView).
class TMainForm : public QMainWindow, public IAppView {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // The program's name and title, which message boxes show as their
  // caption, and the controls' error reports routed to the top-level error
  // box. Called once, after the application object exists.
  static void SetUpApplication();

  // The data module exists only after the window (it reports through it);
  // the runs are wired to it here.
  void SetDataModule(TDM* dm);

  // IAppView: each progress call processes pending events before it returns.
  void ShowMainProgress(const QString& caption, int done, int total) override;
  void ShowTableProgress(int done, int total) override;
  void ShowInstallProgress(const QString& caption, int done, int total) override;
  void AppendLog(const QString& line) override;
  void ShowError(const QString& text) override;
  bool AskConfirm(const QString& text) override;
  void ShowNotice(const QString& text) override;

  // Event handlers. The action handlers end every error at their edge in the
  // top-level error box; nothing leaves them.
  void FormCreate();
  void cbDataBaseTypeChange();
  void acBrowseFBDBExecute();
  void acBrowseExportFolderExecute();
  void acGenerateExportExecute();
  void acInstallPacketExecute();
  void acBrowseInstallPacketExecute();
  void acExploreXMLExecute();
  // Escape during a run: asks whether to stop it, and on Yes asks the run
  // to stop at its next progress point.
  void acStopRunExecute();

  // The settings as the fields hold them at this moment.
  TRunSettings CurrentSettings() const;
  const QString& PacketFolder() const { return FPacketFolder; }
  TOpenDialog& OpenDialog() const { return *FOpenDialog; }
  TQBBrowseFolderDialog& BrowseFolderDialog() const { return *FBrowseFolderDialog; }
  TGenerationRun* GenerationRun() const { return FGenerationRun.get(); }
  TInstallationRun* InstallationRun() const { return FInstallationRun.get(); }
  // True while a generation or installation run is in progress.
  bool Running() const { return FRunning; }

  // The default filter of the open-file dialog.
  static QString DefaultOpenFilter();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Areas
  QWidget* panDBType = nullptr;
  QWidget* panTypeSettingsContainer = nullptr;
  QWidget* panFireBird = nullptr;
  QWidget* panMySQL = nullptr;
  QWidget* panExport = nullptr;
  QWidget* panInstall = nullptr;
  QPlainTextEdit* memLog = nullptr;
  // Controls
  QLabel* lblDataBaseType = nullptr;
  TQBObjectComboBox* cbDataBaseType = nullptr;
  QPushButton* btnExploreXML = nullptr;
  QLabel* lblFBDBHost = nullptr;
  TQBEdit* edFBDBHost = nullptr;
  QLabel* lblFBDBFullPath = nullptr;
  TQBEdit* edFBDBFullPath = nullptr;
  QPushButton* btnBrowseFBDB = nullptr;
  QLabel* lblFBUserName = nullptr;
  TQBEdit* edFBUserName = nullptr;
  QLabel* lblFBPassword = nullptr;
  TQBEdit* edFBPassword = nullptr;
  QLabel* lblMySQLDBHost = nullptr;
  TQBEdit* edMySQLDBHost = nullptr;
  QLabel* lblMySQLDBName = nullptr;
  TQBEdit* edMySQLDBName = nullptr;
  QLabel* lblMySQLUserName = nullptr;
  TQBEdit* edMySQLUserName = nullptr;
  QLabel* lblMySQLPassword = nullptr;
  TQBEdit* edMySQLPassword = nullptr;
  QLabel* lblExportFolderName = nullptr;
  TQBEdit* edExportFolderName = nullptr;
  QPushButton* btnBrowseExportFolder = nullptr;
  QPushButton* btnGenerateExport = nullptr;
  QLabel* lblExtractTableName = nullptr;
  QProgressBar* pbMain = nullptr;
  QProgressBar* pbCurrentTable = nullptr;
  QLabel* lblInstallFile = nullptr;
  TQBEdit* edInstallFile = nullptr;
  QPushButton* btnBrowseInstallFile = nullptr;
  QPushButton* btnInstallNomPacket = nullptr;
  QLabel* lblInstallProgress = nullptr;
  QProgressBar* pbInstallProgress = nullptr;
  // alMain
  QAction* acBrowseFBDB = nullptr;
  QAction* acBrowseExportFolder = nullptr;
  QAction* acGenerateExport = nullptr;
  QAction* acInstallPacket = nullptr;
  QAction* acBrowseInstallPacket = nullptr;
  QAction* acExploreXML = nullptr;
  QAction* acStopRun = nullptr;  // enabled only while a run goes
  // Non-visual parts
  TOpenDialog* FOpenDialog = nullptr;
  TQBBrowseFolderDialog* FBrowseFolderDialog = nullptr;

  QString FPacketFolder;
  TDM* FDM = nullptr;
  std::unique_ptr<TRunContext> FContext;
  std::unique_ptr<TGenerationRun> FGenerationRun;
  std::unique_ptr<TInstallationRun> FInstallationRun;
  bool FRunning = false;
  bool FShown = false;
  // What the stop question says: which run goes.
  bool FGenerating = false;
  bool FAskingStop = false;  // the stop question is open

  void CentreOnScreen();
  void CreateControls();
  void CreateActions();
  void UpdateDBTypePanels();
  // Runs one of the two runs with the actions disabled.
  template <typename Run>
  void RunGuarded(bool generating, Run run);
  void SetActionsEnabled(bool enabled);
  class TFilterScope;
  // Runs the open-file dialog with the extension's filter and restores the
  // default filter on every path; the chosen file, or empty.
  QString PickFile(const QString& extension);
};
