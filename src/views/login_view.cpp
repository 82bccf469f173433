#include "views/login_view.h"

#include "state/daemon_text.h"
#include "state/sync_state.h"
#include "views/accessible_role.h"
#include "views/controls/elided_wrapped_label.h"
#include "views/controls/painted_button.h"
#include "views/controls/symbol_view.h"
#include "views/panel_style.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

namespace {

constexpr int errorMaxLines = 4;

QLabel *makeCaption(const QString &text, TextStyle style = TextStyle::caption)
{
    auto *label = new QLabel(text);
    applyTextStyle(label, style, NamedColor::secondaryLabel);
    return label;
}

QLineEdit *makeField(const QString &objectName, const QString &accessibleName, const QString &placeholder)
{
    auto *field = new QLineEdit;
    field->setObjectName(objectName);
    field->setAccessibleName(accessibleName);
    field->setPlaceholderText(placeholder);
    return field;
}

// A caption above its field, 4 apart.
QVBoxLayout *makeFieldGroup(const QString &caption, QLineEdit *field)
{
    auto *group = new QVBoxLayout;
    group->setSpacing(4);
    QLabel *label = makeCaption(caption);
    label->setBuddy(field);
    group->addWidget(label);
    group->addWidget(field);
    return group;
}

} // namespace

LoginView::LoginView(SyncState &syncState, std::function<void()> dismiss, QWidget *parent)
    : QWidget(parent), m_syncState(syncState), m_dismiss(std::move(dismiss))
{
    auto *blocks = new QVBoxLayout(this);
    blocks->setContentsMargins(0, 0, 0, 0);
    blocks->setSpacing(16);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 0);
    header->setSpacing(defaultSpacing);
    m_backButton = new SymbolButton(QStringLiteral("chevron.left"), NamedColor::primaryLabel, tr("Back"));
    m_backButton->setObjectName(QStringLiteral("backButton"));
    connect(m_backButton, &SymbolButton::clicked, this, [this] { m_dismiss(); });
    header->addWidget(m_backButton);
    header->addWidget(makeHeading(tr("Log In")));
    header->addStretch();
    blocks->addLayout(header);

    auto *form = new QVBoxLayout;
    form->setContentsMargins(16, 0, 16, 16);
    form->setSpacing(12);

    m_email = makeField(QStringLiteral("emailField"), tr("Email"), emailPlaceholder);
    form->addLayout(makeFieldGroup(tr("Email"), m_email));

    m_password = makeField(QStringLiteral("passwordField"), tr("Password"), tr("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    form->addLayout(makeFieldGroup(tr("Password"), m_password));

    auto *advanced = new QVBoxLayout;
    advanced->setSpacing(0);
    m_advancedToggle = new DisclosureButton(tr("Advanced"));
    m_advancedToggle->setObjectName(QStringLiteral("advancedToggle"));
    applyTextStyle(m_advancedToggle, TextStyle::caption, NamedColor::secondaryLabel);
    m_advancedToggle->setChecked(true);
    m_advancedContent = new QWidget;
    auto *advancedColumn = new QVBoxLayout(m_advancedContent);
    advancedColumn->setContentsMargins(0, 4, 0, 0);
    advancedColumn->setSpacing(4);
    m_serverURL = makeField(QStringLiteral("serverUrlField"), tr("Server URL"), defaultServerURL);
    m_serverURL->setText(defaultServerURL);
    m_serverURL->setFont(textStyleFont(TextStyle::caption));
    QLabel *serverCaption = makeCaption(tr("Server URL"));
    serverCaption->setBuddy(m_serverURL);
    advancedColumn->addWidget(serverCaption);
    advancedColumn->addWidget(m_serverURL);
    QLabel *hint = makeCaption(tr("Use %1 for local development.").arg(defaultServerURL), TextStyle::caption2);
    hint->setObjectName(QStringLiteral("serverHint"));
    advancedColumn->addWidget(hint);
    connect(m_advancedToggle, &DisclosureButton::toggled, m_advancedContent, &QWidget::setVisible);
    advanced->addWidget(m_advancedToggle);
    advanced->addWidget(m_advancedContent);
    form->addLayout(advanced);

    m_errorRow = new QWidget;
    m_errorRow->setObjectName(QStringLiteral("loginErrorRow"));
    setAccessibleRole(m_errorRow, QAccessible::AlertMessage);
    auto *errorLayout = new QHBoxLayout(m_errorRow);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(defaultSpacing);
    m_errorText = new ElidedWrappedLabel(errorMaxLines);
    m_errorText->setObjectName(QStringLiteral("loginError"));
    applyTextStyle(m_errorText, TextStyle::caption, NamedColor::red);
    errorLayout->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), NamedColor::red,
                                          symbolSize(m_errorText->font())),
                           0, Qt::AlignTop);
    errorLayout->addWidget(m_errorText, 1);
    form->addWidget(m_errorRow);

    m_loginButton = new ProminentButton(tr("Log In"));
    m_loginButton->setObjectName(QStringLiteral("loginButton"));
    connect(m_loginButton, &ProminentButton::clicked, this, &LoginView::performLogin);
    form->addWidget(m_loginButton);
    blocks->addLayout(form);

    connect(m_email, &QLineEdit::textChanged, this, &LoginView::updateControls);
    connect(m_password, &QLineEdit::textChanged, this, &LoginView::updateControls);
    updateControls();
}

void LoginView::keyPressEvent(QKeyEvent *event)
{
    // Every control of the form passes Return on to us, so Return logs in
    // wherever focus is and never leaves the form or folds a section.
    if (ButtonChrome::isPlainReturn(event)) {
        if (m_loginButton->isEnabled())
            m_loginButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LoginView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Typing goes to the e-mail field at once, unless the user is already
    // somewhere in the form (the panel was closed and opened again).
    if (!isAncestorOf(focusWidget()))
        m_email->setFocus(Qt::OtherFocusReason);
}

void LoginView::performLogin()
{
    // The button stays focusable while busy; pressed again, it does nothing.
    if (m_isLoading)
        return;
    // Focus goes back where it was after a failure.
    QPointer<QWidget> focusBefore = focusWidget();
    m_isLoading = true;
    m_errorMessage.reset();
    updateControls();

    // The request may finish after the user has left the form: a closed
    // form's failure is dropped, but a success still closes whatever login
    // form the panel shows by then.
    QPointer<LoginView> form(this);
    m_syncState.login(m_email->text(), m_password->text(), m_serverURL->text(),
                      [form, dismiss = m_dismiss, focusBefore](const std::optional<IPCError> &error) {
                          if (form) {
                              form->finishLogin(error);
                              if (error && focusBefore && focusBefore->isEnabled())
                                  focusBefore->setFocus(Qt::OtherFocusReason);
                          }
                          if (!error)
                              dismiss();
                      });
}

void LoginView::finishLogin(const std::optional<IPCError> &error)
{
    m_isLoading = false;
    if (error)
        m_errorMessage = DaemonText::shown(error->description());
    updateControls();
    if (error) {
        QAccessibleEvent alert(m_errorRow, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void LoginView::updateControls()
{
    // Busy, it stays enabled so that focus can stay on it.
    m_loginButton->setEnabled((!m_email->text().isEmpty() && !m_password->text().isEmpty()) || m_isLoading);
    m_loginButton->setBusy(m_isLoading);
    m_loginButton->setText(m_isLoading ? tr("Logging in...") : tr("Log In"));
    // The fields are about to be disabled: focus waits on the button, which
    // now says "Logging in..." and is busy, rather than on no control at all.
    if (m_isLoading)
        m_loginButton->setFocus(Qt::OtherFocusReason);
    for (QLineEdit *field : {m_email, m_password, m_serverURL})
        field->setEnabled(!m_isLoading);
    const QString error = m_errorMessage.value_or(QString());
    m_errorText->setText(error);
    // Named before it shows, so it is announced whole; set only on a change,
    // as each setting is announced. The message reaches the password field as
    // its description: screen readers read that with the field, and Qt has no
    // "described by" relation to say it otherwise.
    if (m_errorRow->accessibleName() != error) {
        m_errorRow->setAccessibleName(error);
        m_password->setAccessibleDescription(error);
    }
    m_errorRow->setVisible(m_errorMessage.has_value());
}

#include "moc_login_view.cpp"
