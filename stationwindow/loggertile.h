#pragma once

#include "stationwindow/stationtext.h"

#include <QFrame>

class QLabel;

/// One logger at the bench: its identifier, a symbol and a word for where it stands, in the
/// state's colour, and what differed or why it failed. Focusable, so that the keyboard walks
/// the tiles; its accessible name is its logger and its state, kept up to date.
class LoggerTile : public QFrame
{
    Q_OBJECT

public:
    explicit LoggerTile(const QString &logger, QWidget *parent = nullptr);

    void setView(const StationText::View &view);
    const QString &logger() const { return m_logger; }
    const StationText::View &view() const { return m_view; }

    /// The size every tile takes, from the font: 32 of them fit a 1366 × 768 screen.
    static QSize tileSize(const QFont &font);
    QSize sizeHint() const override { return tileSize(font()); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override
    {
        QFrame::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        QFrame::focusOutEvent(event);
        update();
    }

private:
    QString m_logger;
    StationText::View m_view;
    QLabel *m_symbol;
    QLabel *m_name;
    QLabel *m_word;
    QLabel *m_detail;
};
