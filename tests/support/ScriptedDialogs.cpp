#include "support/ScriptedDialogs.h"

namespace morvane::test {

std::optional<QString> ScriptedDialogs::openFile(const QString &filter, const QString &fileName)
{
    openRequests.append({QString(), filter, fileName, 1});
    return openAnswers.isEmpty() ? std::nullopt : openAnswers.takeFirst();
}

std::optional<QString> ScriptedDialogs::saveFile(const QString &title, const QString &filter, int filterIndex,
                                                 const QString &fileName)
{
    saveRequests.append({title, filter, fileName, filterIndex});
    return saveAnswers.isEmpty() ? std::nullopt : saveAnswers.takeFirst();
}

void ScriptedDialogs::message(const QString &text)
{
    messages << text;
}

bool ScriptedDialogs::askYesNo(const QString &text)
{
    questions << text;
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.takeFirst();
}

} // namespace morvane::test
