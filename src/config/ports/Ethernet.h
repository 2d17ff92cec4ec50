#pragma once

#include "config/ConfigPage.h"

#include <array>

class QLabel;
class QLineEdit;

// A dotted IPv4 address: exactly four fields of digits, each below 256, nothing else ("1.2.3.4.5" is none).
bool IsDottedQuad(const QString& text);

// The "Ethernet" page: the receiver's address, mask and gateway, its Telnet and FTP ports and time-outs, and the
// network password. They take effect after a receiver reset.
class CEthernet : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kEdits = 8;  // addr, mask, gw, passwd, tcp port, tcp timeout, ftp port, ftp timeout

    explicit CEthernet(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

signals:
    void Changed();

private:
    std::array<QLineEdit*, kEdits> m_edits{};
    std::array<QLabel*, kEdits> m_labels{};
    bool m_hasEthernet = false;
};
