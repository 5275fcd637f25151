#pragma once

#include <QLabel>

namespace bellboard {

// The marquee's label. Right-aligned text keeps its trailing blanks, so a message that
// grows one character at a time runs in from the right edge and its trailing blanks carry
// it on to the left before it is wiped.
class MarqueeLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit MarqueeLabel(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace bellboard
