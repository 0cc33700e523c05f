#include "fitted_text.h"

#include <QFontMetrics>
#include <QLabel>

namespace {

constexpr int StretchStep = 5; // percent

} // namespace

void SetFittedText(QLabel &label, const QString &text)
{
    const int room = label.contentsRect().width() - 2 * label.margin();
    QFont font = label.font();
    int stretch = QFont::Unstretched;
    for (;;) {
        font.setStretch(stretch);
        if (stretch <= MinimumStretch || QFontMetrics(font).horizontalAdvance(text) <= room)
            break;
        stretch -= StretchStep;
    }
    label.setFont(font);
    label.setText(text);
}
