// The black-level slider: a horizontal slider that reports each finished
// interaction once (a release after a drag or a click in the channel, a key,
// a wheel turn), never while the thumb moves, and shows the value beside the
// thumb during a drag.
#pragma once

#include <QSlider>

namespace morvel {

class LevelSlider final : public QSlider {
    Q_OBJECT
public:
    explicit LevelSlider(QWidget* parent = nullptr);

signals:
    // The user finished moving the slider; `value` is where it now stands.
    void interactionFinished(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void showValueAtThumb(int value);
    bool pressed_ = false;
};

}  // namespace morvel
