#pragma once
// Values of the word processor's object model that the link and the page export
// pass, under the names the object model gives them.
#include <cstdint>

namespace kx::word {

inline constexpr int32_t wdAlertsNone = 0;           // Application.DisplayAlerts: show none
inline constexpr int32_t wdWindowStateMinimize = 2;  // Application.WindowState
inline constexpr int32_t wdPrintView = 3;            // Window.View: pages as printed
inline constexpr int32_t wdGoToPage = 1;             // Document.Goto, What: a page
inline constexpr int32_t wdGoToAbsolute = 1;         // Document.Goto, Which: by its number
inline constexpr int32_t wdStory = 6;                // Selection.EndKey, Unit: the whole document

}  // namespace kx::word
