#pragma once

#include <QColor>
#include <QLineEdit>
#include <QString>
#include <functional>

#include "Variant.h"

class TQBCustomEdit;

// What the text of an edit means. The order is the value.
enum TQBEditDataType {
  etUnknown,
  etString,
  etInteger,   // 32-bit signed
  etLargeInt,  // 64-bit signed, rounded from a decimal number, halves away from zero
  etFloat,     // double, computed from an arithmetic expression (QBCalc)
  etBoolean,   // a number (non-zero is True) or True / False in any letter case
  etDate,
  etTime,
  etDateTime,
  etVariant,  // the type follows the value held before the conversion
};

// Replaces the built-in conversion: receives the stored value in `value` and
// leaves the converted value there.
using TQBEditConvertEvent =
    std::function<void(TQBCustomEdit* sender, const QString& text, Variant& value)>;
// A change the user made, reported when the focus leaves the edit.
using TQBValueChangedEvent =
    std::function<void(TQBCustomEdit* sender, const Variant& oldValue, const Variant& newValue)>;
using TQBNotifyEvent = std::function<void(TQBCustomEdit* sender)>;

// A single-line edit that carries a typed value beside its text.
//
// Setting Value shows it as text, by EditDataType and DisplayFormat. Leaving
// the edit converts the text back (OnConvert, else ConvertText), reports a
// change of the text since entry (OnValueChanged), and refuses to let the
// focus go while the text does not convert: the text is selected, the focus
// comes back and the error goes to the top-level handler (ReportError).
// Numbers and dates follow the default QLocale (the user's regional settings).
//
// DisplayFormat, used only when a value is set:
// - etInteger, etLargeInt, etFloat: a numeric pattern. `0` is a digit that is
//   always shown, `#` a digit shown only when significant, the first `.` the
//   locale's decimal separator, a `,` among the integer digits turns on the
//   locale's group separator. Text before the first and after the last of
//   these characters is copied; '...' or "..." quotes text. Up to three
//   sections split by `;` format positive, negative (shown without sign) and
//   zero values. The value is rounded to the pattern's decimals, halves away
//   from zero. "0.00" shows 2.5 as 2.50, "000" shows 7 as 007, "#,##0.00"
//   shows 1234.5 as 1,234.50 (with '.' and ',' as the locale's separators).
// - etDate, etTime, etDateTime: a Qt date-time pattern (dd.MM.yyyy HH:mm:ss;
//   d dd ddd dddd M MM MMM MMMM yy yyyy h hh H HH m mm s ss z zzz AP ap,
//   '...' quotes text), with the locale's day and month names.
// - other types ignore it.
// Without a pattern: integers in plain decimal, etFloat in the general form
// with up to 15 significant digits, etDate the locale's short date (always
// with a four-digit year, so that no century is lost on the way back),
// etTime its long time without the time zone, etDateTime both (the time left
// out at exactly midnight), etBoolean "True"/"False".
class TQBCustomEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TQBCustomEdit(QWidget* parent = nullptr);

  const Variant& Value() const { return FValue; }
  // Shows the value as text; when the user has not typed since entry the new
  // text becomes the entry text, so leaving reports no change. Throws
  // ENompackError (Conversion) for a non-Null value while etUnknown (the value
  // is stored all the same) or when the value does not fit the type.
  void SetValue(const Variant& value);

  TQBEditDataType EditDataType() const { return FEditDataType; }
  void SetEditDataType(TQBEditDataType type) { FEditDataType = type; }
  const QString& DisplayFormat() const { return FDisplayFormat; }
  void SetDisplayFormat(const QString& format) { FDisplayFormat = format; }
  bool Required() const { return FRequired; }
  void SetRequired(bool required) { FRequired = required; }
  bool EnterAsTab() const { return FEnterAsTab; }
  void SetEnterAsTab(bool enterAsTab) { FEnterAsTab = enterAsTab; }
  QColor FocusColor() const { return FFocusColor; }
  void SetFocusColor(const QColor& color);
  QColor NormalColor() const { return FNormalColor; }

  // The value before the latest conversion on leaving; the text at entry.
  const Variant& OldValue() const { return FOldValue; }
  const QString& EnterText() const { return FEnterText; }

  // Takes the background colour again as the one to restore on leaving; call
  // it after the form has set the edit's colours.
  void Loaded();

  // The text-to-value and value-to-text conversions of the data types.
  static void ConvertTextAs(TQBEditDataType type, const QString& text, Variant& value);
  static QString ValueText(TQBEditDataType type, const QString& displayFormat,
                           const Variant& value);

  TQBEditConvertEvent OnConvert;
  TQBValueChangedEvent OnValueChanged;
  TQBNotifyEvent OnEnter;
  TQBNotifyEvent OnExit;  // after a successful exit; an error here also keeps the focus

 protected:
  virtual void ValueAssigned() {}
  virtual void UpdateValue();
  virtual void DoValueChanged();
  // Blank text (after trimming) gives Null and, with Required, the error
  // "Въведете стойност за полето!"; otherwise ConvertTextAs.
  virtual void ConvertText(const QString& text, Variant& value);

  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  Variant FValue = Variant::Null();
  Variant FOldValue;
  TQBEditDataType FEditDataType = etUnknown;
  QColor FFocusColor;
  QColor FNormalColor;
  bool FRequired = false;
  QString FEnterText;
  QString FDisplayFormat;
  bool FEnterAsTab = true;
  bool FEntered = false;  // between a real entry and a real exit

  void SetBackground(const QColor& color);
  void DoExit();
};

// The edit as forms use it; the properties are published to the meta-object
// system (Value is reached through Value()/SetValue()).
class TQBEdit : public TQBCustomEdit {
  Q_OBJECT
  Q_PROPERTY(QString DisplayFormat READ DisplayFormat WRITE SetDisplayFormat)
  Q_PROPERTY(int EditDataType READ EditDataTypeValue WRITE SetEditDataTypeValue)
  Q_PROPERTY(bool EnterAsTab READ EnterAsTab WRITE SetEnterAsTab)
  Q_PROPERTY(QColor FocusColor READ FocusColor WRITE SetFocusColor)
  Q_PROPERTY(bool Required READ Required WRITE SetRequired)

 public:
  using TQBCustomEdit::TQBCustomEdit;

 private:
  int EditDataTypeValue() const { return EditDataType(); }
  void SetEditDataTypeValue(int type) { SetEditDataType(static_cast<TQBEditDataType>(type)); }
};
