#pragma once

#include <QString>
#include <QWidget>

class CFileManager;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The "Current log file" page: the receiver's own logging into its memory, and deleting its files.
class CCurrentLogFileDlg : public QWidget
{
public:
    explicit CCurrentLogFileDlg(CFileManager& manager);

    QTreeWidget* List() const { return m_list; }
    int SortColumn() const { return m_sortColumn; }
    int SortDirection() const { return m_direction; }
    // The poll's view of the receiver: logging into `name`, or not logging.
    void ShowLogging(bool logging, const QString& name);

    void StartOrStop();
    void Delete();
    void Refresh();
    void ActivateRow(int row);

    // The recording interval text last used in this run of the program.
    static QString& LastInterval();

private:
    void Start();
    void Stop();
    bool SendOrReport(const QString& command);

    CFileManager& m_fm;
    QTreeWidget* m_list;
    QLineEdit* m_name;
    QLineEdit* m_interval;
    QLineEdit* m_mask;
    QPushButton* m_refresh;
    QPushButton* m_startStop;
    QPushButton* m_delete;
    QPushButton* m_exit;
    QPushButton* m_site;
    bool m_logging = false;
    int m_sortColumn = 1;
    int m_direction = -1;
};
