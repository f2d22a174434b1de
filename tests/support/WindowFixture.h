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
    std::unique_ptr<Form1> form;

    WindowFixture() : form(std::make_unique<Form1>(player, dialogs, web)) { form->show(); }

    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
    // Opens path through the Open button and the dialog.
    void open(const QString &path, double duration = 100.0)
    {
        player.durations[path] = duration;
        dialogs.openAnswers << path;
        click(form->Command4);
    }
};

} // namespace morvane::test
