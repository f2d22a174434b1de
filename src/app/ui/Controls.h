#pragma once
// The window's own kinds of control, where Qt's stock widgets lack an event
// or a value type the handlers rely on.

#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <cstdint>

namespace morvane {

// A slider that reports the user's mouse-down, mouse-up and click with the
// left button; the other buttons do nothing on it. Setting its value from
// the program raises none of them, so it never seeks.
class SeekSlider : public QSlider {
    Q_OBJECT
public:
    explicit SeekSlider(QWidget *parent = nullptr);

signals:
    void mouseDown();
    void mouseUp();
    void userClicked(); // after a mouse release, or a key that moved the thumb

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

// A short vertical marker above the slider, placed by x in twips.
class MarkerLine : public QWidget {
    Q_OBJECT
public:
    MarkerLine(float x, int topTwips, int bottomTwips, QWidget *parent);

    float X1() const { return x1_; }
    float X2() const { return x2_; }
    void setX1(float twips);
    void setX2(float twips);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void place();
    float x1_;
    float x2_;
    int top_;
    int bottom_;
};

// Short ticks at a DVD title's chapter starts, each placed by x in twips,
// in a band of the window given in twips. It takes no mouse and draws
// nothing between its ticks, so that what lies under it shows through.
class ChapterTicks : public QWidget {
    Q_OBJECT
public:
    ChapterTicks(int topTwips, int bottomTwips, QWidget *parent);

    const QList<double> &ticks() const { return ticks_; }
    void setTicks(const QList<double> &xTwips);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<double> ticks_;
};

// A label that is clicked like a link. It takes the keyboard focus, Enter
// or Space on it activates it, and assistive tools see a link they can press.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString &text, QWidget *parent = nullptr);

    void activate() { emit clicked(); }

signals:
    void clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// A label that shows a value, such as a time. Assistive tools read it under
// its accessible name and hear its text change.
class ReadOut : public QLabel {
    Q_OBJECT
public:
    explicit ReadOut(QWidget *parent = nullptr);

    // Hides QLabel::setText, which would tell assistive tools nothing once
    // the label has a name of its own.
    void setText(const QString &text);
};

// A progress bar that is given 64-bit byte counts and shows the percentage
// done: QProgressBar's own range is 0 to 100, so that it changes, and tells
// assistive tools, at most a hundred times a save. They see it read-only:
// the percentage as a value they cannot set, and in its description.
class ClipProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ClipProgressBar(QWidget *parent = nullptr);

    std::int64_t byteMaximum() const { return maximum_; }
    std::int64_t byteValue() const { return value_; }
    void setByteMaximum(std::int64_t maximum);
    void setByteValue(std::int64_t value);
    int percent() const;

private:
    void showPercent();
    std::int64_t maximum_ = 100;
    std::int64_t value_ = 0;
};

} // namespace morvane
