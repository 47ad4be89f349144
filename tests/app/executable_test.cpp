// The built program itself, run under its own X server (Xvfb).
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <optional>

#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat {
namespace {
using namespace text::literals;
using testing::ReadFileOrMissing;
using testing::TempDir;

// An X server of our own on a display number it picks itself; stopped when the object goes.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) return;
        // -displayfd 1: the server writes the display number it took to its standard output.
        server_.start(QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1024x768x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!server_.waitForStarted(5000)) return;
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (!out.contains('\n') && clock.elapsed() < 10000 &&
               server_.state() == QProcess::Running) {
            server_.waitForReadyRead(200);
            out += server_.readAllStandardOutput();
        }
        bool ok = false;
        const int number = out.trimmed().toInt(&ok);
        if (ok) name_ = QStringLiteral(":%1").arg(number);
    }
    ~VirtualDisplay() {
        if (server_.state() == QProcess::NotRunning) return;
        server_.terminate();
        if (!server_.waitForFinished(5000)) {
            server_.kill();
            server_.waitForFinished(2000);
        }
    }
    const QString& name() const { return name_; }

  private:
    QProcess server_;
    QString name_;
};

// A connection to the display for finding the program's window and asking it to close, as a
// window manager's close button does (WM_DELETE_WINDOW).
class XConnection {
  public:
    explicit XConnection(const QString& display)
        : d_(XOpenDisplay(display.toLocal8Bit().constData())) {}
    ~XConnection() {
        if (d_) XCloseDisplay(d_);
    }
    bool ok() const { return d_ != nullptr; }

    // A mapped top-level window whose title starts with prefix.
    std::optional<Window> FindWindow(const QByteArray& prefix) {
        Window root = DefaultRootWindow(d_), parent = 0, *children = nullptr;
        unsigned count = 0;
        std::optional<Window> found;
        if (!XQueryTree(d_, root, &root, &parent, &children, &count)) return found;
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(d_, children[i], &attributes) ||
                attributes.map_state != IsViewable)
                continue;
            if (Title(children[i]).startsWith(prefix)) found = children[i];
        }
        if (children) XFree(children);
        return found;
    }

    bool HasFocus(Window window) {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d_, &focus, &revert);
        return focus == window;
    }

    void RequestClose(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(d_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(d_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(d_, window, False, NoEventMask, &event);
        XFlush(d_);
    }

  private:
    QByteArray Title(Window window) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        QByteArray title;
        if (XGetWindowProperty(d_, window, XInternAtom(d_, "_NET_WM_NAME", False), 0, 1024, False,
                               XInternAtom(d_, "UTF8_STRING", False), &type, &format, &items,
                               &after, &data) == Success &&
            data) {
            title = QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(items));
        }
        if (data) XFree(data);
        return title;
    }

    Display* d_;
};

// Starts a copy of the program under another name in folder, waits for its main window, asks
// it to close and waits for the program to end. Returns the exit code, or -1.
int RunCopyAndClose(const VirtualDisplay& display, const QString& folder) {
    const QString copy = folder + QStringLiteral("/别的名字");
    if (!QFile::exists(copy) && !QFile::copy(QStringLiteral(ZEMBRAT_EXECUTABLE), copy)) {
        ADD_FAILURE() << "cannot copy the program";
        return -1;
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
    // In sanitizer builds: the D-Bus library keeps one buffer until the process ends, which
    // LeakSanitizer would report as the program's leak.
    const QString suppressions = folder + QStringLiteral("/leaks-not-ours.supp");
    QFile supp(suppressions);
    if (supp.open(QIODevice::WriteOnly)) supp.write("leak:libdbus-1.so\n");
    supp.close();
    const QString lsan = env.value(QStringLiteral("LSAN_OPTIONS"));
    env.insert(QStringLiteral("LSAN_OPTIONS"),
               (lsan.isEmpty() ? QString() : lsan + QStringLiteral(":")) +
                   QStringLiteral("suppressions=") + suppressions);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.setWorkingDirectory(QDir::tempPath());  // not the program's folder
    program.start(copy, {});
    if (!program.waitForStarted(5000)) {
        ADD_FAILURE() << "the program did not start";
        return -1;
    }
    XConnection x(display.name());
    EXPECT_TRUE(x.ok());
    std::optional<Window> window;
    QElapsedTimer clock;
    clock.start();
    while (x.ok() && !window && clock.elapsed() < 20000 && program.state() == QProcess::Running) {
        window = x.FindWindow("Zembrat v1.03");
        if (!window) QThread::msleep(50);
    }
    if (!window) {
        ADD_FAILURE() << "no main window appeared";
        program.kill();
        program.waitForFinished(2000);
        return -1;
    }
    // The program asks for the focus when its window comes up; the activation loads the settings.
    clock.restart();
    while (!x.HasFocus(*window) && clock.elapsed() < 10000) QThread::msleep(50);
    QThread::msleep(500);
    x.RequestClose(*window);
    if (!program.waitForFinished(20000)) {
        ADD_FAILURE() << "the program did not end after the close request";
        program.kill();
        program.waitForFinished(2000);
        return -1;
    }
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

std::string SavedSettings(const std::vector<std::string>& v) {
    return "[基本配置]"_gbk + "\r\n排除地址范围="_gbk + v[5] + "\r\n新的域名前缀="_gbk + v[4] +
           "\r\n旧的域名前缀="_gbk + v[3] + "\r\n图片存放目录="_gbk + v[2] + "\r\n文章过滤="_gbk +
           v[1] + "\r\n文章目录="_gbk + v[0];
}

TEST(Executable, ARenamedCopyKeepsZembratIniInItsFolder) {
    const VirtualDisplay display;
    if (display.name().isEmpty())
        GTEST_SKIP() << "Xvfb is not installed or did not start; install Debian's xvfb";
    TempDir dir;
    const QString folder =
        QString::fromUtf8(QByteArray::fromStdString(text::Utf8FromGbk(dir.path())));
    const std::string settings = dir / "Zembrat.ini";

    EXPECT_EQ(RunCopyAndClose(display, folder), 0);
    const std::string home = text::GbkFromUtf8(QDir::homePath().toStdString());
    EXPECT_EQ(ReadFileOrMissing(settings),
              SavedSettings({home + "/文章目录"_gbk, "*.htm", "files/img", "", "", ""}));
    EXPECT_FALSE(QDir(folder + QStringLiteral("/config/zembrat")).exists());

    // Stored values are loaded into the window and saved back unchanged.
    const std::string stored =
        SavedSettings({"/srv/文章"_gbk, "*.txt", "图片"_gbk, "old.example", "", "x.example"});
    dir.Write("Zembrat.ini", stored);
    EXPECT_EQ(RunCopyAndClose(display, folder), 0);
    EXPECT_EQ(ReadFileOrMissing(settings), stored);
}

}  // namespace
}  // namespace zembrat
