#pragma once
// Dialogs answered from a script; every question asked is recorded.

#include "app/ui/Dialogs.h"
#include "app/ui/WebPanel.h"

#include <QList>
#include <QStringList>
#include <QWidget>
#include <memory>

namespace morvane::test {

class ScriptedDialogs : public Dialogs {
public:
    // Answers, used front first. An empty queue cancels a file dialog and
    // answers No to a question.
    QList<std::optional<QString>> openAnswers;
    QList<std::optional<QString>> saveAnswers;
    QList<bool> yesNoAnswers;

    struct FileRequest {
        QString title, filter, fileName;
        int filterIndex = 0;
    };
    QList<FileRequest> openRequests, saveRequests;
    QStringList messages;  // message boxes, in order
    QStringList questions; // yes/no questions, in order

    std::optional<QString> openFile(const QString &filter, const QString &fileName) override;
    std::optional<QString> saveFile(const QString &title, const QString &filter, int filterIndex,
                                    const QString &fileName) override;
    void message(const QString &text) override;
    bool askYesNo(const QString &text) override;
};

class ScriptedWebPanel : public WebPanel {
public:
    ScriptedWebPanel() : widget_(new QWidget) {}
    QWidget *widget() override { return widget_; } // owned by the window once placed
    void navigate(const QUrl &address) override { visited << address; }
    QList<QUrl> visited;

private:
    QWidget *widget_;
};

} // namespace morvane::test
