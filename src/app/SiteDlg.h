#pragma once

#include "link/SiteEvents.h"

#include <QDialog>

class CProfile;
class CReceiverHolder;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Site Configuration": the site name, antenna status, height and type. "OK" and "Send to receiver" both check
// and store the values (the given site and the "Site" section of the settings); "Send to receiver" then sends
// them to the receiver as event texts.
class CSiteDlg : public QDialog
{
    Q_OBJECT

public:
    // `holder` null or without an open receiver leaves "Send to receiver" disabled; `profile` may be null.
    CSiteDlg(SiteInfo& site, CProfile* profile, CReceiverHolder* holder, QWidget* parent = nullptr);

    QString Message() const;
    // Checks the fields; on success keeps them in the site and the settings. False with the message shown.
    bool Store();

public slots:
    void OnOk();
    void OnSend();

private:
    SiteInfo Fields() const;

    SiteInfo& m_site;
    CProfile* m_profile;
    CReceiverHolder* m_holder;
    QLineEdit* m_name = nullptr;
    QComboBox* m_status = nullptr;
    QLineEdit* m_height = nullptr;
    QCheckBox* m_slant = nullptr;
    QComboBox* m_type = nullptr;
    QPushButton* m_send = nullptr;
    QLabel* m_message = nullptr;
};
