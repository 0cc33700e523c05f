#pragma once

#include <QString>

class QLabel;

// Sets a label's text and narrows the label's font just as far as the text
// needs to fit the label's width (at most to MinimumStretch percent). The
// windows' places and sizes are fixed in pixels; the fonts of a desktop are not.
void SetFittedText(QLabel &label, const QString &text);

constexpr int MinimumStretch = 70; // percent of the font's normal width
