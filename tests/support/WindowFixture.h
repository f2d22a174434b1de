#pragma once
// A window wired to scripted stand-ins, for tests that click real widgets.

#include "app/ui/Form1.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedPlayer.h"

#include <QTest>
#include <memory>

namespace morvane::test {

struct WindowFixture {
    ScriptedPlayer player;
    ScriptedDialogs dialogs;
    ScriptedWebPanel web;
    std::unique_ptr<MediaPlayer> real; // drives the window instead of player when given
    std::unique_ptr<Form1> form;

    explicit WindowFixture(std::unique_ptr<MediaPlayer> realPlayer = nullptr)
        : real(std::move(realPlayer)), form(std::make_unique<Form1>(real ? *real : player, dialogs, web))
    {
        form->show();
    }

    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
    // Opens path through the Open button and the dialog.
    void open(const QString &path, double duration = 100.0)
    {
        player.durations[path] = duration;
        dialogs.openAnswers << path;
        click(form->Command4);
    }
    // Pauses, then marks each second where the user's slider click put the
    // player; the slider is left at end.
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
    // Which editing controls take clicks ("free": all, "locked": none), and
    // the slider's value.
    QString editing() const
    {
        const Form1 &f = *form;
        const QList<std::pair<QString, QWidget *>> controls{{"Play", f.Command1}, {"Stop", f.Command2},
            {"Open", f.Command4}, {"Start", f.Command5}, {"End", f.Command6}, {"Save", f.Command7},
            {"Selected", f.Command9}, {"slider", f.H}};
        QStringList on;
        for (const auto &[name, control] : controls)
            if (control->isEnabled())
                on << name;
        const QString which = on.isEmpty() ? "locked" : on.size() == controls.size() ? "free" : on.join(' ');
        return which + " at " + QString::number(f.H->value());
    }
};

} // namespace morvane::test
