#include "NompackError.h"

#include <utility>

ENompackError::ENompackError(QString message, Kind kind)
    : FMessage(std::move(message)), FKind(kind), FWhat(FMessage.toUtf8()) {}

ENompackError::ENompackError(QString message, Kind kind, QString serverText, qint64 nativeCode)
    : FMessage(std::move(message)),
      FKind(kind),
      FServerText(std::move(serverText)),
      FNativeCode(nativeCode),
      FWhat(FMessage.toUtf8()) {}

ENompackError& ENompackError::AddContext(const QString& context) {
  FContext.append(context);
  return *this;
}

QString ENompackError::ContextText() const {
  if (FContext.isEmpty()) return QString();
  return QLatin1Char('(') + FContext.join(QStringLiteral("; ")) + QLatin1Char(')');
}

QString ENompackError::FullText() const {
  if (FContext.isEmpty()) return FMessage;
  return FMessage + QLatin1Char(' ') + ContextText();
}

const char* ENompackError::what() const noexcept {
  return FWhat.constData();
}

QString TopLevelErrorText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}
