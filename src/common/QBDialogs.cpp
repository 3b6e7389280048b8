#include "QBDialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <utility>

#include "NompackError.h"

namespace {

struct TButtonInfo {
  TMsgDlgBtn Button;
  const char16_t* Caption;
  int Result;
};

// In the order a dialog shows them. The Yes caption ends in a Latin 'a'.
const TButtonInfo kButtons[] = {
    {mbYes, u"&\u0414a", mrYes},
    {mbNo, u"&\u041D\u0435", mrNo},
    {mbOK, u"OK", mrOk},
    {mbCancel, u"&\u041E\u0442\u043A\u0430\u0437", mrCancel},
    {mbAbort, u"\u041E\u0442&\u043A\u0430\u0437", mrAbort},
    {mbRetry, u"\u041E&\u0442\u043D\u043E\u0432\u043E", mrRetry},
    {mbIgnore, u"&\u0418\u0433\u043D\u043E\u0440\u0438\u0440\u0430\u043D\u0435", mrIgnore},
    {mbAll, u"&\u0412\u0441\u0438\u0447\u043A\u0438", mrAll},
    {mbNoToAll, u"\u041D&\u0435 \u0437\u0430 \u0432\u0441.", mrNoToAll},
    {mbYesToAll, u"\u0414&\u0430 \u0437\u0430 \u0432\u0441.", mrYesToAll},
    {mbHelp, u"&\u041F\u043E\u043C\u043E\u0449", mrNone},
};

// The close box answers mrCancel whatever the buttons, and Escape does nothing
// when the dialog has no escape button (Qt would pick a lone button itself).
class TMessageDialog : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

  bool FClosedByBox = false;
  QAbstractButton* FEscape = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override {
    FClosedByBox = true;
    QDialog::closeEvent(event);  // QMessageBox's refuses to close without an escape button
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cancel) && FEscape == nullptr) {
      event->accept();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }

  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  }
};

QString KindCaption(TMsgDlgType kind) {
  switch (kind) {
    case mtWarning:
      return QString::fromUtf16(
          u"\u041F\u0440\u0435\u0434\u0443\u043F\u0440\u0435\u0436\u0434\u0435\u043D\u0438\u0435");
    case mtError:
      return QString::fromUtf16(u"\u0413\u0440\u0435\u0448\u043A\u0430");
    case mtInformation:
      return QString::fromUtf16(u"\u0418\u043D\u0444\u043E\u0440\u043C\u0430\u0446\u0438\u044F");
    case mtConfirmation:
      return QString::fromUtf16(
          u"\u041F\u043E\u0442\u0432\u044A\u0440\u0436\u0434\u0435\u043D\u0438\u0435");
    case mtCustom:
      break;
  }
  return QApplication::applicationDisplayName();
}

QMessageBox::Icon KindIcon(TMsgDlgType kind) {
  switch (kind) {
    case mtWarning:
      return QMessageBox::Warning;
    case mtError:
      return QMessageBox::Critical;
    case mtInformation:
      return QMessageBox::Information;
    case mtConfirmation:
      return QMessageBox::Question;
    case mtCustom:
      break;
  }
  return QMessageBox::NoIcon;
}

int ShowDialog(const QString& text, QMessageBox::Icon icon, const QString& caption,
               TMsgDlgButtons buttons) {
  if (!buttons) buttons = mbOK;
  TMessageDialog box(QApplication::activeWindow());
  box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowTitle(caption);
  box.setWindowIcon(QApplication::windowIcon());
  box.setIcon(icon);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);

  QList<std::pair<QAbstractButton*, int>> results;
  QPushButton* byButton[std::size(kButtons)] = {};
  for (size_t i = 0; i < std::size(kButtons); ++i) {
    const TButtonInfo& info = kButtons[i];
    if (!buttons.testFlag(info.Button)) continue;
    // One role for all keeps the buttons in the order of the set; the
    // platform's button layout would otherwise regroup them by role.
    QPushButton* button = box.addButton(QString::fromUtf16(info.Caption), QMessageBox::ActionRole);
    byButton[i] = button;
    if (info.Button == mbHelp) {
      // Every button of a message box closes it; Help must not.
      QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
    } else {
      results.append({button, info.Result});
    }
  }
  auto find = [&](TMsgDlgBtn which) -> QPushButton* {
    for (size_t i = 0; i < std::size(kButtons); ++i)
      if (kButtons[i].Button == which) return byButton[i];
    return nullptr;
  };
  QPushButton* def = find(mbOK);
  if (!def) def = find(mbYes);
  if (!def) def = find(mbRetry);
  if (def) box.setDefaultButton(def);
  QPushButton* esc = find(mbCancel);
  if (!esc) esc = find(mbNo);
  if (!esc) esc = find(mbOK);
  box.FEscape = esc;
  if (esc) box.setEscapeButton(esc);

  box.exec();
  if (box.FClosedByBox) return mrCancel;
  for (const auto& [button, result] : results)
    if (box.clickedButton() == button) return result;
  return mrCancel;
}

QString& LastError() {
  static QString text;
  return text;
}

TErrorReportHook& Hook() {
  static TErrorReportHook hook;
  return hook;
}

QPointer<QWidget>& RefocusTarget() {
  static QPointer<QWidget> target;
  return target;
}

void SendRefresh(QWidget* widget, QEvent::Type type) {
  QEvent event(type);
  QCoreApplication::sendEvent(widget, &event);
}

void RefreshChildren(QWidget* parent, QEvent::Type type) {
  // A snapshot with guards: a refresh handler may rebuild part of the form.
  QList<QPointer<QWidget>> children;
  for (QObject* child : parent->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && !widget->isWindow()) children.append(widget);
  }
  for (const QPointer<QWidget>& child : children) {
    if (!child) continue;
    SendRefresh(child, type);
    if (child) RefreshChildren(child, type);
  }
}

}  // namespace

int MsgDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons) {
  return ShowDialog(text, KindIcon(kind), KindCaption(kind), buttons);
}

void ShowError(const QString& text, TMsgDlgButtons buttons) {
  MsgDlg(text, mtError, buttons);
}

bool AskConfirm(const QString& text, TMsgDlgType kind) {
  QString question = text;
  if (!question.endsWith(QLatin1Char('?'))) question += QLatin1Char('?');
  return MsgDlg(question, kind, mbYes | mbNo) == mrYes;
}

QEvent::Type DataRefreshEventType() {
  // Reserved once so that no other part of the program is handed the number.
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType(0xBBFF));
  return type;
}

void RefreshFormControls(QWidget* form) {
  if (!form) return;
  const QEvent::Type type = DataRefreshEventType();
  QPointer<QWidget> guard(form);
  SendRefresh(form, type);
  if (guard) RefreshChildren(form, type);
}

void SetErrorReportHook(TErrorReportHook hook) {
  Hook() = std::move(hook);
}

void ReportError(const QString& message) {
  LastError() = message;
  if (Hook()) {
    Hook()(message);
  } else {
    ShowTopLevelError(message);
  }
}

QString LastReportedError() {
  return LastError();
}

void ClearLastReportedError() {
  LastError().clear();
}

void ShowTopLevelError(const QString& message) {
  ShowDialog(TopLevelErrorText(message), QMessageBox::Critical,
             QApplication::applicationDisplayName(), mbOK);
}

namespace QBFocus {

void RefuseExit(QWidget* control, const QString& message) {
  RefocusTarget() = control;
  QPointer<QWidget> guard(control);
  QTimer::singleShot(0, control, [guard, message]() {
    if (guard && guard->isVisible() && guard->isEnabled()) guard->setFocus(Qt::OtherFocusReason);
    RefocusTarget() = nullptr;
    ReportError(message);
  });
}

void ReportLater(QObject* context, const QString& message) {
  QTimer::singleShot(0, context, [message]() { ReportError(message); });
}

QString MessageOf(const std::exception& error) {
  if (const auto* e = dynamic_cast<const ENompackError*>(&error)) return e->Message();
  return QString::fromLocal8Bit(error.what());
}

bool OtherIsRefocusing(const QWidget* self) {
  const QWidget* target = RefocusTarget().data();
  return target != nullptr && target != self;
}

bool IsRefocusing(const QWidget* self) {
  return self != nullptr && RefocusTarget().data() == self;
}

bool IsPassingReason(Qt::FocusReason reason) {
  return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

bool StartEntry(QWidget* control, QLineEdit* edit, bool& entered) {
  if (IsRefocusing(control)) {
    if (edit) edit->selectAll();
    return false;
  }
  if (entered || OtherIsRefocusing(control)) return false;
  entered = true;
  return true;
}

bool IsExit(const QWidget* control, const QFocusEvent* event, bool entered) {
  if (!entered || IsPassingReason(event->reason())) return false;
  // While a refocus is on its way the focus only passes through.
  return !IsRefocusing(control) && !OtherIsRefocusing(control);
}

TEnterMove EnterMoveOf(const QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return TEnterMove::NotEnter;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (modifiers == Qt::NoModifier) return TEnterMove::Forward;
  if (modifiers == Qt::ShiftModifier) return TEnterMove::Back;
  return TEnterMove::Other;
}

bool TakeSelectAllKey(QKeyEvent* event, QLineEdit* edit) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (event->key() == Qt::Key_A && modifiers == Qt::ControlModifier) {
    if (edit) edit->selectAll();
    event->accept();
    return true;
  }
  if (event->text() == QStringLiteral("\x01")) {
    event->accept();
    return true;
  }
  return false;
}

}  // namespace QBFocus
