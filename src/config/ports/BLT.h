#pragma once

#include "config/ConfigPage.h"

class IWaiter;
class QLineEdit;

// The "BLT" page: the Bluetooth module's name and PIN. The receiver takes them at its next start, so an apply
// restarts it and opens it again.
class CBLT : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kReopenAttempts = 10;
    static constexpr int kReopenWaitMs = 899;

    explicit CBLT(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    // The pauses between re-opens (the program's event-pumping waiter by default); tests move a simulated clock.
    void SetWaiter(IWaiter* waiter);

signals:
    void Changed();

private:
    // Restarts the receiver and opens it again on a new shared handle; the error text, or empty on success.
    QString RestartReceiver();

    QLineEdit* m_name = nullptr;
    QLineEdit* m_pin = nullptr;
    IWaiter* m_waiter = nullptr;
};
