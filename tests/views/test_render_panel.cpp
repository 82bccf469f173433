// Renders the panel in every status and the login form to PNG files in the
// build directory (TORNEL_RENDER_DIR), for looking at by eye; it checks only
// that each picture was drawn.
#include "model_driver.h"

#include "tray/popover_host.h"
#include "daemon/daemon_manager.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"
#include "views/controls/painted_button.h"

#include <QDir>
#include <QImage>
#include <QScreen>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;

class TestRenderPanel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void statuses_data();
    void statuses();
    void loginForm();

private:
    void render(const QString &name);

    std::unique_ptr<ModelDriver> m_model;
    std::unique_ptr<DaemonManager> m_daemonManager;
    std::unique_ptr<PopoverHost> m_host;
};

void TestRenderPanel::initTestCase()
{
    QVERIFY(QDir().mkpath(QStringLiteral(TORNEL_RENDER_DIR)));
}

void TestRenderPanel::init()
{
    m_model = std::make_unique<ModelDriver>();
    m_model->state().setWallClock([] { return QDateTime(QDate(2024, 5, 1), QTime(10, 5), Qt::UTC); });
    m_daemonManager = std::make_unique<DaemonManager>();
    m_host = std::make_unique<PopoverHost>(m_model->state(), *m_daemonManager);
    m_host->open();
    QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
}

void TestRenderPanel::cleanup()
{
    m_host.reset();
    m_daemonManager.reset();
    m_model.reset();
}

void TestRenderPanel::render(const QString &name)
{
    // What the window system would show: the window's own backing store,
    // painted now. (QWidget::render() misplaces widgets with an opacity
    // effect, such as the pulsing status symbol.)
    QCoreApplication::sendPostedEvents();
    m_host->repaint();
    const QImage image = m_host->screen()->grabWindow(m_host->winId()).toImage();
    QCOMPARE(image.size(), m_host->size());
    const QString path = QStringLiteral(TORNEL_RENDER_DIR) + u"/panel-"_s + name + u".png"_s;
    QVERIFY2(image.save(path), qPrintable(path));
    // Something beyond the background was drawn.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY(colours.size() > 4);
}

void TestRenderPanel::statuses_data()
{
    QTest::addColumn<QJsonObject>("record");
    const QJsonObject account{{u"userEmail"_s, u"ada@example.com"_s}, {u"lastSync"_s, u"2024-05-01T10:00:00Z"_s}};
    const auto with = [&account](const QString &state, const QJsonObject &fields) {
        QJsonObject record = ModelDriver::record(state, account);
        for (auto it = fields.begin(); it != fields.end(); ++it)
            record.insert(it.key(), it.value());
        return record;
    };
    QTest::newRow("logged-out") << ModelDriver::record(u"logged_out"_s);
    QTest::newRow("syncing") << with(u"syncing"_s, {{u"pendingUploads"_s, 3}, {u"pendingDownloads"_s, 12}});
    QTest::newRow("synced") << with(u"synced"_s, {});
    QTest::newRow("paused") << with(u"paused"_s, {});
    QTest::newRow("error") << with(u"error"_s, {{u"errorMessage"_s, u"Upload failed: storage quota exceeded"_s}});
    QTest::newRow("error-long")
        << with(u"error"_s, {{u"errorMessage"_s, u"Could not reach the server at http://localhost:8080: the "
                                                 u"connection was refused after several attempts, so changes are "
                                                 u"kept locally and will be uploaded once the server answers again "
                                                 u"(last attempt at 10:04)"_s}});
}

void TestRenderPanel::statuses()
{
    QFETCH(QJsonObject, record);
    QVERIFY(m_model->apply(record));
    render(QString::fromLatin1(QTest::currentDataTag()));
}

void TestRenderPanel::loginForm()
{
    m_host->panel().setShowingLogin(true);
    render(u"login"_s);

    LoginView *form = m_host->panel().loginView();
    form->findChild<QLineEdit *>(u"emailField"_s)->setText(u"ada@example.com"_s);
    form->findChild<QLineEdit *>(u"passwordField"_s)->setText(u"secret"_s);
    Reply slow = Reply::error(u"Invalid email or password"_s);
    slow.delayMs = 300;
    m_model->daemon().setResponder([slow](const QJsonObject &) { return slow; });
    QTest::mouseClick(form->findChild<ProminentButton *>(), Qt::LeftButton);
    QVERIFY(form->isLoading());
    render(u"login-busy"_s);

    QTRY_VERIFY(!form->isLoading());
    render(u"login-error"_s);
}

QTEST_MAIN(TestRenderPanel)
#include "test_render_panel.moc"
