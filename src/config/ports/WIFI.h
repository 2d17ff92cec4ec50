#pragma once

#include "config/ConfigPage.h"

#include <array>

class QCheckBox;
class QLineEdit;

// A MAC address: six hexadecimal fields of one or two digits joined by colons.
bool IsMacAddress(const QString& text);
// The same address with two digits in every field, as the receiver takes it.
QString TwoDigitMac(const QString& text);
// A key the receiver takes: up to 26 hexadecimal digits.
bool IsWifiKey(const QString& text);

// The "WIFI" page: the wireless module's mode, address, gateway, mask, access point and keys, and the entry the
// controller keeps to reach the receiver over it.
class CWIFI : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kKeys = 4;
    static const QString kKeyMask;  // 26 asterisks: the placeholder of a key not typed since the page was read

    explicit CWIFI(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

signals:
    void Changed();

private:
    // A key the user typed since the page was read.
    bool IsTyped(int key) const;

    QCheckBox* m_mode = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_gateway = nullptr;
    QLineEdit* m_mask = nullptr;
    QLineEdit* m_accessPoint = nullptr;
    std::array<QLineEdit*, kKeys> m_keys{};
    std::array<bool, kKeys> m_typed{};
    QString m_tcpPort;
    QString m_passwd;
};
