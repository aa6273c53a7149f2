// The one message-box function of the program. With a display it shows a
// QMessageBox; without one (Qt's offscreen platform, or no QApplication) it
// counts as answered with the default button and writes to standard error:
// while the proxy runs (its StandardErrorLines set), one line with the
// box's priority ("<3>" for an error, "<4>" a warning, "<6>" otherwise) and
// the caption before the text unless it is the program's name; in a mode of
// the command line, the caption and the text, one line each. With a
// display, a box with the error icon is also written as such a line. Tests
// install a hook to see what would have been shown.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace sitowiak::platform {

// Buttons, icons and default button, with the Windows values.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
};
// Answers.
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Shows `text` (UTF-8) under `caption`; returns the button chosen.
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

// The button a box with `flags` answers when nobody can press one.
int DefaultButton(unsigned flags);

// True when boxes can appear on a screen (a QApplication on a real platform).
bool HasDisplay();

// From now on every box goes to standard error, as without a display: the
// program is ending on a signal and nobody may be there to answer.
void SendMessagesToStandardError();

// The window that owns boxes raised while no window of the program is active.
void SetMessageBoxOwner(QWidget* window);

using MessageBoxHook =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
// Replaces every box until reset with nullptr.
void SetMessageBoxHook(MessageBoxHook hook);
// Whether a hook answers the boxes (then a question may be asked even
// without a display).
bool MessageBoxHooked();

}  // namespace sitowiak::platform
