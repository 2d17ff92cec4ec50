#pragma once

#include "logging/RinexConversion.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;

// "Converter to RINEX Setup": the converter and the RINEX header fields, stored in the program's settings, profile
// section "KVS2RIN".
class CConvert2RINEX : public QDialog
{
    Q_OBJECT

public:
    explicit CConvert2RINEX(QWidget* parent = nullptr);

    void accept() override;
    void Browse();

private:
    QLineEdit* AddEdit(class QFormLayout* form, const QString& label, const char* name, const QString& value);
    QCheckBox* AddCheck(class QVBoxLayout* box, const QString& label, const char* name, bool value);

    QLineEdit *m_application, *m_runBy, *m_observer, *m_agency, *m_antNumber, *m_antType, *m_comment, *m_markerName,
        *m_markerNumber, *m_options;
    QCheckBox *m_noGps, *m_noGlonass, *m_noL1, *m_noL2, *m_deleteKvs;
};
