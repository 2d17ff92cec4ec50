#pragma once

#include "link/SiteEvents.h"
#include "logging/LogEngine.h"
#include "logging/LogSelection.h"
#include "logging/RinexConversion.h"

#include <QDialog>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class CConnection;
class CDownloadPathDlg;
class CReceiver;
class CReceiverHolder;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;
class QTreeWidget;

// What the logging dialog needs of the program.
struct RealTimeLoggingContext
{
    CConnection* connection = nullptr;  // the dialog opens the holder's receiver on it
    CReceiverHolder* holder = nullptr;
    QString receiverName;
    SiteInfo site;               // sent as the site event batch when a recording starts
    RinexReceiverText receiver;  // the header file's "REC #" and "REC TYPE" for the RINEX conversions
};

// "Message": the type, the recording interval, the elevation mask and the messages of each type.
class CMessageRTL : public QWidget
{
public:
    explicit CMessageRTL(QWidget* parent = nullptr);
    // Fills the table from the four "list" reply values (KVS, CMR, NMEA, RTCM), the saved selections and the
    // catalogue text.
    void Fill(const std::array<QString, 4>& listValues, const std::array<QString, 4>& saved,
              const QByteArray& catalogue);
    void ShowType(int type);
    int Type() const;
    std::vector<LogMessageEntry>& Entries(int type) { return m_entries[size_t(type)]; }
    void SetAll(bool use);
    void SetListEnabled(bool on);
    // The receiver listed messages of this type: a type without rows keeps its saved selection.
    bool HasRows(int type) const;

    QComboBox* type;
    QLineEdit* interval;
    QLineEdit* elevation;
    QTreeWidget* list;
    QPushButton* allLock;
    QPushButton* allUse;

private:
    std::array<std::vector<LogMessageEntry>, 4> m_entries;
};

// "Log File": single or multiple files, their names and splitting.
class CMultipleFile : public QWidget
{
public:
    explicit CMultipleFile(QWidget* parent = nullptr);
    QRadioButton* single;
    QRadioButton* multiple;
    QLineEdit* saveTo;
    QLineEdit* prefix;
    QLineEdit* startCount;
    QLineEdit* every;
    QComboBox* unit;
    QComboBox* numbering;
    QCheckBox* overwrite;
    QCheckBox* convert;
    QPushButton* setupConvert;
};

// "Output path": the controller's folders.
class COutputPathRTL : public QWidget
{
public:
    COutputPathRTL(const QString& folder, QWidget* parent = nullptr);
    CDownloadPathDlg* tree;
};

// The real-time logging dialog: records the receiver's messages into files on the controller while the user
// watches. The engine writes on the link's thread; every link call (Attach, Detach, commands) is made here on
// the window's thread without the engine's lock, and a stop the engine decides (a write error) is posted here.
class CRealTimeLogging : public QDialog
{
public:
    CRealTimeLogging(const RealTimeLoggingContext& context, QWidget* parent = nullptr);
    ~CRealTimeLogging() override;

    void StartStop();
    void DefMsg();
    void Exit();
    bool Running() const { return m_running; }
    QString Status() const;
    QString Health() const;
    QString OutputFolder() const;
    CLogEngine& Engine() { return m_engine; }
    // Once a second: the progress and health lines, and a lost link stops the recording.
    void Tick();
    // "Setup convert": the converter settings, window-modal.
    void SetupConvert();
    // Conversions of finished files still running.
    int ConversionsRunning() const;

    CMessageRTL* messagePage;
    CMultipleFile* filePage;
    COutputPathRTL* pathPage;
    QPushButton* startButton;
    QPushButton* defButton;
    QPushButton* exitButton;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // The constructor's steps: the pages with the stored settings, the window around them, the engine's and the
    // timer's calls, then the receiver's message lists.
    void CreatePages();
    void CreateLayout();
    void ConnectEngine();
    void OpenReceiver();
    bool Start();
    // The recording's files as the file page sets them.
    LogOptions FileOptions(double seconds, bool defaults) const;
    // Asks before files are overwritten; false when the user declined.
    bool ConfirmOverwrite(const LogOptions& o) const;
    // Sends the output statements with the raw-output reader that feeds the engine; `why` says what failed.
    bool StartOutput(bool defaults, const QStringList& ids, const QString& period, QString* why);
    void StopLogging(const QString& message);
    void SetControlsEnabled(bool on);
    void AttachTimeOnly();
    void ConvertFinishedFile(const QString& path);

    RealTimeLoggingContext m_context;
    std::shared_ptr<CReceiver> m_receiver;
    CLogEngine m_engine;
    bool m_running = false;
    bool m_exited = false;
    int m_type = 0;
    QLabel* m_status;
    QLabel* m_progress;
    QLabel* m_health;
    QTabWidget* m_tabs;
    QTimer* m_timer;
    LogCounts m_lastCounts;
    std::array<QString, 4> m_savedSelections;  // as read at start
    std::shared_ptr<bool> m_alive;
    CRinexConversion* m_conversions = nullptr;  // handed to the application on Exit while conversions still run
};

// Opens the dialog modally.
void RunRealTimeLogging(const RealTimeLoggingContext& context, QWidget* parent);
