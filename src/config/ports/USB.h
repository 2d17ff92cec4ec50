#pragma once

#include "config/ConfigPage.h"

class CPortGroup;

// The "USB" port page: input mode, output preset and period of the USB port, when the receiver has one.
class CUSB : public CConfigPage
{
    Q_OBJECT

public:
    explicit CUSB(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    CPortGroup* Group() const { return m_group; }

signals:
    void Changed();

private:
    CPortGroup* m_group = nullptr;
};
