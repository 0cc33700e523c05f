#pragma once

#include "figures.h"

#include <QString>

// The printed result of one run: the figures side by side for the three paths, then every target
// as a comparison within the run, with PASS or FAIL; as aligned text or as Markdown tables (the
// README's).
struct Report
{
    QString text;
    bool passed = false; // every target met and no step failed
};

Report RenderReport(Figures figures, const QString &title, bool markdown);

// One line about this machine: cores, CPU model, kernel, Qt.
QString DescribeMachine();
