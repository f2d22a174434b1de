// The real back ends: the Qt Multimedia player, alone and in the window, and the web panel.

#include "app/ui/Form1.h"
#include "app/ui/WebAddresses.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/ScriptedDialogs.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <cmath>

using namespace morvane;

static QString media(const QString &name) { return QStringLiteral(MORVANE_TEST_MEDIA "/") + name; }

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
        QFile list(media(QStringLiteral("durations.txt"))); // "name seconds" lines, as ffprobe reads them
        QVERIFY(list.open(QIODevice::ReadOnly));
        const double expected = QString::fromUtf8(list.readAll()).section(name + u' ', 1).section(u'\n', 0, 0).toDouble();
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
    void refusesPromptly_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"random.bin", "empty.vob", "no-such-file.vob"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void refusesPromptly()
    {
        QFETCH(QString, name);
        const QDeadlineTimer prompt(QtMediaPlayer::loadTimeoutMs / 2);
        QVERIFY_THROWS_EXCEPTION(PlayerError, QtMediaPlayer().setFileName(media(name)));
        QVERIFY(!prompt.hasExpired());
        QVERIFY_THROWS_EXCEPTION(PlayerError, readDuration(media(name)));
    }
    void windowTracksAndMarks()
    {
        QtMediaPlayer player; // with the scripted dialogs and web panel of the other window tests
        test::ScriptedDialogs dialogs; test::ScriptedWebPanel web;
        Form1 f(player, dialogs, web);
        dialogs.openAnswers << media(QStringLiteral("dvd.vob"));
        QTest::mouseClick(f.Command4, Qt::LeftButton); // Open
        QTRY_VERIFY_WITH_TIMEOUT(f.H->value() >= 2, 8000); // the ticks carry the slider
        QTest::mouseClick(f.Command1, Qt::LeftButton); // Pause
        const int paused = int(std::nearbyint(player.currentPosition()));
        QTest::mouseClick(f.Command5, Qt::LeftButton); // Mark Start
        QCOMPARE(f.state.StartSecond, paused);
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
