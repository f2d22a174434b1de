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
    // Which editing controls take clicks ("free": all, "locked": none, else
    // their captions), and the slider's value.
    QString editing() const
    {
        const Form1 &f = *form;
        const QList<QWidget *> controls{f.Command1, f.Command2, f.Command4, f.Command5,
                                        f.Command6, f.Command7, f.Command9, f.H};
        QStringList on;
        for (QWidget *c : controls)
            if (c->isEnabled())
                on << (c == f.H ? QString("slider") : c->property("text").toString());
        const QString which = on.isEmpty() ? "locked" : on.size() == controls.size() ? "free" : on.join(", ");
        return which + " at " + QString::number(f.H->value());
    }
};

} // namespace morvane::test
