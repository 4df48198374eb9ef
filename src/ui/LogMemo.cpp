#include "ui/LogMemo.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <QTextBlock>

TQNLogMemo::TQNLogMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setObjectName("MemoLog");
}

int TQNLogMemo::LineCount() const {
    // An empty document still has one (empty) block.
    if (document()->isEmpty()) return 0;
    return document()->blockCount();
}

void TQNLogMemo::AddLine(const std::string& line) {
    appendPlainText(QString::fromStdString(line));
}

TQNStringList TQNLogMemo::Lines() const {
    TQNStringList r;
    if (document()->isEmpty()) return r;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        r.Add(b.text().toStdString());
    return r;
}

void TQNLogMemo::Clear() { clear(); }

int TQNLogMemo::VisibleLineCount() const {
    int h = QFontMetrics(font()).lineSpacing();
    return h > 0 ? viewport()->height() / h : 0;
}

void TQNLogMemo::SetTopLine(int line) {
    // With the plain-text layout the vertical scroll bar counts lines.
    verticalScrollBar()->setValue(line < 0 ? 0 : line);
}

int TQNLogMemo::TopLine() const { return verticalScrollBar()->value(); }
