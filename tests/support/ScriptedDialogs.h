#pragma once
// Dialogs answered from a script, recording all they show.

#include "app/ui/Dialogs.h"
#include "app/ui/WebPanel.h"

#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>

namespace morvane::test {

class ScriptedDialogs : public Dialogs {
public:
    // Front first; none left: cancel, or No.
    QList<std::optional<QString>> openAnswers, saveAnswers;
    QList<bool> yesNoAnswers;
    QList<std::optional<int>> titleAnswers;
    struct TitleList {
        QList<TitleChoice> titles;
        int preselected = 0;
    };
    QList<TitleList> titleLists;
    QStringList openDialogs, saveDialogs, messages, questions;
    std::function<void()> whileSaving;

    std::optional<QString> openFile(const QString &filter, const QString &fileName) override
    {
        openDialogs << filter + "; " + fileName;
        return openAnswers.isEmpty() ? std::nullopt : openAnswers.takeFirst();
    }
    std::optional<QString> saveFile(const QString &title, const QString &filter, int filterIndex,
                                    const QString &fileName) override
    {
        saveDialogs << QString("%1; %2; %3; %4").arg(title, filter).arg(filterIndex).arg(fileName);
        if (whileSaving)
            whileSaving();
        return saveAnswers.isEmpty() ? std::nullopt : saveAnswers.takeFirst();
    }
    void message(const QString &text) override { messages << text; }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        return !yesNoAnswers.isEmpty() && yesNoAnswers.takeFirst();
    }
    std::optional<int> chooseTitle(const QList<TitleChoice> &titles, int preselected) override
    {
        titleLists << TitleList{titles, preselected};
        return titleAnswers.isEmpty() ? std::nullopt : titleAnswers.takeFirst();
    }
};

class ScriptedWebPanel : public WebPanel {
public:
    ScriptedWebPanel() : widget_(new QWidget) {}
    QWidget *widget() override { return widget_; } // the window's once placed
    void navigate(const QUrl &address) override { visited << address; }
    QList<QUrl> visited;

private:
    QWidget *widget_;
};

} // namespace morvane::test
