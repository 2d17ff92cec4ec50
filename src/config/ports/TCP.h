#pragma once

#include "config/ConfigPage.h"

#include <array>

class CPortGroup;
class QLineEdit;

// The client addresses ("ip:port") of the receiver's TCP ports a to e in a network status reply; a port without a
// client gets an empty text.
std::array<QString, 5> TcpClientAddresses(const QString& status);

// The "TCP" port page: input mode, output preset and period of TCP ports A to E, and the address of the client
// connected to each.
class CTCP : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kPorts = 5;

    explicit CTCP(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    CPortGroup* Group(int i) const { return m_groups[size_t(i)]; }

signals:
    void Changed();

private:
    std::array<CPortGroup*, kPorts> m_groups{};
    std::array<QLineEdit*, kPorts> m_clients{};
    std::array<QString, kPorts> m_clientText;
};
