// nompack-cli: the generation and installation runs without the window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "CliView.h"
#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallationRun.h"
#include "NompackError.h"
#include "PacketLayout.h"

namespace {

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

int KindIndex(const QString& kind) {
  if (kind == QLatin1String("mysql")) return 0;
  if (kind == QLatin1String("firebird")) return 1;
  if (kind == QLatin1String("mssql")) return 2;
  return -1;
}

const char* kUsage =
    "Usage:\n"
    "  nompack-cli generate --kind mysql|firebird|mssql --host H [--database D] [--user U]\n"
    "                       [--password P] [--fb-path PATH] --out FOLDER\n"
    "  nompack-cli install  --kind mysql|firebird|mssql --host H [--database D] [--user U]\n"
    "                       [--password P] [--fb-path PATH] --packet FILE [--reuse]\n"
    "\n"
    "Options (defaults as the window's fields):\n"
    "  --kind      database kind of the source (generate) or target (install)\n"
    "  --host      database server (MySQL, MSSQL and Firebird); default 127.0.0.1\n"
    "  --database  MySQL/MSSQL database name; default quillmarsh1\n"
    "  --user      MySQL/MSSQL user; default root for mysql, sa for mssql\n"
    "  --password  MySQL/MSSQL password; default empty\n"
    "  --fb-path   Firebird database file path on the server\n"
    "  --out       export folder: the packet file is made there (generate)\n"
    "  --packet    packet file to install (install)\n"
    "  --reuse     answer Yes when an unpacked copy of the packet exists (install)\n"
    "\n"
    "generate: progress on stderr, the packet file's path as the last line of stdout;\n"
    "          exit 0 on success, 1 when the run reported an error.\n"
    "install:  the installation log on stdout, errors on stderr; exit 0 when the run\n"
    "          ended without an error, 2 when it ended but an error was shown or a row\n"
    "          was refused, 1 when a step failed and stopped it.\n";

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("nompack-cli"));

  QStringList args = QCoreApplication::arguments();
  if (args.size() < 2 || args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
    std::fputs(kUsage, args.size() < 2 ? stderr : stdout);
    return args.size() < 2 ? 1 : 0;
  }
  const QString command = args.takeAt(1);
  if (command != QLatin1String("generate") && command != QLatin1String("install")) {
    Print(stderr, QStringLiteral("Unknown command: %1").arg(command));
    std::fputs(kUsage, stderr);
    return 1;
  }

  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption kind(QStringLiteral("kind"), QString(), QStringLiteral("kind"));
  const QCommandLineOption host(QStringLiteral("host"), QString(), QStringLiteral("host"));
  const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("name"));
  const QCommandLineOption user(QStringLiteral("user"), QString(), QStringLiteral("user"));
  const QCommandLineOption password(QStringLiteral("password"), QString(),
                                    QStringLiteral("password"));
  const QCommandLineOption fbPath(QStringLiteral("fb-path"), QString(), QStringLiteral("path"));
  const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("folder"));
  const QCommandLineOption packet(QStringLiteral("packet"), QString(), QStringLiteral("file"));
  const QCommandLineOption reuse(QStringLiteral("reuse"));
  parser.addOptions({help, kind, host, database, user, password, fbPath, out, packet, reuse});
  if (!parser.parse(args)) {
    Print(stderr, parser.errorText());
    return 1;
  }
  if (parser.isSet(help)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const int kindIndex = KindIndex(parser.value(kind));
  if (kindIndex < 0) {
    Print(stderr, QStringLiteral("--kind must be mysql, firebird or mssql"));
    return 1;
  }
  const bool generating = command == QLatin1String("generate");
  if (generating && !parser.isSet(out)) {
    Print(stderr, QStringLiteral("generate needs --out FOLDER"));
    return 1;
  }
  if (!generating && !parser.isSet(packet)) {
    Print(stderr, QStringLiteral("install needs --packet FILE"));
    return 1;
  }

  TRunSettings settings;
  settings.DataBaseType = DataBaseTypeFromIndex(kindIndex);
  if (kindIndex == 2) settings.UserName = QStringLiteral("sa");
  if (parser.isSet(host)) {
    settings.FBDBHost = parser.value(host);
    settings.DBHost = parser.value(host);
  }
  if (parser.isSet(database)) settings.DBName = parser.value(database);
  if (parser.isSet(user)) settings.UserName = parser.value(user);
  if (parser.isSet(password)) settings.Password = parser.value(password);
  if (parser.isSet(fbPath)) settings.FBDBFullPath = parser.value(fbPath);
  settings.ExportFolder = parser.value(out);
  settings.InstallFile = parser.value(packet);

  TCliView view(parser.isSet(reuse));
  TDM dm(view);
  TRunContext context{dm, view, [settings] { return settings; }, QString(),
                      AddTrailingBackslash(QCoreApplication::applicationDirPath())};
  try {
    if (generating) {
      TGenerationRun run(context);
      run.GenerateExport();
      view.FinishLine();
      if (run.LastPacketFile().isEmpty()) return 1;
      Print(stdout, run.LastPacketFile());
      return 0;
    }
    TInstallationRun run(context);
    run.InstallPacket();
    view.FinishLine();
    if (!run.LastRunCompleted()) return 1;
    return view.ErrorCount() > 0 || run.LastRefusedRows() > 0 ? 2 : 0;
  } catch (const ENompackError& e) {
    view.ShowError(TopLevelErrorText(e.Message()));
    // Where it happened ("exporting ARTICLE, chunk 3"), for the technician.
    if (!e.Context().isEmpty()) Print(stderr, QStringLiteral("  ") + e.ContextText());
    return 1;
  } catch (const std::exception& e) {
    view.ShowError(TopLevelErrorText(QString::fromLocal8Bit(e.what())));
    return 1;
  }
}
