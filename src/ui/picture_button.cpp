#include "picture_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

PictureButton::PictureButton(const QIcon &picture, QWidget *parent)
    : QPushButton(parent)
{
    setIcon(picture);
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option); // bevel and focus only

    QRect content = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (isDown()) {
        content.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
            style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    }
    const int textFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic;
    const QRect textBounds = fontMetrics().boundingRect(content, textFlags, caption);
    const QSize pictureSize = iconSize();
    const int blockHeight = pictureSize.height() + Gap + textBounds.height();
    const int top = content.top() + qMax(0, (content.height() - blockHeight) / 2);

    const QPixmap picture = icon().pixmap(
        pictureSize, devicePixelRatio(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
    painter.drawPixmap(content.left() + (content.width() - pictureSize.width()) / 2, top, picture);

    const QRect textRect(content.left(), top + pictureSize.height() + Gap, content.width(),
        content.bottom() - (top + pictureSize.height() + Gap) + 1);
    painter.drawItemText(
        textRect, textFlags, palette(), isEnabled(), caption, QPalette::ButtonText);
}
