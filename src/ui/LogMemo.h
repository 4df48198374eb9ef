// The log memo of the tool windows: a read-only multi-line text control that the
// application manager writes log lines into.
#pragma once

#include "common/EngineContract.h"

#include <QPlainTextEdit>

class TQNLogMemo : public QPlainTextEdit, public ILogMemo {
    Q_OBJECT
public:
    explicit TQNLogMemo(QWidget* parent = nullptr);

    int LineCount() const override;
    void AddLine(const std::string& line) override;
    TQNStringList Lines() const override;
    void Clear() override;
    int VisibleLineCount() const override;
    void SetTopLine(int line) override;
    int TopLine() const;
};
