// DVD titles with the real player: choice, time, chapters, clips.
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "selection/MarkerTrack.h"
#include "support/Cut.h"
#include "support/DiscMedia.h"
#include "support/ModalDialogs.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QtTest>

using namespace morvane;
using namespace morvane::test;

namespace {

struct Opened {
    QString listed;        // as offered() gives it
    int title = 0;         // 0 a file, -1 nothing
    int sliderMaximum = 0; // -1: not compared
    QString description;   // for assistive tools
    QString said;          // messages, then questions; "damaged" for its folder
};

using Keys = QList<Qt::Key>;

// Number, duration, chapters, audio; preselected starred.
QString offered(const ScriptedDialogs &dialogs)
{
    QStringList titles;
    for (const ScriptedDialogs::TitleList &list : dialogs.titleLists)
        for (const TitleChoice &t : list.titles)
            titles << QString("%1%2 %3 %4 %5")
                          .arg(t.number == list.preselected ? "*" : "", QString::number(t.number), t.duration,
                               QString::number(t.chapters), t.audio);
    return titles.join(" / ");
}

void click(QWidget *widget) { QTest::mouseClick(widget, Qt::LeftButton); }

// Active, so keys reach it under a window manager.
struct Window {
    QVideoWidget *video = new QVideoWidget; // the window owns it
    QtMediaPlayer player{video};
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    Form1 f{player, dialogs, web, video};
    Window()
    {
        f.show();
        QApplication::setActiveWindow(&f);
        if (!QTest::qWaitForWindowActive(&f))
            qWarning("the window did not become active");
    }
};

}

Q_DECLARE_METATYPE(Opened)

class TitlesTest : public QObject {
    Q_OBJECT
private slots:
    void opens_data();
    void opens();
    // The real title list, driven by keys.
    void keyboardOnly_data();
    void keyboardOnly();
    // Chapters every 3 s: ticks, playing across two VOB IDs; the next file has none.
    void movie();
};

void TitlesTest::opens_data()
{
    QTest::addColumn<QString>("path"); // by name, like command line and drops
    QTest::addColumn<int>("answer");   // in the title list; 0 cancels
    QTest::addColumn<Opened>("expected");
    const QString episodes = "*1 0:08.00 2 AC-3 1ch / 2 0:06.00 1 AC-3 1ch"; // longest preselected
    QTest::newRow("several titles, the second chosen")
        << disc("episodes/VIDEO_TS/VTS_01_1.VOB") << 2 << Opened{episodes, 2, 6, "Title 2 of 2, 0 : 0 : 6"};
    QTest::newRow("several titles, cancelled")
        << disc("episodes/VIDEO_TS/VIDEO_TS.IFO") << 0 << Opened{episodes, -1, 10};
    QTest::newRow("one title, its second file")
        << disc("movie/VIDEO_TS/VTS_01_2.VOB") << 0 << Opened{"", 1, 12, "Title 1 of 1, 0 : 0 : 12"};
    QTest::newRow("damaged tables, the folder")
        << "damaged" << 0 << Opened{"", -1, 10, "", "Cannot play \"damaged\".\nThe tables of title set 1"};
    // A loose VOB's length is the player's reading.
    QTest::newRow("damaged tables, a file")
        << "damaged/VTS_01_1.VOB" << 0 << Opened{"", 0, -1, "", "This file is part 1 of a DVD title of 2 files."};
}

void TitlesTest::opens()
{
    QFETCH(QString, path);
    QFETCH(int, answer);
    QFETCH(Opened, expected);
    QTemporaryDir dir;
    if (path.startsWith("damaged")) { // title set's tables cut short
        const QString folder = copyOfDisc("movie", dir.path());
        QFile::resize(folder + "/VTS_01_0.IFO", 700);
        QFile::resize(folder + "/VTS_01_0.BUP", 700);
        path.replace("damaged", folder);
    }
    Window w;
    if (answer > 0)
        w.dialogs.titleAnswers << answer;
    w.f.openGivenFile(QFile::encodeName(path));
    const QString said = (w.dialogs.messages + w.dialogs.questions).join(" / ").replace(path, "damaged");
    QVERIFY2(says(said, expected.said), qPrintable(said));
    QCOMPARE(offered(w.dialogs), expected.listed);
    QCOMPARE(w.f.state.fileOpen() ? w.f.state.Title : -1, expected.title);
    if (expected.sliderMaximum >= 0)
        QCOMPARE(w.f.H->maximum(), expected.sliderMaximum);
    QCOMPARE(w.f.mp->accessibleDescription(), expected.description);
}

void TitlesTest::keyboardOnly_data()
{
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<int>("chosen"); // 0: none
    QTest::newRow("Enter takes the preselected") << Keys{Qt::Key_Return} << 1;
    QTest::newRow("Escape cancels") << Keys{Qt::Key_Down, Qt::Key_Escape} << 0;
    QTest::newRow("Tab to OK, Space") << Keys{Qt::Key_End, Qt::Key_Tab, Qt::Key_Space} << 3;
}

void TitlesTest::keyboardOnly()
{
    QFETCH(Keys, keys);
    QFETCH(int, chosen);
    QString caption;
    whenShown<QWidget>([&](QWidget *dialog) {
        if (!QTest::qWaitForWindowActive(dialog)) // where the keys go
            qWarning("the title list did not become active");
        caption = dialog->windowTitle();
        for (const Qt::Key key : keys)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, key);
        dialog->close(); // left open fails the row, not the program
    });
    QtDialogs dialogs;
    const auto got =
        dialogs.chooseTitle({{1, "0:08.00", 2, "AC-3 2ch"}, {2, "0:06.00", 1, ""}, {3, "0:01.00", 1, ""}}, 1);
    QCOMPARE(got.value_or(0), chosen);
    QCOMPARE(caption, "Morvane");
}

void TitlesTest::movie()
{
    Window w;
    Form1 &f = w.f;
    f.openGivenFile(QFile::encodeName(media("dvd.vob")));
    const QList<QWidget *> controls = f.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QList<QRect> before;
    for (QWidget *c : controls)
        before << c->geometry();
    f.openGivenFile(QFile::encodeName(disc("movie")));
    QCOMPARE(f.H->maximum(), 12);
    QList<int> ticks; // each one's second on the track
    for (const double x : f.Ticks->ticks())
        ticks << qRound((x - StartLineOffset) * 12 / TrackWidth);
    QCOMPARE(ticks, QList<int>({0, 3, 6, 9}));
    for (qsizetype i = 0; i < controls.size(); ++i)
        QCOMPARE(controls[i]->geometry(), before[i]);
    // Marker lines over ticks, ticks over the slider.
    QVERIFY(controls.indexOf(f.Ticks) < std::min(controls.indexOf(f.Line1), controls.indexOf(f.Line2)));
    QVERIFY(f.Ticks->geometry().bottom() < f.H->geometry().top());

    click(f.Command1); // paused
    const QList<std::pair<Qt::Key, int>> jumps{{Qt::Key_PageUp, 0},   {Qt::Key_PageDown, 1}, {Qt::Key_PageDown, 2},
                                               {Qt::Key_PageDown, 3}, {Qt::Key_PageDown, 3}, {Qt::Key_PageUp, 2}};
    for (const auto &[key, chapter] : jumps) {
        QTest::keyClick(&f, key);
        const double start = f.state.ChapterSeconds.value(chapter);
        QCOMPARE(w.player.currentPosition(), start);
        QCOMPARE(f.H->value(), qRound(start));
    }
    click(f.Command5); // at chapter 3
    QTest::keyClick(&f, Qt::Key_PageDown);
    click(f.Command6);

    // Second VOB ID: source 4, seconds counted from chapter 3, within two frames.
    const auto shown = [&] {
        QVideoFrame frame = w.video->videoSink()->videoFrame();
        if (!frame.map(QVideoFrame::ReadOnly))
            return Picture{};
        const Picture p = pictureOf(frame.bits(0), frame.width(), frame.height(), frame.bytesPerLine(0));
        frame.unmap();
        return p;
    };
    for (const int second : {10, 7}) {
        f.H->setValue(second);
        f.H_Click();
        const double within = w.player.currentPosition() - f.state.ChapterSeconds.value(2);
        const auto right = [&] {
            const Picture p = shown();
            return p.source == 4 && std::abs(p.second + 0.5 - within) < 0.58;
        };
        QVERIFY2(QTest::qWaitFor(right, 2000),
                 qPrintable(QString("at %1 s: %2 %3").arg(second).arg(shown().source).arg(shown().second)));
    }

    // Precise: chapter 3 from its first VOBU in second 6; byte rate: the marks' whole seconds.
    QTemporaryDir dir;
    const QByteArray movie = QFile::encodeName(disc("movie"));
    const std::map<QString, CutRequest> cuts{{"precise", titleCut(movie, 1, CutMethod::Precise, true, 3, 3, {})},
                                             {"byte rate", titleCut(movie, 1, CutMethod::ByteRate, false, 6, 9, {})}};
    for (auto [name, request] : cuts) {
        f.Check1->setChecked(request.method == CutMethod::Precise);
        w.dialogs.saveAnswers << dir.filePath(name);
        click(f.Command7);
        request.target = QFile::encodeName(dir.filePath(name + " by the engine"));
        engineCut(request);
        const QByteArray clip = readFile(dir.filePath(name));
        QVERIFY2(clip.size() > 20'000 && clip == readFile(request.target), qPrintable(name));
    }
    QCOMPARE(w.dialogs.messages, QStringList({"Clip Saved", "Clip Saved"}));

    click(f.Command1);
    w.player.seek(5.0);
    QList<double> seen;
    for (int i = 0; i < 25; ++i) {
        QTest::qWait(100);
        seen << w.player.currentPosition();
    }
    QCOMPARE_GT(seen.last(), 7.0);
    for (qsizetype i = 1; i < seen.size(); ++i)
        QVERIFY2(seen[i] >= seen[i - 1] && seen[i] - seen[i - 1] < 0.5,
                 qPrintable(QString("%1 then %2").arg(seen[i - 1]).arg(seen[i])));
    // Stop, Play: the title starts over.
    click(f.Command2);
    click(f.Command1);
    QTest::qWait(500);
    QCOMPARE_LT(w.player.currentPosition(), 1.5);
    f.openGivenFile(QFile::encodeName(media("dvd.vob")));
    QCOMPARE(f.Ticks->ticks(), QList<double>());
}

QTEST_MAIN(TitlesTest)
#include "tst_titles.moc"
