// The controls right of the slider: "Tone" with its curve's gamma, the
// text's width (Natural, a number of columns, or Fit), "Invert" and
// "Colour". They only hold the choices; Generate reads them.
#pragma once

#include <QWidget>

#include "app/window_settings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

namespace morvel {

class ControlStrip final : public QWidget {
    Q_OBJECT
public:
    explicit ControlStrip(QWidget* parent = nullptr);

    WindowSettings settings() const;
    // Shows `settings` without emitting anything.
    void setSettings(const WindowSettings& settings);

    QCheckBox* toneBox() const { return tone_; }
    QDoubleSpinBox* gammaBox() const { return gamma_; }
    QComboBox* widthBox() const { return width_; }
    QSpinBox* columnsBox() const { return columns_; }
    QCheckBox* invertBox() const { return invert_; }
    QCheckBox* colourBox() const { return colour_; }
    // The first and last control of the strip in the focus chain.
    QWidget* firstControl() const;
    QWidget* lastControl() const;

signals:
    // The user changed a control.
    void changed();
    void invertChanged(bool on);
    void colourChanged(bool on);

private:
    void enableDependents();

    QCheckBox* tone_ = nullptr;
    QDoubleSpinBox* gamma_ = nullptr;
    QComboBox* width_ = nullptr;
    QSpinBox* columns_ = nullptr;
    QCheckBox* invert_ = nullptr;
    QCheckBox* colour_ = nullptr;
};

}  // namespace morvel
