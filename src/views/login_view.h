#pragma once

#include "daemon/ipc_client.h"

#include <QWidget>

#include <functional>
#include <optional>

class DisclosureButton;
class ElidedWrappedLabel;
class ProminentButton;
class QLineEdit;
class SymbolButton;
class SyncState;

// The login form shown in the panel in place of its main content. It sends
// what the user typed, unchanged, in one login request, shows progress while
// the request runs and the daemon's message when it fails, announced to
// screen readers as an alert. Return logs in from any of its controls while
// "Log In" is enabled. A new form starts empty each time the panel shows one.
class LoginView : public QWidget {
    Q_OBJECT
public:
    static inline const QString defaultServerURL = QStringLiteral("http://localhost:8080");
    static inline const QString emailPlaceholder = QStringLiteral("you@example.com");

    // `dismiss` clears the panel's flag that shows this form. It is called
    // by the back control and after a successful login, and must stay safe
    // to call after the form itself is gone.
    LoginView(SyncState &syncState, std::function<void()> dismiss, QWidget *parent = nullptr);

    bool isLoading() const { return m_isLoading; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void performLogin();
    void finishLogin(const std::optional<IPCError> &error);
    void updateControls();

    SyncState &m_syncState;
    std::function<void()> m_dismiss;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;

    SymbolButton *m_backButton;
    QLineEdit *m_email;
    QLineEdit *m_password;
    DisclosureButton *m_advancedToggle;
    QWidget *m_advancedContent;
    QLineEdit *m_serverURL;
    QWidget *m_errorRow;
    ElidedWrappedLabel *m_errorText;
    ProminentButton *m_loginButton;
};
