#include "CliCommandLine.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// Which commands an option belongs to.
enum : unsigned { kGenerate = 1, kInstall = 2, kBoth = kGenerate | kInstall };

struct TOptionEntry {
  const char* Name;
  const char* ValueName;  // nullptr for a flag
  const char* Description;
  unsigned Commands;
};

// Defaults are the window's field defaults, which the runs' settings hold.
const TOptionEntry kOptions[] = {
    {"kind", "вид",
     "вид на базата данни: mysql, firebird или mssql (източникът при generate, целта при "
     "install)",
     kBoth},
    {"host", "сървър",
     "сървър на базата данни (MySQL, MSSQL и Firebird); по подразбиране 127.0.0.1", kBoth},
    {"database", "име", "име на базата данни MySQL/MSSQL; по подразбиране quillmarsh1", kBoth},
    {"user", "потребител", "потребител MySQL/MSSQL; по подразбиране root за mysql, sa за mssql",
     kBoth},
    {"password", "парола",
     "парола MySQL/MSSQL; без тази опция се взема от променливата на средата NOMPACK_PASSWORD, "
     "а без нея е празна (паролата от командния ред се вижда в списъка на процесите)",
     kBoth},
    {"fb-path", "път", "път до файла на базата данни Firebird на сървъра", kBoth},
    {"out", "папка", "папка за износа: в нея се създава файлът на пакета (generate)", kGenerate},
    {"packet", "файл", "файл на пакета за инсталиране (install)", kInstall},
    {"reuse", nullptr,
     "отговор \"Да\", когато вече има разопакован екземпляр на пакета; без нея \"Не\" (install)",
     kInstall},
};

const char* kExitCodes =
    "Изходни кодове:\n"
    "  0  успех\n"
    "  1  грешна команда или опция, стъпка, която се провали и спря процеса, или процес, спрян\n"
    "     с Ctrl+C или TERM\n"
    "  2  install: процесът завърши, но беше показана грешка или ред беше отказан";

const char* kOverview =
    "Генериране и инсталиране на номенклатурни пакети без прозореца.\n"
    "\n"
    "Команди:\n"
    "  generate  износ на 37-те таблици на източника в пакет (изисква --out)\n"
    "  install   инсталиране на пакет в целевата база данни (изисква --packet)\n"
    "Помощ за една команда: nompack-cli КОМАНДА --help\n";

const char* kGenerateText =
    "Износ на 37-те таблици на източника в пакет.\n"
    "Напредъкът се пише на stderr, пътят на файла на пакета - като последен ред на stdout.\n"
    "\n"
    "Изходни кодове:\n"
    "  0  пакетът е създаден\n"
    "  1  грешна опция, грешка, която спря процеса, или спиране с Ctrl+C или TERM (незавършеният\n"
    "     пакет се изтрива)";

const char* kInstallText =
    "Инсталиране на пакет в целевата база данни.\n"
    "Дневникът се пише на stdout, грешките - на stderr като редове \"Грешка: ...\".\n"
    "\n"
    "Изходни кодове:\n"
    "  0  процесът завърши без грешка\n"
    "  1  грешна опция, стъпка, която се провали и спря процеса, или спиране с Ctrl+C или TERM\n"
    "     (промените в базата се отменят)\n"
    "  2  процесът завърши, но беше показана грешка или ред беше отказан";

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), stream);
  if (!text.endsWith(QLatin1Char('\n'))) std::fputc('\n', stream);
  std::fflush(stream);
}

int KindIndexOf(const QString& kind) {
  if (kind == QLatin1String("mysql")) return 0;
  if (kind == QLatin1String("firebird")) return 1;
  if (kind == QLatin1String("mssql")) return 2;
  return -1;
}

}  // namespace

void TCliCommandLine::AddOptions() {
  // Single-dash words (-kind) are read as long options, as they always were.
  FParser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  FParser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                       Text("показва тази помощ")));
  FParser.addOption(QCommandLineOption(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                       Text("показва версията на програмата")));
  const unsigned wanted = FCommand == cmGenerate  ? unsigned(kGenerate)
                          : FCommand == cmInstall ? unsigned(kInstall)
                                                  : unsigned(kBoth);
  for (const TOptionEntry& entry : kOptions) {
    if (!(entry.Commands & wanted)) continue;
    QCommandLineOption option(QString::fromLatin1(entry.Name), Text(entry.Description));
    if (entry.ValueName) option.setValueName(Text(entry.ValueName));
    FParser.addOption(option);
    FDefined << option.names();
  }
  switch (FCommand) {
    case cmGenerate:
      FParser.setApplicationDescription(Text(kGenerateText));
      FParser.addPositionalArgument(QStringLiteral("generate"), Text("командата"));
      break;
    case cmInstall:
      FParser.setApplicationDescription(Text(kInstallText));
      FParser.addPositionalArgument(QStringLiteral("install"), Text("командата"));
      break;
    case cmNone:
      FParser.setApplicationDescription(Text(kOverview) + QLatin1Char('\n') + Text(kExitCodes));
      FParser.addPositionalArgument(QStringLiteral("command"), Text("generate или install"));
      break;
  }
}

int TCliCommandLine::Fail(const QString& message) {
  Print(stderr, message);
  Print(stderr, FCommand == cmNone ? FParser.helpText()
                                   : Text("Помощ: nompack-cli %1 --help")
                                         .arg(FCommand == cmGenerate ? QStringLiteral("generate")
                                                                     : QStringLiteral("install")));
  return ecFailed;
}

int TCliCommandLine::Read(const QStringList& arguments) {
  QStringList args = arguments;
  const QString first = args.value(1);
  if (first == QLatin1String("generate")) FCommand = cmGenerate;
  if (first == QLatin1String("install")) FCommand = cmInstall;
  if (FCommand != cmNone) args.removeAt(1);
  AddOptions();

  if (args.size() < 2) {
    Print(stderr, FParser.helpText());
    return ecFailed;
  }
  if (!FParser.parse(args)) return Fail(FParser.errorText());
  if (FParser.isSet(QStringLiteral("help"))) {
    Print(stdout, FParser.helpText());
    return ecSuccess;
  }
  if (FParser.isSet(QStringLiteral("version"))) {
    Print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                      QCoreApplication::applicationVersion());
    return ecSuccess;
  }
  if (FCommand == cmNone) {
    const QStringList positional = FParser.positionalArguments();
    return Fail(positional.isEmpty() ? Text("Липсва команда: generate или install")
                                     : Text("Непозната команда: %1").arg(positional.first()));
  }
  // A stray word is most likely an option's value split by the shell.
  if (!FParser.positionalArguments().isEmpty())
    return Fail(Text("Излишен аргумент: %1").arg(FParser.positionalArguments().first()));
  FKindIndex = KindIndexOf(Value(QStringLiteral("kind")));
  if (FKindIndex < 0) return Fail(Text("--kind трябва да е mysql, firebird или mssql"));
  if (FCommand == cmGenerate && !IsSet(QStringLiteral("out")))
    return Fail(Text("generate изисква --out ПАПКА"));
  if (FCommand == cmInstall && !IsSet(QStringLiteral("packet")))
    return Fail(Text("install изисква --packet ФАЙЛ"));
  return -1;
}

std::optional<QString> TCliCommandLine::Password() const {
  if (IsSet(QStringLiteral("password"))) return Value(QStringLiteral("password"));
  if (qEnvironmentVariableIsSet("NOMPACK_PASSWORD"))
    return qEnvironmentVariable("NOMPACK_PASSWORD");
  return std::nullopt;
}
