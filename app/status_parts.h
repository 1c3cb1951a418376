// The status bar: three sunken parts whose right edges fall at 300, 335 and
// the bar's own right edge, with the size grip on top of the last one.
#pragma once

#include <QStatusBar>
#include <array>

class QLabel;

namespace morvel {

// Right edges of parts 0 and 1; part 2 runs to the bar's edge.
inline constexpr int kStatusPart0Right = 300;
inline constexpr int kStatusPart1Right = 335;

class StatusParts final : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusParts(QWidget* parent = nullptr);

    // Part 0, 1 or 2; other parts are ignored (empty text, no label).
    void setPart(int part, const QString& text);
    QString partText(int part) const;
    QLabel* partLabel(int part) const;
    // Docks the bar at the bottom of its parent, the parent's full width.
    void dock();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeParts();
    std::array<QLabel*, 3> parts_{};
};

}  // namespace morvel
