#pragma once

#include "config/ConfigPage.h"

class QComboBox;
class QLineEdit;

// The "GSM" page: the internal modem's mode and SIM PIN. Receivers whose model begins with "ARVEN" have the modem
// as modem b, all others as modem c.
class CGSM : public CConfigPage
{
    Q_OBJECT

public:
    static QString DefaultPin() { return QStringLiteral("4719"); }
    // "/par/modem/b/" or "/par/modem/c/" for a receiver model.
    static QString ModemPath(const QString& model);

    // `model`: the receiver model read at connection.
    explicit CGSM(const QString& model, QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

signals:
    void Changed();

private:
    // The PIN to send: the one typed or reported, never the default shown in an empty edit.
    bool HasPin() const;

    QString m_modePath;
    QString m_pinPath;
    QComboBox* m_mode = nullptr;
    QLineEdit* m_pin = nullptr;
    bool m_pinIsDefault = false;
};
