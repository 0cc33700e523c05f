#include "logform.h"

#include "core/log_book.h"
#include "core/logging.h"
#include "core/stored_settings.h"
#include "core/string_table.h"
#include "log_lines.h"
#include "log_row_painter.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QListView>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr QSize DefaultSize(720, 360);

// The room left and right of a row's text, as the style leaves it in lists.
int TextMargin(const QWidget &view)
{
    return view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
}

QPushButton *MakeButton(QWidget *parent, const char *name)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

LogForm::LogForm(LogBook &book, const SettingsStore &settings, std::function<void(bool)> logFrames,
    QWidget *parent)
    : QDialog(parent)
    , m_book(book)
    , m_settings(settings)
    , m_logFrames(std::move(logFrames))
    , m_framesAtOpening(lcFrames().isDebugEnabled())
{
    setObjectName(QStringLiteral("LogForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setSizeGripEnabled(true);

    m_lines = new LogLines(this);
    m_view = new QListView(this);
    m_view->setObjectName(QStringLiteral("LogView"));
    m_view->setModel(m_lines);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setUniformItemSizes(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setItemDelegate(new LogRowPainter(m_view, TextMargin(*m_view)));
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, &LogForm::noteScrolling);
    connect(m_view->verticalScrollBar(), &QScrollBar::rangeChanged, this, &LogForm::keepFollowing);

    m_frames = new QCheckBox(this);
    m_frames->setObjectName(QStringLiteral("Frames"));
    m_frames->setChecked(m_framesAtOpening);
    m_copy = MakeButton(this, "Copy");
    m_clear = MakeButton(this, "Clear");
    m_close = MakeButton(this, "Close");
    connect(m_frames, &QCheckBox::toggled, this, &LogForm::logFrames);
    connect(m_copy, &QPushButton::clicked, this, &LogForm::copyLines);
    connect(m_clear, &QPushButton::clicked, this, &LogForm::clearLines);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_frames);
    buttons->addStretch();
    buttons->addWidget(m_copy);
    buttons->addWidget(m_clear);
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addLayout(buttons);

    SetLanguage();
    m_placedAsStored = placeAsStored();
    m_updateTimer.setInterval(UpdateInterval);
    connect(&m_updateTimer, &QTimer::timeout, this, &LogForm::showNewLines);
    m_updateTimer.start();
}

LogForm::~LogForm()
{
    StoreLogWindowPlace(m_settings, QRect(pos(), size()));
    if (m_frames->isChecked() != m_framesAtOpening)
        logFrames(m_framesAtOpening);
}

bool LogForm::placeAsStored()
{
    const std::optional<QRect> place = StoredLogWindowPlace(m_settings);
    resize(place ? place->size() : DefaultSize);
    // A window whose screen has gone since opens as at its first time.
    if (!place || !QGuiApplication::screenAt(place->center()))
        return false;
    move(place->topLeft());
    return true;
}

void LogForm::SetLanguage()
{
    setWindowTitle(LocalText(TextId::LogTitle).value_or(windowTitle()));
    m_frames->setText(LocalText(TextId::LogFrames).value_or(m_frames->text()));
    m_copy->setText(LocalText(TextId::LogCopy).value_or(m_copy->text()));
    m_clear->setText(LocalText(TextId::LogClear).value_or(m_clear->text()));
    m_close->setText(LocalText(TextId::Close).value_or(m_close->text()));
    showLines(); // the count of dropped lines is a text too
}

void LogForm::showNewLines()
{
    if (m_book.changeCount() != m_shownChange)
        showLines();
}

void LogForm::showLines()
{
    m_shownChange = m_book.changeCount();
    const LogBook::Contents contents = m_book.contents();
    QStringList rows = contents.lines;
    const bool droppedLine = contents.dropped > 0;
    if (droppedLine) {
        rows.prepend(
            LocalText(TextId::LinesDropped).value_or(QStringLiteral("%1")).arg(contents.dropped));
    }

    // Where the user has scrolled up, the rows they look at stay in place
    // until they are dropped: the rows above them that went are taken off the
    // scroll position.
    const QScopedValueRollback showing(m_showingLines, true);
    QScrollBar *bar = m_view->verticalScrollBar();
    const qint64 top = bar->value() - (qint64(contents.dropped) - qint64(m_shownDropped))
        + (droppedLine ? 1 : 0) - (m_shownDroppedLine ? 1 : 0);
    m_shownDropped = contents.dropped;
    m_shownDroppedLine = droppedLine;

    const QFontMetricsF metrics(m_view->font());
    m_lines->show(std::move(rows),
        QSizeF(metrics.horizontalAdvance(QLatin1Char('0')), metrics.height()), TextMargin(*m_view));
    if (m_following) {
        m_view->scrollToBottom();
    } else {
        m_view->doItemsLayout();
        bar->setValue(int(qBound(qint64(0), top, qint64(bar->maximum()))));
        m_following = bar->value() == bar->maximum(); // the last line is in view again
    }
}

void LogForm::noteScrolling(int value)
{
    if (!m_showingLines)
        m_following = value == m_view->verticalScrollBar()->maximum();
}

void LogForm::keepFollowing()
{
    if (m_following && !m_showingLines)
        m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

void LogForm::copyLines()
{
    showLines();
    QGuiApplication::clipboard()->setText(m_lines->rows().join(QLatin1Char('\n')));
}

void LogForm::clearLines()
{
    m_book.clear();
    showLines();
}

void LogForm::logFrames(bool on)
{
    if (m_logFrames)
        m_logFrames(on);
}
