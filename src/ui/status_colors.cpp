#include "status_colors.h"

namespace {

constexpr quint32 SystemColorFlag = 0x80000000;

struct SystemColor
{
    quint32 number;
    QPalette::ColorRole role;
};

// The window system's colour numbers that have a palette role of the same meaning.
constexpr SystemColor SystemColors[] = {
    { 5, QPalette::Base }, // window background
    { 8, QPalette::Text }, // window text
    { 13, QPalette::Highlight },
    { 14, QPalette::HighlightedText },
    { 15, QPalette::Button }, // button face
    { 16, QPalette::Dark }, // button shadow
    { 18, QPalette::ButtonText },
    { 20, QPalette::Light }, // button highlight
    { 21, QPalette::Shadow }, // dark shadow of 3-D elements
    { 22, QPalette::Midlight }, // light of 3-D elements
    { 23, QPalette::ToolTipText },
    { 24, QPalette::ToolTipBase },
};

} // namespace

QColor StatusColor(quint32 value, const QPalette &palette)
{
    if (value & SystemColorFlag) {
        const quint32 number = value & ~SystemColorFlag;
        for (const SystemColor &system : SystemColors) {
            if (system.number == number)
                return palette.color(QPalette::Active, system.role);
        }
        return palette.color(QPalette::Active, QPalette::Window);
    }
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}
