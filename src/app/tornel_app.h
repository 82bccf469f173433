#pragma once

#include <QApplication>

class AppDelegate;

// The application: named "Tornel", opens no window of its own and keeps
// running when a window (the panel) closes; it lives in the tray only.
class TornelApp : public QApplication {
public:
    TornelApp(int &argc, char **argv);

    // Launches `delegate` once the event loop runs, lets it shut down as the
    // loop ends, and returns 0.
    int run(AppDelegate &delegate);
};
