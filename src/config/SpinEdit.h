#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// Up and down buttons beside an edit that step its whole number within a range. The edit stays the control the
// toolkit loads and sends; a step that changes the text emits Stepped.
class CSpinButtons : public QWidget
{
    Q_OBJECT

public:
    CSpinButtons(QLineEdit* edit, QWidget* parent = nullptr);

    void SetRange(int low, int high);
    // One step up (+1) or down (-1). Text that is no whole number in the range starts from the nearer end.
    void Step(int delta);

signals:
    void Stepped();

private:
    QLineEdit* m_edit;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_low = 0;
    int m_high = 0;
};
