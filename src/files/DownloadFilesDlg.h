#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <cstdint>

class CFileManager;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class CReceiver;

// The "Download files" page: the receiver's files, a download run with progress and speed.
class CDownloadFilesDlg : public QWidget
{
public:
    explicit CDownloadFilesDlg(CFileManager& manager);

    QTreeWidget* List() const { return m_list; }
    void ShowPath(const QString& folder);
    // Download/Stop.
    void Download();
    void Refresh();
    void SortBy(int column);
    int SortColumn() const { return m_sortColumn; }
    int SortDirection() const { return m_direction; }
    QString EndText() const { return m_endText; }
    QString SpeedLabel() const;
    static QString BlockSizeKey() { return QStringLiteral("BlockSize"); }

private:
    enum class Destination { Go, Skip, CancelRun };

    void Run();
    // The local file for a receiver's file, asking before an existing one is replaced.
    Destination ChooseDestination(const QString& receiverName, const QString& targetName, QString* local,
                                  bool* replace);
    // Downloads one file and waits for the link's final notice (or a Stop the receiver never confirms).
    void DownloadOne(CReceiver* receiver, const QString& receiverName, QTreeWidgetItem* item, const QString& local,
                     bool replace);
    void OnNotice(const QByteArray& notice);
    void SetRunning(bool running);
    void OnItemChanged(QTreeWidgetItem* item, int column);

    CFileManager& m_fm;
    QTreeWidget* m_list;
    QPushButton* m_refresh;
    QPushButton* m_download;
    QPushButton* m_exit;
    QComboBox* m_blockSize;
    QProgressBar* m_progress;
    QLabel* m_percent;
    QLabel* m_speed;
    QLabel* m_path;
    QString m_endText;
    bool m_finished = false;
    bool m_received = false;
    int64_t m_total = 0;
    int m_sortColumn = 1;
    int m_direction = -1;
};
