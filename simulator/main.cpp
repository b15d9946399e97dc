// cardwright-sim: parses the options, opens the design, serves XML-RPC and,
// unless hidden, shows a small window.
#include "engine.h"
#include "http_server.h"
#include "log.h"
#include "methods.h"
#include "options.h"
#include "window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <pthread.h>

using namespace cwsim;

namespace {

void quitSoon(QCoreApplication* app, int code, int delayMs) {
    QMetaObject::invokeMethod(
        app,
        [app, code, delayMs] {
            QTimer::singleShot(delayMs, app, [app, code] { app->exit(code); });
        },
        Qt::QueuedConnection);
}

// The address as it goes into a URL: IPv6 literals in brackets.
std::string urlHost(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

void announce(const Options& options, int port) {
    log::line("listening on http://" + urlHost(options.bind) + ":" + std::to_string(port) +
              "/RPC2 (" + roleName(options.role) + ", " +
              (options.design.empty() ? std::string("no design") : options.design) + ")");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (!options.help && !options.version)
            resolveAccessKey(options, std::getenv("CARDWRIGHT_SIM_ACCESS_KEY"));
    } catch (const OptionsError& e) {
        std::fprintf(stderr, "cardwright-sim: %s\nTry 'cardwright-sim --help'.\n", e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("cardwright-sim " CWSIM_VERSION);
        return 0;
    }
    if (options.keyOnCommandLine)
        log::line("warning: other local users can read --access-key (ps, /proc); use "
                  "--access-key-file or CARDWRIGHT_SIM_ACCESS_KEY");

    // Signals go to one thread that asks the event loop to end, so the roster
    // is closed properly on Ctrl+C or kill.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") &&
                     qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                     qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (options.show != Show::Hidden && noDisplay) {
        log::line("no display ($DISPLAY and $WAYLAND_DISPLAY are empty): running without a "
                  "window, as with --show hidden");
        options.show = Show::Hidden;
    }
    bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen)
        // A display that is named but cannot be reached falls back to no
        // window, instead of Qt aborting.
        qputenv("QT_QPA_PLATFORM", options.show == Show::Hidden ? "offscreen"
                                   : qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                       ? "xcb;offscreen"
                                       : "wayland;xcb;offscreen");
    std::unique_ptr<QGuiApplication> app;
    if (options.show == Show::Hidden)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    if (options.show != Show::Hidden && !platformChosen &&
        QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        log::line(
            "cannot reach the display (" +
            qgetenv(qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "DISPLAY" : "WAYLAND_DISPLAY")
                .toStdString() +
            "): running without a window, as with --show hidden");
        options.show = Show::Hidden;
    }

    Engine engine(options);
    auto registry = buildRegistry(engine, options);
    HttpServer server(options, registry, engine);
    // Exit answers first; the short delay lets that answer reach the caller.
    engine.onExit = [&] { quitSoon(app.get(), 0, 200); };

    std::thread signalThread([&stopSignals, appPtr = app.get()] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        log::line("signal " + std::to_string(sig) + ", shutting down");
        quitSoon(appPtr, 0, 0);
    });
    signalThread.detach();

    try {
        engine.start();
    } catch (const CwError& e) {
        log::line(std::string("cannot open the design: ") + e.what());
        return 1;
    }

    auto listenAndServe = [&] {
        try {
            server.listen();
        } catch (const std::exception& e) {
            log::line(e.what());
            quitSoon(app.get(), 1, 0);
            return;
        }
        engine.setListenPort(server.port());
        announce(options, server.port());
    };
    int port = options.port;
    if (options.startDelay > 0) {
        char delay[32];
        std::snprintf(delay, sizeof delay, "%.1f", options.startDelay);
        log::line(std::string("listening in ") + delay + " s (--start-delay)");
        std::thread([&, delay = options.startDelay] {
            std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            listenAndServe();
        }).detach();
    } else {
        try {
            server.listen();
        } catch (const std::exception& e) {
            log::line(e.what());
            engine.stop();
            return 1;
        }
        port = server.port();
        engine.setListenPort(port);
        announce(options, port);
    }

    std::unique_ptr<SimWindow> window;
    if (options.show != Show::Hidden) {
        window = std::make_unique<SimWindow>(engine, options, port);
        engine.setWindowId(static_cast<long long>(window->winId()));
        if (options.show == Show::Minimized)
            window->showMinimized();
        else
            window->show();
    }

    int rc = app->exec();
    // The engine first: calls waiting on it then return at once (shutting
    // down), and the server's threads, which it waits for, end promptly.
    engine.stop();
    server.terminate();
    log::line("stopped"); // and everything logged before it
    std::fflush(stdout);
    // The signal thread is still parked in sigwait; the roster is closed, so
    // leave without unwinding.
    std::_Exit(rc);
}
