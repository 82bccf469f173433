#pragma once

#include "app/translations.h"

#include <QApplication>

#include <optional>

class AppDelegate;

// The application: named "Tornel", opens no window of its own and keeps
// running when a window (the panel) closes; it lives in the tray only.
class TornelApp : public QApplication {
public:
    TornelApp(int &argc, char **argv);

    // --help, --version and the commands for the running companion or the
    // daemon, answered before the application starts, since they need no
    // display and must start no companion: the exit status when one was given.
    static std::optional<int> answerWithoutGui(int argc, char **argv);
    // Options other than Qt's own (which the constructor took) are refused
    // with the usage on standard error.
    bool acceptsCommandLine() const;

    // Launches `delegate` once the event loop runs, lets it shut down as the
    // loop ends, and returns 0.
    int run(AppDelegate &delegate);

private:
    // Installed before any widget is built.
    Translations m_translations;
};
