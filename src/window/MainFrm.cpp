#include "MainFrm.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallationRun.h"
#include "NompackError.h"
#include "OpenDialog.h"
#include "PacketLayout.h"
#include "Progress.h"
#include "QBBrowseFolderDialog.h"
#include "QBDialogs.h"
#include "QBEdit.h"
#include "QBObjectComboBox.h"
#include "XMLExplorerFrm.h"

namespace {

const QString kCaption = QStringLiteral("Генератор на инстал. ном. пакети");
// The fields start with the runs' own defaults.
const TRunSettings kDefaults;

// Geometry of the areas and the columns inside them.
constexpr int kMargin = 12;
constexpr int kLabelColumn = 92;  // labels at x 12, fields from x 104
constexpr int kRightFieldWidth = 170;
constexpr int kBrowseButton = 21;
constexpr int kActionButtonWidth = 100;
constexpr int kActionButtonHeight = 25;

// Password fields show "*" for every character.
class TPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// A button that runs an action, enabled exactly while the action is.
void BindButton(QPushButton* button, QAction* action) {
  button->setText(action->text());
  button->setEnabled(action->isEnabled());
  QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
  QObject::connect(action, &QAction::changed, button,
                   [button, action] { button->setEnabled(action->isEnabled()); });
}

// The top-level error handler: no error leaves an action handler.
template <typename Handler>
void Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowTopLevelError(QBFocus::MessageOf(e));
  }
}

}  // namespace

void TMainForm::SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("nompack"));
  QApplication::setApplicationDisplayName(kCaption);
  // Errors of the controls (an edit that cannot be left) go to the same box.
  SetErrorReportHook([](const QString& message) { ShowTopLevelError(message); });
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(kCaption);
  // The 8 point size of the form's font, in the platform's sans-serif.
  QFont formFont = QApplication::font();
  formFont.setPointSize(8);
  setFont(formFont);
  resize(722, 532);
  CentreOnScreen();

  FOpenDialog = new TOpenDialog(this);
  FOpenDialog->setObjectName(QStringLiteral("OpenDialog"));
  FOpenDialog->SetFilter(DefaultOpenFilter());
  FBrowseFolderDialog = new TQBBrowseFolderDialog(this);
  FBrowseFolderDialog->setObjectName(QStringLiteral("BrowseFolderDialog"));

  CreateActions();
  CreateControls();
  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::CentreOnScreen() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void TMainForm::showEvent(QShowEvent* event) {
  // Once more when first shown: only now is the frame around the window known.
  if (!FShown) {
    FShown = true;
    CentreOnScreen();
  }
  QMainWindow::showEvent(event);
}

QString TMainForm::DefaultOpenFilter() {
  return TOpenDialog::ExtensionFilter(QStringLiteral(".gdb"));
}

void TMainForm::CreateActions() {
  auto makeAction = [this](const char* name, const QString& caption, void (TMainForm::*handler)()) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    addAction(action);
    return action;
  };
  acBrowseFBDB = makeAction("acBrowseFBDB", QStringLiteral("..."), &TMainForm::acBrowseFBDBExecute);
  acBrowseExportFolder = makeAction("acBrowseExportFolder", QStringLiteral("..."),
                                    &TMainForm::acBrowseExportFolderExecute);
  acGenerateExport = makeAction("acGenerateExport", QStringLiteral("Генерирай"),
                                &TMainForm::acGenerateExportExecute);
  acInstallPacket = makeAction("acInstallPacket", QStringLiteral("Инсталирай"),
                               &TMainForm::acInstallPacketExecute);
  acBrowseInstallPacket = makeAction("acBrowseInstallPacket", QStringLiteral("..."),
                                     &TMainForm::acBrowseInstallPacketExecute);
  acExploreXML = makeAction("acExploreXML", QStringLiteral("XML"), &TMainForm::acExploreXMLExecute);
  // The progress calls let key presses reach the window during a run: Escape
  // there is the way to stop it. A shortcut of this window only, so that the
  // key still closes a box or the explorer as before.
  acStopRun = makeAction("acStopRun", QString(), &TMainForm::acStopRunExecute);
  acStopRun->setShortcut(QKeySequence(Qt::Key_Escape));
  acStopRun->setShortcutContext(Qt::WindowShortcut);
  acStopRun->setEnabled(false);
}

void TMainForm::CreateControls() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("MainFormClient"));
  setCentralWidget(central);
  auto* stack = new QVBoxLayout(central);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);

  auto panel = [](QWidget* parent, const char* name, int height) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setFixedHeight(height);
    return widget;
  };
  auto label = [](QWidget* parent, const char* name, const QString& caption) {
    auto* widget = new QLabel(caption, parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
  };
  auto edit = [](QWidget* parent, const char* name, const QString& text) {
    auto* widget = new TQBEdit(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->SetEditDataType(etString);
    widget->SetValue(Variant::FromString(text));
    return widget;
  };
  auto button = [](QWidget* parent, const char* name, QAction* action, QSize size) {
    auto* widget = new QPushButton(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setFixedSize(size);
    widget->setAutoDefault(false);
    BindButton(widget, action);
    return widget;
  };
  auto progress = [](QWidget* parent, const char* name) {
    auto* widget = new QProgressBar(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setRange(0, 100);
    widget->setValue(0);
    widget->setTextVisible(false);
    widget->setFixedHeight(17);
    return widget;
  };
  const QSize browseSize(kBrowseButton, kBrowseButton);
  const QSize actionSize(kActionButtonWidth, kActionButtonHeight);
  // Rows of label, field and browse button, as every panel below has them.
  auto fieldGrid = [](QWidget* parent, int verticalSpacing) {
    auto* grid = new QGridLayout(parent);
    grid->setContentsMargins(kMargin, 8, kMargin, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(verticalSpacing);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(2, kBrowseButton);
    return grid;
  };
  // Settings rows add a right-hand label and field; the same columns in both
  // settings panels so that their fields line up.
  auto settingsGrid = [&fieldGrid](QWidget* parent) {
    QGridLayout* grid = fieldGrid(parent, 6);
    grid->setColumnMinimumWidth(3, 70);
    grid->setColumnMinimumWidth(4, kRightFieldWidth);
    return grid;
  };

  // panDBType
  panDBType = panel(central, "panDBType", 33);
  lblDataBaseType = label(panDBType, "lblDataBaseType", QStringLiteral("Тип база данни :"));
  cbDataBaseType = new TQBObjectComboBox(panDBType);
  cbDataBaseType->setObjectName(QStringLiteral("cbDataBaseType"));
  cbDataBaseType->addItems(
      {QStringLiteral("MySQL"), QStringLiteral("FireBird"), QStringLiteral("MSSQL")});
  cbDataBaseType->SetKeyValues({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")});
  cbDataBaseType->setFixedWidth(145);
  cbDataBaseType->OnChange = [this](TQBObjectComboBox*) { cbDataBaseTypeChange(); };
  btnExploreXML = button(panDBType, "btnExploreXML", acExploreXML, QSize(75, kActionButtonHeight));
  {
    auto* row = new QHBoxLayout(panDBType);
    row->setContentsMargins(kMargin, 4, kMargin, 4);
    row->setSpacing(0);
    row->addWidget(lblDataBaseType);
    row->addSpacing(6);
    row->addWidget(cbDataBaseType);
    row->addStretch(1);
    row->addWidget(btnExploreXML);
  }

  // panTypeSettingsContainer with panFireBird and panMySQL
  panTypeSettingsContainer = panel(central, "panTypeSettingsContainer", 72);
  panFireBird = panel(panTypeSettingsContainer, "panFireBird", 72);
  lblFBDBHost = label(panFireBird, "lblFBDBHost", QStringLiteral("Сървър :"));
  edFBDBHost = edit(panFireBird, "edFBDBHost", kDefaults.FBDBHost);
  lblFBDBFullPath = label(panFireBird, "lblFBDBFullPath", QStringLiteral("Път до БД :"));
  // A path on the database server, kept as the server's platform writes it.
  edFBDBFullPath = edit(panFireBird, "edFBDBFullPath", kDefaults.FBDBFullPath);
  btnBrowseFBDB = button(panFireBird, "btnBrowseFBDB", acBrowseFBDB, browseSize);
  lblFBUserName = label(panFireBird, "lblFBUserName", QStringLiteral("Потребител :"));
  edFBUserName = edit(panFireBird, "edFBUserName", QStringLiteral("SYSDBA"));
  lblFBPassword = label(panFireBird, "lblFBPassword", QStringLiteral("Парола :"));
  edFBPassword = edit(panFireBird, "edFBPassword", QStringLiteral("pondglass"));
  {
    QGridLayout* grid = settingsGrid(panFireBird);
    grid->addWidget(lblFBDBHost, 0, 0);
    grid->addWidget(edFBDBHost, 0, 1);
    grid->addWidget(lblFBUserName, 0, 3);
    grid->addWidget(edFBUserName, 0, 4);
    grid->addWidget(lblFBDBFullPath, 1, 0);
    grid->addWidget(edFBDBFullPath, 1, 1);
    grid->addWidget(btnBrowseFBDB, 1, 2);
    grid->addWidget(lblFBPassword, 1, 3);
    grid->addWidget(edFBPassword, 1, 4);
  }
  panMySQL = panel(panTypeSettingsContainer, "panMySQL", 65);
  lblMySQLDBHost = label(panMySQL, "lblMySQLDBHost", QStringLiteral("Сървър :"));
  edMySQLDBHost = edit(panMySQL, "edMySQLDBHost", kDefaults.DBHost);
  lblMySQLDBName = label(panMySQL, "lblMySQLDBName", QStringLiteral("База Данни :"));
  edMySQLDBName = edit(panMySQL, "edMySQLDBName", kDefaults.DBName);
  lblMySQLUserName = label(panMySQL, "lblMySQLUserName", QStringLiteral("Потребител :"));
  edMySQLUserName = edit(panMySQL, "edMySQLUserName", kDefaults.UserName);
  lblMySQLPassword = label(panMySQL, "lblMySQLPassword", QStringLiteral("Парола :"));
  edMySQLPassword = edit(panMySQL, "edMySQLPassword", kDefaults.Password);
  {
    QGridLayout* grid = settingsGrid(panMySQL);
    grid->setContentsMargins(kMargin, 8, kMargin, 4);
    grid->addWidget(lblMySQLDBHost, 0, 0);
    grid->addWidget(edMySQLDBHost, 0, 1);
    grid->addWidget(lblMySQLUserName, 0, 3);
    grid->addWidget(edMySQLUserName, 0, 4);
    grid->addWidget(lblMySQLDBName, 1, 0);
    grid->addWidget(edMySQLDBName, 1, 1);
    grid->addWidget(lblMySQLPassword, 1, 3);
    grid->addWidget(edMySQLPassword, 1, 4);
    // Where the FireBird panel has its browse button: an empty column (or
    // a spacer) would lose its spacing and move the fields off the other
    // panel's.
    auto* placeholder = new QWidget(panMySQL);
    placeholder->setFixedSize(kBrowseButton, 1);
    grid->addWidget(placeholder, 0, 2);
  }
  auto* passwordStyle = new TPasswordStyle;
  passwordStyle->setParent(this);
  for (TQBEdit* password : {edFBPassword, edMySQLPassword}) {
    password->setEchoMode(QLineEdit::Password);
    password->setStyle(passwordStyle);
  }
  {
    auto* column = new QVBoxLayout(panTypeSettingsContainer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(panFireBird);
    column->addWidget(panMySQL);
    column->addStretch(1);
  }

  // panExport
  panExport = panel(central, "panExport", 88);
  lblExportFolderName = label(panExport, "lblExportFolderName", QStringLiteral("Път за експорт :"));
  edExportFolderName = edit(panExport, "edExportFolderName", QStringLiteral("C:\\"));
  btnBrowseExportFolder =
      button(panExport, "btnBrowseExportFolder", acBrowseExportFolder, browseSize);
  btnGenerateExport = button(panExport, "btnGenerateExport", acGenerateExport, actionSize);
  lblExtractTableName = label(panExport, "lblExtractTableName", QStringLiteral("..."));
  pbMain = progress(panExport, "pbMain");
  pbCurrentTable = progress(panExport, "pbCurrentTable");
  // Wide enough for the longest table name, so the bar does not move.
  int tableNameWidth = kLabelColumn;
  for (const QString& table : PacketLayout::PacketTables())
    tableNameWidth =
        qMax(tableNameWidth, lblExtractTableName->fontMetrics().horizontalAdvance(table));
  lblExtractTableName->setFixedWidth(tableNameWidth + 4);

  // panInstall
  panInstall = panel(central, "panInstall", 104);
  lblInstallFile = label(panInstall, "lblInstallFile", QStringLiteral("Инст. файл :"));
  edInstallFile = edit(panInstall, "edInstallFile", QString());
  btnBrowseInstallFile =
      button(panInstall, "btnBrowseInstallFile", acBrowseInstallPacket, browseSize);
  btnInstallNomPacket = button(panInstall, "btnInstallNomPacket", acInstallPacket, actionSize);
  lblInstallProgress = label(panInstall, "lblInstallProgress", QStringLiteral("..."));
  pbInstallProgress = progress(panInstall, "pbInstallProgress");

  {
    QGridLayout* grid = fieldGrid(panExport, 8);
    grid->addWidget(lblExportFolderName, 0, 0);
    grid->addWidget(edExportFolderName, 0, 1);
    grid->addWidget(btnBrowseExportFolder, 0, 2);
    grid->addWidget(btnGenerateExport, 0, 3, Qt::AlignRight);
    auto* bars = new QHBoxLayout;
    bars->setSpacing(6);
    bars->addWidget(lblExtractTableName);
    bars->addWidget(pbMain, 1);
    grid->addLayout(bars, 1, 0, 1, 4);
    grid->addWidget(pbCurrentTable, 2, 0, 1, 4);
  }
  {
    QGridLayout* grid = fieldGrid(panInstall, 8);
    grid->addWidget(lblInstallFile, 0, 0);
    grid->addWidget(edInstallFile, 0, 1);
    grid->addWidget(btnBrowseInstallFile, 0, 2);
    grid->addWidget(btnInstallNomPacket, 0, 3, Qt::AlignRight);
    grid->addWidget(lblInstallProgress, 1, 0, 1, 4);
    grid->addWidget(pbInstallProgress, 2, 0, 1, 4);
    grid->setRowStretch(3, 1);
  }
  // The right-hand button column as wide as the settings' right-hand part,
  // so that the action buttons sit at the right edge under the fields.
  for (QWidget* area : {panExport, panInstall}) {
    auto* grid = static_cast<QGridLayout*>(area->layout());
    grid->setColumnMinimumWidth(3, kActionButtonWidth);
  }

  // memLog
  memLog = new QPlainTextEdit(central);
  memLog->setObjectName(QStringLiteral("memLog"));
  memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  memLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memLog->setReadOnly(true);
  // The installation's summary and the dry run lay their counts out in
  // columns, which only a fixed-width font keeps aligned.
  memLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  // Every left-hand label as wide as the widest, so that the fields of all
  // areas start at one x.
  const QList<QLabel*> leftLabels{lblDataBaseType, lblFBDBHost,    lblFBDBFullPath,
                                  lblMySQLDBHost,  lblMySQLDBName, lblExportFolderName,
                                  lblInstallFile};
  int labelWidth = kLabelColumn;
  for (QLabel* l : leftLabels) labelWidth = qMax(labelWidth, l->sizeHint().width());
  for (QLabel* l : leftLabels) l->setFixedWidth(labelWidth);
  const QList<QLabel*> rightLabels{lblFBUserName, lblFBPassword, lblMySQLUserName,
                                   lblMySQLPassword};
  int rightLabelWidth = 70;
  for (QLabel* l : rightLabels) rightLabelWidth = qMax(rightLabelWidth, l->sizeHint().width());
  for (QLabel* l : rightLabels) l->setFixedWidth(rightLabelWidth);
  for (TQBEdit* e : {edFBUserName, edFBPassword, edMySQLUserName, edMySQLPassword})
    e->setFixedWidth(kRightFieldWidth);

  stack->addWidget(panDBType);
  stack->addWidget(panTypeSettingsContainer);
  stack->addWidget(panExport);
  stack->addWidget(panInstall);
  stack->addWidget(memLog, 1);

  // The colours set above are the ones the edits restore on leaving.
  for (TQBEdit* e : findChildren<TQBEdit*>()) e->Loaded();
  cbDataBaseType->Loaded();
}

void TMainForm::FormCreate() {
  cbDataBaseType->SetKeyValue(0);
  UpdateDBTypePanels();
  FPacketFolder.clear();
  edExportFolderName->setText(
      AddTrailingBackslash(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())));
}

void TMainForm::SetDataModule(TDM* dm) {
  FDM = dm;
  FGenerationRun.reset();
  FInstallationRun.reset();
  FContext.reset();
  if (!dm) return;
  FContext.reset(new TRunContext{
      *dm, *this, [this] { return CurrentSettings(); }, FPacketFolder,
      AddTrailingBackslash(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()))});
  FGenerationRun = std::make_unique<TGenerationRun>(*FContext);
  FInstallationRun = std::make_unique<TInstallationRun>(*FContext);
}

TRunSettings TMainForm::CurrentSettings() const {
  TRunSettings settings;
  settings.DataBaseType = DataBaseTypeFromIndex(cbDataBaseType->currentIndex());
  settings.ExportFolder = edExportFolderName->text();
  settings.FBDBHost = edFBDBHost->text();
  settings.FBDBFullPath = edFBDBFullPath->text();
  settings.DBHost = edMySQLDBHost->text();
  settings.DBName = edMySQLDBName->text();
  settings.UserName = edMySQLUserName->text();
  settings.Password = edMySQLPassword->text();
  settings.InstallFile = edInstallFile->text();
  return settings;
}

void TMainForm::cbDataBaseTypeChange() {
  UpdateDBTypePanels();
}

void TMainForm::UpdateDBTypePanels() {
  const int index = cbDataBaseType->currentIndex();
  panFireBird->setVisible(index == 1);
  const bool mySQLPanel = index == 0 || index == 2;
  panMySQL->setVisible(mySQLPanel);
  if (mySQLPanel)
    edMySQLUserName->setText(index == 0 ? QStringLiteral("root") : QStringLiteral("sa"));
  // The stacked areas follow by themselves: the layout places the export
  // area directly under the settings area whichever panel is shown.
}

// ---------------------------------------------------------------- actions

// Sets the dialog's filter to the star pattern of an extension and puts the
// default back when it goes out of scope, on every path, so that no action
// leaves the dialog with a foreign filter.
class TMainForm::TFilterScope {
 public:
  TFilterScope(TOpenDialog& dialog, const QString& extension) : FDialog(dialog) {
    FDialog.SetFilter(TOpenDialog::ExtensionFilter(extension));
  }
  ~TFilterScope() { FDialog.SetFilter(DefaultOpenFilter()); }
  TFilterScope(const TFilterScope&) = delete;
  TFilterScope& operator=(const TFilterScope&) = delete;

 private:
  TOpenDialog& FDialog;
};

QString TMainForm::PickFile(const QString& extension) {
  TFilterScope filter(*FOpenDialog, extension);
  return FOpenDialog->Execute() ? FOpenDialog->FileName() : QString();
}

void TMainForm::acBrowseFBDBExecute() {
  Guarded([this] {
    const QString file = PickFile(QStringLiteral(".gdb"));
    if (!file.isEmpty()) edFBDBFullPath->setText(file);
  });
}

void TMainForm::acBrowseExportFolderExecute() {
  Guarded([this] {
    // No separator is added here; the generation run adds it.
    if (FBrowseFolderDialog->Execute()) edExportFolderName->setText(FBrowseFolderDialog->Folder());
  });
}

void TMainForm::acBrowseInstallPacketExecute() {
  Guarded([this] {
    // A target is offered the packets of the other kind: a MySQL target the
    // FireBird packets, a FireBird target the MySQL packets.
    const DataBaseType target = DataBaseTypeFromIndex(cbDataBaseType->currentIndex());
    const DataBaseType source = target == DataBaseType::MySQL      ? DataBaseType::FireBird
                                : target == DataBaseType::FireBird ? DataBaseType::MySQL
                                                                   : DataBaseType::MSSQL;
    const QString file = PickFile(DataBasePacketExtension(source));
    if (!file.isEmpty()) edInstallFile->setText(file);
  });
}

void TMainForm::acExploreXMLExecute() {
  // A file that does not load reaches the top-level handler after the
  // filter has been put back.
  Guarded([this] {
    TFilterScope filter(*FOpenDialog, QStringLiteral(".xml"));
    if (FOpenDialog->Execute()) ShowXMLExplorer(FOpenDialog->FileName(), this);
  });
}

void TMainForm::SetActionsEnabled(bool enabled) {
  for (QAction* action : {acBrowseFBDB, acBrowseExportFolder, acGenerateExport, acInstallPacket,
                          acBrowseInstallPacket, acExploreXML})
    action->setEnabled(enabled);
}

void TMainForm::acStopRunExecute() {
  // Re-entrancy guard: the question's own event loop lets a second Escape
  // through to the window while the first question is open.
  if (!FRunning || FAskingStop || StopRequested()) return;
  TReentrancyGuard asking(FAskingStop);
  const QString consequence =
      FGenerating
          ? QStringLiteral("Генерирането ще бъде спряно и незавършеният пакет ще бъде изтрит.")
          : QStringLiteral(
                "Инсталирането ще бъде спряно и промените в базата данни ще бъдат отменени.");
  // The run waits inside its progress call while the question is open.
  if (AskConfirm(consequence + QStringLiteral("\r\nДа се спре ли процесът?")) && FRunning)
    RequestStop();
}

template <typename Run>
void TMainForm::RunGuarded(bool generating, Run run) {
  if (!FContext) {
    ShowTopLevelError(QStringLiteral("The data module is not created"));
    return;
  }
  // Re-entrancy guard. The progress calls let queued events run, so a press
  // of any action during a run would start it inside this one (a second run
  // on the same connections, a file dialog changing the filter mid-run);
  // the actions stay disabled until the run ends, however it ends.
  struct TRunScope {
    TMainForm& Form;
    TReentrancyGuard Guard;  // released last, after the actions are back
    explicit TRunScope(TMainForm& form, bool generating) : Form(form), Guard(form.FRunning) {
      Form.SetActionsEnabled(false);
      Form.FContext->PacketFolder = Form.FPacketFolder;
      // A stop asked of an earlier run is not this one's.
      Form.ClearStopRequest();
      Form.FGenerating = generating;
      Form.acStopRun->setEnabled(true);
    }
    ~TRunScope() {
      Form.acStopRun->setEnabled(false);
      Form.FPacketFolder = Form.FContext->PacketFolder;
      Form.SetActionsEnabled(true);
    }
  };
  QString failure;
  QString context;
  bool failed = false;
  {
    TRunScope scope(*this, generating);
    try {
      run();
    } catch (const std::exception& e) {
      failed = true;
      failure = QBFocus::MessageOf(e);
      // Where it happened ("exporting ARTICLE, chunk 3") goes to the log, for
      // the technician; the box keeps the message the user is promised.
      if (const auto* error = dynamic_cast<const ENompackError*>(&e))
        context = error->ContextText();
    }
  }
  if (!context.isEmpty()) memLog->appendPlainText(context);
  if (failed) ShowTopLevelError(failure);
}

void TMainForm::acGenerateExportExecute() {
  if (FRunning) return;
  RunGuarded(true, [this] { FGenerationRun->GenerateExport(); });
}

void TMainForm::acInstallPacketExecute() {
  if (FRunning) return;
  RunGuarded(false, [this] { FInstallationRun->InstallPacket(); });
}

// --------------------------------------------------------------- IAppView

void TMainForm::ShowMainProgress(const QString& caption, int done, int total) {
  pbMain->setValue(qBound(0, ProgressPosition(done, total), 100));
  lblExtractTableName->setText(caption);
  QCoreApplication::processEvents();
}

void TMainForm::ShowTableProgress(int done, int total) {
  pbCurrentTable->setValue(qBound(0, ProgressPosition(done, total), 100));
  QCoreApplication::processEvents();
}

void TMainForm::ShowInstallProgress(const QString& caption, int done, int total) {
  if (done == 0) memLog->appendPlainText(caption);
  pbInstallProgress->setValue(qBound(0, ProgressPosition(done, total), 100));
  lblInstallProgress->setText(caption);
  QCoreApplication::processEvents();
}

void TMainForm::AppendLog(const QString& line) {
  memLog->appendPlainText(line);
}

void TMainForm::ShowError(const QString& text) {
  ::ShowError(text, mbOK);
}

bool TMainForm::AskConfirm(const QString& text) {
  return ::AskConfirm(text, mtConfirmation);
}

void TMainForm::ShowNotice(const QString& text) {
  MsgDlg(text, mtCustom, mbOK);
}
