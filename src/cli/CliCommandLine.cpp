#include "CliCommandLine.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// Which commands an option belongs to.
enum : unsigned {
  kGenerate = 1,
  kInstall = 2,
  kCheck = 4,
  kTarget = kInstall | kCheck,
  kAll = kGenerate | kInstall | kCheck
};

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
     "install и check; check приема само mysql и firebird)",
     kAll},
    {"host", "сървър",
     "сървър на базата данни (MySQL, MSSQL и Firebird); по подразбиране 127.0.0.1", kAll},
    {"database", "име", "име на базата данни MySQL/MSSQL; по подразбиране quillmarsh1", kAll},
    {"user", "потребител", "потребител MySQL/MSSQL; по подразбиране root за mysql, sa за mssql",
     kAll},
    {"password", "парола",
     "парола MySQL/MSSQL; без тази опция се взема от променливата на средата NOMPACK_PASSWORD, "
     "а без нея е празна (паролата от командния ред се вижда в списъка на процесите)",
     kAll},
    {"fb-path", "път", "път до файла на базата данни Firebird на сървъра", kAll},
    {"out", "папка", "папка за износа: в нея се създава файлът на пакета (generate)", kGenerate},
    {"packet", "файл", "файл на пакета за инсталиране или проверка (install, check)", kTarget},
    {"reuse", nullptr,
     "отговор \"Да\", когато вече има разопакован екземпляр на пакета; без нея \"Не\" "
     "(install, check)",
     kTarget},
};

const char* kExitCodes =
    "Изходни кодове:\n"
    "  0  успех\n"
    "  1  грешна команда или опция, стъпка, която се провали и спря процеса, или процес, спрян\n"
    "     с Ctrl+C или TERM\n"
    "  2  install: процесът завърши, но беше показана грешка или ред беше отказан;\n"
    "     check: при инсталиране на пакета биха били отказани редове\n"
    "  3  install: данните са записани, но броят на редовете в базата не съвпада със\n"
    "     заредените (или не може да бъде проверен)";

const char* kOverview =
    "Генериране, проверка и инсталиране на номенклатурни пакети без прозореца.\n"
    "\n"
    "Команди:\n"
    "  generate  износ на 37-те таблици на източника в пакет (изисква --out)\n"
    "  install   инсталиране на пакет в целевата база данни (изисква --packet)\n"
    "  check     проверка на пакет спрямо целевата база данни, без да я променя\n"
    "            (изисква --packet)\n"
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
    "  2  процесът завърши, но беше показана грешка или ред беше отказан\n"
    "  3  данните са записани, но броят на редовете в някоя таблица на базата не съвпада\n"
    "     със заредените (или не може да бъде проверен): грешка с таблицата и числата";

const char* kCheckText =
    "Проверка на пакет спрямо целевата база данни, без тя да се променя: връзката,\n"
    "разархивирането и всички проверки на пакета и на таблиците, както при install,\n"
    "после всеки ред спрямо колоните на базата (дължина на текста, обхват на числата),\n"
    "колоните, които ще бъдат добавени (MySQL), и повтарящите се ID в една таблица.\n"
    "Дневникът (редовете, които биха били отказани, и броят на редовете по таблици) се\n"
    "пише на stdout, грешките - на stderr като редове \"Грешка: ...\".\n"
    "\n"
    "Изходни кодове:\n"
    "  0  пакетът би се инсталирал без отказан ред\n"
    "  1  грешна опция, или пакетът не минава проверките (не би се инсталирал)\n"
    "  2  при инсталиране биха били отказани редове";

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
                          : FCommand == cmCheck   ? unsigned(kCheck)
                                                  : unsigned(kAll);
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
    case cmCheck:
      FParser.setApplicationDescription(Text(kCheckText));
      FParser.addPositionalArgument(QStringLiteral("check"), Text("командата"));
      break;
    case cmNone:
      FParser.setApplicationDescription(Text(kOverview) + QLatin1Char('\n') + Text(kExitCodes));
      FParser.addPositionalArgument(QStringLiteral("command"), Text("generate, install или check"));
      break;
  }
}

int TCliCommandLine::Fail(const QString& message) {
  Print(stderr, message);
  Print(stderr,
        FCommand == cmNone ? FParser.helpText() : Text("Помощ: nompack-cli %1 --help").arg(Name()));
  return ecFailed;
}

int TCliCommandLine::Read(const QStringList& arguments) {
  QStringList args = arguments;
  const QString first = args.value(1);
  if (first == QLatin1String("generate")) FCommand = cmGenerate;
  if (first == QLatin1String("install")) FCommand = cmInstall;
  if (first == QLatin1String("check")) FCommand = cmCheck;
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
    return Fail(positional.isEmpty() ? Text("Липсва команда: generate, install или check")
                                     : Text("Непозната команда: %1").arg(positional.first()));
  }
  // A stray word is most likely an option's value split by the shell.
  if (!FParser.positionalArguments().isEmpty())
    return Fail(Text("Излишен аргумент: %1").arg(FParser.positionalArguments().first()));
  FKindIndex = KindIndexOf(Value(QStringLiteral("kind")));
  if (FKindIndex < 0) return Fail(Text("--kind трябва да е mysql, firebird или mssql"));
  if (FCommand == cmGenerate && !IsSet(QStringLiteral("out")))
    return Fail(Text("generate изисква --out ПАПКА"));
  if (FCommand == cmCheck && FKindIndex == 2)
    return Fail(Text("check проверява пакет само спрямо mysql или firebird"));
  if ((FCommand == cmInstall || FCommand == cmCheck) && !IsSet(QStringLiteral("packet")))
    return Fail(Text("%1 изисква --packet ФАЙЛ").arg(Name()));
  return -1;
}

QString TCliCommandLine::Name() const {
  switch (FCommand) {
    case cmGenerate:
      return QStringLiteral("generate");
    case cmInstall:
      return QStringLiteral("install");
    case cmCheck:
      return QStringLiteral("check");
    case cmNone:
      break;
  }
  return QString();
}

std::optional<QString> TCliCommandLine::Password() const {
  if (IsSet(QStringLiteral("password"))) return Value(QStringLiteral("password"));
  if (qEnvironmentVariableIsSet("NOMPACK_PASSWORD"))
    return qEnvironmentVariable("NOMPACK_PASSWORD");
  return std::nullopt;
}
