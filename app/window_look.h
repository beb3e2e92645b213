// The look of the window frmFix, shared by the Qt window (Linux) and the Win32 window
// (Windows) and their tests: texts, and positions and sizes in twips (1/1440 inch),
// each inside its container's client area. At 96 dpi a pixel is 15 twips, and every
// value is a whole number of pixels.
#pragma once

namespace frm_fix {

inline constexpr char kTitle[] = "ZivAdiduz";
inline constexpr char kFrameCaption[] = "Waarschuwing";
inline constexpr char kButtonCaption[] = "HERSTEL DATABASE";
inline constexpr char kWarningText[] =
    "OPGELET ! Gebruik dit programma enkel en alleen wanneer alle andere applicaties die "
    "gebruik maken van de morvik database NIET draaien. Ofschoon het programma zelf een "
    "backup maakt van de morvikdatabase is het toch aan te bevelen om zelf ook voor een "
    "reserve-copie te zorgen.";

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPixelAt96Dpi = 15;

struct TwipsRect {
  int left, top, width, height;
};

inline constexpr int kClientWidthTwips = 4860;
inline constexpr int kClientHeightTwips = 3420;
inline constexpr TwipsRect kFrame1Twips{165, 75, 4500, 2430};     // in the window
inline constexpr TwipsRect kLabel1Twips{165, 315, 3990, 2055};    // in Frame1
inline constexpr TwipsRect kCmdStartTwips{1710, 2610, 1320, 690};  // in the window

// The warning: red, bold, 9.75 point "MS Sans Serif" (13 px at 96 dpi).
inline constexpr int kWarningCentipoints = 975;
inline constexpr int kWarningRed = 255, kWarningGreen = 0, kWarningBlue = 0;

// The same at 96 dpi, in pixels.
inline constexpr int kClientWidth = kClientWidthTwips / kTwipsPerPixelAt96Dpi;    // 324
inline constexpr int kClientHeight = kClientHeightTwips / kTwipsPerPixelAt96Dpi;  // 228
inline constexpr int kWarningPixelSize = kWarningCentipoints * 96 / 7200;         // 13

}  // namespace frm_fix
