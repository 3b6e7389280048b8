#pragma once

#include <QStyledItemDelegate>

class TClientDataSet;

// Cell editors of the explorer's grid: a line edit for every value, a
// multi-line editor, taller than its cell, for memo fields.
class TXMLFieldDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  TXMLFieldDelegate(const TClientDataSet& dataSet, QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;

 private:
  const TClientDataSet& FDataSet;

  bool IsMultiLine(const QModelIndex& index) const;
};
