#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <array>

class CAdvanced;
class CParamBatch;
class QTabWidget;

// A sub-page of the "Advanced" page. It loads its controls from the replies of the Advanced page's one query.
class CTrackingPage : public CConfigPage
{
    Q_OBJECT

public:
    explicit CTrackingPage(const CAdvanced* advanced, QWidget* parent = nullptr)
        : CConfigPage(parent), m_advanced(advanced)
    {
    }
    // The sheet is closing (OK or Exit): stop whatever runs on its own.
    virtual void Stop() {}

signals:
    void Edited();

protected:
    // A user edit on this sub-page: it and the Advanced page become changed.
    void Mark()
    {
        MarkChanged();
        emit Edited();
    }
    // Reply slot `i` of the Advanced page's query, or null.
    const QString* Reply(int i) const;

private:
    const CAdvanced* m_advanced;
};

// The "Advanced" page: five sub-pages of tracking parameters read with one shared query.
class CAdvanced : public CConfigPage
{
    Q_OBJECT

public:
    static constexpr int kSubPageCount = 5;

    explicit CAdvanced(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;
    void WriteLeadingScript() override;
    void SheetClosing() override;

    CTrackingPage* SubPage(int index) const { return m_pages[size_t(index)]; }
    int ShownSubPage() const;
    void ShowSubPage(int index);
    // The replies of the running query (null outside it).
    const CParamBatch* Replies() const { return m_replies; }

private:
    void OnInnerTabChanged(int index);

    QTabWidget* m_tabs = nullptr;
    std::array<CTrackingPage*, kSubPageCount> m_pages{};
    const CParamBatch* m_replies = nullptr;
};
