#pragma once

#include "manual/SetupCheck.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <thread>

class CConnection;
class CReceiverHolder;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// What the comparison dialog is started with.
struct SetupCompareContext
{
    CConnection* connection = nullptr;
    QString receiverName;
    CReceiverHolder* holder = nullptr;  // null: the program's shared holder
    QString scriptFolder;               // where the chooser starts
    bool ownOutputStopped = true;       // the program stopped its own port's messages before the tool ran
};

// "Compare setup with receiver": a setup script's parameters beside the receiver's, the differing ones ticked;
// the ticked ones applied with the script's own commands and read back. The receiver is talked to on a thread of
// the dialog's own, so that progress shows and "Stop" works while a command waits.
class CSetupCompareDlg : public QDialog
{
    Q_OBJECT

public:
    enum Column { kParameter, kSetup, kReceiver, kState, kColumns };

    explicit CSetupCompareDlg(SetupCompareContext context, QWidget* parent = nullptr);
    ~CSetupCompareDlg() override;

    // Opens the receiver; false with the status line saying why.
    bool Open();
    // Asks for a setup script and compares it.
    void ChooseScript();
    void Compare(const QString& scriptPath);
    void ApplySelected();
    void Stop();
    void SaveReport();

    bool IsBusy() const { return m_worker.joinable(); }
    const SetupComparison& Comparison() const { return m_comparison; }
    QTreeWidget* Table() const { return m_table; }
    QString StatusText() const;

    void reject() override;

signals:
    // A comparison or an apply ended (also by a stop or a failure).
    void WorkFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void Start(const QString& step, std::function<void(CSetupCheck&, SetupComparison&)> work);
    void Finish(SetupComparison result);
    void ShowProgress(const QString& step, int done, int total);
    void ShowRows();
    void OnItemChanged(QTreeWidgetItem* item);
    void UpdateButtons();
    void FitToScreen();
    void KeepFrameOnScreen();
    CReceiverHolder& Holder() const;

    SetupCompareContext m_context;
    SetupComparison m_comparison;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    bool m_opened = false;

    QLineEdit* m_script = nullptr;
    QTreeWidget* m_table = nullptr;
    QCheckBox* m_onlyDifferences = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_choose = nullptr;
    QPushButton* m_compare = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_close = nullptr;
};

// The "Compare setup with receiver..." command: runs the dialog modally.
void RunSetupCompare(const SetupCompareContext& context, QWidget* parent);
