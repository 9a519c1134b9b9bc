#pragma once

#include "code_page.h"

#include <QString>

#include <string>
#include <string_view>

class QLineEdit;

namespace palvero {

struct Settings;

// Table cells, data files and CSV files hold single-byte text; every conversion between
// those bytes and what the windows show or take goes through here, in the code page of
// the settings record (Settings::CodePage) at the moment it runs.

// The record whose code page is in force; without one, the system's code page.
void bindCellCodePage(const Settings* settings);
CodePage cellCodePage();

// Every byte shows as one character, and a shown text converted back is the same bytes.
QString cellText(std::string_view cell);
// Characters the code page cannot hold become "?": the fields that take typed text
// refuse them (refuseUnheldCharacters), so only program texts reach here with them.
std::string cellBytes(const QString& text);
// Whether every character of `text` has a byte in the code page.
bool cellCodePageHolds(const QString& text);

// A typed or pasted character that the code page cannot hold is refused in `edit`, with
// a tooltip that says why, so that two names that differ are never stored as one.
void refuseUnheldCharacters(QLineEdit* edit);

} // namespace palvero
