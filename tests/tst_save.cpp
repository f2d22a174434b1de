// Save as a user drives it, on real files: what is asked and said, what the
// window shows while it works, and the bytes that end up on disk.

#include "support/ScriptedDialogs.h"
#include "support/ScriptedPlayer.h"

#include "app/ui/Form1.h"
#include "app/ui/WebAddresses.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

// Dialogs that also note, in one running log, when each was shown.
class LoggingDialogs : public ScriptedDialogs {
public:
    QStringList *log = nullptr;
    std::optional<QString> saveFile(const QString &title, const QString &filter, int filterIndex,
                                    const QString &fileName) override
    {
        *log << QStringLiteral("save dialog");
        return ScriptedDialogs::saveFile(title, filter, filterIndex, fileName);
    }
    void message(const QString &text) override
    {
        *log << QStringLiteral("message ") + text.section(QLatin1Char('\n'), 0, 0);
        ScriptedDialogs::message(text);
    }
    bool askYesNo(const QString &text) override
    {
        *log << QStringLiteral("ask ") + text;
        return ScriptedDialogs::askYesNo(text);
    }
};

// Logs every change of the enabled state of the controls and of the caption.
class ChangeLog : public QObject {
public:
    QStringList *log = nullptr;
    void watch(QWidget *w, const QString &name)
    {
        names_.insert(w, name);
        w->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        auto *w = static_cast<QWidget *>(o);
        if (e->type() == QEvent::EnabledChange)
            *log << names_.value(w) + (w->isEnabled() ? QStringLiteral(" on") : QStringLiteral(" off"));
        else if (e->type() == QEvent::WindowTitleChange && w->isWindow())
            *log << QStringLiteral("title ") + w->windowTitle();
        return false;
    }

private:
    QHash<QWidget *, QString> names_;
};

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

QByteArray randomBytes(qint64 n)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator gen(20240607);
    for (qint64 i = 0; i < n; ++i)
        b[i] = char(gen.generate() & 0xff);
    return b;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

void makeSparse(const QString &path, qint64 size)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(f.resize(size));
}

const QStringList kLock{"Command1 off", "Command2 off", "Command4 off", "Command5 off",
                        "Command6 off", "Command7 off", "Command9 off", "H off"};
const QStringList kUnlock{"Command1 on", "Command2 on", "Command4 on", "Command5 on",
                          "Command6 on", "Command7 on", "Command9 on", "H on"};

// The window on scripted player and dialogs, with a source file of random
// bytes in a temporary folder.
struct SaveWindow {
    QStringList log;
    ScriptedPlayer player;
    LoggingDialogs dialogs;
    ScriptedWebPanel web;
    std::unique_ptr<Form1> form;
    QTemporaryDir dir;
    QString source;
    QByteArray bytes;
    ChangeLog changes;

    explicit SaveWindow(qint64 sourceLength = 1'000'000)
    {
        dialogs.log = &log;
        changes.log = &log;
        form = std::make_unique<Form1>(player, dialogs, web);
        form->show();
        source = path("source.vob");
        bytes = randomBytes(sourceLength);
        writeAll(source, bytes);
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
    QList<QPushButton *> editingButtons() const
    {
        return {form->Command1, form->Command2, form->Command4, form->Command5,
                form->Command6, form->Command7, form->Command9};
    }
    bool editingEnabled() const
    {
        for (QPushButton *b : editingButtons())
            if (!b->isEnabled())
                return false;
        return form->H->isEnabled();
    }

    // Opens the source with the duration the player reports, then marks.
    void openAndMark(double duration, int start, int end)
    {
        player.durations[source] = duration;
        dialogs.openAnswers << source;
        click(form->Command4);
        player.setPosition(start);
        click(form->Command5);
        player.setPosition(end);
        click(form->Command6);
        watch();
    }

    // From here on only Save's own doings are logged.
    void watch()
    {
        const QStringList names{"Command1", "Command2", "Command4", "Command5", "Command6", "Command7", "Command9"};
        for (int i = 0; i < names.size(); ++i)
            changes.watch(editingButtons()[i], names[i]);
        changes.watch(form->H, QStringLiteral("H"));
        changes.watch(form->Command3, QStringLiteral("Command3"));
        changes.watch(form.get(), QStringLiteral("form"));
        log.clear();
        dialogs.messages.clear();
    }

    void save(const std::optional<QString> &answer)
    {
        dialogs.saveAnswers << answer;
        click(form->Command7);
    }

    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
};

} // namespace

class TestSave : public QObject {
    Q_OBJECT
private slots:
    void validation_data();
    void validation();
    void clipBytes_data();
    void clipBytes();
    void whatTheUserSees_data();
    void whatTheUserSees();
    void dialogKeepsOnlyASavedName();
    void sourceAsTarget_data();
    void sourceAsTarget();
    void overwrite_data();
    void overwrite();
    void failures_data();
    void failures();
    void lockedDuringCopy();
    void closingDuringCopy_data();
    void closingDuringCopy();
    void progressBarBeyondInt_data();
    void progressBarBeyondInt();
};

void TestSave::validation_data()
{
    QTest::addColumn<bool>("fileOpen");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("no file, both marks 0") << false << 0 << 0 << QStringList{"Wrong Selection"};
    QTest::newRow("start after end") << true << 20 << 10 << QStringList{"Wrong Selection"};
    QTest::newRow("start equals end") << true << 10 << 10 << QStringList{"Wrong Selection"};
    QTest::newRow("end 0 below a negative start") << true << -1 << 0 << QStringList{"Wrong Selection"};
    QTest::newRow("no file, valid marks: silence") << false << 0 << 10 << QStringList{};
}

// A refused save touches nothing: no dialog, no lock, no caption, no file,
// and a start mark of 0 stays 0.
void TestSave::validation()
{
    QFETCH(bool, fileOpen);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QStringList, messages);
    SaveWindow w;
    if (fileOpen)
        w.openAndMark(100, 50, 60);
    else
        w.watch();
    QCOMPARE(w.form->state.fileOpen(), fileOpen);
    w.form->state.StartSecond = start;
    w.form->state.EndSecond = end;
    const QStringList filesBefore = w.files();

    w.save(w.path("clip.vob"));

    QCOMPARE(w.dialogs.messages, messages);
    QVERIFY(w.dialogs.saveRequests.isEmpty());
    QCOMPARE(w.log, messages.isEmpty() ? QStringList{} : QStringList{"message Wrong Selection"});
    QVERIFY(w.editingEnabled());
    QCOMPARE(w.form->state.StartSecond, start);
    QCOMPARE(w.files(), filesBefore);
}

void TestSave::clipBytes_data()
{
    QTest::addColumn<qint64>("sourceLength");
    QTest::addColumn<double>("duration");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<qint64>("offset"); // first source byte of the clip, 0-based
    QTest::addColumn<qint64>("length");
    QTest::addColumn<qint64>("progressMaximum");
    QTest::addColumn<qint64>("progressFinal");
    // R = 10000: S = 100000, E = 200000, 25 blocks.
    QTest::newRow("inside the file") << qint64(1'000'000) << 100.0 << 10 << 20
                                     << qint64(99'999) << qint64(102'401) << qint64(104'097) << qint64(102'400);
    QTest::newRow("duration 100.5 rounds to 100") << qint64(1'000'000) << 100.5 << 10 << 20
                                                  << qint64(99'999) << qint64(102'401) << qint64(104'097) << qint64(102'400);
    QTest::newRow("duration 99.5 rounds to 100") << qint64(1'000'000) << 99.5 << 10 << 20
                                                 << qint64(99'999) << qint64(102'401) << qint64(104'097) << qint64(102'400);
    // A start of 0 cuts from the first byte: 3 blocks of E = 10000.
    QTest::newRow("start 0") << qint64(1'000'000) << 100.0 << 0 << 1
                             << qint64(0) << qint64(12'289) << qint64(14'097) << qint64(12'288);
    // 25 blocks would want 102401 bytes; the source ends 100001 bytes on.
    QTest::newRow("clamped at the source's end") << qint64(1'000'000) << 100.0 << 90 << 100
                                                 << qint64(899'999) << qint64(100'001) << qint64(104'097) << qint64(102'400);
    // R = 3000: E - S = 3000 < 4096, one block.
    QTest::newRow("one block") << qint64(300'000) << 100.0 << 5 << 6
                               << qint64(14'999) << qint64(4'097) << qint64(7'097) << qint64(4'096);
    // R = 4096: E - S = 4096, two blocks.
    QTest::newRow("two blocks") << qint64(409'600) << 100.0 << 1 << 2
                                << qint64(4'095) << qint64(8'193) << qint64(8'193) << qint64(8'192);
}

void TestSave::clipBytes()
{
    QFETCH(qint64, sourceLength);
    QFETCH(double, duration);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(qint64, offset);
    QFETCH(qint64, length);
    QFETCH(qint64, progressMaximum);
    QFETCH(qint64, progressFinal);
    SaveWindow w(sourceLength);
    w.openAndMark(duration, start, end);
    const QString target = w.path("clip.vob");
    qint64 shownMaximum = -1, shownValue = -1;
    w.dialogs.duringMessage = [&](const QString &) {
        shownMaximum = w.form->pb->byteMaximum();
        shownValue = w.form->pb->byteValue();
    };

    w.save(target);

    QCOMPARE(w.dialogs.messages, QStringList{"Clip Saved"});
    const QByteArray clip = readAll(target);
    QCOMPARE(clip.size(), length);
    QVERIFY(clip == w.bytes.mid(offset, length));
    QCOMPARE(shownMaximum, progressMaximum);
    QCOMPARE(shownValue, progressFinal);
    QCOMPARE(w.form->pb->byteValue(), qint64(0));
    QCOMPARE(w.form->pb->value(), 0);
    QCOMPARE(w.form->state.StartSecond, start);
    QCOMPARE(w.files(), QStringList({"clip.vob", "source.vob"}));
}

// The order in which the window is locked, asked, told and given back, for
// every way through Save after the marks passed.
void TestSave::whatTheUserSees_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QStringList>("journal");
    const QStringList locked = kLock + QStringList{"title Saving", "save dialog"};
    QTest::newRow("saved") << "saved"
                           << locked + QStringList{"title Morvane", "message Clip Saved"} + kUnlock;
    QTest::newRow("dialog cancelled") << "cancel" << locked + QStringList{"title Morvane"} + kUnlock;
    QTest::newRow("source as target")
        << "source" << locked + QStringList{"message Cannot overwrite file in use...", "title Morvane"} + kUnlock;
    QTest::newRow("No to overwriting")
        << "no" << locked + QStringList{"ask File already exist.Overwrite?", "title Morvane"} + kUnlock;
    QTest::newRow("Yes to overwriting")
        << "yes"
        << locked + QStringList{"ask File already exist.Overwrite?", "title Morvane", "message Clip Saved"} + kUnlock;
    QTest::newRow("copy failed")
        << "fail" << locked + QStringList{"message The clip was not saved.", "title Morvane"} + kUnlock;
    // The duration is read while locking; its failure still unlocks.
    QTest::newRow("player fails while locking")
        << "duration" << kLock + QStringList{"message The clip was not saved.", "title Morvane"} + kUnlock;
}

void TestSave::whatTheUserSees()
{
    QFETCH(QString, way);
    QFETCH(QStringList, journal);
    SaveWindow w;
    const QString target = w.path("clip.vob");
    if (way == "no" || way == "yes")
        writeAll(target, "old");
    w.openAndMark(100, 10, 20);
    w.form->Command1->setText(QStringLiteral("Pause"));
    w.form->H->setValue(15);
    bool lockedWhenSaving = false;
    QString captionWhenSaving;
    int sliderWhenSaving = -1;
    w.dialogs.saveAnswers << (way == "cancel" ? std::nullopt
                              : way == "source" ? std::optional<QString>(w.source)
                              : way == "fail" ? std::optional<QString>(w.path("missing/clip.vob"))
                                              : std::optional<QString>(target));
    w.dialogs.yesNoAnswers << (way == "yes");
    if (way == "duration")
        w.player.failing << QStringLiteral("Duration");
    // Read as the caption turns to "Saving".
    QObject::connect(w.form.get(), &QWidget::windowTitleChanged, w.form.get(), [&](const QString &t) {
        if (t == QLatin1String("Saving")) {
            lockedWhenSaving = !w.editingEnabled() && w.form->Command3->isEnabled() && w.form->Label1->isEnabled();
            captionWhenSaving = w.form->Command1->text();
            sliderWhenSaving = w.form->H->value();
        }
    });

    w.click(w.form->Command7);

    QCOMPARE(w.log, journal);
    if (way != "duration") {
        QVERIFY(lockedWhenSaving);
        QCOMPARE(captionWhenSaving, QStringLiteral("Play"));
        QCOMPARE(sliderWhenSaving, 0);
    }
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Morvane"));
    QVERIFY(w.editingEnabled());
    QCOMPARE(w.form->pb->value(), 0);
    if (way == "fail" || way == "duration")
        QVERIFY2(w.dialogs.messages.first().section('\n', 1).trimmed().size() > 0, "says why");
}

void TestSave::dialogKeepsOnlyASavedName()
{
    SaveWindow w;
    w.openAndMark(100, 10, 20);
    const QString target = w.path("clip"); // no extension is added

    w.save(target);
    QCOMPARE(w.dialogs.saveRequests.size(), 1);
    const auto &first = w.dialogs.saveRequests.first();
    QCOMPARE(first.title, QStringLiteral("Save"));
    QCOMPARE(first.filter, QStringLiteral("VOB Files(*.vob)|*.vob|All Files (*.*)|*.*"));
    QCOMPARE(first.filterIndex, 1);
    QCOMPARE(first.fileName, QString()); // Open left it empty
    QCOMPARE(w.files(), QStringList({"clip", "source.vob"}));
    QCOMPARE(w.form->Cdlg.FileName, target);

    w.save(std::nullopt); // the next dialog offers the saved name; cancelled
    QCOMPARE(w.dialogs.saveRequests.last().fileName, target);
    QCOMPARE(w.form->Cdlg.FileName, QString());

    w.save(std::nullopt);
    QCOMPARE(w.dialogs.saveRequests.last().fileName, QString());
    QCOMPARE(w.dialogs.messages, QStringList{"Clip Saved"});
}

void TestSave::sourceAsTarget_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("refused");
    QTest::newRow("same path") << "same" << true;
    QTest::newRow("through ..") << "dotdot" << true;
    QTest::newRow("through a symbolic link") << "symlink" << true;
    QTest::newRow("through a hard link") << "hardlink" << true;
    QTest::newRow("other letter case is another file") << "case" << false;
}

void TestSave::sourceAsTarget()
{
    QFETCH(QString, how);
    QFETCH(bool, refused);
    SaveWindow w;
    QString target = w.source;
    if (how == "dotdot") {
        QVERIFY(QDir(w.dir.path()).mkdir("sub"));
        target = w.path("sub/../source.vob");
    } else if (how == "symlink") {
        target = w.path("link.vob");
        QVERIFY(QFile::link(w.source, target));
    } else if (how == "hardlink") {
        target = w.path("hard.vob");
        QCOMPARE(::link(QFile::encodeName(w.source).constData(), QFile::encodeName(target).constData()), 0);
    } else if (how == "case") {
        target = w.path("SOURCE.vob");
    }
    w.openAndMark(100, 10, 20);

    w.save(target);

    QCOMPARE(readAll(w.source), w.bytes);
    if (refused) {
        QCOMPARE(w.dialogs.messages, QStringList{"Cannot overwrite file in use..."});
        QVERIFY(w.dialogs.questions.isEmpty());
        QCOMPARE(w.form->Cdlg.FileName, QString());
    } else {
        QCOMPARE(w.dialogs.messages, QStringList{"Clip Saved"});
        QCOMPARE(readAll(target), w.bytes.mid(99'999, 102'401));
    }
    QVERIFY(w.editingEnabled());
}

void TestSave::overwrite_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("yes");
    QTest::newRow("new target: no question") << false << false;
    QTest::newRow("No keeps the old file") << true << false;
    QTest::newRow("Yes replaces it whole") << true << true;
}

void TestSave::overwrite()
{
    QFETCH(bool, exists);
    QFETCH(bool, yes);
    SaveWindow w;
    const QString target = w.path("clip.vob");
    const QByteArray old = randomBytes(300'000).right(250'000); // longer than the clip
    if (exists)
        writeAll(target, old);
    w.openAndMark(100, 10, 20);
    w.dialogs.yesNoAnswers << yes;

    w.save(target);

    QCOMPARE(w.dialogs.questions,
             exists ? QStringList{"File already exist.Overwrite?"} : QStringList{});
    const bool written = !exists || yes;
    QCOMPARE(w.dialogs.messages, written ? QStringList{"Clip Saved"} : QStringList{});
    QVERIFY(readAll(target) == (written ? w.bytes.mid(99'999, 102'401) : old));
    QCOMPARE(w.files(), QStringList({"clip.vob", "source.vob"}));
    QCOMPARE(w.form->Cdlg.FileName, written ? target : QString());
}

void TestSave::failures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QString>("reason"); // a word the explanation must hold
    QTest::newRow("duration rounds to 0") << "D0" << false << "duration";
    QTest::newRow("source gone") << "gone" << true << "source";
    QTest::newRow("source shorter than its seconds") << "tiny" << false << "source";
    QTest::newRow("target folder missing") << "folder" << false << "clip";
    QTest::newRow("source cut short during the copy") << "shrinks" << true << "source";
    QTest::newRow("source cut short, new target") << "shrinks" << false << "source";
    QTest::newRow("player fails while locking") << "duration" << true << "";
}

// No failure says "Clip Saved", each says why, and none leaves a partial
// clip or touches an existing target.
void TestSave::failures()
{
    QFETCH(QString, fault);
    QFETCH(bool, targetExists);
    QFETCH(QString, reason);
    SaveWindow w(fault == "tiny" ? 50 : 1'000'000);
    if (fault == "shrinks")
        makeSparse(w.source, 256 << 20); // many steps
    QString target = w.path(fault == "folder" ? "missing/clip.vob" : "clip.vob");
    const QByteArray old("an older clip");
    if (targetExists)
        writeAll(target, old);
    w.openAndMark(100, 10, 60);
    w.dialogs.yesNoAnswers << true;
    if (fault == "D0")
        w.player.setDuration(0.4);
    else if (fault == "gone")
        QVERIFY(QFile::remove(w.source));
    else if (fault == "duration")
        w.player.failing << QStringLiteral("Duration");
    bool truncated = false;
    QObject::connect(w.form->pb, &QProgressBar::valueChanged, w.form.get(), [&](int v) {
        if (fault == "shrinks" && v > 0 && !truncated)
            truncated = QFile::resize(w.source, 1 << 20);
    });
    const QStringList before = w.files();

    w.save(target);

    QCOMPARE(w.dialogs.messages.size(), 1);
    const QString said = w.dialogs.messages.first();
    QCOMPARE(said.section('\n', 0, 0), QStringLiteral("The clip was not saved."));
    QVERIFY2(said.section('\n', 1).contains(reason, Qt::CaseInsensitive), qPrintable(said));
    QVERIFY2(said.section('\n', 1).trimmed().size() > 0, "says why");
    if (fault == "shrinks")
        QVERIFY(truncated);
    QCOMPARE(w.files(), before);
    if (targetExists)
        QCOMPARE(readAll(target), old);
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Morvane"));
    QVERIFY(w.editingEnabled());
    QCOMPARE(w.form->pb->value(), 0);
    QCOMPARE(w.form->Cdlg.FileName, QString());
}

// While bytes move, the editing controls ignore clicks, "Website" still
// opens the browser, the target's name is not there yet, and progress climbs
// towards the full clip.
void TestSave::lockedDuringCopy()
{
    UrlCatcher browser;
    SaveWindow w;
    makeSparse(w.source, 256 << 20);
    w.openAndMark(100, 0, 100); // the whole file: more than one step of the engine
    const QString target = w.path("clip.vob");
    const QStringList commandsBefore = w.player.commands();
    const int opensBefore = w.dialogs.openRequests.size();
    // R = 2684354, E = 268435400: 65536 blocks, clamped to the source.
    const qint64 final = qint64(4096) * 65536;
    QList<qint64> progress;
    bool midCopy = false, lockedInside = false, clickedInside = false;
    QObject::connect(w.form->pb, &QProgressBar::valueChanged, w.form.get(), [&] {
        progress << w.form->pb->byteValue();
        if (progress.size() != 1)
            return;
        midCopy = progress.first() > 0 && progress.first() < final;
        lockedInside = !w.editingEnabled() && w.form->Command3->isEnabled();
        QTimer::singleShot(0, w.form.get(), [&] {
            clickedInside = w.form->windowTitle() == QLatin1String("Saving") && !QFile::exists(target);
            for (QWidget *b : w.editingButtons())
                w.click(b);
            w.click(w.form->Command3);
        });
    });

    w.save(target);

    QVERIFY(midCopy);
    QVERIFY(lockedInside);
    QVERIFY(clickedInside);
    QCOMPARE(browser.opened, QList<QUrl>{web::homePage()});
    QCOMPARE(w.player.commands(), commandsBefore);
    QCOMPARE(w.dialogs.openRequests.size(), opensBefore);
    QCOMPARE(w.dialogs.saveRequests.size(), 1);
    QCOMPARE(w.dialogs.messages, QStringList{"Clip Saved"});
    QCOMPARE(QFileInfo(target).size(), qint64(256 << 20));
    QVERIFY(std::is_sorted(progress.begin(), progress.end() - 1));
    QCOMPARE(progress.at(progress.size() - 2), final);
    QCOMPARE(progress.last(), qint64(0));
    QCOMPARE(w.form->pb->byteMaximum(), qint64(268'435'400) + 4097);
}

void TestSave::closingDuringCopy_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("new target") << false;
    QTest::newRow("old target answered Yes") << true;
}

// Closing the window cancels the cut and ends the program: no clip, the old
// file untouched, nothing said.
void TestSave::closingDuringCopy()
{
    QFETCH(bool, targetExists);
    SaveWindow w;
    makeSparse(w.source, 256 << 20);
    const QString target = w.path("clip.vob");
    const QByteArray old("an older clip");
    if (targetExists)
        writeAll(target, old);
    w.openAndMark(100, 10, 90);
    w.dialogs.yesNoAnswers << true;
    QSignalSpy ended(w.form.get(), &Form1::unloaded);
    bool closing = false;
    QObject::connect(w.form->pb, &QProgressBar::valueChanged, w.form.get(), [&](int v) {
        if (v > 0 && !closing) {
            closing = true;
            QTimer::singleShot(0, w.form.get(), [&] { w.form->close(); });
        }
    });
    const QStringList before = w.files();

    w.save(target);

    QVERIFY(closing);
    QCOMPARE(ended.size(), 1);
    QVERIFY(w.form->isUnloaded());
    QCOMPARE(w.player.commands().last(), QStringLiteral("Close"));
    QCOMPARE(w.files(), before);
    if (targetExists)
        QCOMPARE(readAll(target), old);
    QVERIFY(!w.dialogs.messages.contains(QStringLiteral("Clip Saved")));
}

void TestSave::progressBarBeyondInt_data()
{
    QTest::addColumn<qint64>("maximum");
    QTest::addColumn<qint64>("value");
    QTest::newRow("small clip") << qint64(104'097) << qint64(52'000);
    QTest::newRow("largest int") << qint64(std::numeric_limits<int>::max()) << qint64(1'000'000'000);
    QTest::newRow("just past int") << qint64(std::numeric_limits<int>::max()) + 1 << qint64(1'500'000'000);
    QTest::newRow("6 GiB clip, half way") << qint64(6) * 1024 * 1024 * 1024 << qint64(3) * 1024 * 1024 * 1024;
    QTest::newRow("6 GiB clip, last block") << qint64(6) * 1024 * 1024 * 1024 + 4097 << qint64(6) * 1024 * 1024 * 1024;
}

// The bar shows the share of bytes done, however large the clip.
void TestSave::progressBarBeyondInt()
{
    QFETCH(qint64, maximum);
    QFETCH(qint64, value);
    ClipProgressBar bar;
    bar.setByteMaximum(maximum);
    bar.setByteValue(value);
    QCOMPARE(bar.byteValue(), value);
    QVERIFY(bar.maximum() > 0);
    const double shown = double(bar.value()) / bar.maximum();
    const double wanted = double(value) / double(maximum);
    QVERIFY2(std::abs(shown - wanted) < 1e-6, qPrintable(QStringLiteral("%1 vs %2").arg(shown).arg(wanted)));
    bar.setByteValue(maximum);
    QCOMPARE(bar.value(), bar.maximum());
    bar.setByteValue(0);
    QCOMPARE(bar.value(), 0);
}

QTEST_MAIN(TestSave)
#include "tst_save.moc"
