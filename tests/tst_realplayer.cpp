// The Qt Multimedia player and the web panel.
#include "app/ui/WebAddresses.h"
#include "app/web/WebEngineWebPanel.h"
#include "playback/media/QtMediaPlayer.h"
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QTcpServer>
#include <QTcpSocket>

using namespace morvane;
using test::media;

class RealBackEndsTest : public QObject {
    Q_OBJECT
public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); } // for WebEngine
private slots:
    void playsSeeksAndEnds_data();
    void playsSeeksAndEnds();
    void refusesPromptly_data(); // the reason alone: Open names the file
    void refusesPromptly();
    // The focused page keeps its own keys.
    void webPanelKeepsItsKeys();
    void webPanelRequestsInfoPage();
};

void RealBackEndsTest::playsSeeksAndEnds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("seconds"); // as ffprobe tells
    QTest::newRow("ffmpeg program stream") << "program.mpg" << 9.96;
    QTest::newRow("dvdauthor title VOB") << "dvd.vob" << 9.965;
}

void RealBackEndsTest::playsSeeksAndEnds()
{
    QFETCH(QString, name);
    QFETCH(double, seconds);
    QCOMPARE_LE(qAbs(readDuration(media(name)) - seconds), 0.1);
    QTemporaryDir dir;
    const QString before = dir.filePath("a");
    QVERIFY(QFile::copy(media(name), before));
    QtMediaPlayer p;
    p.setFileName(before);
    QCOMPARE_LE(qAbs(p.duration() - seconds), 0.1);
    QCOMPARE(p.currentPosition(), 0.0);
    QVERIFY(QFile::rename(before, dir.filePath("b"))); // Play after Stop names it again
    p.setFileName(before);
    p.play();
    QTRY_VERIFY_WITH_TIMEOUT(p.currentPosition() > 0.3, 3000);
    p.seek(p.duration() - 2.5); // GStreamer may end a sought stream up to 1 s early
    QCOMPARE(p.currentPosition(), p.duration() - 2.5);
    QTRY_COMPARE_WITH_TIMEOUT(p.currentPosition(), p.duration(), 6000);
    p.close();
    QVERIFY_THROWS_EXCEPTION(PlayerError, p.currentPosition());
}

void RealBackEndsTest::refusesPromptly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not media") << "random.bin" << QString("Could not determine type of stream.");
    QTest::newRow("empty") << "empty.vob" << QString("Stream contains no data.");
    QTest::newRow("missing") << "no-such-file.vob" << QString("No such file or directory.");
    QTest::newRow("folder") << "" << QString("Is a directory.");
}

void RealBackEndsTest::refusesPromptly()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QDeadlineTimer prompt(QtMediaPlayer::loadTimeoutMs / 2);
    QString said = "played";
    try {
        QtMediaPlayer().setFileName(media(name));
    } catch (const PlayerError &e) {
        said = e.what();
    }
    QCOMPARE(said, reason);
    QVERIFY(!prompt.hasExpired());
    QVERIFY_THROWS_EXCEPTION(PlayerError, readDuration(media(name)));
}

void RealBackEndsTest::webPanelKeepsItsKeys()
{
    test::ScriptedPlayer player;
    test::ScriptedDialogs dialogs;
    WebEngineWebPanel web;
    Form1 form(player, dialogs, web);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    dialogs.openAnswers << "/m/a.vob";
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    form.H->setValue(42);
    player.commands.clear();
    QWidget *page = form.WebBrowser1->focusProxy();
    QVERIFY(page);
    page->setFocus();
    QTRY_VERIFY(page->hasFocus());
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home, Qt::Key_PageDown})
        QTest::keyClick(QApplication::focusWidget(), key);
    QCOMPARE(form.Command1->text(), "Pause");
    QCOMPARE(form.H->value(), 42);
    QCOMPARE(player.commands, QStringList());
}

void RealBackEndsTest::webPanelRequestsInfoPage()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    WebEngineWebPanel panel;
    const std::unique_ptr<QWidget> view(panel.widget()); // the window would own it
    panel.navigate(web::infoPage(QUrl(QString("http://127.0.0.1:%1").arg(server.serverPort()))));
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 30000);
    QTcpSocket *socket = server.nextPendingConnection(); // the server owns it
    QTRY_COMPARE(socket->peek(34), "GET /info.php?n=morvane HTTP/1.1\r\n");
}

QTEST_MAIN(RealBackEndsTest)
#include "tst_realplayer.moc"
