#pragma once

#include <QString>

#include "NompackError.h"

// Evaluation of the arithmetic typed into a floating-point edit.
//
// The expression language: numbers, the operators + - * /, parentheses,
// unary minus and plus, blanks anywhere between tokens. A number is written
// in the user's regional form (the locale's decimal separator) or with '.',
// optionally followed by an exponent (1.5e3); group separators are not
// accepted, as they would make "1,5" ambiguous. Evaluation is in extended
// precision, left to right for operators of equal rank.

// A failure to compute an expression: a syntax error, a division by zero, an
// overflow. The message says what and where ("Syntax error at position 4").
class ECalcError : public ENompackError {
 public:
  explicit ECalcError(const QString& message)
      : ENompackError(message, ENompackError::Kind::Conversion) {}
};

// CalcValueEx(expr, 0, 0, 0). Throws ECalcError.
long double CalcValue(const QString& expr);
// The three integers belong to the calculation interface the edits were
// written against; no caller passes anything but 0 and our evaluator has no
// use for them. Throws ECalcError.
long double CalcValueEx(const QString& expr, int a, int b, int c);

// The evaluator is built in, so there is no library to load or release; the
// two routines stay so that start-up and shutdown code keeps its shape.
void LoadCalcLibrary();
void UnloadCalcLibrary();
