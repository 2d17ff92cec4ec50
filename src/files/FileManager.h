#pragma once

#include "link/FileListing.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CConnection;
class CCurrentLogFileDlg;
class CDownloadFilesDlg;
class CDownloadPathDlg;
class CReceiver;
class CReceiverHolder;
class QLabel;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// What the file manager needs of the program.
struct FileManagerContext
{
    CConnection* connection = nullptr;
    QString receiverName;
    CReceiverHolder* holder = nullptr;
    std::function<int64_t()> tick;                    // milliseconds
    std::function<void(QWidget* parent)> siteDialog;  // "Site parameters"
};

// The receiver file manager: "Download files", "Current log file" and "Download path" over one listing.
class CFileManager : public QDialog
{
public:
    static constexpr int kPollMs = 1000;
    static constexpr int kPollAfterDownloadMs = 10000;
    static constexpr int kListTimeout = 1250;  // 25 s in the link's 20 ms units
    enum Page { kDownloadPage = 0, kLogPage = 1, kPathPage = 2 };

    CFileManager(const FileManagerContext& context, QWidget* parent = nullptr);
    ~CFileManager() override;

    // Fills the page's list from the listing (asking the receiver when the listing is empty).
    void List(int page);
    void Poll();
    // Empties the listing, so that the next List asks the receiver again.
    void ForgetListing() { m_listing.clear(); }
    void SetStatus(const QString& text);
    QString Status() const;
    void SetDownloading(bool on) { m_downloading = on; }
    bool Downloading() const { return m_downloading; }
    bool Logging() const { return m_logging; }
    int FileCount() const { return m_fileCount; }
    QString CurrentName() const { return m_currentName; }
    QString OutputFolder() const;
    void StopPolling();
    void StartPolling(int intervalMs);
    int PollInterval() const;
    CReceiver* Receiver() const;
    CReceiverHolder& Holder() const { return *m_context.holder; }
    const FileManagerContext& Context() const { return m_context; }
    QTabWidget* Tabs() const { return m_tabs; }
    CDownloadFilesDlg* DownloadPage() const { return m_download; }
    CCurrentLogFileDlg* LogPage() const { return m_log; }
    CDownloadPathDlg* PathPage() const { return m_path; }
    // Ends the dialog unless a download runs.
    void Close();

    // Fills a list with the listing's records (shared by both list pages).
    void FillList(QTreeWidget* list, const QString& firstTitle);
    const std::vector<ReceiverFileRecord>& Records() const { return m_records; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void OnTabChanged(int index);
    void FitToScreen();

    FileManagerContext m_context;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_poll = nullptr;
    CDownloadFilesDlg* m_download = nullptr;
    CCurrentLogFileDlg* m_log = nullptr;
    CDownloadPathDlg* m_path = nullptr;
    QString m_outputFolder;
    QString m_listing;
    std::vector<ReceiverFileRecord> m_records;
    int m_fileCount = 0;
    bool m_listedOnce = false;
    bool m_closing = false;
    bool m_downloading = false;
    bool m_logging = false;
    int m_currentTab = kLogPage;
    QString m_currentName;
    QString m_currentSize;
};

// Runs the file manager modally.
void RunFileManager(const FileManagerContext& context, QWidget* parent);

// Column texts of a listed file and the list's comparison (column, direction -1 or 1).
enum FileColumn { kColTarget = 0, kColName = 1, kColSize = 2, kColDate = 3, kColTime = 4 };
int CompareFileItems(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column);
void SortFileList(QTreeWidget* list, int column, int direction);
// The rows Download and Delete act on: the ticked ones, or the highlighted ones when none is ticked.
QList<QTreeWidgetItem*> ChosenRows(const QTreeWidget* list);
// Widens each column of a file list to its title and texts (never below the handheld's widths).
void FitColumns(QTreeWidget* list);
