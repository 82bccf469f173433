// A pause with an end, against a scripted daemon, with a clock the test sets:
// the deadline resumes once, the user's own pause or resume ends it, it is
// kept across a restart, and a corrupt file is reported once and replaced.
#include "model_driver.h"

#include <QFile>
#include <QFileInfo>

namespace {

using namespace Qt::StringLiterals;

const QDateTime start(QDate(2024, 5, 1), QTime(10, 5), Qt::UTC);

} // namespace

class TimedPauseTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void durations_data();
    void durations();
    void deadlineResumesOnce();
    void userActsBeforeTheDeadline_data();
    void userActsBeforeTheDeadline();
    void takenUpAfterARestart_data();
    void takenUpAfterARestart();
    void corruptFileIsReportedOnceAndReplaced();

private:
    TimedPause &pause() { return m_driver->state().timedPause(); }
    QString filePath() const { return QDir::homePath() + u"/.local/state/tornel/pause-deadline"_s; }
    QByteArray kept() const
    {
        QFile file(filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void keep(const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(filePath()).absolutePath());
        QFile file(filePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }

    std::unique_ptr<ModelDriver> m_driver;
    QDateTime m_now;
};

void TimedPauseTest::init()
{
    m_driver = std::make_unique<ModelDriver>();
    m_now = start;
    pause().setWallClock([this] { return m_now; });
    QVERIFY(m_driver->apply(ModelDriver::record(u"synced"_s)));
}

void TimedPauseTest::durations_data()
{
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QDateTime>("deadline");
    QTest::newRow("minutes") << u"30m"_s << start.addSecs(30 * 60);
    QTest::newRow("hours") << u"1h"_s << start.addSecs(3600);
    QTest::newRow("both") << u"2h30m"_s << start.addSecs(150 * 60);
    QTest::newRow("tomorrow") << u"until-tomorrow"_s
                              << QDateTime(start.toLocalTime().date().addDays(1), QTime(0, 0)).toUTC();
    for (const QString &malformed : {u""_s, u"0m"_s, u"1x"_s, u"m"_s, u"30m1h"_s, u"-1h"_s, u"1 h"_s, u"200h"_s})
        QTest::newRow(qPrintable(u"malformed '"_s + malformed + u'\'')) << malformed << QDateTime();
}

void TimedPauseTest::durations()
{
    QFETCH(QString, duration);
    QFETCH(QDateTime, deadline);
    QCOMPARE(TimedPause::deadlineFor(duration, start), deadline.isValid() ? std::optional(deadline) : std::nullopt);
}

void TimedPauseTest::deadlineResumesOnce()
{
    const QDateTime deadline = start.addSecs(3600);
    pause().pauseUntil(deadline);
    QTRY_VERIFY(pause().deadline() == deadline);
    QCOMPARE(kept(), "2024-05-01T11:05:00Z\n"_ba);
    QVERIFY(m_driver->apply(ModelDriver::record(u"paused"_s)));
    QVERIFY(pause().resumesText().startsWith(u"Resumes at "_s));

    m_now = deadline.addSecs(-1);
    pause().resumeIfDue();
    QTest::qWait(200); // a resume sent now would reach the daemon well within this
    QCOMPARE(m_driver->calls(), QStringList{u"pause"_s});
    m_now = deadline;
    pause().resumeIfDue();
    pause().resumeIfDue();
    QTRY_COMPARE(m_driver->calls(), (QStringList{u"pause"_s, u"resume"_s}));
    QCOMPARE(pause().deadline(), std::nullopt);
    QVERIFY(!QFile::exists(filePath()));
}

void TimedPauseTest::userActsBeforeTheDeadline_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("resumed") << u"resume"_s << QStringList{u"pause"_s, u"resume"_s};
    QTest::newRow("paused again") << u"pause"_s << QStringList{u"pause"_s, u"pause"_s};
    QTest::newRow("resumed elsewhere") << u"synced"_s << QStringList{u"pause"_s};
}

void TimedPauseTest::userActsBeforeTheDeadline()
{
    QFETCH(QString, action);
    QFETCH(QStringList, calls);
    pause().pauseUntil(start.addSecs(3600));
    QTRY_VERIFY(pause().deadline().has_value());
    QVERIFY(m_driver->apply(ModelDriver::record(u"paused"_s)));
    if (action == "resume"_L1)
        m_driver->state().resume();
    else if (action == "pause"_L1)
        m_driver->state().pause();
    else
        QVERIFY(m_driver->apply(ModelDriver::record(action)));
    QTRY_COMPARE(m_driver->calls(), calls);
    QCOMPARE(pause().deadline(), std::nullopt);
    QVERIFY(!QFile::exists(filePath()));
    m_now = start.addSecs(7200);
    pause().resumeIfDue();
    QTest::qWait(200); // a resume sent now would reach the daemon well within this
    QCOMPARE(m_driver->calls(), calls);
}

void TimedPauseTest::takenUpAfterARestart_data()
{
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<bool>("resumes");
    QTest::newRow("ahead") << "2024-05-01T11:05:00Z\n"_ba << false;
    QTest::newRow("already past") << "2024-05-01T09:05:00Z\n"_ba << true;
}

void TimedPauseTest::takenUpAfterARestart()
{
    QFETCH(QByteArray, kept);
    QFETCH(bool, resumes);
    keep(kept);
    pause().restore();
    if (resumes) {
        QTRY_COMPARE(m_driver->calls(), QStringList{u"resume"_s});
        QVERIFY(!QFile::exists(filePath()));
    } else {
        QCOMPARE(pause().deadline(), QDateTime(QDate(2024, 5, 1), QTime(11, 5), Qt::UTC));
        QTest::qWait(200);
        QCOMPARE(m_driver->calls(), QStringList());
        QCOMPARE(this->kept(), kept);
    }
}

void TimedPauseTest::corruptFileIsReportedOnceAndReplaced()
{
    keep("soon\n");
    QTest::ignoreMessage(QtWarningMsg, qPrintable(u"ignoring the unreadable pause deadline in "_s + filePath()));
    pause().restore();
    QCOMPARE(pause().deadline(), std::nullopt);
    QVERIFY(!QFile::exists(filePath()));
    keep("\x01\x02");
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    pause().restore();
    QVERIFY(!QFile::exists(filePath()));
    QCOMPARE(m_driver->calls(), QStringList());

    pause().pauseUntil(start.addSecs(1800));
    QTRY_COMPARE(kept(), "2024-05-01T10:35:00Z\n"_ba);
}

QTEST_GUILESS_MAIN(TimedPauseTest)
#include "test_timed_pause.moc"
