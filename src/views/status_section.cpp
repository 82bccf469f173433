#include "views/status_section.h"

#include "state/sync_state.h"
#include "views/controls/elided_wrapped_label.h"
#include "views/controls/pulse_modifier.h"
#include "views/controls/symbol_view.h"
#include "views/panel_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <climits>

namespace {

constexpr int statusIconFrame = 24;
constexpr int statusRowSpacing = 8;
// Rows under the status text start where the text starts.
constexpr int underStatusTextInset = statusIconFrame + statusRowSpacing;
// Long daemon messages would push the commands out of the panel.
constexpr int statusTextMaxLines = 3;
constexpr int errorLineMaxLines = 3;

// A symbol and a count, both in the caption style and one colour; a count
// too long for the row is elided, not cut mid-number.
QWidget *makeCountLabel(const QString &objectName, const QString &symbol, NamedColor color, QLabel **count)
{
    auto *label = new QWidget;
    label->setObjectName(objectName);
    auto *layout = new QHBoxLayout(label);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    *count = new ElidedWrappedLabel(1);
    applyTextStyle(*count, TextStyle::caption, color);
    layout->addWidget(new SymbolView(symbol, color, symbolSize((*count)->font())));
    layout->addWidget(*count, 1);
    return label;
}

// tr's plural form is chosen by an int; the shown count keeps every digit.
int pluralCount(qint64 count)
{
    return int(qBound(qint64(0), count, qint64(INT_MAX)));
}

// The count as a bare number, and as "1 upload pending" or "9 uploads
// pending" (`name`) for screen readers, which would read the number alone.
// Each poll brings the count again; the name is set only on a change, as each
// setting is announced.
void setCount(QLabel *label, qint64 count, const QString &name)
{
    label->setText(QString::number(count));
    if (label->accessibleName() != name)
        label->setAccessibleName(name);
}

} // namespace

StatusSection::StatusSection(QWidget *parent) : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(6);

    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(statusRowSpacing);
    const StatusLook initial = statusLook(SyncStatus::loggedOut);
    m_statusIcon = new SymbolView(initial.symbol, initial.panelColor, symbolSize(textStyleFont(TextStyle::title2)),
                                  QSize(statusIconFrame, statusIconFrame));
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_pulse = new PulseModifier(m_statusIcon, false);
    statusRow->addWidget(m_statusIcon, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_statusText = new ElidedWrappedLabel(statusTextMaxLines);
    m_statusText->setObjectName(QStringLiteral("statusText"));
    applyTextStyle(m_statusText, TextStyle::bodyMedium);
    m_lastSyncLine = new ElidedWrappedLabel(1);
    m_lastSyncLine->setObjectName(QStringLiteral("lastSyncLine"));
    applyTextStyle(m_lastSyncLine, TextStyle::caption, NamedColor::secondaryLabel);
    m_resumesLine = new ElidedWrappedLabel(1);
    m_resumesLine->setObjectName(QStringLiteral("resumesLine"));
    applyTextStyle(m_resumesLine, TextStyle::caption, NamedColor::secondaryLabel);
    texts->addWidget(m_statusText);
    texts->addWidget(m_resumesLine);
    texts->addWidget(m_lastSyncLine);
    statusRow->addLayout(texts, 1);
    column->addLayout(statusRow);

    m_pendingRow = new QWidget;
    m_pendingRow->setObjectName(QStringLiteral("pendingRow"));
    auto *pending = new QHBoxLayout(m_pendingRow);
    pending->setContentsMargins(underStatusTextInset, 0, 0, 0);
    pending->setSpacing(12);
    m_uploads = makeCountLabel(QStringLiteral("uploads"), QStringLiteral("arrow.up.circle"), NamedColor::blue,
                               &m_uploadCount);
    m_downloads = makeCountLabel(QStringLiteral("downloads"), QStringLiteral("arrow.down.circle"),
                                 NamedColor::green, &m_downloadCount);
    pending->addWidget(m_uploads);
    pending->addWidget(m_downloads);
    pending->addStretch();
    column->addWidget(m_pendingRow);

    m_errorLine = new ElidedWrappedLabel(errorLineMaxLines);
    m_errorLine->setObjectName(QStringLiteral("errorLine"));
    m_errorLine->setContentsMargins(underStatusTextInset, 0, 0, 0);
    applyTextStyle(m_errorLine, TextStyle::caption, NamedColor::red);
    column->addWidget(m_errorLine);
}

void StatusSection::refresh(const SyncState &state)
{
    const SyncStatus status = state.status();
    const StatusLook look = statusLook(status);
    m_statusIcon->setSymbol(look.symbol, look.panelColor);
    m_pulse->setAnimating(status == SyncStatus::syncing);

    m_statusText->setText(state.statusText());
    const QString resumes = state.timedPause().resumesText();
    m_resumesLine->setText(resumes);
    m_resumesLine->setVisible(status == SyncStatus::paused && !resumes.isEmpty());
    const QString lastSync = state.lastSyncText();
    m_lastSyncLine->setText(lastSync);
    m_lastSyncLine->setVisible(!lastSync.isEmpty() && status != SyncStatus::loggedOut);

    const qint64 uploads = state.pendingUploads();
    const qint64 downloads = state.pendingDownloads();
    setCount(m_uploadCount, uploads, tr("%1 upload(s) pending", nullptr, pluralCount(uploads)).arg(uploads));
    m_uploads->setVisible(uploads > 0);
    setCount(m_downloadCount, downloads, tr("%1 download(s) pending", nullptr, pluralCount(downloads)).arg(downloads));
    m_downloads->setVisible(downloads > 0);
    m_pendingRow->setVisible(status == SyncStatus::syncing && (uploads > 0 || downloads > 0));

    // A command the daemon refused says so whatever the status; the status's
    // own error is the status text's detail.
    std::optional<QString> error = state.commandError();
    if (!error && status == SyncStatus::error)
        error = state.errorMessage();
    m_errorLine->setText(error.value_or(QString()));
    m_errorLine->setVisible(error.has_value());
}

#include "moc_status_section.cpp"
