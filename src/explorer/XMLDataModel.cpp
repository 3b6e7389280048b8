#include "XMLDataModel.h"

#include "FieldText.h"
#include "NompackError.h"

TXMLDataModel::TXMLDataModel(TClientDataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent), FDataSet(dataSet) {}

int TXMLDataModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !FDataSet.Active()) return 0;
  return FDataSet.RecordCount();
}

int TXMLDataModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return FDataSet.FieldCount();
}

bool TXMLDataModel::IsCell(const QModelIndex& index) const {
  return index.isValid() && index.row() < rowCount() && index.column() < columnCount();
}

const Variant& TXMLDataModel::CellValue(int row, int column) const {
  const bool editing = FDataSet.DataSetState() == TClientDataSet::State::Edit;
  if (editing && row == FDataSet.RecNo() - 1) return FDataSet.Value(column);
  return FDataSet.Rows().at(row).at(column);
}

QVariant TXMLDataModel::data(const QModelIndex& index, int role) const {
  if (!IsCell(index)) return QVariant();
  const TFieldDef& def = FDataSet.FieldDef(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return FieldText::DisplayText(CellValue(index.row(), index.column()), def);
    case Qt::EditRole:
      return FieldText::EditText(CellValue(index.row(), index.column()), def);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter |
                                 (FieldText::IsNumericField(def) ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return QVariant();
  }
}

QVariant TXMLDataModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= FDataSet.FieldCount()) return QVariant();
    return FDataSet.FieldDef(section).Name;
  }
  return QString::number(section + 1);
}

Qt::ItemFlags TXMLDataModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags result = QAbstractTableModel::flags(index);
  if (IsCell(index) && !FDataSet.FieldDef(index.column()).ReadOnly) result |= Qt::ItemIsEditable;
  return result;
}

bool TXMLDataModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !IsCell(index)) return false;
  const int row = index.row();
  const int column = index.column();
  const TFieldDef& def = FDataSet.FieldDef(column);
  const QString text = value.toString();
  // An editor closed without typing hands back the text it started with;
  // writing that back would turn NULL into an empty text and round values.
  if (text == FieldText::EditText(CellValue(row, column), def)) return false;
  try {
    const Variant parsed = FieldText::Parse(text, def);
    FDataSet.SetRecNo(row + 1);
    FDataSet.Edit();
    FDataSet.SetValue(column, parsed);
    FDataSet.Post();
  } catch (const ENompackError& e) {
    FDataSet.Cancel();
    emit EditFailed(e.Message());
    return false;
  }
  emit dataChanged(index, index);
  return true;
}

void TXMLDataModel::Reload() {
  beginResetModel();
  endResetModel();
}

void TXMLDataModel::RowsChanged() {
  if (rowCount() == 0 || columnCount() == 0) return;
  emit dataChanged(this->index(0, 0), this->index(rowCount() - 1, columnCount() - 1));
}
