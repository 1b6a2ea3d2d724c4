#pragma once

#include <QString>

class QWidget;

namespace testsupport {

// Types text as key presses, one character at a time, as a keyboard layout
// sends them. QTest::keyClicks only takes Latin-1; a Croatian user types
// č, ć, đ, š and ž, and a character outside the Basic Multilingual Plane
// (a surrogate pair) arrives as one key press carrying both halves.
void typeText(QWidget *widget, const QString &text);

} // namespace testsupport
