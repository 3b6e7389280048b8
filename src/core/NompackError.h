#pragma once

#include <QString>
#include <QStringList>
#include <exception>

// The one exception type of the core. It carries the message the user sees,
// for database failures the server's own text and native code, and context
// added as it travels up ("exporting ARTICLE, chunk 3").
class ENompackError : public std::exception {
 public:
  enum class Kind {
    General,     // a plain failure with a message
    Conversion,  // a value that does not convert to the type asked for
    File,        // a file or folder operation
    Database,    // a database client or server failure
    Server,      // a failure reported by a database server (Firebird: a distinct kind)
    Assertion,   // a broken precondition
  };

  explicit ENompackError(QString message, Kind kind = Kind::General);
  ENompackError(QString message, Kind kind, QString serverText, qint64 nativeCode);

  const QString& Message() const { return FMessage; }
  Kind ErrorKind() const { return FKind; }
  const QString& ServerText() const { return FServerText; }
  qint64 NativeCode() const { return FNativeCode; }
  const QStringList& Context() const { return FContext; }

  // Adds a context line; the message itself stays what the user was promised.
  ENompackError& AddContext(const QString& context);
  // The context lines in parentheses, "(exporting ARTICLE, chunk 3)"; empty
  // without context. What a front end shows beside the message.
  QString ContextText() const;
  // The message followed by the context lines, for logs and diagnostics.
  QString FullText() const;

  const char* what() const noexcept override;

 private:
  QString FMessage;
  Kind FKind;
  QString FServerText;
  qint64 FNativeCode = 0;
  QStringList FContext;
  QByteArray FWhat;
};

// The text the top-level error handler shows: the message, with a full stop
// appended when its last character sorts above ".".
QString TopLevelErrorText(const QString& message);
