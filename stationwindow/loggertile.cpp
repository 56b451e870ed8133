#include "stationwindow/loggertile.h"

#include "station/terminaltext.h"

#include <QAccessible>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

using StationText::State;

struct Look
{
    const char *symbol;
    QColor ground;
    QColor text;
};

// Strong grounds with white or black text, the same in a light and a dark theme, each state
// also told by its symbol and its word; waiting takes the theme's own colours.
Look look(State state)
{
    switch (state) {
    case State::Waiting:
        return {"\u25CB", {}, {}};
    case State::Writing:
        return {"\u270E", QColor(0x1f, 0x4e, 0x96), Qt::white};
    case State::Checking:
        return {"\u21C4", QColor(0x1f, 0x4e, 0x96), Qt::white};
    case State::Verified:
        return {"\u2714", QColor(0x1b, 0x6e, 0x2e), Qt::white};
    case State::Mismatch:
        return {"\u2260", QColor(0xb0, 0x1c, 0x1c), Qt::white};
    case State::Failed:
        return {"\u2716", QColor(0xb0, 0x1c, 0x1c), Qt::white};
    case State::Refused:
        return {"\u2298", QColor(0x5b, 0x2a, 0x86), Qt::white};
    case State::NotRecorded:
        return {"\u26A0", QColor(0xf5, 0xc2, 0x11), Qt::black};
    }
    return {"", {}, {}};
}

QFont scaled(QFont font, double factor, bool bold)
{
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

} // namespace

LoggerTile::LoggerTile(const QString &logger, QWidget *parent)
    : QFrame(parent)
    , m_logger(logger)
    , m_symbol(new QLabel(this))
    , m_name(new QLabel(terminalText(logger), this))
    , m_word(new QLabel(this))
    , m_detail(new QLabel(this))
{
    setObjectName(QStringLiteral("tile"));
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(tileSize(font()));
    m_symbol->setFont(scaled(font(), 1.6, true));
    m_name->setFont(scaled(font(), 1.7, true));
    m_detail->setFont(scaled(font(), 1.1, false));
    m_detail->setWordWrap(true);
    m_detail->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_name->setTextFormat(Qt::PlainText);
    m_detail->setTextFormat(Qt::PlainText);

    // The identifier across the whole tile, the symbol and the word under it, then the details.
    auto *state = new QHBoxLayout;
    state->setSpacing(6);
    state->addWidget(m_symbol);
    state->addWidget(m_word, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 6);
    layout->setSpacing(0);
    layout->addWidget(m_name);
    layout->addLayout(state);
    layout->addWidget(m_detail, 1);
    setView(m_view);
}

void LoggerTile::paintEvent(QPaintEvent *)
{
    // A rounded tile, and a focus ring thick enough to see across a table.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool focused = hasFocus();
    const int pen = focused ? 4 : 2;
    painter.setPen(QPen(palette().color(focused ? QPalette::Highlight : QPalette::Mid), pen));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(QRectF(rect()).adjusted(pen / 2.0, pen / 2.0, -pen / 2.0, -pen / 2.0),
                            6, 6);
}

QSize LoggerTile::tileSize(const QFont &font)
{
    const int line = QFontMetrics(font).height();
    return {line * 21 / 2, line * 15 / 2};
}

void LoggerTile::setView(const StationText::View &view)
{
    m_view = view;
    const Look l = look(view.state);
    m_symbol->setText(QString::fromUtf8(l.symbol));
    // The word as large as the tile lets it be: "not recorded" is the longest.
    const QString word = StationText::word(view.state);
    QFont wordFont = scaled(font(), 1.5, true);
    const int room = width() - 22 - m_symbol->sizeHint().width();
    while (QFontMetrics(wordFont).horizontalAdvance(word) > room
           && wordFont.pointSizeF() > font().pointSizeF())
        wordFont.setPointSizeF(wordFont.pointSizeF() - 0.5);
    m_word->setFont(wordFont);
    m_word->setText(word);
    // Two lines and a half of it at most: the whole is in the tooltip and the accessible name.
    const QString elided = m_detail->fontMetrics().elidedText(
        terminalText(view.detail), Qt::ElideRight, (width() - 16) * 5 / 2);
    m_detail->setText(elided);
    const QString spoken = StationText::spoken(m_logger, view);
    setToolTip(spoken);
    // Colours through the palette, not a style sheet: 32 tiles changing state at once would
    // each have their style sheet parsed again.
    QPalette palette = parentWidget() ? parentWidget()->palette() : this->palette();
    palette.setColor(QPalette::Window,
                     l.ground.isValid() ? l.ground : palette.color(QPalette::Base));
    palette.setColor(QPalette::WindowText,
                     l.text.isValid() ? l.text : palette.color(QPalette::Text));
    setPalette(palette);
    update();
    if (accessibleName() != spoken) {
        setAccessibleName(spoken);
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}
