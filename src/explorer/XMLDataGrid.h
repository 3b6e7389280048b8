#pragma once

#include <QTableView>

// The explorer's grid. A cell being edited can be committed from outside (by
// the save and the date check) the way leaving the cell would commit it.
class TXMLDataGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TXMLDataGrid(QWidget* parent = nullptr);

  // Commits and closes the open cell editor, if any.
  void CommitPendingEdit();
  // The open cell editor, or nullptr.
  QWidget* PendingEditor() const;
};
