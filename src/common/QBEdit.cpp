#include "QBEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>

#include "NompackError.h"
#include "QBCalc.h"
#include "QBDialogs.h"
#include "QBMisc.h"

namespace {

[[noreturn]] void ConversionError(const QString& message) {
  throw ENompackError(message, ENompackError::Kind::Conversion);
}

QString Quoted(const QString& text) {
  return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// The user's locale without group separators: numbers read back as written.
QLocale PlainLocale() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
  return locale;
}

QString GeneralText(double value) {
  return PlainLocale().toString(value, 'g', 15);
}

bool ParseInt32(const QString& text, qint32& out) {
  bool ok = false;
  out = text.trimmed().toInt(&ok, 10);
  return ok;
}

// The locale's form first, then the C form with '.'.
bool ParseFloat(const QString& text, double& out) {
  const QString t = text.trimmed();
  bool ok = false;
  out = PlainLocale().toDouble(t, &ok);
  if (!ok) out = QLocale::c().toDouble(t, &ok);
  return ok && std::isfinite(out);
}

bool ParseBool(const QString& text, bool& out) {
  double number = 0;
  if (ParseFloat(text, number)) {
    out = number != 0;
    return true;
  }
  const QString t = text.trimmed();
  if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
    out = true;
    return true;
  }
  if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
    out = false;
    return true;
  }
  return false;
}

Currency CurrencyFromText(const QString& text) {
  QString t = text.trimmed();
  const QString decimal = QLocale().decimalPoint();
  if (decimal != QLatin1String(".")) t.replace(decimal, QLatin1String("."));
  // Currency::FromString also takes ',' as the separator; here only the
  // locale's one (or '.') may separate the decimals.
  if (t.contains(QLatin1Char(',')))
    ConversionError(Quoted(text) + QStringLiteral(" is not a valid floating point value"));
  try {
    return Currency::FromString(t);
  } catch (const ENompackError&) {
    ConversionError(Quoted(text) + QStringLiteral(" is not a valid floating point value"));
  }
}

// --- date and time formats -------------------------------------------------

// Calls `visit(ch, quoted)` for every character of a Qt date-time format;
// '' inside or outside quotes is one quote character.
template <typename F>
void WalkFormat(const QString& format, F visit) {
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format.at(i);
    if (c == QLatin1Char('\'')) {
      if (i + 1 < format.size() && format.at(i + 1) == QLatin1Char('\'')) {
        visit(c, true);
        ++i;
      } else {
        quoted = !quoted;
      }
      continue;
    }
    visit(c, quoted);
  }
}

// The quoted texts of a format ("г", "ч" in Bulgarian): shown, then ignored
// when the text is read back.
QStringList FormatLiterals(const QString& format) {
  QStringList literals;
  QString current;
  WalkFormat(format, [&](QChar c, bool quoted) {
    if (quoted) {
      current += c;
    } else if (!current.isEmpty()) {
      literals.append(current);
      current.clear();
    }
  });
  if (!current.isEmpty()) literals.append(current);
  return literals;
}

QString Requote(const QString& format,
                const std::function<QString(QChar, qsizetype&, const QString&)>& change) {
  // Rebuilds the format, letting `change` rewrite runs of unquoted codes.
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format.at(i);
    if (c == QLatin1Char('\'')) {
      quoted = !quoted;
      out += c;
      continue;
    }
    if (quoted) {
      out += c;
      continue;
    }
    out += change(c, i, format);
  }
  return out;
}

// The locale's short date with a four-digit year: a two-digit year would
// come back in another century (30.12.1899 as 30.12.99 reads as 1999).
QString ShortDateFormat(const QLocale& locale) {
  return Requote(locale.dateFormat(QLocale::ShortFormat),
                 [](QChar c, qsizetype& i, const QString& f) {
                   if (c != QLatin1Char('y')) return QString(c);
                   qsizetype n = 0;
                   while (i + n < f.size() && f.at(i + n) == QLatin1Char('y')) ++n;
                   i += n - 1;
                   return QStringLiteral("yyyy");
                 });
}

// The locale's long time without the time zone.
QString LongTimeFormat(const QLocale& locale) {
  const QString format =
      Requote(locale.timeFormat(QLocale::LongFormat), [](QChar c, qsizetype&, const QString&) {
        return c == QLatin1Char('t') ? QString() : QString(c);
      });
  return format.trimmed();
}

QString RemoveLiterals(QString text, const QStringList& formats) {
  for (const QString& format : formats)
    for (const QString& literal : FormatLiterals(format))
      if (!literal.trimmed().isEmpty()) text.remove(literal, Qt::CaseInsensitive);
  return text;
}

// Splits into runs of digits; letters make the text invalid, anything else
// separates. `lengths` receives the number of digits of each run.
bool DigitGroups(const QString& text, QList<int>& numbers, QList<int>& lengths) {
  qsizetype i = 0;
  while (i < text.size()) {
    const QChar c = text.at(i);
    if (c.isDigit()) {
      int value = 0;
      int length = 0;
      while (i < text.size() && text.at(i).isDigit()) {
        if (length >= 9) return false;
        value = value * 10 + text.at(i).digitValue();
        ++length;
        ++i;
      }
      numbers.append(value);
      lengths.append(length);
      continue;
    }
    if (c.isLetter()) return false;
    ++i;
  }
  return true;
}

// The text-to-date conversion: day, month and year in the order of the
// locale's short date, any separators; without a year the current one; a
// year of one or two digits lies within 50 years of today.
bool ParseDate(const QString& text, QDate& out) {
  const QLocale locale;
  const QString format = locale.dateFormat(QLocale::ShortFormat);
  QList<int> numbers, lengths;
  if (!DigitGroups(RemoveLiterals(text, {format}), numbers, lengths)) return false;
  qsizetype posD = -1, posM = -1, posY = -1, index = 0;
  WalkFormat(format, [&](QChar c, bool quoted) {
    if (!quoted) {
      if (c == QLatin1Char('d') && posD < 0) posD = index;
      if (c == QLatin1Char('M') && posM < 0) posM = index;
      if (c == QLatin1Char('y') && posY < 0) posY = index;
    }
    ++index;
  });
  QList<std::pair<qsizetype, QChar>> order = {
      {posD, QLatin1Char('d')}, {posM, QLatin1Char('M')}, {posY, QLatin1Char('y')}};
  std::sort(order.begin(), order.end());
  const int today = QDate::currentDate().year();
  int day = 0, month = 0, year = today;
  if (numbers.size() == 3) {
    for (int k = 0; k < 3; ++k) {
      const QChar part = order[k].second;
      if (part == QLatin1Char('d')) day = numbers[k];
      if (part == QLatin1Char('M')) month = numbers[k];
      if (part == QLatin1Char('y')) {
        year = numbers[k];
        if (lengths[k] <= 2) {
          const int base = today - 50;
          year += base / 100 * 100;
          if (year < base) year += 100;
        }
      }
    }
  } else if (numbers.size() == 2) {
    int k = 0;
    for (const auto& [pos, part] : order) {
      if (part == QLatin1Char('y')) continue;
      (part == QLatin1Char('d') ? day : month) = numbers[k++];
    }
  } else {
    return false;
  }
  out = QDate(year, month, day);
  return out.isValid();
}

// The text-to-time conversion: hours, minutes, seconds and milliseconds, any
// separators, an optional AM/PM marker; hours alone only with a marker.
bool ParseTime(const QString& text, QTime& out) {
  const QLocale locale;
  QString t = RemoveLiterals(text, {locale.timeFormat(QLocale::LongFormat),
                                    locale.timeFormat(QLocale::ShortFormat)})
                  .trimmed();
  int half = 0;  // 1 AM, 2 PM
  for (const auto& [marker, value] : {std::pair{locale.amText(), 1},
                                      {locale.pmText(), 2},
                                      {QStringLiteral("AM"), 1},
                                      {QStringLiteral("PM"), 2}}) {
    if (half == 0 && !marker.isEmpty() && t.endsWith(marker, Qt::CaseInsensitive)) {
      t.chop(marker.size());
      half = value;
    } else if (half == 0 && !marker.isEmpty() && t.startsWith(marker, Qt::CaseInsensitive)) {
      t.remove(0, marker.size());
      half = value;
    }
  }
  QList<int> numbers, lengths;
  if (!DigitGroups(t, numbers, lengths)) return false;
  if (numbers.isEmpty() || numbers.size() > 4 || (numbers.size() == 1 && half == 0)) return false;
  int hour = numbers[0];
  const int minute = numbers.value(1);
  const int second = numbers.value(2);
  int msec = numbers.value(3);
  if (numbers.size() == 4) {
    if (lengths[3] > 3) return false;
    for (int k = lengths[3]; k < 3; ++k) msec *= 10;
  }
  if (half != 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (half == 2 ? 12 : 0);
  }
  out = QTime(hour, minute, second, msec);
  return out.isValid() && minute < 60 && second < 60;
}

// A date, a blank and a time; either part may be missing.
bool ParseDateTime(const QString& text, TDateTime& out) {
  const QString t = text.trimmed();
  const qsizetype colon = t.indexOf(QLatin1Char(':'));
  QDate date = DateTimeConv::BaseDate();
  QTime time(0, 0);
  if (colon < 0) {
    if (!ParseDate(t, date)) return false;
  } else {
    qsizetype split = colon;
    while (split > 0 && !t.at(split - 1).isSpace()) --split;
    const QString datePart = t.left(split).trimmed();
    if (!datePart.isEmpty() && !ParseDate(datePart, date)) return false;
    if (!ParseTime(t.mid(split), time)) return false;
  }
  out = DateTimeConv::Compose(date, time);
  return true;
}

QString DateText(TDateTime value) {
  const QLocale locale;
  return locale.toString(DateTimeConv::ToDate(value), ShortDateFormat(locale));
}

QString TimeText(TDateTime value) {
  const QLocale locale;
  return locale.toString(DateTimeConv::ToTime(value), LongTimeFormat(locale));
}

QString DateTimeText(TDateTime value) {
  if (DateTimeConv::ToTimeStamp(value).MSec == 0) return DateText(value);
  return DateText(value) + QLatin1Char(' ') + TimeText(value);
}

// The value as text in the user's regional form.
QString VariantText(const Variant& value) {
  switch (value.VarType()) {
    case Variant::Type::Single:
    case Variant::Type::Double:
      return GeneralText(value.ToDouble());
    case Variant::Type::Currency:
    case Variant::Type::Decimal: {
      QString text = value.ToString();
      return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    }
    case Variant::Type::DateTime:
      return DateTimeText(value.ToDateTime());
    default:
      return value.ToString();
  }
}

// --- numeric patterns ------------------------------------------------------

QStringList PatternSections(const QString& pattern) {
  QStringList sections{QString()};
  QChar quote;
  for (const QChar c : pattern) {
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      sections.last() += c;
    } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
      quote = c;
      sections.last() += c;
    } else if (c == QLatin1Char(';')) {
      sections.append(QString());
    } else {
      sections.last() += c;
    }
  }
  return sections;
}

// `digits(decimals)` gives the magnitude rounded to that many decimals, in C
// form ("1234.50").
QString FormatSection(const QString& section, bool showMinus,
                      const std::function<QString(int)>& digits) {
  QString prefix, suffix, intPattern, fracPattern;
  bool seenPlaceholder = false, inFraction = false;
  QChar quote;
  QString literal;  // text after the last placeholder seen so far
  for (const QChar c : section) {
    if (!quote.isNull()) {
      if (c == quote)
        quote = QChar();
      else
        literal += c;
      continue;
    }
    if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
      quote = c;
      continue;
    }
    const bool placeholder = c == QLatin1Char('0') || c == QLatin1Char('#') ||
                             c == QLatin1Char('.') || c == QLatin1Char(',');
    if (!placeholder) {
      literal += c;
      continue;
    }
    if (!seenPlaceholder) prefix = literal;
    literal.clear();  // text between placeholders is dropped
    seenPlaceholder = true;
    if (c == QLatin1Char('.')) {
      inFraction = true;
    } else {
      (inFraction ? fracPattern : intPattern) += c;
    }
  }
  if (!seenPlaceholder) return literal;
  suffix = literal;
  const int minInt = static_cast<int>(intPattern.count(QLatin1Char('0')));
  const bool grouped = intPattern.contains(QLatin1Char(','));
  const int minFrac = static_cast<int>(fracPattern.count(QLatin1Char('0')));
  const int maxFrac = minFrac + static_cast<int>(fracPattern.count(QLatin1Char('#')));

  const QString rounded = digits(maxFrac);
  const qsizetype point = rounded.indexOf(QLatin1Char('.'));
  QString whole = point < 0 ? rounded : rounded.left(point);
  QString frac = point < 0 ? QString() : rounded.mid(point + 1);
  const bool zero = std::none_of(rounded.begin(), rounded.end(), [](QChar c) {
    return c >= QLatin1Char('1') && c <= QLatin1Char('9');
  });
  while (whole.startsWith(QLatin1Char('0'))) whole.remove(0, 1);
  while (whole.size() < minInt) whole.prepend(QLatin1Char('0'));
  while (frac.size() > minFrac && frac.endsWith(QLatin1Char('0'))) frac.chop(1);
  const QLocale locale;
  if (grouped)
    for (qsizetype k = whole.size() - 3; k > 0; k -= 3) whole.insert(k, locale.groupSeparator());
  QString number = whole;
  if (!frac.isEmpty()) number += locale.decimalPoint() + frac;
  const QString sign = showMinus && !zero ? QStringLiteral("-") : QString();
  return sign + prefix + number + suffix;
}

QString FormatNumber(const QString& pattern, bool negative, bool isZero,
                     const std::function<QString(int)>& digits) {
  const QStringList sections = PatternSections(pattern);
  if (isZero && sections.size() > 2 && !sections[2].isEmpty())
    return FormatSection(sections[2], false, digits);
  if (negative && sections.size() > 1 && !sections[1].isEmpty())
    return FormatSection(sections[1], false, digits);
  return FormatSection(sections[0], negative, digits);
}

QString FormatInteger(const QString& pattern, qint64 value) {
  const quint64 magnitude =
      value < 0 ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
  return FormatNumber(pattern, value < 0, value == 0, [magnitude](int decimals) {
    QString text = QString::number(magnitude);
    if (decimals > 0) text += QLatin1Char('.') + QString(decimals, QLatin1Char('0'));
    return text;
  });
}

QString FormatFloat(const QString& pattern, double value) {
  return FormatNumber(pattern, value < 0, value == 0, [value](int decimals) {
    return QString::number(std::fabs(value), 'f', decimals);
  });
}

}  // namespace

// --- conversions -----------------------------------------------------------

void TQBCustomEdit::ConvertTextAs(TQBEditDataType type, const QString& text, Variant& value) {
  switch (type) {
    case etUnknown:
      ConversionError(
          QStringLiteral("Cannot convert string to etUnknown. EditDataType not specified."));
    case etString:
      value = Variant::FromString(text);
      return;
    case etInteger: {
      qint32 n = 0;
      if (!ParseInt32(text, n))
        ConversionError(Quoted(text) + QStringLiteral(" is not a valid integer value"));
      value = Variant::FromInt(n, Variant::Type::Int32);
      return;
    }
    case etLargeInt: {
      value = Variant::FromString(text);
      const Currency rounded = RND(1, 0, CurrencyFromText(text));
      value = Variant::FromInt64(rounded.Value / Currency::kScale);
      return;
    }
    case etFloat: {
      const double result = static_cast<double>(CalcValue(text));
      if (!std::isfinite(result)) throw ECalcError(QStringLiteral("Floating point overflow"));
      value = Variant::FromDouble(result);
      return;
    }
    case etBoolean: {
      bool b = false;
      if (!ParseBool(text, b))
        ConversionError(Quoted(text) + QStringLiteral(" is not a valid boolean value"));
      value = Variant::FromBool(b);
      return;
    }
    case etDate: {
      QDate date;
      if (!ParseDate(text, date))
        ConversionError(Quoted(text) + QStringLiteral(" is not a valid date"));
      value = Variant::FromDateTime(DateTimeConv::FromDate(date));
      return;
    }
    case etTime: {
      QTime time;
      if (!ParseTime(text, time))
        ConversionError(Quoted(text) + QStringLiteral(" is not a valid time"));
      value = Variant::FromDateTime(DateTimeConv::FromTime(time));
      return;
    }
    case etDateTime: {
      TDateTime dateTime = 0;
      if (!ParseDateTime(text, dateTime))
        ConversionError(Quoted(text) + QStringLiteral(" is not a valid date and time"));
      value = Variant::FromDateTime(dateTime);
      return;
    }
    case etVariant: {
      // The previous value's type decides; what does not convert stays text.
      const Variant previous = value;
      qint32 n = 0;
      double d = 0;
      try {
        switch (previous.VarType()) {
          case Variant::Type::Empty:
          case Variant::Type::Null:
            if (ParseInt32(text, n))
              value = Variant::FromInt(n, Variant::Type::Int32);
            else if (ParseFloat(text, d))
              value = Variant::FromDouble(d);
            else
              value = Variant::FromString(text);
            return;
          case Variant::Type::Int8:
          case Variant::Type::Int16:
          case Variant::Type::Int32:
          case Variant::Type::Int64:
          case Variant::Type::UInt8:
          case Variant::Type::UInt16:
          case Variant::Type::UInt32:
          case Variant::Type::UInt64:
            ConvertTextAs(etInteger, text, value);
            return;
          case Variant::Type::Single:
          case Variant::Type::Double:
          case Variant::Type::Currency:
            value = ParseFloat(text, d) ? Variant::FromDouble(d) : Variant::FromString(text);
            return;
          case Variant::Type::DateTime:
            ConvertTextAs(etDate, text, value);
            return;
          case Variant::Type::Boolean:
            ConvertTextAs(etBoolean, text, value);
            return;
          default:
            value = Variant::FromString(text);
            return;
        }
      } catch (const ENompackError&) {
        value = Variant::FromString(text);
      }
      return;
    }
  }
  ConversionError(
      QStringLiteral("Cannot convert string to etUnknown. EditDataType not specified."));
}

QString TQBCustomEdit::ValueText(TQBEditDataType type, const QString& displayFormat,
                                 const Variant& value) {
  if (value.IsNull()) return QString();
  switch (type) {
    case etUnknown:
      break;
    case etString:
    case etVariant:
      return VariantText(value);
    case etBoolean:
      return value.ToBool() ? QStringLiteral("True") : QStringLiteral("False");
    case etInteger: {
      const qint32 n = VarToIntDef(value, 0);
      return displayFormat.isEmpty() ? QString::number(n) : FormatInteger(displayFormat, n);
    }
    case etLargeInt: {
      const qint64 n = VarToInt64Def(value, 0);
      return displayFormat.isEmpty() ? QString::number(n) : FormatInteger(displayFormat, n);
    }
    case etFloat: {
      const double d = VarToFloatDef(value, 0);
      return displayFormat.isEmpty() ? GeneralText(d) : FormatFloat(displayFormat, d);
    }
    case etDate:
    case etTime:
    case etDateTime: {
      const TDateTime dt = value.ToDateTime();
      if (!displayFormat.isEmpty()) {
        // UTC: a local time would shift across a daylight-saving gap.
        const QDateTime stamp(DateTimeConv::ToDate(dt), DateTimeConv::ToTime(dt), Qt::UTC);
        return QLocale().toString(stamp, displayFormat);
      }
      if (type == etDate) return DateText(dt);
      if (type == etTime) return TimeText(dt);
      return DateTimeText(dt);
    }
  }
  ConversionError(
      QStringLiteral("Cannot convert etUnknown to string. EditDataType not specified."));
}

// --- the control -----------------------------------------------------------

TQBCustomEdit::TQBCustomEdit(QWidget* parent) : QLineEdit(parent) {
  FFocusColor = palette().color(QPalette::ToolTipBase);
  FNormalColor = palette().color(QPalette::Base);
}

void TQBCustomEdit::SetFocusColor(const QColor& color) {
  FFocusColor = color;
  if (FEntered) SetBackground(color);
}

void TQBCustomEdit::Loaded() {
  if (!FEntered) FNormalColor = palette().color(QPalette::Base);
}

void TQBCustomEdit::SetBackground(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::Base, color);
  setPalette(p);
}

void TQBCustomEdit::SetValue(const Variant& value) {
  FValue = value;
  const bool untouched = text() == FEnterText;
  const QString shown = ValueText(FEditDataType, FDisplayFormat, value);
  setText(shown);
  if (untouched) FEnterText = shown;
  ValueAssigned();
}

void TQBCustomEdit::UpdateValue() {
  Variant value = FValue;
  if (OnConvert) {
    OnConvert(this, text(), value);
  } else {
    ConvertText(text(), value);
  }
  FValue = value;
}

void TQBCustomEdit::DoValueChanged() {
  if (OnValueChanged) OnValueChanged(this, FOldValue, FValue);
}

void TQBCustomEdit::ConvertText(const QString& text, Variant& value) {
  if (text.trimmed().isEmpty()) {
    value = Variant::Null();
    if (FRequired) {
      throw ENompackError(
          QString::fromUtf16(u"\u0412\u044A\u0432\u0435\u0434\u0435\u0442\u0435 "
                             u"\u0441\u0442\u043E\u0439\u043D\u043E\u0441\u0442 "
                             u"\u0437\u0430 \u043F\u043E\u043B\u0435\u0442\u043E!"));
    }
    return;
  }
  ConvertTextAs(FEditDataType, text, value);
}

void TQBCustomEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (!QBFocus::StartEntry(this, this, FEntered)) return;
  try {
    if (OnEnter) OnEnter(this);
  } catch (const std::exception& error) {
    QBFocus::ReportLater(this, QBFocus::MessageOf(error));
  }
  FEnterText = text();
  SetBackground(FFocusColor);
}

void TQBCustomEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  if (!QBFocus::IsExit(this, event, FEntered)) return;
  try {
    DoExit();
    FEntered = false;
  } catch (const std::exception& error) {
    selectAll();
    SetBackground(FFocusColor);
    QBFocus::RefuseExit(this, QBFocus::MessageOf(error));
  }
}

void TQBCustomEdit::DoExit() {
  FOldValue = FValue;
  UpdateValue();
  SetBackground(FNormalColor);
  if (text() != FEnterText) DoValueChanged();
  if (OnExit) OnExit(this);
}

void TQBCustomEdit::keyPressEvent(QKeyEvent* event) {
  const QBFocus::TEnterMove move = QBFocus::EnterMoveOf(event);
  if (FEnterAsTab && (move == QBFocus::TEnterMove::Forward || move == QBFocus::TEnterMove::Back)) {
    focusNextPrevChild(move == QBFocus::TEnterMove::Forward);
    event->accept();
    return;
  }
  if (QBFocus::TakeSelectAllKey(event, this)) return;
  // Enter without Tab behaviour goes to the standard handling, which inserts
  // nothing and lets a dialog's default button act.
  QLineEdit::keyPressEvent(event);
}

void TQBCustomEdit::mouseReleaseEvent(QMouseEvent* event) {
  QLineEdit::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    selectAll();
}
