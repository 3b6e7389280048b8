#pragma once

#include <QAbstractTableModel>

#include "ClientDataSet.h"

// The grid's view of the explorer's dataset: one column per field in packet
// order with the field names as titles, one row per record, the record
// numbers down the side. Editing a cell edits that record of the dataset
// (Edit, SetValue, Post); a text that does not convert leaves the record as
// it was and is reported through EditFailed.
class TXMLDataModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TXMLDataModel(TClientDataSet& dataSet, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // The value a cell holds (the pending one while its record is edited).
  const Variant& CellValue(int row, int column) const;

  // The dataset was replaced (loaded) or changed behind the model's back.
  void Reload();
  void RowsChanged();

 signals:
  void EditFailed(const QString& message);

 private:
  TClientDataSet& FDataSet;

  // Whether the index names a cell of the dataset as it is now.
  bool IsCell(const QModelIndex& index) const;
};
