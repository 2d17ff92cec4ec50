#pragma once

#include "config/ConfigPage.h"

#include <array>

class QTabWidget;

// The "Ports" page of the sheet: an inner tab strip of the eight port pages, queried, applied and written as one
// page.
class CPorts : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kPages = 8;
    static QStringList Captions();

    explicit CPorts(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    CConfigPage* InnerPage(int index) const { return m_pages[size_t(index)]; }
    int CurrentInner() const;
    void SelectInner(int index);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInnerChanged();

    QTabWidget* m_tabs = nullptr;
    std::array<CConfigPage*, kPages> m_pages{};
};
