#include "app/control_strip.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QSpinBox>

namespace morvel {

ControlStrip::ControlStrip(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("controls"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);

    tone_ = new QCheckBox(QStringLiteral("Tone"), this);
    tone_->setToolTip(QStringLiteral("Match the picture's tone (takes precedence over the match type button)"));
    gamma_ = new QDoubleSpinBox(this);
    gamma_->setRange(kMinToneGamma, kMaxToneGamma);
    gamma_->setSingleStep(0.1);
    gamma_->setDecimals(2);
    gamma_->setPrefix(QStringLiteral("gamma "));
    gamma_->setToolTip(QStringLiteral("Tone curve exponent: higher darkens the midtones"));
    width_ = new QComboBox(this);
    width_->addItems({QStringLiteral("Natural"), QStringLiteral("Columns"), QStringLiteral("Fit")});
    width_->setToolTip(QStringLiteral("Text width: one picture pixel per font pixel, a number of columns, or the "
                                      "text box's width"));
    columns_ = new QSpinBox(this);
    columns_->setRange(kMinColumns, kMaxColumns);
    columns_->setToolTip(QStringLiteral("Columns of text"));
    invert_ = new QCheckBox(QStringLiteral("Invert"), this);
    invert_->setToolTip(QStringLiteral("Light characters on a dark background"));
    colour_ = new QCheckBox(QStringLiteral("Colour"), this);
    colour_->setToolTip(QStringLiteral("Show each character in the colour of the picture under it"));
    for (QWidget* control : std::initializer_list<QWidget*>{tone_, gamma_, width_, columns_, invert_, colour_}) {
        control->setFocusPolicy(Qt::StrongFocus);
        row->addWidget(control);
    }
    setSettings(WindowSettings{});

    const auto changedNow = [this] {
        enableDependents();
        emit changed();
    };
    connect(tone_, &QCheckBox::toggled, this, changedNow);
    connect(gamma_, &QDoubleSpinBox::valueChanged, this, changedNow);
    connect(width_, &QComboBox::currentIndexChanged, this, changedNow);
    connect(columns_, &QSpinBox::valueChanged, this, changedNow);
    connect(invert_, &QCheckBox::toggled, this, [this, changedNow](bool on) {
        changedNow();
        emit invertChanged(on);
    });
    connect(colour_, &QCheckBox::toggled, this, [this, changedNow](bool on) {
        changedNow();
        emit colourChanged(on);
    });
}

WindowSettings ControlStrip::settings() const
{
    WindowSettings s;
    s.tone = tone_->isChecked();
    s.gamma = gamma_->value();
    s.width = static_cast<WindowSettings::Width>(width_->currentIndex());
    s.columns = columns_->value();
    s.invert = invert_->isChecked();
    s.colour = colour_->isChecked();
    return s;
}

void ControlStrip::setSettings(const WindowSettings& s)
{
    const QSignalBlocker blockers[] = {QSignalBlocker(tone_),    QSignalBlocker(gamma_),  QSignalBlocker(width_),
                                       QSignalBlocker(columns_), QSignalBlocker(invert_), QSignalBlocker(colour_)};
    tone_->setChecked(s.tone);
    gamma_->setValue(s.gamma);
    width_->setCurrentIndex(static_cast<int>(s.width));
    columns_->setValue(s.columns);
    invert_->setChecked(s.invert);
    colour_->setChecked(s.colour);
    enableDependents();
}

QWidget* ControlStrip::firstControl() const
{
    return tone_;
}

QWidget* ControlStrip::lastControl() const
{
    return colour_;
}

void ControlStrip::enableDependents()
{
    gamma_->setEnabled(tone_->isChecked());
    columns_->setEnabled(width_->currentIndex() == static_cast<int>(WindowSettings::Width::Columns));
}

}  // namespace morvel
