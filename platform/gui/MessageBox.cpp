#include "MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <cstdio>
#include <utility>

#include "platform/core/StandardErrorLines.h"

namespace sitowiak::platform {
namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

bool g_toStandardError = false;
QPointer<QWidget> g_owner;

// The window a box belongs to: the one in front (a modal box first), else
// the program's main window.
QWidget* OwnerWindow() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return g_owner.data();
}

std::vector<int> Buttons(unsigned flags) {
    switch (flags & 0xF) {
        case MB_OKCANCEL:
            return {IDOK, IDCANCEL};
        case MB_YESNOCANCEL:
            return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO:
            return {IDYES, IDNO};
        default:
            return {IDOK};
    }
}

QMessageBox::StandardButton ToQt(int id) {
    switch (id) {
        case IDCANCEL:
            return QMessageBox::Cancel;
        case IDYES:
            return QMessageBox::Yes;
        case IDNO:
            return QMessageBox::No;
        default:
            return QMessageBox::Ok;
    }
}

int FromQt(int button) {
    switch (button) {
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return IDOK;
    }
}

QMessageBox::Icon Icon(unsigned flags) {
    switch (flags & 0xF0) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

int DefaultButton(unsigned flags) {
    std::vector<int> buttons = Buttons(flags);
    size_t index = (flags & MB_DEFBUTTON3) ? 2 : (flags & MB_DEFBUTTON2) ? 1 : 0;
    return buttons[std::min(index, buttons.size() - 1)];
}

bool HasDisplay() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
           QGuiApplication::platformName() != QLatin1String("offscreen") &&
           QGuiApplication::platformName() != QLatin1String("minimal");
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (Hook()) return Hook()(text, caption, flags);
    if ((!HasDisplay() || g_toStandardError) && !HasStandardErrorLines()) {
        // A mode of the command line, read in a terminal: caption and text.
        std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
        std::fflush(stderr);
        return DefaultButton(flags);
    }
    if (!HasDisplay() || g_toStandardError) {
        // One line with the box's priority; the caption only when it says
        // more than the program's name, which the journal shows anyway.
        const LinePriority priority = (flags & 0xF0) == MB_ICONERROR     ? LinePriority::kError
                                      : (flags & 0xF0) == MB_ICONWARNING ? LinePriority::kWarning
                                                                         : LinePriority::kInfo;
        const bool named =
            caption.empty() || QString::fromStdString(caption).compare(
                                   QCoreApplication::applicationName(), Qt::CaseInsensitive) == 0;
        WriteLine(priority, named ? text : caption + ": " + text, true);
        return DefaultButton(flags);
    }
    // An error is also a line on standard error, for whoever started the
    // program from a terminal or a session log.
    if ((flags & 0xF0) == MB_ICONERROR) WriteLine(LinePriority::kError, text);
    // Owned by its window: centred over it, kept in front of it, and a dialog,
    // so no minimise button.
    QMessageBox box(Icon(flags), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, OwnerWindow());
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    QMessageBox::StandardButtons buttons;
    for (int id : Buttons(flags)) buttons |= ToQt(id);
    box.setStandardButtons(buttons);
    // Qt's own captions are English; the boxes speak Polish like the rest.
    const std::pair<QMessageBox::StandardButton, const char*> captions[] = {
        {QMessageBox::Yes, "&Tak"}, {QMessageBox::No, "&Nie"}, {QMessageBox::Cancel, "Anuluj"}};
    for (const auto& [button, label] : captions)
        if (QAbstractButton* shown = box.button(button)) shown->setText(QString::fromUtf8(label));
    box.setDefaultButton(ToQt(DefaultButton(flags)));
    return FromQt(box.exec());
}

void SendMessagesToStandardError() {
    g_toStandardError = true;
}

void SetMessageBoxOwner(QWidget* window) {
    g_owner = window;
}

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = std::move(hook);
}

bool MessageBoxHooked() {
    return static_cast<bool>(Hook());
}

}  // namespace sitowiak::platform
