#include "app/ui/Controls.h"

#include "app/ui/Twips.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <limits>

namespace morvane {

SeekSlider::SeekSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent) {}

void SeekSlider::mousePressEvent(QMouseEvent *event)
{
    emit mouseDown();
    if (event->button() == Qt::LeftButton) {
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
    }
    QSlider::mousePressEvent(event);
}

void SeekSlider::mouseReleaseEvent(QMouseEvent *event)
{
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

void MarkerLine::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), QColor(0, 128, 0));
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

ClipProgressBar::ClipProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

void ClipProgressBar::setByteMaximum(std::int64_t maximum)
{
    maximum_ = std::max<std::int64_t>(maximum, 0);
    constexpr std::int64_t intMax = std::numeric_limits<int>::max();
    divisor_ = maximum_ > intMax ? (maximum_ + intMax - 1) / intMax : 1;
    setRange(0, static_cast<int>(maximum_ / divisor_));
    setByteValue(value_);
}

void ClipProgressBar::setByteValue(std::int64_t value)
{
    value_ = std::clamp<std::int64_t>(value, 0, maximum_);
    setValue(static_cast<int>(value_ / divisor_));
}

} // namespace morvane
