// The boxes and dialogs the window shows, each behind a hook that tests replace: the message
// box, the question before an irreversible command, where to save a file and which file to
// open.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// The window the boxes and dialogs belong to: each is shown in front of it (the window is its
// transient parent) and closes with it. The main window names itself when it is made.
void SetDialogOwner(QWidget *window);
// Closes every box and dialog that is open, as the window closes: none outlives it, so
// closing the window ends the program. Boxes asked for afterwards are not shown.
void CloseDialogs();

// A box with the text, the caption and one OK button. It is not modal: the main window stays
// usable and timers keep running while it is shown, and the call returns at once.
void ShowMessageBox(const QString &text, const QString &caption);
// Replaces the box (tests record the calls); an empty function restores the real box.
using MessageBoxHook = std::function<void(const QString &text, const QString &caption)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Asks before a command that cannot be undone (it erases the controller's data or switches
// power equipment): a question box with Yes and No, No the default and Esc meaning No. True
// only for Yes. It waits (timers keep running) and the window takes no clicks meanwhile.
bool AskYesNo(const QString &question);
// Replaces the question (tests answer it); an empty function restores the real box.
using YesNoHook = std::function<bool(const QString &question)>;
void SetYesNoHook(YesNoHook hook);
constexpr const char *kConfirmCaption = "确认";

// Asks the operator where to save a file: the path chosen, or an empty text when cancelled.
QString AskSaveFileName(const QString &caption, const QString &suggestedName, const QString &filter);
// Replaces the dialog (tests answer with a path); an empty function restores the dialog.
using SaveFileNameHook = std::function<QString(const QString &caption, const QString &suggestedName)>;
void SetSaveFileNameHook(SaveFileNameHook hook);

// Asks the operator which file to open: the path chosen, or an empty text when cancelled.
QString AskOpenFileName(const QString &caption, const QString &filter);
// Replaces the dialog (tests answer with a path); an empty function restores the dialog.
using OpenFileNameHook = std::function<QString(const QString &caption)>;
void SetOpenFileNameHook(OpenFileNameHook hook);
