#include "XMLFieldDelegate.h"

#include <QPlainTextEdit>

#include "ClientDataSet.h"
#include "FieldText.h"

TXMLFieldDelegate::TXMLFieldDelegate(const TClientDataSet& dataSet, QObject* parent)
    : QStyledItemDelegate(parent), FDataSet(dataSet) {}

bool TXMLFieldDelegate::IsMultiLine(const QModelIndex& index) const {
  return index.isValid() && index.column() < FDataSet.FieldCount() &&
         FieldText::IsMultiLineField(FDataSet.FieldDef(index.column()));
}

QWidget* TXMLFieldDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  if (!IsMultiLine(index)) return QStyledItemDelegate::createEditor(parent, option, index);
  // Enter makes a new line here; Tab or leaving the cell commits.
  auto* editor = new QPlainTextEdit(parent);
  editor->setTabChangesFocus(true);
  editor->setFrameShape(QFrame::Box);
  return editor;
}

void TXMLFieldDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                             const QModelIndex& index) const {
  QStyledItemDelegate::updateEditorGeometry(editor, option, index);
  if (!IsMultiLine(index)) return;
  QRect rect = option.rect;
  rect.setWidth(qMax(rect.width(), 240));
  rect.setHeight(qMax(rect.height() * 5, 100));
  editor->setGeometry(rect);
}
