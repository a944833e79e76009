#pragma once

// The window's nine colours as calibrated RGB fractions (alpha 1). Compile-time constants, so
// they exist before main runs and never change.
struct Colour {
    double red;
    double green;
    double blue;

    bool operator==(const Colour&) const = default;
};

inline constexpr Colour themeBg{0.027, 0.039, 0.067};
inline constexpr Colour themePanel{0.047, 0.067, 0.102};
inline constexpr Colour themeCard{0.063, 0.09, 0.137};
inline constexpr Colour themeText{0.84, 0.918, 0.988};
inline constexpr Colour themeDim{0.408, 0.502, 0.612};
inline constexpr Colour themeCyan{0.345, 0.886, 1.0};
inline constexpr Colour themeGreen{0.408, 0.894, 0.659};
inline constexpr Colour themeAmber{1.0, 0.675, 0.259};
inline constexpr Colour themeRed{1.0, 0.424, 0.471};
