#pragma once

#include <QEvent>
#include <QFlags>
#include <QString>
#include <exception>
#include <functional>

class QFocusEvent;
class QKeyEvent;
class QLineEdit;
class QWidget;

// Message kinds; the order is the value.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// The buttons of a message dialog, one bit each, in the order they are shown.
enum TMsgDlgBtn : unsigned {
  mbYes = 0x001,
  mbNo = 0x002,
  mbOK = 0x004,
  mbCancel = 0x008,
  mbAbort = 0x010,
  mbRetry = 0x020,
  mbIgnore = 0x040,
  mbAll = 0x080,
  mbNoToAll = 0x100,
  mbYesToAll = 0x200,
  mbHelp = 0x400,
};
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMsgDlgButtons)

// Dialog results. Help has none: it does not close the dialog.
enum TModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,  // also the close box
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10,
};

// A modal message box with Bulgarian button captions, centred on the screen.
// Caption by kind ("Предупреждение", "Грешка", "Информация", "Потвърждение";
// a custom box keeps the application's display name), the kind's icon, no
// minimise or maximise box. Enter presses OK, else Yes, else Retry; Escape
// presses Cancel, else No, else OK; the close box gives mrCancel. The text is
// shown as plain text. An empty button set shows OK alone.
int MsgDlg(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons);
// MsgDlg of the error kind; the result is dropped.
void ShowError(const QString& text, TMsgDlgButtons buttons = mbOK);
// Appends "?" unless the text already ends with one, asks with Yes and No and
// returns true exactly for Yes (No, Escape and the close box give false).
bool AskConfirm(const QString& text, TMsgDlgType kind = mtConfirmation);

// The data refresh event (0xBBFF). Controls bound to data re-read it when
// they receive one; every other widget ignores it.
QEvent::Type DataRefreshEventType();
// Sends the refresh event synchronously to the form, then to every widget on
// it, depth first in child order (a child, then its children). Windows owned
// by the form (dialogs, popups) are not controls on it and are left out.
void RefreshFormControls(QWidget* form);

// The application's top-level error handler. Qt events cannot carry an
// exception out of the event loop, so a control that fails inside an event
// (a typed edit refusing to be left, say) reports through here. The main
// window installs a hook; without one the message goes to ShowTopLevelError.
using TErrorReportHook = std::function<void(const QString& message)>;
// An empty hook restores the default.
void SetErrorReportHook(TErrorReportHook hook);
// Remembers the message (LastReportedError) and hands it to the hook.
void ReportError(const QString& message);
QString LastReportedError();
void ClearLastReportedError();
// The standard error box: stop icon, the application's display name as
// caption, one OK button, TopLevelErrorText of the message.
void ShowTopLevelError(const QString& message);

// How a control keeps the focus when its exit processing fails. Qt delivers
// focus-out in the middle of moving the focus, so the control cannot refuse
// there; it asks for the focus back once the move is over and the error is
// reported then. Until that has happened the focus only passes through the
// other controls, which therefore skip their own entry and exit processing
// (otherwise a second control that cannot be left would start a ping-pong).
namespace QBFocus {
// Takes the focus back into `control` (the queued part), then ReportError.
void RefuseExit(QWidget* control, const QString& message);
// ReportError once the current event is over, for failures inside focus or
// key handling where a modal box must not open.
void ReportLater(QObject* context, const QString& message);
// The user-facing text of a caught exception.
QString MessageOf(const std::exception& error);
// True while some control other than `self` is taking the focus back.
bool OtherIsRefocusing(const QWidget* self);
// True while `self` itself is taking the focus back.
bool IsRefocusing(const QWidget* self);
// Focus moves that are no entry into or exit from a control: the window
// being (de)activated, a popup of the control opening or closing.
bool IsPassingReason(Qt::FocusReason reason);
// Whether a focus-in is a real entry into `control`, which then counts as
// `entered`. Not while the control takes the focus back after a refused exit
// (the text of `edit`, if any, is selected again: the entry state stays as
// it was), nor while another control does, nor when already entered.
bool StartEntry(QWidget* control, QLineEdit* edit, bool& entered);
// Whether a focus-out of an `entered` control is a real exit, to be checked.
bool IsExit(const QWidget* control, const QFocusEvent* event, bool entered);

// What an Enter (Return) key press asks of a control whose Enter moves on
// like Tab: Forward without modifiers, Back with Shift only, Other with any
// other modifiers (the keypad's are ignored); NotEnter for any other key.
enum class TEnterMove { NotEnter, Forward, Back, Other };
TEnterMove EnterMoveOf(const QKeyEvent* event);
// Ctrl+A selects all of `edit` (nullptr: nothing to select), and the Ctrl+A
// character never reaches the text, whatever else is held. True (and the
// event accepted) when the key was one of these.
bool TakeSelectAllKey(QKeyEvent* event, QLineEdit* edit);
}  // namespace QBFocus
