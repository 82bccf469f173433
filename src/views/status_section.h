#pragma once

#include <QWidget>

class ElidedWrappedLabel;
class PulseModifier;
class QLabel;
class SymbolView;
class SyncState;

// The upper part of the panel's main content: the status symbol and text,
// the last-sync line, the pending counts while syncing, and the error line
// (the status's error, or a command the daemon refused).
// It shows whatever the model holds at each refresh and keeps no values of
// its own, apart from the status symbol's pulse.
class StatusSection : public QWidget {
    Q_OBJECT
public:
    explicit StatusSection(QWidget *parent = nullptr);

    void refresh(const SyncState &state);

    PulseModifier *pulse() const { return m_pulse; }

private:
    SymbolView *m_statusIcon;
    PulseModifier *m_pulse;
    ElidedWrappedLabel *m_statusText;
    ElidedWrappedLabel *m_lastSyncLine;
    ElidedWrappedLabel *m_resumesLine;
    QWidget *m_pendingRow;
    QWidget *m_uploads;
    QLabel *m_uploadCount;
    QWidget *m_downloads;
    QLabel *m_downloadCount;
    ElidedWrappedLabel *m_errorLine;
};
