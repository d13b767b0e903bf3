#pragma once

#include "resources/dialogtemplate.h"

#include <QFont>
#include <QRect>
#include <QSize>

#include <string_view>

// Dialog units to pixels, by the rule of the dialogs' original platform: a
// horizontal unit is a quarter of the dialog font's average character width,
// a vertical unit an eighth of its character height, each coordinate scaled
// on its own with MulDiv rounding.

struct DialogBaseUnits {
    int cx = 0; // average character width in pixels
    int cy = 0; // character height in pixels
};

// a * b / c rounded half away from zero, computed in 64 bits; -1 when c is 0
// or the result does not fit in 32 bits (the platform function's contract).
int MulDiv(int a, int b, int c);

// Average width of "A".."Z" "a".."z": the 52-letter extent halved after
// dividing by 26, rounding as the platform does; height = ascent + descent.
DialogBaseUnits BaseUnitsOf(const QFont& font);

QRect DialogUnitsToPixels(const DuRect& rect, DialogBaseUnits units);
QSize DialogUnitsToPixels(int cx, int cy, DialogBaseUnits units);

// The font a template names, made deterministic: "MS Sans Serif" (absent on
// Linux) maps to "DejaVu Sans"; the point size is converted at 96 dots per
// inch to a fixed pixel size (8 points -> 11 pixels) and hinting is off, so
// the metrics - and with them every control's pixel rectangle - do not
// depend on the screen's resolution or the desktop's font settings.
QFont TemplateFont(std::string_view face, int pointSize);
