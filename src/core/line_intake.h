#pragma once

#include <QByteArray>

// What one piece of text received on a command connection did to the line
// buffer of its slot, which held no CR before it.
struct LineIntake
{
    int overlongLines = 0; // lines that passed the length limit, each owed one error answer
    bool lineComplete = false; // the buffer now holds a whole line, its CR last
};

// Appends received text to a line buffer up to and including the first CR;
// whatever follows that CR is dropped. Text that would make a line longer
// than Protocol::MaxLineLength is dropped up to and including its own CR,
// which ends the overlong line without making a line of its own; `discarding`
// carries that state from one piece to the next.
LineIntake TakeText(QByteArray &buffer, bool &discarding, const QByteArray &data);
