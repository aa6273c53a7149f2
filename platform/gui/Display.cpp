#include "Display.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace sitowiak::platform {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

QtMessageHandler g_previous = nullptr;

bool IsEnvironmentNote(const QString& message) {
    return message.contains(QLatin1String("XDG_RUNTIME_DIR")) ||
           message.contains(QLatin1String("does not support propagateSizeHints")) ||
           message.contains(QLatin1String("does not support raise")) ||
           message.contains(QLatin1String("does not support setParent"));
}

void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && IsEnvironmentNote(message)) return;
    if (g_previous)
        g_previous(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

void QuietEnvironmentNotes() {
    QtMessageHandler previous = qInstallMessageHandler(FilterMessages);
    if (previous != FilterMessages) g_previous = previous;
}

bool SelectPlatformForDisplay() {
    if (IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return false;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}

}  // namespace sitowiak::platform
