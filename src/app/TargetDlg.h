#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Degrees, minutes and seconds of one coordinate as the target dialog shows and reads them.
struct DmsText
{
    QString degrees;
    QString minutes;
    QString seconds;
    bool negative = false;  // "S" or "W"
};

// The fields of an angle in radians: whole degrees and minutes, seconds with five decimals.
DmsText SplitTargetAngle(double radians);
// Reads one coordinate into radians; `limit` is 90 for a latitude and 180 for a longitude. A value of exactly
// the limit is kept (the pole, the antimeridian); one beyond it, a negative or non-decimal field is refused.
bool ReadTargetAngle(const DmsText& text, double limit, double* radians);
// Latitude and longitude (radians) of a "PG" body; false when it holds no position (ReadPgPosition).
bool PositionFromPg(const QByteArray& pg, double* latRad, double* lonRad);

// "Target position": the point the main view measures east, north, distance and course to.
class CTargetDlg : public QDialog
{
    Q_OBJECT

public:
    // The last "PG" body the main view received (empty before one), read when "Get from receiver" is pressed.
    using LastPg = std::function<QByteArray()>;
    // Takes a new target (radians) into the application.
    using Apply = std::function<void(double latRad, double lonRad)>;

    CTargetDlg(double latRad, double lonRad, bool running, LastPg lastPg, Apply apply, QWidget* parent = nullptr);

    QString Message() const;

public slots:
    void OnOk();
    void OnGetFromReceiver();

private:
    void Fill(double latRad, double lonRad);

    LastPg m_lastPg;
    Apply m_apply;
    QLineEdit* m_fields[2][3] = {};
    QComboBox* m_hemisphere[2] = {};
    QLabel* m_message = nullptr;
};
