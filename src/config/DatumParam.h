#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Datum Parameters" dialog: shows one datum's ellipsoid and transformation as the receiver reports them, and
// lets the user edit and send the two datums the receiver takes from outside: "P90" (transformation only) and
// "USER" (ellipsoid and transformation). The result is the index of the chosen datum in the datum list, or -1.
class CDatumParam : public QDialog
{
    Q_OBJECT

public:
    explicit CDatumParam(const QString& code, QWidget* parent = nullptr);

    // Reads `code`'s parameters from the receiver and shows them.
    void Refresh(const QString& code);
    // Sends the edited parameters of "P90" or "USER"; true when nothing was refused.
    bool ApplyDatum();
    void Ok();
    void Cancel();

    int ResultIndex() const { return m_result; }
    QString Code() const { return m_code; }
    bool IsChanged() const { return m_changed; }

    static QString ErrorText(const QString& code)
    {
        return QStringLiteral("Can't set ") + code + " datum's parameters";
    }

private:
    void OnDatumChosen(int index);
    void SetChanged(bool changed);
    QString TransformValues() const;

    QString m_code;
    int m_result = -1;
    bool m_changed = false;
    bool m_loaded = false;  // the last refresh showed a complete datum record

    QComboBox* m_datum = nullptr;
    QLineEdit* m_ellipsoid = nullptr;
    QLineEdit* m_axis = nullptr;
    QLineEdit* m_invFlat = nullptr;
    QComboBox* m_reference = nullptr;
    std::array<QLineEdit*, 7> m_transform{};  // dX, dY, dZ, Rx, Ry, Rz, scale
    QPushButton* m_apply = nullptr;
    QLabel* m_status = nullptr;  // why the receiver could not be read
};
