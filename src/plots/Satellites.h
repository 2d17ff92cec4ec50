#pragma once

#include "plots/SatTable.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class CConnection;
class CReceiverHolder;
class CSkyPlot;
class ITickSource;
class QComboBox;
class QLabel;
class QTimer;

struct SatellitesContext
{
    CConnection* connection = nullptr;
    QString receiverName;
    CReceiverHolder* holder = nullptr;  // null: the program's shared holder
    const ITickSource* tick = nullptr;  // null: the system's tick count
};

// The satellites window: opens the receiver, subscribes to the satellite status of GPS and GLONASS (texts) and of
// Galileo and SBAS (per-satellite messages) and the epoch end on a channel of its own, and shows them as a sky
// plot with signal bars of the signal chosen below it (kept in the settings). A timer reports a receiver that
// has gone quiet. Closing it detaches before the window goes, so no callback reaches a destroyed window.
class CSatellites : public QDialog
{
    Q_OBJECT

public:
    // The channel of the messages the plot needs; each optional message gets the next channel of its own.
    static constexpr unsigned char kChannel = 7;
    static constexpr int kSilenceMs = 60000;
    static const QString kMessageSet;
    static const QStringList kOptionalMessages;
    // Where the choice of the bars' signal is kept.
    static const QString kSettingsSection;
    static const QString kSignalKey;

    explicit CSatellites(const SatellitesContext& context, QWidget* parent = nullptr);
    ~CSatellites() override;

    QString StatusText() const;
    CSkyPlot* Plot() const { return m_plot; }
    CSatModel& Model() { return *m_model; }
    QComboBox* SignalChoice() const { return m_signal; }
    bool Attached() const { return m_attached; }

    // One tick of the silence timer.
    void CheckSilence();
    // Stops the subscription (also done on close); safe to call twice.
    void Detach();

public slots:
    // An epoch ended: repaint (queued here from the link's thread).
    void Refresh();

protected:
    void done(int result) override;

private:
    void Open();
    void SetStatus(const QString& text);
    void ChooseSignal(int signal);

    SatellitesContext m_context;
    std::unique_ptr<ITickSource> m_ownTick;
    std::shared_ptr<CSatModel> m_model;
    CSkyPlot* m_plot = nullptr;
    QLabel* m_status = nullptr;
    QComboBox* m_signal = nullptr;
    QTimer* m_timer = nullptr;
    bool m_attached = false;
    std::vector<unsigned char> m_channels;  // attached, the optional ones included
};

void RunSatellites(const SatellitesContext& context, QWidget* parent = nullptr);
