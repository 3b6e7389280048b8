#pragma once

#include <QString>

#include "FieldType.h"
#include "Variant.h"

// How the explorer's grid shows a chunk value and reads back what the user
// typed. NULL shows as an empty cell. Dates read and show as dd.MM.yyyy,
// times as HH:mm:ss, date-times as both (milliseconds only when there are
// some), also before 30.12.1899. Numbers follow the default QLocale without
// group separators; '.' is accepted as the decimal separator in any locale.
// Binary values show and edit as hexadecimal digits.
namespace FieldText {

// The text of a grid cell; long binary values are shortened with "…".
QString DisplayText(const Variant& value, const TFieldDef& def);
// The text an editor starts with: the whole value, nothing shortened.
QString EditText(const Variant& value, const TFieldDef& def);
// The value of the field's type for a text the user typed. An empty text is
// NULL, except for text fields, where it is the empty text. Throws
// ENompackError (Conversion) naming the text when it does not convert.
Variant Parse(const QString& text, const TFieldDef& def);

// Whether the field's values line up on the right (numbers).
bool IsNumericField(const TFieldDef& def);
// Whether the field's text may span several lines (memos).
bool IsMultiLineField(const TFieldDef& def);

}  // namespace FieldText
