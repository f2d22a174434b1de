#pragma once
// Modal dialogs and message boxes, behind an interface so that handlers can
// be driven with scripted answers.

#include <QString>
#include <optional>

namespace morvane {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Filters use the "Description|pattern|Description|pattern" form.
    // std::nullopt when the user cancels.
    virtual std::optional<QString> openFile(const QString &filter, const QString &fileName) = 0;
    virtual std::optional<QString> saveFile(const QString &title, const QString &filter, int filterIndex,
                                            const QString &fileName) = 0;
    // Message boxes titled "Morvane".
    virtual void message(const QString &text) = 0;
    virtual bool askYesNo(const QString &text) = 0; // true for Yes
};

} // namespace morvane
