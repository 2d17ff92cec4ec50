#pragma once

#include <QFrame>

class QLabel;

// A small modeless box with a text, e.g. "Please, wait while Nemola is querying receiver\n parameters". It is shown
// and painted as soon as it is created (pending events are processed), so that it is on screen before the caller
// blocks on the receiver; the owner closes it by deleting it or with Close().
class CWaitBox : public QFrame
{
    Q_OBJECT

public:
    static constexpr int kMaxWidth = 440;

    explicit CWaitBox(const QString& text, QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const;
    void Close();

private:
    QLabel* m_label;
};
