#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "ClientDataSet.h"

class QAction;
class QPushButton;
class QWidget;
class TXMLDataGrid;
class TXMLDataModel;

// The chunk file explorer: one chunk file in an editable grid, saved back in
// the UTF-8 form of the data packet, with the repair of negative expiry dates
// on Ctrl+Shift+C. The window works on the file alone and holds the whole
// file in memory while it is open; closing it drops unsaved edits silently.
class TXMLExplorerForm : public QDialog {
  Q_OBJECT

 public:
  explicit TXMLExplorerForm(QWidget* owner = nullptr);
  ~TXMLExplorerForm() override;

  // Caption, FFileName and the load; the dataset opens on its first row.
  // Throws ENompackError when the file does not load.
  void OpenFile(const QString& fileName);

  const QString& FileName() const { return FFileName; }
  TClientDataSet& DataSet() { return cdsXMLFileData; }

  // Event handlers; errors end here, in the top-level error box.
  void cdsXMLFileDataAfterScroll();
  void acSaveXMLFileExecute();
  void acDateCheckExecute();

 private:
  QString FFileName;
  TClientDataSet cdsXMLFileData;
  TXMLDataModel* dsXMLFileData = nullptr;
  TXMLDataGrid* dgrXMLFileData = nullptr;
  QWidget* panBottom = nullptr;
  QPushButton* btnSaveXMLFile = nullptr;
  QAction* acSaveXMLFile = nullptr;
  QAction* acDateCheck = nullptr;
  bool FEditFailed = false;

  // Commits a cell being edited; false when its text did not convert.
  bool CommitPendingEdit();
  // Puts the grid's current row where the dataset's cursor is.
  void FollowCursor();
  // Sets every EXPIRY_DATE value that is not >= 0 (negative, or not a number)
  // to 0 = 30.12.1899 00:00; returns the changed record numbers in order.
  QStringList ResetNegativeDates(TClientDataSet& dataSet, int field);
};

// Opens the explorer modally on the chunk file and returns when it is closed.
// A new window every time, destroyed on every path; an error while loading
// propagates to the caller and the window is never shown.
void ShowXMLExplorer(const QString& fileName, QWidget* parent);
