#include "aboutform.h"

#include "client_font.h"
#include "core/string_table.h"
#include "twips.h"
#include "ui_resources.h"
#include "window_edge.h"

#include <QLabel>
#include <QMouseEvent>

namespace {

QLabel *MakeLabel(QWidget *parent, const char *name, const QRect &place, Qt::Alignment alignment)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(place);
    label->setAlignment(alignment);
    return label;
}

} // namespace

AboutForm::AboutForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    InitUiResources();
    setObjectName(QStringLiteral("AboutForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(Twips(6225), Twips(3015));
    setFont(ClientFont(font()));

    QLabel *picture = MakeLabel(this, "Picture1", TwipsRect(120, 240, 3375, 1335), Qt::AlignCenter);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/splash.png")));

    m_label3 = MakeLabel(
        this, "Label3", TwipsRect(4560, 120, 1335, 255), Qt::AlignRight | Qt::AlignVCenter);

    QLabel *name = MakeLabel(
        this, "Label2", TwipsRect(0, 1680, 6015, 735), Qt::AlignRight | Qt::AlignVCenter);
    name->setFont(TitleFont(font()));
    name->setText(QStringLiteral("QX-USB Server"));

    m_label1 = MakeLabel(this, "Label1", TwipsRect(1920, 2640, 2295, 255), Qt::AlignCenter);
    m_label1->setBackgroundRole(QPalette::ToolTipBase);
    m_label1->setForegroundRole(QPalette::ToolTipText);
    m_label1->setAutoFillBackground(true);
    m_label1->setCursor(Qt::PointingHandCursor);
    m_label1->setText(LocalText(TextId::Close).value_or(QString()));
    m_label1->installEventFilter(this);
}

void AboutForm::setBuildStamp(const QString &stamp)
{
    m_label3->setText(stamp);
}

void AboutForm::Label1_Click()
{
    close();
}

bool AboutForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_label1 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Label1_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AboutForm::paintEvent(QPaintEvent *)
{
    PaintWindowEdge(*this);
}
