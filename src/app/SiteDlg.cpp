#include "app/SiteDlg.h"

#include "link/Profile.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "ui/ElidedLabel.h"
#include "ui/FieldWidth.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSiteDlg::CSiteDlg(SiteInfo& site, CProfile* profile, CReceiverHolder* holder, QWidget* parent)
    : QDialog(parent), m_site(site), m_profile(profile), m_holder(holder)
{
    setObjectName(QStringLiteral("siteDialog"));
    setWindowTitle(QStringLiteral("Site Configuration"));

    m_name = new QLineEdit(site.name, this);
    m_name->setObjectName(QStringLiteral("siteName"));
    m_status = new QComboBox(this);
    m_status->setObjectName(QStringLiteral("antennaStatus"));
    m_status->addItems({QStringLiteral("Fixed"), QStringLiteral("Moving")});
    m_status->setCurrentIndex(site.moving ? 1 : 0);
    m_height = new QLineEdit(site.antennaHeight, this);
    m_height->setObjectName(QStringLiteral("antennaHeight"));
    FitFieldToText(m_height, QStringLiteral("-9999.9999"));
    m_slant = new QCheckBox(QStringLiteral("Slant"), this);
    m_slant->setObjectName(QStringLiteral("slant"));
    m_slant->setChecked(site.slant);
    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("antennaType"));
    m_type->addItems(AntennaTypes());
    // A type stored by another version or typed into the settings file stays what it is.
    if (m_type->findText(site.antennaType) < 0 && !site.antennaType.isEmpty()) {
        m_type->addItem(site.antennaType);
    }
    m_type->setCurrentIndex(std::max(0, m_type->findText(site.antennaType)));

    auto* heightRow = new QHBoxLayout;
    heightRow->addWidget(m_height, 1);
    heightRow->addWidget(m_slant);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Site Name:"), m_name);
    form->addRow(QStringLiteral("Antenna Status:"), m_status);
    auto* heightLabel = new QLabel(QStringLiteral("Antenna Height (m):"), this);
    heightLabel->setBuddy(m_height);
    form->addRow(heightLabel, heightRow);
    form->addRow(QStringLiteral("Antenna Type:"), m_type);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    m_send = new QPushButton(QStringLiteral("Send to receiver"), this);
    m_send->setObjectName(QStringLiteral("sendToReceiver"));
    m_send->setEnabled(holder && holder->HasReceiver() && holder->GetReceiver()->IsOpen());
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(m_send);
    buttons->addWidget(cancel);

    m_message = new CElidedLabel(this);
    m_message->setObjectName(QStringLiteral("message"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_message);

    connect(ok, &QPushButton::clicked, this, &CSiteDlg::OnOk);
    connect(m_send, &QPushButton::clicked, this, &CSiteDlg::OnSend);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    FitToScreen(this);
}

QString CSiteDlg::Message() const
{
    return m_message->text();
}

SiteInfo CSiteDlg::Fields() const
{
    SiteInfo info;
    info.name = m_name->text().trimmed();
    info.antennaHeight = m_height->text().trimmed();
    info.slant = m_slant->isChecked();
    info.moving = m_status->currentIndex() == 1;
    info.antennaType = m_type->currentText();
    return info;
}

bool CSiteDlg::Store()
{
    const SiteInfo info = Fields();
    SiteField field = SiteField::None;
    const QString invalid = CheckSiteInfo(info, &field);
    if (!invalid.isEmpty()) {
        m_message->setText(invalid);
        QWidget* focus = field == SiteField::Name            ? static_cast<QWidget*>(m_name)
                         : field == SiteField::AntennaHeight ? static_cast<QWidget*>(m_height)
                                                             : static_cast<QWidget*>(m_type);
        focus->setFocus();
        return false;
    }
    m_message->clear();
    m_site = info;
    if (m_profile) {
        const QString section = QStringLiteral("Site");
        m_profile->WriteString(section, QStringLiteral("AntennaType"), info.antennaType);
        m_profile->WriteString(section, QStringLiteral("SiteName"), info.name);
        m_profile->WriteString(section, QStringLiteral("AntenaHeight"), info.antennaHeight);
        m_profile->WriteBool(section, QStringLiteral("HeightType"), info.slant);
        m_profile->WriteBool(section, QStringLiteral("Status"), info.moving);
        m_profile->Sync();
    }
    return true;
}

void CSiteDlg::OnOk()
{
    if (Store()) {
        accept();
    }
}

void CSiteDlg::OnSend()
{
    if (!Store() || !m_holder) {
        return;
    }
    QString error;
    m_message->setText(SendSiteEvents(*m_holder, m_site, &error) ? QStringLiteral("Sent") : error);
}
