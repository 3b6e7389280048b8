#include "XMLExplorerFrm.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

#include "NompackError.h"
#include "PacketManifest.h"
#include "QBDialogs.h"
#include "XMLDataGrid.h"
#include "XMLDataModel.h"
#include "XMLFieldDelegate.h"

namespace {

const QString kExpiryDateField = QStringLiteral("EXPIRY_DATE");

// Handlers run inside the explorer's modal loop: nothing may leave them.
template <typename Handler>
void Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ReportError(QBFocus::MessageOf(e));
  }
}

QFont FormFont() {
  QFont font = QApplication::font();
  font.setPointSize(8);
  return font;
}

}  // namespace

TXMLExplorerForm::TXMLExplorerForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("XMLExplorerForm"));
  setWindowTitle(QStringLiteral("XMLExplorerForm"));
  setFont(FormFont());
  resize(870, 640);
  setSizeGripEnabled(false);

  dsXMLFileData = new TXMLDataModel(cdsXMLFileData, this);
  dsXMLFileData->setObjectName(QStringLiteral("dsXMLFileData"));

  dgrXMLFileData = new TXMLDataGrid(this);
  dgrXMLFileData->setObjectName(QStringLiteral("dgrXMLFileData"));
  dgrXMLFileData->setModel(dsXMLFileData);
  dgrXMLFileData->setItemDelegate(new TXMLFieldDelegate(cdsXMLFileData, dgrXMLFileData));

  panBottom = new QWidget(this);
  panBottom->setObjectName(QStringLiteral("panBottom"));
  panBottom->setFixedHeight(62);
  btnSaveXMLFile = new QPushButton(QStringLiteral("Запази"), panBottom);
  btnSaveXMLFile->setObjectName(QStringLiteral("btnSaveXMLFile"));
  btnSaveXMLFile->setFixedSize(116, 25);
  auto* bottomLayout = new QHBoxLayout(panBottom);
  bottomLayout->setContentsMargins(0, 20, 22, 17);
  bottomLayout->addStretch();
  bottomLayout->addWidget(btnSaveXMLFile, 0, Qt::AlignTop);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(dgrXMLFileData, 1);
  layout->addWidget(panBottom);

  acSaveXMLFile = new QAction(QStringLiteral("Запази"), this);
  acSaveXMLFile->setObjectName(QStringLiteral("acSaveXMLFile"));
  connect(acSaveXMLFile, &QAction::triggered, this, &TXMLExplorerForm::acSaveXMLFileExecute);
  connect(btnSaveXMLFile, &QPushButton::clicked, acSaveXMLFile, &QAction::trigger);
  btnSaveXMLFile->setAutoDefault(false);

  // Bound to no button or menu: the shortcut is its only trigger.
  acDateCheck = new QAction(QStringLiteral("acDateCheck"), this);
  acDateCheck->setObjectName(QStringLiteral("acDateCheck"));
  acDateCheck->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  acDateCheck->setShortcutContext(Qt::WindowShortcut);
  addAction(acDateCheck);
  connect(acDateCheck, &QAction::triggered, this, &TXMLExplorerForm::acDateCheckExecute);

  connect(dgrXMLFileData->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            if (!current.isValid()) return;
            Guarded([&] {
              cdsXMLFileData.SetRecNo(current.row() + 1);
              cdsXMLFileDataAfterScroll();
            });
          });
  // The message box waits until the editor has closed: a modal box opened
  // while the grid is still committing would commit the same text again.
  connect(dsXMLFileData, &TXMLDataModel::EditFailed, this, [this](const QString& message) {
    FEditFailed = true;
    QTimer::singleShot(0, this, [message] { ReportError(message); });
  });
}

TXMLExplorerForm::~TXMLExplorerForm() {
  // The grid and its model read the dataset, a member that dies before the
  // widget base class hides (and so repaints) the children.
  delete dgrXMLFileData;
  delete dsXMLFileData;
}

void TXMLExplorerForm::OpenFile(const QString& fileName) {
  setWindowTitle(fileName);
  FFileName = fileName;
  cdsXMLFileData.LoadFromFile(fileName);
  if (!cdsXMLFileData.Active()) cdsXMLFileData.Open();
  cdsXMLFileData.First();
  dsXMLFileData->Reload();
  dgrXMLFileData->resizeColumnsToContents();
  for (int column = 0; column < dsXMLFileData->columnCount(); ++column) {
    if (dgrXMLFileData->columnWidth(column) > 300) dgrXMLFileData->setColumnWidth(column, 300);
  }
  FollowCursor();
}

void TXMLExplorerForm::FollowCursor() {
  if (cdsXMLFileData.IsEmpty()) return;
  const int row = cdsXMLFileData.RecNo() - 1;
  const int column = qMax(dgrXMLFileData->currentIndex().column(), 0);
  const QModelIndex index = dsXMLFileData->index(row, column);
  if (dgrXMLFileData->currentIndex() == index) {
    cdsXMLFileDataAfterScroll();
  } else {
    dgrXMLFileData->setCurrentIndex(index);
  }
}

void TXMLExplorerForm::cdsXMLFileDataAfterScroll() {
  if (cdsXMLFileData.IsEmpty()) return;
  setWindowTitle(FFileName + QLatin1Char(' ') + QString::number(cdsXMLFileData.RecNo()));
}

bool TXMLExplorerForm::CommitPendingEdit() {
  FEditFailed = false;
  dgrXMLFileData->CommitPendingEdit();
  return !FEditFailed;
}

void TXMLExplorerForm::acSaveXMLFileExecute() {
  Guarded([this] {
    if (!CommitPendingEdit()) return;
    if (!cdsXMLFileData.Active()) {
      ShowError(QStringLiteral("Източникът на данни не е отворен!"));
      return;
    }
    const auto state = cdsXMLFileData.DataSetState();
    if (state == TClientDataSet::State::Edit || state == TClientDataSet::State::Insert)
      cdsXMLFileData.Post();
    cdsXMLFileData.SaveToFile(FFileName, TDataPacketFormat::Utf8);
    // The installer refuses a chunk that differs from the packet's manifest;
    // a repaired chunk is recorded there so that it still installs.
    try {
      UpdateManifestForChunk(FFileName, cdsXMLFileData.RecordCount());
    } catch (const ENompackError& e) {
      ShowError(QStringLiteral("Промените са записани, но файлът %1 не е обновен и пакетът "
                               "няма да се инсталира: %2")
                    .arg(TPacketManifest::kFileName, e.Message()));
      return;
    }
    MsgDlg(QStringLiteral("Промените са записани!"), mtInformation, mbOK);
  });
}

void TXMLExplorerForm::acDateCheckExecute() {
  Guarded([this] {
    if (!CommitPendingEdit()) return;
    const int field = cdsXMLFileData.FindField(kExpiryDateField);
    if (field < 0) {
      ShowError(QStringLiteral("Не е открита колона EXPIRY_DATE!"));
      return;
    }
    QStringList changed;
    try {
      changed = ResetNegativeDates(cdsXMLFileData, field);
    } catch (...) {
      // Rows repaired before the failing one stay repaired: show them.
      dsXMLFileData->RowsChanged();
      FollowCursor();
      throw;
    }
    dsXMLFileData->RowsChanged();
    FollowCursor();
    if (changed.isEmpty()) {
      MsgDlg(QStringLiteral("Не са открити данни, изискващи корекция!"), mtInformation, mbOK);
      return;
    }
    QString text = QStringLiteral("Коригирани данни на редове: \r\n");
    for (const QString& recNo : changed) text += recNo + QStringLiteral("\r\n");
    MsgDlg(text, mtInformation, mbOK);
  });
}

QStringList TXMLExplorerForm::ResetNegativeDates(TClientDataSet& dataSet, int field) {
  QStringList changed;
  dataSet.First();
  while (!dataSet.Eof()) {
    const Variant& value = dataSet.Value(field);
    const TDateTime date = value.IsNullOrEmpty() ? 0 : value.ToDateTime();
    if (!(date >= 0)) {
      dataSet.Edit();
      dataSet.SetValue(field, Variant::FromDateTime(0));
      dataSet.Post();
      changed.append(QString::number(dataSet.RecNo()));
    }
    dataSet.Next();
  }
  return changed;
}

void ShowXMLExplorer(const QString& fileName, QWidget* parent) {
  auto form = std::make_unique<TXMLExplorerForm>(parent);
  form->OpenFile(fileName);
  form->exec();
}
