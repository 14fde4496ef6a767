#pragma once
// A read-only text pane for the receive path that keeps up with any line rate: it holds a
// bounded list of lines (bytes 0..255, shown as Latin-1) and paints only the visible ones,
// on a short timer rather than per change.

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>

#include <deque>

class LineView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit LineView(QWidget *parent = nullptr);
    ~LineView() override;

    // Keeps the newest n lines; older ones are dropped (from the bottom in a newest-on-top
    // pane, from the top otherwise).
    void setMaxLines(qsizetype n);
    qsizetype maxLines() const { return m_maxLines; }

    // Adds a line at the end.
    void appendLine(const QByteArray &line);
    // Adds a line at the top (newest first); trims the bottom.
    void prependLine(const QByteArray &line);
    // Adds raw text at the end: a line feed starts a new line; other bytes (CR included)
    // stay in the line.
    void appendText(const QByteArray &text);

    qsizetype lineCount() const { return static_cast<qsizetype>(m_lines.size()); }
    QByteArray line(qsizetype i) const { return m_lines.at(static_cast<size_t>(i)); }
    // Lines dropped by the bound so far.
    qsizetype droppedLines() const { return m_dropped; }
    // The whole content as text, lines joined by CR LF.
    QString text() const;
    void clear();

private:
    void trim(bool fromTop);
    void scheduleRepaint();

    std::deque<QByteArray> m_lines;
    qsizetype m_maxLines = 100000;
    qsizetype m_dropped = 0;
    bool m_repaintPending = false;
};
