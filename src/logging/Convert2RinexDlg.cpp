#include "logging/Convert2RinexDlg.h"

#include "link/Profile.h"
#include "ui/Prompts.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CConvert2RINEX::CConvert2RINEX(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Convert2RinexDlg"));
    setWindowTitle(QStringLiteral("Converter to RINEX Setup"));
    CProfile* profile = CProfile::Instance();
    const RinexConverterSettings s = RinexConverterSettings::Load(*profile);
    CProfile::Release();
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    auto* appRow = new QHBoxLayout;
    m_application = new QLineEdit(s.application, this);
    m_application->setObjectName(QStringLiteral("application"));
    auto* browse = new QPushButton(QStringLiteral("Browse"), this);
    browse->setObjectName(QStringLiteral("browse"));
    connect(browse, &QPushButton::clicked, this, &CConvert2RINEX::Browse);
    appRow->addWidget(m_application, 1);
    appRow->addWidget(browse);
    form->addRow(QStringLiteral("Application:"), appRow);
    if (auto* label = qobject_cast<QLabel*>(form->labelForField(appRow))) {
        label->setBuddy(m_application);  // a row with a button has no buddy of its own
    }
    m_runBy = AddEdit(form, QStringLiteral("Run by:"), "runBy", s.runBy);
    m_observer = AddEdit(form, QStringLiteral("Observer:"), "observer", s.observer);
    m_agency = AddEdit(form, QStringLiteral("Agency:"), "agency", s.agency);
    m_antNumber = AddEdit(form, QStringLiteral("Antenna#:"), "antNumber", s.antNumber);
    m_antType = AddEdit(form, QStringLiteral("Antenna type:"), "antType", s.antType);
    m_comment = AddEdit(form, QStringLiteral("Comment:"), "comment", s.comment);
    m_markerName = AddEdit(form, QStringLiteral("Marker name:"), "markerName", s.markerName);
    m_markerNumber = AddEdit(form, QStringLiteral("Marker number:"), "markerNumber", s.markerNumber);
    m_noGps = AddCheck(layout, QStringLiteral("Exclude GPS"), "noGps", s.noGps);
    m_noGlonass = AddCheck(layout, QStringLiteral("Exclude GLONASS"), "noGlonass", s.noGlonass);
    m_noL1 = AddCheck(layout, QStringLiteral("Exclude L1"), "noL1", s.noL1);
    m_noL2 = AddCheck(layout, QStringLiteral("Exclude L2"), "noL2", s.noL2);
    m_deleteKvs = AddCheck(layout, QStringLiteral("Delete KVS files after conversion"), "deleteKvs", s.deleteKvs);
    auto* optionsForm = new QFormLayout;
    layout->addLayout(optionsForm);
    m_options = AddEdit(optionsForm, QStringLiteral("Additional options:"), "options", s.options);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CConvert2RINEX::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CConvert2RINEX::reject);
    layout->addWidget(buttons);
    FitToScreen(this);
}

QLineEdit* CConvert2RINEX::AddEdit(QFormLayout* form, const QString& label, const char* name, const QString& value)
{
    auto* edit = new QLineEdit(value, this);
    edit->setObjectName(QLatin1String(name));
    form->addRow(label, edit);
    return edit;
}

QCheckBox* CConvert2RINEX::AddCheck(QVBoxLayout* box, const QString& label, const char* name, bool value)
{
    auto* check = new QCheckBox(label, this);
    check->setObjectName(QLatin1String(name));
    check->setChecked(value);
    box->addWidget(check);
    return check;
}

void CConvert2RINEX::Browse()
{
    FileChooserOptions o;
    o.title = QStringLiteral("Find Converter to RINEX");
    o.folder = QFileInfo(m_application->text()).absolutePath();
#ifdef Q_OS_WIN
    o.filters = {QStringLiteral("Application files(*.exe)")};
#else
    // Programs here have no suffix: the chooser lists the files that may be run, whatever their names.
    o.filters = {QStringLiteral("Application files(*)")};
    o.executablesOnly = true;
#endif
    const FileChoice choice = Prompts().OpenFile(o);
    if (choice.Accepted()) {
        m_application->setText(choice.path);
    }
}

void CConvert2RINEX::accept()
{
    if (m_noGps->isChecked() && m_noGlonass->isChecked()) {
        Prompts().Message(QStringLiteral("At least one satellite system must be enabled!"),
                          QStringLiteral("RINEX Converter"), PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    // Without L1 and L2 there is no signal left to convert: every conversion would end without an observation.
    if (m_noL1->isChecked() && m_noL2->isChecked()) {
        Prompts().Message(QStringLiteral("At least one frequency must be enabled!"), QStringLiteral("RINEX Converter"),
                          PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    RinexConverterSettings s;
    s.application = m_application->text();
    s.runBy = m_runBy->text();
    s.observer = m_observer->text();
    s.agency = m_agency->text();
    s.antNumber = m_antNumber->text();
    s.antType = m_antType->text();
    s.comment = m_comment->text();
    s.markerName = m_markerName->text();
    s.markerNumber = m_markerNumber->text();
    s.noGps = m_noGps->isChecked();
    s.noGlonass = m_noGlonass->isChecked();
    s.noL1 = m_noL1->isChecked();
    s.noL2 = m_noL2->isChecked();
    s.deleteKvs = m_deleteKvs->isChecked();
    s.options = m_options->text();
    CProfile* profile = CProfile::Instance();
    s.Store(*profile);
    CProfile::Release();
    QDialog::accept();
}
