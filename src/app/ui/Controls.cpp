#include "app/ui/Controls.h"

#include "app/ui/Twips.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

namespace morvane {

namespace {

// The link: a Link with a press action, whatever the label's text.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(LinkLabel *label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<QLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.linked = true;
        return s;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &name) override
    {
        if (name != pressAction())
            QAccessibleWidget::doAction(name);
        else if (widget()->isEnabled())
            static_cast<LinkLabel *>(widget())->activate();
    }
    QStringList keyBindingsForAction(const QString &name) const override
    {
        return name == pressAction() ? QStringList{QStringLiteral("Return"), QStringLiteral("Space")}
                                     : QAccessibleWidget::keyBindingsForAction(name);
    }
};

// A read-out: its name says what it shows, its value and text are what it
// shows now. Deliberately no value interface: the bridge would offer
// Increase and Decrease on it.
class ReadOutAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadOutAccessible(ReadOut *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || (t == QAccessible::Name && widget()->accessibleName().isEmpty()))
            return shown();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override { return shown().mid(start, end - start); }
    int characterCount() const override { return int(shown().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = *end = offset;
        return {};
    }

private:
    QString shown() const { return static_cast<QLabel *>(widget())->text(); }
};

// The progress of a save, which only the save moves: a value from 0 to
// 100 percent that assistive tools read and cannot set, and the percentage
// as its value text and its description.
class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(ClipProgressBar *bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || t == QAccessible::Description)
            return QStringLiteral("%1%").arg(bar()->percent());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant &) override {} // read-only: only the save moves it
    QVariant maximumValue() const override { return bar()->maximum(); }
    QVariant minimumValue() const override { return bar()->minimum(); }
    QVariant minimumStepSize() const override { return 1; }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

private:
    const ClipProgressBar *bar() const { return static_cast<const ClipProgressBar *>(widget()); }
};

QAccessibleInterface *controlAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(LinkLabel::staticMetaObject.className()))
        return new LinkAccessible(static_cast<LinkLabel *>(object));
    if (className == QLatin1String(ReadOut::staticMetaObject.className()))
        return new ReadOutAccessible(static_cast<ReadOut *>(object));
    if (className == QLatin1String(ClipProgressBar::staticMetaObject.className()))
        return new ProgressAccessible(static_cast<ClipProgressBar *>(object));
    return nullptr;
}

void installAccessibleFactory()
{
    static const bool installed = (QAccessible::installFactory(controlAccessible), true);
    Q_UNUSED(installed);
}

} // namespace

SeekSlider::SeekSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent) {}

void SeekSlider::mousePressEvent(QMouseEvent *event)
{
    // Only the left button moves it; Qt's slider would also jump on the middle one.
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    emit mouseDown();
    // A click on the groove jumps there, as people expect of a video
    // position bar, instead of stepping a page.
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    if (!handle.contains(event->position().toPoint())) {
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
        const int span = groove.width() - handle.width();
        const int x = event->position().toPoint().x() - groove.x() - handle.width() / 2;
        setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), x, std::max(span, 1)));
    }
    QSlider::mousePressEvent(event);
}

void SeekSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    QSlider::mouseReleaseEvent(event);
    emit mouseUp();
    emit userClicked();
}

void SeekSlider::keyPressEvent(QKeyEvent *event)
{
    const int before = value();
    QSlider::keyPressEvent(event);
    if (value() != before)
        emit userClicked();
}

MarkerLine::MarkerLine(float x, int topTwips, int bottomTwips, QWidget *parent)
    : QWidget(parent), x1_(x), x2_(x), top_(topTwips), bottom_(bottomTwips)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    place();
}

void MarkerLine::setX1(float twips)
{
    x1_ = twips;
    place();
}

void MarkerLine::setX2(float twips)
{
    x2_ = twips;
    place();
}

void MarkerLine::place()
{
    // Two pixels wide, centred on the line's x.
    const int left = std::min(px(x1_), px(x2_)) - 1;
    const int right = std::max(px(x1_), px(x2_)) + 1;
    setGeometry(left, px(top_), right - left, px(bottom_) - px(top_));
}

void MarkerLine::paintEvent(QPaintEvent *) { QPainter(this).fillRect(rect(), QColor(0, 128, 0)); }

ChapterTicks::ChapterTicks(int topTwips, int bottomTwips, QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, px(topTwips), parent->width(), px(bottomTwips) - px(topTwips));
}

void ChapterTicks::setTicks(const QList<double> &xTwips)
{
    ticks_ = xTwips;
    update();
}

void ChapterTicks::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (const double x : ticks_)
        painter.fillRect(px(x), 0, 1, height(), QColor(64, 64, 64));
}

LinkLabel::LinkLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    installAccessibleFactory();
    setFocusPolicy(Qt::StrongFocus);
}

void LinkLabel::keyPressEvent(QKeyEvent *event)
{
    const int k = event->key();
    if ((k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Space)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && !event->isAutoRepeat()) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

ReadOut::ReadOut(QWidget *parent) : QLabel(parent) { installAccessibleFactory(); }

void ReadOut::setText(const QString &text)
{
    const QString before = QLabel::text();
    if (text == before)
        return;
    QLabel::setText(text);
    QAccessibleTextUpdateEvent event(this, 0, before, text);
    QAccessible::updateAccessibility(&event);
}

ClipProgressBar::ClipProgressBar(QWidget *parent) : QProgressBar(parent)
{
    installAccessibleFactory();
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

int ClipProgressBar::percent() const
{
    return maximum_ == 0 ? 0 : int(static_cast<long double>(value_) * 100 / static_cast<long double>(maximum_));
}

void ClipProgressBar::showPercent()
{
    // QProgressBar tells assistive tools of each new value itself.
    if (percent() == value())
        return;
    setValue(percent());
    QAccessibleEvent description(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);
}

void ClipProgressBar::setByteMaximum(std::int64_t maximum)
{
    maximum_ = std::max<std::int64_t>(maximum, 0);
    value_ = std::clamp<std::int64_t>(value_, 0, maximum_);
    showPercent();
}

void ClipProgressBar::setByteValue(std::int64_t value)
{
    value_ = std::clamp<std::int64_t>(value, 0, maximum_);
    showPercent();
}

} // namespace morvane
