// The real back ends: the Qt Multimedia player, alone and in the window, and the web panel.

#include "app/ui/Form1.h"
#include "app/ui/WebAddresses.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowFixture.h"

#include "state/TimeText.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QtTest>
#include <cmath>
#include <functional>

using namespace morvane;

static QString media(const QString &name) { return QStringLiteral(MORVANE_TEST_MEDIA "/") + name; }

// From a "name seconds" list that make-test-media writes with ffprobe.
static double listed(const QString &list, const QString &name)
{
    QFile file(media(list));
    if (!file.open(QIODevice::ReadOnly))
        return qQNaN();
    return QString::fromUtf8(file.readAll()).section(name + u' ', 1).section(u'\n', 0, 0).toDouble();
}

class RealBackEndsTest : public QObject {
    Q_OBJECT
public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); } // for WebEngine
private slots:
    void playsPausesSeeksAndEnds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("ffmpeg program stream") << QStringLiteral("program.mpg");
        QTest::newRow("dvdauthor title VOB") << QStringLiteral("dvd.vob");
    }
    void playsPausesSeeksAndEnds()
    {
        QFETCH(QString, name);
        const double expected = listed(QStringLiteral("durations.txt"), name);
        QCOMPARE_LE(qAbs(readDuration(media(name)) - expected), 0.1);
        QtMediaPlayer player;
        player.setFileName(media(name));
        QCOMPARE_LE(qAbs(player.duration() - expected), 0.1);
        QCOMPARE(player.currentPosition(), 0.0);
        player.play();
        QTest::qWait(800);
        QCOMPARE_GT(player.currentPosition(), 0.3);
        player.pause();
        player.seek(0); // paused and rewound, it stays at 0, not the first frame's timestamp
        QTest::qWait(500);
        QCOMPARE(player.currentPosition(), 0.0);
        player.pause(); // resumes
        player.seek(player.duration() - 2.5); // GStreamer may end a sought stream up to 1 s early
        QCOMPARE(player.currentPosition(), player.duration() - 2.5);
        QTRY_COMPARE_WITH_TIMEOUT(player.currentPosition(), player.duration(), 6000);
        player.close();
        QVERIFY_THROWS_EXCEPTION(PlayerError, player.currentPosition());
    }
    // Refused at once, with the reason alone: Open names the file.
    void refusesPromptly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not media") << "random.bin" << "Could not determine type of stream.";
        QTest::newRow("empty") << "empty.vob" << "Stream contains no data.";
        QTest::newRow("missing") << "no-such-file.vob" << "No such file or directory.";
        QTest::newRow("folder") << "" << "Is a directory.";
    }
    void refusesPromptly()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QDeadlineTimer prompt(QtMediaPlayer::loadTimeoutMs / 2);
        try {
            QtMediaPlayer().setFileName(media(name));
            QFAIL("played");
        } catch (const PlayerError &e) {
            QCOMPARE(QString::fromUtf8(e.what()), reason);
        }
        QVERIFY(!prompt.hasExpired());
        QVERIFY_THROWS_EXCEPTION(PlayerError, readDuration(media(name)));
    }
    // The frame the video sink shows, on the player's timeline, against the position the player reports.
    void pictureFollowsPosition()
    {
        const QString name = QStringLiteral("dvd.vob"); // dvdauthor: its first picture is at 0.54 s
        const double origin = listed(QStringLiteral("start-times.txt"), name), frame = 0.04;
        QVERIFY2(origin > 0.1, qPrintable(QString::number(origin)));
        QVideoSink sink;
        QtMediaPlayer player(&sink);
        player.setFileName(media(name));
        const auto picture = [&] { return sink.videoFrame().startTime() / 1e6 - origin; };
        struct Step { const char *what; std::function<void()> act; double at; bool running; };
        const double any = -1;
        const Step steps[] = {
            {"play", [&] { player.play(); }, any, true},
            {"pause", [&] { player.pause(); }, any, false},
            {"resume", [&] { player.pause(); }, any, true},
            {"stop", [&] { player.seek(0); player.pause(); }, 0, false},
            {"seek while paused", [&] { player.seek(3); }, 3, false},
            {"play from there", [&] { player.pause(); }, any, true},
            {"seek back while playing", [&] { player.seek(1); }, any, true},
            {"drag to 0 while paused", [&] { player.pause(); player.seek(0); }, 0, false},
            {"seek near the end", [&] { player.seek(8); }, 8, false},
            {"play after Stop", [&] { player.seek(0); player.setFileName(media(name)); player.play(); }, any, true},
            {"pause again", [&] { player.pause(); }, any, false},
        };
        for (const Step &step : steps) {
            const double before = player.currentPosition();
            step.act();
            QTest::qWait(350);
            const double shown = picture(), position = player.currentPosition();
            const QString values = QStringLiteral("%1: picture %2 s, position %3 s, %4 s before")
                                       .arg(QLatin1String(step.what)).arg(shown).arg(position).arg(before);
            QVERIFY2(qAbs(shown - position) <= 2 * frame, qPrintable(values));
            if (step.at != any)
                QVERIFY2(qAbs(shown - step.at) <= frame / 2 && position == step.at, qPrintable(values));
            QTest::qWait(250); // a running picture moves on with the position, a paused one stands
            const double later = picture(), laterPosition = player.currentPosition();
            const QString after = values + QStringLiteral("; then %1 s, position %2 s").arg(later).arg(laterPosition);
            QVERIFY2(qAbs(later - laterPosition) <= 2 * frame, qPrintable(after));
            QVERIFY2(step.running ? later - shown >= 0.15 : later == shown && laterPosition == position,
                     qPrintable(after));
        }
    }
    // A VOB starting late: ticks carry the slider; marks at the stopped beginning, when paused, after a drag to 0
    // and after a seek.
    void marksOnTheStreamsTimeline()
    {
        test::ScriptedDialogs dialogs; test::ScriptedWebPanel web;
        auto *video = new QVideoWidget; // the window owns it
        QtMediaPlayer shown(video);
        Form1 f(shown, dialogs, web, video);
        f.show();
        dialogs.openAnswers << media(QStringLiteral("dvd.vob"));
        QTest::mouseClick(f.Command4, Qt::LeftButton); // Open
        QTRY_VERIFY_WITH_TIMEOUT(f.H->value() >= 1, 4000);
        const auto markEnd = [&](const char *when, int expected) {
            QTest::mouseClick(f.Command6, Qt::LeftButton);
            QVERIFY2(f.state.EndSecond == expected && f.Label9->text() == FormatHms(expected),
                     qPrintable(QStringLiteral("%1: mark %2 (%3), position %4 s").arg(QLatin1String(when))
                                    .arg(f.state.EndSecond).arg(f.Label9->text()).arg(shown.currentPosition())));
        };
        QTest::mouseClick(f.Command2, Qt::LeftButton); // Stop
        markEnd("after Stop", 0);
        QTest::qWait(500);
        markEnd("a while after Stop", 0);
        QTest::mouseClick(f.Command1, Qt::LeftButton); // Play
        QTRY_VERIFY_WITH_TIMEOUT(f.H->value() >= 2, 4000);
        QTest::mouseClick(f.Command1, Qt::LeftButton); // Pause
        const int paused = int(std::nearbyint(shown.currentPosition()));
        QTest::mouseClick(f.Command5, Qt::LeftButton); // Mark Start
        QCOMPARE(f.state.StartSecond, paused);
        QTest::mouseClick(f.H, Qt::LeftButton, {}, QPoint(0, f.H->height() / 2)); // the thumb to 0
        QCOMPARE(f.H->value(), 0);
        markEnd("after a drag to 0", 0);
        f.H->setValue(3);
        f.H_Click();
        markEnd("after a seek to 3", 3);
    }
    // Play after Stop names the open file again: it plays on though renamed, as the window does it.
    void renamedSourcePlaysOn()
    {
        QTemporaryDir dir;
        const QString before = dir.filePath(QStringLiteral("a.vob"));
        QVERIFY(QFile::copy(media(QStringLiteral("dvd.vob")), before));
        QtMediaPlayer player;
        player.setFileName(before);
        player.play();
        player.seek(0);
        player.pause(); // Stop
        QVERIFY(QFile::rename(before, dir.filePath(QStringLiteral("b.vob"))));
        player.setFileName(before);
        player.play();
        QTRY_VERIFY_WITH_TIMEOUT(player.currentPosition() > 0.3, 3000);
    }
    // Where playing really fails (a stand-in player that now refuses the file), each click says so once.
    void failedPlayIsSaid()
    {
        test::WindowFixture w;
        w.open(QStringLiteral("/m/a.vob"));
        w.player.refused << QStringLiteral("/m/a.vob");
        w.click(w.form->Command2); // Stop: nothing to refuse yet
        w.click(w.form->Command1); // Play names the file again
        QCOMPARE(w.dialogs.messages, QStringList("Cannot play \"/m/a.vob\".\nthe file is not a playable video"));
        QCOMPARE(w.form->Command1->text(), QStringLiteral("Play"));
    }
    void webPanelRequestsInfoPage()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        WebEngineWebPanel panel;
        const std::unique_ptr<QWidget> view(panel.widget()); // the window would own it
        panel.navigate(web::infoPage(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()))));
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 30000);
        QTcpSocket *socket = server.nextPendingConnection(); // the server owns it
        const QByteArray requestLine("GET /info.php?n=morvane HTTP/1.1\r\n");
        QTRY_COMPARE(socket->peek(requestLine.size()), requestLine);
    }
};

QTEST_MAIN(RealBackEndsTest)
#include "tst_realplayer.moc"
