#include "QBCalc.h"

#include <QLocale>
#include <charconv>
#include <cmath>

namespace {

// Recursive descent over
//   expr   := term (('+' | '-') term)*
//   term   := factor (('*' | '/') factor)*
//   factor := ('+' | '-') factor | number | '(' expr ')'
class TCalcParser {
 public:
  explicit TCalcParser(const QString& text) : FText(text), FDecimal(QLocale().decimalPoint()) {}

  long double Evaluate() {
    SkipBlanks();
    if (AtEnd()) throw ECalcError(QStringLiteral("Empty expression"));
    const long double result = Expr();
    SkipBlanks();
    if (!AtEnd()) SyntaxError();
    if (!std::isfinite(result)) throw ECalcError(QStringLiteral("Floating point overflow"));
    return result;
  }

 private:
  const QString& FText;
  const QString FDecimal;
  qsizetype FPos = 0;

  bool AtEnd() const { return FPos >= FText.size(); }
  QChar Peek() const { return AtEnd() ? QChar() : FText.at(FPos); }

  void SkipBlanks() {
    while (!AtEnd() && FText.at(FPos).isSpace()) ++FPos;
  }

  [[noreturn]] void SyntaxError() const {
    throw ECalcError(QStringLiteral("Syntax error at position %1").arg(FPos + 1));
  }

  long double Expr() {
    long double value = Term();
    for (;;) {
      SkipBlanks();
      const QChar op = Peek();
      if (op != QLatin1Char('+') && op != QLatin1Char('-')) return value;
      ++FPos;
      const long double rhs = Term();
      value = op == QLatin1Char('+') ? value + rhs : value - rhs;
    }
  }

  long double Term() {
    long double value = Factor();
    for (;;) {
      SkipBlanks();
      const QChar op = Peek();
      if (op != QLatin1Char('*') && op != QLatin1Char('/')) return value;
      const qsizetype opPos = FPos;
      ++FPos;
      const long double rhs = Factor();
      if (op == QLatin1Char('*')) {
        value *= rhs;
      } else {
        if (rhs == 0) {
          throw ECalcError(QStringLiteral("Division by zero at position %1").arg(opPos + 1));
        }
        value /= rhs;
      }
    }
  }

  long double Factor() {
    SkipBlanks();
    const QChar c = Peek();
    if (c == QLatin1Char('-')) {
      ++FPos;
      return -Factor();
    }
    if (c == QLatin1Char('+')) {
      ++FPos;
      return Factor();
    }
    if (c == QLatin1Char('(')) {
      ++FPos;
      const long double value = Expr();
      SkipBlanks();
      if (Peek() != QLatin1Char(')')) SyntaxError();
      ++FPos;
      return value;
    }
    return Number();
  }

  bool AtDecimal() const {
    if (AtEnd()) return false;
    if (FText.at(FPos) == QLatin1Char('.')) return true;
    return !FDecimal.isEmpty() && QStringView(FText).mid(FPos).startsWith(FDecimal);
  }

  bool AtDigit() const {
    return !AtEnd() && FText.at(FPos) >= QLatin1Char('0') && FText.at(FPos) <= QLatin1Char('9');
  }

  long double Number() {
    const qsizetype start = FPos;
    QByteArray plain;  // the number in C form, for strtold
    while (AtDigit()) plain += static_cast<char>(FText.at(FPos++).unicode());
    if (AtDecimal()) {
      FPos += FText.at(FPos) == QLatin1Char('.') ? 1 : FDecimal.size();
      plain += '.';
      while (AtDigit()) plain += static_cast<char>(FText.at(FPos++).unicode());
    }
    if (plain.isEmpty() || plain == ".") {
      FPos = start;
      SyntaxError();
    }
    if (!AtEnd() && (Peek() == QLatin1Char('e') || Peek() == QLatin1Char('E'))) {
      plain += 'e';
      ++FPos;
      if (Peek() == QLatin1Char('+') || Peek() == QLatin1Char('-'))
        plain += static_cast<char>(FText.at(FPos++).unicode());
      if (!AtDigit()) SyntaxError();
      while (AtDigit()) plain += static_cast<char>(FText.at(FPos++).unicode());
    }
    // from_chars, unlike strtold, ignores the process's C locale.
    long double value = 0;
    const auto [end, error] =
        std::from_chars(plain.constData(), plain.constData() + plain.size(), value);
    if (error == std::errc::result_out_of_range)
      throw ECalcError(QStringLiteral("Floating point overflow"));
    if (error != std::errc() || end != plain.constData() + plain.size()) {
      FPos = start;
      SyntaxError();
    }
    return value;
  }
};

}  // namespace

long double CalcValue(const QString& expr) {
  return CalcValueEx(expr, 0, 0, 0);
}

long double CalcValueEx(const QString& expr, int a, int b, int c) {
  Q_UNUSED(a);
  Q_UNUSED(b);
  Q_UNUSED(c);
  return TCalcParser(expr).Evaluate();
}

void LoadCalcLibrary() {}

void UnloadCalcLibrary() {}
