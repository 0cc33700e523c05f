#include "ipform.h"

#include "client_font.h"
#include "core/string_table.h"
#include "twips.h"
#include "window_edge.h"

#include <QLabel>
#include <QPushButton>

IPForm::IPForm(const QHostAddress &address, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("IPForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(Twips(4680), Twips(1470));
    setFont(ClientFont(font()));

    auto *label = new QLabel(this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setGeometry(TwipsRect(120, 480, 4215, 255));
    label->setAlignment(Qt::AlignCenter);
    label->setText(LocalText(TextId::OwnIpAddress).value_or(QString()) + QStringLiteral(" : ")
        + address.toString());

    auto *close = new QPushButton(this);
    close->setObjectName(QStringLiteral("Command1"));
    close->setGeometry(TwipsRect(1200, 960, 2055, 375));
    close->setText(LocalText(TextId::Close).value_or(QString()));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &IPForm::Command1_Click);
}

void IPForm::Command1_Click()
{
    close();
}

void IPForm::paintEvent(QPaintEvent *)
{
    PaintWindowEdge(*this);
}
