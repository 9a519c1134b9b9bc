#pragma once

#include <QRect>

#include <filesystem>
#include <optional>

namespace palvero {

// Where the main window opens: the size and place it had when it was last closed, brought
// onto the screen's available area, or else 1280 x 720 at most, no more than nine tenths of
// the available area, centred.
QRect fittedWindowGeometry(const QRect& available, const std::optional<QRect>& saved);

// The window's own keys in the settings file, section "Palvero". Nothing is written when
// the settings file does not exist yet: it is created by the Settings window's Apply.
inline constexpr char kOwnSection[] = "Palvero";
std::optional<QRect> readWindowGeometry(const std::filesystem::path& iniFile, bool* maximized);
void writeWindowGeometry(const std::filesystem::path& iniFile, const QRect& normal, bool maximized);
bool readFollowLastRead(const std::filesystem::path& iniFile);
void writeFollowLastRead(const std::filesystem::path& iniFile, bool on);

} // namespace palvero
