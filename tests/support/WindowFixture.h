#pragma once
// A window on scripted stand-ins, for clicking real widgets.

#include "app/ui/Form1.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedPlayer.h"

#include <QDebug>
#include <QTest>
#include <memory>

namespace morvane::test {

// Defaults: /m/a.vob of 100 s just opened. GCC 12 warns of designated initializers that skip fields.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct Shown {
    QString file = "/m/a.vob";
    QString title = "Morvane 1.0";
    QString caption = "Pause"; // Play/Pause's
    bool timer = true;
    Flag playing = True;
    int slider = 0;
    int maximum = 100;
    int scale = 92;
    QString position;
    QList<float> lines{170, 170, 9400, 9400}; // start line's ends, then end line's, in twips
    QString start = "0 : 0 : 0";
    QString end = "0 : 0 : 0";
    QString length = "0 : 0 : 0";
    QStringList said;
    int enabled = 9; // of nine
    bool precise = false;
    bool operator==(const Shown &) const = default;
};

inline char *toString(const Shown &s)
{
    QString t;
    QDebug(&t) << "file" << s.file << "title" << s.title << "caption" << s.caption << "timer" << s.timer << "playing"
               << s.playing << "slider" << s.slider << "maximum" << s.maximum << "scale" << s.scale << "position"
               << s.position << "lines" << s.lines << "start" << s.start << "end" << s.end << "length" << s.length
               << "said" << s.said << "enabled" << s.enabled << "precise" << s.precise;
    return qstrdup(qPrintable(t));
}

struct WindowFixture {
    ScriptedPlayer player;
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    std::unique_ptr<Form1> form = std::make_unique<Form1>(player, dialogs, web);

    WindowFixture() { form->show(); }

    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
    void open(const QString &path, double duration = 100.0)
    {
        player.durations[path] = duration;
        dialogs.openAnswers << path;
        click(form->Command4);
    }
    void tick(double seconds)
    {
        player.position = seconds;
        form->T_Timer();
    }
    // Pauses, then marks where slider clicks put the player.
    void mark(int start, int end)
    {
        if (form->Command1->text() == "Pause")
            click(form->Command1);
        for (const auto &[second, button] : {std::pair(start, form->Command5), std::pair(end, form->Command6)}) {
            form->H->setValue(second);
            form->H_Click();
            click(button);
        }
    }
    Shown shown() const
    {
        const Form1 &f = *form;
        int enabled = 0;
        for (const QWidget *c : std::initializer_list<const QWidget *>{
                 f.Command1, f.Command2, f.Command4, f.Command5, f.Command6, f.Command7, f.Command9, f.H, f.Check1})
            enabled += c->isEnabled();
        return {f.state.SourceFile,
                f.windowTitle(),
                f.Command1->text(),
                f.T->isActive(),
                f.state.IsPlaying,
                f.H->value(),
                f.H->maximum(),
                f.state.MarkScale,
                f.Label4->text(),
                {f.Line1->X1(), f.Line1->X2(), f.Line2->X1(), f.Line2->X2()},
                f.Label7->text(),
                f.Label9->text(),
                f.Label3->text(),
                dialogs.messages,
                enabled,
                f.Check1->isChecked()};
    }
};

} // namespace morvane::test
