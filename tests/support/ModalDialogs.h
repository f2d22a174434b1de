#pragma once
// Answers real modal dialogs from inside their exec().

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <functional>

namespace morvane::test {

// Gives up after withinMs, or with owner.
template <typename T>
void whenShown(std::function<void(T *)> answer, int withinMs = 20000, QObject *owner = nullptr)
{
    auto *poll = new QTimer(owner);
    QObject::connect(poll, &QTimer::timeout, poll, [=, deadline = QDeadlineTimer(withinMs)] {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if ((dialog && dialog->isVisible()) || deadline.hasExpired()) {
            poll->deleteLater();
            poll->stop();
            if (dialog)
                answer(dialog);
        }
    });
    poll->start(20);
}

} // namespace morvane::test
