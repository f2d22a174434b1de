// The window on DVD titles, with the real player: choosing a title, playing it in title time, its chapters, and
// saving a clip of it.
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "selection/MarkerTrack.h"
#include "support/Cut.h"
#include "support/DiscMedia.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QtTest>

using namespace morvane;
using namespace morvane::test;

namespace {

struct Opened {
    int listed = 0;        // rows of the title list, 0 when none was shown
    int title = 0;         // what the window opened: 0 a file, -1 nothing
    int sliderMaximum = 0; // -1: not compared
    QString description;   // the video's, for assistive tools
    int questions = 0;     // "whole title?" questions asked
    bool refused = false;  // one "Cannot play" message
};

using Keys = QList<Qt::Key>;

// A copy of the movie whose title set's tables are cut short.
QString damagedMovie(QTemporaryDir &dir)
{
    const QString folder = copyOfDisc("movie", dir.path());
    QFile::resize(folder + "/VTS_01_0.IFO", 700);
    QFile::resize(folder + "/VTS_01_0.BUP", 700);
    return folder;
}

// Active, so that its keys reach it on a display with a window manager.
std::unique_ptr<WindowFixture> window(QVideoSink *sink = nullptr)
{
    auto w = std::make_unique<WindowFixture>(std::make_unique<QtMediaPlayer>(sink));
    QApplication::setActiveWindow(w->form.get());
    if (!QTest::qWaitForWindowActive(w->form.get()))
        qWarning("the window did not become active");
    return w;
}

} // namespace

Q_DECLARE_METATYPE(Opened)

class TitlesTest : public QObject {
    Q_OBJECT
private slots:
    void opens_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("given"); // by name, as the command line and a drop give it
        QTest::addColumn<int>("answer"); // in the title list; 0 cancels
        QTest::addColumn<Opened>("expected");
        QTest::newRow("several titles, the second chosen")
            << disc("episodes/VIDEO_TS/VTS_01_1.VOB") << false << 2 << Opened{2, 2, 6, "Title 2 of 2, 0 : 0 : 6", 0};
        QTest::newRow("several titles, cancelled")
            << disc("episodes/VIDEO_TS/VIDEO_TS.IFO") << false << 0 << Opened{2, -1, 10, "", 0};
        QTest::newRow("one title, its second file")
            << disc("movie/VIDEO_TS/VTS_01_2.VOB") << true << 0 << Opened{0, 1, 12, "Title 1 of 1, 0 : 0 : 12", 0};
        QTest::newRow("damaged tables, the folder") << "damaged folder" << true << 0 << Opened{0, -1, 10, "", 0, true};
        // A loose VOB's length is the player's own reading of its time stamps.
        QTest::newRow("damaged tables, a file") << "damaged" << true << 0 << Opened{0, 0, -1, "", 1};
    }
    void opens()
    {
        QFETCH(QString, path);
        QFETCH(bool, given);
        QFETCH(int, answer);
        QFETCH(Opened, expected);
        QTemporaryDir dir;
        if (path == "damaged")
            path = damagedMovie(dir) + "/VTS_01_1.VOB";
        if (path == "damaged folder")
            path = damagedMovie(dir);
        auto w = window();
        if (answer > 0)
            w->dialogs.titleAnswers << answer;
        if (given) {
            w->form->openGivenFile(QFile::encodeName(path));
        } else {
            w->dialogs.openAnswers << path;
            w->click(w->form->Command4);
        }
        const Form1 &f = *w->form;
        const QStringList said = w->dialogs.messages;
        QCOMPARE(said.size(), expected.refused ? 1 : 0);
        if (expected.refused)
            QVERIFY2(said[0].startsWith("Cannot play \"" + path), qPrintable(said[0]));
        QCOMPARE(int(w->dialogs.titleLists.value(0).titles.size()), expected.listed);
        QCOMPARE(f.state.fileOpen() ? f.state.Title : -1, expected.title);
        if (expected.sliderMaximum >= 0)
            QCOMPARE(f.H->maximum(), expected.sliderMaximum);
        QCOMPARE(f.mp->accessibleDescription(), expected.description);
        QCOMPARE(int(w->dialogs.questions.size()), expected.questions);
    }

    void listsTitles()
    {
        WindowFixture w;
        w.form->openGivenFile(QFile::encodeName(disc("episodes")));
        const ScriptedDialogs::TitleList list = w.dialogs.titleLists.value(0);
        QCOMPARE(list.preselected, 1); // the longest
        QCOMPARE(list.titles.size(), 2);
        QCOMPARE(list.titles[1].number, 2);
        QCOMPARE(list.titles[1].duration, "0:06.00");
        QCOMPARE(list.titles[0].chapters, 2);
        QCOMPARE(list.titles[0].audio, "AC-3 1ch");
    }

    // The real title list, sent keys once it is up.
    void keyboardOnly_data()
    {
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<int>("chosen"); // 0: none
        QTest::newRow("Enter takes the preselected") << Keys{Qt::Key_Return} << 1;
        QTest::newRow("Escape cancels") << Keys{Qt::Key_Down, Qt::Key_Escape} << 0;
        QTest::newRow("Tab to OK, Space") << Keys{Qt::Key_End, Qt::Key_Tab, Qt::Key_Space} << 3;
    }
    void keyboardOnly()
    {
        QFETCH(Keys, keys);
        QFETCH(int, chosen);
        QString caption;
        QTimer::singleShot(300, [keys, &caption] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            caption = dialog->windowTitle();
            for (const Qt::Key key : keys)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, key);
            dialog->close(); // one the keys left open fails the row, not the program
        });
        QtDialogs dialogs;
        const auto got =
            dialogs.chooseTitle({{1, "0:08.00", 2, "AC-3 2ch"}, {2, "0:06.00", 1, ""}, {3, "0:01.00", 1, ""}}, 1);
        QCOMPARE(got.value_or(0), chosen);
        QCOMPARE(caption, QStringLiteral("Morvane"));
    }

    // The movie, chapters every 3 s: ticks where a file has none and every control where a file has it, Page Down and
    // Up, and playing on across its two VOB IDs.
    void movie()
    {
        auto w = window();
        Form1 &f = *w->form;
        f.openGivenFile(QFile::encodeName(media("dvd.vob")));
        QCOMPARE(f.Ticks->ticks(), QList<double>());
        const QList<QWidget *> controls = f.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        QList<QRect> before;
        for (QWidget *c : controls)
            before << c->geometry();
        f.openGivenFile(QFile::encodeName(disc("movie")));
        QCOMPARE(f.H->maximum(), 12);
        QCOMPARE(f.Ticks->ticks().size(), 4);
        for (qsizetype i = 0; i < 4; ++i) {
            const double authored = StartLineOffset + 3.0 * i * TrackWidth / 12;
            QVERIFY2(std::abs(f.Ticks->ticks()[i] - authored) < 0.6 * TrackWidth / 12,
                     qPrintable(QString::number(f.Ticks->ticks()[i])));
        }
        for (qsizetype i = 0; i < controls.size(); ++i)
            QCOMPARE(controls[i]->geometry(), before[i]);
        QVERIFY(controls.indexOf(f.Ticks) < controls.indexOf(f.Line1)); // the marker lines on top
        QVERIFY(controls.indexOf(f.Ticks) < controls.indexOf(f.Line2));
        QVERIFY(f.Ticks->geometry().bottom() < f.H->geometry().top());

        MediaPlayer &player = *w->real;
        w->click(f.Command1); // paused
        const QList<std::pair<Qt::Key, int>> jumps{{Qt::Key_PageUp, 0},   {Qt::Key_PageDown, 1}, {Qt::Key_PageDown, 2},
                                                   {Qt::Key_PageDown, 3}, {Qt::Key_PageDown, 3}, {Qt::Key_PageUp, 2}};
        for (const auto &[key, chapter] : jumps) {
            QTest::keyClick(&f, key);
            const double start = f.state.ChapterSeconds.value(chapter);
            QCOMPARE(player.currentPosition(), start);
            QCOMPARE(f.H->value(), qRound(start));
        }

        w->click(f.Command1);
        player.seek(5.0);
        QList<double> seen;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2500) {
            QTest::qWait(100);
            seen << player.currentPosition();
        }
        QVERIFY2(seen.last() > 7.0, qPrintable(QString::number(seen.last())));
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY2(seen[i] >= seen[i - 1] && seen[i] - seen[i - 1] < 0.5,
                     qPrintable(QStringLiteral("%1 then %2").arg(seen[i - 1]).arg(seen[i])));
        // Stop and Play name the title to the player again: it starts over.
        w->click(f.Command2);
        w->click(f.Command1);
        QTest::qWait(500);
        QVERIFY2(player.currentPosition() < 1.5, qPrintable(QString::number(player.currentPosition())));
    }

    // Marks where Page Down put the player, at chapters 2 and 3, cut chapter 2 with Precise cut only. It starts
    // inside second 2.6, where a mark's whole second alone would cut elsewhere.
    void save_data()
    {
        QTest::addColumn<bool>("precise");
        QTest::addColumn<int>("from"); // chapter with Precise cut, else second
        QTest::addColumn<int>("to");
        QTest::newRow("precise") << true << 2 << 2;
        QTest::newRow("byte rate") << false << 3 << 4;
    }
    void save()
    {
        QFETCH(bool, precise);
        QFETCH(int, from);
        QFETCH(int, to);
        QTemporaryDir dir;
        auto w = window();
        Form1 &f = *w->form;
        f.openGivenFile(QFile::encodeName(disc("offbeat/VIDEO_TS/VTS_01_1.VOB")));
        f.Check1->setChecked(precise);
        w->click(f.Command1); // paused
        QTest::keyClick(&f, Qt::Key_PageDown);
        w->click(f.Command5);
        QTest::keyClick(&f, Qt::Key_PageDown);
        w->click(f.Command6);
        w->dialogs.saveAnswers << dir.filePath("window.vob");
        w->click(f.Command7);
        QCOMPARE(w->dialogs.messages, QStringList{"Clip Saved"});
        const CutMethod how = precise ? CutMethod::Precise : CutMethod::ByteRate;
        const CutRequest request = titleCut(QFile::encodeName(disc("offbeat")), 1, how, precise, from, to,
                                            QFile::encodeName(dir.filePath("cut.vob")));
        NullProgress progress;
        ClipCutter(progress, {}).cut(request);
        const QByteArray clip = readFile(dir.filePath("window.vob"));
        QVERIFY(clip.size() > 20'000);
        QVERIFY2(clip == readFile(dir.filePath("cut.vob")), qPrintable(QString::number(clip.size())));
    }

    // A click on the slider into the second VOB ID shows that second of it.
    void pictureAfterSliderClick()
    {
        QVideoSink sink;
        auto w = window(&sink);
        Form1 &f = *w->form;
        f.openGivenFile(QFile::encodeName(disc("movie")));
        w->click(f.Command1); // paused
        const auto shown = [&] {
            QVideoFrame frame = sink.videoFrame();
            if (!frame.map(QVideoFrame::ReadOnly))
                return Picture{};
            const auto grey = [&](int y) { return frame.bits(0)[y * frame.bytesPerLine(0) + frame.width() / 2]; };
            const Picture p = pictureOf(grey(frame.height() / 4), grey(frame.height() * 3 / 4));
            frame.unmap();
            return p;
        };
        // Source 4 from the second VOB ID's start on, chapter 3's; its second counts from there. A picture within two
        // frames of the position passes.
        const double secondVobId = f.state.ChapterSeconds.value(2);
        for (const int second : {10, 7}) {
            f.H->setValue(second);
            f.H_Click();
            const double within = w->real->currentPosition() - secondVobId;
            const auto right = [&] {
                const Picture p = shown();
                const bool early = p.second == int(std::floor(within - 0.08));
                return p.source == 4 && (early || p.second == int(std::floor(within + 0.08)));
            };
            QVERIFY2(QTest::qWaitFor(right, 2000), qPrintable(QStringLiteral("at %1 s: source %2, second %3")
                                                                  .arg(second)
                                                                  .arg(shown().source)
                                                                  .arg(shown().second)));
        }
    }
};

QTEST_MAIN(TitlesTest)
#include "tst_titles.moc"
