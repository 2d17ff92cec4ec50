#pragma once

#include "config/ConfigPage.h"
#include "config/Toolkit.h"

#include <array>

class CParamBatch;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Event" page: the two pulse-per-second outputs (period, offsets, edge, reference time, marked pulses,
// tying) and the two event-marker inputs (edge, reference time, tying, clock synchronisation with a button that
// repeats it and shows its status).
class CEVent : public CConfigPage
{
    Q_OBJECT

public:
    explicit CEVent(QWidget* parent = nullptr);

    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

    // "Repeat Synchronization" of event input 0 (A) or 1 (B).
    void RepeatSynchronization(int input);

    static QStringList EdgeValues() { return {"rise", "fall"}; }
    static QStringList TimeValues() { return {"gps", "glo", "utcusno", "utcsu"}; }

private:
    struct Pps
    {
        char letter = 'A';
        QCheckBox* enabled = nullptr;
        std::array<QLineEdit*, 4> edits{};  // per/ms, offs/ms, offs/ns, mper
        std::array<QLabel*, 4> labels{};
        RadioList edge;
        RadioList time;
        QCheckBox* tied = nullptr;
        std::array<bool, 4> editReported{};
        bool edgeReported = false;
        bool timeReported = false;
        bool tiedReported = false;
    };
    struct Event
    {
        char letter = 'A';
        QCheckBox* enabled = nullptr;
        RadioList edge;
        RadioList time;
        QCheckBox* lock = nullptr;
        QLineEdit* status = nullptr;
        QLabel* statusLabel = nullptr;
        QPushButton* repeat = nullptr;
        QCheckBox* tied = nullptr;
        bool lockReported = false;
        bool statusReported = false;
        bool edgeReported = false;
        bool timeReported = false;
        bool tiedReported = false;
    };

    void BuildControls();
    QWidget* BuildPps(Pps& pps, QWidget* parent);
    QWidget* BuildEvent(Event& event, int index, QWidget* parent);
    void LoadPps(Pps& pps, const CParamBatch& batch, int first);
    void LoadEvent(Event& event, const CParamBatch& batch, int first);
    // The dependent controls follow the "Enabled" box, each only when the receiver reported its parameter.
    void UpdatePps(Pps& pps, bool byUser);
    void UpdateEvent(Event& event, bool byUser);
    // "Repeat Synchronization" works only while "Clock Synchronization" is checked and enabled.
    void UpdateRepeat(Event& event, bool byUser);
    QString ApplyPps(Pps& pps);
    QString ApplyEvent(Event& event);
    void WritePps(Pps& pps);
    void WriteEvent(Event& event);

    std::array<Pps, 2> m_pps;
    std::array<Event, 2> m_events;
};
