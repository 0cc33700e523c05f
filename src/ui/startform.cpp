#include "startform.h"

#include "client_font.h"
#include "core/presentation.h"
#include "status_colors.h"
#include "twips.h"
#include "ui_resources.h"
#include "window_edge.h"

#include <QLabel>

Startform::Startform(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    InitUiResources();
    setObjectName(QStringLiteral("Startform"));
    setFixedSize(Twips(6405), Twips(2775));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, StatusColor(ColorButtonHighlight, colours));
    setPalette(colours);
    setAutoFillBackground(true);

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setGeometry(TwipsRect(240, 240, 3375, 1335));
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/splash.png")));

    auto *name = new QLabel(this);
    name->setObjectName(QStringLiteral("Label1"));
    name->setGeometry(TwipsRect(120, 1920, 6015, 735));
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    name->setFont(TitleFont(font()));
    name->setText(QStringLiteral("QX-USB Server"));
}

void Startform::paintEvent(QPaintEvent *)
{
    PaintWindowEdge(*this);
}
