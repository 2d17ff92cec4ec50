#pragma once

#include <QDialog>
#include <QString>

#include <array>

class CConnection;
class CReceiverHolder;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

struct FormatContext
{
    CConnection* connection = nullptr;
    QString receiverName;
    CReceiverHolder* holder = nullptr;
    QString version;  // "Created by Nemola-M <buildDate> <version>"
    QString buildDate;
    int stepMs = 500;  // between progress queries
};

// "Initializing Receiver File System": erases the receiver's file system after a last warning, follows the
// progress and shows the report of the file system, its memory and read/write statistics.
class CFormat : public QDialog
{
public:
    static constexpr int kReportSlots = 10;
    static constexpr int kMaxUnreadableProgress = 10;

    CFormat(const FormatContext& context, QWidget* parent = nullptr);

    void Start();
    void Cancel();
    // Writes the report with its header lines; false when no file was chosen or it could not be written.
    bool SaveToFile();

    QString WarningText() const;
    QString ProgressText() const;
    int ProgressValue() const;
    QString Report() const;

    // The report from the batch's ten reply values (null: the receiver did not answer that line).
    static QString BuildReport(const std::array<const QString*, kReportSlots>& values);

private:
    // The run ends without a result: `why` in the warning field.
    void EndRun(const QString& why);

    FormatContext m_context;
    QLabel* m_warning;
    QLabel* m_wait;
    QProgressBar* m_progress;
    QPushButton* m_start;
    QPushButton* m_cancel;
    QPushButton* m_save;
    QPlainTextEdit* m_report;
    QString m_reportText;  // with its CR LF line ends, as it is saved
    bool m_cancelled = false;
    bool m_started = false;  // a run was started: the next one is confirmed again
};

void RunFormat(const FormatContext& context, QWidget* parent);
