#pragma once

#include "config/tracking/Advanced.h"

#include <array>

class QLabel;
class QLineEdit;
class QRadioButton;
class QTimer;

// "Ext.Frequency": the frequency input or output and the oscillator offset reductor. After an apply it reads the
// input status, amplitude and output frequency once a second until six good readings came.
class CExternalFrequency : public CTrackingPage
{
    Q_OBJECT

public:
    static constexpr int kPollIntervalMs = 1000;
    static constexpr int kGoodReadings = 6;
    // Readings that lack a value are not counted; the poll gives up after this many attempts in all.
    static constexpr int kMaxPollAttempts = 20;

    explicit CExternalFrequency(const CAdvanced* advanced, QWidget* parent = nullptr);
    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;
    void Stop() override;

    // One reading of the poll (the timer's tick).
    void PollOnce();
    bool IsPolling() const;
    int GoodReadings() const { return m_counter; }

private:
    // Which inputs and labels work for the checked mode.
    void UpdateMode(bool byUser);
    QString ModeValue() const;
    void StopPoll();

    RadioList m_modes;                    // Off, Input, Output
    std::array<QLineEdit*, 4> m_edits{};  // input frequency, status, amplitude, output frequency
    std::array<QLabel*, 4> m_labels{};
    RadioList m_oscillator;  // Off, Freq. Locked, Freq. and Time Locked
    std::array<bool, 4> m_reported{};
    QTimer* m_timer = nullptr;
    int m_counter = 99;
    int m_attempts = 0;
};
