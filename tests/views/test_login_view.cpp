#include "model_driver.h"

#include "daemon/daemon_manager.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"
#include "views/controls/painted_button.h"

#include <QAccessible>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;

class TestLoginView : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newFormState();
    void enablingRule();
    void returnKey();
    void lockedWhileLoggingIn();
    void failureShowsTheDaemonMessage();
    void successClosesTheForm();
    void sentAsTyped_data();
    void sentAsTyped();
    void failureOfAClosedFormIsDropped();
    void successClosesAFormOpenedAgain();
    void completionAfterThePanelIsGone();

private:
    LoginView *openForm();
    QLineEdit *field(const QString &name) const { return m_panel->loginView()->findChild<QLineEdit *>(name); }
    ProminentButton *button() const { return m_panel->loginView()->findChild<ProminentButton *>(); }
    QLabel *errorText() const { return m_panel->loginView()->findChild<QLabel *>(u"loginError"_s); }
    bool errorShown() const;
    void answerLogin(Reply reply);
    void fill(const QString &email, const QString &password);
    QJsonObject loginParams() const;

    std::unique_ptr<ModelDriver> m_model;
    std::unique_ptr<DaemonManager> m_daemonManager;
    std::unique_ptr<MenuBarView> m_panel;
};

void TestLoginView::init()
{
    m_model = std::make_unique<ModelDriver>();
    m_daemonManager = std::make_unique<DaemonManager>();
    m_panel = std::make_unique<MenuBarView>(m_model->state(), *m_daemonManager);
    m_panel->show();
    openForm();
}

void TestLoginView::cleanup()
{
    m_panel.reset();
    m_daemonManager.reset();
    m_model.reset();
}

LoginView *TestLoginView::openForm()
{
    m_panel->setShowingLogin(true);
    return m_panel->loginView();
}

bool TestLoginView::errorShown() const
{
    return m_panel->loginView() && errorText()->isVisibleTo(m_panel->loginView());
}

void TestLoginView::answerLogin(Reply reply)
{
    m_model->daemon().setResponder([reply](const QJsonObject &request) {
        if (request.value(u"method"_s).toString() == u"login")
            return reply;
        return Reply::result(ModelDriver::record(u"synced"_s));
    });
}

void TestLoginView::fill(const QString &email, const QString &password)
{
    field(u"emailField"_s)->setText(email);
    field(u"passwordField"_s)->setText(password);
}

QJsonObject TestLoginView::loginParams() const
{
    for (const QJsonObject &request : m_model->daemon().requests()) {
        if (request.value(u"method"_s).toString() == u"login")
            return request.value(u"params"_s).toObject();
    }
    return {};
}

void TestLoginView::newFormState()
{
    QCOMPARE(field(u"emailField"_s)->text(), QString());
    QVERIFY(field(u"emailField"_s)->placeholderText().contains(u'@'));
    QCOMPARE(field(u"passwordField"_s)->text(), QString());
    QCOMPARE(field(u"passwordField"_s)->echoMode(), QLineEdit::Password);
    QCOMPARE(field(u"serverUrlField"_s)->text(), u"http://localhost:8080"_s);
    QCOMPARE(field(u"serverUrlField"_s)->placeholderText(), u"http://localhost:8080"_s);
    QVERIFY(m_panel->findChild<QLabel *>(u"serverHint"_s)->isVisibleTo(m_panel.get()));
    QVERIFY(!errorShown());
    QVERIFY(!button()->isEnabled());
    QCOMPARE(button()->text(), u"Log In"_s);
    QCOMPARE(m_panel->focusWidget(), field(u"emailField"_s)); // typing goes there at once

    // The custom controls tell screen readers what they are; the disclosure
    // starts expanded and folds the server away.
    auto *back = m_panel->loginView()->findChild<SymbolButton *>(u"backButton"_s);
    QCOMPARE(QAccessible::queryAccessibleInterface(back)->text(QAccessible::Name), u"Back"_s);
    auto *advanced = m_panel->loginView()->findChild<DisclosureButton *>();
    QCOMPARE(QAccessible::queryAccessibleInterface(advanced)->text(QAccessible::Name), u"Advanced"_s);
    QVERIFY(advanced->isChecked());
    QTest::keyClick(advanced, Qt::Key_Return);
    QVERIFY(!field(u"serverUrlField"_s)->isVisibleTo(m_panel.get()));
}

void TestLoginView::enablingRule()
{
    QTest::keyClicks(field(u"emailField"_s), u"me@example.com"_s);
    QVERIFY(!button()->isEnabled());
    QTest::keyClicks(field(u"passwordField"_s), u"secret"_s);
    QVERIFY(button()->isEnabled());
    field(u"emailField"_s)->clear();
    QVERIFY(!button()->isEnabled());
    // Spaces count as filled.
    fill(u" "_s, u"  "_s);
    QVERIFY(button()->isEnabled());
    field(u"passwordField"_s)->clear();
    QVERIFY(!button()->isEnabled());
}

void TestLoginView::returnKey()
{
    answerLogin(Reply::error(u"nope"_s));
    field(u"emailField"_s)->setText(u"me@example.com"_s);
    QTest::keyClick(field(u"emailField"_s), Qt::Key_Return);
    QVERIFY(!m_panel->loginView()->isLoading());

    field(u"passwordField"_s)->setText(u"secret"_s);
    QTest::keyClick(field(u"passwordField"_s), Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(!m_panel->loginView()->isLoading());
    QTest::keyClick(field(u"passwordField"_s), Qt::Key_Return);
    QVERIFY(m_panel->loginView()->isLoading());
    QVERIFY(m_model->waitForCount(u"login"_s, 1));
    QTRY_VERIFY(errorShown());
    QCOMPARE(m_model->count(u"login"_s), 1);
}

void TestLoginView::lockedWhileLoggingIn()
{
    Reply slow = Reply::error(u"Server unreachable"_s);
    slow.delayMs = 300;
    answerLogin(slow);
    fill(u"me@example.com"_s, u"secret"_s);
    QTest::mouseClick(button(), Qt::LeftButton);

    for (const QString &name : {u"emailField"_s, u"passwordField"_s, u"serverUrlField"_s})
        QVERIFY2(!field(name)->isEnabled(), qPrintable(name));
    QVERIFY(!button()->isEnabled());
    QVERIFY(button()->isBusy());
    QCOMPARE(button()->text(), u"Logging in..."_s);
    QCOMPARE(QAccessible::queryAccessibleInterface(button())->text(QAccessible::Name), u"Logging in..."_s);
    QVERIFY(m_panel->loginView()->findChild<SymbolButton *>(u"backButton"_s)->isEnabled());

    QTRY_VERIFY(!m_panel->loginView()->isLoading());
    QVERIFY(button()->isEnabled());
    QCOMPARE(button()->text(), u"Log In"_s);
}

void TestLoginView::failureShowsTheDaemonMessage()
{
    const QString message = u"Invalid email or password (code 401): check your credentials"_s;
    answerLogin(Reply::error(message));
    fill(u"me@example.com"_s, u"wrong"_s);
    field(u"serverUrlField"_s)->setText(u"http://127.0.0.1:9000"_s);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_VERIFY(errorShown());
    QCOMPARE(errorText()->text(), message);
    QCOMPARE(field(u"emailField"_s)->text(), u"me@example.com"_s);
    QCOMPARE(field(u"passwordField"_s)->text(), u"wrong"_s);
    QCOMPARE(field(u"serverUrlField"_s)->text(), u"http://127.0.0.1:9000"_s);
    QVERIFY(field(u"passwordField"_s)->isEnabled());
    QVERIFY(m_panel->showingLogin());

    // The next attempt hides the old message before any answer arrives.
    Reply slow = Reply::error(u"again"_s);
    slow.delayMs = 200;
    answerLogin(slow);
    QTest::mouseClick(button(), Qt::LeftButton);
    QVERIFY(!errorShown());
    QTRY_COMPARE(errorText()->text(), u"again"_s);
}

void TestLoginView::successClosesTheForm()
{
    answerLogin(Reply::result(QJsonObject{{u"ok"_s, true}}));
    fill(u"me@example.com"_s, u"secret"_s);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_VERIFY(!m_panel->showingLogin());
    QVERIFY(!m_panel->loginView());
    QVERIFY(m_panel->commandSection());
}

void TestLoginView::sentAsTyped_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("server");
    QTest::newRow("default server") << u"me@example.com"_s << u"pw"_s << u"http://localhost:8080"_s;
    QTest::newRow("spaces kept") << u" me@example.com "_s << u"  "_s << u" http://host "_s;
    QTest::newRow("server cleared") << u"me@example.com"_s << u"pw"_s << QString();
}

void TestLoginView::sentAsTyped()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QString, server);
    answerLogin(Reply::error(u"stop here"_s));
    fill(email, password);
    field(u"serverUrlField"_s)->setText(server);
    QTest::mouseClick(button(), Qt::LeftButton);
    QVERIFY(m_model->waitForCount(u"login"_s, 1));
    QJsonObject expected{{u"email"_s, email}, {u"password"_s, password}};
    if (!server.isEmpty())
        expected.insert(u"serverUrl"_s, server);
    QCOMPARE(loginParams(), expected);
}

void TestLoginView::failureOfAClosedFormIsDropped()
{
    Reply slow = Reply::error(u"late failure"_s);
    slow.delayMs = 150;
    answerLogin(slow);
    fill(u"me@example.com"_s, u"secret"_s);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTest::mouseClick(m_panel->loginView()->findChild<SymbolButton *>(u"backButton"_s), Qt::LeftButton);
    QVERIFY(!m_panel->showingLogin());
    // Opened again before the answer: the new form is not the one that failed.
    openForm();
    QVERIFY(m_model->waitForCount(u"login"_s, 1));
    QVERIFY(!QTest::qWaitFor([this] { return errorShown(); }, 1000));
    QVERIFY(!m_panel->loginView()->isLoading());
    QVERIFY(m_panel->showingLogin());
}

void TestLoginView::successClosesAFormOpenedAgain()
{
    Reply slow = Reply::result(QJsonObject());
    slow.delayMs = 150;
    answerLogin(slow);
    fill(u"me@example.com"_s, u"secret"_s);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTest::mouseClick(m_panel->loginView()->findChild<SymbolButton *>(u"backButton"_s), Qt::LeftButton);
    openForm();
    QTRY_VERIFY(!m_panel->showingLogin());
}

void TestLoginView::completionAfterThePanelIsGone()
{
    Reply slow = Reply::result(QJsonObject());
    slow.delayMs = 150;
    answerLogin(slow);
    fill(u"me@example.com"_s, u"secret"_s);
    QTest::mouseClick(button(), Qt::LeftButton);
    m_panel.reset();
    // A successful login fetches the status and then completes, in one task.
    QVERIFY(m_model->waitForCount(u"status"_s, 1));
}

QTEST_MAIN(TestLoginView)
#include "test_login_view.moc"
