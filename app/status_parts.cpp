#include "app/status_parts.h"

#include <QLabel>
#include <algorithm>

namespace morvel {

StatusParts::StatusParts(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("statusBar"));
    setSizeGripEnabled(true);
    // The parts are placed by hand (see placeParts) so that their edges fall
    // exactly at 300 and 335; the size grip stays on top of part 2.
    for (QLabel*& label : parts_) {
        label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(3);
        label->lower();
    }
}

QLabel* StatusParts::partLabel(int part) const
{
    return part >= 0 && part < 3 ? parts_[static_cast<size_t>(part)] : nullptr;
}

void StatusParts::setPart(int part, const QString& text)
{
    if (QLabel* label = partLabel(part))
        label->setText(text);
}

QString StatusParts::partText(int part) const
{
    const QLabel* label = partLabel(part);
    return label != nullptr ? label->text() : QString();
}

void StatusParts::dock()
{
    const QWidget* window = parentWidget();
    if (window == nullptr)
        return;
    const int height = sizeHint().height();
    setGeometry(0, window->height() - height, window->width(), height);
}

void StatusParts::resizeEvent(QResizeEvent* event)
{
    QStatusBar::resizeEvent(event);
    placeParts();
}

void StatusParts::placeParts()
{
    const int h = height();
    parts_[0]->setGeometry(0, 0, kStatusPart0Right, h);
    parts_[1]->setGeometry(kStatusPart0Right, 0, kStatusPart1Right - kStatusPart0Right, h);
    parts_[2]->setGeometry(kStatusPart1Right, 0, std::max(width() - kStatusPart1Right, 0), h);
}

}  // namespace morvel
