#pragma once

#include <QColor>
#include <QComboBox>
#include <QMetaProperty>
#include <QPointer>
#include <QStringList>
#include <functional>

class TQBObjectComboBox;

using TKeyValueChangedEvent =
    std::function<void(TQBObjectComboBox* sender, int oldKeyValue, int newKeyValue)>;
using TQBComboNotifyEvent = std::function<void(TQBObjectComboBox* sender)>;

// A combo box whose items carry integer keys.
//
// KeyValues runs parallel to the items: line i is the key of item i, in
// decimal. The lists are consistent when they have as many lines as there are
// items; otherwise the key setter leaves the selection alone and every
// selection gives the key -1. KeyValue is the key of the selected item, -1 for
// none; set, it selects the first item whose line is the key's plain decimal
// text, or clears the selection and still keeps the key.
//
// Bound (DataObject set and DataProperty not empty), the control writes a key
// the program sets, or the user changed by the time the focus leaves, into
// that integer Q_PROPERTY of the object and broadcasts RefreshFormControls to
// its window; on the refresh event it re-reads the property (ReloadKeyValue).
//
// While focused or dropped down it shows FocusColor; Enter moves on like Tab
// (Shift+Enter back) unless the list is dropped down; Ctrl+A selects the text.
// OnKeyValueChanged reports, on focus exit, a key that differs from the key at
// entry. An error on focus exit keeps the focus in the control and goes to the
// top-level handler (ReportError).
class TQBObjectComboBox : public QComboBox {
  Q_OBJECT
  Q_PROPERTY(QString DataProperty READ DataProperty WRITE SetDataProperty)
  Q_PROPERTY(QColor FocusColor READ FocusColor WRITE SetFocusColor)
  Q_PROPERTY(QStringList KeyValues READ KeyValues WRITE SetKeyValues)
  Q_PROPERTY(int KeyValue READ KeyValue WRITE SetKeyValue)
  Q_PROPERTY(bool EnterAsTab READ EnterAsTab WRITE SetEnterAsTab)

 public:
  explicit TQBObjectComboBox(QWidget* parent = nullptr);

  int KeyValue() const { return FKeyValue; }
  // Throws ENompackError when bound to a property without write access.
  void SetKeyValue(int value);
  const QStringList& KeyValues() const { return FKeyValues; }
  void SetKeyValues(const QStringList& keys) { FKeyValues = keys; }

  QObject* DataObject() const { return FDataObject.data(); }
  // Binding to an object whose DataProperty is already set checks and
  // re-reads the property, as setting DataProperty does.
  void SetDataObject(QObject* object);
  const QString& DataProperty() const { return FDataProperty; }
  // Stores the name; when bound, looks the property up and re-reads it.
  // Throws ENompackError (Conversion) "Control: %s [Class %s does not define a
  // property named: %s!]" or "Control: %s [Property must be of type
  // Integer.]"; the control's name is its objectName().
  void SetDataProperty(const QString& name);
  bool IsBound() const { return FDataObject && !FDataProperty.isEmpty(); }
  bool ReadOnlyProperty() const { return FReadOnlyProperty; }

  QColor FocusColor() const { return FFocusColor; }
  void SetFocusColor(const QColor& color);
  QColor NormalColor() const { return FNormalColor; }
  bool EnterAsTab() const { return FEnterAsTab; }
  void SetEnterAsTab(bool enterAsTab) { FEnterAsTab = enterAsTab; }
  int EnterKeyValue() const { return FEnterKeyValue; }
  bool IsDroppedDown() const;

  // Takes the background colour again as the one to restore on exit.
  void Loaded();

  void showPopup() override;

  TKeyValueChangedEvent OnKeyValueChanged;
  TQBComboNotifyEvent OnChange;  // after the user picked an item or typed
  TQBComboNotifyEvent OnDropDown;
  TQBComboNotifyEvent OnEnter;
  TQBComboNotifyEvent OnExit;  // after a successful exit

 protected:
  // Reads the bound property and selects its key, writing nothing back.
  virtual void ReloadKeyValue();
  // The key after a user action; then OnChange.
  virtual void Change();

  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPointer<QObject> FDataObject;
  QString FDataProperty;
  bool FReadOnlyProperty = false;
  QColor FFocusColor;
  QColor FNormalColor;
  QColor FNormalButtonColor;
  QStringList FKeyValues;
  int FKeyValue = -1;
  int FEnterKeyValue = -1;
  bool FEnterAsTab = true;
  bool FUpdating = false;
  bool FEntered = false;
  int FChangeCount = 0;  // user changes seen, to count a key only once

  bool Consistent() const { return FKeyValues.size() == count(); }
  QMetaProperty BoundProperty() const;
  [[noreturn]] void ReadOnlyError() const;
  void WriteBoundKey();
  void SetBackground(const QColor& color, const QColor& button);
  void DoExit();
  void UserChange();
};
