#include "QBObjectComboBox.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <limits>

#include "NompackError.h"
#include "QBDialogs.h"

namespace {

// Integer kinds a key can be bound to: the ordinal integers of every size.
bool IsIntegerKind(QMetaType type) {
  switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return true;
    default:
      return false;
  }
}

// Sets a flag for the duration of a scope, also when it is left by an error.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) : FFlag(flag), FSaved(flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = FSaved; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
  bool FSaved;
};

}  // namespace

TQBObjectComboBox::TQBObjectComboBox(QWidget* parent) : QComboBox(parent) {
  FFocusColor = palette().color(QPalette::ToolTipBase);
  FNormalColor = palette().color(QPalette::Base);
  FNormalButtonColor = palette().color(QPalette::Button);
  // The items are the program's; Enter in the edit part adds none.
  setInsertPolicy(QComboBox::NoInsert);
  // activated() comes from the user only (a pick, the arrow keys, type-ahead).
  connect(this, &QComboBox::activated, this, [this](int) { UserChange(); });
}

void TQBObjectComboBox::UserChange() {
  ++FChangeCount;
  try {
    Change();
  } catch (const std::exception& error) {
    QBFocus::ReportLater(this, QBFocus::MessageOf(error));
  }
}

void TQBObjectComboBox::Change() {
  int index = currentIndex();
  if (index < 0) {
    FKeyValue = -1;
  } else {
    const QLocale locale;
    const QString text = locale.toUpper(currentText());
    int match = -1;
    for (int i = 0; i < count() && match < 0; ++i)
      if (locale.toUpper(itemText(i)) == text) match = i;
    // Text typed into the edit part is the item it names: Qt leaves the
    // selection on the item chosen before typing, and its key would be wrong.
    if (match >= 0 && lineEdit()) index = match;
    if (match < 0 || !Consistent()) {
      FKeyValue = -1;
    } else {
      const QString& line = FKeyValues.at(index);
      bool ok = false;
      const int key = line.trimmed().toInt(&ok, 10);
      if (!ok) {
        throw ENompackError(
            QLatin1Char('\'') + line + QStringLiteral("' is not a valid integer value"),
            ENompackError::Kind::Conversion);
      }
      FKeyValue = key;
    }
  }
  if (OnChange) OnChange(this);
}

void TQBObjectComboBox::SetKeyValue(int value) {
  FKeyValue = value;
  if (!Consistent()) return;
  setCurrentIndex(static_cast<int>(FKeyValues.indexOf(QString::number(value))));
  if (IsBound() && !FUpdating) {
    if (FReadOnlyProperty) ReadOnlyError();
    WriteBoundKey();
  }
}

void TQBObjectComboBox::SetDataObject(QObject* object) {
  FDataObject = object;
  if (IsBound()) SetDataProperty(FDataProperty);
}

QMetaProperty TQBObjectComboBox::BoundProperty() const {
  if (!FDataObject) return QMetaProperty();
  const QMetaObject* meta = FDataObject->metaObject();
  const int exact = meta->indexOfProperty(FDataProperty.toLatin1().constData());
  if (exact >= 0) return meta->property(exact);
  // Published property names are matched regardless of letter case.
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty p = meta->property(i);
    if (QString::fromLatin1(p.name()).compare(FDataProperty, Qt::CaseInsensitive) == 0) return p;
  }
  return QMetaProperty();
}

void TQBObjectComboBox::SetDataProperty(const QString& name) {
  FDataProperty = name;
  if (!IsBound()) return;
  const QMetaProperty property = BoundProperty();
  if (!property.isValid()) {
    throw ENompackError(
        QStringLiteral("Control: %1 [Class %2 does not define a property named: %3!]")
            .arg(objectName(), QString::fromLatin1(FDataObject->metaObject()->className()), name),
        ENompackError::Kind::Conversion);
  }
  FReadOnlyProperty = !property.isWritable();
  if (!IsIntegerKind(property.metaType())) {
    throw ENompackError(
        QStringLiteral("Control: %1 [Property must be of type Integer.]").arg(objectName()),
        ENompackError::Kind::Conversion);
  }
  // What the refresh event would do, called directly so that a failure
  // reaches the caller.
  ReloadKeyValue();
}

void TQBObjectComboBox::ReadOnlyError() const {
  throw ENompackError(
      QStringLiteral("Control: %1 [Can't set property. DataProperty is a readonly property!]")
          .arg(objectName()));
}

void TQBObjectComboBox::ReloadKeyValue() {
  if (!IsBound()) return;
  const QMetaProperty property = BoundProperty();
  if (!property.isValid()) return;
  TFlagGuard updating(FUpdating);
  const QVariant value = property.read(FDataObject.data());
  bool ok = false;
  const qlonglong key = value.toLongLong(&ok);
  if (!ok || key < std::numeric_limits<int>::min() || key > std::numeric_limits<int>::max()) {
    throw ENompackError(QStringLiteral("Could not convert variant of type (%1) into type (Integer)")
                            .arg(QString::fromLatin1(value.typeName())),
                        ENompackError::Kind::Conversion);
  }
  SetKeyValue(static_cast<int>(key));
}

void TQBObjectComboBox::WriteBoundKey() {
  const QMetaProperty property = BoundProperty();
  if (!property.isValid()) return;
  {
    TFlagGuard updating(FUpdating);
    property.write(FDataObject.data(), QVariant(FKeyValue));
  }
  RefreshFormControls(window());
}

bool TQBObjectComboBox::event(QEvent* event) {
  if (event->type() == DataRefreshEventType()) {
    try {
      ReloadKeyValue();
    } catch (const std::exception& error) {
      QBFocus::ReportLater(this, QBFocus::MessageOf(error));
    }
    return true;
  }
  return QComboBox::event(event);
}

void TQBObjectComboBox::SetFocusColor(const QColor& color) {
  FFocusColor = color;
  if (FEntered) SetBackground(color, color);
}

void TQBObjectComboBox::Loaded() {
  if (FEntered) return;
  FNormalColor = palette().color(QPalette::Base);
  FNormalButtonColor = palette().color(QPalette::Button);
}

void TQBObjectComboBox::SetBackground(const QColor& color, const QColor& button) {
  // A list-only combo box is drawn with the button colour, an editable one
  // with the base colour: both change.
  QPalette p = palette();
  p.setColor(QPalette::Base, color);
  p.setColor(QPalette::Button, button);
  setPalette(p);
}

bool TQBObjectComboBox::IsDroppedDown() const {
  return view() && view()->isVisible();
}

void TQBObjectComboBox::showPopup() {
  try {
    if (OnDropDown) OnDropDown(this);
  } catch (const std::exception& error) {
    QBFocus::ReportLater(this, QBFocus::MessageOf(error));
  }
  QComboBox::showPopup();
  SetBackground(FFocusColor, FFocusColor);
}

void TQBObjectComboBox::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  if (!QBFocus::StartEntry(this, lineEdit(), FEntered)) return;
  try {
    if (OnEnter) OnEnter(this);
  } catch (const std::exception& error) {
    QBFocus::ReportLater(this, QBFocus::MessageOf(error));
  }
  SetBackground(FFocusColor, FFocusColor);
  FEnterKeyValue = FKeyValue;
}

void TQBObjectComboBox::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  // Opening the list moves the focus into it, and not always with the popup
  // reason (the list's view takes it with a plain setFocus).
  if (!QBFocus::IsExit(this, event, FEntered) || IsDroppedDown()) return;
  try {
    DoExit();
    FEntered = false;
  } catch (const std::exception& error) {
    if (lineEdit()) lineEdit()->selectAll();
    SetBackground(FFocusColor, FFocusColor);
    QBFocus::RefuseExit(this, QBFocus::MessageOf(error));
  }
}

void TQBObjectComboBox::DoExit() {
  SetBackground(FNormalColor, FNormalButtonColor);
  if (FKeyValue != FEnterKeyValue) {
    if (IsBound()) {
      if (FReadOnlyProperty) ReadOnlyError();
      WriteBoundKey();
    }
    if (OnKeyValueChanged) OnKeyValueChanged(this, FEnterKeyValue, FKeyValue);
  }
  if (OnExit) OnExit(this);
}

void TQBObjectComboBox::keyPressEvent(QKeyEvent* event) {
  const QBFocus::TEnterMove move = QBFocus::EnterMoveOf(event);
  if (move != QBFocus::TEnterMove::NotEnter && !IsDroppedDown()) {
    if (FEnterAsTab && move != QBFocus::TEnterMove::Other) {
      focusNextPrevChild(move == QBFocus::TEnterMove::Forward);
      event->accept();
    } else {
      event->ignore();  // the character is dropped; a dialog's default button may act
    }
    return;
  }
  if (QBFocus::TakeSelectAllKey(event, lineEdit())) return;
  const QString before = currentText();
  const int changes = FChangeCount;
  QComboBox::keyPressEvent(event);
  // Typing into the edit part is a change as well; picks came via activated.
  if (lineEdit() && changes == FChangeCount && currentText() != before) UserChange();
}
