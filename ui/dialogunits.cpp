#include "ui/dialogunits.h"

#include <QFontMetrics>
#include <QString>

#include <cstdint>
#include <limits>

namespace {

constexpr int kHorizontalUnitsPerChar = 4;
constexpr int kVerticalUnitsPerChar = 8;
constexpr int kReferenceDpi = 96;
constexpr int kPointsPerInch = 72;
constexpr int kAlphabetHalf = 26;

constexpr std::string_view kWindowsDialogFace = "MS Sans Serif";
constexpr const char* kSubstituteFace = "DejaVu Sans";

} // namespace

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    std::int64_t num = static_cast<std::int64_t>(a) * b;
    std::int64_t den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const std::int64_t half = den / 2;
    const std::int64_t result = num >= 0 ? (num + half) / den : (num - half) / den;
    if (result > std::numeric_limits<int>::max() || result < -std::numeric_limits<int>::max())
        return -1;
    return static_cast<int>(result);
}

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int extent =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(extent / kAlphabetHalf + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const DuRect& rect, DialogBaseUnits units)
{
    return {MulDiv(rect.x, units.cx, kHorizontalUnitsPerChar), MulDiv(rect.y, units.cy, kVerticalUnitsPerChar),
        MulDiv(rect.cx, units.cx, kHorizontalUnitsPerChar), MulDiv(rect.cy, units.cy, kVerticalUnitsPerChar)};
}

QSize DialogUnitsToPixels(int cx, int cy, DialogBaseUnits units)
{
    return {MulDiv(cx, units.cx, kHorizontalUnitsPerChar), MulDiv(cy, units.cy, kVerticalUnitsPerChar)};
}

QFont TemplateFont(std::string_view face, int pointSize)
{
    const QString family = face == kWindowsDialogFace
        ? QString::fromLatin1(kSubstituteFace)
        : QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size()));
    QFont font(family);
    font.setPixelSize(MulDiv(pointSize, kReferenceDpi, kPointsPerInch));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
