// nompack_screenshot: opens the main window (and the chunk file explorer on a
// sample chunk) on a real display for scripts/screenshot.sh, prints the
// window's geometry once it is painted and stays open until it is killed.
//
//   nompack_screenshot main|firebird EXPORT_FOLDER
//   nompack_screenshot explorer|datecheck [CHUNK_FILE]
//   nompack_screenshot generated EXPORT_FOLDER
//   nompack_screenshot installed EXPORT_FOLDER PACKET FIREBIRD_PATH
//
// datecheck: the explorer with the result box of Ctrl+Shift+C over it.
// generated: "Генерирай" pressed with the export folder typed in, the boxes
// answered as a user would; the picture is taken when the run is over.
// installed: the FireBird kind, the target's path and the packet typed in,
// "Инсталирай" pressed.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "ClientDataSet.h"
#include "DataModule.h"
#include "DateTime.h"
#include "MainFrm.h"
#include "QBObjectComboBox.h"
#include "XMLDataGrid.h"
#include "XMLExplorerFrm.h"

namespace {

void PrintGeometry(const char* what, QWidget* window) {
  const QRect r = window->frameGeometry();
  std::printf("%s %d %d %d %d\n", what, r.x(), r.y(), r.width(), r.height());
  std::fflush(stdout);
}

// A chunk as the export writes them for PARCEL: Cyrillic names, NULLs, and
// expiry dates on both sides of 30.12.1899.
QString WriteSampleChunk(const QString& folder) {
  TClientDataSet ds;
  ds.AddFieldDef({QStringLiteral("PARCEL_ID"), ftInteger});
  ds.AddFieldDef({QStringLiteral("ARTICLE_NAME"), ftString, 60});
  ds.AddFieldDef({QStringLiteral("PRODUCER"), ftString, 40});
  ds.AddFieldDef({QStringLiteral("PRICE"), ftBCD, 2, 15});
  ds.AddFieldDef({QStringLiteral("QUANTITY"), ftFloat});
  ds.AddFieldDef({QStringLiteral("EXPIRY_DATE"), ftDateTime});
  ds.AddFieldDef({QStringLiteral("IS_ACTIVE"), ftBoolean});
  ds.AddFieldDef({QStringLiteral("NOTE"), ftMemo});
  const struct {
    const char* name;
    const char* producer;
    const char* price;
    double quantity;
    QDate expiry;
  } rows[] = {
      {"Аналгин табл. 500 мг x 20", "Софарма АД", "2.35", 14, QDate(2026, 5, 31)},
      {"Парацетамол сироп 120 мг/5 мл", "Актавис ЕАД", "4.80", 6, QDate(2025, 11, 30)},
      {"Витамин C 1000 мг x 30", "Натур Продукт", "9.90", 3.5, QDate(1800, 1, 1)},
      {"Ибупрофен капс. 200 мг x 10", "Тева Фарма", "3.15", 22, QDate(2027, 2, 28)},
      {"Бепантен крем 30 г", "Байер България", "11.20", 5, QDate(1899, 12, 29)},
      {"Аспирин Протект 100 мг x 28", "Байер България", "6.45", 9, QDate(2026, 8, 31)},
      {"Нуроден сироп 100 мл", "Рекит Бенкизер", "8.70", 0, QDate()},
      {"Физиологичен разтвор 0,9% 500 мл", "Б. Браун", "1.95", 40, QDate(2028, 1, 31)},
  };
  int id = 1041;
  for (const auto& row : rows) {
    ds.AppendRow({Variant::FromInt(id++), Variant::FromString(QString::fromUtf8(row.name)),
                  Variant::FromString(QString::fromUtf8(row.producer)),
                  Variant::FromDecimal(QString::fromLatin1(row.price)),
                  Variant::FromDouble(row.quantity),
                  row.expiry.isValid() ? Variant::FromDateTime(DateTimeConv::FromDate(row.expiry))
                                       : Variant::Null(),
                  Variant::FromBool(row.quantity > 0),
                  id % 3 == 0 ? Variant::FromString(QStringLiteral("склад 2")) : Variant::Null()});
  }
  ds.Open();
  const QString fileName = QDir(folder).filePath(QStringLiteral("PARCEL[1].xml"));
  ds.SaveToFile(fileName, TDataPacketFormat::SingleByte);
  return fileName;
}

// Presses the default button of every message box that comes up (the
// success notice's OK, Yes to a question), a moment after it is painted.
void AnswerBoxes(QObject* owner) {
  auto* timer = new QTimer(owner);
  timer->setInterval(200);
  QObject::connect(timer, &QTimer::timeout, owner, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    QAbstractButton* button = box->defaultButton();
    if (!button && !box->buttons().isEmpty()) button = box->buttons().first();
    // Said on stderr, so that a run that failed is not taken for a picture of success.
    std::fprintf(stderr, "box: %s\n", qPrintable(box->text()));
    if (button) button->click();
  });
  timer->start();
}

void SetField(TMainForm& form, const char* name, const QString& text) {
  if (auto* edit = form.findChild<QLineEdit*>(QLatin1String(name))) edit->setText(text);
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  TMainForm::SetUpApplication();
  const QStringList args = QApplication::arguments();
  const QString mode = args.size() > 1 ? args[1] : QStringLiteral("main");
  QTemporaryDir temp;

  TMainForm form;
  const bool installed = mode == QLatin1String("installed");
  if (mode == QLatin1String("firebird") || installed) {
    auto* kind = form.findChild<TQBObjectComboBox*>(QStringLiteral("cbDataBaseType"));
    kind->setCurrentIndex(1);
    form.cbDataBaseTypeChange();
  }
  // The fields show the demo's own folder, not the folder the program runs from.
  if (mode != QLatin1String("explorer") && mode != QLatin1String("datecheck") && args.size() > 2)
    SetField(form, "edExportFolderName", args[2]);
  if (installed && args.size() > 4) {
    SetField(form, "edInstallFile", args[3]);
    SetField(form, "edFBDBFullPath", args[4]);
  }
  TDM dm(form);
  form.SetDataModule(&dm);
  form.show();
  // Stays up until the script has taken its picture, at most a minute.
  QTimer::singleShot(60000, &app, &QApplication::quit);

  if (mode == QLatin1String("explorer") || mode == QLatin1String("datecheck")) {
    const bool dateCheck = mode == QLatin1String("datecheck");
    const QString chunk = args.size() > 2 ? args[2] : WriteSampleChunk(temp.path());
    QTimer::singleShot(300, &form, [&form, chunk, dateCheck] {
      QTimer::singleShot(700, &form, [dateCheck] {
        auto* explorer = qobject_cast<TXMLExplorerForm*>(QApplication::activeModalWidget());
        if (!explorer) return;
        // A row further down, as a user would have clicked it.
        auto* grid = explorer->findChild<TXMLDataGrid*>(QStringLiteral("dgrXMLFileData"));
        if (grid && grid->model()->rowCount() > 2)
          grid->setCurrentIndex(grid->model()->index(2, 1));
        // Fires inside the modal loop of the result box, when it is up.
        QTimer::singleShot(dateCheck ? 900 : 300, explorer,
                           [explorer] { PrintGeometry("explorer", explorer); });
        if (dateCheck) {
          QTimer::singleShot(100, explorer, [explorer] {
            explorer->findChild<QAction*>(QStringLiteral("acDateCheck"))->trigger();
          });
        }
      });
      ShowXMLExplorer(chunk, &form);
      QApplication::quit();
    });
  } else if (mode == QLatin1String("generated") || installed) {
    AnswerBoxes(&form);
    QTimer::singleShot(300, &form, [&form, installed] {
      const char* action = installed ? "acInstallPacket" : "acGenerateExport";
      form.findChild<QAction*>(QLatin1String(action))->trigger();
      // The run is over when the action returns; the log shows its end.
      QTimer::singleShot(700, &form, [&form] { PrintGeometry("main", &form); });
    });
  } else {
    QTimer::singleShot(700, &form, [&form] { PrintGeometry("main", &form); });
  }
  const int rc = QApplication::exec();
  form.SetDataModule(nullptr);
  return rc;
}
