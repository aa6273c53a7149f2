// sitowiak-screenshots OUTDIR: renders the main window, its two menus
// opened, the About box, the log window with a few entries and, on a real
// display, the box that offers to trust a news server's certificate to PNG
// files in OUTDIR, with a fresh settings folder of its own so that no
// user's settings are read or changed. It runs on Qt's offscreen platform
// unless a display is given.
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QPainter>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include "frame/windows/AboutBox.h"
#include "frame/windows/FrameGlyphs.h"
#include "frame/windows/ShellOpen.h"
#include "log/TLog.h"
#include "platform/gui/MessageBox.h"
#include "platform/core/RegistryHive.h"
#include "proxy/window/TFormaBezdokumentowaPozycjonowanaStopkaNiusowa.h"

using namespace sitowiak;

namespace {

using MainWindow = proxy::TFormaBezdokumentowaPozycjonowanaStopkaNiusowa;

bool Save(const QPixmap& pixmap, const QDir& dir, const char* name) {
    QString file = dir.filePath(QLatin1String(name));
    bool saved = pixmap.save(file, "PNG");
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "FAILED", file.toLocal8Bit().constData());
    return saved;
}

// A window as a user sees it: a plain title bar with the window's title
// above its contents (the offscreen platform draws no decorations).
QPixmap Framed(const QPixmap& contents, const QString& title) {
    const int bar = 24;
    QPixmap canvas(contents.width() + 2, contents.height() + bar + 1);
    canvas.fill(QColor(0x3c, 0x5a, 0x82));
    QPainter painter(&canvas);
    painter.drawPixmap(1, bar, contents);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(8, 0, canvas.width() - 16, bar), Qt::AlignVCenter | Qt::AlignLeft,
                     title);
    painter.end();
    return canvas;
}

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// The window with `menu` dropped down under its title in the menu bar.
QPixmap WithMenuOpen(MainWindow& window, QMenu* menu) {
    QRect title = window.menuBar()->actionGeometry(menu->menuAction());
    QPoint below = window.menuBar()->mapTo(&window, title.bottomLeft());
    menu->popup(window.mapToGlobal(below));
    window.menuBar()->setActiveAction(menu->menuAction());
    Settle();
    QPixmap frame = window.grab();
    QPixmap popup = menu->grab();
    QPixmap canvas(frame.width(), std::max(frame.height(), below.y() + popup.height()));
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, frame);
    painter.drawPixmap(below, popup);
    painter.end();
    menu->hide();
    return canvas;
}

void FillLog(log::TLog& log) {
    const std::string greeting =
        "200 news.example.org InterNetNews NNRP server ready (posting ok)\r\n";
    log.SetEntryStyle(0x0000A0, "Nawiązanie połączenia");
    log.AddEntry("");
    log.SetEntryStyle(0x0000A0, "Odpowiedzi");
    log.AddEntry(greeting);
    log.SetEntryStyle(0x0000A0, "Żądania");
    log.AddEntry("GROUP pl.test\r\n");
    log.SetEntryStyle(0x008000, "Odpowiedzi");
    log.AddEntry("211 1204 1 1204 pl.test\r\n");
    log.Debugstring1->setChecked(true);
    log.SetEntryStyle(0xA00000, "Żądania");
    log.AddEntry("ARTICLE <zażółć.gęślą@jaźń.example>\r\n");
    log.Debugstring1->setChecked(false);
    log.SetEntryStyle(0xA00000, "Wypchnięcie czytnikowi");
    log.AddEntry(
        "220 1204 <zażółć.gęślą@jaźń.example>\r\nFrom: Józef <jozef@example.org>\r\n"
        "Subject: Zażółć gęślą jaźń\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
        "Treść:\tpróba\r\n.\r\n");
    log.SetEntryStyle(0x808080, "Zamknięcie połączenia");
    log.AddEntry("");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    platform::RegistryHive(config.path().toStdString() + "/sitowiak/user.reg")
        .WriteValue("HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry", "Aktywne",
                    platform::RegValue::String("0"));
    QApplication app(argc, argv);
    app.setWindowIcon(frame::ProductIcon());
    frame::SetShellOpener([](const std::string&) { return false; });
    QDir dir(QString::fromLocal8Bit(argv[1]));

    bool ok = true;
    MainWindow window;
    window.show();
    Settle();
    ok &= Save(Framed(window.grab(), window.windowTitle()), dir, "main-window.png");
    ok &= Save(Framed(WithMenuOpen(window, window.FileMenu), window.windowTitle()), dir,
               "menu-filtr.png");
    ok &= Save(Framed(WithMenuOpen(window, window.Help1), window.windowTitle()), dir,
               "menu-pomoc.png");
    // The trust question, as a refused certificate raises it: the box runs
    // its own loop, in which it is grabbed and answered "Nie".
    if (platform::HasDisplay()) {
        bool grabbed = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            Settle();
            grabbed = Save(Framed(box->grab(), box->windowTitle()), dir, "trust-certificate.png");
            box->done(QMessageBox::No);
        });
        poll.start(50);
        window.CertificateRefused(
            "news.example.org:563",
            "5f0c3a9e12d47b8866a1f0e2c4d9b7a31e6f58c02b9d4e7a6c1358f0a2e4d9b7");
        for (int i = 0; i < 100 && !grabbed; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        ok &= grabbed;
    }
    auto about = frame::CreateAboutBox(&window, window.Identity());
    about->show();
    Settle();
    ok &= Save(Framed(about->grab(), about->windowTitle()), dir, "about.png");
    about->hide();

    log::TLog log;
    FillLog(log);
    log.Drain();
    Settle();
    ok &= Save(Framed(log.grab(), log.windowTitle()), dir, "log-window.png");
    ok &= Save(frame::ProductIconPixmap(48), dir, "icon-48.png");
    return ok ? 0 : 1;
}
