// The window on DVD titles, with the real player, on the folders that
// make-test-media authors: choosing a title, playing it in title time, its
// chapters, and saving a clip of it.
#include "app/ui/QtDialogs.h"
#include "playback/media/QtMediaPlayer.h"
#include "selection/MarkerTrack.h"
#include "support/DiscMedia.h"
#include "support/Files.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QtTest>

using namespace morvane;
using test::disc;

namespace {

struct Opened {
    int listed = 0;        // rows of the title list, 0 when none was shown
    int preselected = 0;   // ... and the title chosen in it at first
    int title = 0;         // what the window opened: 0 a file, -1 nothing
    int sliderMaximum = 0; // -1: not compared
    QString description;   // the video's, for assistive tools
    int questions = 0;     // "whole title?" questions asked
    bool refused = false;  // one "Cannot play" message
};

// A copy of the movie whose title set's tables are cut short.
QString damagedMovie(QTemporaryDir &dir)
{
    const QString folder = dir.filePath("damaged/VIDEO_TS");
    QDir().mkpath(folder);
    for (const QString &name : QDir(disc("movie/VIDEO_TS")).entryList(QDir::Files))
        QFile::copy(disc("movie/VIDEO_TS/") + name, folder + "/" + name);
    for (const char *name : {"/VTS_01_0.IFO", "/VTS_01_0.BUP"})
        QFile(folder + name).resize(700);
    return folder;
}

// Shows the real title list and, once it is up, sends it keys; caption
// gets its window title.
std::optional<int> chooseByKeys(const QList<Qt::Key> &keys, QString &caption)
{
    QtDialogs dialogs;
    QTimer::singleShot(300, [keys, &caption] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        caption = dialog->windowTitle();
        for (const Qt::Key key : keys)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, key);
    });
    QTimer::singleShot(5000, [] { // a dialog the keys left open fails the row, not the program
        if (QWidget *dialog = QApplication::activeModalWidget())
            dialog->close();
    });
    return dialogs.chooseTitle({{1, "0:08.00", 2, "AC-3 2ch"}, {2, "0:06.00", 1, "AC-3 2ch"}, {3, "0:01.00", 1, ""}},
                               1);
}

} // namespace

Q_DECLARE_METATYPE(Opened)

class TitlesTest : public QObject {
    Q_OBJECT

    // Active, so that its keys reach it on a display with a window manager.
    std::unique_ptr<test::WindowFixture> window()
    {
        auto w = std::make_unique<test::WindowFixture>(std::make_unique<QtMediaPlayer>());
        QApplication::setActiveWindow(w->form.get());
        if (!QTest::qWaitForWindowActive(w->form.get()))
            qWarning("the window did not become active");
        return w;
    }

private slots:
    void opens_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("given"); // by name, as the command line and a drop give it
        QTest::addColumn<QList<std::optional<int>>>("answers");
        QTest::addColumn<Opened>("expected");
        const QString description = QStringLiteral("Title 2 of 2, 0 : 0 : 6");
        QTest::newRow("several titles, the second chosen")
            << disc("episodes/VIDEO_TS/VTS_01_1.VOB") << false << QList<std::optional<int>>{2}
            << Opened{2, 1, 2, 6, description, 0};
        QTest::newRow("several titles, cancelled")
            << disc("episodes/VIDEO_TS/VIDEO_TS.IFO") << false << QList<std::optional<int>>{std::nullopt}
            << Opened{2, 1, -1, 10, "", 0};
        QTest::newRow("one title, a folder given") << disc("movie") << true << QList<std::optional<int>>{}
                                                   << Opened{0, 0, 1, 12, "Title 1 of 1, 0 : 0 : 12", 0};
        QTest::newRow("one title, its second file")
            << disc("movie/VIDEO_TS/VTS_01_2.VOB") << true << QList<std::optional<int>>{}
            << Opened{0, 0, 1, 12, "Title 1 of 1, 0 : 0 : 12", 0};
        QTest::newRow("damaged tables, the folder given")
            << "damaged folder" << true << QList<std::optional<int>>{} << Opened{0, 0, -1, 10, "", 0, true};
        QTest::newRow("damaged tables: a file")
            << "damaged" << true << QList<std::optional<int>>{} << Opened{0, 0, 0, -1, "", 1};
    }
    void opens()
    {
        QFETCH(QString, path);
        QFETCH(bool, given);
        QFETCH(QList<std::optional<int>>, answers);
        QFETCH(Opened, expected);
        QTemporaryDir dir;
        if (path == "damaged")
            path = damagedMovie(dir) + "/VTS_01_1.VOB";
        if (path == "damaged folder")
            path = damagedMovie(dir);
        auto w = window();
        w->dialogs.titleAnswers = answers;
        if (given) {
            w->form->openGivenFile(QFile::encodeName(path));
        } else {
            w->dialogs.openAnswers << path;
            w->click(w->form->Command4);
        }
        const Form1 &f = *w->form;
        if (expected.sliderMaximum < 0) // a loose VOB's length is the player's own reading of its time stamps
            expected.sliderMaximum = f.H->maximum();
        Opened got{w->dialogs.titleLists.isEmpty() ? 0 : int(w->dialogs.titleLists.front().titles.size()),
                   w->dialogs.titleLists.isEmpty() ? 0 : w->dialogs.titleLists.front().preselected,
                   f.state.fileOpen() ? f.state.Title : -1,
                   f.H->maximum(),
                   f.mp->accessibleDescription(),
                   int(w->dialogs.questions.size()),
                   w->dialogs.messages.size() == 1 && w->dialogs.messages.front().startsWith("Cannot play \"" + path)};
        QCOMPARE(got.refused, expected.refused);
        if (!expected.refused)
            QCOMPARE(w->dialogs.messages, QStringList());
        QCOMPARE(got.listed, expected.listed);
        QCOMPARE(got.preselected, expected.preselected);
        QCOMPARE(got.title, expected.title);
        QCOMPARE(got.sliderMaximum, expected.sliderMaximum);
        QCOMPARE(got.description, expected.description);
        QCOMPARE(got.questions, expected.questions);
    }

    // What the list shows, as morvane-cut --list has it.
    void listsTitles()
    {
        auto w = window();
        w->dialogs.openAnswers << disc("episodes");
        w->form->openGivenFile(QFile::encodeName(disc("episodes")));
        QCOMPARE(w->dialogs.titleLists.size(), 1);
        const QList<TitleChoice> &rows = w->dialogs.titleLists.front().titles;
        QCOMPARE(rows.size(), 2);
        const QByteArray listed = test::run(MORVANE_CUT_PATH, {"--list", disc("episodes")});
        for (const TitleChoice &row : rows) {
            const QString line =
                QStringLiteral("%1  %2  %3 chapter").arg(row.number).arg(row.duration).arg(row.chapters);
            QVERIFY2(listed.contains(line.toUtf8()), qPrintable(line));
            QVERIFY2(listed.contains(row.audio.toUtf8()), qPrintable(row.audio));
        }
    }

    void keyboardOnly_data()
    {
        QTest::addColumn<QList<Qt::Key>>("keys");
        QTest::addColumn<std::optional<int>>("chosen");
        QTest::newRow("Enter takes the preselected") << QList<Qt::Key>{Qt::Key_Return} << std::optional<int>(1);
        QTest::newRow("Down, Down, Enter")
            << QList<Qt::Key>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Return} << std::optional<int>(3);
        QTest::newRow("Escape cancels") << QList<Qt::Key>{Qt::Key_Down, Qt::Key_Escape} << std::optional<int>();
        QTest::newRow("Tab to OK, Space")
            << QList<Qt::Key>{Qt::Key_End, Qt::Key_Tab, Qt::Key_Space} << std::optional<int>(3);
    }
    void keyboardOnly()
    {
        QFETCH(QList<Qt::Key>, keys);
        QFETCH(std::optional<int>, chosen);
        QString caption;
        QCOMPARE(chooseByKeys(keys, caption), chosen);
        QCOMPARE(caption, QStringLiteral("Morvane"));
    }

    // Played from before the boundary between the movie's two VOB IDs, the
    // position runs on through it; Stop and Play start the title over.
    void positionRunsAcrossVobIds()
    {
        auto w = window();
        w->form->openGivenFile(QFile::encodeName(disc("movie")));
        MediaPlayer &player = *w->real;
        QVERIFY(std::abs(player.duration() - 12.0) < 0.1);
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
        w->click(w->form->Command2);
        w->click(w->form->Command1);
        QTest::qWait(500);
        QVERIFY2(player.currentPosition() < 1.5, qPrintable(QString::number(player.currentPosition())));
        QCOMPARE(w->form->H->maximum(), 12);
    }

    // The ticks stand where the chapters start, authored every 3 s; a title
    // places every control where a file does, and the marker lines stay on
    // top of the ticks.
    void chapterTicks()
    {
        auto w = window();
        Form1 &f = *w->form;
        f.openGivenFile(QFile::encodeName(MORVANE_TEST_MEDIA "/dvd.vob"));
        QCOMPARE(f.Ticks->ticks(), QList<double>());
        QList<QRect> before;
        const QList<QWidget *> controls = f.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *c : controls)
            before << c->geometry();
        f.openGivenFile(QFile::encodeName(disc("movie")));
        QCOMPARE(f.Ticks->ticks().size(), 4);
        for (qsizetype i = 0; i < 4; ++i) {
            const double authored = StartLineOffset + 3.0 * i * TrackWidth / 12;
            QVERIFY2(std::abs(f.Ticks->ticks()[i] - authored) < 0.6 * TrackWidth / 12,
                     qPrintable(QString::number(f.Ticks->ticks()[i])));
        }
        for (qsizetype i = 0; i < controls.size(); ++i)
            QCOMPARE(controls[i]->geometry(), before[i]);
        QVERIFY(controls.indexOf(f.Ticks) < controls.indexOf(f.Line1));
        QVERIFY(controls.indexOf(f.Ticks) < controls.indexOf(f.Line2));
        QVERIFY(f.Ticks->geometry().bottom() < f.H->geometry().top());
    }

    void pageKeys_data()
    {
        QTest::addColumn<QList<Qt::Key>>("keys");
        QTest::addColumn<int>("chapter"); // 0-based, where the keys leave the player
        QTest::newRow("Page Down") << QList<Qt::Key>{Qt::Key_PageDown} << 1;
        QTest::newRow("Page Down thrice") << QList<Qt::Key>{Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageDown} << 3;
        QTest::newRow("past the last") << QList<Qt::Key>(5, Qt::Key_PageDown) << 3;
        QTest::newRow("down twice, up") << QList<Qt::Key>{Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageUp} << 1;
        QTest::newRow("up at the first") << QList<Qt::Key>{Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_PageUp} << 0;
    }
    void pageKeys()
    {
        QFETCH(QList<Qt::Key>, keys);
        QFETCH(int, chapter);
        auto w = window();
        Form1 &f = *w->form;
        f.openGivenFile(QFile::encodeName(disc("movie")));
        w->click(f.Command1); // paused
        for (const Qt::Key key : keys)
            QTest::keyClick(&f, key);
        const double start = f.state.ChapterSeconds.value(chapter);
        QCOMPARE(w->real->currentPosition(), start);
        QCOMPARE(f.H->value(), qRound(start));
    }

    // Marks 4 to 8 on the movie cross the boundary at 6 s; marks taken at
    // chapter starts (Page Down from the start) cut those chapters with
    // Precise cut only. The offbeat title's chapter 2 starts inside second
    // 2.6, so its rounded mark alone would cut elsewhere. Each clip is what
    // morvane-cut makes.
    void save_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("precise");
        QTest::addColumn<QList<int>>("pageDowns"); // before Mark Start and before Mark End; empty: marks 4 and 8
        QTest::addColumn<QStringList>("cutArguments");
        QTest::newRow("byte rate") << "movie" << false << QList<int>{} << QStringList{"--start", "4", "--end", "8"};
        QTest::newRow("precise") << "movie" << true << QList<int>{}
                                 << QStringList{"--precise", "--start", "4", "--end", "8"};
        QTest::newRow("precise, chapters 2 and 3")
            << "movie" << true << QList<int>{1, 2} << QStringList{"--precise", "--chapters", "2-3"};
        QTest::newRow("precise, chapter 2 off the second")
            << "offbeat" << true << QList<int>{1, 1} << QStringList{"--precise", "--chapters", "2"};
        QTest::newRow("byte rate, at chapters")
            << "offbeat" << false << QList<int>{1, 1} << QStringList{"--start", "3", "--end", "4"};
    }
    void save()
    {
        QFETCH(QString, title);
        QFETCH(bool, precise);
        QFETCH(QList<int>, pageDowns);
        QFETCH(QStringList, cutArguments);
        QTemporaryDir dir;
        auto w = window();
        Form1 &f = *w->form;
        f.openGivenFile(QFile::encodeName(disc(title + "/VIDEO_TS/VTS_01_1.VOB")));
        f.Check1->setChecked(precise);
        if (pageDowns.isEmpty()) {
            w->mark(4, 8);
        } else {
            w->click(f.Command1);
            for (const auto &[downs, mark] :
                 {std::pair(pageDowns[0], f.Command5), std::pair(pageDowns[1], f.Command6)}) {
                for (int i = 0; i < downs; ++i)
                    QTest::keyClick(&f, Qt::Key_PageDown);
                w->click(mark);
            }
        }
        w->dialogs.saveAnswers << dir.filePath("window.vob");
        w->click(f.Command7);
        QCOMPARE(w->dialogs.messages, QStringList{"Clip Saved"});
        QProcess cut;
        cut.start(MORVANE_CUT_PATH,
                  QStringList{"--title", "1"} + cutArguments + QStringList{disc(title), dir.filePath("cut.vob")});
        QVERIFY(cut.waitForFinished(60000));
        QCOMPARE(cut.exitCode(), 0);
        const QByteArray clip = test::readFile(dir.filePath("window.vob"));
        QVERIFY(!clip.isEmpty());
        QVERIFY(clip == test::readFile(dir.filePath("cut.vob")));
    }

    // A click on the slider into the second VOB ID shows that second of it,
    // in the real window's video widget on an X display.
    void pictureAfterSliderClick()
    {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X display with a window manager (xvfb-run and openbox)");
        auto *video = new QVideoWidget; // the window owns it
        QtMediaPlayer player(video);
        test::ScriptedDialogs dialogs;
        test::ScriptedWebPanel web;
        Form1 f(player, dialogs, web, video);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.openGivenFile(QFile::encodeName(disc("movie")));
        QTest::mouseClick(f.Command1, Qt::LeftButton); // paused
        const auto shown = [&] {
            QVideoFrame frame = video->videoSink()->videoFrame();
            test::Picture p;
            if (!frame.map(QVideoFrame::ReadOnly))
                return p;
            const int y = frame.height() / 4, bottom = frame.height() * 3 / 4, x = frame.width() / 2;
            const int top = frame.bits(0)[y * frame.bytesPerLine(0) + x];
            const int low = frame.bits(0)[bottom * frame.bytesPerLine(0) + x];
            frame.unmap();
            return test::Picture{(top - 40 + 20) / 40, (low - 16 + 3) / 6};
        };
        // Source 4 from the second VOB ID's start on, which is chapter 3's;
        // the pattern's second counts from there. A picture within two frames
        // of the position passes.
        const double secondVobId = f.state.ChapterSeconds.value(2);
        for (const int second : {8, 10, 7}) {
            f.H->setValue(second);
            f.H_Click();
            const double within = player.currentPosition() - secondVobId;
            const auto right = [&] {
                const test::Picture p = shown();
                return p.source == 4
                       && (p.second == int(std::floor(within - 0.08)) || p.second == int(std::floor(within + 0.08)));
            };
            QVERIFY2(QTest::qWaitFor(right, 2000), qPrintable(QStringLiteral("at %1 s (%2 s into VOB ID 2): source %3, "
                                                                             "second %4")
                                                                  .arg(second)
                                                                  .arg(within)
                                                                  .arg(shown().source)
                                                                  .arg(shown().second)));
        }
    }
};

QTEST_MAIN(TitlesTest)
#include "tst_titles.moc"
