#pragma once

#include "config/tracking/Advanced.h"

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimer;

// "Anti-Interference": anti-jamming mode and bands.
class CAntiInterference : public CTrackingPage
{
    Q_OBJECT

public:
    explicit CAntiInterference(const CAdvanced* advanced, QWidget* parent = nullptr);
    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

private:
    QCheckBox* m_mode = nullptr;
    CheckList m_bands;  // GPS L1, GPS L2, GPS L5, GLONASS L1, GLONASS L2
};

// "Multipath Reduction": code and carrier multipath reduction.
class CMultipath : public CTrackingPage
{
    Q_OBJECT

public:
    explicit CMultipath(const CAdvanced* advanced, QWidget* parent = nullptr);
    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

private:
    QCheckBox* m_code = nullptr;
    QCheckBox* m_carrier = nullptr;
};

// "Loop Mng.": PLL bandwidth and order, the C/A code guided loop, adaptive loops and P-code tracking.
class CLoopManagement : public CTrackingPage
{
    Q_OBJECT

public:
    explicit CLoopManagement(const CAdvanced* advanced, QWidget* parent = nullptr);
    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;

private:
    std::array<QLineEdit*, 3> m_edits{};  // PLL bandwidth, PLL order, guided-loop bandwidth
    std::array<QLabel*, 3> m_labels{};
    QCheckBox* m_adaptive = nullptr;
    QCheckBox* m_pcode = nullptr;
};

// "Raw Data Management": raw and position update rates, smoothing intervals.
class CRawData : public CTrackingPage
{
    Q_OBJECT

public:
    explicit CRawData(const CAdvanced* advanced, QWidget* parent = nullptr);
    QString ApplySettings() override;
    void QuerySettings() override;
    void WriteScript() override;
    // The two update rates alone: a setup script sets them before the periods they limit.
    void WriteUpdateRates();

private:
    // raw rate, current raw rate, position rate, current position rate, code, Doppler, nominal and minimum iono
    std::array<QLineEdit*, 8> m_edits{};
    std::array<QLabel*, 8> m_labels{};
};
